#include "tests/support/FakeClock.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

namespace testing_support {
namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// Clocks alive now: a thread that ends after its clock is gone forgets nothing.
std::mutex live_mutex;
std::set<FakeClock*> live_clocks;

// Forgets the thread in the clock it took part in when the thread ends.
struct Membership {
  FakeClock* clock = nullptr;
  ~Membership() {
    std::lock_guard lock(live_mutex);
    if (clock && live_clocks.count(clock)) clock->Forget(std::this_thread::get_id());
  }
};
thread_local Membership membership;

long ThreadId() { return syscall(SYS_gettid); }

// True when no thread of this process but the caller and `ignored` (waiting
// on the clock, though they look in now and then) is running or ready to run:
// whoever is not waiting on the clock is then blocked on something else.
bool OtherThreadsAsleep(const std::set<long>& ignored) {
  const long self = ThreadId();
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return true;
  bool asleep = true;
  while (const dirent* entry = readdir(tasks)) {
    const long tid = std::atol(entry->d_name);
    if (tid <= 0 || tid == self || ignored.count(tid)) continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%ld/stat", tid);
    std::FILE* f = std::fopen(path, "r");
    if (!f) continue;  // ended meanwhile
    char line[512] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    // "tid (name) S ...": the state follows the last ')'.
    const char* close = std::strrchr(line, ')');
    if (n > 0 && close && close[1] == ' ' && close[2] == 'R') {
      asleep = false;
      break;
    }
  }
  closedir(tasks);
  return asleep;
}

}  // namespace

FakeClock::FakeClock() {
  {
    std::lock_guard lock(live_mutex);
    live_clocks.insert(this);
  }
  advancer_ = std::thread([this] { AdvanceLoop(); });
}

FakeClock::~FakeClock() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  advancer_.join();
  std::lock_guard lock(live_mutex);
  live_clocks.erase(this);
}

uint32_t FakeClock::TickCount() {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(now_);
}

uint64_t FakeClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

uint64_t FakeClock::GraceAdvances() const {
  std::lock_guard lock(mutex_);
  return grace_advances_;
}

void FakeClock::Participate() {
  std::lock_guard lock(mutex_);
  Self();
  Changed();
}

void FakeClock::Forget(std::thread::id thread) {
  std::lock_guard lock(mutex_);
  participants_.erase(thread);
  Changed();
}

FakeClock::Participant& FakeClock::Self() {
  membership.clock = this;
  Participant& me = participants_[std::this_thread::get_id()];
  if (me.tid == 0) me.tid = ThreadId();
  return me;
}

void FakeClock::Changed() {
  ++changes_;
  cv_.notify_all();
}

void FakeClock::SleepMs(uint32_t ms) {
  std::unique_lock lock(mutex_);
  Participant& me = Self();
  me.waiting = true;
  me.event = nullptr;
  me.deadline = now_ + ms;
  Changed();
  cv_.wait(lock, [&] { return now_ >= me.deadline || quit_; });
  me.waiting = false;
  Changed();
}

bool FakeClock::WaitFor(platform::Event& event, int timeout_ms) {
  std::unique_lock lock(mutex_);
  Participant& me = Self();
  const uint64_t deadline = timeout_ms < 0 ? kNever : now_ + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    // Marked as running before the event is taken: the advancer never sees
    // a waiter whose event has been consumed but who still looks asleep.
    if (event.IsSet()) {
      me.waiting = false;
      Changed();
      lock.unlock();
      if (event.Wait(0)) return true;
      lock.lock();  // another waiter took it
    }
    if (now_ >= deadline || quit_) {
      me.waiting = false;
      Changed();
      return false;
    }
    if (!me.waiting) {
      me.waiting = true;
      me.event = &event;
      me.deadline = deadline;
      Changed();
    }
    // Events do not tell this clock when they are set: look again shortly.
    cv_.wait_for(lock, std::chrono::microseconds(500));
  }
}

void FakeClock::AdvanceLoop() {
  using std::chrono::milliseconds;
  std::unique_lock lock(mutex_);
  uint64_t seen_changes = changes_;
  auto last_change = std::chrono::steady_clock::now();
  int quiet_looks = 0;
  while (!quit_) {
    cv_.wait_for(lock, std::chrono::microseconds(500));
    const auto real_now = std::chrono::steady_clock::now();
    if (changes_ != seen_changes) {
      seen_changes = changes_;
      last_change = real_now;
      quiet_looks = 0;
    }
    bool all_waiting = true;
    uint64_t earliest = kNever;
    std::set<long> waiting;
    for (const auto& [id, p] : participants_) {
      const bool asleep = p.waiting && !(p.event && p.event->IsSet());
      if (asleep) {
        earliest = std::min(earliest, p.deadline);
        waiting.insert(p.tid);
      } else {
        all_waiting = false;
      }
    }
    if (earliest == kNever || earliest <= now_) continue;
    if (!all_waiting) {
      // Someone is not waiting on the clock. Working (running or ready to
      // run) holds time; blocked elsewhere lets it go on, once that has been
      // seen a few times in a row. A thread busy for seconds without any
      // progress would hang the test: time goes on then too.
      const auto still = real_now - last_change;
      if (still < milliseconds(5)) continue;
      lock.unlock();  // threads on their way into a wait must not look blocked on us
      const bool asleep = OtherThreadsAsleep(waiting);
      lock.lock();
      if (changes_ != seen_changes) continue;
      quiet_looks = asleep ? quiet_looks + 1 : 0;
      if (quiet_looks < 3 && still < milliseconds(3000)) continue;
      ++grace_advances_;
    }
    quiet_looks = 0;
    now_ = earliest;
    Changed();
    seen_changes = changes_;
    last_change = real_now;
  }
}

}  // namespace testing_support

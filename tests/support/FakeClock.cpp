#include "tests/support/FakeClock.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <set>
#include <string>

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

void FakeClock::EnterBlocking() {
  std::lock_guard lock(mutex_);
  const auto it = participants_.find(std::this_thread::get_id());
  if (it == participants_.end()) return;
  ++it->second.blocked;
  Changed();
}

void FakeClock::LeaveBlocking() {
  std::lock_guard lock(mutex_);
  const auto it = participants_.find(std::this_thread::get_id());
  if (it == participants_.end() || it->second.blocked == 0) return;
  --it->second.blocked;
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
  me.events = {};
  me.deadline = now_ + ms;
  Changed();
  cv_.wait(lock, [&] { return now_ >= me.deadline || quit_; });
  me.waiting = false;
  Changed();
}

bool FakeClock::WaitFor(platform::Event& event, int timeout_ms) {
  platform::Event* one = &event;
  return WaitForAny(std::span<platform::Event* const>(&one, 1), timeout_ms) == 0;
}

int FakeClock::WaitForAny(std::span<platform::Event* const> events, int timeout_ms) {
  auto any_set = [&] {
    for (platform::Event* e : events) {
      if (e->IsSet()) return true;
    }
    return false;
  };
  std::unique_lock lock(mutex_);
  Participant& me = Self();
  const uint64_t deadline = timeout_ms < 0 ? kNever : now_ + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    // Marked as running before the event is taken: the advancer never sees
    // a waiter whose event has been consumed but who still looks asleep.
    if (any_set()) {
      me.waiting = false;
      Changed();
      lock.unlock();
      const int hit = platform::Event::WaitAny(events, 0);
      if (hit != platform::kWaitTimeout) return hit;
      lock.lock();  // another waiter took it
    }
    if (now_ >= deadline || quit_) {
      me.waiting = false;
      Changed();
      return platform::kWaitTimeout;
    }
    if (!me.waiting) {
      me.waiting = true;
      me.events = events;
      me.deadline = deadline;
      Changed();
    }
    // Events do not tell this clock when they are set: look again shortly.
    cv_.wait_for(lock, std::chrono::microseconds(500));
  }
}

void FakeClock::AdvanceLoop() {
  std::unique_lock lock(mutex_);
  uint64_t seen_changes = changes_;
  auto last_change = std::chrono::steady_clock::now();
  bool reported = false;
  while (!quit_) {
    // Events do not tell this clock when they are set: look again shortly.
    cv_.wait_for(lock, std::chrono::microseconds(500));
    const auto real_now = std::chrono::steady_clock::now();
    if (changes_ != seen_changes) {
      seen_changes = changes_;
      last_change = real_now;
      reported = false;
    }
    // Time moves only when every participant waits: on the clock with its
    // event still unset, or in a wait it announced. A woken sleeper still
    // marked as waiting has its deadline behind the clock and holds it too.
    bool all_asleep = true;
    uint64_t earliest = kNever;
    for (const auto& [id, p] : participants_) {
      if (p.waiting) {
        for (platform::Event* e : p.events) {
          if (e->IsSet()) all_asleep = false;
        }
        earliest = std::min(earliest, p.deadline);
      } else if (p.blocked == 0) {
        all_asleep = false;
      }
    }
    if (all_asleep && earliest != kNever && earliest > now_) {
      now_ = earliest;
      Changed();
      seen_changes = changes_;
      last_change = real_now;
      continue;
    }
    if (!reported && !participants_.empty() && real_now - last_change >= kStallReport) {
      ReportStall();
      reported = true;
    }
  }
}

void FakeClock::ReportStall() {
  std::string working, waiting;
  for (const auto& [id, p] : participants_) {
    std::string& list = p.waiting || p.blocked ? waiting : working;
    list += " " + std::to_string(p.tid);
  }
  std::fprintf(stderr,
               "fake clock: no change for %lld s at %llu ms; working (or in a wait not announced with "
               "platform::BlockingCall):%s; waiting:%s\n",
               static_cast<long long>(kStallReport.count()), static_cast<unsigned long long>(now_),
               working.empty() ? " none" : working.c_str(), waiting.empty() ? " none" : waiting.c_str());
}

}  // namespace testing_support

#include "engine/ACPlayClock.h"

#include <algorithm>
#include <cstdio>

#include "engine/EngineGlobals.h"

namespace engine {
namespace {

bool IsMarker(int64_t time) { return time == -1 || time == -2 || time == -3; }

int ValidSpeed(int speed) {
  switch (speed) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 128: case 256: return speed;
    default: return 16;
  }
}

}  // namespace

// What the clock thread works on; the thread keeps it alive, so a thread that
// does not stop in time never runs on freed memory.
struct ACPlayClock::Core {
  Core(platform::MessageSink* o, platform::Sleeper* s, platform::TimeSource* t)
      : owner(o), sleeper(s ? s : &own_sleeper), time(t ? t : &system_time) {
    using Mode = platform::Event::Mode;
    for (int i = 0; i < 7; ++i)
      states[static_cast<size_t>(i)] =
          std::make_unique<platform::Event>(i <= kStateSecondPlay ? Mode::ManualReset : Mode::AutoReset);
  }
  void RunPass(int wait_ms);
  void Report(const DtsEntry& entry, int64_t time);
  void Pace(int64_t ms);
  void PaceOnSchedule(int64_t ms);
  void ThreadBody(const platform::StopToken& stop);

  platform::MessageSink* owner;
  platform::MsSleeper own_sleeper;
  platform::Sleeper* sleeper;
  platform::SystemTimeSource system_time;
  platform::TimeSource* time;
  std::atomic<ClockTarget*> filter{nullptr};
  std::atomic<AudioClock*> audio{nullptr};
  std::array<std::unique_ptr<platform::Event>, 7> states;
  ACDTSList list;
  std::atomic<int> stored_speed{16};
  platform::Event stop_wake{platform::Event::Mode::ManualReset};
  platform::Event dts_added{platform::Event::Mode::AutoReset};
  platform::Event state_changed{platform::Event::Mode::AutoReset};
  platform::Event thread_started{platform::Event::Mode::AutoReset};  // the thread announced itself

  // Owned by the clock thread (or the test driving RunPass); base is read by tests.
  int speed = 16;
  std::atomic<Base> base{Base::kNone};
  int64_t last_time = 0;  // the base's time stamp when base is kSet
  int last_step = 0;
  int64_t last_posted_second = -1;
  bool step = false;
  bool second_play = false;
  // When the last wait of continuous play was due to end: the work between
  // two waits (showing, reporting, being scheduled) is taken from the next
  // wait instead of adding up (at 12 channels it was 3 % of the time).
  bool on_schedule = false;
  uint32_t due = 0;
};

ACPlayClock::ACPlayClock(platform::MessageSink* owner, platform::Sleeper* sleeper, platform::TimeSource* time)
    : core_(std::make_shared<Core>(owner, sleeper, time)) {}

ACPlayClock::~ACPlayClock() {
  if (!Stop()) thread_.Stop(0);  // left running on the state it keeps alive
}

void ACPlayClock::Attach(ClockTarget* filter, AudioClock* audio) {
  core_->filter.store(filter);
  core_->audio.store(audio);
}

ACPlayClock::Base ACPlayClock::base() const { return core_->base.load(); }
void ACPlayClock::SetSpeed(int speed) { core_->stored_speed.store(speed); }
void ACPlayClock::RunPass(int wait_ms) { core_->RunPass(wait_ms); }

bool ACPlayClock::Start(ClockTarget* filter, AudioClock* audio) {
  if (!filter) return false;
  if (thread_.Running()) {
    if (core_->filter.load() == filter) return true;
    // One that is still stopping (it ends on its own: its stop is requested).
    if (!thread_.Join(kStopWaitMs)) {
      std::fprintf(stderr, "dravik: the playback clock has not stopped yet; not started again\n");
      return false;
    }
  }
  thread_.Join(platform::kInfinite);  // one that ended: returns at once
  Attach(filter, audio);
  core_->stop_wake.Reset();
  core_->thread_started.Reset();
  if (!thread_.Start([core = core_](const platform::StopToken& stop) { core->ThreadBody(stop); })) return false;
  // Returns once the thread has announced itself to the sleeper: a fake clock
  // that does not know it yet would let time run on without it meanwhile (the
  // play threads' waits end, the pictures' times go by unplayed). The caller
  // holds time while it waits here, as it works.
  if (!core_->thread_started.Wait(kStartWaitMs))
    std::fprintf(stderr, "dravik: the playback clock did not come up within %d ms\n", kStartWaitMs);
  return true;
}

void ACPlayClock::Core::ThreadBody(const platform::StopToken& stop) {
  if (sleeper == &own_sleeper) own_sleeper.Start();
  sleeper->SleepMs(0);  // announces the thread to the sleeper (a fake clock counts it)
  thread_started.Set();
  while (!stop.StopRequested()) RunPass(platform::kInfinite);
  if (sleeper == &own_sleeper) own_sleeper.Stop();
}

bool ACPlayClock::Stop() {
  // The thread may be in a pacing wait (up to ten seconds at 1/16x) or
  // waiting for a state: wake it.
  thread_.RequestStop();
  core_->stop_wake.Set();
  // Through the sleeper: its sleep between time stamps may still have to end.
  if (thread_.Join(kStopWaitMs, *core_->sleeper)) return true;
  std::fprintf(stderr, "dravik: the playback clock did not stop within %d ms\n", kStopWaitMs);
  return false;
}

int ACPlayClock::AddDTS(int64_t time, int64_t position, uint32_t backward) {
  int r;
  {
    ObjectLock lock(core_->list);
    if (!AnySourceActive()) return 1;  // in flight after a stop: dropped
    r = core_->list.Insert(time, position, backward) ? 1 : 0;
  }
  if (r) core_->dts_added.Set();
  return r;
}

void ACPlayClock::SetState(int state) {
  for (int i = kStatePlay; i <= kStateSecondPlay; ++i) core_->states[static_cast<size_t>(i)]->Reset();
  if (state >= 0 && state <= kStateHalt) core_->states[static_cast<size_t>(state)]->Set();
  core_->state_changed.Set();
}

void ACPlayClock::Clear() {
  ObjectLock lock(core_->list);
  core_->list.Clear();
}

void ACPlayClock::Core::RunPass(int wait_ms) {
  ClockTarget* target = filter.load();
  AudioClock* sound = audio.load();
  if (!target) return;
  // The seven states, and the stop (its index 7 ends the pass).
  platform::Event* events[8];
  for (size_t i = 0; i < 7; ++i) events[i] = states[i].get();
  events[7] = &stop_wake;
  const int state = sleeper->WaitForAny(events, wait_ms);
  if (state == platform::kWaitTimeout || state == 7) return;
  if (state > kStateResume) on_schedule = false;

  auto resume = [&] {
    if (sound) sound->Resume();
    target->PushFrame(0);
  };
  switch (state) {
    case kStatePlay:
      speed = stored_speed.load();
      resume();
      target->OneFrame(0);
      step = second_play = false;
      if (base.load() == Base::kHalted) base.store(Base::kNone);
      break;
    case kStateResume:
      speed = stored_speed.load();
      resume();
      target->OneFrame(0);
      step = second_play = false;
      break;
    case kStateSecondPlay:
      // The event stays signalled: the clock restarts only when second play begins.
      if (!second_play) base.store(Base::kNone);
      second_play = true;
      step = false;
      speed = 16;
      resume();
      target->OneFrame(0);
      break;
    case kStateStep:
      step = true;
      second_play = false;
      speed = 16;
      resume();
      target->OneFrame(1);
      break;
    case kStatePause:
      if (sound) sound->Pause();
      target->PushFrame(1);
      target->OneFrame(0);
      return;  // no time stamp is taken
    case kStateRestart:
      base.store(Base::kNone);
      states[kStatePlay]->Set();
      speed = 16;
      step = second_play = false;
      resume();
      target->OneFrame(0);
      break;
    case kStateHalt:
      base.store(Base::kHalted);
      speed = 16;
      step = second_play = false;
      resume();
      target->OneFrame(0);
      break;
    default: return;
  }

  DtsEntry entry;
  bool taken;
  {
    ObjectLock lock(list);
    taken = list.TakeHead(entry);
  }
  if (!taken) {
    // Nothing to hand out: wait for a time stamp, a new state or the stop.
    platform::Event* wake[] = {&dts_added, &state_changed, &stop_wake};
    sleeper->WaitForAny(wake, 100);
    return;
  }
  const Base was = base.load();
  int64_t time = was == Base::kHalted ? 0 : entry.time;
  if (IsMarker(entry.time)) on_schedule = false;
  if (entry.time == -1 || entry.time == -2) {
    time = entry.time;
    base.store(Base::kNone);
  } else if (entry.time == -3) {
    time = -3;  // the end: reported below
  } else if (step) {
    // At least kStepMs from the base, but never past a marker: it is handed
    // out by the next pass on its own. The first step from no base (or from
    // a halt) is the entry itself.
    if (was == Base::kSet) {
      for (int more = 0; more < 10 && std::max<int64_t>(0, time - last_time) < kStepMs; ++more) {
        ObjectLock lock(list);
        DtsEntry next;
        if (!list.PeekHead(next) || IsMarker(next.time)) break;
        list.TakeHead(entry);
        time = entry.time;
      }
    } else {
      time = entry.time;
    }
    last_time = time;
    base.store(Base::kSet);
  } else if (second_play) {
    if (was != Base::kSet) last_time = time;
    const int64_t wait = 40 * (std::max<int64_t>(0, time - last_time) / 1000);
    last_time = std::max(last_time, time);
    base.store(Base::kSet);
    Pace(wait);
    last_step = static_cast<int>(wait);
  } else if (was != Base::kHalted) {
    speed = ValidSpeed(speed);
    if (was == Base::kNone) {
      last_time = time;  // the first picture is not waited for
      base.store(Base::kSet);
    }
    const int64_t delta = std::max<int64_t>(0, time - last_time);
    int64_t wait = std::min<int64_t>(delta, kMaxWaitMs);
    bool skip = false;
    bool by_sound = false;
    if (sound) {
      sound->SetSpeed(speed);
      const int64_t heard = sound->Position();
      if (heard != 0) {
        by_sound = true;
        if (heard >= time) skip = true;
        wait = std::min<int64_t>(time - heard, kMaxWaitMs);
      }
    }
    if (!skip && wait > kMinWaitMs) {
      const int pace = static_cast<int>((wait * 16 - 1 + speed) / speed);
      if (by_sound) {
        on_schedule = false;  // the sound's position is the schedule
        Pace(pace);
      } else {
        PaceOnSchedule(pace);
      }
      last_step = pace;
      last_time = std::max(last_time, time);
    }
  }
  target->CurDTS(time, last_step, speed, entry.backward != 0);
  Report(entry, time);
}

void ACPlayClock::Core::Pace(int64_t ms) {
  if (ms > 0) sleeper->WaitFor(stop_wake, static_cast<int>(ms));  // cut short by Stop
}

void ACPlayClock::Core::PaceOnSchedule(int64_t ms) {
  const uint32_t now = time->TickCount();
  const int64_t late = static_cast<int32_t>(now - due);
  // Within a few milliseconds of the schedule: keep to it. Early, or later
  // than a short gap (a pause, a reader that had nothing): start afresh
  // rather than rush to catch up.
  if (on_schedule && late >= 0 && late <= kMinWaitMs) {
    due += static_cast<uint32_t>(ms);
    Pace(ms - late);
  } else {
    due = now + static_cast<uint32_t>(ms);
    Pace(ms);
  }
  on_schedule = true;
}

void ACPlayClock::Core::Report(const DtsEntry& entry, int64_t time) {
  if (!owner) return;
  const auto position = static_cast<platform::MsgParam>(static_cast<uint64_t>(entry.position) / 1000);
  if (time == -3) {
    {
      ObjectLock lock(list);
      list.Clear();
    }
    owner->Post(platform::msg::kProgress, position, -3);
  } else if (time == -1 || time == -2) {
    owner->Post(platform::msg::kProgress, position, time);
  } else if (time / 1000 != last_posted_second) {
    last_posted_second = time / 1000;
    owner->Post(platform::msg::kProgress, position,
                static_cast<platform::MsgParam>(entry.backward + 2 * (time / 1000)));
  }
}

}  // namespace engine

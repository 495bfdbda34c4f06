#include "engine/ACPlayClock.h"

#include <algorithm>
#include <cstdio>

#include "engine/EngineGlobals.h"

namespace engine {

ACPlayClock::ACPlayClock(platform::MessageSink* owner, platform::Sleeper* sleeper)
    : owner_(owner), sleeper_(sleeper ? sleeper : &own_sleeper_) {
  using Mode = platform::Event::Mode;
  for (int i = 0; i < 7; ++i)
    states_[static_cast<size_t>(i)] = std::make_unique<platform::Event>(i <= kStateSecondPlay ? Mode::ManualReset : Mode::AutoReset);
}

ACPlayClock::~ACPlayClock() { Stop(); }

bool ACPlayClock::Start(ClockTarget* filter, AudioClock* audio) {
  filter_ = filter;
  audio_ = audio;
  if (!filter_) return false;
  if (thread_.Running()) return true;
  thread_.Join(platform::kInfinite);  // one that ended late
  stop_wake_.Reset();
  return thread_.Start([this](const platform::StopToken& stop) {
    if (sleeper_ == &own_sleeper_) own_sleeper_.Start();
    sleeper_->SleepMs(0);  // announces the thread to the sleeper (a fake clock counts it)
    while (!stop.StopRequested()) RunPass(2);
    if (sleeper_ == &own_sleeper_) own_sleeper_.Stop();
  });
}

void ACPlayClock::Stop() {
  // The thread may be in a pacing wait (up to ten seconds at 1/16x): wake it.
  // It is never detached, as it uses this object.
  thread_.RequestStop();
  stop_wake_.Set();
  platform::BlockingCall joining(*sleeper_);  // its sleep between time stamps still has to end
  if (!thread_.Join(2000)) {
    std::fprintf(stderr, "dravik: the playback clock did not stop within 2 s; waiting for it\n");
    thread_.Join(platform::kInfinite);
  }
}

int ACPlayClock::AddDTS(int64_t time, int64_t position, uint32_t backward) {
  ObjectLock lock(list_);
  if (!AnySourceActive()) return 1;  // in flight after a stop: dropped
  return list_.Insert(time, position, backward) ? 1 : 0;
}

void ACPlayClock::SetState(int state) {
  for (int i = kStatePlay; i <= kStateSecondPlay; ++i) states_[static_cast<size_t>(i)]->Reset();
  if (state >= 0 && state <= kStateHalt) states_[static_cast<size_t>(state)]->Set();
}

void ACPlayClock::Clear() {
  ObjectLock lock(list_);
  list_.Clear();
}

int ACPlayClock::ValidSpeed(int speed) {
  switch (speed) {
    case 1: case 2: case 4: case 8: case 16: case 32: case 64: case 128: case 256: return speed;
    default: return 16;
  }
}

void ACPlayClock::RunPass(int wait_ms) {
  if (!filter_) return;
  platform::Event* events[7];
  for (size_t i = 0; i < 7; ++i) events[i] = states_[i].get();
  const int state = platform::Event::WaitAny(events, wait_ms);
  if (state == platform::kWaitTimeout) return;

  auto resume = [&] {
    if (audio_) audio_->Resume();
    filter_->PushFrame(0);
  };
  switch (state) {
    case kStatePlay:
      speed_ = stored_speed_.load();
      resume();
      filter_->OneFrame(0);
      step_ = second_play_ = false;
      if (last_time_ == -1) last_time_ = 0;
      break;
    case kStateResume:
      speed_ = stored_speed_.load();
      resume();
      filter_->OneFrame(0);
      step_ = second_play_ = false;
      break;
    case kStateSecondPlay:
      // The event stays signalled: the clock restarts only when second play begins.
      if (!second_play_) last_time_ = 0;
      second_play_ = true;
      step_ = false;
      speed_ = 16;
      resume();
      filter_->OneFrame(0);
      break;
    case kStateStep:
      step_ = true;
      second_play_ = false;
      speed_ = 16;
      resume();
      filter_->OneFrame(1);
      break;
    case kStatePause:
      if (audio_) audio_->Pause();
      filter_->PushFrame(1);
      filter_->OneFrame(0);
      return;  // no time stamp is taken
    case kStateRestart:
      last_time_ = 0;
      states_[kStatePlay]->Set();
      speed_ = 16;
      step_ = second_play_ = false;
      resume();
      filter_->OneFrame(0);
      break;
    case kStateHalt:
      last_time_ = -1;
      speed_ = 16;
      step_ = second_play_ = false;
      resume();
      filter_->OneFrame(0);
      break;
    default: return;
  }

  DtsEntry entry;
  {
    ObjectLock lock(list_);
    if (!list_.TakeHead(entry)) entry.time = INT64_MIN;
  }
  if (entry.time == INT64_MIN) {
    sleeper_->SleepMs(1);
    return;
  }
  int64_t time = last_time_ == -1 ? 0 : entry.time;
  if (time == -1 || time == -2) {
    last_time_ = 0;
  } else if (time == -3) {
    // The end: reported below.
  } else if (step_) {
    for (int more = 0; more < 10 && std::max<int64_t>(0, time - last_time_) < kStepMs; ++more) {
      DtsEntry next;
      ObjectLock lock(list_);
      if (!list_.TakeHead(next)) break;
      entry = next;
      time = next.time;
    }
    last_time_ = time;
  } else if (second_play_) {
    if (last_time_ == 0) last_time_ = time;
    const int64_t wait = 40 * (std::max<int64_t>(0, time - last_time_) / 1000);
    last_time_ = std::max(last_time_, time);
    Pace(wait);
    last_step_ = static_cast<int>(wait);
  } else if (last_time_ != -1) {
    speed_ = ValidSpeed(speed_);
    if (last_time_ == 0) last_time_ = time;
    const int64_t delta = std::max<int64_t>(0, time - last_time_);
    int64_t wait = std::min<int64_t>(delta, kMaxWaitMs);
    bool skip = false;
    if (audio_) {
      audio_->SetSpeed(speed_);
      const int64_t heard = audio_->Position();
      if (heard != 0) {
        if (heard >= time) skip = true;
        wait = std::min<int64_t>(time - heard, kMaxWaitMs);
      }
    }
    if (!skip && wait > kMinWaitMs) {
      const int step = static_cast<int>((wait * 16 - 1 + speed_) / speed_);
      Pace(step);
      last_step_ = step;
      last_time_ = std::max(last_time_, time);
    }
  }
  filter_->CurDTS(time, last_step_, speed_, entry.backward != 0);
  Report(entry, time);
}

void ACPlayClock::Pace(int64_t ms) {
  if (ms > 0) sleeper_->WaitFor(stop_wake_, static_cast<int>(ms));  // cut short by Stop
}

void ACPlayClock::Report(const DtsEntry& entry, int64_t time) {
  if (!owner_) return;
  const auto position = static_cast<platform::MsgParam>(static_cast<uint64_t>(entry.position) / 1000);
  if (time == -3) {
    Clear();
    owner_->Post(platform::msg::kProgress, position, -3);
  } else if (time == -1 || time == -2) {
    owner_->Post(platform::msg::kProgress, position, time);
  } else if (time / 1000 != last_posted_second_) {
    last_posted_second_ = time / 1000;
    owner_->Post(platform::msg::kProgress, position,
                 static_cast<platform::MsgParam>(entry.backward + 2 * (time / 1000)));
  }
}

}  // namespace engine

#include "engine/LibavLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace engine::libav_log {
namespace {

struct State {
  std::mutex mutex;
  struct Context {
    int channel = kUnattributed;
    uint64_t errors = 0;
  };
  std::map<const void*, Context> contexts;
  std::map<int, Tally> tallies;
};

// Never destroyed: a decode thread may still log while the process exits.
State& Shared() {
  static State* state = new State;
  return *state;
}

// A message written in pieces (no line end yet) continues on the same thread;
// only its first piece counts.
thread_local bool line_open = false;

void Callback(void* avcl, int level, const char* format, va_list args) {
  level &= 0xff;
  if (level > av_log_get_level()) return;
  char text[512];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (n < 0) return;
  size_t length = std::min(static_cast<size_t>(n), sizeof text - 1);
  const bool continues = line_open;
  line_open = length == 0 || text[length - 1] != '\n';
  if (continues) return;
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;

  State& s = Shared();
  std::lock_guard lock(s.mutex);
  int channel = kUnattributed;
  if (const auto it = s.contexts.find(avcl); avcl && it != s.contexts.end()) {
    channel = it->second.channel;
    if (level <= AV_LOG_ERROR) ++it->second.errors;
  }
  Tally& t = s.tallies[channel];
  t.channel = channel;
  if (t.messages++ == 0) {
    t.first.assign(text, length);
    for (char& c : t.first)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';  // stream bytes can end up in a message
  }
  if (level <= AV_LOG_ERROR) ++t.errors;
}

}  // namespace

void Install() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(Callback); });
}

void Attach(const void* context, int channel) {
  if (!context) return;
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  s.contexts[context] = {channel, 0};
}

void Detach(const void* context) {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  s.contexts.erase(context);
}

uint64_t ErrorCount(const void* context) {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  const auto it = s.contexts.find(context);
  return it == s.contexts.end() ? 0 : it->second.errors;
}

std::vector<Tally> Tallies() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  std::vector<Tally> out;
  for (const auto& [channel, tally] : s.tallies) out.push_back(tally);
  return out;
}

void Reset() {
  State& s = Shared();
  std::lock_guard lock(s.mutex);
  s.tallies.clear();
}

}  // namespace engine::libav_log

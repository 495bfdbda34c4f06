// dravik-tool voice encode|decode --type T [--samples N]
// encode: s16le mono PCM on stdin -> concatenated frames on stdout, N samples a
//         frame (default 160; 161 for type 35); a trailing partial frame is dropped.
// decode: concatenated frames on stdin -> s16le PCM on stdout.
// One reset at the start. A refused frame ends the run with its status on stderr.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "voice/voxcore.h"

namespace cli {
namespace {

bool ReadExactly(uint8_t* buffer, size_t n) { return std::fread(buffer, 1, n, stdin) == n; }

int Usage() {
  std::fprintf(stderr, "usage: dravik-tool voice encode|decode --type T [--samples N]\n");
  return 2;
}

int Refused(const char* what, uint32_t status, long frame_index) {
  std::fprintf(stderr, "dravik-tool voice: %s refused frame %ld: status 0x%08X\n", what, frame_index,
               status);
  return 1;
}

int Encode(int type, long samples_per_frame) {
  alignas(8) uint8_t state[ZN_VOICE_STATE_SIZE] = {};
  const uint32_t reset = ZN_VOICE_EncReset(state, type);
  if (reset != ZN_VOICE_OK) return Refused("encoder reset", reset, 0);
  std::vector<uint8_t> pcm_bytes(static_cast<size_t>(samples_per_frame) * 2);
  std::vector<int16_t> pcm(static_cast<size_t>(samples_per_frame));
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  for (long index = 0; ReadExactly(pcm_bytes.data(), pcm_bytes.size()); ++index) {
    for (size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = static_cast<int16_t>(pcm_bytes[2 * i] | (pcm_bytes[2 * i + 1] << 8));
    const uint32_t status = ZN_VOICE_EncodeFrame(state, pcm.data(), frame, static_cast<uint16_t>(samples_per_frame));
    if (status != ZN_VOICE_OK) return Refused("encoder", status, index);
    std::fwrite(frame, 1, 4 + 2 * static_cast<size_t>(frame[2]), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int Decode(int type) {
  alignas(8) uint8_t state[ZN_VOICE_STATE_SIZE] = {};
  const uint32_t reset = ZN_VOICE_DecReset(state, type);
  if (reset != ZN_VOICE_OK) return Refused("decoder reset", reset, 0);
  uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
  int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
  uint8_t out[2 * ZN_VOICE_MAX_DECODED_SAMPLES];
  for (long index = 0; ReadExactly(frame, 4); ++index) {
    const size_t payload = 2 * static_cast<size_t>(frame[2]);
    if (!ReadExactly(frame + 4, payload)) {
      std::fprintf(stderr, "dravik-tool voice: frame %ld is truncated\n", index);
      return 1;
    }
    uint16_t count = 0;
    const uint32_t status = ZN_VOICE_DecodeFrame(state, frame, pcm, &count);
    if (status != ZN_VOICE_OK) return Refused("decoder", status, index);
    for (size_t i = 0; i < count; ++i) {
      out[2 * i] = static_cast<uint8_t>(pcm[i]);
      out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
    }
    std::fwrite(out, 1, 2 * static_cast<size_t>(count), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RunVoice(const Args& args) {
  if (args.empty() || (args[0] != "encode" && args[0] != "decode")) return Usage();
  int type = -1;
  int samples = -1;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--type") {
      if (!NextInt(args, i, type)) return Usage();
    } else if (args[i] == "--samples") {
      if (!NextInt(args, i, samples)) return Usage();
    } else {
      return Usage();
    }
  }
  if (type < 0) return Usage();
  if (args[0] == "decode") return Decode(static_cast<int>(type));
  if (samples < 0) samples = type == 35 ? 161 : 160;
  if (samples < 1 || samples > 65535) {
    std::fprintf(stderr, "dravik-tool voice: --samples must be 1..65535\n");
    return 2;
  }
  return Encode(static_cast<int>(type), samples);
}

}  // namespace cli

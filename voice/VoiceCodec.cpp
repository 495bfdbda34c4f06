// The seven exported functions: frame layout, length rules, status codes and
// the order of the checks. The codecs themselves live in G711, ImaAdpcm, G726.
#include <cstring>
#include <utility>

#include "voice/CodePacking.h"
#include "voice/G711.h"
#include "voice/G726.h"
#include "voice/ImaAdpcm.h"
#include "voice/VoiceState.h"
#include "voice/voxcore.h"

namespace voice {
namespace {

constexpr char kVersion[] = "ZnKQR_AUDIO_VERSION_V3.0.6.31";
static_assert(sizeof kVersion == 30);

constexpr int kHeaderBytes = 4;
constexpr int kMaxEncodeSamples = 481;

enum class Family { G711, Adpcm, G726, G726Compact, None };

Family FamilyOf(int type) {
  switch (type) {
    case 1: case 2: case 65: case 66: return Family::G711;
    case 3: case 35: case 67: return Family::Adpcm;
    case 4: case 5: case 6: case 7: case 36: case 37: case 38: case 39: return Family::G726;
    case 68: return Family::G726Compact;
    default: return Family::None;
  }
}

// Code width of a G.726 type; MSB-first packing for types 36-39.
int G726Bits(int type) { return type >= 36 ? type - 34 : type - 2; }
bool MsbFirst(int type) { return type >= 36 && type <= 39; }

inline void PutWord(uint8_t* p, int value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
inline int16_t GetWord(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

uint32_t Reset(void* block, int32_t type, uint32_t unsupported) {
  if (!block) return ZN_VOICE_NULL_STATE;
  VoiceState s = LoadState(block);
  s.type = static_cast<uint16_t>(type);
  uint32_t status = ZN_VOICE_OK;
  switch (FamilyOf(type)) {
    case Family::G711: break;
    case Family::Adpcm: s.adpcm = AdpcmState{0, 0}; break;
    case Family::G726: G726Reset(s.g726, G726Bits(type)); break;
    case Family::G726Compact: G726Reset(s.g726, 2); break;
    case Family::None: status = unsupported; break;
  }
  StoreState(block, s);
  return status;
}

// Encodes n samples into payload; returns the payload length in words.
int EncodePayload(VoiceState& s, const int16_t* in, int n, uint8_t* payload) {
  const int type = s.type;
  switch (FamilyOf(type)) {
    case Family::G711: {
      const int swap = type >= 65 ? 1 : 0;  // 65/66: each pair of codes exchanged
      if (type == 1 || type == 65) {
        for (int i = 0; i < n; ++i) payload[i ^ swap] = LinearToAlaw(in[i]);
      } else {
        for (int i = 0; i < n; ++i) payload[i ^ swap] = LinearToUlaw(in[i]);
      }
      return n / 2;
    }
    case Family::Adpcm: {
      AdpcmState& a = s.adpcm;
      if (type == 67) {
        for (int i = 0; i < n; i += 2)
          payload[i / 2] = static_cast<uint8_t>((ImaEncode(a, in[i]) << 4) | ImaEncode(a, in[i + 1]));
        return n / 4;
      }
      a.step_index = ImaClampIndex(a.step_index);
      if (type == 3) {
        PutWord(payload, a.predictor);
        PutWord(payload + 2, a.step_index);
        for (int i = 0; i < n; i += 2)
          payload[4 + i / 2] = static_cast<uint8_t>((ImaEncode(a, in[i]) << 4) | ImaEncode(a, in[i + 1]));
        return n / 4 + 2;
      }
      // Type 35: the first sample travels as it is and seeds the predictor;
      // the earlier sample of each code byte is in its low nibble.
      a.predictor = in[0];
      PutWord(payload, in[0]);
      PutWord(payload + 2, a.step_index);
      for (int i = 1; i < n; i += 2)
        payload[4 + (i - 1) / 2] = static_cast<uint8_t>(ImaEncode(a, in[i]) | (ImaEncode(a, in[i + 1]) << 4));
      return (n - 1) / 4 + 2;
    }
    case Family::G726: {
      const int bits = G726Bits(type);
      uint8_t codes[kMaxEncodeSamples];
      G726EncodeBlock(s.g726, in, n, codes);
      if (MsbFirst(type)) {
        PackMsbFirst(codes, static_cast<size_t>(n), bits, payload);
      } else {
        PackLsbFirst(codes, static_cast<size_t>(n), bits, payload);
      }
      return n * bits / 16;
    }
    case Family::G726Compact: {
      for (int w = 0; w < n / 8; ++w) {
        int word = 0;
        for (int k = 0; k < 8; ++k) word |= G726Encode16Raw(s.g726, in[w * 8 + k]) << (14 - 2 * k);
        PutWord(payload + 2 * w, word);
      }
      return n / 8;
    }
    case Family::None: break;
  }
  return -1;
}

// Samples a payload of `words` words yields, or -1 when the length is not allowed.
int DecodedCount(int type, int words) {
  auto rule = [&](int step, int max, int samples) { return (words % step == 0 && words <= max) ? samples : -1; };
  switch (type) {
    case 1: case 2: case 65: case 66: return rule(40, 240, 2 * words);
    case 3: return words >= 2 ? 4 * (words - 2) : -1;
    case 35: return words >= 2 ? 4 * (words - 2) + 1 : -1;
    case 67: return words >= 2 ? 4 * words : -1;
    case 4: case 36: case 68: return rule(10, 60, 8 * words);
    case 5: case 37: return rule(15, 90, 16 * words / 3);
    case 6: case 38: return rule(20, 120, 4 * words);
    case 7: case 39: return rule(25, 150, 16 * words / 5);
    default: return -1;
  }
}

void DecodePayload(VoiceState& s, uint8_t* payload, int words, int n, int16_t* out) {
  const int type = s.type;
  switch (FamilyOf(type)) {
    case Family::G711: {
      const int swap = type >= 65 ? 1 : 0;
      if (type == 1 || type == 65) {
        for (int i = 0; i < n; ++i) out[i] = AlawToLinear(payload[i ^ swap]);
      } else {
        for (int i = 0; i < n; ++i) out[i] = UlawToLinear(payload[i ^ swap]);
      }
      return;
    }
    case Family::Adpcm: {
      AdpcmState& a = s.adpcm;
      if (type == 67) {
        for (int i = 0; i < n; i += 2) {
          out[i] = ImaDecode(a, payload[i / 2] >> 4);
          out[i + 1] = ImaDecode(a, payload[i / 2] & 0x0F);
        }
        return;
      }
      a.predictor = GetWord(payload);
      a.step_index = ImaClampIndex(GetWord(payload + 2));  // a hostile index must stay in the table
      const uint8_t* codes = payload + 4;
      if (type == 3) {
        for (int i = 0; i < n; i += 2) {
          out[i] = ImaDecode(a, codes[i / 2] >> 4);
          out[i + 1] = ImaDecode(a, codes[i / 2] & 0x0F);
        }
        return;
      }
      out[0] = a.predictor;
      for (int i = 1; i < n; i += 2) {
        out[i] = ImaDecode(a, codes[(i - 1) / 2] & 0x0F);
        out[i + 1] = ImaDecode(a, codes[(i - 1) / 2] >> 4);
      }
      return;
    }
    case Family::G726: {
      const int bits = G726Bits(type);
      if (MsbFirst(type)) RepackMsbToLsb(payload, static_cast<size_t>(n), bits);
      uint8_t codes[480];
      UnpackLsbFirst(payload, static_cast<size_t>(n), bits, codes);
      G726DecodeBlock(s.g726, codes, n, out);
      return;
    }
    case Family::G726Compact: {
      for (int w = 0; w < words; ++w) {
        const int word = static_cast<uint16_t>(GetWord(payload + 2 * w));
        for (int k = 0; k < 8; ++k) out[w * 8 + k] = G726Decode16Raw(s.g726, (word >> (14 - 2 * k)) & 3);
      }
      return;
    }
    case Family::None: return;
  }
}

}  // namespace
}  // namespace voice

using namespace voice;

extern "C" {

uint32_t ZN_VOICE_GetVersion(char* version) {
  if (!version) return 0xFFFFFFFFu;
  std::memcpy(version, kVersion, sizeof kVersion);
  return ZN_VOICE_OK;
}

uint32_t ZN_VOICE_EncReset(void* state, int32_t type) { return Reset(state, type, ZN_VOICE_ENC_TYPE_UNSUPPORTED); }

uint32_t ZN_VOICE_DecReset(void* state, int32_t type) { return Reset(state, type, ZN_VOICE_DEC_TYPE_UNSUPPORTED); }

uint32_t ZN_VOICE_EncodeFrame(void* state, const int16_t* samples, uint8_t* frame, uint16_t count) {
  if (!state) return ZN_VOICE_NULL_STATE;
  if (!samples) return ZN_VOICE_NULL_INPUT;
  if (!frame) return ZN_VOICE_NULL_OUTPUT;
  VoiceState s = LoadState(state);
  const int n = count;
  const bool first_sample_in_header = s.type == 35;
  if (n < 1 || n > kMaxEncodeSamples || n % 80 != (first_sample_in_header ? 1 : 0))
    return ZN_VOICE_ENC_BAD_SAMPLE_COUNT;
  if (FamilyOf(s.type) == Family::None) return ZN_VOICE_ENC_TYPE_UNSUPPORTED;

  uint8_t out[ZN_VOICE_MAX_FRAME_BYTES];
  const int words = EncodePayload(s, samples, n, out + kHeaderBytes);
  out[0] = 0x00;
  out[1] = 0x01;
  out[2] = static_cast<uint8_t>(words);
  out[3] = 0x00;
  std::memcpy(frame, out, static_cast<size_t>(kHeaderBytes + 2 * words));
  StoreState(state, s);
  return ZN_VOICE_OK;
}

uint32_t ZN_VOICE_DecodeFrame(void* state, uint8_t* frame, int16_t* samples, uint16_t* count) {
  if (count) *count = 0;
  if (!state) return ZN_VOICE_NULL_STATE;
  if (!frame) return ZN_VOICE_NULL_INPUT;
  if (!samples || !count) return ZN_VOICE_NULL_OUTPUT;
  if ((frame[1] & 0x03) != 0x01) return ZN_VOICE_DEC_BAD_FLAG;
  const int words = frame[2];
  if (words == 0) return ZN_VOICE_DEC_BAD_LENGTH;
  VoiceState s = LoadState(state);
  if (FamilyOf(s.type) == Family::None) return ZN_VOICE_DEC_TYPE_UNSUPPORTED;
  const int n = DecodedCount(s.type, words);
  if (n < 0) return ZN_VOICE_DEC_BAD_LENGTH;
  DecodePayload(s, frame + kHeaderBytes, words, n, samples);
  StoreState(state, s);
  *count = static_cast<uint16_t>(n);
  return ZN_VOICE_OK;
}

uint32_t ZN_VOICE_TransCodeReset(void* state, int32_t type) {
  if (!state) return ZN_VOICE_TRANS_NULL_STATE;
  if (type < 97 || type > 100) return ZN_VOICE_TRANS_TYPE_UNSUPPORTED;
  static constexpr int kEncoder[] = {1, 2, 3, 4};
  static constexpr int kDecoder[] = {65, 66, 67, 68};
  auto* block = static_cast<uint8_t*>(state);
  ZN_VOICE_EncReset(block, kEncoder[type - 97]);
  ZN_VOICE_DecReset(block + ZN_VOICE_TRANSCODE_DECODER_OFFSET, kDecoder[type - 97]);
  return ZN_VOICE_OK;
}

uint32_t ZN_VOICE_TransCodeFrame(void* state, uint8_t* frame) {
  if (!state) return ZN_VOICE_TRANS_NULL_STATE;
  if (!frame) return ZN_VOICE_NULL_INPUT;
  auto* block = static_cast<uint8_t*>(state);
  const VoiceState encoder = LoadState(block);
  switch (encoder.type) {
    case 1:
    case 2: {
      const int words = frame[2];
      for (int w = 0; w < words; ++w) std::swap(frame[4 + 2 * w], frame[5 + 2 * w]);
      return ZN_VOICE_OK;
    }
    case 3:
    case 4: {
      int16_t pcm[ZN_VOICE_MAX_DECODED_SAMPLES];
      uint16_t n = 0;
      // The two steps' statuses are not reported: a frame that does not decode
      // (or whose samples the encoder refuses) is left as it was.
      ZN_VOICE_DecodeFrame(block + ZN_VOICE_TRANSCODE_DECODER_OFFSET, frame, pcm, &n);
      ZN_VOICE_EncodeFrame(block, pcm, frame, n);
      return ZN_VOICE_OK;
    }
    default: return ZN_VOICE_TRANS_TYPE_UNSUPPORTED;
  }
}

}  // extern "C"

#include "voice/G726.h"

#include <algorithm>
#include <cstdlib>

namespace voice {
namespace {

// Per-rate tables: quantiser decision levels (QUAN), inverse quantiser output
// (RECONST: log of the normalised difference), scale factor multipliers
// (FUNCTW, already scaled by 32) and the speed-control function (FUNCTF).
struct RateTables {
  const int16_t* quantizer;
  int states;  // 2^bits - 1, or 2^bits for the even 2-bit quantiser
  const int16_t* dqln;
  const int32_t* wi;
  const int16_t* fi;
};

constexpr int16_t kQuan16[] = {261};
constexpr int16_t kDqln16[] = {116, 365, 365, 116};
constexpr int32_t kWi16[] = {-704, 14048, 14048, -704};
constexpr int16_t kFi16[] = {0x000, 0xE00, 0xE00, 0x000};

constexpr int16_t kQuan24[] = {8, 218, 331};
constexpr int16_t kDqln24[] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int32_t kWi24[] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kFi24[] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

constexpr int16_t kQuan32[] = {-124, 80, 178, 246, 300, 349, 400};
constexpr int16_t kDqln32[] = {-2048, 4, 135, 213, 273, 323, 373, 425,
                               425,   373, 323, 273, 213, 135, 4,   -2048};
constexpr int32_t kWi32[] = {-12 * 32,  18 * 32,  41 * 32,  64 * 32,  112 * 32, 198 * 32, 355 * 32, 1122 * 32,
                             1122 * 32, 355 * 32, 198 * 32, 112 * 32, 64 * 32,  41 * 32,  18 * 32,  -12 * 32};
constexpr int16_t kFi32[] = {0, 0, 0, 0x200, 0x200, 0x200, 0x600, 0xE00,
                             0xE00, 0x600, 0x200, 0x200, 0x200, 0, 0, 0};

constexpr int16_t kQuan40[] = {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553};
constexpr int16_t kDqln40[] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395, 429,
                               459,   488, 514, 539, 566, 566, 539, 514, 488, 459, 429,
                               395,   358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr int32_t kWi40[] = {448,   448,   768,   1248,  1280,  1312,  1856, 3200, 4512, 5728, 7008,
                             8960,  11456, 14080, 16928, 22272, 22272, 16928, 14080, 11456, 8960, 7008,
                             5728,  4512,  3200,  1856,  1312,  1280,  1248,  768,   448,   448};
constexpr int16_t kFi40[] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200, 0x200, 0x200, 0x400,
                             0x600, 0x800, 0xA00, 0xC00, 0xC00, 0xC00, 0xC00, 0xA00, 0x800, 0x600, 0x400,
                             0x200, 0x200, 0x200, 0x200, 0x200, 0,     0,     0,     0,     0};

const RateTables& TablesFor(int bits) {
  static constexpr RateTables kTables[4] = {
      {kQuan16, 4, kDqln16, kWi16, kFi16},
      {kQuan24, 7, kDqln24, kWi24, kFi24},
      {kQuan32, 15, kDqln32, kWi32, kFi32},
      {kQuan40, 31, kDqln40, kWi40, kFi40},
  };
  return kTables[std::clamp(bits, 2, 5) - 2];
}

// Number of bits needed for v (0 for 0): the recommendation's exponent.
inline int Exponent(int v) { return v <= 0 ? 0 : 32 - __builtin_clz(static_cast<unsigned>(v)); }

// FMULT: multiplies a predictor coefficient by a value in the 4-bit exponent,
// 6-bit mantissa floating format.
[[gnu::always_inline]] inline int16_t FloatMultiply(int an, int srn) {
  const int anmag = (an > 0) ? an : ((-an) & 0x1FFF);
  const int anexp = Exponent(anmag) - 6;
  const int anmant = (anmag == 0) ? 32 : (anexp >= 0) ? (anmag >> anexp) : (anmag << -anexp);
  const int wanexp = anexp + ((srn >> 6) & 0xF) - 13;
  const int wanmant = (anmant * (srn & 0x3F) + 0x30) >> 4;
  const int16_t retval =
      static_cast<int16_t>((wanexp >= 0) ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp));
  return static_cast<int16_t>(((an ^ srn) < 0) ? -retval : retval);
}

int16_t PredictorZero(const G726State& s) {
  int sezi = FloatMultiply(s.b[0] >> 2, s.dq[0]);
  for (int i = 1; i < 6; ++i) sezi += FloatMultiply(s.b[i] >> 2, s.dq[i]);
  return static_cast<int16_t>(sezi);
}

int16_t PredictorPole(const G726State& s) {
  return static_cast<int16_t>(FloatMultiply(s.a[1] >> 2, s.sr[1]) + FloatMultiply(s.a[0] >> 2, s.sr[0]));
}

// MIX: the quantiser scale factor from the fast and slow factors.
int16_t StepSize(const G726State& s) {
  if (s.ap >= 256) return s.yu;
  int y = s.yl >> 6;
  const int dif = s.yu - y;
  const int al = s.ap >> 2;
  if (dif > 0) {
    y += (dif * al) >> 6;
  } else if (dif < 0) {
    y += (dif * al + 0x3F) >> 6;
  }
  return static_cast<int16_t>(y);
}

// LOG, SUBTB, QUAN.
int Quantize(int d, int y, const RateTables& t) {
  const int16_t dqm = static_cast<int16_t>(std::abs(d));
  int16_t dl;
  if (dqm < 0) {
    // |d| does not fit 15 bits (full-scale input against an opposite
    // estimate): a log above every decision level, so the largest magnitude.
    dl = 32 << 7;
  } else {
    const int exp = Exponent(dqm >> 1);
    const int mant = ((dqm << 7) >> exp) & 0x7F;
    dl = static_cast<int16_t>((exp << 7) + mant);
  }
  const int16_t dln = static_cast<int16_t>(dl - (y >> 2));
  const int size = (t.states - 1) >> 1;
  // The decision levels ascend, so the interval is the count of levels at or
  // below dln; counting without branches beats a data-dependent search.
  int i = 0;
  for (int k = 0; k < size; ++k) i += dln >= t.quantizer[k];
  if (d < 0) return (size << 1) + 1 - i;
  if (i == 0 && (t.states & 1)) return t.states;  // an odd quantiser has no code for +0
  return i;
}

// ADDA, ANTILOG: the quantised difference, sign-magnitude with the sign in bit 15.
int16_t Reconstruct(bool negative, int dqln, int y) {
  const int16_t dql = static_cast<int16_t>(dqln + (y >> 2));
  if (dql < 0) return static_cast<int16_t>(negative ? -0x8000 : 0);
  const int dex = (dql >> 7) & 15;
  const int dqt = 128 + (dql & 127);
  const int16_t dq = static_cast<int16_t>((dqt << 7) >> (14 - dex));
  return static_cast<int16_t>(negative ? (dq - 0x8000) : dq);
}

// Floating format (4-bit exponent, 6-bit mantissa, sign as -0x400) of a magnitude.
inline int16_t ToFloat(int mag, bool negative) {
  const int exp = Exponent(mag);
  return static_cast<int16_t>((exp << 6) + ((mag << 6) >> exp) - (negative ? 0x400 : 0));
}

// Everything after the quantiser: scale factor adaptation, predictor update,
// tone and transition detection, adaptation speed control.
[[gnu::always_inline]] inline void Update(G726State& s, int y, int wi, int fi, int dq, int sr, int dqsez) {
  const int16_t pk0 = (dqsez < 0) ? 1 : 0;
  const int16_t mag = static_cast<int16_t>(dq & 0x7FFF);

  // TRANS: a large difference while a tone was detected means a transition.
  const int16_t ylint = static_cast<int16_t>(s.yl >> 15);
  const int16_t ylfrac = static_cast<int16_t>((s.yl >> 10) & 0x1F);
  const int16_t thr = static_cast<int16_t>((ylint > 9) ? (31 << 10) : ((32 + ylfrac) << ylint));
  const int16_t dqthr = static_cast<int16_t>((thr + (thr >> 1)) >> 1);
  const bool tr = s.td != 0 && mag > dqthr;

  // FUNCTW, FILTD, LIMB, FILTE.
  s.yu = static_cast<int16_t>(std::clamp(y + ((wi - y) >> 5), 544, 5120));
  s.yl += s.yu + ((-s.yl) >> 6);

  int16_t a2p = 0;
  if (tr) {
    s.a[0] = s.a[1] = 0;
    for (auto& b : s.b) b = 0;
  } else {
    const int16_t pks1 = static_cast<int16_t>(pk0 ^ s.pk[0]);
    // UPA2
    a2p = static_cast<int16_t>(s.a[1] - (s.a[1] >> 7));
    if (dqsez != 0) {
      const int16_t fa1 = pks1 ? s.a[0] : static_cast<int16_t>(-s.a[0]);
      if (fa1 < -8191) {
        a2p = static_cast<int16_t>(a2p - 0x100);
      } else if (fa1 > 8191) {
        a2p = static_cast<int16_t>(a2p + 0xFF);
      } else {
        a2p = static_cast<int16_t>(a2p + (fa1 >> 5));
      }
      if (pk0 ^ s.pk[1]) {  // LIMC
        if (a2p <= -12160) a2p = -12288;
        else if (a2p >= 12416) a2p = 12288;
        else a2p = static_cast<int16_t>(a2p - 0x80);
      } else if (a2p <= -12416) {
        a2p = -12288;
      } else if (a2p >= 12160) {
        a2p = 12288;
      } else {
        a2p = static_cast<int16_t>(a2p + 0x80);
      }
    }
    s.a[1] = a2p;
    // UPA1, LIMD
    s.a[0] = static_cast<int16_t>(s.a[0] - (s.a[0] >> 8));
    if (dqsez != 0) s.a[0] = static_cast<int16_t>(pks1 == 0 ? s.a[0] + 192 : s.a[0] - 192);
    const int16_t a1ul = static_cast<int16_t>(15360 - a2p);
    if (s.a[0] < -a1ul) s.a[0] = static_cast<int16_t>(-a1ul);
    else if (s.a[0] > a1ul) s.a[0] = a1ul;
    // UPB: the 40 kbit/s rate leaks more slowly.
    const int leak = (s.bits == 5) ? 9 : 8;
    for (int i = 0; i < 6; ++i) {
      s.b[i] = static_cast<int16_t>(s.b[i] - (s.b[i] >> leak));
      if (dq & 0x7FFF) s.b[i] = static_cast<int16_t>(((dq ^ s.dq[i]) >= 0) ? s.b[i] + 128 : s.b[i] - 128);
    }
  }

  // FLOAT A
  for (int i = 5; i > 0; --i) s.dq[i] = s.dq[i - 1];
  if (mag == 0) {
    s.dq[0] = static_cast<int16_t>((dq >= 0) ? 0x20 : 0xFC20);
  } else {
    s.dq[0] = ToFloat(mag, dq < 0);
  }
  // FLOAT B
  s.sr[1] = s.sr[0];
  if (sr == 0) {
    s.sr[0] = 0x20;
  } else if (sr > 0) {
    s.sr[0] = ToFloat(sr, false);
  } else if (sr > -32768) {
    s.sr[0] = ToFloat(-sr, true);
  } else {
    s.sr[0] = static_cast<int16_t>(0xFC20);
  }

  s.pk[1] = s.pk[0];
  s.pk[0] = pk0;

  // TONE
  s.td = (!tr && a2p < -11776) ? 1 : 0;

  // FILTA, FILTB, SUBTC, FILTC
  s.dms = static_cast<int16_t>(s.dms + ((fi - s.dms) >> 5));
  s.dml = static_cast<int16_t>(s.dml + (((fi << 2) - s.dml) >> 7));
  if (tr) {
    s.ap = 256;
  } else if (y < 1536 || s.td || std::abs((s.dms << 2) - s.dml) >= (s.dml >> 3)) {
    s.ap = static_cast<int16_t>(s.ap + ((0x200 - s.ap) >> 4));
  } else {
    s.ap = static_cast<int16_t>(s.ap + ((-s.ap) >> 4));
  }
}

struct Prediction {
  int sez;  // zero-section estimate
  int se;   // signal estimate
};

// The signal estimate SEI = SEZI + SEPI is a 16-bit quantity: it wraps.
inline Prediction Predict(const G726State& s) {
  const int16_t sezi = PredictorZero(s);
  const int16_t sei = static_cast<int16_t>(sezi + PredictorPole(s));
  return {sezi >> 1, sei >> 1};
}

inline int SignBit(int bits) { return 1 << (bits - 1); }

// One sample through the encoder; `saturate` selects the 16-bit variant's
// limits on the difference and the reconstruction.
// One sample through the encoder. The difference, reconstruction and pole
// difference are kept at full width as the reference arithmetic does; the
// `kSaturate` variant (16-bit input) limits them to 16 bits instead.
template <bool kSaturate>
[[gnu::always_inline]] inline uint8_t EncodeSample(G726State& s, int sl) {
  const RateTables& t = TablesFor(s.bits);
  const Prediction p = Predict(s);
  int d = sl - p.se;
  if constexpr (kSaturate) d = std::clamp(d, -32767, 32767);
  const int16_t y = StepSize(s);
  const int i = Quantize(d, y, t);
  const int16_t dq = Reconstruct((i & SignBit(s.bits)) != 0, t.dqln[i], y);
  // ADDB: dq is sign-magnitude with a 15-bit magnitude (40 kbit/s uses all 15).
  int sr = (dq < 0) ? (p.se - (dq & 0x7FFF)) : (p.se + dq);
  if constexpr (kSaturate) sr = std::clamp(sr, -32768, 32767);
  const int dqsez = sr + p.sez - p.se;
  Update(s, y, t.wi[i], t.fi[i], dq, sr, dqsez);
  return static_cast<uint8_t>(i);
}

// One code through the decoder; returns the reconstructed signal.
template <bool kSaturate>
[[gnu::always_inline]] inline int DecodeSample(G726State& s, uint8_t code) {
  const RateTables& t = TablesFor(s.bits);
  const int i = code & ((1 << s.bits) - 1);
  const Prediction p = Predict(s);
  const int16_t y = StepSize(s);
  const int16_t dq = Reconstruct((i & SignBit(s.bits)) != 0, t.dqln[i], y);
  int sr = (dq < 0) ? (p.se - (dq & 0x7FFF)) : (p.se + dq);
  if constexpr (kSaturate) sr = std::clamp(sr, -32768, 32767);
  const int dqsez = sr - p.se + p.sez;
  Update(s, y, t.wi[i], t.fi[i], dq, sr, dqsez);
  return sr;
}

}  // namespace

void G726Reset(G726State& s, int bits) {
  s = G726State{};
  s.yl = 34816;
  s.yu = 544;
  for (auto& v : s.sr) v = 32;  // 32 is zero in the floating format
  for (auto& v : s.dq) v = 32;
  s.bits = static_cast<uint8_t>(std::clamp(bits, 2, 5));
  s.linear = 1;
}

uint8_t G726Encode(G726State& s, int16_t sample) { return EncodeSample<false>(s, sample >> 2); }

void G726EncodeBlock(G726State& s, const int16_t* in, int count, uint8_t* codes) {
  G726State local = s;
  for (int i = 0; i < count; ++i) codes[i] = EncodeSample<false>(local, in[i] >> 2);
  s = local;
}

void G726DecodeBlock(G726State& s, const uint8_t* codes, int count, int16_t* out) {
  G726State local = s;
  for (int i = 0; i < count; ++i)
    out[i] = static_cast<int16_t>(std::clamp(DecodeSample<false>(local, codes[i]) * 4, -32764, 32764));
  s = local;
}

int16_t G726Decode(G726State& s, uint8_t code) {
  return static_cast<int16_t>(std::clamp(DecodeSample<false>(s, code) * 4, -32764, 32764));
}

uint8_t G726Encode16Raw(G726State& s, int16_t sample) { return EncodeSample<true>(s, sample); }

int16_t G726Decode16Raw(G726State& s, uint8_t code) {
  return static_cast<int16_t>(DecodeSample<true>(s, code));
}

}  // namespace voice

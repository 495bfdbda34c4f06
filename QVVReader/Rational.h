#pragma once
// Time-base arithmetic of the reader: rationals, rescaling with a 128-bit
// intermediate and explicit rounding, greatest common divisor.
#include <cstdint>

namespace qvv {

struct AVRational {
  int32_t num = 0;
  int32_t den = 1;
};

enum class Rounding {
  Zero = 0,     // toward zero
  Inf = 1,      // away from zero
  Down = 2,     // toward -infinity
  Up = 3,       // toward +infinity
  NearInf = 5,  // nearest, halves away from zero
};

inline constexpr int64_t kNoPtsValue = INT64_MIN;

int64_t av_gcd(int64_t a, int64_t b);
// a * b / c rounded as asked; kNoPtsValue when c <= 0 or the result leaves 64 bits.
int64_t av_rescale_rnd(int64_t a, int64_t b, int64_t c, Rounding rounding);
int64_t av_rescale(int64_t a, int64_t b, int64_t c);
// a from time base bq to time base cq, nearest with halves away from zero.
int64_t av_rescale_q(int64_t a, AVRational bq, AVRational cq);
int64_t av_rescale_q_rnd(int64_t a, AVRational bq, AVRational cq, Rounding rounding);

}  // namespace qvv

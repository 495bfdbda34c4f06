#include "QVVReader/Rational.h"

#include <cstdlib>

namespace qvv {

int64_t av_gcd(int64_t a, int64_t b) {
  while (b) {
    const int64_t t = a % b;
    a = b;
    b = t;
  }
  return a < 0 ? -a : a;
}

int64_t av_rescale_rnd(int64_t a, int64_t b, int64_t c, Rounding rounding) {
  if (c <= 0 || b < 0) return kNoPtsValue;
  const __int128 product = static_cast<__int128>(a) * b;
  __int128 q = product / c;
  const __int128 r = product % c;  // same sign as product
  if (r != 0) {
    const bool negative = product < 0;
    switch (rounding) {
      case Rounding::Zero: break;
      case Rounding::Inf: q += negative ? -1 : 1; break;
      case Rounding::Down: if (negative) q -= 1; break;
      case Rounding::Up: if (!negative) q += 1; break;
      case Rounding::NearInf: {
        const __int128 twice = (r < 0 ? -r : r) * 2;
        if (twice >= c) q += negative ? -1 : 1;
        break;
      }
    }
  }
  if (q > INT64_MAX || q <= INT64_MIN) return kNoPtsValue;
  return static_cast<int64_t>(q);
}

int64_t av_rescale(int64_t a, int64_t b, int64_t c) { return av_rescale_rnd(a, b, c, Rounding::NearInf); }

int64_t av_rescale_q_rnd(int64_t a, AVRational bq, AVRational cq, Rounding rounding) {
  const int64_t b = static_cast<int64_t>(bq.num) * cq.den;
  const int64_t c = static_cast<int64_t>(cq.num) * bq.den;
  return av_rescale_rnd(a, b, c, rounding);  // a negative time base gives kNoPtsValue
}

int64_t av_rescale_q(int64_t a, AVRational bq, AVRational cq) {
  return av_rescale_q_rnd(a, bq, cq, Rounding::NearInf);
}

}  // namespace qvv

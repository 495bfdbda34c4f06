#include "tools/FileChecksum.h"

#include <algorithm>
#include <cstring>

namespace tools {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;

constexpr uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian loads, whatever the machine's order.
uint64_t Load64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
uint32_t Load32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr uint64_t Round(uint64_t acc, uint64_t input) { return Rotl(acc + input * kPrime2, 31) * kPrime1; }
constexpr uint64_t Merge(uint64_t acc, uint64_t lane) { return (acc ^ Round(0, lane)) * kPrime1 + kPrime4; }

void Stripe(uint64_t (&lanes)[4], const unsigned char* p) {
  lanes[0] = Round(lanes[0], Load64(p));
  lanes[1] = Round(lanes[1], Load64(p + 8));
  lanes[2] = Round(lanes[2], Load64(p + 16));
  lanes[3] = Round(lanes[3], Load64(p + 24));
}

}  // namespace

FileChecksum::FileChecksum() : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1}, stripe_{} {}

void FileChecksum::Update(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  length_ += size;
  if (stripe_used_ > 0) {
    const size_t take = std::min(size, sizeof stripe_ - stripe_used_);
    std::memcpy(stripe_ + stripe_used_, p, take);
    stripe_used_ += take;
    p += take;
    size -= take;
    if (stripe_used_ < sizeof stripe_) return;
    Stripe(lanes_, stripe_);
    stripe_used_ = 0;
  }
  for (; size >= 32; p += 32, size -= 32) Stripe(lanes_, p);
  std::memcpy(stripe_, p, size);
  stripe_used_ = size;
}

uint64_t FileChecksum::Digest() const {
  uint64_t h;
  if (length_ >= 32) {
    h = Rotl(lanes_[0], 1) + Rotl(lanes_[1], 7) + Rotl(lanes_[2], 12) + Rotl(lanes_[3], 18);
    for (uint64_t lane : lanes_) h = Merge(h, lane);
  } else {
    h = kPrime5;  // the seed (0) plus the fifth prime
  }
  h += length_;
  const unsigned char* p = stripe_;
  size_t left = stripe_used_;
  for (; left >= 8; p += 8, left -= 8) h = Rotl(h ^ Round(0, Load64(p)), 27) * kPrime1 + kPrime4;
  if (left >= 4) {
    h = Rotl(h ^ (uint64_t{Load32(p)} * kPrime1), 23) * kPrime2 + kPrime3;
    p += 4;
    left -= 4;
  }
  for (; left > 0; ++p, --left) h = Rotl(h ^ (*p * kPrime5), 11) * kPrime1;
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  h *= kPrime3;
  h ^= h >> 32;
  return h;
}

uint64_t ChecksumOf(const void* data, size_t size) {
  FileChecksum sum;
  sum.Update(data, size);
  return sum.Digest();
}

}  // namespace tools

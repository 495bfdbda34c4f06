#pragma once
// The checksum the backup copy compares a copy with its source by: XXH64
// (seed 0), fed block by block as the bytes go past. It runs at several
// bytes a cycle, so that checking a copy costs little next to copying it.
#include <cstddef>
#include <cstdint>

namespace tools {

class FileChecksum {
 public:
  FileChecksum();

  // Adds the next `size` bytes; blocks may have any length.
  void Update(const void* data, size_t size);
  // The checksum of everything added so far (more may be added after).
  uint64_t Digest() const;
  uint64_t length() const { return length_; }

 private:
  uint64_t lanes_[4];
  unsigned char stripe_[32];  // bytes of an unfinished 32-byte stripe
  size_t stripe_used_ = 0;
  uint64_t length_ = 0;
};

// The checksum of one buffer.
uint64_t ChecksumOf(const void* data, size_t size);

}  // namespace tools

#include "engine/ACSoundBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace engine {

bool ACSoundBuffer::Init(uint32_t capacity) {
  try {
    data_.assign(capacity, 0);
  } catch (const std::bad_alloc&) {
    data_.clear();
  }
  ResetRing();
  return data_.size() == capacity;
}

void ACSoundBuffer::ResetRing() {
  read_ = write_ = 0;
  full_ = false;
  end_ = capacity();
}

uint32_t ACSoundBuffer::FillLevel() const {
  if (write_ > read_) return write_ - read_;
  if (write_ < read_) return end_ - read_ + write_;
  return full_ ? end_ : 0;
}

uint32_t ACSoundBuffer::GetWriteRegion(uint32_t wanted, uint8_t** region) {
  if (full_ || data_.empty()) return 0;
  if (write_ >= read_) {
    if (capacity() - write_ >= wanted) {
      end_ = capacity();
      *region = data_.data() + write_;
      return wanted;
    }
    // It does not fit before the end: the data now ends here and writing goes
    // on at the start, up to the reader. With nothing buffered the reader
    // moves to the start too, or the wrap would take the whole ring for data.
    if (read_ == write_) {
      read_ = write_ = 0;
      end_ = capacity();
      *region = data_.data();
      return std::min(wanted, capacity());
    }
    if (read_ == 0) return 0;  // no room at the start either
    end_ = write_;
    write_ = 0;
  }
  *region = data_.data() + write_;
  return read_ - write_;
}

void ACSoundBuffer::Commit(uint32_t bytes) {
  if (data_.empty() || bytes == 0 || full_) return;
  const uint32_t room = write_ < read_ ? read_ - write_ : end_ - write_;
  write_ = (write_ + std::min(bytes, room)) % end_;
  if (write_ == read_) full_ = true;
}

uint32_t ACSoundBuffer::ReadInto(uint8_t* out, uint32_t bytes) {
  uint32_t done = 0;
  while (done < bytes && FillLevel() > 0) {
    const uint32_t limit = write_ > read_ ? write_ : end_;
    const uint32_t n = std::min(bytes - done, limit - read_);
    if (out) std::memcpy(out + done, data_.data() + read_, n);
    done += n;
    read_ += n;
    if (read_ >= end_ && write_ <= read_) {
      read_ = 0;
      end_ = capacity();
    }
    full_ = false;
    if (n == 0) break;
  }
  return done;
}

uint32_t ACSoundBuffer::Read(uint8_t* first, uint32_t first_bytes, uint8_t* second, uint32_t second_bytes) {
  uint32_t done = first ? ReadInto(first, first_bytes) : 0;
  if (second && done == first_bytes) done += ReadInto(second, second_bytes);
  return done;
}

uint32_t ACSoundBuffer::Skip(uint32_t bytes) { return ReadInto(nullptr, bytes); }

}  // namespace engine

#pragma once
// Builds AMF0 values into a byte vector: data records ("GPS" + ECMA array of
// fields) and the "onMetaData" arrays of recordings the project writes.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "QVVReader/Amf0.h"

namespace qvv {

class Amf0Writer {
 public:
  std::vector<uint8_t>& bytes() { return bytes_; }
  size_t size() const { return bytes_.size(); }

  void String(std::string_view text) {
    bytes_.push_back(kAmf0String);
    Raw16(text);
  }
  // An ECMA array: BeginArray, then Key + value pairs, then EndArray.
  void BeginArray(uint32_t count) {
    bytes_.push_back(kAmf0EcmaArray);
    Be32(count);
  }
  void Key(std::string_view key) { Raw16(key); }
  // Returns the offset of the 8 number bytes, for patching later.
  size_t Number(double value) {
    bytes_.push_back(kAmf0Number);
    const size_t at = bytes_.size();
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 56; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(bits >> shift));
    return at;
  }
  void Boolean(bool value) {
    bytes_.push_back(kAmf0Boolean);
    bytes_.push_back(value ? 1 : 0);
  }
  void EndArray() {
    bytes_.push_back(0);
    bytes_.push_back(0);
    bytes_.push_back(kAmf0ObjectEnd);
  }
  // Convenience for key/value pairs.
  size_t Field(std::string_view key, double value) {
    Key(key);
    return Number(value);
  }
  void Field(std::string_view key, std::string_view text) {
    Key(key);
    String(text);
  }

  static void PatchNumber(uint8_t* at, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  }

 private:
  void Raw16(std::string_view text) {
    const size_t n = text.size() > 0xFFFF ? 0xFFFF : text.size();
    bytes_.push_back(static_cast<uint8_t>(n >> 8));
    bytes_.push_back(static_cast<uint8_t>(n));
    bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
  }
  void Be32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(v >> shift));
  }
  std::vector<uint8_t> bytes_;
};

}  // namespace qvv

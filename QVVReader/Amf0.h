#pragma once
// AMF0 (Action Message Format 0, big-endian) as the recorder uses it: a data
// record is an AMF0 string naming it, then an ECMA array with its fields.
// The walker hands every number, boolean and string that stands under a key of
// an ECMA array to a Parse object; members of plain objects keep their keys to
// themselves.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvv {

enum Amf0Type : int {
  kAmf0Number = 0,
  kAmf0Boolean = 1,
  kAmf0String = 2,
  kAmf0Object = 3,
  kAmf0MovieClip = 4,
  kAmf0Null = 5,
  kAmf0Undefined = 6,
  kAmf0Reference = 7,
  kAmf0EcmaArray = 8,
  kAmf0ObjectEnd = 9,
  kAmf0StrictArray = 10,
  kAmf0Date = 11,
  kAmf0LongString = 12,
  kAmf0Unsupported = 13,
};

inline constexpr size_t kAmf0MaxString = 255;  // longer strings and keys end a walk

class Parse {
 public:
  virtual ~Parse() = default;
  virtual void Reset() = 0;
  // number: numbers and booleans (0/1); text: strings; type: the AMF0 type.
  virtual void Value(double number, std::string_view text, int type, std::string_view key) = 0;
};

// Walks one value at `data` (advanced, with `remaining`), under `key` when it
// stands in an ECMA array. 0 on success, negative on failure.
int Amf0Walk(const uint8_t*& data, size_t& remaining, std::optional<std::string_view> key, Parse* parse);

// Walks values while bytes remain, stopping at the first failure (returned).
int Amf0WalkAll(const uint8_t* data, size_t size, Parse* parse);

// The record name: the leading AMF0 string of a data record, if there is one.
std::optional<std::string> Amf0RecordName(const uint8_t* data, size_t size);

// Saturating conversion of an AMF0 number to a 32-bit integer (truncating; NaN is 0).
int32_t Amf0ToInt32(double value);
int64_t Amf0ToInt64(double value);

}  // namespace qvv

#include "QVVReader/Amf0.h"

#include <cmath>
#include <cstring>

namespace qvv {
namespace {

// Nesting deeper than this is not a record the recorder writes; it ends the
// walk instead of the stack.
constexpr int kMaxDepth = 32;

bool Take(const uint8_t*& data, size_t& remaining, size_t n) {
  if (remaining < n) return false;
  data += n;
  remaining -= n;
  return true;
}

uint32_t Be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

int Walk(const uint8_t*& data, size_t& remaining, std::optional<std::string_view> key, Parse* parse, int depth) {
  if (depth > kMaxDepth) return -3;
  int type = kAmf0Number;  // nothing left reads as a number, which then fails for want of bytes
  if (remaining > 0) {
    type = *data;
    Take(data, remaining, 1);
  }
  if (type > kAmf0Unsupported) return -1;

  double number = 0.0;
  char text[kAmf0MaxString + 1] = {};
  switch (type) {
    case kAmf0Number: {
      if (remaining < 8) return -1;
      uint64_t bits = (static_cast<uint64_t>(Be(data, 4)) << 32) | Be(data + 4, 4);
      std::memcpy(&number, &bits, sizeof number);
      Take(data, remaining, 8);
      break;
    }
    case kAmf0Boolean:
      if (remaining < 1) return -1;
      number = *data;
      Take(data, remaining, 1);
      break;
    case kAmf0String: {
      if (remaining < 2) return -1;
      const size_t length = Be(data, 2);
      Take(data, remaining, 2);
      if (length > remaining) return -1;
      if (length > kAmf0MaxString) return -2;
      std::memcpy(text, data, length);
      text[length] = '\0';
      Take(data, remaining, length);
      break;
    }
    case kAmf0Null:
    case kAmf0Undefined:
    case kAmf0Unsupported:
      return 0;
    case kAmf0Object: {
      for (;;) {
        if (remaining < 2) return -1;
        const size_t length = Be(data, 2);
        Take(data, remaining, 2);
        if (length == 0) break;
        if (length >= remaining) return -1;
        Take(data, remaining, length);  // members keep their keys to themselves
        const int r = Walk(data, remaining, std::nullopt, parse, depth + 1);
        if (r < 0) return r;
      }
      if (remaining < 1 || *data != kAmf0ObjectEnd) return -1;
      Take(data, remaining, 1);
      return 0;
    }
    case kAmf0EcmaArray: {
      if (remaining > 4) Take(data, remaining, 4);  // the count is not trusted
      for (;;) {
        if (remaining < 2) return -1;
        const size_t length = Be(data, 2);
        Take(data, remaining, 2);
        if (length > remaining || length > kAmf0MaxString) break;
        char name[kAmf0MaxString + 1];
        std::memcpy(name, data, length);
        name[length] = '\0';
        Take(data, remaining, length);
        if (length == 0) break;
        const int r = Walk(data, remaining, std::string_view(name, length), parse, depth + 1);
        if (r < 0) return r;
      }
      if (remaining < 1 || *data != kAmf0ObjectEnd) return -1;
      Take(data, remaining, 1);
      return 0;
    }
    case kAmf0StrictArray: {
      if (remaining < 4) return -1;
      uint32_t count = Be(data, 4);
      Take(data, remaining, 4);
      // Every value takes at least one byte, so the count cannot outrun the data.
      while (count-- > 0) {
        const int r = Walk(data, remaining, std::nullopt, parse, depth + 1);
        if (r < 0) return r;
      }
      return 0;
    }
    case kAmf0Date:
      if (remaining > 10) Take(data, remaining, 10);
      return 0;
    default:  // movie clip, reference, object end and long string are not values here
      return -1;
  }
  if (key && parse) parse->Value(number, text, type, *key);
  return 0;
}

}  // namespace

int Amf0Walk(const uint8_t*& data, size_t& remaining, std::optional<std::string_view> key, Parse* parse) {
  return Walk(data, remaining, key, parse, 0);
}

int Amf0WalkAll(const uint8_t* data, size_t size, Parse* parse) {
  while (size > 0) {
    const int r = Walk(data, size, std::nullopt, parse, 0);
    if (r < 0) return r;
  }
  return 0;
}

std::optional<std::string> Amf0RecordName(const uint8_t* data, size_t size) {
  if (size < 3 || data[0] != kAmf0String) return std::nullopt;
  const size_t length = Be(data + 1, 2);
  if (length > kAmf0MaxString || length + 3 > size) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(data + 3), length);
}

int32_t Amf0ToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int64_t Amf0ToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2233720368547748e18) return INT64_MAX;
  if (value <= -9.2233720368547758e18) return INT64_MIN;
  return static_cast<int64_t>(value);
}

}  // namespace qvv

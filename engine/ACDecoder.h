#pragma once
// The decoders' small class family: owners reset and destroy a decoder without
// knowing its codec.
#include <cstdint>

namespace engine {

class ACCoder {
 public:
  virtual ~ACCoder() = default;
  virtual int Reset() { return 1; }
  int SetUserValue(int64_t value) {
    user_value_ = value;
    return 1;
  }
  int ClearUserValue() {
    user_value_ = 0;
    return 1;
  }
  int64_t user_value() const { return user_value_; }

 private:
  int64_t user_value_ = 0;
};

class ACDecoder : public virtual ACCoder {
 public:
  virtual void SetWidth(int) {}
  virtual void SetHeight(int) {}
  int ResetDecoder() { return Reset(); }
  virtual int Status() const { return 0; }
};

}  // namespace engine

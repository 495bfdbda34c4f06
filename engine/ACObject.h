#pragma once
// Base of every engine queue and of the other shared engine objects: a
// reference count, a process-wide serial number and the object lock that users
// take around every access to the object's contents. Always inherited virtually.
#include <cstdint>

#include "platform/CriticalSection.h"

namespace engine {

class ACObject {
 public:
  ACObject();
  virtual ~ACObject();
  ACObject(const ACObject&) = delete;
  ACObject& operator=(const ACObject&) = delete;

  virtual uint32_t AddRef();
  // A count of 0 stays 0 (nothing is destroyed); 1 -> 0 deletes the object.
  virtual uint32_t Release();
  virtual int Reserved1() { return 0; }
  virtual int Reserved2() { return 0; }
  virtual int IsReady(int* ready);
  virtual const char* GetClassName() const { return "ACObject"; }
  virtual uint32_t GetSerial() const { return serial_; }
  // timeout_ms: -1 waits forever; 0 tries once; otherwise polls every 100 ms
  // until the time-out has passed. Returns 1 when the lock is taken, else 0.
  virtual int Lock(int timeout_ms);
  virtual void Unlock();

  uint32_t RefCount() const;

 private:
  uint32_t ref_count_ = 0;                // guarded by count_lock_
  const uint32_t serial_;
  mutable platform::CriticalSection count_lock_;
  platform::CriticalSection object_lock_;
};

// Lock(-1) for the scope.
class ObjectLock {
 public:
  explicit ObjectLock(ACObject& object) : object_(object) { object_.Lock(-1); }
  ~ObjectLock() { object_.Unlock(); }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;

 private:
  ACObject& object_;
};

}  // namespace engine

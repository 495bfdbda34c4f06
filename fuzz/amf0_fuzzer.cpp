// libFuzzer target: one data record through the AMF0 walk with each parser.
#include <cstddef>
#include <cstdint>

#include "QVVReader/Amf0.h"
#include "QVVReader/RecordParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvv::GPSParse gps;
  qvv::GSensorParse sensor;
  qvv::AlgParse alg;
  qvv::Amf0RecordName(data, size);
  qvv::Amf0WalkAll(data, size, &gps);
  qvv::Amf0WalkAll(data, size, &sensor);
  qvv::Amf0WalkAll(data, size, &alg);
  if (alg.record.circles.size() > 4096 || gps.car_info.size() > 4 * 256) __builtin_trap();
  return 0;
}

// libFuzzer target: the AVI reader (header, idx1 and OpenDML indexes, scan,
// index reading, seek, reverse play).
#include "QVVReader/AviDemuxer.h"
#include "fuzz/container_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzContainer<qvv::AviDemuxer>(data, size, "20240102030405_0001_01.avi");
  return 0;
}

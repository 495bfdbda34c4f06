// libFuzzer target: the FLV reader (tags, metadata, sequence headers, seek,
// reverse play).
#include "QVVReader/FlvDemuxer.h"
#include "fuzz/container_fuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzContainer<qvv::FlvDemuxer>(data, size, "20240102030405_0001_01.flv");
  return 0;
}

// libFuzzer target: the QVV reader over arbitrary bytes, forward, in reverse
// and seeking. The first byte picks the header form and a seek target.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QVVReader/ByteIO.h"
#include "QVVReader/QvvDemuxer.h"

namespace {

// Reads packets with a bound that a looping reader would exceed.
void Drain(qvv::QvvDemuxer& demuxer, bool reverse, size_t input_size) {
  qvv::ReaderPacket packet;
  const size_t limit = input_size + 16;  // every packet consumes at least one byte of input
  for (size_t n = 0; n < limit; ++n) {
    const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
    if (r < 0) return;
    if (packet.size > 0 && packet.data[static_cast<size_t>(packet.size) + 7] != 0) __builtin_trap();  // padding
  }
  if (!reverse) __builtin_trap();  // forward reading must end within the input
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  // The header form follows the name's length.
  const std::string name = (control & 1) ? std::string(113, 'x') + ".qvv" : "20240102030405_1000.qvv";
  {
    qvv::ByteIOContext* pb = qvv::url_open_memory(data, size);
    qvv::QvvDemuxer demuxer;
    if (demuxer.Open(pb, name) == 0) {
      demuxer.ReadLeadingMetadata();
      if (control & 2) demuxer.Seek(static_cast<int64_t>(control >> 2) * 250000);
      Drain(demuxer, false, size);
    }
    // Work in proportion to the input (see container_fuzzer.h).
    if (pb->read_calls > 10000 + 100 * (size / qvv::kDefaultBufferSize)) __builtin_trap();
    qvv::url_fclose(pb);
  }
  {
    qvv::ByteIOContext* pb = qvv::url_open_memory(data, size);
    qvv::QvvDemuxer demuxer;
    if (demuxer.OpenReverse(pb, name) == 0) Drain(demuxer, true, size);
    qvv::url_fclose(pb);
  }
  return 0;
}

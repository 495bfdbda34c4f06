#pragma once
// Shared body of the per-container fuzz targets: open over memory, read
// forwards (after a seek chosen by the first byte), then in reverse; every read
// loop must end within the input, in buffer refills in proportion to it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Demuxer.h"

template <typename DemuxerType>
void FuzzContainer(const uint8_t* data, size_t size, const std::string& name) {
  if (size < 1) return;
  const uint8_t control = data[0];
  ++data;
  --size;
  const size_t limit = size + 16;  // every packet takes at least one byte
  for (int reverse = 0; reverse < 2; ++reverse) {
    qvv::ByteIOContext* pb = qvv::url_open_memory(data, size);
    DemuxerType demuxer;
    const int opened = reverse ? demuxer.OpenReverse(pb, name) : demuxer.Open(pb, name);
    if (opened == 0) {
      if (!reverse && (control & 1)) demuxer.Seek(static_cast<int64_t>(control >> 1) * 100000);
      qvv::ReaderPacket packet;
      size_t n = 0;
      for (; n < limit * 2; ++n) {
        const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
        if (r < 0) break;
        if (packet.size > 0 && packet.data[static_cast<size_t>(packet.size)] != 0) __builtin_trap();  // padding
      }
      if (!reverse && n >= limit * 2) __builtin_trap();  // forward reading did not end
    }
    // Work in proportion to the input, whatever the machine: a reader that
    // seeks and refills for every byte is a finding even when it is quick.
    if (!reverse && pb->read_calls > 10000 + 100 * (size / qvv::kDefaultBufferSize)) __builtin_trap();
    qvv::url_fclose(pb);
  }
}

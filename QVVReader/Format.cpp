#include "QVVReader/Format.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qvv {

AVStream* AVFormatContext::FindStream(int32_t stream_number) const {
  for (int i = 0; i < nb_streams; ++i) {
    if (streams[static_cast<size_t>(i)] && streams[static_cast<size_t>(i)]->stream_number == stream_number)
      return streams[static_cast<size_t>(i)].get();
  }
  return nullptr;
}

AVStream* av_new_stream(AVFormatContext* s, int id) {
  if (s->nb_streams >= kMaxStreams) return nullptr;
  auto stream = std::make_unique<AVStream>();
  stream->stream_number = id;
  AVStream* raw = stream.get();
  s->streams[static_cast<size_t>(s->nb_streams++)] = std::move(stream);
  return raw;
}

bool ReaderPacket::Reserve(int32_t payload_size) {
  if (payload_size < 0) return false;
  const int64_t needed = static_cast<int64_t>(payload_size) + kPadding;
  if (data && needed <= capacity) {
    std::memset(data.get() + payload_size, 0, kPadding);
    return true;
  }
  const int64_t grown = std::max<int64_t>(needed, static_cast<int64_t>(kMinCapacity) + kPadding);
  // Only the padding after the payload needs to be zero; the payload is read over the rest.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(grown)]);
  if (!buffer) return false;
  data = std::move(buffer);
  capacity = static_cast<int32_t>(grown);
  std::memset(data.get() + payload_size, 0, kPadding);
  return true;
}

void ReaderPacket::Release() {
  data.reset();
  capacity = 0;
  size = 0;
}

}  // namespace qvv

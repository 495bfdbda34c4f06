#include "QVVReader/QvvWriter.h"

#include <cstdio>

#include "QVVReader/Amf0Writer.h"
#include "QVVReader/QvvDemuxer.h"

namespace qvv {

QvvWriter::~QvvWriter() {
  if (pb_) url_fclose(pb_);
}

int QvvWriter::Open(const std::string& path, const QvvFileConfig& config) {
  if (pb_) return kErrInvalid;
  const int declared = config.video + config.audio + config.data;
  if (config.long_header) {
    if (config.video > 255 || config.audio > 255 || config.data > 255) return kErrInvalid;
  } else if (config.video > 7 || config.audio > 7 || config.data > 3 || declared == 0) {
    return kErrInvalid;  // one count byte: 3 + 3 + 2 bits, and 0 would mean 4/4/1
  }
  const int r = url_fopen(&pb_, path.c_str(), kUrlWriteOnly);
  if (r < 0) return r;

  put_tag(pb_, "QVV");
  put_byte(pb_, 1);
  if (config.long_header) {
    put_byte(pb_, config.video);
    put_byte(pb_, config.audio);
    put_byte(pb_, config.data);
  } else {
    put_byte(pb_, (config.video << 5) | (config.audio << 2) | config.data);
  }
  const int64_t data_offset = url_ftell(pb_) + 4;
  put_be32(pb_, static_cast<unsigned>(data_offset));
  put_be32(pb_, 0);  // PreviousTagSize before the first tag

  Amf0Writer amf;
  amf.String("onMetaData");
  amf.BeginArray(4);
  const size_t filesize_at = amf.Field("filesize", 0);
  amf.Field("start_time", static_cast<double>(config.start_time));
  const size_t duration_at = amf.Field("duration", 0);
  amf.Field("busnum", config.bus_number);
  amf.EndArray();
  for (size_t i = 0; i < static_cast<size_t>(declared); ++i) {
    const QvvStreamConfig sc = i < config.streams.size() ? config.streams[i] : QvvStreamConfig{};
    amf.BeginArray(8);
    amf.Field("streamtype", sc.kind);
    amf.Field("streamid", static_cast<double>(i));
    if (sc.kind == 0) {
      amf.Field("width", sc.width);
      amf.Field("height", sc.height);
      amf.Field("framerate", sc.frame_rate);
      amf.Field("videodatarate", sc.bit_rate_kbit);
      amf.Field("videocodecid", sc.codec_id == 22 ? 2 : 7);
    } else if (sc.kind == 1) {
      amf.Field("audiocodecid", sc.codec_id);
      amf.Field("audiosamplerate", sc.sample_rate);
      amf.Field("audiosamplesize", sc.sample_size);
      amf.Key("stereo");
      amf.Boolean(sc.channels == 2);
    }
    amf.EndArray();
  }
  // Tag header + flags-less data: the metadata tag's data is the AMF0 body.
  const int64_t tag_pos = url_ftell(pb_);
  const auto& body = amf.bytes();
  put_byte(pb_, 0x01);
  put_byte(pb_, 0xFF);
  put_byte(pb_, 18);
  put_be24(pb_, static_cast<unsigned>(body.size()));
  put_be24(pb_, 0);
  put_byte(pb_, 0);
  put_be24(pb_, 0);
  const int64_t body_pos = url_ftell(pb_);
  put_buffer(pb_, body.data(), static_cast<int>(body.size()));
  put_be16(pb_, 0);
  put_be32(pb_, static_cast<unsigned>(body.size() + QvvDemuxer::kPreviousTagSizeExtra));
  filesize_at_ = body_pos + static_cast<int64_t>(filesize_at);
  duration_at_ = body_pos + static_cast<int64_t>(duration_at);
  (void)tag_pos;
  return url_ferror(pb_);
}

int QvvWriter::WriteTag(int type, uint32_t stream, uint32_t timestamp_us, uint8_t flags, const uint8_t* payload,
                        size_t size) {
  if (!pb_) return kErrInvalid;
  const size_t data_size = size + 1;
  if (data_size > 0xFFFFFF || stream > 0xFFFFFF) return kErrInvalid;
  put_byte(pb_, 0x01);
  put_byte(pb_, 0xFF);
  put_byte(pb_, type);
  put_be24(pb_, static_cast<unsigned>(data_size));
  put_be24(pb_, timestamp_us & 0xFFFFFF);
  put_byte(pb_, static_cast<int>(timestamp_us >> 24));
  put_be24(pb_, stream);
  put_byte(pb_, flags);
  put_buffer(pb_, payload, static_cast<int>(size));
  put_be16(pb_, 0);  // the two spare bytes the recorder leaves after the data
  put_be32(pb_, static_cast<unsigned>(data_size + QvvDemuxer::kPreviousTagSizeExtra));
  return url_ferror(pb_);
}

int QvvWriter::WriteRaw(const uint8_t* data, size_t size) {
  if (!pb_) return kErrInvalid;
  put_buffer(pb_, data, static_cast<int>(size));
  return url_ferror(pb_);
}

int QvvWriter::Finish(int64_t duration_ms) {
  if (!pb_) return kErrInvalid;
  put_flush_packet(pb_);
  const int64_t file_size = url_ftell(pb_);
  uint8_t number[8];
  Amf0Writer::PatchNumber(number, static_cast<double>(file_size));
  url_fseek(pb_, filesize_at_, SEEK_SET);
  put_buffer(pb_, number, 8);
  Amf0Writer::PatchNumber(number, static_cast<double>(duration_ms));
  url_fseek(pb_, duration_at_, SEEK_SET);
  put_buffer(pb_, number, 8);
  return url_fclose_written(pb_);
}

}  // namespace qvv

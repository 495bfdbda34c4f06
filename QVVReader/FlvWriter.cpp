#include "QVVReader/FlvWriter.h"

#include "QVVReader/Amf0Writer.h"

namespace qvv {
namespace {

// NAL units of an Annex B stream (start codes 00 00 01 or 00 00 00 01).
std::vector<std::pair<const uint8_t*, size_t>> NalUnits(const uint8_t* data, size_t size) {
  std::vector<std::pair<const uint8_t*, size_t>> units;
  size_t i = 0, start = SIZE_MAX;
  while (i + 3 <= size) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if (start != SIZE_MAX) {
        size_t end = i;
        while (end > start && data[end - 1] == 0) --end;  // trailing zero of a 4-byte start code
        units.emplace_back(data + start, end - start);
      }
      i += 3;
      start = i;
    } else {
      ++i;
    }
  }
  if (start != SIZE_MAX && start < size) units.emplace_back(data + start, size - start);
  return units;
}

}  // namespace

FlvWriter::~FlvWriter() {
  if (pb_) url_fclose(pb_);
}

std::vector<uint8_t> FlvWriter::AnnexBToLengthPrefixed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  for (const auto& [nal, n] : NalUnits(data, size)) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
    out.insert(out.end(), nal, nal + n);
  }
  return out;
}

std::vector<uint8_t> FlvWriter::AvccFromAnnexB(const uint8_t* data, size_t size) {
  std::pair<const uint8_t*, size_t> sps{nullptr, 0}, pps{nullptr, 0};
  for (const auto& unit : NalUnits(data, size)) {
    if (unit.second == 0) continue;
    const int type = unit.first[0] & 0x1F;
    if (type == 7 && !sps.first) sps = unit;
    if (type == 8 && !pps.first) pps = unit;
  }
  if (!sps.first || sps.second < 4 || !pps.first) return {};
  std::vector<uint8_t> avcc = {1, sps.first[1], sps.first[2], sps.first[3], 0xFF, 0xE1};
  avcc.push_back(static_cast<uint8_t>(sps.second >> 8));
  avcc.push_back(static_cast<uint8_t>(sps.second));
  avcc.insert(avcc.end(), sps.first, sps.first + sps.second);
  avcc.push_back(1);
  avcc.push_back(static_cast<uint8_t>(pps.second >> 8));
  avcc.push_back(static_cast<uint8_t>(pps.second));
  avcc.insert(avcc.end(), pps.first, pps.first + pps.second);
  return avcc;
}

int FlvWriter::Open(const std::string& path, const FlvConfig& config) {
  if (pb_) return kErrInvalid;
  config_ = config;
  const int r = url_fopen(&pb_, path.c_str(), kUrlWriteOnly);
  if (r < 0) return r;
  put_tag(pb_, "FLV");
  put_byte(pb_, 1);
  put_byte(pb_, (config.video ? 1 : 0) | (config.audio ? 4 : 0));
  put_be32(pb_, 9);
  put_be32(pb_, 0);  // PreviousTagSize of no tag
  Amf0Writer amf;
  amf.String("onMetaData");
  amf.BeginArray(8);
  amf.Field("duration", config.duration_seconds);
  if (config.video) {
    amf.Field("width", config.width);
    amf.Field("height", config.height);
    amf.Field("framerate", config.frame_rate);
    amf.Field("videocodecid", 7);
  }
  if (config.audio) {
    amf.Field("audiocodecid", config.audio_format);
    amf.Field("audiosamplerate", config.sample_rate);
    amf.Field("audiosamplesize", 16);
  }
  amf.EndArray();
  return Tag(18, 0, {}, amf.bytes().data(), amf.size());
}

int FlvWriter::Tag(int type, uint32_t ms, const std::vector<uint8_t>& prefix, const uint8_t* data, size_t size) {
  if (!pb_) return kErrInvalid;
  const size_t data_size = prefix.size() + size;
  if (data_size > 0xFFFFFF) return kErrInvalid;
  put_byte(pb_, type);
  put_be24(pb_, static_cast<unsigned>(data_size));
  put_be24(pb_, ms & 0xFFFFFF);
  put_byte(pb_, static_cast<int>(ms >> 24));
  put_be24(pb_, 0);
  if (!prefix.empty()) put_buffer(pb_, prefix.data(), static_cast<int>(prefix.size()));
  if (size) put_buffer(pb_, data, static_cast<int>(size));
  put_be32(pb_, static_cast<unsigned>(data_size + 11));
  return url_ferror(pb_);
}

int FlvWriter::WriteVideoSequenceHeader(const std::vector<uint8_t>& avcc) {
  return Tag(9, 0, {0x17, 0, 0, 0, 0}, avcc.data(), avcc.size());
}

int FlvWriter::WriteAacSequenceHeader(const std::vector<uint8_t>& asc) {
  return Tag(8, 0, {0xAE, 0}, asc.data(), asc.size());
}

int FlvWriter::WriteVideo(uint32_t dts_ms, int32_t cts_ms, bool key, const uint8_t* data, size_t size) {
  const auto cts = static_cast<uint32_t>(cts_ms);
  return Tag(9, dts_ms,
             {static_cast<uint8_t>(key ? 0x17 : 0x27), 1, static_cast<uint8_t>(cts >> 16), static_cast<uint8_t>(cts >> 8),
              static_cast<uint8_t>(cts)},
             data, size);
}

int FlvWriter::WriteAudio(uint32_t ms, const uint8_t* data, size_t size) {
  // Sound format, rate index, 16-bit, mono. AAC always says 44 kHz (its real
  // rate is in the sequence header); the others say theirs, or a reader plays
  // them at the wrong speed.
  int rate_index = 3;
  if (config_.audio_format != 10) {
    if (config_.sample_rate <= 5512) rate_index = 0;
    else if (config_.sample_rate <= 11025) rate_index = 1;
    else if (config_.sample_rate <= 22050) rate_index = 2;
  }
  const uint8_t flags = static_cast<uint8_t>((config_.audio_format << 4) | (rate_index << 2) | 0x02);
  if (config_.audio_format == 10) return Tag(8, ms, {flags, 1}, data, size);
  return Tag(8, ms, {flags}, data, size);
}

int FlvWriter::WriteRecord(uint32_t ms, const uint8_t* amf0, size_t size) { return Tag(16, ms, {0x10}, amf0, size); }

int FlvWriter::Finish() {
  if (!pb_) return kErrInvalid;
  return url_fclose_written(pb_);
}

}  // namespace qvv

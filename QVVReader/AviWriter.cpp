#include "QVVReader/AviWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qvv {
namespace {

void PutU16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void PutU32(std::vector<uint8_t>& v, uint32_t x) {
  PutU16(v, x & 0xFFFF);
  PutU16(v, x >> 16);
}

}  // namespace

std::vector<uint8_t> AviWriter::BitmapInfoHeader(int width, int height, uint32_t fourcc,
                                                 const std::vector<uint8_t>& extradata) {
  std::vector<uint8_t> v;
  PutU32(v, static_cast<uint32_t>(40 + extradata.size()));
  PutU32(v, static_cast<uint32_t>(width));
  PutU32(v, static_cast<uint32_t>(height));
  PutU16(v, 1);   // planes
  PutU16(v, 24);  // bits per pixel
  PutU32(v, fourcc);
  PutU32(v, static_cast<uint32_t>(width * height * 3));
  PutU32(v, 0);
  PutU32(v, 0);
  PutU32(v, 0);
  PutU32(v, 0);
  v.insert(v.end(), extradata.begin(), extradata.end());
  return v;
}

AviWriter::~AviWriter() {
  if (pb_) url_fclose(pb_);
}

int64_t AviWriter::StartTag(const char* tag) {
  put_tag(pb_, tag);
  put_le32(pb_, 0);
  return url_ftell(pb_);
}

void AviWriter::EndTag(int64_t start) {
  const int64_t end = url_ftell(pb_);
  if (!seekable_) return;
  url_fseek(pb_, start - 4, SEEK_SET);
  put_le32(pb_, static_cast<unsigned>(end - start));
  url_fseek(pb_, end, SEEK_SET);
}

void AviWriter::StartRiff(const char* form) {
  ++riff_count_;
  riff_start_ = StartTag("RIFF");
  put_tag(pb_, form);
  movi_start_tag_ = StartTag("LIST");
  movi_list_ = url_ftell(pb_);
  put_tag(pb_, "movi");
  for (auto& s : streams_) s.entries.clear();
}

int AviWriter::Begin(const std::string& path, const std::vector<AviClipStream>& configs, uint32_t cipher_marker,
                     const std::map<std::string, std::string>& tags) {
  if (pb_ || configs.empty() || configs.size() > 10) return kErrInvalid;
  const int r = url_fopen(&pb_, path.c_str(), kUrlWriteOnly);
  if (r < 0) return r;
  seekable_ = !pb_->is_streamed;
  streams_.clear();
  for (size_t i = 0; i < configs.size(); ++i) {
    Stream s;
    s.config = configs[i];
    const int64_t g = av_gcd(s.config.time_base.num, s.config.time_base.den);
    if (g > 0) s.config.time_base = {static_cast<int32_t>(s.config.time_base.num / g), static_cast<int32_t>(s.config.time_base.den / g)};
    std::snprintf(s.chunk_id, sizeof s.chunk_id, "0%d%s", static_cast<int>(i), s.config.kind == 0 ? "dc" : "wb");
    streams_.push_back(std::move(s));
  }
  const AviClipStream* video = nullptr;
  int64_t bit_rate = 0;
  for (const auto& s : streams_) {
    if (s.config.kind == 0 && !video) video = &s.config;
    bit_rate += s.config.bit_rate;
  }

  riff_count_ = 1;
  riff_start_ = StartTag("RIFF");
  put_tag(pb_, "AVI ");
  const int64_t hdrl = StartTag("LIST");
  put_tag(pb_, "hdrl");
  const int64_t avih = StartTag("avih");
  const int64_t us_per_frame =
      video && video->time_base.den ? 1000000LL * video->time_base.num / video->time_base.den : 0;
  put_le32(pb_, static_cast<unsigned>(us_per_frame));
  put_le32(pb_, static_cast<unsigned>(bit_rate / 8));
  put_le32(pb_, 0);  // padding granularity
  put_le32(pb_, seekable_ ? 0x910 : 0x900);  // has index, interleaved, trust chunk type
  avih_frames_ = url_ftell(pb_);
  put_le32(pb_, 0);  // total frames, patched at the end
  put_le32(pb_, 0);
  put_le32(pb_, static_cast<unsigned>(streams_.size()));
  put_le32(pb_, 0x100000);
  put_le32(pb_, video ? static_cast<unsigned>(video->width) : 0);
  put_le32(pb_, video ? static_cast<unsigned>(video->height) : 0);
  put_le32(pb_, cipher_marker);  // reserved[0]: the recorder's cipher marker
  put_le32(pb_, 0);
  put_le32(pb_, 0);
  put_le32(pb_, 0);
  EndTag(avih);

  for (auto& s : streams_) {
    const AviClipStream& c = s.config;
    const int64_t strl = StartTag("LIST");
    put_tag(pb_, "strl");
    const int64_t strh = StartTag("strh");
    put_tag(pb_, c.kind == 0 ? "vids" : c.kind == 1 ? "auds" : "dats");
    put_le32(pb_, c.kind == 0 ? c.codec_tag : 1);
    put_le32(pb_, 0);  // flags
    put_le16(pb_, 0);  // priority
    put_le16(pb_, 0);  // language
    put_le32(pb_, 0);  // initial frames
    put_le32(pb_, static_cast<unsigned>(c.time_base.num));
    put_le32(pb_, static_cast<unsigned>(c.time_base.den));
    put_le32(pb_, 0);  // start
    s.length_field = url_ftell(pb_);
    put_le32(pb_, seekable_ ? 0 : 0x40000000);
    put_le32(pb_, c.kind == 0 ? 0x100000 : c.kind == 1 ? 12288 : 0);
    put_le32(pb_, 0xFFFFFFFF);  // quality
    put_le32(pb_, static_cast<unsigned>(c.sample_size));
    put_le16(pb_, 0);
    put_le16(pb_, 0);
    put_le16(pb_, static_cast<unsigned>(c.width));
    put_le16(pb_, static_cast<unsigned>(c.height));
    EndTag(strh);
    if (c.kind != 2 && !c.format.empty()) {
      const int64_t strf = StartTag("strf");
      put_buffer(pb_, c.format.data(), static_cast<int>(c.format.size()));
      if (c.format.size() & 1) put_byte(pb_, 0);
      EndTag(strf);
    }
    if (seekable_) {
      // Room for the OpenDML super index, filled in at the end.
      s.super_index = StartTag("JUNK");
      put_le16(pb_, 4);
      put_byte(pb_, 0);
      put_byte(pb_, 0);
      put_le32(pb_, 0);
      put_tag(pb_, s.chunk_id);
      put_le64(pb_, 0);
      for (int j = 0; j < kMasterIndexSize * 2; ++j) put_le64(pb_, 0);
      EndTag(s.super_index);
    }
    EndTag(strl);
  }
  if (seekable_) {
    odml_list_ = StartTag("JUNK");
    put_tag(pb_, "odml");
    put_tag(pb_, "dmlh");
    put_le32(pb_, 248);
    for (int i = 0; i < 248; ++i) put_byte(pb_, 0);
    EndTag(odml_list_);
  }
  EndTag(hdrl);

  const int64_t info = StartTag("LIST");
  put_tag(pb_, "INFO");
  static const std::pair<const char*, const char*> kInfo[] = {{"INAM", "Title"},     {"IART", "Artist"},
                                                              {"ICOP", "Copyright"}, {"ICMT", "Comment"},
                                                              {"IPRD", "Album"},     {"IGNR", "Genre"},
                                                              {"IPRT", "Track"}};
  for (const auto& [code, key] : kInfo) {
    auto it = tags.find(key);
    if (it == tags.end() && std::string(key) == "Artist") it = tags.find("Author");
    if (it == tags.end() || it->second.empty()) continue;
    put_tag(pb_, code);
    put_le32(pb_, static_cast<unsigned>(it->second.size() + 1));
    put_strz(pb_, it->second.c_str());
    if ((it->second.size() + 1) & 1) put_byte(pb_, 0);
  }
  put_tag(pb_, "ISFT");
  put_le32(pb_, 12);
  put_strz(pb_, "Lavf52.31.0");
  EndTag(info);
  const int64_t junk = StartTag("JUNK");
  for (int i = 0; i < 1016; ++i) put_byte(pb_, 0);
  EndTag(junk);

  movi_start_tag_ = StartTag("LIST");
  movi_list_ = url_ftell(pb_);
  put_tag(pb_, "movi");
  return url_ferror(pb_);
}

int AviWriter::WriteChunk(Stream& s, bool key, const uint8_t* data, size_t size) {
  if (seekable_ && url_ftell(pb_) - riff_start_ > max_riff_size_) {
    WriteStandardIndexes();
    EndTag(movi_start_tag_);
    if (riff_count_ == 1) WriteIdx1();
    EndTag(riff_start_);
    StartRiff("AVIX");
  }
  s.entries.push_back({key ? 0x10u : 0u, url_ftell(pb_) - movi_list_, static_cast<uint32_t>(size)});
  if (riff_count_ == 1) s.first_riff_entries.push_back(s.entries.back());
  put_tag(pb_, s.chunk_id);
  put_le32(pb_, static_cast<unsigned>(size));
  if (size) put_buffer(pb_, data, static_cast<int>(size));
  if (size & 1) put_byte(pb_, 0);
  ++s.frames_written;
  s.audio_bytes += static_cast<int64_t>(size);
  return url_ferror(pb_);
}

int AviWriter::WritePacket(int stream, int64_t dts, bool key, const uint8_t* data, size_t size) {
  if (!pb_ || stream < 0 || stream >= static_cast<int>(streams_.size()) || size > 0x7FFFFFF0) return kErrInvalid;
  Stream& s = streams_[static_cast<size_t>(stream)];
  if (s.config.sample_size == 0) {
    // Empty chunks keep the timeline: one for every frame missing before dts.
    while (s.frames_written < dts) {
      const int r = WriteChunk(s, false, nullptr, 0);
      if (r < 0) return r;
    }
  }
  return WriteChunk(s, key, data, size);
}

void AviWriter::WriteStandardIndexes() {
  for (size_t i = 0; i < streams_.size(); ++i) {
    Stream& s = streams_[i];
    if (s.entries.empty() || s.master_entries >= kMasterIndexSize) continue;
    const int64_t ix = url_ftell(pb_);
    char tag[5];
    std::snprintf(tag, sizeof tag, "ix0%d", static_cast<int>(i));
    put_tag(pb_, tag);
    put_le32(pb_, static_cast<unsigned>(s.entries.size() * 8 + 24));
    put_le16(pb_, 2);
    put_byte(pb_, 0);
    put_byte(pb_, 1);  // index of chunks
    put_le32(pb_, static_cast<unsigned>(s.entries.size()));
    put_tag(pb_, s.chunk_id);
    put_le64(pb_, static_cast<uint64_t>(movi_list_));
    put_le32(pb_, 0);
    for (const Entry& e : s.entries) {
      put_le32(pb_, static_cast<unsigned>(e.pos + 8));
      put_le32(pb_, (e.size & 0x7FFFFFFF) | ((e.flags & 0x10) ? 0 : 0x80000000u));
    }
    const int64_t end = url_ftell(pb_);
    // One more entry of the super index.
    url_fseek(pb_, s.super_index - 8, SEEK_SET);
    put_tag(pb_, "indx");
    url_fseek(pb_, s.super_index + 4, SEEK_SET);
    put_le32(pb_, static_cast<unsigned>(s.master_entries + 1));
    url_fseek(pb_, s.super_index + 24 + 16 * s.master_entries, SEEK_SET);
    put_le64(pb_, static_cast<uint64_t>(ix));
    put_le32(pb_, static_cast<unsigned>(end - ix));
    put_le32(pb_, static_cast<unsigned>(s.entries.size()));
    ++s.master_entries;
    url_fseek(pb_, end, SEEK_SET);
  }
}

void AviWriter::WriteIdx1() {
  const int64_t idx1 = StartTag("idx1");
  // All streams' chunks of the first RIFF in file order.
  std::vector<std::pair<const Entry*, const Stream*>> all;
  for (const auto& s : streams_) {
    for (const auto& e : s.first_riff_entries) all.emplace_back(&e, &s);
  }
  std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first->pos < b.first->pos; });
  for (const auto& [e, s] : all) {
    put_tag(pb_, s->chunk_id);
    put_le32(pb_, e->flags);
    put_le32(pb_, static_cast<unsigned>(e->pos));
    put_le32(pb_, e->size);
  }
  EndTag(idx1);
}

int AviWriter::Finish() {
  if (!pb_) return kErrInvalid;
  if (seekable_) {
    WriteStandardIndexes();
    EndTag(movi_start_tag_);
    if (riff_count_ == 1) WriteIdx1();
    EndTag(riff_start_);
    const int64_t end = url_ftell(pb_);
    int64_t video_frames = 0;
    for (const auto& s : streams_) {
      const int64_t length = s.config.sample_size ? s.audio_bytes / s.config.sample_size : s.frames_written;
      url_fseek(pb_, s.length_field, SEEK_SET);
      put_le32(pb_, static_cast<unsigned>(length));
      if (s.config.kind == 0) video_frames = std::max(video_frames, s.frames_written);
    }
    url_fseek(pb_, avih_frames_, SEEK_SET);
    put_le32(pb_, static_cast<unsigned>(video_frames));
    // The reserved OpenDML header becomes "LIST" "odml" "dmlh" with the total frames.
    url_fseek(pb_, odml_list_ - 8, SEEK_SET);
    put_tag(pb_, "LIST");
    url_fseek(pb_, odml_list_ + 12, SEEK_SET);  // "odml", "dmlh", size, then the total frames
    put_le32(pb_, static_cast<unsigned>(video_frames));
    url_fseek(pb_, end, SEEK_SET);
  } else {
    EndTag(movi_start_tag_);
    EndTag(riff_start_);
  }
  return url_fclose_written(pb_);
}

}  // namespace qvv

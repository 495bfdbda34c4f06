// Damaged recordings of every container, made here from intact ones: garbage
// runs, damaged sizes in headers and tags, cut files, missing indexes, renamed
// forms. Each is refused, or read with everything that is intact, and the
// work done stays in proportion to the file (counted in buffer refills).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/AviWriter.h"
#include "QVVReader/FileName.h"
#include "QVVReader/FlvDemuxer.h"
#include "QVVReader/FlvWriter.h"
#include "QVVReader/FourCC.h"
#include "QVVReader/QvvDemuxer.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using namespace qvv;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

struct Packet {
  int stream;
  int64_t pts;
  bool key;
  std::string payload;
  bool operator==(const Packet&) const = default;
};

struct Reading {
  int open_status = 0;
  int end_status = 0;
  std::vector<Packet> packets;
  std::vector<int64_t> positions;  // of the payloads in the file
  DamageReport damage;
  uint64_t refills = 0;     // reads of the byte context
  uint64_t bytes_read = 0;  // and the bytes they brought
  int nb_streams = 0;
  int64_t duration_us = kNoPtsValue;
  int64_t file_size = 0;
};

// Opens `bytes` as a file called `name` and reads it to the end.
template <typename D>
Reading Read(const std::string& bytes, const std::string& name, bool reverse = false, int64_t seek_us = -1) {
  Reading out;
  ByteIOContext* pb = url_open_memory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  D demuxer;
  out.open_status = reverse ? demuxer.OpenReverse(pb, name) : demuxer.Open(pb, name);
  if (out.open_status == 0) {
    if (seek_us >= 0) EXPECT_TRUE(demuxer.Seek(seek_us));
    ReaderPacket packet;
    for (size_t guard = 0; guard < bytes.size(); ++guard) {
      const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
      if (r < 0) {
        out.end_status = r;
        break;
      }
      out.packets.push_back({packet.stream_index, packet.pts, (packet.flags & kPacketFlagKey) != 0,
                             std::string(reinterpret_cast<char*>(packet.data.get()), static_cast<size_t>(packet.size))});
      out.positions.push_back(packet.pos);
    }
    out.damage = demuxer.damage();
    out.nb_streams = demuxer.context().nb_streams;
    out.duration_us = demuxer.context().duration;
    out.file_size = demuxer.context().file_size;
  }
  out.refills = pb->read_calls;
  out.bytes_read = pb->bytes_read;
  url_fclose(pb);
  return out;
}

// `part` in order within `whole`, with at most `missing` packets left out and
// none that the intact file does not hold, except `foreign` ones (a packet that
// a hole cut into, whose size still reads right). `times`: whether times must
// match too.
void ExpectIntactSubsequence(const std::vector<Packet>& whole, const std::vector<Packet>& part, size_t missing,
                             bool times = true, size_t foreign = 0) {
  const auto same = [&](const Packet& a, const Packet& b) {
    return a.stream == b.stream && a.payload == b.payload && a.key == b.key && (!times || a.pts == b.pts);
  };
  size_t at = 0, found = 0, strangers = 0;
  for (const Packet& p : part) {
    size_t next = at;
    while (next < whole.size() && !same(whole[next], p)) ++next;
    if (next == whole.size()) {
      ++strangers;
      EXPECT_LE(strangers, foreign) << "a packet that the intact file does not hold: stream " << p.stream << " pts "
                                    << p.pts << " size " << p.payload.size();
      continue;
    }
    at = next + 1;
    ++found;
  }
  EXPECT_LE(whole.size() - found, missing);
}

// Linear work: every byte is read a few times at most, in about as many
// buffer refills as the file fills buffers.
void ExpectLinear(const Reading& r, size_t bytes) {
  EXPECT_LE(r.bytes_read, 4 * bytes + 4 * kDefaultBufferSize) << "bytes read for a file of " << bytes;
  EXPECT_LE(r.refills, 3 * (bytes / kDefaultBufferSize) + 24) << "buffer refills for " << bytes << " bytes";
}

std::string Random(size_t n, uint32_t seed, bool fake_markers) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  // Runs that look like tag starts, as in real payloads.
  for (size_t i = 0; fake_markers && i + 16 < n; i += 97) s.replace(i, 3, std::string("\x01\xff\x09", 3));
  return s;
}

// A big-endian field overwritten: what it is, where, with what, and how many
// packets that may cost.
struct Overwrite {
  const char* what;
  size_t at;
  uint32_t value;
  int bytes;
  size_t lost;
};

void PutBe(std::string& s, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * (n - 1 - i)));
}

// ------------------------------------------------------------------ QVV

class DamagedQvv : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::QvvSampleOptions o;
    o.video = 2;
    o.audio = 1;
    o.data = 1;
    o.seconds = 4;
    WriteQvvSample(dir_ / kName, o);
    bytes_ = ReadFileBytes(dir_ / kName);
    clean_ = Read<QvvDemuxer>(bytes_, kName);
    ASSERT_EQ(clean_.open_status, 0);
    ASSERT_GT(clean_.packets.size(), 50u);
    EXPECT_FALSE(clean_.damage.any());
  }
  // The marker of the n-th packet's tag (13 header bytes and the flags byte before the payload).
  size_t Tag(size_t n) const { return static_cast<size_t>(clean_.positions.at(n)) - 14; }
  static constexpr const char* kName = "20240102030405_1000.qvv";
  TempDir dir_;
  std::string bytes_;
  Reading clean_;
};

TEST_F(DamagedQvv, GarbageRunsAreCrossedInLinearWork) {
  // 2 MB of noise with fake markers between two tags: nothing is lost.
  std::string damaged = bytes_;
  damaged.insert(Tag(20) - 4, Random(2 << 20, 7, true));
  const Reading r = Read<QvvDemuxer>(damaged, kName);
  ASSERT_EQ(r.open_status, 0);
  ExpectIntactSubsequence(clean_.packets, r.packets, 0);
  EXPECT_EQ(r.damage.stretches, 1);
  EXPECT_EQ(r.damage.bytes_skipped, 2 << 20) << "the noise, not the bytes between tags";
  EXPECT_EQ(r.damage.from_us, clean_.packets[19].pts);
  EXPECT_EQ(r.damage.to_us, clean_.packets[20].pts);
  ExpectLinear(r, damaged.size());
}

// Video packets of a reading, in a comparable order.
std::vector<std::pair<int, int64_t>> VideoPackets(const Reading& r, int video_streams) {
  std::vector<std::pair<int, int64_t>> v;
  for (const Packet& p : r.packets) {
    if (p.stream < video_streams) v.emplace_back(p.stream, p.pts);
  }
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(DamagedQvv, BackwardsEveryPictureComesAfterGarbageAndAtACutEnd) {
  // Garbage just before the tags of a second's key frames: the packet before
  // it closes a reverse window, the key frame opens the next.
  size_t key = 0;
  while (!(clean_.packets[key].stream == 0 && clean_.packets[key].key && clean_.packets[key].pts > 0)) ++key;
  std::string damaged = bytes_;
  damaged.insert(Tag(key) - 4, Random(100, 11, false));
  for (const std::string& file : {damaged, bytes_.substr(0, bytes_.size() - 300)}) {
    const Reading forward = Read<QvvDemuxer>(file, kName);
    const Reading backward = Read<QvvDemuxer>(file, kName, true);
    EXPECT_EQ(VideoPackets(backward, 2), VideoPackets(forward, 2));
  }
}

TEST_F(DamagedQvv, TagLikeNoiseCostsWorkInProportion) {
  // 1 MB of headers that look whole (marker, type, a size that stays in the
  // file), every 16 bytes, each pointing into zeros behind them.
  std::string noise;
  while (noise.size() < (1u << 20)) noise += std::string("\x01\xff\x09\x10\x00\x00\0\0\0\0\0\0\0\0\0\0", 16);
  std::string damaged = bytes_;
  damaged.insert(Tag(20) - 4, noise + std::string((1 << 20) + 4096, '\0'));
  const Reading r = Read<QvvDemuxer>(damaged, kName);
  ASSERT_EQ(r.open_status, 0);
  ExpectIntactSubsequence(clean_.packets, r.packets, 0);
  EXPECT_LE(r.bytes_read, 8 * damaged.size()) << "a positioned look per candidate, not two buffer refills";
}

TEST_F(DamagedQvv, DamagedSizesAndStreamNumbersCostOneTagEach) {
  const size_t script = bytes_.find(std::string("\x01\xff\x12", 3));
  const size_t video = Tag(30);
  for (const Overwrite c : {Overwrite{"metadata tag size 0xFFFFFF", script + 3, 0xFFFFFF, 3, 0},
                       Overwrite{"header offset 0xFFFFFFFF", 5, 0xFFFFFFFF, 4, 0},
                       Overwrite{"video tag size 0x7FFFFF", video + 3, 0x7FFFFF, 3, 1},
                       Overwrite{"video tag size 0", video + 3, 0, 3, 1},
                       Overwrite{"video tag size too small", video + 3, 40, 3, 1},
                       Overwrite{"stream number 8192", video + 10, 8192, 3, 1},
                       Overwrite{"marker overwritten", video, 0, 2, 1},
                       Overwrite{"marker and PreviousTagSize overwritten", video - 2, 0x5A5A5A5A, 4, 1}}) {
    SCOPED_TRACE(c.what);
    std::string damaged = bytes_;
    PutBe(damaged, c.at, c.value, c.bytes);
    const Reading r = Read<QvvDemuxer>(damaged, kName);
    ASSERT_EQ(r.open_status, 0);
    ExpectIntactSubsequence(clean_.packets, r.packets, c.lost);
    EXPECT_EQ(r.nb_streams, clean_.nb_streams) << "no stream made from a damaged tag";
    EXPECT_EQ(r.end_status, kErrEndOfStream);
    ExpectLinear(r, damaged.size());
    if (c.lost > 0) EXPECT_TRUE(r.damage.any());
  }
}

TEST_F(DamagedQvv, ARenamedFileIsReadInItsOwnHeaderForm) {
  const std::string long_name = "20240102030405_" + std::string(100, 'L') + ".qvv";
  ASSERT_GE(long_name.size(), kQvvLongHeaderNameLength);
  const Reading r = Read<QvvDemuxer>(bytes_, long_name);
  ASSERT_EQ(r.open_status, 0);
  EXPECT_EQ(r.packets, clean_.packets);
  EXPECT_EQ(r.nb_streams, clean_.nb_streams);
}

TEST_F(DamagedQvv, WhatHoldsNoWholePacketIsRefused) {
  EXPECT_EQ(Read<QvvDemuxer>(Random(600000, 3, false), kName).open_status, kErrInvalid) << "random bytes";
  EXPECT_EQ(Read<QvvDemuxer>(Random(600000, 4, true), kName).open_status, kErrInvalid) << "noise with fake markers";
  const size_t first_packet_end = clean_.positions[0] + clean_.packets[0].payload.size();
  for (size_t cut : {size_t{9}, size_t{100}, Tag(0), Tag(0) + 20}) {
    ASSERT_LT(cut, first_packet_end);
    EXPECT_LT(Read<QvvDemuxer>(bytes_.substr(0, cut), kName).open_status, 0) << "cut at " << cut;
  }
  const Reading cut = Read<QvvDemuxer>(bytes_.substr(0, Tag(10) + 50), kName);
  ASSERT_EQ(cut.open_status, 0);
  ExpectIntactSubsequence(clean_.packets, cut.packets, clean_.packets.size());
  EXPECT_EQ(cut.end_status, kErrIO) << "the last packet is cut short";
  EXPECT_TRUE(cut.damage.truncated);
}

// ------------------------------------------------------------------ AVI

// An AVI clip with H.264-like payloads: key frames start with a sequence
// parameter set, the others with a plain slice.
std::string AviClip(int frames) {
  TempDir dir;
  AviWriter w;
  AviClipStream video;
  video.kind = 0;
  video.codec_tag = FourCC("H264");
  video.time_base = {1, 25};
  video.width = 64;
  video.height = 48;
  video.format = AviWriter::BitmapInfoHeader(64, 48, video.codec_tag);
  AviClipStream data;
  data.kind = 2;
  data.time_base = {1, 25};
  EXPECT_EQ(w.Begin((dir / "c.avi").string(), {video, data}, 0, {{"Title", "clip"}}), 0);
  for (int f = 0; f < frames; ++f) {
    const bool key = f % 10 == 0;
    std::string payload = key ? std::string("\0\0\0\x01\x67\x42", 6) : std::string("\0\0\0\x01\x41\x9a", 6);
    payload += Random(static_cast<size_t>(800 + (f * 37) % 700), static_cast<uint32_t>(f), false);
    EXPECT_EQ(w.WritePacket(0, f, key, reinterpret_cast<const uint8_t*>(payload.data()), payload.size()), 0);
    const std::string record(40, static_cast<char>(f));
    EXPECT_EQ(w.WritePacket(1, f, true, reinterpret_cast<const uint8_t*>(record.data()), record.size()), 0);
  }
  EXPECT_EQ(w.Finish(), 0);
  return ReadFileBytes(dir / "c.avi");
}

TEST(DamagedAvi, HeaderDamageIsRefusedAtOnceOrRead) {
  const std::string bytes = AviClip(50);
  const std::string name = "20240102030405_0001_01.avi";
  const Reading clean = Read<AviDemuxer>(bytes, name);
  ASSERT_EQ(clean.open_status, 0);
  // Every bit of the header lists flipped in turn: refused, or read without
  // garbage, in work proportional to the file. The size of "INFO" grown to
  // 2 GiB once took 18 s of a seek and a read per 8 bytes.
  const size_t movi = bytes.find("movi");
  for (size_t at = 12; at < movi; at += at < 300 ? 1 : 61) {
    for (int bit = 0; bit < 8; bit += 3) {
      std::string damaged = bytes;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
      const Reading r = Read<AviDemuxer>(damaged, name);
      EXPECT_LE(r.refills, 3 * (damaged.size() / kDefaultBufferSize) + 40) << "byte " << at << " bit " << bit;
      if (r.open_status == 0 && at > 300) ExpectIntactSubsequence(clean.packets, r.packets, clean.packets.size());
    }
  }
  const size_t info = bytes.find("INFO") - 4;
  std::string damaged = bytes;
  damaged[info + 3] = static_cast<char>(0x80);
  EXPECT_LT(Read<AviDemuxer>(damaged, name).open_status, 0);
}

TEST(DamagedAvi, AFileWithoutIndexSeeksAndPlaysBackwards) {
  const std::string bytes = AviClip(60);
  const std::string name = "20240102030405_0001_01.avi";
  const Reading clean = Read<AviDemuxer>(bytes, name);
  EXPECT_EQ(clean.duration_us, 2400000) << "60 frames at 25 fps";
  EXPECT_EQ(clean.file_size, static_cast<int64_t>(bytes.size()));
  const size_t movi = bytes.find("movi");
  const size_t idx1 = bytes.rfind("idx1");
  // The card pulled mid-"movi"; and the same with bytes missing in the middle.
  std::string cut = bytes.substr(0, movi + (idx1 - movi) * 3 / 4);
  std::string holed = cut;
  holed.erase(movi + (idx1 - movi) / 3, 500);
  for (const std::string* file : {&cut, &holed}) {
    SCOPED_TRACE(file == &cut ? "cut" : "cut, with a hole");
    const Reading forward = Read<AviDemuxer>(*file, name);
    ASSERT_EQ(forward.open_status, 0);
    // Without an index, AVI times count chunks: after the hole, they are one less.
    ExpectIntactSubsequence(clean.packets, forward.packets, clean.packets.size(), file == &cut, file == &cut ? 0 : 1);
    EXPECT_GT(forward.packets.size(), clean.packets.size() / 2);
    for (const Packet& p : forward.packets) {
      if (p.stream == 0) EXPECT_EQ(p.key, p.payload[4] == 0x67) << "key frames told from the payload";
    }
    EXPECT_TRUE(forward.damage.truncated);
    if (file == &holed) EXPECT_GE(forward.damage.stretches + forward.damage.packets_dropped, 1);
    // Seeking lands on the key frame at or before 1.3 s (frame 30).
    const Reading sought = Read<AviDemuxer>(*file, name, false, 1300000);
    ASSERT_FALSE(sought.packets.empty());
    EXPECT_EQ(sought.packets[0].pts, file == &cut ? 30 : 29);
    EXPECT_TRUE(sought.packets[0].key);
    // Backwards: every video packet read forwards, group by group from the end.
    const Reading backward = Read<AviDemuxer>(*file, name, true);
    ASSERT_EQ(backward.open_status, 0);
    const auto video_count = [](const Reading& r) {
      return std::count_if(r.packets.begin(), r.packets.end(), [](const Packet& p) { return p.stream == 0; });
    };
    EXPECT_EQ(video_count(backward), video_count(forward));
    ASSERT_FALSE(backward.packets.empty());
    EXPECT_GE(backward.packets.front().pts, 39) << "the last group comes first";
    EXPECT_TRUE(backward.packets.front().key);
  }
}

TEST(DamagedAvi, GarbageInMoviIsCrossedInLinearWork) {
  const std::string bytes = AviClip(40);
  const std::string name = "20240102030405_0001_01.avi";
  const Reading clean = Read<AviDemuxer>(bytes, name);
  std::string damaged = bytes;
  const size_t movi = bytes.find("movi");
  damaged.insert(bytes.find("00dc", movi + 9000), Random(300000, 5, false));  // between two chunks
  const Reading r = Read<AviDemuxer>(damaged, name);
  ASSERT_EQ(r.open_status, 0);
  ExpectIntactSubsequence(clean.packets, r.packets, 0);
  EXPECT_TRUE(r.damage.any());
  ExpectLinear(r, damaged.size());
}

// ------------------------------------------------------------------ FLV

std::string FlvFile(int frames) {
  TempDir dir;
  FlvWriter w;
  FlvConfig config;
  config.width = 64;
  config.height = 48;
  config.audio = true;
  config.audio_format = 1;
  config.duration_seconds = frames / 25.0;
  EXPECT_EQ(w.Open((dir / "f.flv").string(), config), 0);
  const std::vector<uint8_t> avcc = {1, 0x42, 0, 0x1e, 0xff, 0xe1, 0, 4, 0x67, 0x42, 0, 0x1e, 1, 0, 2, 0x68, 0xce};
  EXPECT_EQ(w.WriteVideoSequenceHeader(avcc), 0);
  for (int f = 0; f < frames; ++f) {
    const std::string payload = Random(static_cast<size_t>(600 + (f * 53) % 900), static_cast<uint32_t>(f), false);
    EXPECT_EQ(w.WriteVideo(static_cast<uint32_t>(f * 40), 0, f % 10 == 0,
                           reinterpret_cast<const uint8_t*>(payload.data()), payload.size()),
              0);
    const std::string audio(64, static_cast<char>(f));
    EXPECT_EQ(w.WriteAudio(static_cast<uint32_t>(f * 40), reinterpret_cast<const uint8_t*>(audio.data()), audio.size()), 0);
    if (f % 25 == 0) {
      const auto record = testing_support::GpsRecord(22.5, 114.0, f, "B-1");
      EXPECT_EQ(w.WriteRecord(static_cast<uint32_t>(f * 40), record.data(), record.size()), 0);
    }
  }
  EXPECT_EQ(w.Finish(), 0);
  return ReadFileBytes(dir / "f.flv");
}

// Positions of the tags (their PreviousTagSize fields), walked by their sizes.
std::vector<size_t> FlvTags(const std::string& bytes) {
  std::vector<size_t> tags;
  for (size_t at = 9; at + 15 <= bytes.size();) {
    tags.push_back(at);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    at += 15 + ((size_t{p[5]} << 16) | (size_t{p[6]} << 8) | p[7]);
  }
  return tags;
}

TEST(DamagedFlv, DamagedTagsAndHeadersAreCrossed) {
  const std::string bytes = FlvFile(60);
  const std::string name = "20240102030405_0001_01.flv";
  const Reading clean = Read<FlvDemuxer>(bytes, name);
  ASSERT_EQ(clean.open_status, 0);
  const auto tags = FlvTags(bytes);
  const size_t middle = tags[tags.size() / 2];
  for (const Overwrite c : {Overwrite{"a tag size of 0 in the middle", middle + 5, 0, 3, 1},
                       Overwrite{"a tag size of 0xFFFFFF in the middle", middle + 5, 0xFFFFFF, 3, 1},
                       Overwrite{"header offset 0xFFFFFFFF", 5, 0xFFFFFFFF, 4, 0},
                       Overwrite{"script tag size 0xFFFFFF", tags[0] + 5, 0xFFFFFF, 3, 0}}) {
    SCOPED_TRACE(c.what);
    std::string damaged = bytes;
    PutBe(damaged, c.at, c.value, c.bytes);
    const Reading r = Read<FlvDemuxer>(damaged, name);
    ASSERT_EQ(r.open_status, 0);
    ExpectIntactSubsequence(clean.packets, r.packets, c.lost);
    EXPECT_EQ(r.end_status, kErrEndOfStream);
    if (c.lost) EXPECT_TRUE(r.damage.any());
    ExpectLinear(r, damaged.size());
  }
  std::string garbage = bytes;
  garbage.replace(middle + 7, 5000, Random(5000, 9, false));
  const Reading r = Read<FlvDemuxer>(garbage, name);
  ASSERT_EQ(r.open_status, 0);
  ExpectIntactSubsequence(clean.packets, r.packets, clean.packets.size());
  EXPECT_GE(r.damage.stretches, 1);
  EXPECT_LT(r.damage.from_us, r.damage.to_us);
  ExpectLinear(r, garbage.size());
}

TEST(DamagedFlv, BackwardsEveryPictureComesAfterGarbageAndAtACutEnd) {
  const std::string bytes = FlvFile(60);
  const std::string name = "20240102030405_0001_01.flv";
  const Reading clean = Read<FlvDemuxer>(bytes, name);
  const auto tags = FlvTags(bytes);
  size_t key = 0;  // the tag of the key frame at 0.8 s
  for (size_t t : tags) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + t;
    if (p[4] == 9 && (p[15] >> 4) == 1 && ((p[8] << 16) | (p[9] << 8) | p[10]) == 800) key = t;
  }
  ASSERT_GT(key, 0u);
  std::string damaged = bytes;
  damaged.insert(key, Random(100, 12, false));
  for (const std::string& file : {damaged, bytes.substr(0, bytes.size() - 300)}) {
    const Reading forward = Read<FlvDemuxer>(file, name);
    const Reading backward = Read<FlvDemuxer>(file, name, true);
    EXPECT_EQ(VideoPackets(backward, 1), VideoPackets(forward, 1));
    EXPECT_GT(VideoPackets(forward, 1).size(), 50u);
  }
}

TEST(DamagedFlv, BackwardsTheStreamsAreKnownFromTheStart) {
  const std::string bytes = FlvFile(60);
  ByteIOContext* pb = url_open_memory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  FlvDemuxer flv;
  ASSERT_EQ(flv.OpenReverse(pb, "20240102030405_0001_01.flv"), 0);
  const AVFormatContext& ctx = flv.context();
  EXPECT_EQ(ctx.nb_streams, 3);
  ASSERT_NE(ctx.FindStream(0), nullptr);
  EXPECT_EQ(ctx.FindStream(0)->codec_id, codec_id::kH264);
  EXPECT_FALSE(flv.extradata(0).empty());
  ASSERT_NE(ctx.FindStream(2), nullptr);
  EXPECT_EQ(ctx.FindStream(2)->kind, kKindData);
  url_fclose(pb);
}

}  // namespace

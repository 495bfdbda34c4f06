// Buffered byte I/O: protocols, byte orders, the end of file, block reads, peeking, writes, seeks, dynamic buffers; rescaling.
#include "QVVReader/ByteIO.h"

#include <gtest/gtest.h>

#include <numeric>

#include "QVVReader/Rational.h"
#include "tests/support/TempDir.h"

namespace {

using namespace qvv;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

TEST(ByteIO, ProtocolsAreFoundByPrefix) {
  TempDir dir;
  WriteFileBytes(dir / "a.bin", "abc");
  ByteIOContext* pb = nullptr;
  ASSERT_EQ(url_fopen(&pb, (dir / "a.bin").c_str(), kUrlReadOnly), 0);
  EXPECT_EQ(get_byte(pb), 'a');
  url_fclose(pb);
  ASSERT_EQ(url_fopen(&pb, ("file:" + (dir / "a.bin").string()).c_str(), kUrlReadOnly), 0);
  url_fclose(pb);
  EXPECT_EQ(find_protocol("C:\\rec\\x.qvv")->name, std::string("file")) << "a drive letter is no protocol";
  EXPECT_EQ(url_fopen(&pb, "xy:whatever", kUrlReadOnly), kErrNotFound);
  EXPECT_EQ(pb, nullptr);
  EXPECT_EQ(url_fopen(&pb, (dir / "missing").c_str(), kUrlReadOnly), kErrNotFound);
}

TEST(ByteIO, EndiannessAndEndOfFile) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22};
  ByteIOContext* pb = url_open_memory(bytes, sizeof bytes);
  EXPECT_EQ(get_be16(pb), 0x1234u);
  EXPECT_EQ(get_le16(pb), 0x7856u);
  EXPECT_EQ(get_be24(pb), 0x9ABCDEu);
  EXPECT_EQ(url_feof(pb), 0);
  // Three bytes left for a 32-bit read: they land in the high part, the rest reads 0.
  EXPECT_EQ(get_be32(pb), 0xF0112200u);
  EXPECT_EQ(url_feof(pb), 1);
  EXPECT_EQ(get_byte(pb), 0);
  EXPECT_EQ(url_fgetc(pb), -1);
  EXPECT_EQ(url_fseek(pb, 0, SEEK_SET), 0);
  EXPECT_EQ(url_feof(pb), 0) << "a seek clears the end-of-file state";
  EXPECT_EQ(get_le64(pb), 0xF0DEBC9A78563412ull);
  EXPECT_EQ(url_fseek(pb, 0, 2), kErrInvalid) << "whence 2 is refused";
  EXPECT_EQ(url_ftell(pb), 8);
  EXPECT_EQ(url_fsize(pb), 10);
  url_fclose(pb);
}

TEST(ByteIO, BlockReadsThroughAndAroundTheBuffer) {
  std::vector<uint8_t> data(200000);
  std::iota(data.begin(), data.end(), 0);
  ByteIOContext* pb = url_open_memory(data.data(), data.size());
  std::vector<uint8_t> out(100000);
  EXPECT_EQ(get_buffer(pb, out.data(), 10), 10);
  EXPECT_EQ(get_buffer(pb, out.data(), 100000), 100000) << "large reads bypass the buffer";
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[99999], static_cast<uint8_t>(100009));
  EXPECT_EQ(url_ftell(pb), 100010);
  EXPECT_EQ(url_fskip(pb, 50000), 150010);
  EXPECT_EQ(get_buffer(pb, out.data(), 100000), 49990) << "short only at the end";
  EXPECT_TRUE(url_feof(pb));
  url_fclose(pb);
}

TEST(ByteIO, StringsLinesAndVariableLengthNumbers) {
  const uint8_t bytes[] = {'a', 'b', 'c', 0, 'l', '1', '\n', 'l', '2', 0x81, 0x01};
  ByteIOContext* pb = url_open_memory(bytes, sizeof bytes);
  char text[3];
  EXPECT_EQ(get_strz(pb, text, sizeof text), 4);
  EXPECT_STREQ(text, "ab") << "bounded, but the whole string is consumed";
  char line[16];
  ASSERT_NE(url_fgets(pb, line, sizeof line), nullptr);
  EXPECT_STREQ(line, "l1\n");
  EXPECT_EQ(get_byte(pb), 'l');
  EXPECT_EQ(get_byte(pb), '2');
  EXPECT_EQ(ff_get_v(pb), 129u);
  url_fclose(pb);
}

TEST(ByteIO, WritesSeeksAndPatchesAFile) {
  TempDir dir;
  const auto path = dir / "w.bin";
  ByteIOContext* pb = nullptr;
  ASSERT_EQ(url_fopen(&pb, path.c_str(), kUrlWriteOnly), 0);
  put_tag(pb, "RIFF");
  put_le32(pb, 0);  // patched below while still inside the buffer
  put_be16(pb, 0x0102);
  put_le24(pb, 0x030405);
  put_be64(pb, 0x060708090A0B0C0Dull);
  put_strz(pb, "z");
  EXPECT_EQ(url_ftell(pb), 4 + 4 + 2 + 3 + 8 + 2);
  url_fseek(pb, 4, SEEK_SET);
  put_le32(pb, 0xAABBCCDD);
  url_fseek(pb, 0, SEEK_SET);
  put_byte(pb, 'r');
  EXPECT_EQ(get_byte(pb), 0) << "a write-only handle reads nothing";
  EXPECT_EQ(url_fgetc(pb), -1);
  EXPECT_EQ(url_fclose(pb), 0);
  const std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(bytes, std::string("rIFF\xDD\xCC\xBB\xAA\x01\x02\x05\x04\x03\x06\x07\x08\x09\x0A\x0B\x0C\x0Dz\0", 23))
      << "a patch inside the write buffer keeps everything written after it";
}

TEST(ByteIO, PeekingAcrossTheBufferReadsEveryByteOnce) {
  std::vector<uint8_t> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  ByteIOContext* s = url_open_memory(bytes.data(), bytes.size());
  ASSERT_EQ(url_setbufsize(s, 16), 0);
  uint64_t refills_seen = 0;
  for (int at = 0; at + 10 <= 100; ++at) {
    const uint8_t* p = url_fpeek(s, 10);
    ASSERT_NE(p, nullptr) << at;
    EXPECT_EQ(p[0], at);
    EXPECT_EQ(p[9], at + 9);
    EXPECT_EQ(url_ftell(s), at) << "peeking consumes nothing";
    url_fconsume(s, 1);
    refills_seen = s->read_calls;
  }
  EXPECT_LE(refills_seen, 100u / 6 + 2) << "each refill brings new bytes behind the unread ones";
  EXPECT_EQ(url_fpeek(s, 11), nullptr) << "fewer bytes left";
  EXPECT_EQ(get_byte(s), 91) << "what is left still reads";
  EXPECT_EQ(url_fpeek(s, 17), nullptr) << "more than the buffer holds";
  url_fseek(s, 5, SEEK_SET);
  EXPECT_EQ(url_fpeek(s, 4)[0], 5) << "seeks and peeks agree";
  url_fclose(s);
}

TEST(ByteIO, SetBufferSize) {
  const uint8_t bytes[] = {1, 2, 3, 4};
  ByteIOContext* pb = url_open_memory(bytes, sizeof bytes);
  EXPECT_EQ(get_byte(pb), 1);
  EXPECT_EQ(url_setbufsize(pb, 1 << 30), kErrNoMemory);
  EXPECT_EQ(get_byte(pb), 2) << "the old buffer stays";
  EXPECT_EQ(url_setbufsize(pb, 16), 0);
  EXPECT_EQ(url_fseek(pb, 1, SEEK_SET), 1);
  EXPECT_EQ(get_byte(pb), 2) << "still usable";
  url_fclose(pb);
}

TEST(ByteIO, DynamicBuffersGrowAndFrameTheirPackets) {
  ByteIOContext* pb = nullptr;
  ASSERT_EQ(url_open_dyn_buf(&pb), 0);
  for (int i = 0; i < 5000; ++i) put_be32(pb, static_cast<unsigned>(i));
  std::vector<uint8_t> out;
  EXPECT_EQ(url_close_dyn_buf(pb, &out), 20000);
  ASSERT_EQ(out.size(), 20000u);
  EXPECT_EQ(out[19999], static_cast<uint8_t>(4999 & 0xFF));

  ASSERT_EQ(url_open_dyn_packet_buf(&pb, 8), 0);
  const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  put_buffer(pb, ten, 10);  // flushed as a packet of 8, then one of 2 at the end
  EXPECT_EQ(url_close_dyn_buf(pb, &out), 4 + 8 + 4 + 2);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5), (std::vector<uint8_t>{0, 0, 0, 8, 1}));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 12, out.end()), (std::vector<uint8_t>{0, 0, 0, 2, 9, 10}));
}

TEST(Rational, RescaleRoundsAsAsked) {
  const AVRational ms{1, 1000}, us{1, 1000000}, tb90k{1, 90000};
  EXPECT_EQ(av_rescale_q(1500, ms, us), 1500000);
  EXPECT_EQ(av_rescale_q(1, tb90k, ms), 0);   // 0.011 ms
  EXPECT_EQ(av_rescale_q(45, tb90k, ms), 1);  // 0.5 ms: halves away from zero
  EXPECT_EQ(av_rescale_q(-45, tb90k, ms), -1);
  EXPECT_EQ(av_rescale_rnd(7, 1, 2, Rounding::Zero), 3);
  EXPECT_EQ(av_rescale_rnd(-7, 1, 2, Rounding::Zero), -3);
  EXPECT_EQ(av_rescale_rnd(-7, 1, 2, Rounding::Down), -4);
  EXPECT_EQ(av_rescale_rnd(7, 1, 2, Rounding::Up), 4);
  EXPECT_EQ(av_rescale_rnd(7, 1, 2, Rounding::Inf), 4);
  // A 128-bit intermediate: no overflow where a * b leaves 64 bits.
  EXPECT_EQ(av_rescale(INT64_MAX / 2, 1000000, 1000000), INT64_MAX / 2);
  EXPECT_EQ(av_rescale(1, 1, 0), kNoPtsValue);
  EXPECT_EQ(av_gcd(1000000, 90000), 10000);
}

}  // namespace

// Snapshots: which picture is saved where and under what name, the bitmap as
// an independent reader (ffmpeg) decodes it, and failures that must leave no
// file behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "engine/ACSnapshotFilter.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using engine::ACSnapshotFilter;
using testing_support::ReadFileBytes;
using testing_support::RunShell;

// Noise over every byte value, so clamping at both ends is exercised.
std::vector<uint8_t> Picture(int width, int height, uint32_t seed = 1) {
  std::vector<uint8_t> yuv(engine::Yuv420Bytes(width, height));  // exactly: ASan sees any over-read
  for (auto& b : yuv) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  return yuv;
}

// Top-down BGR by the per-pixel formulas; a last odd column or row borrows its
// neighbour block's chroma, a picture without chroma planes is grey.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& yuv, int w, int h) {
  const int cw = w / 2, ch = h / 2;
  std::vector<uint8_t> bgr;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int u = 128, v = 128;
      if (cw > 0 && ch > 0) {
        const int at = std::min(y / 2, ch - 1) * cw + std::min(x / 2, cw - 1);
        u = yuv[static_cast<size_t>(w * h + at)];
        v = yuv[static_cast<size_t>(w * h + cw * ch + at)];
      }
      const int c = 76309 * (yuv[static_cast<size_t>(y * w + x)] - 16);
      for (int value : {c + 132201 * (u - 128), c - 25675 * (u - 128) - 53279 * (v - 128), c + 104597 * (v - 128)})
        bgr.push_back(static_cast<uint8_t>(std::clamp(value >> 16, 0, 255)));
    }
  }
  return bgr;
}

std::string LocalStamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm);
  return text;
}

std::vector<fs::path> FilesUnder(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (!e.is_directory()) files.push_back(e.path());
  return files;
}

struct Saved { int channel; std::string path; bool ok; };

class Snapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    filter.SetSnapshotFolder((dir / "shots" / "deep").string());  // missing parents, no trailing '/'
    filter.SetOnSaved([this](int channel, const std::string& path, bool ok) {
      std::lock_guard lock(mutex);
      saved.push_back({channel, path, ok});
    });
  }
  // One request and one picture; what the worker reported.
  Saved Take(int channel, const std::vector<uint8_t>& yuv, int w, int h) {
    filter.RequestSnapshot(channel);
    EXPECT_EQ(filter.InputFrame(channel, yuv.data(), w, h), 1);
    EXPECT_TRUE(filter.WaitIdle(10000));
    std::lock_guard lock(mutex);
    return saved.empty() ? Saved{-1, "", false} : saved.back();
  }
  fs::path Channel(int number) const { return dir / "shots" / "deep" / std::to_string(number); }

  testing_support::TempDir dir;
  std::mutex mutex;
  std::vector<Saved> saved;
  ACSnapshotFilter filter;  // last: its workers are done before the rest goes
};

TEST_F(Snapshot, SavesTheNextPictureOfTheRequestedChannelOnce) {
  const auto yuv = Picture(1280, 720);
  EXPECT_EQ(filter.InputFrame(0, yuv.data(), 1280, 720), 0) << "not requested";
  filter.RequestSnapshot(-1);
  filter.RequestSnapshot(12);
  filter.RequestSnapshot(0);
  EXPECT_EQ(filter.InputFrame(1, yuv.data(), 1280, 720), 0) << "another channel";
  EXPECT_EQ(filter.InputFrame(0, nullptr, 1280, 720), 0);
  EXPECT_TRUE(filter.SnapshotRequested(0)) << "no picture: the request waits";
  EXPECT_EQ(filter.InputFrame(0, yuv.data(), 0, 720), 0);
  EXPECT_FALSE(filter.SnapshotRequested(0)) << "a refused picture uses the request up";
  filter.RequestSnapshot(0);

  const std::string before = LocalStamp(std::time(nullptr));
  ASSERT_EQ(filter.InputFrame(0, yuv.data(), 1280, 720), 1);
  EXPECT_EQ(filter.InputFrame(0, yuv.data(), 1280, 720), 0) << "request used up";
  ASSERT_TRUE(filter.WaitIdle(10000));
  const std::string after = LocalStamp(std::time(nullptr));

  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].channel, 0);
  ASSERT_TRUE(saved[0].ok);
  const fs::path file = saved[0].path;
  EXPECT_EQ(file.parent_path(), Channel(1));
  std::smatch m;
  const std::string name = file.filename().string();
  ASSERT_TRUE(std::regex_match(name, m, std::regex(R"((\d{14})\d{3,}\.bmp)"))) << name;
  EXPECT_TRUE(m[1] >= before && m[1] <= after) << m[1] << " not in " << before << ".." << after;

  const std::string bytes = ReadFileBytes(file);
  ASSERT_EQ(bytes.size(), 2764854u);
  const uint8_t header[54] = {'B', 'M', 0x36, 0x30, 0x2A, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                              0x00, 0x05, 0, 0, 0xD0, 0x02, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0x00, 0x30, 0x2A, 0};
  EXPECT_EQ(bytes.substr(0, 54), std::string(reinterpret_cast<const char*>(header), 54));
  EXPECT_EQ(FilesUnder(dir.path()).size(), 1u) << "no temporary left";
}

// 37 x 3 bytes is not a multiple of 4: rows are padded, and the last odd
// column and row have no chroma of their own.
TEST_F(Snapshot, FfmpegDecodesTheSamePixels) {
  unsigned long number = 0;
  for (auto [w, h, size] : {std::tuple{64, 36, 6966u}, std::tuple{37, 21, 2406u}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const auto yuv = Picture(w, h, static_cast<uint32_t>(w));
    const Saved s = Take(11, yuv, w, h);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(fs::path(s.path).parent_path(), Channel(12));
    EXPECT_EQ(fs::file_size(s.path), size);
    // Same second or not, the running number tells snapshots apart.
    const unsigned long previous = std::exchange(number, std::stoul(fs::path(s.path).stem().string().substr(14)));
    if (previous) EXPECT_EQ(number, previous + 1);
    std::string probe, pixels;
    ASSERT_EQ(RunShell("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + s.path + "'", &probe), 0);
    EXPECT_EQ(probe, std::to_string(w) + "," + std::to_string(h) + "\n");
    ASSERT_EQ(RunShell("ffmpeg -v error -i '" + s.path + "' -f rawvideo -pix_fmt bgr24 -", &pixels), 0);
    const auto want = Reference(yuv, w, h);
    ASSERT_EQ(pixels.size(), want.size());
    int off = 0;
    for (size_t i = 0; i < want.size(); ++i) off += std::abs(static_cast<uint8_t>(pixels[i]) - want[i]) > 1;
    EXPECT_EQ(off, 0) << "bytes off by more than 1";
  }
}

TEST(SnapshotConversion, MatchesTheFormulasForEveryShape) {
  for (auto [w, h] : {std::pair{1, 1}, {1, 5}, {5, 1}, {2, 2}, {3, 3}, {6, 4}, {37, 21}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const auto yuv = Picture(w, h, 7);
    const size_t stride = engine::BmpRowBytes(w);
    std::vector<uint8_t> out(stride * static_cast<size_t>(h), 0xAA);
    engine::ConvertYuv420ToBgrBottomUp(yuv.data(), w, h, out.data(), stride);
    const auto want = Reference(yuv, w, h);
    const size_t row = static_cast<size_t>(w) * 3;
    for (int y = 0; y < h; ++y) {
      const auto* got = out.data() + static_cast<size_t>(h - 1 - y) * stride;
      EXPECT_TRUE(std::equal(got, got + row, want.begin() + static_cast<ptrdiff_t>(y * row))) << "row " << y;
      EXPECT_TRUE(std::all_of(got + row, got + stride, [](uint8_t b) { return b == 0; })) << "padding of row " << y;
    }
  }
}

// A folder under a regular file (root cannot make it either), then a write
// cut short by the file size limit: both reported, neither leaves a file.
TEST_F(Snapshot, FailuresAreReportedAndLeaveNoFile) {
  testing_support::WriteFileBytes(dir / "plain", "x");
  filter.SetSnapshotFolder((dir / "plain" / "snap").string());
  testing::internal::CaptureStderr();
  const Saved no_folder = Take(3, Picture(8, 8), 8, 8);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(no_folder.ok);
  EXPECT_EQ(no_folder.channel, 3);
  EXPECT_NE(err.find("dravik: snapshot not saved: " + (dir / "plain/snap/4/").string()), std::string::npos) << err;

  filter.SetSnapshotFolder((dir / "shots" / "deep").string());
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;  // the 6966-byte bitmap cannot be written whole
  auto* old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  testing::internal::CaptureStderr();
  const Saved cut_short = Take(0, Picture(64, 36), 64, 36);
  testing::internal::GetCapturedStderr();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(cut_short.ok);
  EXPECT_TRUE(fs::is_directory(Channel(1)));
  EXPECT_EQ(FilesUnder(dir.path()), std::vector<fs::path>{dir / "plain"});
}

// Play threads keep feeding while workers still convert and write earlier
// pictures: every accepted picture ends up as exactly one complete file.
TEST_F(Snapshot, EveryAcceptedPictureIsSavedWhileWorkersRun) {
  const auto yuv = Picture(160, 96);
  int accepted = 0;
  for (int i = 0; i < 40; ++i) {
    filter.RequestSnapshot(i % 3);
    accepted += filter.InputFrame(i % 3, yuv.data(), 160, 96);
  }
  ASSERT_TRUE(filter.WaitIdle(10000));
  EXPECT_GE(accepted, ACSnapshotFilter::kCopySlots);
  EXPECT_EQ(saved.size(), static_cast<size_t>(accepted));
  EXPECT_TRUE(std::all_of(saved.begin(), saved.end(), [](const Saved& s) { return s.ok; }));
  const auto files = FilesUnder(dir.path());
  EXPECT_EQ(files.size(), static_cast<size_t>(accepted));
  for (const auto& f : files) EXPECT_EQ(fs::file_size(f), 54u + 480u * 96u) << f;
}

TEST_F(Snapshot, DestructionWaitsForTheWorker) {
  {
    ACSnapshotFilter other;
    other.SetSnapshotFolder(dir.path().string() + "/");
    other.SetOnSaved([&](int channel, const std::string& path, bool ok) { saved.push_back({channel, path, ok}); });
    other.RequestSnapshot(0);
    ASSERT_EQ(other.InputFrame(0, Picture(320, 240).data(), 320, 240), 1);
  }
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_TRUE(saved[0].ok && fs::file_size(saved[0].path) == 54u + 960u * 240u);
}

}  // namespace

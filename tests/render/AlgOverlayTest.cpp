// The analysis overlay: scaling records to the picture, drawing them without
// anti-aliasing, blending into 4:2:0 frames (odd sizes included), the play
// thread's 260 ms window over the overlay ring, and records built to hurt.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/AlgOverlay.h"
#include "engine/GuiForDrawing.h"
#include "engine/OverlayTrack.h"

namespace {

using engine::AlgProtocolList;
using engine::BlendOverlay;
using engine::DrawBitmap;
using engine::ObjectLock;
using engine::OverlayPicture;
using engine::OverlayTrack;
using qvv::AlgProtocol;

AlgProtocol Space(int width, int height, int64_t time = 0) {
  AlgProtocol r;
  r.width = static_cast<uint16_t>(width), r.height = static_cast<uint16_t>(height), r.time = time;
  return r;
}

uint32_t ColorAt(const OverlayPicture& p, int x, int y) {
  const uint8_t* px = p.data() + static_cast<size_t>(y) * p.stride() + 3 * static_cast<size_t>(x);
  return uint32_t{px[0]} << 16 | uint32_t{px[1]} << 8 | px[2];
}

void SetColor(OverlayPicture& p, int x, int y, uint32_t colorref) {
  uint8_t* px = p.data() + static_cast<size_t>(y) * p.stride() + 3 * static_cast<size_t>(x);
  px[0] = static_cast<uint8_t>(colorref >> 16), px[1] = static_cast<uint8_t>(colorref >> 8);
  px[2] = static_cast<uint8_t>(colorref);
}

// Pixels of colour `c`; every pixel must be black or a table colour.
int Count(const OverlayPicture& p, uint32_t c) {
  int n = 0;
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      const uint32_t at = ColorAt(p, x, y);
      bool table = at == 0;
      for (int i = 0; i < 7; ++i) table = table || at == engine::OverlayColor(i);
      EXPECT_TRUE(table) << "anti-aliased or stray colour " << std::hex << at << " at " << std::dec << x << "," << y;
      n += at == c;
    }
  return n;
}

// A frame in the decoders' layout followed by guard bytes, filled with 1 .. 6
// (no table value), so that any write shows.
struct Frame {
  Frame(int w, int h) : width(w), height(h), bytes(Size() + 64) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(1 + i % 6);
    original = bytes;
  }
  size_t Size() const { return size_t(width) * height + 2 * size_t(width / 2) * (height / 2); }
  size_t ChromaAt(int x, int y) const { return size_t(width) * height + size_t(y / 2) * (width / 2) + x / 2; }
  uint8_t Y(int x, int y) const { return bytes[size_t(y) * width + x]; }
  uint8_t U(int x, int y) const { return bytes[ChromaAt(x, y)]; }
  uint8_t V(int x, int y) const { return bytes[ChromaAt(x, y) + size_t(width / 2) * (height / 2)]; }
  bool GuardIntact() const {
    return std::equal(bytes.begin() + long(Size()), bytes.end(), original.begin() + long(Size()));
  }
  size_t Changed() const {
    size_t n = 0;
    for (size_t i = 0; i < bytes.size(); ++i) n += bytes[i] != original[i];
    return n;
  }
  uint8_t* data() { return bytes.data(); }
  int width, height;
  std::vector<uint8_t> bytes, original;
};

TEST(AlgScale, MapsTheRecorderSpaceToThePicture) {
  AlgProtocol r = Space(1920, 1080);
  r.circles = {{3, 10, 960, 540}};
  r.rectangles = {{1, 1, 100, 50, 300, 200}};
  r.texts = {{0, "ABC", 400, 300, 1280}};
  r.region = {{2, 3, -9, 1079}};
  engine::Scale(r, 1280, 720);
  EXPECT_EQ(r.width, 1280);
  EXPECT_EQ(r.height, 720);
  EXPECT_EQ(r.circles[0], (qvv::AlgCircle{3, 6, 640, 360}));
  EXPECT_EQ(r.rectangles[0], (qvv::AlgRectangle{1, 1, 66, 33, 200, 133})) << "pen 1 x 2/3 -> 0 -> 1";
  EXPECT_EQ(r.texts[0], (qvv::AlgText{0, "ABC", 266, 200, 853}));
  EXPECT_EQ(r.region[0], (qvv::AlgRegionCorner{2, 2, -6, 719})) << "truncated toward zero";

  // Half width: x and text sizes halve, y stays, pens and radii by the smaller ratio.
  AlgProtocol half = Space(1920, 1080);
  half.circles = {{0, 1, 10, 10}};
  half.rectangles = {{0, 1, 10, 10, 20, 20}};
  half.texts = {{0, "", 10, 10, 1280}};
  engine::Scale(half, 960, 1080);
  EXPECT_EQ(half.circles[0], (qvv::AlgCircle{0, 1, 5, 10}));
  EXPECT_EQ(half.rectangles[0], (qvv::AlgRectangle{0, 1, 5, 10, 10, 20}));
  EXPECT_EQ(half.texts[0].size, 640);

  // A record without a space is in the recorder's default one; products
  // beyond int32 saturate (UBSan flags a wrapped conversion); no picture, no change.
  AlgProtocol zero = Space(0, 0);
  zero.circles = {{0, 10, 960, 540}};
  engine::Scale(zero, 1280, 720);
  EXPECT_EQ(zero.circles[0], (qvv::AlgCircle{0, 6, 640, 360}));
  AlgProtocol tiny = Space(1, 1);
  tiny.circles = {{0, INT_MAX, INT_MIN, 3}};
  engine::Scale(tiny, 4000, 3000);
  EXPECT_EQ(tiny.circles[0], (qvv::AlgCircle{0, INT_MAX, INT_MIN, 9000}));
  const AlgProtocol before = tiny;
  engine::Scale(tiny, 0, 720);
  engine::Scale(tiny, 70000, 720);
  EXPECT_EQ(tiny, before);
}

TEST(AlgBlend, EachTableColourWritesItsYuvAndOthersLeaveTheFrame) {
  const int table[7][3] = {{255, 128, 128}, {77, 127, 213}, {29, 235, 127}, {255, 0, 0},
                           {226, 21, 128},  {53, 202, 213}, {180, 186, 0}};
  // Colour i fills 2x2 block i; blocks 7 and 8 hold an anti-aliasing grey and index 7 (black).
  OverlayPicture p;
  ASSERT_TRUE(p.Resize(20, 2));
  p.FillBlack();
  for (int i = 0; i < 7; ++i)
    for (int k = 0; k < 4; ++k) SetColor(p, 2 * i + k % 2, k / 2, engine::OverlayColor(i));
  SetColor(p, 14, 0, 0x404040);
  SetColor(p, 16, 1, engine::OverlayColor(7));
  Frame f(20, 2);
  BlendOverlay(p, f.data(), 20, 2);
  for (int i = 0; i < 7; ++i) {
    for (int k = 0; k < 4; ++k) EXPECT_EQ(f.Y(2 * i + k % 2, k / 2), table[i][0]) << i;
    EXPECT_EQ(f.U(2 * i, 0), table[i][1]) << i;
    EXPECT_EQ(f.V(2 * i, 0), table[i][2]) << i;
  }
  EXPECT_EQ(f.Changed(), 7u * 6) << "the seven blocks' luma and chroma, nothing else";
}

TEST(AlgBlend, OddFramesGetChromaOnlyWhereTheirPlanesHaveIt) {
  EXPECT_EQ(OverlayPicture::StrideFor(5), 16) << "rows padded to 4 bytes";
  // An all-white overlay: every luma and chroma byte is written, nothing after them.
  for (auto [w, h] : {std::pair{33, 17}, std::pair{1, 1}, std::pair{7, 1}, std::pair{1, 9}}) {
    OverlayPicture p;
    ASSERT_TRUE(p.Resize(w, h));
    std::fill(p.data(), p.data() + p.byte_size(), uint8_t{0xFF});
    Frame f(w, h);
    BlendOverlay(p, f.data(), w, h);
    const auto luma_end = f.bytes.begin() + w * h, chroma_end = f.bytes.begin() + long(f.Size());
    EXPECT_EQ(std::count(f.bytes.begin(), luma_end, 255), w * h) << w << "x" << h;
    EXPECT_EQ(std::count(luma_end, chroma_end, 128), chroma_end - luma_end) << w << "x" << h;
    EXPECT_TRUE(f.GuardIntact()) << w << "x" << h;
  }
  // An overlay larger than the frame: only the common area.
  OverlayPicture big;
  ASSERT_TRUE(big.Resize(40, 40));
  std::fill(big.data(), big.data() + big.byte_size(), uint8_t{0xFF});
  Frame small(9, 5);
  BlendOverlay(big, small.data(), 9, 5);
  EXPECT_TRUE(small.GuardIntact());
  EXPECT_EQ(small.Y(8, 4), 255);
}

// A drawn overlay is blended from its list of runs; a picture written by
// hand, or too busy to list, is scanned. Both must give the same frame.
TEST(AlgBlend, RunListAndScanAgree) {
  AlgProtocol r = Space(101, 61);
  for (int i = 0; i < 8; ++i) {
    r.circles.push_back({i, 3 + i, 12 * i + 3, 2 * i + 5});
    r.rectangles.push_back({6 - i, 1 + i % 3, 7 * i - 5, 5 * i, 31, 17});
  }
  r.region = {{4, 1, 0, 60}, {5, 1, 50, 10}, {5, 1, 55, 12}, {5, 1, 100, 59}};
  OverlayPicture listed, scanned;
  DrawBitmap(r, listed);
  ASSERT_TRUE(listed.indexed());
  ASSERT_TRUE(scanned.Resize(101, 61));
  std::copy(std::as_const(listed).data(), std::as_const(listed).data() + listed.byte_size(), scanned.data());
  ASSERT_FALSE(scanned.indexed());
  for (auto [w, h] : {std::pair{101, 61}, std::pair{64, 33}}) {
    Frame a(w, h), b(w, h);
    BlendOverlay(listed, a.data(), w, h);
    BlendOverlay(scanned, b.data(), w, h);
    EXPECT_GT(a.Changed(), 500u);
    EXPECT_EQ(a.bytes, b.bytes) << w << "x" << h;
  }
  // A checkerboard has a run for every other pixel: too many to list.
  OverlayPicture busy;
  ASSERT_TRUE(busy.Resize(640, 480));
  busy.FillBlack();
  for (int y = 0; y < 480; ++y)
    for (int x = y & 1; x < 640; x += 2) SetColor(busy, x, y, 0x800080);
  busy.Index();
  EXPECT_FALSE(busy.indexed());
  Frame f(640, 480);
  BlendOverlay(busy, f.data(), 640, 480);
  EXPECT_EQ(f.Y(1, 1), 53);
  EXPECT_EQ(f.Y(1, 0), f.original[1]);
  EXPECT_EQ(f.U(638, 478), 202);
}

TEST(AlgDraw, DiscBlendsGreenAndRectangleOutlinesItsBorder) {
  AlgProtocol r = Space(64, 48);
  r.circles = {{3, 5, 20, 20}};
  r.rectangles = {{1, 1, 30, 10, 20, 10}};  // border of pixels 30..49 x 10..19
  OverlayPicture p;
  DrawBitmap(r, p);
  const int green = Count(p, 0x00FF00);
  EXPECT_GT(green, 60);  // about pi * 25
  EXPECT_LT(green, 100);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      if (ColorAt(p, x, y) == 0x00FF00) EXPECT_LE((x - 20) * (x - 20) + (y - 20) * (y - 20), 36) << x << "," << y;
      const bool border = x >= 30 && x <= 49 && y >= 10 && y <= 19 && (x == 30 || x == 49 || y == 10 || y == 19);
      if (x >= 28) ASSERT_EQ(ColorAt(p, x, y), border ? 0x0000FFu : 0u) << x << "," << y;
    }
  Frame f(64, 48);
  BlendOverlay(p, f.data(), 64, 48);
  EXPECT_EQ(f.Y(20, 20), 255);
  EXPECT_EQ(f.U(20, 20), 0);
  EXPECT_EQ(f.V(20, 20), 0);
  EXPECT_EQ(f.Y(10, 40), f.original[40 * 64 + 10]);
  EXPECT_EQ(f.U(10, 40), f.original[f.ChromaAt(10, 40)]);

  // A pen of 5 reaches two pixels either side of the border; empty boxes draw nothing.
  r.circles.clear();
  r.rectangles = {{2, 5, 10, 10, 40, 30}, {1, 1, 5, 5, 0, 9}, {1, 1, 5, 5, 9, 0}};
  DrawBitmap(r, p);
  for (int y : {8, 12}) EXPECT_EQ(ColorAt(p, 30, y), 0xFF0000u) << y;
  for (int y : {5, 15, 25}) EXPECT_EQ(ColorAt(p, 30, y), 0u) << y;
  EXPECT_EQ(ColorAt(p, 5, 5), 0u);
}

TEST(AlgDraw, RegionNeedsFourCornersAndIgnoresTheRest) {
  AlgProtocol r = Space(64, 48);
  r.region = {{0, 2, 5, 5}, {0, 2, 40, 5}, {0, 2, 40, 30}};
  OverlayPicture p;
  DrawBitmap(r, p);
  EXPECT_EQ(Count(p, 0), 64 * 48) << "three corners draw nothing";

  r.region.push_back({1, 9, 5, 30});  // colour and pen come from the first corner
  DrawBitmap(r, p);
  EXPECT_EQ(ColorAt(p, 20, 5), 0xFFFFFFu);
  EXPECT_EQ(ColorAt(p, 5, 20), 0xFFFFFFu) << "the side back to the first corner";
  EXPECT_EQ(ColorAt(p, 20, 20), 0u) << "hollow";
  EXPECT_EQ(ColorAt(p, 20, 8), 0u) << "pen 2, not 9";
  const std::vector<uint8_t> four(std::as_const(p).data(), std::as_const(p).data() + p.byte_size());
  r.region.push_back({0, 5, 60, 45});
  DrawBitmap(r, p);
  EXPECT_TRUE(std::equal(four.begin(), four.end(), std::as_const(p).data()));
}

// Texts need fonts, and fonts a QGuiApplication (made here on the main thread).
class AlgText : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(engine::EnsureGuiForDrawing()); }
};

TEST_F(AlgText, LabelIsDrawnInItsColourBelowAndRightOfItsCorner) {
  AlgProtocol r = Space(320, 120);
  r.texts = {{1, "HELLO", 40, 30, 20 * 64}};  // a 20-pixel cell
  OverlayPicture p;
  DrawBitmap(r, p);
  EXPECT_GT(Count(p, 0x0000FF), 50);
  int top = 1000, left = 1000, bottom = -1;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 320; ++x)
      if (ColorAt(p, x, y)) top = std::min(top, y), left = std::min(left, x), bottom = std::max(bottom, y);
  EXPECT_GE(top, 30);
  EXPECT_LE(top, 36) << "capitals start just under the cell's top";
  EXPECT_GE(left, 40);
  EXPECT_LE(left, 44);
  EXPECT_LE(bottom, 50) << "within the cell";
}

// Redrawing clears and lists only the rows the drawing reached: a reused
// picture must equal a fresh one and its runs hold every coloured pixel.
// One item a record, so that each kind's reach is checked on its own.
TEST_F(AlgText, RedrawnPictureMatchesAFreshOneAndListsEveryPixel) {
  std::vector<AlgProtocol> records(9, Space(160, 90));
  records[0].texts = {{0, "\xc3\x81gjpq|", 2, 0, 40 * 64}};
  records[1].texts = {{1, "\xe4\xb8\xad\xe6\x96\x87 \xd8\xb9 \xe2\x88\xab", 10, 40, 30 * 64}};
  records[2].texts = {{4, "tall", 100, -30, 50 * 64}};
  records[3].circles = {{5, 9, 159, 89}};
  records[4].rectangles = {{6, 7, -50, 40, 400, 10}};
  records[5].region = {{2, 3, -1000, -1000}, {2, 3, 1000, 45}, {2, 3, 80, 2000}, {2, 3, 0, 89}};
  records[6].circles = {{3, 1000000, 80, 45}};  // fills the picture
  records[8] = records[0];                      // 7: nothing
  OverlayPicture reused;
  for (size_t i = 0; i < records.size(); ++i) {
    DrawBitmap(records[i], reused);
    OverlayPicture fresh;
    DrawBitmap(records[i], fresh);
    const uint8_t* expected = std::as_const(fresh).data();
    ASSERT_TRUE(std::equal(expected, expected + fresh.byte_size(), std::as_const(reused).data())) << i;
    ASSERT_TRUE(reused.indexed());
    int listed = 0;
    for (const auto& run : reused.runs()) listed += run.length;
    EXPECT_EQ(listed, 160 * 90 - Count(reused, 0)) << i;
    EXPECT_EQ(listed > 0, i != 7) << i;
  }
}

TEST_F(AlgText, HostileRecordsStayInsideTheirPictureAndFrame) {
  AlgProtocol r = Space(320, 240);
  const int32_t extremes[] = {INT_MIN, -100000, -1, 0, 1, 239, 319, 100000, INT_MAX};
  for (int32_t a : extremes)
    for (int32_t b : extremes) {
      r.circles.push_back({3, a, b, a});
      r.rectangles.push_back({2, a, b, a, b, a});
      r.texts.push_back({5, "overflow", a, b, b});
      r.region.push_back({6, a, a, b});
    }
  r.circles.push_back({0, 2000000000, -2000000000 + 160, 120});  // its edge runs through the picture
  for (int i = 0; i < 10000; ++i)  // 10,000 labels, some long, most off the picture
    r.texts.push_back({i % 8, std::string(i % 5 ? 8 : 20000, 'W'), i * 7919 % 100000 - 50000, i % 240,
                       i % 3 ? 12 * 64 : INT_MAX});
  for (auto [from_w, from_h, to_w, to_h] :
       {std::tuple{320, 240, 320, 240}, std::tuple{1, 1, 1279, 721}, std::tuple{0, 7, 33, 17}}) {
    AlgProtocol scaled = r;
    scaled.width = static_cast<uint16_t>(from_w), scaled.height = static_cast<uint16_t>(from_h);
    engine::Scale(scaled, to_w, to_h);
    OverlayPicture p;
    DrawBitmap(scaled, p);
    ASSERT_EQ(p.width(), to_w);
    Count(p, 0);
    Frame f(to_w, to_h);
    BlendOverlay(p, f.data(), to_w, to_h);
    EXPECT_TRUE(f.GuardIntact());
  }
  // Unscaled: a zero space draws nothing; 65535 x 65535 is not allocated.
  OverlayPicture p;
  for (auto [w, h] : {std::pair{0, 720}, std::pair{65535, 65535}}) {
    r.width = static_cast<uint16_t>(w), r.height = static_cast<uint16_t>(h);
    DrawBitmap(r, p);
    EXPECT_TRUE(p.empty()) << w << "x" << h;
  }
}

// Without a Qt application (in a fresh child) shapes are drawn, texts left
// out, nothing aborts; another thread may not make the application, the main
// thread may, and then texts appear.
int HeadlessChild() {
  AlgProtocol r = Space(64, 48);
  r.circles = {{3, 4, 10, 10}};
  r.texts = {{1, "TEXT", 20, 20, 30 * 64}};
  OverlayPicture p;
  DrawBitmap(r, p);
  if (engine::GuiAvailableForDrawing() || ColorAt(p, 10, 10) != 0x00FF00 || Count(p, 0x0000FF)) return 3;
  bool made_elsewhere = true;
  std::thread([&made_elsewhere] { made_elsewhere = engine::EnsureGuiForDrawing(); }).join();
  if (made_elsewhere || engine::GuiAvailableForDrawing() || !engine::EnsureGuiForDrawing()) return 4;
  DrawBitmap(r, p);
  return Count(p, 0x0000FF) > 20 ? 0 : 5;
}

TEST(AlgDrawHeadless, TextsWaitForAGuiApplicationMadeOnTheMainThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a re-executed child: no application from other tests
  EXPECT_EXIT(std::_Exit(HeadlessChild()), testing::ExitedWithCode(0), "");
}

// --- The play thread's overlay step.

class OverlayWindow : public testing::Test {
 protected:
  void Put(int64_t time) {
    AlgProtocol r = Space(1920, 1080, time);
    r.circles = {{3, 100, 960, 540}};  // radius 3 around (32, 24) in 64 x 48
    ObjectLock lock(ring);
    ASSERT_EQ(ring.Put(r), 1);
  }
  // Applies the overlay to a fresh 64 x 48 frame; true when it changed.
  bool Show(int64_t time) {
    Frame f(64, 48);
    track.Apply(ring, time, f.data(), 64, 48);
    EXPECT_TRUE(f.GuardIntact());
    EXPECT_EQ(f.Changed() > 0, track.last_blended());
    if (f.Changed()) EXPECT_EQ(f.Y(32, 24), 255);
    return f.Changed() > 0;
  }
  int Queued() {
    ObjectLock lock(ring);
    return ring.Count();
  }
  AlgProtocolList ring;
  OverlayTrack track;
};

TEST_F(OverlayWindow, RecordIsBlendedIntoPicturesWithin260MsBeforeIt) {
  EXPECT_EQ(track.record().width, 1920) << "the recorder's space before any record";
  Put(1300);
  EXPECT_FALSE(Show(1000)) << "300 ms before the record";
  EXPECT_EQ(track.record().width, 64) << "scaled to the picture";
  EXPECT_FALSE(Show(1040)) << "exactly 260 ms: outside";
  EXPECT_TRUE(Show(1080));
  EXPECT_TRUE(Show(1300));
  EXPECT_EQ(track.draw_count(), 1u) << "drawn once, blended into each picture";
  EXPECT_FALSE(Show(1301)) << "older than the picture, and the ring is empty";
  EXPECT_FALSE(track.holds_record());
}

TEST_F(OverlayWindow, RecordsOlderThanThePictureAreDiscardedAndOnlyAsNeeded) {
  for (int64_t t : {500, 900, 1100, 1500}) Put(t);
  EXPECT_TRUE(Show(1000));
  EXPECT_EQ(track.last_taken(), 3);
  EXPECT_EQ(track.record().time, 1100);
  EXPECT_EQ(Queued(), 1);
  EXPECT_TRUE(Show(1100));
  EXPECT_EQ(track.last_taken(), 0) << "the held record still belongs";
  EXPECT_FALSE(Show(1200)) << "1500 is 300 ms after";
  EXPECT_EQ(track.draw_count(), 2u) << "discarded records are not drawn";

  // A full ring with a record per picture loses one record per picture.
  for (int k = 0; k < AlgProtocolList::kCapacity; ++k) Put(2000 + k * 40);
  for (int k = 0; k < AlgProtocolList::kCapacity; ++k) {
    EXPECT_TRUE(Show(2000 + k * 40));
    EXPECT_EQ(track.last_taken(), 1);
    EXPECT_EQ(Queued(), AlgProtocolList::kCapacity - 1 - k);
  }
}

TEST_F(OverlayWindow, ResetAndSizeChanges) {
  Put(1000);
  EXPECT_TRUE(Show(1000));
  track.Reset();  // a flush: what was held belongs to the old position
  EXPECT_FALSE(Show(1000));
  EXPECT_FALSE(track.holds_record());

  // The pictures change size under a held record: it is drawn again for them.
  Put(2100);
  EXPECT_TRUE(Show(2000));
  Frame wide(96, 54);
  track.Apply(ring, 2010, wide.data(), 96, 54);
  EXPECT_TRUE(track.last_blended());
  EXPECT_EQ(wide.Y(48, 27), 255);
  EXPECT_TRUE(wide.GuardIntact());
  EXPECT_EQ(track.draw_count(), 3u);
  track.Apply(ring, 2020, nullptr, 96, 54);  // no frame memory: bookkeeping only
  EXPECT_FALSE(track.last_blended());
  EXPECT_TRUE(track.holds_record());
}

}  // namespace

// A channel's pictures into its pane: turning and mirroring, fitting, the
// sizes the bitmap path converts to, the conversion cache, the surface path.
#include "engine/ImplACVirtualMovie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/EngineGlobals.h"
#include "engine/GuiForDrawing.h"
#include "engine/ImageSurface.h"
#include "engine/PictureRotation.h"

namespace {

using engine::ImplACVirtualMovie;

// A w x h picture whose every byte says where it is: luma = 10 * y + x,
// chroma planes 100 + ... and 200 + ...
std::vector<uint8_t> Numbered(int w, int h) {
  std::vector<uint8_t> p(static_cast<size_t>(w * h + 2 * (w / 2) * (h / 2)));
  size_t i = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[i++] = static_cast<uint8_t>(10 * y + x);
  for (int plane = 1; plane <= 2; ++plane)
    for (int y = 0; y < h / 2; ++y)
      for (int x = 0; x < w / 2; ++x) p[i++] = static_cast<uint8_t>(100 * plane + 10 * y + x);
  return p;
}

uint8_t Luma(const std::vector<uint8_t>& p, int w, int x, int y) { return p[static_cast<size_t>(y * w + x)]; }

TEST(PictureRotation, EachTurnMovesThePixelsWhereTheCameraWouldSeeThem) {
  const int w = 4, h = 2;  // luma: row 0 = 0 1 2 3, row 1 = 10 11 12 13
  const auto in = Numbered(w, h);
  std::vector<uint8_t> out(in.size());
  struct Case {
    int rotation, ow;
    std::vector<int> luma;  // the rows it must give
  };
  const std::vector<Case> cases = {
      {0, 4, {0, 1, 2, 3, 10, 11, 12, 13}},
      {1, 4, {3, 2, 1, 0, 13, 12, 11, 10}},
      {2, 4, {10, 11, 12, 13, 0, 1, 2, 3}},
      {3, 2, {10, 0, 11, 1, 12, 2, 13, 3}},  // clockwise: the left column on top, read bottom-up
      {4, 2, {3, 13, 2, 12, 1, 11, 0, 10}},
      {5, 4, {13, 12, 11, 10, 3, 2, 1, 0}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(engine::RotatePicture(in.data(), w, h, c.rotation, out.data()));
    const int oh = c.rotation == 3 || c.rotation == 4 ? w : h;
    std::vector<int> luma;
    for (int y = 0; y < oh; ++y)
      for (int x = 0; x < c.ow; ++x) luma.push_back(Luma(out, c.ow, x, y));
    EXPECT_EQ(luma, c.luma) << "rotation " << c.rotation;
  }
  // Chroma turns with the picture: 2 x 1 planes become 1 x 2.
  ASSERT_TRUE(engine::RotatePicture(in.data(), w, h, 3, out.data()));
  EXPECT_EQ(out[8], 100);
  EXPECT_EQ(out[9], 101);
  EXPECT_EQ(out[10], 200);
  EXPECT_FALSE(engine::RotatePicture(in.data(), w, h, 6, out.data()));
}

TEST(ImplACVirtualMovie, FittingKeepsThePicturesShapeAndNamesTheBands) {
  std::vector<platform::Rect> bands;
  // A 1280 x 720 camera turned a quarter: 720 wide, 1280 high, in a wide pane.
  platform::Rect r = ImplACVirtualMovie::FitRect({1000, 500}, 720, 1280, &bands);
  EXPECT_EQ(r.height, 500);
  EXPECT_EQ(r.width, 281);
  EXPECT_EQ(r.x, (1000 - 281) / 2);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0].width + bands[1].width + r.width, 1000);
  // A wide picture in a tall pane: bands above and below.
  r = ImplACVirtualMovie::FitRect({400, 600}, 1600, 900, &bands);
  EXPECT_EQ(r.width, 400);
  EXPECT_EQ(r.height, 225);
  EXPECT_EQ(r.y, (600 - 225) / 2);
  ASSERT_EQ(bands.size(), 2u);
  // The same shape: no bands.
  r = ImplACVirtualMovie::FitRect({640, 360}, 1280, 720, &bands);
  EXPECT_EQ(r.width, 640);
  EXPECT_TRUE(bands.empty());
}

class Movie : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    engine::DisplaySettings(0).mirror.store(0);
    engine::DisplaySettings(0).aspect_fit.store(false);
  }
  // A flat picture: a white left half, a dark right half.
  static std::vector<uint8_t> Picture(int w, int h) {
    std::vector<uint8_t> p(static_cast<size_t>(w * h * 3 / 2), 128);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) p[static_cast<size_t>(y * w + x)] = x < w / 2 ? 235 : 60;
    return p;
  }
};

TEST_F(Movie, TheBitmapPathConvertsOncePerTimeStampToALittleMoreThanThePane) {
  engine::ImageSurface pane(640, 360);
  ImplACVirtualMovie movie;
  movie.Open(&pane);
  const auto picture = Picture(1280, 720);
  ASSERT_EQ(movie.ShowPicture(picture.data(), 40, 1280, 720, 0), 1);
  EXPECT_EQ(movie.conversions(), 1u);
  const auto shown = pane.last();
  EXPECT_EQ(shown.width, 672) << "640 rounded down to 32, plus 32";
  EXPECT_EQ(shown.height, 362) << "360 with its lowest bit set, plus 1";
  EXPECT_EQ(shown.format, platform::PixelFormat::BGR24);
  EXPECT_EQ(shown.dst.width, 640);
  EXPECT_EQ(shown.dst.height, 360);
  // Held: shown again from the cache.
  movie.ShowPicture(picture.data(), 40, 1280, 720, 0);
  EXPECT_EQ(movie.conversions(), 1u);
  EXPECT_EQ(pane.presents(), 2);
  movie.ShowPicture(picture.data(), 80, 1280, 720, 0);
  EXPECT_EQ(movie.conversions(), 2u);
  // What the pane shows: white on the left, dark on the right.
  const QImage image = pane.Snapshot();
  EXPECT_GT(qGray(image.pixel(100, 180)), 220);
  EXPECT_LT(qGray(image.pixel(540, 180)), 80);
}

TEST_F(Movie, ATurnedPictureIsFittedUprightWithTheBandsErased) {
  engine::ImageSurface pane(1000, 500);
  engine::DisplaySettings(0).mirror.store(3);
  engine::DisplaySettings(0).aspect_fit.store(true);
  ImplACVirtualMovie movie;
  movie.Open(&pane);
  const auto picture = Picture(1280, 720);
  ASSERT_EQ(movie.ShowPicture(picture.data(), 40, 1280, 720, 0), 1);
  const auto shown = pane.last();
  EXPECT_EQ(shown.dst.width, 281);
  EXPECT_EQ(shown.dst.height, 500);
  EXPECT_EQ(shown.dst.x, 359);
  EXPECT_EQ(pane.last_erased().size(), 2u);
  // Turned clockwise, the white left half is now the top half.
  const QImage image = pane.Snapshot();
  EXPECT_GT(qGray(image.pixel(500, 100)), 220);
  EXPECT_LT(qGray(image.pixel(500, 400)), 80);
  EXPECT_EQ(qGray(image.pixel(100, 250)), 0) << "a band";
}

TEST_F(Movie, TheSurfacePathStretchesATargetOfThePanesSize) {
  engine::ImageSurface pane(320, 180);
  ImplACVirtualMovie movie;
  movie.Open(&pane);
  movie.SetShowMode(ImplACVirtualMovie::kShowSurfaces);
  const auto picture = Picture(640, 360);
  ASSERT_EQ(movie.ShowPicture(picture.data(), 40, 640, 360, 0), 1);
  EXPECT_EQ(movie.GetPixelMode(), ImplACVirtualMovie::kPixelYuy2);
  const auto shown = pane.last();
  EXPECT_EQ(shown.format, platform::PixelFormat::YUYV);
  EXPECT_EQ(shown.width, 320);
  EXPECT_EQ(shown.height, 180);
  const QImage image = pane.Snapshot();
  EXPECT_GT(qGray(image.pixel(40, 90)), 220);
  EXPECT_LT(qGray(image.pixel(280, 90)), 80);
  movie.ShowPicture(picture.data(), 40, 640, 360, 0);
  EXPECT_EQ(movie.conversions(), 1u);
  // A 1280 x 720 picture is converted straight to the pane's size.
  const auto large = Picture(1280, 720);
  ASSERT_EQ(movie.ShowPicture(large.data(), 80, 1280, 720, 0), 1);
  EXPECT_EQ(pane.last().width, 320);
  // RGB surfaces show the same picture.
  movie.SetSurfaceKind(0);
  ASSERT_EQ(movie.ShowPicture(large.data(), 120, 1280, 720, 0), 1);
  EXPECT_EQ(movie.GetPixelMode(), ImplACVirtualMovie::kPixelRgb24);
  EXPECT_EQ(pane.last().format, platform::PixelFormat::BGR24);
  EXPECT_GT(qGray(pane.Snapshot().pixel(40, 90)), 220);
}

TEST_F(Movie, ModeTwoDrawsNothingAndNoPictureIsRefused) {
  engine::ImageSurface pane(160, 90);
  ImplACVirtualMovie movie;
  movie.Open(&pane);
  movie.SetShowMode(2);
  const auto picture = Picture(160, 90);
  EXPECT_EQ(movie.ShowPicture(picture.data(), 40, 160, 90, 0), 1);
  EXPECT_EQ(pane.presents(), 0);
  EXPECT_EQ(movie.ShowPicture(nullptr, 40, 160, 90, 0), 0);
  EXPECT_EQ(movie.ShowPictureWithText(nullptr, 160, 90, 0, "Closed"), 0);
}

TEST_F(Movie, AClosedChannelShowsItsCaptionCentredOverThePicture) {
  ASSERT_TRUE(engine::EnsureGuiForDrawing());
  engine::ImageSurface pane(320, 180);
  ImplACVirtualMovie movie;
  movie.Open(&pane);
  std::vector<uint8_t> black(176 * 144 * 3 / 2, 128);
  std::fill(black.begin(), black.begin() + 176 * 144, 16);
  ASSERT_EQ(movie.ShowPictureWithText(black.data(), 176, 144, 0, "Closed"), 1);
  const QImage image = pane.Snapshot();
  // White letters 32 pixels high across the middle, nothing near the edges.
  int white = 0, left = 320, right = 0;
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 320; ++x)
      if (qGray(image.pixel(x, y)) > 200) {
        ++white;
        left = std::min(left, x);
        right = std::max(right, x);
        EXPECT_GT(y, 60);
        EXPECT_LT(y, 120);
      }
  EXPECT_GT(white, 200);
  EXPECT_NEAR((left + right) / 2.0, 160, 6) << "centred";
}

}  // namespace

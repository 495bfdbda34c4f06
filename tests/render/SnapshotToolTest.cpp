// dravik-tool snapshot on a sample recording with overlay records: the BMP is
// the picture at its own size (read back by ffprobe and ffmpeg), the overlays
// change it, and a pane's PNG is the pane's size with the picture fitted.
#include <gtest/gtest.h>

#include <QImage>
#include <string>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::RunShell;

class SnapshotTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string out;
    ASSERT_EQ(RunShell(std::string(DRAVIK_TOOL) + " mksample '" + dir_.path().string() +
                           "' --format avi --channels 1 --seconds 2 --groups 1 --width 320 --height 180",
                       &out),
              0);
    file_ = out.substr(0, out.find('\n'));
  }
  int Snapshot(const std::string& args, std::string* out = nullptr) {
    return RunShell(std::string(DRAVIK_TOOL) + " snapshot '" + file_ + "' --channel 0 --at 1 " + args, out);
  }
  testing_support::TempDir dir_;
  std::string file_;
};

TEST_F(SnapshotTool, TheBmpIsThePictureAtItsSizeAndTheOverlaysChangeIt) {
  const std::string plain = (dir_ / "plain.bmp").string(), drawn = (dir_ / "drawn.bmp").string();
  std::string out;
  ASSERT_EQ(Snapshot("--out '" + plain + "'", &out), 0) << out;
  EXPECT_NE(out.find("320x180 picture_ms=1000"), std::string::npos) << out;
  ASSERT_EQ(Snapshot("--overlay --out '" + drawn + "'"), 0);
  ASSERT_EQ(RunShell("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + plain + "'", &out), 0);
  EXPECT_EQ(out, "320,180\n");
  const QImage a(QString::fromStdString(plain)), b(QString::fromStdString(drawn));
  ASSERT_FALSE(a.isNull());
  ASSERT_EQ(a.size(), b.size());
  int changed = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) changed += a.pixel(x, y) != b.pixel(x, y);
  // The sample's overlay: a rectangle round the moving object, a disc, a
  // label and the region's outline; thin lines, so a small part of the picture.
  EXPECT_GT(changed, 300);
  EXPECT_LT(changed, a.width() * a.height() / 4);
}

TEST_F(SnapshotTool, APanesPngIsThePanesSizeWithTheTurnedPictureFitted) {
  const std::string png = (dir_ / "pane.png").string();
  ASSERT_EQ(Snapshot("--pane 400x300 --rotate 3 --fit --out '" + png + "'"), 0);
  const QImage pane(QString::fromStdString(png));
  ASSERT_EQ(pane.size(), QSize(400, 300));
  // Turned a quarter, the 16:9 picture stands 300 high and 168 wide in the
  // middle, with black bands left and right.
  EXPECT_EQ(qGray(pane.pixel(10, 150)), 0);
  EXPECT_EQ(qGray(pane.pixel(390, 150)), 0);
  EXPECT_GT(qGray(pane.pixel(200, 150)), 0);
  EXPECT_NE(Snapshot("--pane 4x3 --out '" + png + "'"), 0) << "too small a pane is refused";
}

}  // namespace

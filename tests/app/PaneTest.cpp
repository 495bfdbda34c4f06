// A channel pane as the engine's drawing surface: pictures presented from
// another thread reach the pane's paint, newest first, in the rectangle the
// engine chose; a pane may go while its last wake-up is still queued.
#include <QImage>
#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include "app/GCEVideoDialog.h"

namespace {

// A BGR24 picture of one colour.
struct Solid {
  Solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) : pixels(static_cast<size_t>(width * height * 3)) {
    for (size_t i = 0; i < pixels.size(); i += 3) {
      pixels[i] = b;
      pixels[i + 1] = g;
      pixels[i + 2] = r;
    }
    picture = {pixels.data(), width, height, width * 3, platform::PixelFormat::BGR24, 0};
  }
  std::vector<uint8_t> pixels;
  platform::Picture picture;
};

}  // namespace

class PaneTest : public QObject {
  Q_OBJECT

 private slots:
  void picturesFromAPlayThreadReachThePaintNewestFirst() {
    app::GCEVideoDialog pane(0);
    pane.resize(160 + 2 * app::GCEVideoDialog::kInset, 96 + 2 * app::GCEVideoDialog::kInset);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QCOMPARE(pane.surface()->ClientSize().width, 160);
    constexpr int kPictures = 200;
    std::atomic<bool> done{false};
    std::thread play([&] {
      for (int i = 1; i <= kPictures; ++i) {
        Solid s(160, 96, static_cast<uint8_t>(i), 0, static_cast<uint8_t>(255 - i));
        pane.surface()->Present(s.picture, {0, 0, 160, 96});
      }
      done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    play.join();
    QTRY_COMPARE(pane.counters().taken + pane.counters().dropped, uint64_t{kPictures});
    QCOMPARE(pane.counters().skipped, uint64_t{0});
    const QImage shown = pane.grab().toImage();
    QCOMPARE(QColor(shown.pixel(80, 48)), QColor(kPictures, 0, 255 - kPictures));
  }

  void thePictureGoesWhereTheEngineSaidAndScalesWithThePane() {
    // The surface is inset 2 pixels: its client is 200 x 100, at (2, 2).
    constexpr int kIn = app::GCEVideoDialog::kInset;
    app::GCEVideoDialog pane(3);
    pane.resize(200 + 2 * kIn, 100 + 2 * kIn);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    Solid red(50, 50, 255, 0, 0);
    pane.surface()->Present(red.picture, {0, 0, 100, 100});  // the left half of 200 x 100
    QTRY_VERIFY(!pane.current().isNull());
    QImage shown = pane.grab().toImage();
    QCOMPARE(QColor(shown.pixel(kIn + 50, kIn + 50)), QColor(Qt::red));
    QCOMPARE(QColor(shown.pixel(kIn + 150, kIn + 50)), QColor(Qt::black));
    QCOMPARE(QColor(shown.pixel(0, 50)), QColor(Qt::black));  // the inset
    // The pane shrinks between the engine's drawing and the paint: the
    // rectangle worked out for the old size is scaled to the new one.
    pane.resize(400 + 2 * kIn, 200 + 2 * kIn);
    QCOMPARE(pane.surface()->ClientSize().width, 400);
    pane.surface()->Present(red.picture, {0, 0, 200, 200});  // the left half of 400 x 200
    pane.resize(200 + 2 * kIn, 100 + 2 * kIn);
    QTRY_COMPARE(pane.counters().taken, uint64_t{2});
    shown = pane.grab().toImage();
    QCOMPARE(shown.size(), QSize(200 + 2 * kIn, 100 + 2 * kIn));
    QCOMPARE(QColor(shown.pixel(kIn + 90, kIn + 90)), QColor(Qt::red));
    QCOMPARE(QColor(shown.pixel(kIn + 110, kIn + 10)), QColor(Qt::black));
  }

  void aPaneGoneBeforeItsWakeUpIsHandledIsNoFault() {
    auto* pane = new app::GCEVideoDialog(1);
    pane->resize(64, 64);
    Solid s(64, 64, 1, 2, 3);
    std::thread play([&] { pane->surface()->Present(s.picture, {0, 0, 64, 64}); });
    play.join();  // the wake-up is queued, not yet delivered
    delete pane;
    QCoreApplication::processEvents();  // nothing is delivered to the pane gone (ASan would say)
  }

  void yuyvAndBgrBecomeTheRightColours() {
    // Studio-range white and black in YUYV; BGR24 keeps blue first.
    const uint8_t yuyv[] = {235, 128, 235, 128, 16, 128, 16, 128};
    const QImage w = app::ToImage({yuyv, 2, 1, 4, platform::PixelFormat::YUYV, 0});
    QCOMPARE(QColor(w.pixel(0, 0)), QColor(255, 255, 255));
    const QImage k = app::ToImage({yuyv + 4, 2, 1, 4, platform::PixelFormat::YUYV, 0});
    QCOMPARE(QColor(k.pixel(1, 0)), QColor(0, 0, 0));
    const uint8_t bgr[] = {10, 20, 30};
    QCOMPARE(QColor(app::ToImage({bgr, 1, 1, 3, platform::PixelFormat::BGR24, 0}).pixel(0, 0)), QColor(30, 20, 10));
    QVERIFY(app::ToImage({nullptr, 2, 2, 6, platform::PixelFormat::BGR24, 0}).isNull());
  }
};

QTEST_MAIN(PaneTest)
#include "PaneTest.moc"

#include "engine/AlgOverlay.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPen>
#include <QString>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/GuiForDrawing.h"

namespace engine {
namespace {

constexpr std::array<uint32_t, 7> kColors = {0xFFFFFF, 0x0000FF, 0xFF0000, 0x00FF00, 0x00FFFF, 0x800080, 0xFFFF00};

uint32_t ColorValue(const uint8_t* bgr) { return uint32_t{bgr[0]} << 16 | uint32_t{bgr[1]} << 8 | bgr[2]; }

// True when the 8 pixels (24 bytes) from p are all black.
bool EightBlack(const uint8_t* p) {
  uint64_t words[3];
  std::memcpy(words, p, sizeof words);
  return (words[0] | words[1] | words[2]) == 0;
}

struct Yuv {
  uint8_t y, u, v;
};
// The frame values of kColors, in the same order.
constexpr std::array<Yuv, 7> kBlend = {{{255, 128, 128},
                                        {77, 127, 213},
                                        {29, 235, 127},
                                        {255, 0, 0},
                                        {226, 21, 128},
                                        {53, 202, 213},
                                        {180, 186, 0}}};

// The index in kColors of a pixel's colour value; -1 for black and for
// colours outside the table.
int BlendIndex(uint32_t colorref) {
  switch (colorref) {
    case 0xFFFFFF: return 0;
    case 0x0000FF: return 1;
    case 0xFF0000: return 2;
    case 0x00FF00: return 3;
    case 0x00FFFF: return 4;
    case 0x800080: return 5;
    case 0xFFFF00: return 6;
    default: return -1;
  }
}

// Labels taller than this are drawn at this height, and longer ones are cut:
// the recorder's labels are a few words tens of pixels high, no picture shows
// more, and Qt lays text out in 26.6 fixed point, which giant fonts and long
// strings would overflow (and a flood of long labels would stall the play
// thread). A label starting further left cannot reach the picture.
constexpr int64_t kMaxTextCell = 1024;
constexpr qsizetype kMaxTextUnits = 1024;
constexpr double kFarLeft = -(1 << 20);

int32_t ScaleValue(int32_t value, double ratio) {
  const double product = std::trunc(static_cast<double>(value) * ratio);
  if (product >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (product <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(product);
}

int32_t ScaleAtLeastOne(int32_t value, double ratio) {
  const int32_t scaled = ScaleValue(value, ratio);
  return scaled == 0 ? 1 : scaled;
}

QColor ToQColor(uint32_t colorref) {
  return QColor(static_cast<int>(colorref & 0xFF), static_cast<int>((colorref >> 8) & 0xFF),
                static_cast<int>((colorref >> 16) & 0xFF));
}

// Liang-Barsky: cuts the segment a-b down to `box`; false when none of it is
// inside. Keeps Qt's fixed-point rasterizer away from far-off coordinates.
bool ClipSegment(QPointF& a, QPointF& b, const QRectF& box) {
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const QPointF start = a;
  if (t1 < 1) b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
  if (t0 > 0) a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
  return true;
}

class Painter {
 public:
  Painter(OverlayPicture& out)
      : image_(out.data(), out.width(), out.height(), out.stride(), QImage::Format_BGR888),
        painter_(&image_),
        width_(out.width()),
        height_(out.height()),
        // A pen wider than the picture's perimeter covers all it can reach.
        max_pen_(2 * (int64_t{out.width()} + out.height())) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, false);
  }

  void End() { painter_.end(); }
  // Rows top() .. bottom() - 1 hold everything drawn (with a margin).
  int64_t top() const { return top_ < bottom_ ? top_ : 0; }
  int64_t bottom() const { return top_ < bottom_ ? bottom_ : 0; }

  void Disc(const qvv::AlgCircle& c) {
    const int64_t r = std::abs(int64_t{c.radius});
    const int64_t x = c.x, y = c.y;
    if (r == 0 || x + r <= 0 || y + r <= 0 || x - r >= width_ || y - r >= height_) return;
    const QColor color = ToQColor(OverlayColor(c.color));
    // A disc that holds every pixel centre fills the picture; huge discs
    // stay out of the rasterizer.
    const double far_x = std::max(std::abs(x - 0.5), std::abs(x - (width_ - 0.5)));
    const double far_y = std::max(std::abs(y - 0.5), std::abs(y - (height_ - 0.5)));
    if (far_x * far_x + far_y * far_y <= static_cast<double>(r) * static_cast<double>(r)) {
      painter_.fillRect(0, 0, width_, height_, color);
      Touch(0, height_);
      return;
    }
    Touch(static_cast<double>(y - r), static_cast<double>(y + r));
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(color);
    painter_.drawEllipse(QRectF(static_cast<double>(x - r), static_cast<double>(y - r), 2.0 * r, 2.0 * r));
  }

  // The outline runs through the centres of the box's edge pixels: a pen of
  // width 1 colours exactly the border of the width x height pixels from (x, y).
  void Rectangle(const qvv::AlgRectangle& rect) {
    if (rect.width == 0 || rect.height == 0) return;
    const int64_t x0 = rect.width > 0 ? int64_t{rect.x} : int64_t{rect.x} + rect.width;
    const int64_t x1 = rect.width > 0 ? int64_t{rect.x} + rect.width - 1 : int64_t{rect.x} - 1;
    const int64_t y0 = rect.height > 0 ? int64_t{rect.y} : int64_t{rect.y} + rect.height;
    const int64_t y1 = rect.height > 0 ? int64_t{rect.y} + rect.height - 1 : int64_t{rect.y} - 1;
    const std::array<QPointF, 4> corners = {QPointF(x0, y0), QPointF(x1, y0), QPointF(x1, y1), QPointF(x0, y1)};
    Outline(corners, rect.color, rect.pen_width);
  }

  void Region(const std::vector<qvv::AlgRegionCorner>& region) {
    if (region.size() < 4) return;
    std::array<QPointF, 4> corners;
    for (size_t i = 0; i < 4; ++i) corners[i] = QPointF(region[i].x, region[i].y);
    Outline(corners, region[0].color, region[0].pen_width);
  }

  void Text(const qvv::AlgText& t) {
    if (t.text.empty() || t.size < 64) return;
    const int64_t cell = std::min<int64_t>(t.size / 64, kMaxTextCell);
    // A label runs right and down from its top-left corner.
    if (t.x >= width_ || t.y >= height_ || t.x < kFarLeft || int64_t{t.y} + 2 * cell < 0) return;
    if (cell != font_cell_) SetFontCell(static_cast<int>(cell));
    // UTF-8 from the record parser; a character takes at most 4 bytes.
    const size_t bytes = std::min<size_t>(t.text.size(), 4 * static_cast<size_t>(kMaxTextUnits));
    QString text = QString::fromUtf8(t.text.data(), static_cast<qsizetype>(bytes));
    if (text.size() > kMaxTextUnits) text.truncate(kMaxTextUnits);
    painter_.setPen(ToQColor(OverlayColor(t.color)));
    painter_.drawText(QPointF(t.x, t.y + font_ascent_), text);
    // Glyphs of other fonts (characters Arial lacks) may reach past the cell.
    Touch(static_cast<double>(t.y - 2 * cell), static_cast<double>(t.y + 4 * cell));
  }

 private:
  // Rows y0 .. y1 (and a pixel of rounding either side) have been drawn on.
  void Touch(double y0, double y1) {
    const double limit = 1e15;  // far beyond any picture, well inside int64
    top_ = std::min(top_, static_cast<int64_t>(std::clamp(std::floor(y0), -limit, limit)) - 2);
    bottom_ = std::max(bottom_, static_cast<int64_t>(std::clamp(std::ceil(y1), -limit, limit)) + 3);
  }

  void Outline(const std::array<QPointF, 4>& corners, int32_t color, int32_t pen_width) {
    const int64_t pen = std::clamp<int64_t>(pen_width, 1, max_pen_);
    // Windows draws pens wider than 1 with round ends and joins.
    QPen qpen(ToQColor(OverlayColor(color)), static_cast<double>(pen), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter_.setPen(qpen);
    painter_.setBrush(Qt::NoBrush);
    const double margin = static_cast<double>(pen) / 2 + 2;
    const QRectF reach(QPointF(-margin, -margin), QPointF(width_ - 1 + margin, height_ - 1 + margin));
    bool inside = true;
    for (const QPointF& p : corners) inside = inside && reach.contains(p);
    if (inside) {
      painter_.drawPolygon(corners.data(), 4);
      for (const QPointF& p : corners) Touch(p.y() - margin, p.y() + margin);
      return;
    }
    // Sides cut to what can reach the picture, each with round ends: together
    // the same pixels as the whole outline with round joins.
    for (size_t i = 0; i < 4; ++i) {
      QPointF a = corners[i], b = corners[(i + 1) % 4];
      if (!ClipSegment(a, b, reach)) continue;
      painter_.drawLine(QLineF(a, b));
      Touch(std::min(a.y(), b.y()) - margin, std::max(a.y(), b.y()) + margin);
    }
  }

  // The recorder's size is the character cell's height (ascent plus descent),
  // as Windows measures a font; Qt's pixel size is the em, about 0.9 of that
  // for Arial.
  void SetFontCell(int cell) {
    QFont font(QStringLiteral("Arial"));
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(256);
    const QFontMetricsF reference(font);
    const double per_em = (reference.ascent() + reference.descent()) / 256.0;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(cell / (per_em > 0 ? per_em : 1.0)))));
    painter_.setFont(font);
    font_ascent_ = QFontMetricsF(font).ascent();
    font_cell_ = cell;
  }

  QImage image_;
  QPainter painter_;
  const int width_;
  const int height_;
  const int64_t max_pen_;
  int64_t font_cell_ = -1;
  int64_t top_ = std::numeric_limits<int64_t>::max();
  int64_t bottom_ = std::numeric_limits<int64_t>::min();
  double font_ascent_ = 0;
};

}  // namespace

void Scale(qvv::AlgProtocol& record, int width, int height) {
  if (width < 1 || height < 1 || width > 65535 || height > 65535) return;
  const double from_width = record.width ? record.width : qvv::AlgProtocol::kDefaultWidth;
  const double from_height = record.height ? record.height : qvv::AlgProtocol::kDefaultHeight;
  const double rx = width / from_width, ry = height / from_height, r = std::min(rx, ry);
  for (auto& c : record.circles) {
    c.radius = ScaleAtLeastOne(c.radius, r);
    c.x = ScaleValue(c.x, rx);
    c.y = ScaleValue(c.y, ry);
  }
  for (auto& rect : record.rectangles) {
    rect.pen_width = ScaleAtLeastOne(rect.pen_width, r);
    rect.x = ScaleValue(rect.x, rx);
    rect.width = ScaleValue(rect.width, rx);
    rect.y = ScaleValue(rect.y, ry);
    rect.height = ScaleValue(rect.height, ry);
  }
  for (auto& t : record.texts) {
    t.x = ScaleValue(t.x, rx);
    t.y = ScaleValue(t.y, ry);
    t.size = ScaleValue(t.size, rx);
  }
  for (auto& corner : record.region) {
    corner.pen_width = ScaleAtLeastOne(corner.pen_width, r);
    corner.x = ScaleValue(corner.x, rx);
    corner.y = ScaleValue(corner.y, ry);
  }
  record.width = static_cast<uint16_t>(width);
  record.height = static_cast<uint16_t>(height);
}

OverlayPicture::OverlayPicture() = default;
OverlayPicture::~OverlayPicture() = default;

bool OverlayPicture::Resize(int width, int height) {
  const bool fits = width > 0 && height > 0 && int64_t{width} * height <= kMaxPixels;
  if (fits && width == width_ && height == height_) return true;
  const int stride = fits ? StrideFor(width) : 0;
  const size_t bytes = fits ? static_cast<size_t>(stride) * static_cast<size_t>(height) : 0;
  if (bytes != byte_size_) {
    bytes_.reset(bytes ? new uint8_t[bytes] : nullptr);
    byte_size_ = bytes;
  }
  width_ = fits ? width : 0;
  height_ = fits ? height : 0;
  stride_ = stride;
  colored_top_ = 0, colored_bottom_ = height_;
  runs_.clear();
  indexed_ = false;
  return fits;
}

void OverlayPicture::FillBlack() {
  colored_top_ = 0, colored_bottom_ = height_;
  ClearColoredRows();
}

void OverlayPicture::ClearColoredRows() {
  if (colored_bottom_ > colored_top_) {
    std::memset(bytes_.get() + static_cast<size_t>(colored_top_) * static_cast<size_t>(stride_), 0,
                static_cast<size_t>(colored_bottom_ - colored_top_) * static_cast<size_t>(stride_));
  }
  colored_top_ = colored_bottom_ = 0;
  runs_.clear();
  indexed_ = true;
}

void OverlayPicture::SetColoredRows(int64_t top, int64_t bottom) {
  colored_top_ = static_cast<int>(std::clamp<int64_t>(top, 0, height_));
  colored_bottom_ = static_cast<int>(std::clamp<int64_t>(bottom, colored_top_, height_));
}

namespace {

// The first pixel of the row at or after x that is not black; width when
// none is. Overlays are mostly black: 32 and then 8 pixels are passed at once.
int NextColored(const uint8_t* row, int x, int width) {
  while (x + 32 <= width) {
    uint64_t words[12];
    std::memcpy(words, row + 3 * static_cast<size_t>(x), sizeof words);
    uint64_t any = 0;
    for (uint64_t word : words) any |= word;
    if (any) break;
    x += 32;
  }
  while (x + 8 <= width && EightBlack(row + 3 * static_cast<size_t>(x))) x += 8;
  while (x < width && ColorValue(row + 3 * static_cast<size_t>(x)) == 0) ++x;
  return x;
}

// Calls run(y, x, length, colour index) for every stretch of one table colour
// in rows top .. bottom - 1 and columns 0 .. width - 1, row by row, left to
// right. Colours outside the table are passed over.
template <typename RunFn>
void ForEachRun(const OverlayPicture& picture, int width, int top, int bottom, RunFn&& run) {
  for (int y = top; y < bottom; ++y) {
    const uint8_t* row = picture.data() + static_cast<size_t>(y) * static_cast<size_t>(picture.stride());
    for (int x = NextColored(row, 0, width); x < width;) {
      const uint32_t value = ColorValue(row + 3 * static_cast<size_t>(x));
      int end = x + 1;
      while (end < width && ColorValue(row + 3 * static_cast<size_t>(end)) == value) ++end;
      const int index = BlendIndex(value);
      if (index >= 0) run(y, x, end - x, index);
      x = NextColored(row, end, width);
    }
  }
}

struct FramePlanes {
  FramePlanes(uint8_t* yuv, int width, int height)
      : luma(yuv),
        u(yuv + static_cast<size_t>(width) * static_cast<size_t>(height)),
        v(u + static_cast<size_t>(width / 2) * static_cast<size_t>(height / 2)),
        width(width),
        chroma_width(width / 2),
        chroma_height(height / 2) {}

  // x .. x + length - 1 lie inside the frame. Chroma belongs to the block's
  // last covered pixel, which runs in raster order give.
  void Write(int y, int x, int length, int color) {
    const Yuv& value = kBlend[static_cast<size_t>(color)];
    std::memset(luma + static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x), value.y,
                static_cast<size_t>(length));
    if (y / 2 >= chroma_height) return;  // an odd frame's last row has no chroma
    const int first = x / 2, last = std::min((x + length - 1) / 2, chroma_width - 1);
    if (last < first) return;
    const size_t at = static_cast<size_t>(y / 2) * static_cast<size_t>(chroma_width) + static_cast<size_t>(first);
    std::memset(u + at, value.u, static_cast<size_t>(last - first + 1));
    std::memset(v + at, value.v, static_cast<size_t>(last - first + 1));
  }

  uint8_t* luma;
  uint8_t* u;
  uint8_t* v;
  int width, chroma_width, chroma_height;
};

}  // namespace

void OverlayPicture::Index() {
  runs_.clear();
  indexed_ = true;
  ForEachRun(*this, width_, colored_top_, colored_bottom_, [this](int y, int x, int length, int color) {
    if (!indexed_) return;
    if (runs_.size() == kMaxRuns) {
      indexed_ = false;
      runs_.clear();
      return;
    }
    runs_.push_back({y, x, length, color});
  });
}

uint32_t OverlayColor(int32_t index) {
  return index >= 0 && index < static_cast<int32_t>(kColors.size()) ? kColors[static_cast<size_t>(index)] : 0;
}

void DrawBitmap(const qvv::AlgProtocol& record, OverlayPicture& out) {
  if (!out.Resize(record.width, record.height)) return;
  out.ClearColoredRows();  // all of it after a change of size
  if (record.circles.empty() && record.rectangles.empty() && record.region.size() < 4 && record.texts.empty()) return;
  Painter painter(out);
  for (const auto& c : record.circles) painter.Disc(c);
  for (const auto& rect : record.rectangles) painter.Rectangle(rect);
  painter.Region(record.region);
  if (!record.texts.empty() && GuiAvailableForDrawing()) {
    for (const auto& t : record.texts) painter.Text(t);
  }
  painter.End();
  out.SetColoredRows(painter.top(), painter.bottom());
  out.Index();
}

void BlendOverlay(const OverlayPicture& overlay, uint8_t* yuv420p, int width, int height) {
  if (!yuv420p || overlay.empty() || width <= 0 || height <= 0) return;
  const int w = std::min(width, overlay.width());
  const int h = std::min(height, overlay.height());
  FramePlanes frame(yuv420p, width, height);
  if (!overlay.indexed()) {
    ForEachRun(overlay, w, 0, h, [&frame](int y, int x, int length, int color) { frame.Write(y, x, length, color); });
    return;
  }
  for (const OverlayPicture::Run& run : overlay.runs()) {
    if (run.y >= h || run.x >= w) continue;  // a frame smaller than the overlay
    frame.Write(run.y, run.x, std::min(run.length, w - run.x), run.color);
  }
}

}  // namespace engine

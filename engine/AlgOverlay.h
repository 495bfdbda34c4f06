#pragma once
// The recorder's analysis overlay on a decoded picture: a record is scaled to
// the picture's size, drawn once into a 24-bit overlay picture, and that
// picture is blended into every YUV 4:2:0 frame it belongs to with a fixed
// colour table (black is transparent).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "QVVReader/AlgProtocol.h"

namespace engine {

// Rescales every item of `record` from its coordinate space to width x height
// (x by width / record.width, y by height / record.height, pen widths and radii
// by the smaller of the two ratios, text sizes by the horizontal one; products
// truncated toward zero and clamped to int32) and makes that the record's
// space. Pen widths and radii that scale to 0 become 1. A record whose space
// has a zero side is taken to be in the recorder's default 1920 x 1080 space.
// A target outside 1 .. 65535 on either side leaves the record as it is.
void Scale(qvv::AlgProtocol& record, int width, int height);

// The channel's overlay picture: 24 bits a pixel in blue-green-red byte order,
// rows top to bottom, each row padded to a multiple of 4 bytes.
class OverlayPicture {
 public:
  // No frame the engine holds is larger (its 10,450,944-byte picture buffer
  // holds 4:2:0 frames of at most this many pixels); a larger picture is
  // refused rather than allocated.
  static constexpr int64_t kMaxPixels = 10450944 / 3 * 2;

  OverlayPicture();
  ~OverlayPicture();
  OverlayPicture(const OverlayPicture&) = delete;
  OverlayPicture& operator=(const OverlayPicture&) = delete;

  // Bytes of one row of a picture `width` pixels wide (width <= kMaxPixels).
  static int StrideFor(int width) { return static_cast<int>((int64_t{width} * 24 + 31) / 32 * 4); }

  // A stretch of one row in one table colour (index 0 .. 6).
  struct Run {
    int32_t y;
    int32_t x;
    int32_t length;
    int32_t color;
  };
  // More runs than this are not worth keeping: blending scans instead.
  static constexpr size_t kMaxRuns = 1 << 16;

  // Makes the picture width x height; the memory is reallocated only when the
  // byte size changes. The contents are kept when the size is the same, else
  // left undefined. A non-positive side or more than kMaxPixels makes it
  // empty (0 x 0) and returns false.
  bool Resize(int width, int height);
  void FillBlack();
  // Makes the picture black again, clearing only the rows that may hold colour.
  void ClearColoredRows();
  // After drawing into data(): only rows top .. bottom - 1 (clamped) may hold
  // colour, so that ClearColoredRows and Index look at those alone.
  void SetColoredRows(int64_t top, int64_t bottom);

  // Lists the coloured pixels as runs, row by row, so that blending into each
  // picture touches only them; a drawn overlay is mostly black. DrawBitmap does
  // it; writing through data() drops the list until the next Index().
  void Index();
  bool indexed() const { return indexed_; }
  const std::vector<Run>& runs() const { return runs_; }

  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return stride_; }
  size_t byte_size() const { return byte_size_; }
  bool empty() const { return byte_size_ == 0; }
  // Write access: anything may change, so every row may hold colour.
  uint8_t* data() {
    indexed_ = false;
    colored_top_ = 0, colored_bottom_ = height_;
    return bytes_.get();
  }
  const uint8_t* data() const { return bytes_.get(); }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t byte_size_ = 0;
  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  int colored_top_ = 0;  // rows colored_top_ .. colored_bottom_ - 1 may hold colour
  int colored_bottom_ = 0;
  std::vector<Run> runs_;
  bool indexed_ = false;
};

// The colour of index 0 .. 6 as a Windows colour value (0x00BBGGRR); any other
// index is 0 (black, which the blend leaves out).
uint32_t OverlayColor(int32_t index);

// Renders the record at its own width x height onto black: filled discs,
// rectangle outlines, the four-corner region (only with at least four corners)
// and the text labels, without anti-aliasing so that every pixel is black or a
// table colour. Texts are drawn only while a QGuiApplication exists (fonts need
// one; see EnsureGuiForDrawing); without it they are left out.
void DrawBitmap(const qvv::AlgProtocol& record, OverlayPicture& out);

// Writes the overlay's coloured pixels into a planar YUV 4:2:0 frame of
// width x height laid out as the decoders write it: Y (width x height), then
// U and V of (width / 2) x (height / 2) each, so the last column and row of an
// odd-sized frame have no chroma. Black and colours outside the table leave
// the frame as it is. Only the area both pictures cover is touched.
void BlendOverlay(const OverlayPicture& overlay, uint8_t* yuv420p, int width, int height);

}  // namespace engine

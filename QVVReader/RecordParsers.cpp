#include "QVVReader/RecordParsers.h"

#include "platform/TextEncoding.h"

namespace qvv {
namespace {

bool IsNumber(int type) { return type == kAmf0Number || type == kAmf0Boolean; }

// An overlay frame of the recorder holds tens of items; a damaged record must
// not grow the lists (and every queued copy of them) without bound.
constexpr size_t kMaxItemsPerList = 4096;

template <typename T>
void Append(std::vector<T>& list, const T& item) {
  if (list.size() < kMaxItemsPerList) list.push_back(item);
}

}  // namespace

void GPSParse::Value(double number, std::string_view text, int type, std::string_view key) {
  if (type == kAmf0String) {
    if (key == "carInfo") {
      // Recorders write UTF-8 or GB18030; keep at most 256 UTF-16 units.
      std::u16string wide = platform::Utf8ToUtf16(platform::RecordTextToUtf8(text));
      if (wide.size() > kCarInfoMaxUnits) wide.resize(kCarInfoMaxUnits);
      car_info = platform::Utf16ToUtf8(wide);
    }
    return;
  }
  if (!IsNumber(type)) return;
  if (key == "mode") mode = number;
  else if (key == "lat") lat = number;
  else if (key == "lon") lon = number;
  else if (key == "alt") alt = number;
  else if (key == "speed") speed = number;
  else if (key == "course") course = number;
  else if (key == "sat_used") sat_used = Amf0ToInt32(number);
  else if (key == "sat_visible") sat_visible = Amf0ToInt32(number);
  else if (key == "time") time = Amf0ToInt32(number);
}

void GSensorParse::Value(double number, std::string_view, int type, std::string_view key) {
  if (!IsNumber(type)) return;
  if (key == "x") x = number;
  else if (key == "y") y = number;
  else if (key == "z") z = number;
  else if (key == "temperature") temperature = number;
  else if (key == "speed") speed = number;
}

void AlgParse::Value(double number, std::string_view text, int type, std::string_view key) {
  if (type == kAmf0String) {
    if (key == "FSTR") text_.text = platform::RecordTextToUtf8(text);
    return;
  }
  if (!IsNumber(type)) return;
  const int32_t v = Amf0ToInt32(number);
  if (key == "SysPts") {
    record.time = Amf0ToInt64(number) / 1000;
  } else if (key == "PColor") {
    circle_.color = v;
  } else if (key == "PThickness") {
    circle_.radius = v;
  } else if (key == "PX") {
    circle_.x = v;
  } else if (key == "PY") {
    circle_.y = v;
    Append(record.circles, circle_);
  } else if (key == "RColor") {
    rectangle_.color = v;
  } else if (key == "RThickness") {
    rectangle_.pen_width = v;
  } else if (key == "RX") {
    rectangle_.x = v;
  } else if (key == "RY") {
    rectangle_.y = v;
  } else if (key == "RW") {
    rectangle_.width = v;
  } else if (key == "RH") {
    rectangle_.height = v;
    Append(record.rectangles, rectangle_);
  } else if (key == "FColor") {
    text_.color = v;
  } else if (key == "FX") {
    text_.x = v;
  } else if (key == "FY") {
    text_.y = v;
  } else if (key == "FSIZE") {
    text_.size = 2048;  // the recorder's size value is not used
    Append(record.texts, text_);
  } else if (key == "ROIColor") {
    corner_.color = v;
  } else if (key == "ROIThickness") {
    corner_.pen_width = v;
  } else if (key == "ROIX") {
    corner_.x = v;
  } else if (key == "ROIY") {
    corner_.y = v;
    Append(record.region, corner_);
  }
}

}  // namespace qvv

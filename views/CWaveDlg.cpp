#include "views/CWaveDlg.h"

#include <QKeyEvent>
#include <cstring>

#include "QVVReader/Amf0.h"
#include "app/LanguageUi.h"  // the control number property, for the captions

namespace views {
namespace {

constexpr int kDrainMs = 20;
constexpr int kButtonHeight = 24;

bool IsClear(const std::vector<uint8_t>& record) {
  static const uint8_t kClear[6] = {'C', 'l', 'e', 'a', 'r', 0};
  return record.size() >= 6 && std::memcmp(record.data(), kClear, 6) == 0;
}

}  // namespace

CWaveDlg::CWaveDlg(const app::AppConfig* config, platform::MessageSink* window, QWidget* parent)
    : QWidget(parent),
      window_(window),
      scope_(new controls::COScopeCtrl(config, this)),
      calendar_(new controls::CDVRCalendarCtrl(this)),
      position_(new PositionBar(this)) {
  setObjectName("wave");
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0x18, 0x40, 0x44));
  setPalette(p);
  setFocusPolicy(Qt::ClickFocus);
  // The panel's look: the range of a vehicle's accelerations, its colours.
  scope_->SetRange(-2.0, 2.0, 1);
  scope_->SetBackgroundColor(QColor(0x18, 0x40, 0x44));
  scope_->SetGridColor(QColor(0xC0, 0xC0, 0xFF));
  scope_->SetTraceColors(QColor(0xFF, 0xFF, 0xFF), QColor(0xFF, 0x00, 0x00), QColor(0x00, 0xFF, 0x00));
  scope_->SetOwner(window);
  calendar_->SetOwner(window);
  calendar_->hide();
  const struct {
    int id;
    const char* text;
  } kButtons[] = {{kGSensorId, "G-sensor"}, {kCalendarId, "Calendar"}, {kSetCutId, "SetCutPoit"},
                  {kDeleteCutId, "DelCutPoit"}, {kCutVideoId, "CutVideo"}};
  for (const auto& b : kButtons) {
    auto* button = new QPushButton(b.text, this);
    button->setProperty(app::kControlIdProperty, b.id);
    button->setObjectName(QString("button%1").arg(b.id));
    button->setFocusPolicy(Qt::NoFocus);
    // Cutting a clip out of the recording is not built yet.
    button->setEnabled(b.id == kGSensorId || b.id == kCalendarId);
    buttons_.push_back(button);
  }
  connect(button(kGSensorId), &QPushButton::clicked, this, [this] { SetMode(kWaveform); });
  connect(button(kCalendarId), &QPushButton::clicked, this, [this] {
    SetMode(kCalendar);
    if (window_) window_->Post(platform::msg::kWaveHeight, 1, 0);
  });
  drain_.setInterval(kDrainMs);
  connect(&drain_, &QTimer::timeout, this, &CWaveDlg::Drain);
  drain_.start();
}

CWaveDlg::~CWaveDlg() = default;

QPushButton* CWaveDlg::button(int id) const {
  for (QPushButton* b : buttons_)
    if (b->property(app::kControlIdProperty).toInt() == id) return b;
  return nullptr;
}

void CWaveDlg::PushRecord(const uint8_t* record, int size, int64_t absolute_ms) {
  // Taken before the panel is shown too; a full ring drops (counted).
  if (ring_.Put(absolute_ms, record, size) == 0) dropped_.fetch_add(1);
}

void CWaveDlg::SetStartTime(int64_t start_seconds) { start_pending_ = start_seconds; }

void CWaveDlg::Drain() {
  if (const int64_t start = start_pending_.exchange(INT64_MIN); start != INT64_MIN) {
    file_start_ = start;
    calendar_->SetFileStartTime(start);
  }
  int64_t tag = 0;
  std::vector<uint8_t> record;
  while (ring_.Get(tag, record)) {
    if (IsClear(record)) {
      scope_->Clear();
      last_ms_ = INT64_MIN;
      continue;
    }
    const auto name = qvv::Amf0RecordName(record.data(), record.size());
    if (!name || *name != "GSensor") continue;  // GPS and other sensors: the map and the read-outs' business
    if (qvv::Amf0WalkAll(record.data(), record.size(), &sensor_) < 0) continue;
    if (tag < last_ms_) scope_->Clear();  // play went back
    scope_->AddSample(tag, sensor_.x, sensor_.y, sensor_.z, sensor_.temperature, sensor_.speed);
    last_ms_ = tag;
  }
}

void CWaveDlg::FillCalendar(const std::vector<Segment>& segments) {
  calendar_->SetCapacity(static_cast<int>(segments.size()));
  for (const Segment& s : segments) calendar_->AddSegment(s.start, s.duration, s.channel_mask, s.type_mask, s.row);
  calendar_->update();
}

void CWaveDlg::SetPosition(int seconds, int total_seconds) {
  position_->SetPosition(seconds, total_seconds);
  calendar_->SetPlayPosition(seconds);
}

void CWaveDlg::ClearPosition() { position_->Clear(); }

void CWaveDlg::SetMode(Mode mode) {
  mode_ = mode;
  scope_->setVisible(mode == kWaveform);
  calendar_->setVisible(mode == kCalendar);
}

void CWaveDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Place();
}

void CWaveDlg::Place() {
  // Two rows of buttons and the position bar along the bottom; the waveform
  // or the calendar above.
  const int bar = 26;
  const int buttons_top = height() - 2 * kButtonHeight - 6;
  const int view_bottom = std::max(0, buttons_top - bar - 4);
  scope_->setGeometry(2, 2, width() - 4, view_bottom - 2);
  calendar_->setGeometry(2, 2, width() - 4, view_bottom - 2);
  position_->setGeometry(2, view_bottom + 2, width() - 4, bar);
  const int w = 96;
  button(kGSensorId)->setGeometry(4, buttons_top, w, kButtonHeight);
  button(kCalendarId)->setGeometry(8 + w, buttons_top, w, kButtonHeight);
  const int second = buttons_top + kButtonHeight + 2;
  button(kSetCutId)->setGeometry(4, second, w, kButtonHeight);
  button(kDeleteCutId)->setGeometry(8 + w, second, w, kButtonHeight);
  button(kCutVideoId)->setGeometry(width() - 4 - w, second, w, kButtonHeight);
}

void CWaveDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (window_) window_->Post(platform::msg::kPlayPause, 0, 0);
    return;  // the key is not passed on
  }
  QWidget::keyPressEvent(event);
}

}  // namespace views

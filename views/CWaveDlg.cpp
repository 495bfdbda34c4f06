#include "views/CWaveDlg.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>
#include <cstring>

#include "QVVReader/Amf0.h"
#include "app/LanguageResources.h"
#include "app/LanguageUi.h"  // the control number property, for the captions
#include "tools/CSaveVideoFileDlg.h"

namespace views {
namespace {

constexpr int kDrainMs = 20;
constexpr int kButtonHeight = 24;
constexpr int kStripHeight = 9;  // the cut marks, between the view and the slider
constexpr int kHoldAfterExportMs = 3000;

bool IsClear(const std::vector<uint8_t>& record) {
  static const uint8_t kClear[6] = {'C', 'l', 'e', 'a', 'r', 0};
  return record.size() >= 6 && std::memcmp(record.data(), kClear, 6) == 0;
}

}  // namespace

CWaveDlg::CWaveDlg(const app::AppConfig* config, platform::MessageSink* window, QWidget* parent)
    : QWidget(parent),
      config_(config),
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
    buttons_.push_back(button);
  }
  connect(button(kGSensorId), &QPushButton::clicked, this, [this] { SetMode(kWaveform); });
  connect(button(kCalendarId), &QPushButton::clicked, this, [this] {
    SetMode(kCalendar);
    if (window_) window_->Post(platform::msg::kWaveHeight, 1, 0);
  });
  connect(button(kSetCutId), &QPushButton::clicked, this, &CWaveDlg::SetCutPoint);
  connect(button(kDeleteCutId), &QPushButton::clicked, this, &CWaveDlg::DeleteCutPoint);
  connect(button(kCutVideoId), &QPushButton::clicked, this, &CWaveDlg::CutVideo);
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

void CWaveDlg::ClearPosition() {
  position_->Clear();
  // Cut points belong to the place they were set on.
  cut_.Clear();
  update(CutStrip());
}

void CWaveDlg::SetCutRecording(const CutRecording& recording) {
  cut_recording_ = recording;
  cut_.Clear();
  update(CutStrip());
}

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
  const int view_height = std::max(0, view_bottom - 2 - kStripHeight);
  scope_->setGeometry(2, 2, width() - 4, view_height);
  calendar_->setGeometry(2, 2, width() - 4, view_height);
  position_->setGeometry(2, view_bottom + 2, width() - 4, bar);
  const int w = 96;
  button(kGSensorId)->setGeometry(4, buttons_top, w, kButtonHeight);
  button(kCalendarId)->setGeometry(8 + w, buttons_top, w, kButtonHeight);
  const int second = buttons_top + kButtonHeight + 2;
  button(kSetCutId)->setGeometry(4, second, w, kButtonHeight);
  button(kDeleteCutId)->setGeometry(8 + w, second, w, kButtonHeight);
  button(kCutVideoId)->setGeometry(width() - 4 - w, second, w, kButtonHeight);
}

QRect CWaveDlg::CutStrip() const {
  return QRect(position_->x(), position_->y() - kStripHeight, position_->width(), kStripHeight);
}

QString CWaveDlg::ClipName(int64_t start_seconds, uint32_t type_mask, int channel_number) {
  const QDateTime t = QDateTime::fromSecsSinceEpoch(start_seconds, Qt::UTC);
  const QDate d = t.date();
  const QTime h = t.time();
  auto digit = [type_mask](int shift) { return ((type_mask >> shift) & 0xFF) ? 1 : 0; };
  return QString::asprintf("%04d%02d%02d%02d%02d%02d_%01x%01x%01x%01x_%02d", d.year(), d.month(), d.day(), h.hour(),
                           h.minute(), h.second(), digit(24), digit(16), digit(8), digit(0), channel_number);
}

void CWaveDlg::Tell(const QString& text) {
  if (tell) tell(text);
}

void CWaveDlg::SetCutPoint() {
  if (cut_recording_.mp4) return Tell("MP4 file could't support cut");
  const int seconds = position_->slider()->value();
  if (cut_.Set({position_->PixelOf(seconds), seconds}) && window_) window_->Post(platform::msg::kPauseRequest, 0, 0);
  update(CutStrip());
}

void CWaveDlg::DeleteCutPoint() {
  cut_.Delete();
  update(CutStrip());
}

void CWaveDlg::CutVideo() {
  if (cut_.state() != CutPoints::kRange) {
    const std::string text = languages_ ? languages_->Text("IDS_TIPS_NeedMoreCutPiot") : std::string();
    return Tell(text.empty() ? QStringLiteral("Need more cut point") : QString::fromStdString(text));
  }
  // One export at a time: its clips are named in the slots until it ends.
  if (playback::Control().export_active.load() || playback::Control().export_pending.load())
    return Tell(tr("A clip is being exported; wait until it is done."));
  int selected = window_ ? static_cast<int>(window_->Send(platform::msg::kSelectedChannel, 0, 0)) : 0;
  selected = std::clamp(selected, 0, playback::kChannels - 1);
  // The selected pane's recording names the clip (its types, its channel),
  // or the next channel's that has one.
  uint32_t types = 0;
  int named = selected;
  for (int i = 0; i < playback::kChannels; ++i) {
    const int c = (selected + i) % playback::kChannels;
    if (const auto& t = cut_recording_.types[static_cast<size_t>(c)]) {
      types = *t;
      named = c;
      break;
    }
  }
  const QString name = ClipName(file_start_ + cut_.start().seconds, types, named + 1);
  const QString folder = config_ ? QString::fromStdString(config_->ReadString("Lumivex", "SaveName", "")) : QString();
  const int word = config_ ? config_->ReadInt("WaveConfig", "SaveParam", 0) : 0;
  tools::CSaveVideoFileDlg dialog(name, folder, word, languages_, this);
  const int result = run_dialog ? run_dialog(dialog) : dialog.exec();
  // The options are kept whether the clip is saved or not.
  if (config_) config_->WriteInt("WaveConfig", "SaveParam", dialog.options_word());
  if (result != QDialog::Accepted) return;

  // The output slots: the selected pane's channel, or the ticked channels in order.
  // "Selected window" on a pane without a recording: the channel that named
  // the clip is the one saved.
  std::array<std::string, playback::kChannels> exports{};
  const std::vector<std::string> paths = dialog.OutputPaths();
  const std::vector<int> ticked = dialog.TickedChannels();
  if (ticked.empty()) {
    if (!paths.empty()) exports[static_cast<size_t>(named)] = paths.front();
  } else {
    for (size_t i = 0; i < ticked.size() && i < paths.size(); ++i) exports[static_cast<size_t>(ticked[i])] = paths[i];
  }
  playback::Control().set_exports(exports);
  if (window_) window_->Post(platform::msg::kExportClip, cut_.start().seconds, cut_.end().seconds);
  position_->HoldFor(kHoldAfterExportMs);
  cut_.Clear();
  update(CutStrip());
  if (config_) config_->WriteString("Lumivex", "SaveName", dialog.folder().toStdString());
}

void CWaveDlg::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // The cut marks: the strip, the range between two points, a marker per point.
  const QRect strip = CutStrip();
  QPainter p(this);
  p.fillRect(strip.adjusted(4, 2, -4, -2), QColor(0x0C, 0x24, 0x26));
  if (cut_.state() == CutPoints::kNone) return;
  const int x0 = position_->x() + position_->PixelOf(cut_.start().seconds);
  if (cut_.state() == CutPoints::kRange) {
    const int x1 = position_->x() + position_->PixelOf(cut_.end().seconds);
    p.fillRect(QRect(x0, strip.top() + 2, std::max(1, x1 - x0), strip.height() - 4), QColor(0xFF, 0x8C, 0x00));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xFF, 0xD2, 0x00));
  const int h = strip.height();
  for (int i = 0; i < (cut_.state() == CutPoints::kRange ? 2 : 1); ++i) {
    const int x = position_->x() + position_->PixelOf(i == 0 ? cut_.start().seconds : cut_.end().seconds);
    const QPoint marker[3] = {QPoint(x - h / 2, strip.top()), QPoint(x + h / 2, strip.top()), QPoint(x, strip.bottom())};
    p.drawPolygon(marker, 3);
  }
}

void CWaveDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (window_) window_->Post(platform::msg::kPlayPause, 0, 0);
    return;  // the key is not passed on
  }
  QWidget::keyPressEvent(event);
}

}  // namespace views

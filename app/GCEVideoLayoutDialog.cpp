#include "app/GCEVideoLayoutDialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <algorithm>

#include "app/AppConfig.h"
#include "app/PaneMenu.h"

namespace app {

GCEVideoLayoutDialog::GCEVideoLayoutDialog(platform::MessageSink* owner, const AppConfig* config, QWidget* parent)
    : QWidget(parent), owner_(owner), config_(config) {
  setObjectName("GCEVideoLayoutDialog");
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::black);
  setPalette(p);
  for (int i = 0; i < kPanes; ++i) {
    auto* pane = new GCEVideoDialog(i, this);
    panes_[static_cast<size_t>(i)] = pane;
    order_[static_cast<size_t>(i)] = default_order_[static_cast<size_t>(i)] = i;
    connect(pane, &GCEVideoDialog::pressed, this, &GCEVideoLayoutDialog::SelectChannel);
    connect(pane, &GCEVideoDialog::dropped, this, &GCEVideoLayoutDialog::DropPane);
    connect(pane, &GCEVideoDialog::doubleClicked, this, [this](int channel) { ToggleMaximise(PositionOf(channel)); });
    connect(pane, &GCEVideoDialog::menuRequested, this, &GCEVideoLayoutDialog::OpenMenu);
    connect(pane, &GCEVideoDialog::escapePressed, this, &GCEVideoLayoutDialog::LeaveFullScreen);
    connect(pane, &GCEVideoDialog::spacePressed, this, [this] { Post(platform::msg::kPlayPause, 0); });
  }
  // The window answers how many channels there are; without one, twelve.
  if (owner_) {
    const auto count = owner_->Send(platform::msg::kChannelCount, 0, 0);
    if (count > 0 && count <= kPanes) channel_count_ = static_cast<int>(count);
  }
  const int configured = config_ ? config_->ReadInt("Lumivex", "AudioChannel", 0) : 0;
  SelectAudioChannel(configured == kMuted || (configured >= 0 && configured < 8) ? configured : 0);
  panes_[0]->set_selected(true);
}

GCEVideoLayoutDialog::~GCEVideoLayoutDialog() {
  if (config_) config_->WriteInt("Lumivex", "AudioChannel", audio_channel_);
}

int GCEVideoLayoutDialog::PositionOf(int channel) const {
  const auto it = std::find(order_.begin(), order_.end(), channel);
  return it == order_.end() ? -1 : static_cast<int>(it - order_.begin());
}

void GCEVideoLayoutDialog::Post(uint32_t message, platform::MsgParam first) {
  if (owner_) owner_->Post(message, first, 0);
}

void GCEVideoLayoutDialog::SetLayoutByCount(int count) {
  layout_ = LayoutForCount(count);
  maximised_ = -1;
  Relayout();
}

void GCEVideoLayoutDialog::SelectChannel(int channel) {
  if (channel < 0 || channel >= kPanes) return;
  selected_ = channel;
  for (GCEVideoDialog* p : panes_) p->set_selected(p->channel() == channel);
  Post(platform::msg::kPaneSelected, channel);
}

void GCEVideoLayoutDialog::ShowSingle() {
  if (maximised_ >= 0) SelectChannel((selected_ + 1) % kPanes);
  maximised_ = PositionOf(selected_);
  Relayout();
}

void GCEVideoLayoutDialog::ToggleMaximise(int position) {
  if (position < 0 || position >= kPanes) return;
  maximised_ = maximised_ < 0 ? position : -1;
  Relayout();
}

void GCEVideoLayoutDialog::PreviousPage() {
  if (maximised_ >= 0) {
    SelectChannel((selected_ + kPanes - 1) % kPanes);
    maximised_ = PositionOf(selected_);
    Relayout();
  } else if (layout_.count == 4) {
    NextPage();  // two pages: back is forward
  }
}

void GCEVideoLayoutDialog::NextPage() {
  if (maximised_ >= 0) {
    SelectChannel((selected_ + 1) % kPanes);
    maximised_ = PositionOf(selected_);
    Relayout();
  } else if (layout_.count == 4) {
    SelectChannel(selected_ < 4 ? 4 : 0);
    Relayout();
  }
}

bool GCEVideoLayoutDialog::DropPane(int channel, QPoint global) {
  const int from = PositionOf(channel);
  if (from < 0) return false;
  const QPoint at = mapFromGlobal(global);
  // The panes of the page shown (those before it may lie underneath).
  for (int p = first_; p < kPanes; ++p) {
    const GCEVideoDialog* target = PaneAt(p);
    if (!target->isVisible() || !target->geometry().contains(at)) continue;
    if (p != from) std::swap(order_[static_cast<size_t>(from)], order_[static_cast<size_t>(p)]);
    Relayout();
    return p != from;
  }
  return false;
}

void GCEVideoLayoutDialog::RestoreDefaultOrder() {
  order_ = default_order_;
  maximised_ = -1;
  Relayout();
}

void GCEVideoLayoutDialog::EnterFullScreen() {
  if (full_screen_) return;
  full_screen_ = true;
  saved_parent_ = parentWidget();
  saved_rect_ = geometry();
  QScreen* screen = QGuiApplication::primaryScreen();
  setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
  setWindowTitle("Lumi Vex");
  setGeometry(screen ? screen->geometry() : QRect(0, 0, 1280, 720));
  show();
  if (saved_parent_) saved_parent_->window()->hide();
  activateWindow();
  setFocus();
  Relayout();
  emit fullScreenChanged(true);
}

void GCEVideoLayoutDialog::LeaveFullScreen() {
  if (!full_screen_) return;
  full_screen_ = false;
  setParent(saved_parent_, Qt::Widget);
  setGeometry(saved_rect_);
  show();
  if (saved_parent_) saved_parent_->window()->show();
  Relayout();
  emit fullScreenChanged(false);
}

void GCEVideoLayoutDialog::SelectAudioChannel(int channel) {
  audio_channel_ = channel;
  Post(platform::msg::kAudioChannel, channel);
  for (GCEVideoDialog* p : panes_) p->set_audio_indicator(channel < 0 ? 0 : channel + 1);
}

void GCEVideoLayoutDialog::SetChannelClosed(int channel, bool closed) {
  if (channel < 0 || channel >= kPanes || closed_[static_cast<size_t>(channel)] == closed) return;
  closed_[static_cast<size_t>(channel)] = closed;
  emit channelClosedChanged(channel, closed);
}

void GCEVideoLayoutDialog::SetChannelHasRecording(int channel, bool has) {
  if (channel >= 0 && channel < kPanes) has_recording_[static_cast<size_t>(channel)] = has;
}

void GCEVideoLayoutDialog::FillMenuFor(int channel, QMenu* menu) const {
  PaneMenuState state;
  state.full_screen = full_screen_;
  state.channel_closed = closed_[static_cast<size_t>(channel)];
  state.has_recording = has_recording_[static_cast<size_t>(channel)];
  state.audio_channel = audio_channel_;
  FillPaneMenu(menu, language_name ? language_name() : std::string("English"), state);
}

void GCEVideoLayoutDialog::OpenMenu(int channel, QPoint global) {
  FillMenuFor(channel, &menu_);
  if (QAction* chosen = menu_.exec(global)) RunMenuCommand(channel, chosen->data().toInt());
}

void GCEVideoLayoutDialog::RunMenuCommand(int channel, int command) {
  if (command >= kMenuAudio1 && command < kMenuAudio1 + 8) return SelectAudioChannel(command - kMenuAudio1);
  switch (command) {
    case kMenuExitFullscreen: LeaveFullScreen(); break;
    case kMenuDefaultScreen: RestoreDefaultOrder(); break;
    case kMenuMute: SelectAudioChannel(kMuted); break;
    case kMenuClose: SetChannelClosed(channel, true); break;
    case kMenuOpen: SetChannelClosed(channel, false); break;
    case kMenuProperty: Post(platform::msg::kChannelProperties, channel); break;
    default: break;
  }
}

void GCEVideoLayoutDialog::Relayout() {
  first_ = maximised_ >= 0 ? 0 : FirstPosition(layout_, selected_);
  for (int p = 0; p < kPanes; ++p) {
    const auto r = PaneRect(layout_, p, first_, maximised_, size());
    if (!r) continue;  // before the first position used: left where it is
    GCEVideoDialog* pane = PaneAt(p);
    pane->setGeometry(*r);
    pane->setVisible(!r->isEmpty());
    pane->raise();
  }
}

void GCEVideoLayoutDialog::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Relayout();
}

void GCEVideoLayoutDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && full_screen_) return LeaveFullScreen();
  QWidget::keyPressEvent(event);
}

}  // namespace app

#include "app/CQVShowDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <QWindow>

#include "app/CQVShowApp.h"
#include "app/LanguageUi.h"

namespace app {
namespace {

// A region a later part of the window fills; until then it says what goes there.
QFrame* Placeholder(const QString& name, const QString& text, QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(name);
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setAutoFillBackground(true);
  QPalette p = frame->palette();
  p.setColor(QPalette::Window, QColor(153, 179, 204));
  frame->setPalette(p);
  auto* label = new QLabel(text, frame);
  label->setAlignment(Qt::AlignCenter);
  label->setStyleSheet("color: #40566e;");
  auto* layout = new QVBoxLayout(frame);
  layout->addWidget(label);
  return frame;
}

void Place(QWidget* widget, const QRect& rect, bool shown) {
  const bool visible = shown && !rect.isEmpty();
  if (visible) widget->setGeometry(rect);
  widget->setVisible(visible);
}

constexpr const char* kHelpFile = "Doc/Local player instructions_V1.1.html";

}  // namespace

CQVShowDlg::CQVShowDlg(CQVShowApp& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint), app_(app) {
  setObjectName("CQVShowDlg");
  setWindowTitle("Dravik");  // until the language file gives the title
  setMinimumSize(1024, 768);
  setGeometry(0, 0, 1208, 800);
  setMouseTracking(true);
  messages_ = std::make_unique<WindowMessages>(
      [this](uint32_t m, platform::MsgParam a, platform::MsgParam b) { return OnMessage(m, a, b); });
  engine_ = std::make_unique<PlayerEngine>(messages_.get(), nullptr, nullptr);

  BuildLanguageMenu();
  container_ = new GCEVideoLayoutDialog(messages_.get(), &app_.config(), this);
  container_->language_name = [this] { return app_.languages().current_name(); };
  container_->SetLayoutByCount(app_.screen_count());
  connect(container_, &GCEVideoLayoutDialog::channelClosedChanged, this,
          [this](int channel, bool closed) { engine_->SetChannelClosed(channel, closed); });
  map_ = Placeholder("map", "Map", this);
  list_ = Placeholder("list", "Recordings", this);
  search_ = Placeholder("search", "Search", this);
  wave_ = Placeholder("wave", "G-sensor", this);
  controls_ = new ControlStrip(this);
  connect(controls_, &ControlStrip::command, this, &CQVShowDlg::OnCommand);
  connect(controls_, &ControlStrip::speedChanged, this, [this](int position) { engine_->SetSpeedPosition(position); });
  connect(controls_, &ControlStrip::volumeChanged, this, [this](int position) { engine_->SetVolume(position * 512); });

  AddTopButton(command::kOpenFile, "OpenFile");
  AddTopButton(command::kMap, "Map");
  AddTopButton(command::kVideo, "Video");
  AddTopButton(command::kLanguage, "Language");
  AddTopButton(command::kHelp, "Help");
  AddTopButton(command::kSwap, "<->");
  AddTopButton(command::kWiden, "<");
  AddTopButton(command::kNarrow, ">");
  AddTopButton(command::kMinimise, "_");
  AddTopButton(command::kMaximise, "[]");
  AddTopButton(command::kClose, "X");
  top_button(command::kLanguage)->setObjectName("language");
  top_button(command::kClose)->setObjectName("close");

  // The sound: without a mixer the window runs, and the sound button says so.
  engine_->OpenMixer();
  if (const int volume = engine_->Volume(); volume >= 0) {
    QSignalBlocker block(controls_->volume());
    controls_->volume()->setValue((volume + 1) / 512);
  }
  controls_->volume()->setEnabled(engine_->has_volume());

  std::array<platform::Surface*, playback::kChannels> surfaces{};
  for (int c = 0; c < playback::kChannels; ++c) surfaces[static_cast<size_t>(c)] = container_->pane(c)->surface();
  if (!engine_->Create(surfaces)) std::fprintf(stderr, "Dravik: the playback engine did not start every thread\n");
  engine_->filter()->SetShowMode(app_.config().ReadInt("Lumivex", "ShowMode", 1));

  start_timer_.setInterval(20);
  connect(&start_timer_, &QTimer::timeout, this, [this] {
    if (!engine_->Tick()) {
      start_timer_.stop();
      controls_->SetPlaying(engine_->playing());
      if (engine_->start_failed()) ShowText("IDS_TIPS_PathFileExists");
    }
  });
  InstallShortcuts();
  ReloadTexts();
  Relayout();
}

CQVShowDlg::~CQVShowDlg() {
  start_timer_.stop();
  container_->LeaveFullScreen();
  engine_->Destroy();
  // The panes go with the container after the engine stopped drawing into
  // them. An engine thread that did not end may still draw into a pane or
  // post to the message queue: both are then left to it.
  if (engine_->threads_left()) {
    std::fprintf(stderr, "Dravik: engine threads still run; their panes and messages are kept\n");
    container_->setParent(nullptr);
    container_->hide();
    (void)messages_.release();
  }
}

QPushButton* CQVShowDlg::AddTopButton(int id, const QString& text) {
  auto* b = new QPushButton(text, this);
  SetControlId(b, id);
  b->setObjectName(QString("button%1").arg(id));
  b->setFocusPolicy(Qt::NoFocus);
  top_buttons_[id] = b;
  connect(b, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
  return b;
}

QPushButton* CQVShowDlg::top_button(int id) const {
  const auto it = top_buttons_.find(id);
  return it == top_buttons_.end() ? nullptr : it->second;
}

void CQVShowDlg::InstallShortcuts() {
  // Each key twice: on the window, and on the pane container for full
  // screen, where the window is hidden (Qt fires no shortcut of a hidden
  // widget). The container's are on only while it is full screen, so that
  // no key is ever taken by two.
  auto key = [this](const QKeySequence& sequence, auto&& action) {
    auto* on_window = new QShortcut(sequence, this);
    on_window->setContext(Qt::WindowShortcut);
    connect(on_window, &QShortcut::activated, this, action);
    auto* on_container = new QShortcut(sequence, container_);
    on_container->setContext(Qt::WindowShortcut);
    on_container->setEnabled(false);
    connect(on_container, &QShortcut::activated, this, action);
    full_screen_shortcuts_.push_back(on_container);
  };
  key(Qt::Key_Space, [this] { TogglePlay(); });
  key(Qt::Key_Left, [this] { engine_->SeekTo(engine_->position() - 5); });
  key(Qt::Key_Right, [this] { engine_->SeekTo(engine_->position() + 5); });
  key(Qt::Key_BracketLeft, [this] { SetSpeed(engine_->speed_position() - 1); });
  key(Qt::Key_BracketRight, [this] { SetSpeed(engine_->speed_position() + 1); });
  key(Qt::Key_Period, [this] { OnCommand(command::kStep); });
  key(Qt::Key_F, [this] { ToggleFullScreen(); });
  key(Qt::Key_S, [this] { OnCommand(command::kSnapshot); });
  key(Qt::Key_M, [this] { ToggleMute(); });
  key(Qt::Key_Escape, [this] { container_->LeaveFullScreen(); });
  connect(container_, &GCEVideoLayoutDialog::fullScreenChanged, this, [this](bool full_screen) {
    for (QShortcut* s : full_screen_shortcuts_) s->setEnabled(full_screen);
    if (!full_screen) Relayout();  // the container goes back only where the layout has room for it
  });
}

void CQVShowDlg::BuildLanguageMenu() {
  LanguageResources& languages = app_.languages();
  languages.set_current_name(app_.config().ReadString("Setting", "Language", "English"));
  FillLanguageMenu(&language_menu_, languages);
  connect(&language_menu_, &QMenu::triggered, this, [this](QAction* a) { OnLanguageCommand(a->data().toInt()); });
}

void CQVShowDlg::OnLanguageCommand(int command) {
  const int i = command - kLanguageCommandBase;
  const QList<QAction*> actions = language_menu_.actions();
  if (i < 0 || i >= kMaxLanguageEntries || i >= actions.size()) return;
  for (QAction* a : actions) a->setChecked(false);
  actions[i]->setChecked(true);
  app_.languages().Select(actions[i]->text().toStdString());
  ReloadTexts();
}

QString CQVShowDlg::title_text() const { return windowTitle() + kVersionSuffix; }

void CQVShowDlg::ReloadTexts() {
  const LanguageResources& languages = app_.languages();
  top_button(command::kClose)->setToolTip(QString::fromStdString(languages.Text("IDS_TIPS_CLOSE")));
  top_button(command::kOpenFile)->setToolTip(QString::fromStdString(languages.Text("IDS_TIPS_BUTTONOPENFOLDER")));
  controls_->ReloadTexts(languages);
  ApplyCaptions(this, kDialogNumber, languages);
  update();
}

void CQVShowDlg::ShowText(const char* key) {
  app_.messages().Show(QString::fromStdString(app_.languages().Text(key)), title_text());
}

void CQVShowDlg::Relayout() {
  regions_ = ComputeRegions(size(), kMargins, factors_);
  const Regions& r = regions_;
  if (factors_.map_only) {
    Place(map_, r.map, true);
    for (QWidget* w : {static_cast<QWidget*>(container_), static_cast<QWidget*>(list_), static_cast<QWidget*>(search_)})
      w->hide();
  } else {
    // The list's place shows the list, or (after "Map") the map or the panes.
    const bool panes_shown = !factors_.swap || map_shown_;
    if (!container_->full_screen()) Place(container_, r.panes, panes_shown);
    Place(map_, r.map, factors_.swap || map_shown_);
    Place(list_, r.list, !map_shown_);
    Place(search_, r.search, !map_shown_);
  }
  Place(wave_, r.wave, true);
  Place(controls_, r.controls, true);
  // The right column's button row; "Video" takes the place of "Map" when the
  // panes are not shown.
  const bool video_button = factors_.swap && !map_shown_;
  const int n = 4, gap = 4;
  const int w = r.buttons.isEmpty() ? 0 : (r.buttons.width() - gap * (n - 1)) / n;
  const int ids[n] = {command::kOpenFile, video_button ? command::kVideo : command::kMap, command::kLanguage,
                      command::kHelp};
  for (int i = 0; i < n; ++i)
    Place(top_button(ids[i]), QRect(r.buttons.x() + i * (w + gap), r.buttons.y() + 2, w, r.buttons.height() - 4),
          !factors_.map_only);
  top_button(video_button ? command::kMap : command::kVideo)->hide();
  Place(top_button(command::kWiden), r.widen, !factors_.map_only);
  Place(top_button(command::kNarrow), r.narrow, !factors_.map_only);
  Place(top_button(command::kSwap), QRect(r.widen.x(), r.widen.y() - 26, r.widen.width(), 22),
        map_shown_ && !factors_.map_only);
  // The caption buttons, top right.
  int x = width() - kMargins.right() - 28;
  for (int id : {command::kClose, command::kMaximise, command::kMinimise}) {
    Place(top_button(id), QRect(x, 3, 26, 22), true);
    x -= 28;
  }
  update();
}

void CQVShowDlg::OnCommand(int id) {
  switch (id) {
    case command::kPlay: TogglePlay(); break;
    case command::kStep:
      engine_->Step();
      controls_->SetPlaying(false);
      break;
    case command::kFullScreen: container_->EnterFullScreen(); break;
    case command::kSingle: container_->ShowSingle(); break;
    case command::kFour: container_->SetLayoutByCount(4); break;
    case command::kEight: container_->SetLayoutByCount(8); break;
    case command::kNine: container_->SetLayoutByCount(9); break;
    case command::kTwelve: container_->SetLayoutByCount(12); break;
    case command::kPreviousPage: container_->PreviousPage(); break;
    case command::kNextPage: container_->NextPage(); break;
    case command::kSnapshot: engine_->Snapshot(container_->selected_channel()); break;
    case command::kSound: ToggleMute(); break;
    case command::kClose: close(); break;
    case command::kMinimise: showMinimized(); break;
    case command::kMaximise: isMaximized() ? showNormal() : showMaximized(); break;
    case command::kOpenFile: OpenFolder(); break;
    case command::kHelp: OpenHelp(); break;
    case command::kLanguage: {
      QPushButton* b = top_button(command::kLanguage);
      language_menu_.popup(b->mapToGlobal(QPoint(0, b->height())));
      break;
    }
    case command::kMap:
    case command::kVideo:
      map_shown_ = true;
      Relayout();
      break;
    case command::kSwap:
      factors_.swap = !factors_.swap;
      Relayout();
      break;
    case command::kWiden:
      factors_.q = std::min(3, factors_.q + 1);
      Relayout();
      break;
    case command::kNarrow:
      factors_.q = std::max(0, factors_.q - 1);
      Relayout();
      break;
    default: break;
  }
}

platform::MsgParam CQVShowDlg::OnMessage(uint32_t message, platform::MsgParam first, platform::MsgParam second) {
  namespace msg = platform::msg;
  switch (message) {
    case msg::kChannelCount:
    case msg::kSecondChannelCount: return playback::kChannels;
    case msg::kSelectedChannel: return container_ ? container_->selected_channel() : 0;
    case msg::kAudioChannel:
      if (engine_) engine_->SetAudioChannel(static_cast<int>(first));
      return 0;
    case msg::kPlayPause: TogglePlay(); return 0;
    case msg::kWaveHeight:
      factors_.k = first == 0 ? factors_.k % 3 + 1 : std::clamp(static_cast<int>(first), 1, 3);
      Relayout();
      return 0;
    case msg::kProgress:
      // The second word is the backward flag plus twice the second played;
      // the first is the recording's length.
      if (second >= 0) engine_->set_position(static_cast<int>(second / 2));
      return 0;
    case msg::kMp4NoBackward:
      app_.messages().Show("MP4 does not support backward!", title_text());
      return 0;
    default: return 0;
  }
}

void CQVShowDlg::TogglePlay() {
  engine_->TogglePause();
  controls_->SetPlaying(engine_->playing());
}

void CQVShowDlg::ToggleMute() {
  if (!engine_->has_mute()) return ShowText("IDS_AUDIO_NOT_USED");
  muted_ = !muted_;
  engine_->SetMuted(muted_);
  controls_->SetMuted(muted_);
}

void CQVShowDlg::ToggleFullScreen() {
  if (container_->full_screen()) container_->LeaveFullScreen();
  else container_->EnterFullScreen();
}

void CQVShowDlg::SetSpeed(int position) { controls_->SetSpeedPosition(std::clamp(position, 0, 8)); }

bool CQVShowDlg::PlayPath(const QString& path) {
  const auto group = GroupForPath(path.toStdString());
  if (!group) {
    ShowText("IDS_TIPS_PathFileExists");
    return false;
  }
  const auto present = group->present();
  for (int c = 0; c < playback::kChannels; ++c) container_->SetChannelHasRecording(c, present[static_cast<size_t>(c)]);
  if (!engine_->PlayGroup(*group)) return false;
  start_timer_.start();
  return true;
}

void CQVShowDlg::OpenFolder() {
  if (map_shown_) {  // the list comes back first
    map_shown_ = false;
    Relayout();
    return;
  }
  const QString start = QString::fromStdString(app_.config().ReadString("Lumivex", "FolderName", ""));
  const QString folder = QFileDialog::getExistingDirectory(this, QString(), start);
  if (folder.isEmpty()) return;
  app_.config().WriteString("Lumivex", "FolderName", folder.toStdString());
  PlayPath(folder);
}

void CQVShowDlg::OpenHelp() {
  const QString help = QCoreApplication::applicationDirPath() + "/" + kHelpFile;
  if (!QFileInfo::exists(help)) return app_.messages().Show("File does not exist", title_text());
  QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

void CQVShowDlg::closeEvent(QCloseEvent* event) {
  if (hide_on_close_) {
    hide();
    event->ignore();
    return;
  }
  // The close order: reader threads, clock, filter, audio player, snapshot
  // filter, mixer controls.
  start_timer_.stop();
  container_->LeaveFullScreen();
  engine_->Destroy();
  QWidget::closeEvent(event);
}

void CQVShowDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Relayout();
}

void CQVShowDlg::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(217, 234, 244));
  QLinearGradient caption(0, 0, 0, kMargins.top());
  caption.setColorAt(0, QColor(96, 140, 184));
  caption.setColorAt(1, QColor(60, 100, 146));
  painter.fillRect(QRect(0, 0, width(), kMargins.top()), caption);
  painter.setPen(QColor(60, 100, 146));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  QFont font = painter.font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(12, 6, width() - 120, kMargins.top() - 6), Qt::AlignLeft | Qt::AlignTop, title_text());
}

void CQVShowDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !windowHandle()) return QWidget::mousePressEvent(event);
  // Every point outside the controls moves the window; the edges resize it.
  const Qt::Edges edges = FrameEdgesAt(size(), event->position().toPoint());
  if (edges) windowHandle()->startSystemResize(edges);
  else windowHandle()->startSystemMove();
}

void CQVShowDlg::mouseMoveEvent(QMouseEvent* event) {
  const Qt::Edges edges = FrameEdgesAt(size(), event->position().toPoint());
  if (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge)) setCursor(Qt::SizeFDiagCursor);
  else if (edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge)) setCursor(Qt::SizeBDiagCursor);
  else if (edges & (Qt::LeftEdge | Qt::RightEdge)) setCursor(Qt::SizeHorCursor);
  else if (edges) setCursor(Qt::SizeVerCursor);
  else unsetCursor();
}

void CQVShowDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->position().y() < kMargins.top()) OnCommand(command::kMaximise);
}

}  // namespace app

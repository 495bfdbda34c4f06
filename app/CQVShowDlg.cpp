#include "app/CQVShowDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <QWindow>

#include "app/CQVShowApp.h"
#include "app/CSetting.h"
#include "app/CommandLine.h"
#include "app/FileProperty.h"
#include "app/SingleProperty.h"
#include "app/LanguageUi.h"
#include "playback/ReaderThread.h"
#include "tools/CSearchFileCopy.h"

namespace app {
namespace {

}  // namespace

std::filesystem::path MapPagesFolder() {
  // DRAVIK_MAP_PAGES: pages elsewhere (a build folder, a test).
  if (const char* pages = std::getenv("DRAVIK_MAP_PAGES"); pages && *pages) return pages;
  return (QCoreApplication::applicationDirPath() + "/images").toStdString();
}

namespace {

map::CEFMapDlg::Options MapOptions(CQVShowApp& app, platform::MessageSink* window) {
  map::CEFMapDlg::Options o;
  o.map_type = app.map_type();
  o.pages = MapPagesFolder();
  o.settings = app.config().Path();
  o.state = app.home().folder / "temp.ini";
  o.window = window;
  return o;
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
  // The map first: the reader threads hand it the GPS records.
  map_ = new map::CEFMapDlg(MapOptions(app_, messages_.get()), this);
  connect(map_, &map::CEFMapDlg::expandToggled, this, [this](bool expanded) {
    factors_.map_only = expanded;
    Relayout();
  });
  map_->playback_enabled = [this] { BuildMapTrack(); };
  wave_ = new views::CWaveDlg(&app_.config(), messages_.get(), this);
  engine_ = std::make_unique<PlayerEngine>(messages_.get(), map_, wave_);

  BuildLanguageMenu();
  container_ = new GCEVideoLayoutDialog(messages_.get(), &app_.config(), this);
  container_->language_name = [this] { return app_.languages().current_name(); };
  container_->SetLayoutByCount(app_.screen_count());
  connect(container_, &GCEVideoLayoutDialog::channelClosedChanged, this,
          [this](int channel, bool closed) { engine_->SetChannelClosed(channel, closed); });
  list_ = new QWidget(this);
  list_->setObjectName("list");
  recordings_ = new RecordingList(list_);
  scan_status_ = new QLabel(list_);
  scan_status_->setObjectName("scanStatus");
  scan_status_->hide();
  auto* list_layout = new QVBoxLayout(list_);
  list_layout->setContentsMargins(0, 0, 0, 0);
  list_layout->setSpacing(2);
  list_layout->addWidget(recordings_, 1);
  list_layout->addWidget(scan_status_);
  search_ = new tools::CRecTpyeSearch(messages_.get(), this);
  {
    QPalette p = search_->palette();
    p.setColor(QPalette::Window, QColor(153, 179, 204));
    search_->setPalette(p);
  }
  connect(search_, &tools::CRecTpyeSearch::command, this, &CQVShowDlg::OnCommand);
  wave_->tell = [this](const QString& text) { app_.messages().Show(text, title_text()); };
  wave_->run_dialog = [this](QDialog& dialog) { return RunDialog(dialog); };
  wave_->SetLanguages(&app_.languages());
  connect(wave_->position_bar(), &views::PositionBar::seekRequested, this,
          [this](int seconds) { OnMessage(platform::msg::kSeek, 0, seconds); });

  scan_ = new ScanWorker(this);
  connect(scan_, &ScanWorker::rowsFound, this, &CQVShowDlg::AddScannedRows);
  connect(scan_, &ScanWorker::progress, this, [this](int files) {
    scan_status_->setText(tr("Scanning: %1 files, %2 recordings").arg(files).arg(recordings_->model_rows().size()));
  });
  connect(scan_, &ScanWorker::finished, this,
          [this](bool update) { OnMessage(platform::msg::kScanFinished, update ? 1 : 0, 0); });
  commands_ = new PlayCommands(
      *engine_, *recordings_,
      [this](const QString& text, bool literal) {
        if (literal) app_.messages().Show(text, title_text());
        else ShowText(text.toStdString().c_str());
      },
      this);
  connect(commands_, &PlayCommands::stateChanged, this, &CQVShowDlg::ShowPlayState);
  connect(commands_, &PlayCommands::requestStarted, this, [this](const PlayRequest& request) {
    for (int c = 0; c < playback::kChannels; ++c)
      container_->SetChannelHasRecording(c, request.rows[static_cast<size_t>(c)] >= 0);
    recording_length_ = 0;
    wave_->ClearPosition();
    // What the cut buttons need: each channel's record types, MP4 or not.
    views::CWaveDlg::CutRecording cut;
    for (int c = 0; c < playback::kChannels; ++c)
      if (const auto& record = request.records[static_cast<size_t>(c)]) {
        cut.types[static_cast<size_t>(c)] = record->type_mask;
        cut.mp4 = cut.mp4 || record->file_type == 3;
      }
    wave_->SetCutRecording(cut);
    start_timer_.start();
  });
  connect(recordings_, &RecordingList::rowActivated, this, [this](int row) {
    play_after_scan_.reset();  // the user chose: the command line's file does not follow
    commands_->ChooseGroup(row);
  });
  connect(recordings_, &RecordingList::rowMenuRequested, this, &CQVShowDlg::ShowRowMenu);
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
  // A volume changed by another program moves the slider.
  volume_poll_.setInterval(1000);
  connect(&volume_poll_, &QTimer::timeout, this, [this] {
    const int volume = engine_->Volume();
    if (volume < 0 || controls_->volume()->isSliderDown()) return;
    QSignalBlocker block(controls_->volume());
    controls_->volume()->setValue((volume + 1) / 512);
  });
  if (engine_->has_volume()) volume_poll_.start();

  std::array<platform::Surface*, playback::kChannels> surfaces{};
  for (int c = 0; c < playback::kChannels; ++c) surfaces[static_cast<size_t>(c)] = container_->pane(c)->surface();
  if (!engine_->Create(surfaces)) std::fprintf(stderr, "Dravik: the playback engine did not start every thread\n");
  engine_->filter()->SetShowMode(app_.config().ReadInt("Lumivex", "ShowMode", 1));

  start_timer_.setInterval(20);
  connect(&start_timer_, &QTimer::timeout, this, [this] {
    if (!engine_->Tick()) {
      start_timer_.stop();
      if (engine_->start_failed()) {
        commands_->Stop();
        ShowText("IDS_TIPS_PathFileExists");
      }
    }
  });
  InstallShortcuts();
  ReloadTexts();
  Relayout();
}

CQVShowDlg::~CQVShowDlg() {
  start_timer_.stop();
  scan_->Cancel();
  sensor_.reset();
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
  key(Qt::Key_Space, [this] { commands_->Play(); });
  key(Qt::Key_Backspace, [this] { commands_->Backward(); });
  key(Qt::Key_Left, [this] { commands_->Seek(std::max(0, engine_->position() - 5)); });
  key(Qt::Key_Right, [this] { commands_->Seek(engine_->position() + 5); });
  key(Qt::Key_BracketLeft, [this] { SetSpeed(engine_->speed_position() - 1); });
  key(Qt::Key_BracketRight, [this] { SetSpeed(engine_->speed_position() + 1); });
  key(Qt::Key_Period, [this] { OnCommand(command::kStep); });
  key(Qt::Key_Comma, [this] { OnCommand(command::kSecondPlay); });
  key(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { OnCommand(command::kOpenFile); });
  key(Qt::Key_F1, [this] { OnCommand(command::kHelp); });
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
  recordings_->model_rows().SetHeaders(languages);
  ApplyCaptions(this, kDialogNumber, languages);
  ApplyCaptions(wave_, views::CWaveDlg::kDialogNumber, languages);
  search_->RefreshLanguage(languages);
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
    case command::kStop:
      play_after_scan_.reset();
      commands_->Stop();
      wave_->ClearPosition();
      break;
    case command::kPlay:
      play_after_scan_.reset();
      commands_->Play();
      break;
    case command::kBackward:
      play_after_scan_.reset();
      commands_->Backward();
      break;
    case command::kStep: commands_->Step(); break;
    case command::kSecondPlay: commands_->SecondPlay(); break;
    case command::kSettings: OpenSettings(); break;
    case command::kProperty: {
      const std::vector<int> rows = recordings_->SelectedRows();
      if (!rows.empty()) ShowGroupProperties(rows.front());
      break;
    }
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
    case tools::CRecTpyeSearch::kSearchId: Search(); break;
    case tools::CRecTpyeSearch::kBackUpId: BackUp(); break;
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
    case msg::kPlayPause: commands_->Play(); return 0;
    case msg::kPauseRequest: commands_->PauseRequest(); return 0;
    case msg::kSeek: commands_->Seek(static_cast<int>(second)); return 0;
    case msg::kPlayNextGroup: commands_->PlayNextGroup(); return 0;
    case msg::kPlayRowAt: {
      // The row record the calendar holds; gone from the list: nothing.
      const int row = recordings_->model_rows().IndexOf(reinterpret_cast<const RecordingRow*>(first));
      if (row >= 0) commands_->ChooseGroup(row, static_cast<int>(second));
      return 0;
    }
    case msg::kGoToTime: {
      // The last row that starts at or before the time, and how far into it.
      const int64_t time = static_cast<int64_t>(first) * 3600 + second;
      const RecordingListModel& rows = recordings_->model_rows();
      if (rows.size() == 0) return 0;
      int row = 0;
      for (int i = 0; i < rows.size() && rows.row(i).start <= time; ++i) row = i;
      const int64_t offset = std::max<int64_t>(0, time - rows.row(row).start);
      return OnMessage(msg::kPlayRowAt, reinterpret_cast<platform::MsgParam>(rows.record(row).get()), offset);
    }
    case msg::kScanFinished: ScanFinished(first == 1); return 0;
    case msg::kExportClip: StartExport(static_cast<int>(first), static_cast<int>(second)); return 0;
    case msg::kExportProgress: ShowExportProgress(static_cast<int>(first), static_cast<int>(second)); return 0;
    case msg::kChannelProperties: ShowChannelProperties(static_cast<int>(first)); return 0;
    case msg::kWaveHeight:
      factors_.k = first == 0 ? factors_.k % 3 + 1 : std::clamp(static_cast<int>(first), 1, 3);
      Relayout();
      return 0;
    case msg::kProgress:
      if (second == -3) {
        // The recording ended: the next group follows. An end that comes
        // while a new request starts is the previous recording's.
        if (engine_->starting()) return 0;
        // An end while an export waits for its seek or writes is the place's
        // before the seek (an export that reaches the end is over before
        // its recording's end is reported).
        if (engine_->exporting()) return 0;
        wave_->ClearPosition();
        commands_->RecordingEnded();
        return 0;
      }
      if (second == -1 || second == -2) return 0;  // a new file, a new place: the waveform starts again
      if (second >= 0) {
        // The second word is the backward flag plus twice the second
        // played, counted from the end when backward; the first is the
        // recording's length.
        const int length = static_cast<int>(first);
        const int played = static_cast<int>(second / 2);
        const int position = (second & 1) ? std::max(0, length - played) : played;
        recording_length_ = length;
        engine_->set_position(position);
        wave_->SetPosition(position, length);
      }
      return 0;
    case msg::kMp4NoBackward:
      app_.messages().Show("MP4 does not support backward!", title_text());
      return 0;
    default: return 0;
  }
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

bool CQVShowDlg::PlayPath(const QString& text) {
  const PathAndMapKey given = SplitPathAndMapKey(text.toStdString());
  if (!given.map_key.empty()) app_.config().WriteString("Lumivex", "GoogleMapKey", given.map_key);
  const QFileInfo info(QString::fromStdString(given.path));
  if (!info.exists()) {
    ShowText("IDS_TIPS_PathFileExists");
    return false;
  }
  QString folder;
  if (info.isDir()) {
    folder = info.absoluteFilePath();
    play_after_scan_ = std::string();  // its first group
  } else {
    // The recorder writes a folder per day: the folders beside the file's
    // are listed too (not when that would be the whole file system).
    QDir above = info.absoluteDir();
    if (above.isRoot() || !above.cdUp() || above.isRoot()) above = info.absoluteDir();
    folder = above.absolutePath();
    play_after_scan_ = QDir::cleanPath(info.absoluteFilePath()).toStdString();
  }
  if (!OpenFolderPath(folder)) {
    play_after_scan_.reset();
    return false;
  }
  return true;
}

bool CQVShowDlg::OpenFolderPath(const QString& given) {
  const QString folder = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
  // Nothing of the old list is kept: what played, what was chosen.
  commands_->Forget();
  wave_->ClearPosition();
  scan_->Cancel();
  recordings_->model_rows().Clear();
  summary_ = ScanSummary{};
  summary_.earliest = QDateTime::currentSecsSinceEpoch();
  searching_ = false;
  search_->Reset();
  if (folder.toUtf8().size() > 240) {
    app_.messages().Show("The Record file path too long to read!", title_text());
    return false;
  }
  // A second scan takes the place of one still running. The root of the
  // file system is listed alone, not with every folder below it.
  ScanWorker::Request request{folder, ScanFilter{}, true};
  request.recursive = !QDir(folder).isRoot();
  scan_->Start(request);
  scan_status_->setText(tr("Scanning %1").arg(folder));
  scan_status_->show();
  app_.config().WriteString("Lumivex", "FolderName", folder.toStdString());
  return true;
}

void CQVShowDlg::AddScannedRows(const std::vector<RecordingRow>& rows) {
  for (const RecordingRow& row : rows) {
    summary_.paths.push_back(row.path);
    recordings_->model_rows().Add(row);
    if (searching_) continue;  // the folder's totals and plates stay
    summary_.types |= row.type_mask;
    summary_.earliest = std::min(summary_.earliest, row.start);
    summary_.latest = std::max(summary_.latest, row.start + std::max<int64_t>(0, row.duration));
    if (!row.car_number.empty() &&
        std::find(summary_.car_numbers.begin(), summary_.car_numbers.end(), row.car_number) == summary_.car_numbers.end()) {
      summary_.car_numbers.push_back(row.car_number);
      search_->AddPlate(QString::fromStdString(row.car_number));
    }
  }
}

void CQVShowDlg::BuildMapTrack() {
  // A worker of its own for every build: the one of an older list stops (its
  // file is left half read) and what it still reports is dropped.
  sensor_.reset();
  const int generation = ++track_generation_;
  track_files_.clear();
  const RecordingListModel& rows = recordings_->model_rows();
  for (int i = 0; i < rows.size(); ++i) track_files_.push_back(rows.row(i).path);
  map_->ClearTrack();
  if (track_files_.empty()) return;
  // The files in list order, one after another; each ends with a separator.
  sensor_ = std::make_unique<playback::SensorWorker>(*map_, [this, generation](int index, bool) {
    // The worker's thread: the next file is asked for on the window's thread.
    QMetaObject::invokeMethod(
        this,
        [this, generation, index] {
          if (generation != track_generation_ || !sensor_) return;
          if (index + 1 < static_cast<int>(track_files_.size())) sensor_->Request(track_files_, index + 1);
          else map_->set_track_complete(true);
        },
        Qt::QueuedConnection);
  });
  sensor_->Request(track_files_, 0);
}

void CQVShowDlg::ScanFinished(bool update_search_panel) {
  // An opened folder gives the search panel its types and days.
  if (update_search_panel && summary_.latest > 0) search_->SetCriteria(summary_.types, summary_.earliest, summary_.latest);
  if (map_->playback_mode()) BuildMapTrack();
  // The calendar shows every listed recording; a click on one plays it (1156).
  const RecordingListModel& rows = recordings_->model_rows();
  std::vector<views::CWaveDlg::Segment> segments;
  segments.reserve(static_cast<size_t>(rows.size()));
  for (int i = 0; i < rows.size(); ++i) {
    const RecordingRow& r = rows.row(i);
    segments.push_back({r.start, r.duration, r.channel_mask(), r.type_mask, rows.record(i).get()});
  }
  wave_->FillCalendar(segments);
  const int count = rows.size();
  scan_status_->setText(tr("%1 recordings").arg(count));
  scan_status_->setVisible(count == 0);
  if (!play_after_scan_) return;
  const std::string file = *play_after_scan_;
  play_after_scan_.reset();
  if (file.empty()) {
    if (count > 0) commands_->ChooseGroup(0);
  } else if (!commands_->PlayListedFile(file)) {
    ShowText("IDS_TIPS_PathFileExists");
  }
}

void CQVShowDlg::ShowPlayState(int state) {
  controls_->SetPlayState(state);
  if (state == kStateStopped) {
    controls_->SetSpeedPosition(4);
    // Stopped while a clip is written: the readers complete what they have.
    if (engine_->exporting() || export_progress_) {
      engine_->CancelExport();
      ShowExportProgress(100, 0);
    }
  }
}

void CQVShowDlg::Search() {
  const tools::CRecTpyeSearch::Criteria criteria = search_->GetCriteria();
  play_after_scan_.reset();
  commands_->Forget();
  wave_->ClearPosition();
  scan_->Cancel();
  recordings_->model_rows().Clear();
  const QString folder = QString::fromStdString(app_.config().ReadString("Lumivex", "FolderName", ""));
  if (folder.isEmpty()) return app_.messages().Show("The Record file path can not be empty!", title_text());
  if (folder.toUtf8().size() > 240) return app_.messages().Show("The Record file path too long to read!", title_text());
  summary_.paths.clear();
  searching_ = true;
  ScanFilter filter;
  filter.types = criteria.types;
  filter.from = criteria.start;
  filter.to = criteria.end;
  filter.car_number = criteria.plate;
  ScanWorker::Request request{folder, filter, false};
  request.recursive = !QDir(folder).isRoot();
  scan_->Start(request);
  scan_status_->setText(tr("Searching %1").arg(folder));
  scan_status_->show();
}

void CQVShowDlg::BackUp() {
  if (summary_.paths.empty()) return ShowText("IDS_TIPS_NoBackupFile");
  const QString title = "select back up path";
  const QString folder = pick_folder ? pick_folder(title, QString())
                                     : QFileDialog::getExistingDirectory(this, title, QDir::homePath());
  if (folder.isEmpty()) return;
  tools::CSearchFileCopy dialog(summary_.paths, folder.toStdString(), &app_.languages(), this);
  RunDialog(dialog);
}

void CQVShowDlg::StartExport(int start, int end) {
  if (!engine_->has_group() || end <= start) return;
  // The panel refuses a second export; one that came anyway leaves the
  // running export's slots alone.
  if (engine_->exporting() || export_progress_)
    return app_.messages().Show(tr("A clip is being exported; wait until it is done."), title_text());
  commands_->Export(start, end);
  // The export's progress: the readers report it (1158) until 100.
  if (!export_progress_) {
    export_progress_ = new QProgressDialog(tr("Exporting the clip..."), tr("Cancel"), 0, 100, this);
    export_progress_->setWindowTitle(title_text());
    export_progress_->setMinimumDuration(0);
    export_progress_->setAutoClose(false);
    export_progress_->setAutoReset(false);
    // The window waits while the clips are written: no second export, no seek.
    export_progress_->setWindowModality(Qt::WindowModal);
    // Cancel ends the clips where they are: what was written stays a whole clip.
    connect(export_progress_, &QProgressDialog::canceled, this, [this] {
      engine_->CancelExport();
      ShowExportProgress(100, 0);
    });
  }
  export_progress_->setValue(0);
  export_progress_->show();
}

void CQVShowDlg::ShowExportProgress(int percent, int outcome) {
  if (outcome == playback::kExportFailed)
    app_.messages().Show(tr("The clip could not be written (is the folder writable, is the disk full?)."), title_text());
  else if (outcome == playback::kExportEmpty)
    app_.messages().Show(tr("Nothing was exported: the chosen channels have no pictures in the marked stretch."),
                         title_text());
  if (!export_progress_) return;
  if (percent >= 100) {
    export_progress_->hide();
    export_progress_->deleteLater();
    export_progress_ = nullptr;
    return;
  }
  export_progress_->setValue(std::clamp(percent, 0, 99));
}

void CQVShowDlg::OpenFolder() {
  if (map_shown_) {  // the list comes back first
    map_shown_ = false;
    Relayout();
    return;
  }
  const QString start = QString::fromStdString(app_.config().ReadString("Lumivex", "FolderName", "", 1024));
  const QString title = QString::fromStdString(app_.languages().Text("IDS_TIPS_SeleteDirectory_rec"));
  const QString folder = pick_folder ? pick_folder(title, start) : QFileDialog::getExistingDirectory(this, title, start);
  if (folder.isEmpty()) return;
  play_after_scan_.reset();  // the user's folder, not the command line's
  OpenFolderPath(folder);
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
  scan_->Cancel();
  container_->LeaveFullScreen();
  engine_->Destroy();
  sensor_.reset();
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

void CQVShowDlg::ShowRowMenu(int row, const QPoint& global_position) {
  // The menu's one entry in the program's language; other languages have none.
  static const std::map<std::string, QString> kProperty = {
      {"English", "Property"}, {"Chinese", "属性"}, {"Japanese", "プロパティ"}, {"Русский", "Свойства"}};
  const auto entry = kProperty.find(app_.languages().current_name());
  if (entry == kProperty.end()) return;
  QMenu menu(this);
  QAction* property = menu.addAction(entry->second);
  if (menu.exec(global_position) == property) ShowGroupProperties(row);
}

int CQVShowDlg::RunDialog(QDialog& dialog) { return run_dialog ? run_dialog(dialog) : dialog.exec(); }

void CQVShowDlg::OpenSettings() {
  CSetting settings(app_, this);
  // A new map provider closes the program (it starts again): once the dialog is gone.
  settings.close_main_window = [this] { QTimer::singleShot(0, this, [this] { OnCommand(command::kClose); }); };
  connect(&settings, &CSetting::mapSwitchesChanged, this, [this](int offset, int playback) {
    // Only a real change clears the lines (and rebuilds the track).
    if ((offset != 0) != map_->offset_mode() || (playback != 0) != map_->playback_mode())
      map_->OnMessage(platform::msg::kMapSettings, offset, playback);
  });
  settings.set_show_mode = [this](int mode) {
    if (engine_->filter()) engine_->filter()->SetShowMode(mode);
  };
  RunDialog(settings);
}

void CQVShowDlg::FillProperties(PropertyDialog& dialog, const RecordingRow& r) {
  const QString path = QString::fromStdString(r.path);
  dialog.set_path(path);
  dialog.set_extension("." + QFileInfo(path).suffix());
  dialog.set_file_size(r.file_size);
  dialog.set_duration(r.duration);
}

void CQVShowDlg::ShowGroupProperties(int row) {
  const RecordingListModel& rows = recordings_->model_rows();
  if (row < 0 || row >= rows.size()) return;
  FileProperty properties(app_.languages(), this);
  FillProperties(properties, rows.row(row));
  // Every channel of the group, from the row that feeds it.
  const PlayRequest request = RequestForRow(rows, row, MainChannelRule::kGroupChoice);
  for (int c = 0; c < properties.channel_count(); ++c) {
    const int feeding = request.rows[static_cast<size_t>(c)];
    if (feeding >= 0) properties.set_channel(c, rows.row(feeding).video[static_cast<size_t>(c)]);
  }
  RunDialog(properties);
}

void CQVShowDlg::ShowChannelProperties(int channel) {
  const auto& request = commands_->request();
  const std::shared_ptr<const RecordingRow> record =
      request && channel >= 0 && channel < playback::kChannels ? request->records[static_cast<size_t>(channel)] : nullptr;
  if (!record) return app_.messages().Show("no video data!", title_text());
  SingleProperty properties(app_.languages(), this);
  FillProperties(properties, *record);
  properties.set_channel(record->video[static_cast<size_t>(channel)]);
  RunDialog(properties);
}

}  // namespace app

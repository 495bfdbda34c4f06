#include "app/CQVShowDlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/CQVShowApp.h"
#include "app/LanguageUi.h"

namespace app {

CQVShowDlg::CQVShowDlg(CQVShowApp& app, QWidget* parent)
    : QWidget(parent),
      app_(app),
      title_(new QLabel(this)),
      language_button_(new QPushButton("Language", this)),
      close_button_(new QPushButton("X", this)),
      pane_area_(new QFrame(this)) {
  setObjectName("CQVShowDlg");
  setWindowTitle("Dravik");  // until the language file gives the title
  resize(1208, 800);
  SetControlId(language_button_, kIdLanguage);
  SetControlId(close_button_, kIdClose);
  language_button_->setObjectName("language");
  close_button_->setObjectName("close");
  pane_area_->setObjectName("panes");
  pane_area_->setFrameShape(QFrame::StyledPanel);
  pane_area_->setStyleSheet("QFrame#panes { background: black; }");
  QFont title_font = title_->font();
  title_font.setBold(true);
  title_font.setPointSizeF(title_font.pointSizeF() * 1.3);
  title_->setFont(title_font);

  auto* top = new QHBoxLayout;
  top->addWidget(title_, 1);
  top->addWidget(language_button_);
  top->addWidget(close_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(pane_area_, 1);

  connect(language_button_, &QPushButton::clicked, this, [this] {
    language_menu_.popup(language_button_->mapToGlobal(QPoint(0, language_button_->height())));
  });
  connect(close_button_, &QPushButton::clicked, this, &QWidget::close);
  connect(&language_menu_, &QMenu::triggered, this, [this](QAction* a) { OnLanguageCommand(a->data().toInt()); });
  BuildLanguageMenu();
  ReloadTexts();
}

void CQVShowDlg::BuildLanguageMenu() {
  LanguageResources& languages = app_.languages();
  languages.set_current_name(app_.config().ReadString("Setting", "Language", "English"));
  FillLanguageMenu(&language_menu_, languages);
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

void CQVShowDlg::ReloadTexts() {
  const LanguageResources& languages = app_.languages();
  close_button_->setToolTip(QString::fromStdString(languages.Text("IDS_TIPS_CLOSE")));
  ApplyCaptions(this, kDialogNumber, languages);
  title_->setText(windowTitle());
  update();
}

void CQVShowDlg::closeEvent(QCloseEvent* event) {
  if (hide_on_close_) {
    hide();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace app

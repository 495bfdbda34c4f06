#include "tools/CSearchFileCopy.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/LanguageUi.h"

namespace tools {

CSearchFileCopy::CSearchFileCopy(std::vector<std::string> sources, std::string destination,
                                 const app::LanguageResources* languages, QWidget* parent)
    : QDialog(parent), copy_(std::move(sources), std::move(destination)) {
  setWindowTitle("Back up");
  setModal(true);
  status_ = new QLabel(this);
  app::SetControlId(status_, kIdStatus);
  status_->setMinimumWidth(420);
  status_->setWordWrap(true);
  cancel_ = new QPushButton("Cancel", this);
  app::SetControlId(cancel_, kIdCancel);
  // Enter must not press it.
  cancel_->setAutoDefault(false);
  cancel_->setDefault(false);
  connect(cancel_, &QPushButton::clicked, this, &CSearchFileCopy::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  if (languages) app::ApplyCaptions(this, kDialogNumber, *languages);
  Refresh();
}

CSearchFileCopy::~CSearchFileCopy() {
  if (worker_) {
    copy_.Cancel();
    worker_->wait();  // a cancelled copy stops within one block
    delete worker_;
  }
}

QString CSearchFileCopy::status_text() const { return status_->text(); }

void CSearchFileCopy::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!worker_ && !ended_) Start();
}

void CSearchFileCopy::Start() {
  copy_.set_progress([this](const CopyProgress& p) {
    // A new file: the status line names it.
    if (p.done == 0 && !p.verifying) QMetaObject::invokeMethod(this, &CSearchFileCopy::Refresh, Qt::QueuedConnection);
    if (progress_hook_) progress_hook_(p);
  });
  worker_ = QThread::create([this] { copy_.Run(); });
  worker_->setObjectName("backup copy");
  // Queued: the thread's end is signalled from the worker.
  connect(worker_, &QThread::finished, this, &CSearchFileCopy::OnWorkerEnded, Qt::QueuedConnection);
  worker_->start();
}

void CSearchFileCopy::Refresh() { status_->setText(QString::fromStdString(copy_.StatusText())); }

void CSearchFileCopy::OnWorkerEnded() {
  if (ended_) return;
  worker_->wait();  // returns at once: the thread has finished
  ended_ = true;
  Refresh();
  emit copyEnded(copy_.success());
  if (cancel_requested_) done(QDialog::Rejected);
}

void CSearchFileCopy::reject() {
  copy_.Cancel();
  cancel_requested_ = true;
  // A worker that has ended, after a failure too, is not waited for.
  if (!worker_ || ended_) {
    ended_ = true;
    done(QDialog::Rejected);
  }
}

void CSearchFileCopy::closeEvent(QCloseEvent* event) {
  if (worker_ && !ended_) {
    event->ignore();  // the copy goes on; Cancel stops it
    return;
  }
  QDialog::closeEvent(event);
}

void CSearchFileCopy::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace tools

#include "app/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

void MessageBoxes::Show(const QString& text, const QString& caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    platform::MessageBoxHook().ShowMessageBox(text.toStdString());
    return;
  }
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box && box->isVisible() && box->text() == text) return;
  }
  auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

void MessageBoxes::ShowAndWait(const QString& text, const QString& caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    platform::MessageBoxHook().ShowMessageBox(text.toStdString());
    return;
  }
  QMessageBox::warning(nullptr, caption, text);
}

}  // namespace app

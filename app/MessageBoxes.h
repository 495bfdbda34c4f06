#pragma once
// Where the application shell tells the user something. The window shows
// message boxes; tests record what would have been shown.
#include <QString>

#include "platform/MessageBoxHook.h"

namespace app {

class MessageBoxes : public platform::MessageBoxHook {
 public:
  // Shown without stopping the caller; the same text already on screen is
  // not shown a second time.
  void ShowMessageBox(const std::string& text) override { Show(QString::fromStdString(text), "Dravik"); }
  virtual void Show(const QString& text, const QString& caption);
  // Shown and waited for (used when the program is ending).
  virtual void ShowAndWait(const QString& text, const QString& caption);
};

}  // namespace app

#include "app/Restarter.h"

#include <QProcess>

#include "app/MessageBoxes.h"

namespace app {

bool ProcessLauncher::StartDetached(const QString& program, const QStringList& arguments) {
  return QProcess::startDetached(program, arguments);
}

bool RestartProgram(ProcessLauncher& launcher, const QString& program, const QStringList& arguments,
                    MessageBoxes& messages) {
  if (launcher.StartDetached(program, arguments)) return true;
  messages.ShowAndWait(kRestartFailed, "Restart");
  return false;
}

}  // namespace app

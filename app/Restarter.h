#pragma once
// Starting the program again after the main window closed (the settings ask
// for it when the map provider changes: the map page is chosen at start).
#include <QString>
#include <QStringList>

namespace app {

class MessageBoxes;

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  virtual bool StartDetached(const QString& program, const QStringList& arguments);
};

// Starts `program` with `arguments`; when that fails, says so with the
// caption "Restart" and returns false.
bool RestartProgram(ProcessLauncher& launcher, const QString& program, const QStringList& arguments,
                    MessageBoxes& messages);

inline constexpr const char* kRestartFailed = "CreateProcess failed. Please restart client by yourself";

}  // namespace app

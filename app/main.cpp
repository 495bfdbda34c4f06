// The player: a Qt Widgets application around the playback engine.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/AutomationServer.h"
#include "app/CQVShowApp.h"
#include "app/CommandLine.h"
#include "app/WebEngineSetup.h"

#ifndef DRAVIK_VERSION
#define DRAVIK_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
  // --help and --version need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(app::CommandLineHelp().c_str(), stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Dravik %s\n", DRAVIK_VERSION);
      return 0;
    }
  }
  app::PrepareWebEngine();
  QApplication qt(argc, argv);
  QApplication::setApplicationName("Dravik");
  QApplication::setApplicationVersion(DRAVIK_VERSION);
  std::vector<std::string> args;
  const QStringList qt_args = QApplication::arguments();
  for (qsizetype i = 1; i < qt_args.size(); ++i) args.push_back(qt_args[i].toStdString());
  const app::CommandLine command_line = app::ParseCommandLine(args);
  if (!command_line.error.empty()) {
    std::fprintf(stderr, "Dravik: %s\n\n%s", command_line.error.c_str(), app::CommandLineHelp().c_str());
    return 2;
  }
  if (command_line.unregserver || command_line.regserver) {
    QString error;
    const bool ok = command_line.unregserver
                        ? app::AutomationServer::RemoveServiceFile(&error)
                        : app::AutomationServer::WriteServiceFile(QApplication::applicationFilePath(), &error);
    if (!ok) std::fprintf(stderr, "Dravik: %s: %s\n", qPrintable(app::AutomationServer::ServiceFilePath()), qPrintable(error));
    return ok ? 0 : 1;
  }
  app::CQVShowApp application(command_line);
  if (!application.Configure()) return 1;
  const int status = application.Run();
  application.ExitInstance();
  return status;
}

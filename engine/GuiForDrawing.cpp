#include "engine/GuiForDrawing.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <QGuiApplication>
#include <mutex>

namespace engine {
namespace {

bool OnMainThread() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }

}  // namespace

bool GuiAvailableForDrawing() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

bool EnsureGuiForDrawing() {
  static std::mutex mutex;
  std::lock_guard<std::mutex> guard(mutex);
  if (QCoreApplication::instance()) return GuiAvailableForDrawing();  // the program's own (maybe a QCoreApplication)
  if (!OnMainThread()) return false;
  // Qt keeps argc and argv for the application's lifetime. The platform is
  // named on the command line, which outranks QT_QPA_PLATFORM: an inherited
  // "xcb" without a display would end the process, and this application never
  // shows a window.
  static int argc = 3;
  static char arg0[] = "dravik";
  static char arg1[] = "-platform";
  static char arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  // Never deleted: it must outlive every thread that draws, up to exit.
  new QGuiApplication(argc, argv);
  return GuiAvailableForDrawing();
}

}  // namespace engine

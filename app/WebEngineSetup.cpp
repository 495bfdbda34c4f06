#include "app/WebEngineSetup.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace app {

WebEngineEnvironment PlanWebEngineEnvironment(bool running_as_root,
                                              const std::function<const char*(const char*)>& get) {
  WebEngineEnvironment plan;
  auto value = [&](const char* name) {
    const char* v = get(name);
    return std::string(v ? v : "");
  };
  std::string flags = value("QTWEBENGINE_CHROMIUM_FLAGS");
  auto add_flag = [&](std::string_view flag) {
    if (flags.find(flag) != std::string::npos) return;
    if (!flags.empty()) flags += ' ';
    flags += flag;
  };
  if (running_as_root) plan.set["QTWEBENGINE_DISABLE_SANDBOX"] = "1";
  add_flag("--log-level=3");
  const std::string platform = value("QT_QPA_PLATFORM");
  if (platform == "offscreen" || platform == "minimal" || value("DRAVIK_DISABLE_GPU") == "1") add_flag("--disable-gpu");
  plan.set["QTWEBENGINE_CHROMIUM_FLAGS"] = flags;

  const std::string port = value("DRAVIK_REMOTE_DEBUGGING");
  if (!port.empty()) {
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (*end == '\0' && n > 0 && n < 65536) {
      plan.set["QTWEBENGINE_REMOTE_DEBUGGING"] = "127.0.0.1:" + std::to_string(n);
    } else {
      plan.warning = "Dravik: DRAVIK_REMOTE_DEBUGGING must be a port number; the debugging port stays closed";
    }
  }
  return plan;
}

void PrepareWebEngine() {
  const WebEngineEnvironment plan = PlanWebEngineEnvironment(::geteuid() == 0, [](const char* n) { return std::getenv(n); });
  for (const auto& [name, v] : plan.set) ::setenv(name.c_str(), v.c_str(), 1);
  if (!plan.warning.empty()) std::fprintf(stderr, "%s\n", plan.warning.c_str());
  // Qt WebEngine shares its OpenGL context with the widgets: set before the application.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

}  // namespace app

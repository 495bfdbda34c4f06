#pragma once
// What Qt WebEngine must be told before the application object exists: its
// sandbox cannot run as root, Chromium's logging stays off, there is no GPU
// to use without a display, and the remote-debugging port stays closed (an
// open one lets every local user drive the map page) unless the user asks
// for it with DRAVIK_REMOTE_DEBUGGING=PORT, and then only on 127.0.0.1.
#include <functional>
#include <map>
#include <string>

namespace app {

struct WebEngineEnvironment {
  std::map<std::string, std::string> set;  // variables to set before QApplication
  std::string warning;                     // for stderr; empty when none
};

// `get` reads a variable of the current environment (nullptr when unset).
WebEngineEnvironment PlanWebEngineEnvironment(bool running_as_root,
                                              const std::function<const char*(const char*)>& get);
// Plans for this process and applies the plan (setenv), and sets the
// attributes Qt WebEngine needs. Call before the QApplication is built.
void PrepareWebEngine();

}  // namespace app

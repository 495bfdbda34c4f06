#pragma once
// Where a class shows a message box to the user. The Qt main window overrides
// this with a real dialog; the default (and a null hook) writes the text to
// stderr, which is all a program without a window can do.
#include <cstdio>
#include <string>

namespace platform {

class MessageBoxHook {
 public:
  virtual ~MessageBoxHook() = default;
  virtual void ShowMessageBox(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

  // Shows `text` through `hook`, or on stderr when there is none.
  static void Show(MessageBoxHook* hook, const std::string& text) {
    if (hook != nullptr) {
      hook->ShowMessageBox(text);
    } else {
      MessageBoxHook().ShowMessageBox(text);
    }
  }
};

}  // namespace platform

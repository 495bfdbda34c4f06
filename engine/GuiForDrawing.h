#pragma once
// Text is drawn with Qt's fonts, and Qt's font database needs a
// QGuiApplication in the process (without one, the first QFont aborts).
// The player's window has one; headless users (dravik-tool, tests) get one
// here on the offscreen platform.

namespace engine {

// Creates a QGuiApplication on the offscreen platform when the process has no
// Qt application yet and this is the process's main thread. True when texts
// can be drawn: a QGuiApplication exists (made here or by the program).
bool EnsureGuiForDrawing();

// True when a QGuiApplication exists, so that fonts may be used from any
// thread.
bool GuiAvailableForDrawing();

}  // namespace engine

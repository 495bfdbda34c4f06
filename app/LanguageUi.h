#pragma once
// Language texts on widgets: captions applied by dialog number and control
// identifier (each widget carries its identifier as the "controlId"
// property), and the language menu (command 0x1000000 + i for entry i).
#include <QMenu>
#include <QWidget>

#include "app/LanguageResources.h"

namespace app {

inline constexpr const char* kControlIdProperty = "controlId";
inline constexpr int kLanguageCommandBase = 0x1000000;
inline constexpr int kMaxLanguageEntries = 100;

// Gives `widget` its control identifier.
void SetControlId(QWidget* widget, int id);
int ControlId(const QWidget* widget);

// "IDD<dialog>_Title" becomes the window's title, "IDD<dialog>_<id>" the text
// of each direct child with a control identifier; missing or empty keys
// change nothing.
void ApplyCaptions(QWidget* window, int dialog, const LanguageResources& languages);

// Fills `menu` with one checkable entry per language file (its command in
// the action's data), the current language checked.
void FillLanguageMenu(QMenu* menu, const LanguageResources& languages);

}  // namespace app

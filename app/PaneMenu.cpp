#include "app/PaneMenu.h"

namespace app {
namespace {

struct Texts {
  const char* exit_fullscreen;
  const char* default_screen;
  const char* mute;
  const char* audio;  // followed by " n"
  const char* close;
  const char* open;
  const char* property;
};

constexpr Texts kEnglish{"Exit Fullscreen", "Default Screen", "Mute", "Audio", "Close", "Open", "Property"};
constexpr Texts kRussian{"Выйти из полноэкранного режима", "Экран по умолчанию", "Без звука", "Звук",
                         "Закрыть", "Открыть", "Свойства"};

QAction* Add(QMenu* menu, const char* text, int command, bool enabled) {
  QAction* action = menu->addAction(QString::fromUtf8(text));
  action->setData(command);
  action->setEnabled(enabled);
  return action;
}

}  // namespace

void FillPaneMenu(QMenu* menu, const std::string& language_name, const PaneMenuState& state) {
  menu->clear();
  const Texts& t = language_name == "Russian" ? kRussian : kEnglish;
  Add(menu, t.exit_fullscreen, kMenuExitFullscreen, state.full_screen);
  Add(menu, t.default_screen, kMenuDefaultScreen, true);
  menu->addSeparator();
  QAction* mute = Add(menu, t.mute, kMenuMute, true);
  mute->setCheckable(true);
  mute->setChecked(state.audio_channel < 0);
  for (int i = 0; i < 8; ++i) {
    QAction* audio = menu->addAction(QString::fromUtf8(t.audio) + QString(" %1").arg(i + 1));
    audio->setData(kMenuAudio1 + i);
    audio->setCheckable(true);
    audio->setChecked(state.audio_channel == i);
  }
  menu->addSeparator();
  Add(menu, t.close, kMenuClose, !state.channel_closed);
  Add(menu, t.open, kMenuOpen, state.channel_closed);
  Add(menu, t.property, kMenuProperty, state.has_recording);
}

}  // namespace app

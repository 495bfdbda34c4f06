#include "playback/PlaybackControl.h"

namespace playback {

PlaybackControl& Control() {
  static PlaybackControl control;
  return control;
}

}  // namespace playback

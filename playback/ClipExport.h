#pragma once
// Clips written while a recording plays: a channel's pictures copied packet
// for packet into an AVI clip of their own, from its first key frame, under a
// temporary name that becomes the clip's only when it is complete (a clip cut
// short never looks like a recording). Pictures only: the recorder's voice
// frames have no AVI form that players read.
#include <array>
#include <memory>
#include <string>

#include "QVVReader/AviWriter.h"
#include "QVVReader/Format.h"
#include "playback/PlaybackControl.h"

namespace playback {

class ClipExport {
 public:
  ~ClipExport() { Abandon(); }

  // False when the clip cannot be created.
  bool Open(int channel, const std::string& path, const qvv::AVStream& video);
  bool IsOpen(int channel) const;
  bool any_open() const;
  // A picture of the channel at `ms`; false when writing failed.
  bool Write(int channel, const qvv::ReaderPacket& packet, int64_t ms);
  // Completes every clip: false when one could not be written; `kept` gets
  // the count of clips named (a clip without a key frame yet is dropped).
  bool Finish(int* kept = nullptr);
  // Removes every clip not finished.
  void Abandon();

 private:
  struct Clip {
    qvv::AviWriter writer;
    std::string path;
    bool started = false;  // a key frame was written
    int64_t first_ms = 0;
    int fps = 25;
    int64_t written = 0;
    bool failed = false;
  };
  std::array<std::unique_ptr<Clip>, kChannels> clips_;
};

}  // namespace playback

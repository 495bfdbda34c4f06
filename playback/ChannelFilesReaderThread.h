#pragma once
// The reader of recordings kept as one file per channel (".avi", ".flv",
// ".mp4", which plays forwards only): every
// channel's file is open at once and each pass reads one packet from each in
// turn, so the channels stay together in time. A picture the filter refuses
// is kept and offered again in the next pass. GPS and sensor records come from
// the first channel that has any; overlay records ("ALG", AVI) from every
// channel whose overlay is on.
#include <array>
#include <string>

#include "playback/ContainerFile.h"
#include "playback/ReaderThread.h"

namespace playback {

class ChannelFilesReaderThread final : public ReaderThread {
 public:
  ChannelFilesReaderThread(Container type, EngineTargets targets, PlaybackControl& control = Control())
      : ReaderThread(type, targets, control) {}
  ~ChannelFilesReaderThread() override { Stop(2000); }

 private:
  struct Channel {
    ContainerFile file;
    bool done = true;          // not open, or at its end
    qvv::ReaderPacket kept;    // a picture refused in the last pass
    bool has_kept = false;
    int64_t duration_ms = 0;
    int64_t last_ms = 0;       // the time of its last picture
  };

  Recording OpenNamed(const platform::StopToken& stop) override;
  void SeekTo(const platform::StopToken& stop) override;
  bool ReadNext(const platform::StopToken& stop) override;
  void CloseRecording() override;
  bool OpenAll(const PlaybackControl::Names& names, const platform::StopToken& stop);
  void CloseAll();
  // One packet of channel `ch`; false when it is done.
  bool Step(int ch, const platform::StopToken& stop);
  // Offers a picture once; false when refused.
  bool OfferPicture(int ch, qvv::ReaderPacket& packet, const qvv::AVStream& st, int64_t ms);

  std::array<Channel, kChannels> channels_;
  std::array<std::string, kChannels> open_names_;
  uint32_t open_request_ = 0;  // the request they were opened for
  bool reverse_ = false;
  int sensor_channel_ = -1;  // the first channel that gave a data packet
  int64_t last_clock_ms_ = INT64_MIN;
  int64_t duration_ms_ = 0;
};

}  // namespace playback

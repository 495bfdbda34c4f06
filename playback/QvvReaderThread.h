#pragma once
// The reader of ".qvv" recordings: one file holds every channel. Video stream n
// plays in pane n, audio stream V + n is channel n's sound.
#include "playback/ContainerFile.h"
#include "playback/ReaderThread.h"

namespace playback {

class QvvReaderThread final : public ReaderThread {
 public:
  QvvReaderThread(EngineTargets targets, PlaybackControl& control = Control())
      : ReaderThread(Container::Qvv, targets, control) {}
  ~QvvReaderThread() override { Stop(2000); }

 private:
  Recording OpenNamed(const platform::StopToken& stop) override;
  void SeekTo(const platform::StopToken& stop) override;
  bool ReadNext(const platform::StopToken& stop) override;
  void CloseRecording() override;
  bool OpenNew(const std::string& name, const platform::StopToken& stop);
  void Dispatch(qvv::ReaderPacket& packet, const platform::StopToken& stop);

  ContainerFile file_;
  qvv::ReaderPacket packet_;
  std::string open_name_;
  uint32_t open_request_ = 0;  // the request it was opened for
  bool reverse_ = false;
  int64_t duration_ms_ = 0;
  int64_t last_clock_ms_ = INT64_MIN;
  int64_t last_packet_ms_ = 0;
};

}  // namespace playback

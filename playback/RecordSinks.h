#pragma once
// Where the readers send the recording's sensor records: the map (GPS) and
// the waveform (GPS, G-sensor and other sensors). The views implement these;
// until they exist, and in tests, a recording double does.
#include <cstdint>

namespace playback {

class MapSink {
 public:
  virtual ~MapSink() = default;
  // A GPS record (from its AMF0 name on) and its time in the file (ms); the
  // pseudo-record "Seek" (5 bytes) makes the map forget where it was.
  virtual void PushGpsRecord(const uint8_t* record, int size, int64_t time_ms) = 0;
  // A GPS record of the whole track (the sensor worker) at its absolute time
  // in seconds; after each file a separator: no record, time -1.
  virtual void AddTrackPoint(const uint8_t* record, int size, int64_t time_seconds) = 0;
};

class WaveSink {
 public:
  virtual ~WaveSink() = default;
  // A sensor record at its absolute time (ms); the pseudo-record "Clear" (6
  // bytes) starts the view again.
  virtual void PushRecord(const uint8_t* record, int size, int64_t absolute_ms) = 0;
  // The local start time of the file opened (seconds, its name's date and time).
  virtual void SetStartTime(int64_t start_seconds) = 0;
};

}  // namespace playback

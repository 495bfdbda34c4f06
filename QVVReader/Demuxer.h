#pragma once
// What every container reader offers: open (forward or for reverse play), read
// a packet, read a packet backwards group by group, seek to a key frame, and
// the file's streams. One reader per file; the caller owns the byte context.
#include <cstdint>
#include <string_view>

#include "QVVReader/Format.h"

namespace qvv {

// The end of an AVI file ("EOF" as a negative tag): the AVI reader's own end
// code, kept because its callers and clips know it. Every other reader ends
// with kErrEndOfStream (-32). Test for the end with IsEndOfStream.
inline constexpr int kAviEndOfFile = -0x20464F45;
inline bool IsEndOfStream(int status) { return status == kErrEndOfStream || status == kAviEndOfFile; }

// What a reader had to leave out: stretches of damaged bytes it crossed by
// resynchronisation, tags it recognised but could not trust, and where in
// time that happened (the last good packet before the damage and the first
// after it, in microseconds).
struct DamageReport {
  int64_t stretches = 0;
  int64_t bytes_skipped = 0;
  int64_t packets_dropped = 0;
  bool truncated = false;  // the file ends inside a packet
  int64_t from_us = kNoPtsValue;
  int64_t to_us = kNoPtsValue;
  bool any() const { return stretches > 0 || packets_dropped > 0 || truncated; }
};

class Demuxer {
 public:
  virtual ~Demuxer() = default;

  // Reads the header; `file_name` is the recording's path (some containers
  // pick their header form from the name). 0 or a negative code.
  virtual int Open(ByteIOContext* pb, std::string_view file_name) = 0;
  virtual int OpenReverse(ByteIOContext* pb, std::string_view file_name) = 0;
  // Payload size; at the end a code IsEndOfStream knows (-32, or the AVI
  // reader's kAviEndOfFile); another negative code on damage.
  virtual int ReadPacket(ReaderPacket& packet) = 0;
  // Groups of pictures from the end towards the start, each group forward.
  virtual int ReadPacketReverse(ReaderPacket& packet) = 0;
  // Positions on the video key frame at or before the target (microseconds).
  virtual bool Seek(int64_t target_us) = 0;
  // Opened for reverse play: the next group read backwards is the one that
  // holds the target, and reading goes on towards the start from there.
  // False when the reader cannot (it then goes on from where it was).
  virtual bool SeekReverse(int64_t /*target_us*/) { return false; }

  AVFormatContext& context() { return ctx_; }
  const AVFormatContext& context() const { return ctx_; }
  const DamageReport& damage() const { return damage_; }

 protected:
  // Book-keeping for the damage report: a resynchronisation that skipped
  // `bytes`, a tag left out, and every packet delivered (its time in
  // microseconds closes the time range of damage met before it).
  void NoteSkipped(int64_t bytes) {
    if (bytes <= 0) return;
    ++damage_.stretches;
    damage_.bytes_skipped += bytes;
    OpenDamageRange();
  }
  void NoteDropped() {
    ++damage_.packets_dropped;
    OpenDamageRange();
  }
  void NoteDelivered(int64_t time_us) {
    if (damage_open_) {
      damage_open_ = false;
      if (damage_.to_us == kNoPtsValue || time_us > damage_.to_us) damage_.to_us = time_us;
    }
    last_delivered_us_ = time_us;
  }
  // The whole book-keeping, for work that meets damage without reading it
  // (an index built by scanning).
  struct DamageState {
    DamageReport report;
    bool open;
    int64_t last_delivered_us;
  };
  DamageState SaveDamage() const { return {damage_, damage_open_, last_delivered_us_}; }
  void RestoreDamage(const DamageState& state) {
    damage_ = state.report;
    damage_open_ = state.open;
    last_delivered_us_ = state.last_delivered_us;
  }
  void ResetDamage() {
    damage_ = DamageReport{};
    damage_open_ = false;
    last_delivered_us_ = kNoPtsValue;
  }

  AVFormatContext ctx_;
  DamageReport damage_;

 private:
  void OpenDamageRange() {
    if (!damage_open_ && last_delivered_us_ != kNoPtsValue &&
        (damage_.from_us == kNoPtsValue || last_delivered_us_ < damage_.from_us))
      damage_.from_us = last_delivered_us_;
    if (damage_.from_us == kNoPtsValue && last_delivered_us_ == kNoPtsValue) damage_.from_us = 0;
    damage_open_ = true;
  }
  bool damage_open_ = false;
  int64_t last_delivered_us_ = kNoPtsValue;
};

}  // namespace qvv

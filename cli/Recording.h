#pragma once
// Opens a recording with the reader that its extension calls for.
#include <memory>
#include <string>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Demuxer.h"

namespace cli {

struct ByteIOCloser {
  void operator()(qvv::ByteIOContext* pb) const { qvv::url_fclose(pb); }
};
using ByteIOPtr = std::unique_ptr<qvv::ByteIOContext, ByteIOCloser>;

struct OpenedRecording {
  ByteIOPtr io;
  std::unique_ptr<qvv::Demuxer> demuxer;
  std::string format;  // "qvv", "avi", "flv", "mp4"
};

// Opens forward (or for reverse play); on failure prints one line naming the
// file and the reason on stderr and returns nothing.
bool OpenRecording(const std::string& path, bool reverse, OpenedRecording& out);

// The end of a recording: -32, or the AVI reader's own end-of-file code.
bool IsEndOfFile(int status);

// The end of what can be read: the end of the file, or a last packet that the
// file's end cuts short (the reader has noted it in its damage report).
bool IsEndOfReading(const qvv::Demuxer& demuxer, int status);

// One line on stderr when the reader crossed damage: how much, and between
// which times.
void ReportDamage(const std::string& path, const qvv::DamageReport& damage);

// Stream kind as text: video, audio or data.
const char* KindName(int kind);

}  // namespace cli

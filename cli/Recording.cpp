#include "cli/Recording.h"

#include <cctype>
#include <cinttypes>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/FileName.h"
#include "QVVReader/FlvDemuxer.h"
#include "QVVReader/Mp4Demuxer.h"
#include "QVVReader/QvvDemuxer.h"

namespace cli {

const char* KindName(int kind) {
  switch (kind) {
    case qvv::kKindAudio: return "audio";
    case qvv::kKindData: return "data";
    default: return "video";
  }
}

std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool OpenRecording(const std::string& path, bool reverse, OpenedRecording& out) {
  const std::string ext = ExtensionOf(path);
  if (ext == "qvv") {
    out.demuxer = std::make_unique<qvv::QvvDemuxer>();
  } else if (ext == "avi") {
    out.demuxer = std::make_unique<qvv::AviDemuxer>();
  } else if (ext == "flv") {
    out.demuxer = std::make_unique<qvv::FlvDemuxer>();
  } else if (ext == "mp4") {
    out.demuxer = std::make_unique<qvv::Mp4Demuxer>();
  } else {
    std::fprintf(stderr, "dravik-tool: %s: not a recording this tool reads (.qvv, .avi, .flv or .mp4)\n", path.c_str());
    return false;
  }
  out.format = ext;
  qvv::ByteIOContext* pb = nullptr;
  errno = 0;
  if (qvv::url_fopen(&pb, path.c_str(), qvv::kUrlReadOnly) < 0) {
    std::fprintf(stderr, "dravik-tool: %s: cannot open: %s\n", path.c_str(),
                 errno ? std::strerror(errno) : "unknown protocol");
    return false;
  }
  out.io.reset(pb);
  const int r = reverse ? out.demuxer->OpenReverse(pb, path) : out.demuxer->Open(pb, path);
  if (r < 0) {
    if (ext == "mp4") {
      // libavformat reads MP4 files; it says what went wrong.
      const auto& mp4 = static_cast<const qvv::Mp4Demuxer&>(*out.demuxer);
      std::fprintf(stderr, "dravik-tool: %s: %s: %s\n", path.c_str(),
                   r == qvv::Mp4Demuxer::kErrNoBackward ? "cannot play backwards" : "damaged recording",
                   mp4.error_text().c_str());
    } else if (reverse && r == qvv::kErrInvalid && ext == "avi") {
      std::fprintf(stderr, "dravik-tool: %s: cannot play backwards: the file is not interleaved\n", path.c_str());
    } else if (r == qvv::kErrInvalid && ext == "qvv") {
      std::fprintf(stderr, "dravik-tool: %s: not a readable recording: no whole QVV packet in it\n", path.c_str());
    } else {
      std::fprintf(stderr, "dravik-tool: %s: damaged recording: the header is incomplete or not %s\n", path.c_str(),
                   ext == "qvv" ? "QVV" : ext == "avi" ? "AVI" : "FLV");
    }
    return false;
  }
  if (!reverse && ext == "qvv") static_cast<qvv::QvvDemuxer&>(*out.demuxer).ReadLeadingMetadata();
  if (!reverse && ext == "flv") static_cast<qvv::FlvDemuxer&>(*out.demuxer).ReadLeadingMetadata();
  return true;
}

bool IsEndOfFile(int status) { return qvv::IsEndOfStream(status); }

bool IsEndOfReading(const qvv::Demuxer& demuxer, int status) {
  return IsEndOfFile(status) || (status == qvv::kErrIO && demuxer.damage().truncated);
}

void ReportDamage(const std::string& path, const qvv::DamageReport& damage) {
  if (!damage.any()) return;
  std::string text;
  char part[160];
  if (damage.stretches > 0) {
    std::snprintf(part, sizeof part, "%" PRId64 " damaged stretch%s crossed (%" PRId64 " bytes skipped)",
                  damage.stretches, damage.stretches == 1 ? "" : "es", damage.bytes_skipped);
    text += part;
  }
  if (damage.packets_dropped > 0) {
    std::snprintf(part, sizeof part, "%s%" PRId64 " damaged packet%s left out", text.empty() ? "" : ", ",
                  damage.packets_dropped, damage.packets_dropped == 1 ? "" : "s");
    text += part;
  }
  if (damage.from_us != qvv::kNoPtsValue) {
    const double from = static_cast<double>(damage.from_us) / 1e6;
    if (damage.to_us != qvv::kNoPtsValue) {
      std::snprintf(part, sizeof part, " between %.3f s and %.3f s", from, static_cast<double>(damage.to_us) / 1e6);
    } else {
      std::snprintf(part, sizeof part, " after %.3f s", from);
    }
    if (!text.empty()) text += part;
  }
  if (damage.truncated) text += text.empty() ? "the file ends inside a packet (cut short)" : "; the file ends inside a packet (cut short)";
  std::fprintf(stderr, "dravik-tool: %s: %s\n", path.c_str(), text.c_str());
}

}  // namespace cli

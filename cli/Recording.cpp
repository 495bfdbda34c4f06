#include "cli/Recording.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "QVVReader/FileName.h"
#include "QVVReader/QvvDemuxer.h"

namespace cli {

const char* KindName(int kind) {
  switch (kind) {
    case qvv::kKindAudio: return "audio";
    case qvv::kKindData: return "data";
    default: return "video";
  }
}

bool OpenRecording(const std::string& path, bool reverse, OpenedRecording& out) {
  const auto kind = qvv::NameKindOfExtension(path);
  if (!kind || *kind != qvv::NameKind::Qvv) {
    std::fprintf(stderr, "dravik-tool: %s: not a recording this tool reads (expected .qvv)\n", path.c_str());
    return false;
  }
  qvv::ByteIOContext* pb = nullptr;
  errno = 0;
  if (qvv::url_fopen(&pb, path.c_str(), qvv::kUrlReadOnly) < 0) {
    std::fprintf(stderr, "dravik-tool: %s: cannot open: %s\n", path.c_str(),
                 errno ? std::strerror(errno) : "unknown protocol");
    return false;
  }
  out.io.reset(pb);
  out.demuxer = std::make_unique<qvv::QvvDemuxer>();
  out.format = "qvv";
  const int r = reverse ? out.demuxer->OpenReverse(pb, path) : out.demuxer->Open(pb, path);
  if (r < 0) {
    std::fprintf(stderr, "dravik-tool: %s: damaged recording: the header is incomplete\n", path.c_str());
    return false;
  }
  if (!reverse) static_cast<qvv::QvvDemuxer&>(*out.demuxer).ReadLeadingMetadata();
  return true;
}

}  // namespace cli

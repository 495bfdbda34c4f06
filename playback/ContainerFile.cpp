#include "playback/ContainerFile.h"

#include <cctype>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/FlvDemuxer.h"
#include "QVVReader/Mp4Demuxer.h"
#include "QVVReader/QvvDemuxer.h"

namespace playback {

std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (auto& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return ext;
}

bool ContainerFile::Open(const std::string& path, bool reverse) {
  Close();
  path_ = path;
  reverse_ = reverse;
  const std::string ext = ExtensionOf(path);
  std::unique_ptr<qvv::Demuxer> demuxer;
  if (ext == "qvv") demuxer = std::make_unique<qvv::QvvDemuxer>();
  else if (ext == "avi") demuxer = std::make_unique<qvv::AviDemuxer>();
  else if (ext == "flv") demuxer = std::make_unique<qvv::FlvDemuxer>();
  else if (ext == "mp4") demuxer = std::make_unique<qvv::Mp4Demuxer>();
  if (!demuxer) {
    error_ = "not a recording this player reads";
    return false;
  }
  if (qvv::url_fopen(&io_, path.c_str(), qvv::kUrlReadOnly) < 0) {
    io_ = nullptr;
    error_ = "cannot open the file";
    return false;
  }
  const int r = reverse ? demuxer->OpenReverse(io_, path) : demuxer->Open(io_, path);
  if (r < 0) {
    error_ = reverse ? "cannot be read backwards" : "the header is damaged";
    Close();
    return false;
  }
  if (!reverse && ext == "qvv") static_cast<qvv::QvvDemuxer&>(*demuxer).ReadLeadingMetadata();
  if (!reverse && ext == "flv") static_cast<qvv::FlvDemuxer&>(*demuxer).ReadLeadingMetadata();
  demuxer_ = std::move(demuxer);
  return true;
}

void ContainerFile::Close() {
  demuxer_.reset();
  if (io_) qvv::url_fclose(io_);
  io_ = nullptr;
}

int64_t ContainerFile::duration_ms() const {
  if (!demuxer_) return 0;
  const int64_t d = demuxer_->context().duration;
  return d > 0 ? d / 1000 : 0;
}

int ContainerFile::Read(qvv::ReaderPacket& packet) {
  if (!demuxer_) return qvv::kErrEndOfStream;
  return reverse_ ? demuxer_->ReadPacketReverse(packet) : demuxer_->ReadPacket(packet);
}

}  // namespace playback

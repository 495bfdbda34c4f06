#pragma once
// One open recording file: its byte context and the reader its extension
// calls for (".qvv", ".avi", ".flv", ".mp4"), opened forward or for reverse
// play (which MP4 refuses).
#include <memory>
#include <string>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Demuxer.h"

namespace playback {

// A path's extension in lower case, without the dot ("" when it has none).
std::string ExtensionOf(const std::string& path);

class ContainerFile {
 public:
  ContainerFile() = default;
  ~ContainerFile() { Close(); }
  ContainerFile(const ContainerFile&) = delete;
  ContainerFile& operator=(const ContainerFile&) = delete;

  // False with a reason in error().
  bool Open(const std::string& path, bool reverse);
  void Close();
  bool is_open() const { return demuxer_ != nullptr; }
  qvv::Demuxer& demuxer() { return *demuxer_; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }
  // The file's length in milliseconds (0 when unknown).
  int64_t duration_ms() const;
  int Read(qvv::ReaderPacket& packet);  // forward or backward as opened

 private:
  qvv::ByteIOContext* io_ = nullptr;
  std::unique_ptr<qvv::Demuxer> demuxer_;
  std::string path_, error_;
  bool reverse_ = false;
};

}  // namespace playback

// libFuzzer target: recording file names of every kind and form.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QVVReader/Diagnostics.h"
#include "QVVReader/FileName.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  qvv::SetDiagnosticStream(sink);
  const std::string name(reinterpret_cast<const char*>(data), size);
  for (auto kind : {qvv::NameKind::Qvv, qvv::NameKind::PerChannel, qvv::NameKind::Mp4}) {
    const auto r = qvv::ParseRecordingName(name, kind);
    if (r && r->identifier.size() > 16) __builtin_trap();
    qvv::ParseRecordingName(name, kind, true);
  }
  qvv::ParseQvvFileName(name.c_str(), nullptr, nullptr, nullptr, nullptr);
  qvv::ShortNameTypeMask(name);
  return 0;
}

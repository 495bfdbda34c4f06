#include "QVVReader/Diagnostics.h"

#include <atomic>
#include <cstdarg>

namespace qvv {
namespace {
std::atomic<FILE*> g_stream{nullptr};
}

void SetDiagnosticStream(FILE* stream) { g_stream.store(stream); }

void Diagnostic(const char* format, ...) {
  FILE* out = g_stream.load();
  if (!out) out = stdout;
  va_list args;
  va_start(args, format);
  std::vfprintf(out, format, args);
  va_end(args);
}

}  // namespace qvv

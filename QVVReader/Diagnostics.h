#pragma once
// Where the reader's diagnostic texts go: standard output unless a tool that
// writes its results there moves them (dravik-tool sends them to stderr).
#include <cstdio>

namespace qvv {

void SetDiagnosticStream(FILE* stream);
// printf-style; never fails.
void Diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qvv

// dravik-tool backup --from FOLDER [--types T] [--since TIME] [--until TIME] [--plate P] --to DEST
// Copies the recordings of FOLDER (and every folder below it) that the
// search criteria keep into DEST, as the player's "Back up" does: one line
// per file ("copied PATH", "skipped PATH" or "failed PATH: TEXT"), then
// "copied=<n> skipped=<n> failed=<n>". The first file that fails ends the
// copy; the exit status is then 1. DEST is made when missing.
//
// Criteria, as the search panel's:
//   --types   a comma list of manual, timing, motion, alarm, or the packed
//             type mask in hex (0x prefix; one byte a type, manual in the
//             top byte: 0xFF000000 manual, 0x000000FF alarm). Default: all.
//   --since / --until   "YYYY-MM-DD HH:MM:SS" (or a date alone: from its
//             first / to its last second), the recordings' own clock, as
//             their names carry it; a recording is kept when its span
//             touches [since, until].
//   --plate   only recordings whose name carries this vehicle identifier.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/RecordingScan.h"
#include "cli/Commands.h"
#include "tools/BackupCopy.h"

namespace cli {
namespace {

std::atomic<tools::BackupCopy*> g_running_copy{nullptr};

// Ctrl+C or a kill: the file being copied is abandoned and its temporary
// file removed, as a cancel in the dialog does.
extern "C" void StopCopy(int) {
  if (tools::BackupCopy* copy = g_running_copy.load()) copy->Cancel();
}

int Usage() {
  std::fprintf(stderr,
               "usage: dravik-tool backup --from FOLDER [--types T] [--since TIME] [--until TIME] [--plate P] --to DEST\n"
               "  --types T      manual,timing,motion,alarm (any of them, comma-separated), or the type mask\n"
               "                 in hex: 0xFF000000 manual, 0x00FF0000 timing, 0x0000FF00 motion, 0x000000FF alarm\n"
               "  --since TIME   \"YYYY-MM-DD HH:MM:SS\" or \"YYYY-MM-DD\", the recorder's clock as the names carry it\n"
               "  --until TIME   likewise; a recording is kept when its span touches [since, until]\n"
               "  --plate P      the vehicle identifier the names carry\n");
  return 2;
}

std::optional<uint32_t> ParseTypes(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) {
    const std::string digits(text.substr(2));
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return std::nullopt;
    const auto mask = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    // Any non-zero byte selects its type, as the search panel reads a mask.
    uint32_t types = 0;
    for (int byte = 0; byte < 4; ++byte)
      if ((mask >> (8 * byte)) & 0xFF) types |= 0xFFu << (8 * byte);
    return types == 0 ? std::nullopt : std::optional<uint32_t>(types);
  }
  uint32_t types = 0;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view word = text.substr(0, comma);
    if (word == "manual") types |= 0xFF000000u;
    else if (word == "timing") types |= 0x00FF0000u;
    else if (word == "motion") types |= 0x0000FF00u;
    else if (word == "alarm") types |= 0x000000FFu;
    else return std::nullopt;
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return types == 0 ? std::nullopt : std::optional<uint32_t>(types);
}

// The wall-clock time as the list counts it (the fields taken as UTC).
std::optional<int64_t> ParseTime(std::string_view text, bool end_of_day) {
  std::tm tm{};
  char rest = 0;
  const std::string s(text);
  const int fields = std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                                 &tm.tm_min, &tm.tm_sec, &rest);
  if (fields == 3 && s.find(' ') == std::string::npos) {
    tm.tm_hour = end_of_day ? 23 : 0;
    tm.tm_min = end_of_day ? 59 : 0;
    tm.tm_sec = end_of_day ? 59 : 0;
  } else if (fields != 6) {
    return std::nullopt;
  }
  if (tm.tm_year < 1970 || tm.tm_year > 9999 || tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 ||
      tm.tm_mday > 31 || tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
      tm.tm_sec > 60)
    return std::nullopt;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<int64_t>(timegm(&tm));
}

const char* OutcomeWord(tools::FileOutcome outcome) {
  switch (outcome) {
    case tools::FileOutcome::Copied: return "copied";
    case tools::FileOutcome::Skipped: return "skipped";
    case tools::FileOutcome::Failed: return "failed";
    case tools::FileOutcome::Cancelled: return "cancelled";
  }
  return "?";
}

}  // namespace

int RunBackup(const Args& args) {
  std::string from, to;
  app::ScanFilter filter;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (i + 1 >= args.size()) return Usage();
    const std::string_view v = args[++i];
    if (a == "--from" && from.empty()) {
      from = std::string(v);
    } else if (a == "--to" && to.empty()) {
      to = std::string(v);
    } else if (a == "--types") {
      const auto types = ParseTypes(v);
      if (!types) return Usage();
      filter.types = *types;
    } else if (a == "--since" || a == "--until") {
      const auto t = ParseTime(v, a == "--until");
      if (!t) return Usage();
      (a == "--since" ? filter.from : filter.to) = *t;
    } else if (a == "--plate") {
      filter.car_number = std::string(v);
    } else {
      return Usage();
    }
  }
  if (from.empty() || to.empty()) return Usage();

  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(from, error)) {
    std::fprintf(stderr, "dravik-tool backup: %s is not a folder\n", from.c_str());
    return 1;
  }
  fs::create_directories(to, error);
  if (!fs::is_directory(to, error)) {
    std::fprintf(stderr, "dravik-tool backup: cannot make the folder %s\n", to.c_str());
    return 1;
  }

  std::vector<app::RecordingRow> rows;
  const std::atomic<bool> never{false};
  app::WalkRecordings(from, never, [&](app::RecordingRow row) {
    if (filter.Accepts(row)) rows.push_back(std::move(row));
  });
  // The list's order, then the path, so that every run copies alike.
  std::sort(rows.begin(), rows.end(), [](const app::RecordingRow& a, const app::RecordingRow& b) {
    if (app::RowBefore(a, b) != app::RowBefore(b, a)) return app::RowBefore(a, b);
    return a.path < b.path;
  });
  std::vector<std::string> sources;
  sources.reserve(rows.size());
  for (auto& row : rows) sources.push_back(std::move(row.path));

  tools::BackupCopy copy(std::move(sources), to);
  copy.set_file_done([](const tools::FileReport& report) {
    if (report.outcome == tools::FileOutcome::Failed) {
      std::printf("failed %s: %s\n", report.source.c_str(), report.error.c_str());
    } else {
      std::printf("%s %s\n", OutcomeWord(report.outcome), report.source.c_str());
    }
    std::fflush(stdout);
  });
  g_running_copy.store(&copy);
  auto* previous_int = std::signal(SIGINT, StopCopy);
  auto* previous_term = std::signal(SIGTERM, StopCopy);
  const bool ok = copy.Run();
  std::signal(SIGINT, previous_int);
  std::signal(SIGTERM, previous_term);
  g_running_copy.store(nullptr);

  if (!ok && copy.failed() == 0) std::fprintf(stderr, "dravik-tool backup: %s\n", copy.StatusText().c_str());
  std::printf("copied=%d skipped=%d failed=%d\n", copy.copied(), copy.skipped(), copy.failed());
  return ok ? 0 : 1;
}

}  // namespace cli

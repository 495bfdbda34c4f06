// dravik-tool name NAME: what the file-name parser reads from a recording's name, as JSON.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "QVVReader/FileName.h"
#include "cli/Commands.h"
#include "cli/Json.h"

namespace cli {

int RunName(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: dravik-tool name NAME\n");
    return 2;
  }
  const std::string name(args[0]);
  const auto kind = qvv::NameKindOfExtension(name);
  if (!kind) {
    std::fprintf(stderr, "dravik-tool: %s: not a recording name (extension .qvv, .avi, .flv or .mp4)\n",
                 name.c_str());
    return 1;
  }
  const auto r = qvv::ParseRecordingName(name, *kind);
  if (!r) {
    std::fprintf(stderr, "dravik-tool: %s: not a recording name\n", name.c_str());
    return 1;
  }
  static const char* kForms[] = {"short", "medium", "long"};
  static const char* kKinds[] = {"qvv", "per-channel", "mp4"};
  std::string types;
  const char* names[] = {"manual", "timing", "motion", "alarm"};
  for (int i = 0; i < 4; ++i) {
    if ((r->type_mask >> (24 - 8 * i)) & 0xFF) types += std::string(types.empty() ? "" : ", ") + "\"" + names[i] + "\"";
  }
  std::printf("{\n  \"kind\": \"%s\",\n  \"form\": \"%s\",\n", kKinds[static_cast<int>(*kind)],
              kForms[static_cast<int>(r->form)]);
  std::printf("  \"start\": \"%04d-%02d-%02d %02d:%02d:%02d\",\n", r->year, r->month, r->day, r->hour, r->minute,
              r->second);
  std::printf("  \"start_utc\": %" PRId64 ",\n  \"start_local\": %" PRId64 ",\n", r->utc_start, r->local_start);
  std::printf("  \"type_mask\": \"0x%08X\",\n  \"types\": [%s],\n", r->type_mask, types.c_str());
  std::printf("  \"type_code\": %s,\n  \"channel\": %d,\n  \"channel_mask\": %u,\n",
              JsonString(r->type_code).c_str(), r->channel, r->channel_mask);
  std::printf("  \"duration\": %" PRId64 ",\n  \"numbers\": [%" PRId64 ", %" PRId64 ", %" PRId64 ", %" PRId64
              ", %" PRId64 "],\n",
              r->duration, r->numbers[0], r->numbers[1], r->numbers[2], r->numbers[3], r->numbers[4]);
  std::printf("  \"identifier\": %s\n}\n", JsonString(r->identifier).c_str());
  return 0;
}

}  // namespace cli

#pragma once
// Recording file names. The recorder writes start time, record type, channel
// and (in the longer forms) duration and identifiers into the name:
//   short:     20240102030405_1000.qvv       20240102030405_0001_03.avi
//   tokenised: date_code_duration_n3_n4_n5_n6_n7_identifier_channel.ext
// The form follows from the length of the base name alone.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvv {

enum class NameKind {
  Qvv,         // all channels in one file; tokenised channel is a hex mask
  PerChannel,  // ".avi", ".flv": one file per channel
  Mp4,         // per-channel, long form only
};

enum class NameForm { Short, Medium, Long };

// Record-type bytes of the mask, most significant first.
inline constexpr uint32_t kTypeManual = 0xFF000000;
inline constexpr uint32_t kTypeTiming = 0x00FF0000;
inline constexpr uint32_t kTypeMotion = 0x0000FF00;
inline constexpr uint32_t kTypeAlarm = 0x000000FF;

struct RecordingName {
  NameForm form = NameForm::Short;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int64_t utc_start = -1;    // the date and time read as UTC
  int64_t local_start = -1;  // the date and time read as local time (no daylight saving)
  uint32_t type_mask = 0;
  std::string type_code;       // two-letter code of the tokenised forms
  int channel = -1;            // 0..11, -1 when the name carries none
  uint32_t channel_mask = 0;   // tokenised QVV names
  int64_t duration = -1;       // seconds; -1 when the name carries none
  int64_t numbers[5] = {};     // tokens 3 to 7
  std::string identifier;      // token 8, at most 16 characters
};

// Parses the base name (the text after the last '/' or '\'). With
// `without_extension` the name has no extension and the file list's length
// limits apply. Prints the reason to the diagnostic stream when it fails.
std::optional<RecordingName> ParseRecordingName(std::string_view path, NameKind kind,
                                                bool without_extension = false);

// The kind a name's extension implies (".qvv", ".avi", ".flv", ".mp4"; case-insensitive).
std::optional<NameKind> NameKindOfExtension(std::string_view path);

// Base-name length that selects the QVV reader's three-byte header form.
inline constexpr size_t kQvvLongHeaderNameLength = 113;
std::string_view BaseName(std::string_view path);

// The reader threads' entry points: the local start in seconds or -1.
int64_t ParseQvvFileName(const char* name, int64_t* utc_start, int* form, int* channel, int64_t* duration);
int64_t ParseChannelFileName(const char* name, int64_t* utc_start, int* channel);
// The MP4 reader's rule: a base name of at least 112 characters, token 0 the
// start date and time, token 9 the channel number 1 to 12. The local start
// or -1; `channel` (0..11) is -1 when token 9 is not a channel number.
int64_t ParseMp4FileName(const char* name, int64_t* utc_start, int* channel);

// The search pre-filter: the type digits of a short name ("%*[^_]_%1x%1x%1x%1x").
uint32_t ShortNameTypeMask(std::string_view name);

// The 88 two-letter record-type codes, in table order; the mask a code sets.
uint32_t TypeMaskOfCode(std::string_view code);

}  // namespace qvv

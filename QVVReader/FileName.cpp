#include "QVVReader/FileName.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <vector>

#include "QVVReader/Diagnostics.h"

namespace qvv {
namespace {

constexpr const char* kTypeCodes[] = {
    "NM", "TI", "MO", "SP", "GS", "TP", "A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8", "BT", "RD", "AC", "DC",
    "TA", "TG", "IP", "TL", "TR", "CP", "B1", "B2", "B3", "B4", "B5", "B6", "B7", "B8", "FT", "DS", "ND", "SM",
    "CA", "PB", "CR", "SK", "OS", "SC", "RA", "RN", "SE", "GE", "RM", "YW", "AF", "NK", "L2", "OT", "LT", "OR",
    "LR", "OD", "CD", "SA", "P1", "P2", "P3", "P4", "NB", "SG", "CG", "CO", "EF", "AT", "BP", "BC", "PC", "SS",
    "RS", "AS", "RT", "RF", "FS", "CS", "CF", "DE", "HW", "FR", "TN", "NH", "RL", "OC", "PS", "MD"};
static_assert(sizeof kTypeCodes / sizeof kTypeCodes[0] == 88);

// Length limits: largest short length, first medium, first long.
struct Limits {
  size_t short_max;
  size_t medium_min;
  size_t long_min;
};

Limits LimitsFor(NameKind kind, bool without_extension) {
  switch (kind) {
    case NameKind::Qvv: return without_extension ? Limits{23, 51, 109} : Limits{23, 51, 113};
    case NameKind::PerChannel: return without_extension ? Limits{26, 50, 108} : Limits{26, 54, 112};
    case NameKind::Mp4: return {0, 112, 112};
  }
  return {0, 0, 0};
}

// A cursor over the text with the field readers of the recorder's scanf
// patterns: "%Nd" (blanks skipped, optional sign, at most N characters),
// "%Nx", "%llu", "%Ns".
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool Int(int width, int64_t& out) {
    SkipBlanks();
    size_t end = pos_;
    const size_t limit = width > 0 ? std::min(text_.size(), pos_ + static_cast<size_t>(width)) : text_.size();
    bool negative = false;
    if (end < limit && (text_[end] == '-' || text_[end] == '+')) negative = text_[end++] == '-';
    int64_t value = 0;
    const size_t digits_start = end;
    while (end < limit && std::isdigit(static_cast<unsigned char>(text_[end]))) {
      if (value < INT64_MAX / 10) value = value * 10 + (text_[end] - '0');
      ++end;
    }
    if (end == digits_start) return false;
    out = negative ? -value : value;
    pos_ = end;
    return true;
  }

  bool Hex(int width, uint64_t& out) {
    SkipBlanks();
    size_t end = pos_;
    const size_t limit = width > 0 ? std::min(text_.size(), pos_ + static_cast<size_t>(width)) : text_.size();
    if (end + 2 < limit && text_[end] == '0' && (text_[end + 1] == 'x' || text_[end + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text_[end + 2])))
      end += 2;
    uint64_t value = 0;
    const size_t digits_start = end;
    while (end < limit && std::isxdigit(static_cast<unsigned char>(text_[end]))) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[end])));
      value = (value << 4) | static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
      ++end;
    }
    if (end == digits_start) return false;
    out = value;
    pos_ = end;
    return true;
  }

  bool Word(size_t width, std::string& out) {
    SkipBlanks();
    size_t end = pos_;
    while (end < text_.size() && end - pos_ < width && !std::isspace(static_cast<unsigned char>(text_[end]))) ++end;
    if (end == pos_) return false;
    out.assign(text_.substr(pos_, end - pos_));
    pos_ = end;
    return true;
  }

  bool Literal(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  std::string_view text_;
  size_t pos_ = 0;
};

bool ReadDate(Scanner& in, RecordingName& r) {
  int64_t f[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    if (!in.Int(widths[i], f[i])) return false;
  }
  r.year = static_cast<int>(f[0]);
  r.month = static_cast<int>(f[1]);
  r.day = static_cast<int>(f[2]);
  r.hour = static_cast<int>(f[3]);
  r.minute = static_cast<int>(f[4]);
  r.second = static_cast<int>(f[5]);
  return true;
}

void ComputeTimes(RecordingName& r) {
  std::tm tm{};
  tm.tm_year = r.year - 1900;
  tm.tm_mon = r.month - 1;
  tm.tm_mday = r.day;
  tm.tm_hour = r.hour;
  tm.tm_min = r.minute;
  tm.tm_sec = r.second;
  tm.tm_isdst = 0;
  std::tm utc = tm;
  r.utc_start = static_cast<int64_t>(timegm(&utc));
  std::tm local = tm;
  r.local_start = static_cast<int64_t>(std::mktime(&local));
}

// Splits at '_' as strtok does (empty tokens vanish); at most 10 tokens matter.
std::vector<std::string_view> Tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t pos = 0;
  while (pos < text.size() && tokens.size() < 10) {
    const size_t end = std::min(text.find('_', pos), text.size());
    if (end > pos) tokens.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return tokens;
}

int LowestChannelBit(uint64_t mask) {
  for (int bit = 0; bit < 12; ++bit) {
    if (mask & (1ull << bit)) return bit;
  }
  return -1;
}

bool ParseShort(std::string_view base, NameKind kind, RecordingName& r) {
  Scanner in(base);
  if (!ReadDate(in, r)) return false;
  uint64_t digits[4] = {};
  if (in.Literal('_')) {
    for (auto& d : digits) {
      if (!in.Hex(1, d)) break;
    }
  }
  r.type_mask = static_cast<uint32_t>((digits[0] << 24) | (digits[1] << 16) | (digits[2] << 8) | digits[3]);
  if (kind != NameKind::Qvv) {
    int64_t number = 0;
    if (in.Literal('_')) in.Int(2, number);
    r.channel = static_cast<int>(number - 1);
  }
  return true;
}

bool ParseTokenised(std::string_view base, NameKind kind, NameForm form, RecordingName& r) {
  const auto tokens = Tokens(base);
  if (tokens.empty()) return false;
  Scanner date(tokens[0]);
  if (!ReadDate(date, r)) return false;
  const bool is_long = form == NameForm::Long;
  const bool qvv = kind == NameKind::Qvv;
  for (size_t i = 1; i < tokens.size(); ++i) {
    Scanner in(tokens[i]);
    int64_t n = 0;
    switch (i) {
      case 1:
        in.Word(2, r.type_code);
        r.type_mask = TypeMaskOfCode(r.type_code);
        break;
      case 2: {
        if (qvv) {
          uint64_t v = 0;
          int64_t signed_v = 0;
          if (in.Int(0, signed_v)) v = static_cast<uint64_t>(signed_v);
          r.duration = static_cast<int64_t>(is_long ? v / 1000 : v);
        } else if (in.Int(is_long ? 7 : 4, n)) {
          r.duration = is_long ? n / 1000 : n;
        } else {
          r.duration = 0;
        }
        break;
      }
      case 3: in.Int(is_long ? 10 : 4, r.numbers[0]); break;
      case 4: in.Int(4, r.numbers[1]); break;
      case 5: in.Int(4, r.numbers[2]); break;
      case 6: in.Int(2, r.numbers[3]); break;
      case 7: in.Int(8, r.numbers[4]); break;
      case 8: {
        std::string id;
        in.Word(SIZE_MAX, id);
        if (is_long) {
          const size_t first = id.find_first_not_of('0');
          id = first == std::string::npos ? std::string() : id.substr(first, id.find_last_not_of('0') - first + 1);
        }
        r.identifier = id.substr(0, 16);  // the recorder's field holds 16 characters
        break;
      }
      case 9:
        if (qvv) {
          uint64_t mask = 0;
          in.Hex(0, mask);
          r.channel_mask = static_cast<uint32_t>(mask);
          r.channel = LowestChannelBit(mask);
        } else {
          in.Int(2, n);
          r.channel = static_cast<int>(n - 1);
        }
        break;
      default: break;
    }
  }
  if (r.duration < 0) r.duration = 0;  // a tokenised name carries a duration, 0 when missing
  return true;
}

}  // namespace

uint32_t TypeMaskOfCode(std::string_view code) {
  for (size_t i = 0; i < sizeof kTypeCodes / sizeof kTypeCodes[0]; ++i) {
    if (code == kTypeCodes[i]) {
      if (i == 0) return kTypeManual;
      if (i == 1) return kTypeTiming;
      if (i == 2) return kTypeMotion;
      return kTypeAlarm;
    }
  }
  return 0;
}

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<NameKind> NameKindOfExtension(std::string_view path) {
  const std::string_view base = BaseName(path);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string ext(base.substr(dot + 1));
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "qvv") return NameKind::Qvv;
  if (ext == "avi" || ext == "flv") return NameKind::PerChannel;
  if (ext == "mp4") return NameKind::Mp4;
  return std::nullopt;
}

std::optional<RecordingName> ParseRecordingName(std::string_view path, NameKind kind, bool without_extension) {
  const std::string_view base = BaseName(path);
  const Limits limits = LimitsFor(kind, without_extension);
  const size_t length = base.size();
  RecordingName r;
  if (length <= limits.short_max && kind != NameKind::Mp4) {  // MP4 names have no short form
    r.form = NameForm::Short;
  } else if (length >= limits.long_min) {
    r.form = NameForm::Long;
  } else if (length >= limits.medium_min) {
    r.form = NameForm::Medium;
  } else {
    Diagnostic("File name length is invalid [%.*s] \n", static_cast<int>(base.size()), base.data());
    return std::nullopt;
  }
  const bool parsed = r.form == NameForm::Short ? ParseShort(base, kind, r) : ParseTokenised(base, kind, r.form, r);
  if (!parsed) {
    // Without a start date the file is not a recording.
    Diagnostic("File name has no start time [%.*s] \n", static_cast<int>(base.size()), base.data());
    return std::nullopt;
  }
  ComputeTimes(r);
  return r;
}

int64_t ParseQvvFileName(const char* name, int64_t* utc_start, int* form, int* channel, int64_t* duration) {
  if (!name) {
    Diagnostic("File name is NULL\n");
    return -1;
  }
  const auto r = ParseRecordingName(name, NameKind::Qvv);
  if (!r) return -1;
  if (utc_start) *utc_start = r->utc_start;
  if (form) *form = r->form == NameForm::Short ? 4 : 8;
  if (channel) *channel = r->channel < 0 ? 0 : r->channel;
  if (duration) *duration = r->duration;
  return r->local_start;
}

int64_t ParseChannelFileName(const char* name, int64_t* utc_start, int* channel) {
  if (!name) {
    Diagnostic("File name is NULL\n");
    return -1;
  }
  const auto kind = NameKindOfExtension(name).value_or(NameKind::PerChannel);
  const auto r = ParseRecordingName(name, kind == NameKind::Qvv ? NameKind::PerChannel : kind);
  if (!r) return -1;
  if (utc_start) *utc_start = r->utc_start;
  if (channel) *channel = r->channel;
  return r->local_start;
}

int64_t ParseMp4FileName(const char* name, int64_t* utc_start, int* channel) {
  if (channel) *channel = -1;
  if (!name) {
    Diagnostic("File name is NULL\n");
    return -1;
  }
  const auto r = ParseRecordingName(name, NameKind::Mp4);
  if (!r) return -1;
  if (utc_start) *utc_start = r->utc_start;
  // Twelve panes: any other number would place the file outside them.
  if (r->channel < 0 || r->channel > 11) {
    const std::string_view base = BaseName(name);
    Diagnostic("File name channel is invalid [%.*s] \n", static_cast<int>(base.size()), base.data());
  } else if (channel) {
    *channel = r->channel;
  }
  return r->local_start;
}

uint32_t ShortNameTypeMask(std::string_view name) {
  const size_t underscore = name.find('_');
  if (underscore == std::string_view::npos || underscore == 0) return 0;
  Scanner in(name.substr(underscore + 1));
  uint64_t digits[4] = {};
  for (auto& d : digits) {
    if (!in.Hex(1, d)) break;
  }
  return static_cast<uint32_t>((digits[0] << 24) | (digits[1] << 16) | (digits[2] << 8) | digits[3]);
}

}  // namespace qvv

#include "app/RecordingRow.h"

#include <QStringList>
#include <ctime>

namespace app {
namespace {

std::tm Utc(int64_t seconds) {
  std::tm tm{};
  const time_t t = static_cast<time_t>(seconds);
  gmtime_r(&t, &tm);
  return tm;
}

}  // namespace

QString DateText(int64_t start) {
  const std::tm tm = Utc(start);
  return QString::asprintf("%4d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

QString TimeText(int64_t start) {
  const std::tm tm = Utc(start);
  return QString::asprintf("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

QString DurationText(int64_t seconds) {
  if (seconds <= 0) return "--:--:--";
  return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                           static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}

int RecordingRow::first_channel() const {
  if (file_type != 0) return static_cast<int>(channel);
  for (int c = 0; c < kRowChannels; ++c)
    if (channel & (1u << c)) return c;
  return 0;
}

QString ChannelText(const RecordingRow& row) {
  if (row.file_type != 0) return QString::asprintf("CH%02u", row.channel + 1);
  QList<int> channels;
  for (int c = 0; c < kRowChannels; ++c)
    if (row.channel & (1u << c)) channels << c + 1;
  if (channels.isEmpty()) return "--";
  if (channels.size() == 1) return QString::asprintf("CH%02d", channels.front());
  if (channels.back() - channels.front() + 1 == channels.size())
    return QString::asprintf("CH%02d-%02d", channels.front(), channels.back());
  QStringList texts;
  for (int c : channels) texts << QString::number(c);
  return texts.join(',');
}

int TypeIconIndex(uint32_t mask) {
  return (mask > 0xFFFFFF ? 8 : 0) | ((mask & 0x00FF0000) ? 4 : 0) | ((mask & 0x0000FF00) ? 2 : 0) |
         ((mask & 0x000000FF) ? 1 : 0);
}

}  // namespace app

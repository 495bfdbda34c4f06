// Recording file names in every form: start time, record types, channels, and the 88 codes.
#include "QVVReader/FileName.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace qvv;

class FileName : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Asia/Shanghai", 1);  // local time differs from UTC by 8 hours
    tzset();
  }
};

constexpr int64_t kUtc20240102030405 = 1704164645;

TEST_F(FileName, ShortQvvName) {
  const auto r = ParseRecordingName("/media/sd/20240102030405_1000.qvv", NameKind::Qvv);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->form, NameForm::Short);
  EXPECT_EQ(r->type_mask, 0x01000000u) << "manual, from the digit's value";
  EXPECT_EQ(r->utc_start, kUtc20240102030405);
  EXPECT_EQ(r->local_start, kUtc20240102030405 - 8 * 3600);
  EXPECT_EQ(r->duration, -1);
  int64_t utc = 0, duration = 0;
  int form = 0, channel = -5;
  EXPECT_EQ(ParseQvvFileName("C:\\rec\\20240102030405_1000.qvv", &utc, &form, &channel, &duration),
            kUtc20240102030405 - 8 * 3600);
  EXPECT_EQ(form, 4);
  EXPECT_EQ(duration, -1);
}

TEST_F(FileName, ShortPerChannelName) {
  const auto r = ParseRecordingName("20240102030405_0001_03.avi", NameKind::PerChannel);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->channel, 2);
  EXPECT_EQ(r->type_mask, 0x00000001u);
  int channel = -1;
  int64_t utc = 0;
  EXPECT_GT(ParseChannelFileName("20240102030405_00A1_12.flv", &utc, &channel), 0);
  EXPECT_EQ(channel, 11);
  EXPECT_EQ(ShortNameTypeMask("20240102030405_00A1_12.flv"), 0x00000A01u);
}

TEST_F(FileName, LengthLimitsPickTheForm) {
  testing::internal::CaptureStdout();
  // QVV: 24..50 characters are invalid.
  EXPECT_FALSE(ParseRecordingName(std::string(20, '1') + "_1000.qvv", NameKind::Qvv));  // 29
  EXPECT_FALSE(ParseRecordingName("20240102030405_1000_x.qvv", NameKind::Qvv));         // 25
  // One file per channel: 27..53 invalid.
  EXPECT_FALSE(ParseRecordingName("20240102030405_0001_03_x.avi", NameKind::PerChannel));
  // MP4 needs the long form.
  EXPECT_FALSE(ParseRecordingName("20240102030405_0001_03.mp4", NameKind::Mp4));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("File name length is invalid [20240102030405_1000_x.qvv] \n"), std::string::npos) << out;
  // A short-length name without a date is not a recording.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ParseRecordingName("readme.qvv", NameKind::Qvv));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ParseQvvFileName(nullptr, nullptr, nullptr, nullptr, nullptr), -1);
}

TEST_F(FileName, LongAndMediumForms) {
  // Pad the identifier so that the name reaches 112 characters.
  std::string id = "000ABC1200";
  std::string name = "20240102030405_MO_0123456_0000000042_0001_0002_03_00000004_" + id + "_05.avi";
  name.insert(name.find(id), std::string(112 - name.size(), '0'));
  ASSERT_EQ(name.size(), 112u);
  auto r = ParseRecordingName(name, NameKind::PerChannel);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->form, NameForm::Long);
  EXPECT_EQ(r->type_mask, kTypeMotion);
  EXPECT_EQ(r->type_code, "MO");
  EXPECT_EQ(r->duration, 123) << "milliseconds, truncated to seconds";
  EXPECT_EQ(r->numbers[0], 42);
  EXPECT_EQ(r->numbers[3], 3);
  EXPECT_EQ(r->numbers[4], 4);
  EXPECT_EQ(r->identifier, "ABC12") << "zeros trimmed on both sides";
  EXPECT_EQ(r->channel, 4);
  EXPECT_EQ(r->utc_start, kUtc20240102030405);

  // Unknown code: mask 0. Alarm codes set the alarm byte.
  name.replace(15, 2, "XX");
  EXPECT_EQ(ParseRecordingName(name, NameKind::PerChannel)->type_mask, 0u);
  name.replace(15, 2, "GS");
  EXPECT_EQ(ParseRecordingName(name, NameKind::PerChannel)->type_mask, kTypeAlarm);
  name.replace(15, 2, "TI");
  EXPECT_EQ(ParseRecordingName(name, NameKind::PerChannel)->type_mask, kTypeTiming);

  // Medium: the duration in seconds as it stands, identifier untrimmed but bounded.
  const std::string medium = "20240102030405_NM_0060_0001_0002_0003_04_00000005_00ID00_02.flv";
  ASSERT_GE(medium.size(), 54u);
  r = ParseRecordingName(medium, NameKind::PerChannel);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->form, NameForm::Medium);
  EXPECT_EQ(r->duration, 60);
  EXPECT_EQ(r->identifier, "00ID00");
  EXPECT_EQ(r->channel, 1);
  EXPECT_EQ(r->type_mask, kTypeManual);
}

TEST_F(FileName, QvvTokenisedChannelMask) {
  std::string name = "20240102030405_NM_60000_0000000001_0001_0002_03_00000004_ID_a.qvv";
  name.insert(name.find("ID_"), std::string(113 - name.size(), '0'));
  ASSERT_EQ(name.size(), 113u);
  auto r = ParseRecordingName(name, NameKind::Qvv);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->form, NameForm::Long);
  EXPECT_EQ(r->channel_mask, 0xAu);
  EXPECT_EQ(r->channel, 1) << "lowest set bit of 1010";
  EXPECT_EQ(r->duration, 60);
  int channel = -1, form = 0;
  int64_t duration = 0;
  ParseQvvFileName(name.c_str(), nullptr, &form, &channel, &duration);
  EXPECT_EQ(form, 8);
  EXPECT_EQ(channel, 1);
  // Medium QVV: the duration is not divided.
  const std::string medium = "20240102030405_TI_75_0001_0002_0003_04_00000005_IDENT_ff.qvv";
  ASSERT_GE(medium.size(), 51u);
  r = ParseRecordingName(medium, NameKind::Qvv);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->duration, 75);
  EXPECT_EQ(r->channel, 0);
}

TEST_F(FileName, TheFileListParsesNamesWithoutExtension) {
  // QVV: 47 characters without extension are invalid for the list (24..50), and
  // the same name with ".qvv" (51) is a medium file name.
  const std::string name = "20240102030405_TI_75_0001_0002_0003_04_000005_f";
  ASSERT_EQ(name.size(), 47u);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ParseRecordingName(name, NameKind::Qvv, true));
  testing::internal::GetCapturedStdout();
  const auto r = ParseRecordingName(name + ".qvv", NameKind::Qvv);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->form, NameForm::Medium);
  const auto listed = ParseRecordingName(name + "___0", NameKind::Qvv, true);  // 51: medium for the list
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->form, NameForm::Medium);
}

TEST_F(FileName, Mp4NamesAreLongWithAChannelFromOneToTwelve) {
  std::string name = "20240102030405_NM_0060000_0000000001_0001_0002_03_00000004_ID_07.mp4";
  name.insert(name.find("ID_"), std::string(112 - name.size(), '0'));
  ASSERT_EQ(name.size(), 112u);
  int64_t utc = 0;
  int channel = -5;
  EXPECT_EQ(ParseMp4FileName(("/sd/" + name).c_str(), &utc, &channel), kUtc20240102030405 - 8 * 3600);
  EXPECT_EQ(utc, kUtc20240102030405);
  EXPECT_EQ(channel, 6);

  // One character short: refused with the recorder's message on stdout.
  const std::string short_name = name.substr(1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseMp4FileName(short_name.c_str(), &utc, &channel), -1);
  EXPECT_EQ(channel, -1);
  EXPECT_EQ(ParseMp4FileName("", &utc, &channel), -1);
  EXPECT_EQ(ParseMp4FileName(nullptr, &utc, &channel), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "File name length is invalid [" + short_name + "] \nFile name length is invalid [] \nFile name is NULL\n");

  // Channel numbers outside 1 to 12 place the file in no pane; the start still holds.
  for (const char* number : {"00", "13", "99"}) {
    name.replace(name.size() - 6, 2, number);
    channel = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(ParseMp4FileName(name.c_str(), &utc, &channel), kUtc20240102030405 - 8 * 3600) << number;
    EXPECT_EQ(channel, -1) << number;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "File name channel is invalid [" + name + "] \n");
  }
  name.replace(name.size() - 6, 2, "12");
  ParseMp4FileName(name.c_str(), &utc, &channel);
  EXPECT_EQ(channel, 11);
}

TEST_F(FileName, AllEightyEightCodes) {
  EXPECT_EQ(TypeMaskOfCode("NM"), kTypeManual);
  EXPECT_EQ(TypeMaskOfCode("MD"), kTypeAlarm);
  EXPECT_EQ(TypeMaskOfCode("L2"), kTypeAlarm);
  EXPECT_EQ(TypeMaskOfCode("nm"), 0u);
  EXPECT_EQ(TypeMaskOfCode(""), 0u);
}

}  // namespace

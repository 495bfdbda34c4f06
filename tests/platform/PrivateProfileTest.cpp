// INI files with Windows rules in every encoding, writes that keep the file whole, and the first-start settings.
#include "platform/PrivateProfile.h"

#include <gtest/gtest.h>

#include "app/AppConfig.h"
#include "tests/support/TempDir.h"

namespace {

using platform::GetPrivateProfileInt;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileInt;
using platform::WritePrivateProfileString;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Utf16LeWithBom(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// The same hand-written content, read in each encoding the program meets.
class ProfileEncodings : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::u16string text =
        u"; comment line\r\n"
        u"[Lumivex]\r\n"
        u"  MirrorCh1 = 3  \r\n"
        u"FolderName=/media/\u8f66\u8f7d/rec\r\n"
        u"Query=a=b=c\r\n"
        u"Quoted=\"  padded  \"\r\n"
        u"Hex=0x1F\r\n"
        u"Neg=-12abc\r\n"
        u"Word=abc\r\n"
        u"Empty=\r\n"
        u"\r\n"
        u"[screenconfig]\r\n"
        u"ScreenNum=4\r\n";
    const std::string kind = GetParam();
    if (kind == "utf16") {
      WriteFileBytes(file(), Utf16LeWithBom(text));
    } else {
      std::string utf8 = platform_text(text);
      if (kind == "utf8bom") utf8 = "\xEF\xBB\xBF" + utf8;
      WriteFileBytes(file(), utf8);
    }
  }
  static std::string platform_text(const std::u16string& t);
  std::filesystem::path file() const { return dir_ / "setting.ini"; }
  TempDir dir_;
};

std::string ProfileEncodings::platform_text(const std::u16string& t) {
  std::string out;
  for (char16_t c : t) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {  // all non-ASCII test text is in the BMP above U+0800
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

TEST_P(ProfileEncodings, ReadsValuesWithWindowsRules) {
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "MirrorCh1", 9, file()), 3);
  EXPECT_EQ(GetPrivateProfileInt("LUMIVEX", "mirrorch1", 9, file()), 3) << "case-insensitive";
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "FolderName", "", file()), "/media/\xE8\xBD\xA6\xE8\xBD\xBD/rec");
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "Query", "", file()), "a=b=c");
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "Quoted", "", file()), "  padded  ");
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "Hex", 0, file()), 31);
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "Neg", 0, file()), -12);
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "Word", 7, file()), 0) << "present but not a number";
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "Empty", 7, file()), 7);
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "Empty", "dflt", file()), "");
  EXPECT_EQ(GetPrivateProfileInt("ScreenConfig", "ScreenNum", 8, file()), 4);
  // Missing key, missing section, missing file: the default.
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "MirrorCh2", 5, file()), 5);
  EXPECT_EQ(GetPrivateProfileString("WaveConfig", "Speed", "none", file()), "none");
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "MirrorCh1", 8, dir_ / "absent.ini"), 8);
  // A comment is not a key.
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "; comment line", "d", file()), "d");
}

TEST_P(ProfileEncodings, WritesKeepEncodingAndOtherLines) {
  const std::string before = ReadFileBytes(file());
  ASSERT_TRUE(WritePrivateProfileInt("lumivex", "mirrorch1", 5, file()));       // replace
  ASSERT_TRUE(WritePrivateProfileString("Lumivex", "RecPath", "/rec", file()));  // add to section
  ASSERT_TRUE(WritePrivateProfileString("WaveConfig", "Speed", "1", file()));    // new section
  EXPECT_EQ(GetPrivateProfileInt("Lumivex", "MirrorCh1", 0, file()), 5);
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "RecPath", "", file()), "/rec");
  EXPECT_EQ(GetPrivateProfileString("WaveConfig", "speed", "", file()), "1");
  EXPECT_EQ(GetPrivateProfileString("Lumivex", "Query", "", file()), "a=b=c");
  EXPECT_EQ(GetPrivateProfileInt("ScreenConfig", "ScreenNum", 8, file()), 4);

  const std::string after = ReadFileBytes(file());
  EXPECT_EQ(after.substr(0, 2), before.substr(0, 2)) << "byte-order mark kept";
  if (std::string(GetParam()) == "utf16") {
    // Still UTF-16LE: every ASCII character followed by a zero byte.
    EXPECT_NE(after.find(std::string("R\0e\0c\0P\0a\0t\0h\0", 14)), std::string::npos);
    EXPECT_NE(after.find(std::string("M\0i\0r\0r\0o\0r\0C\0h\0" "1\0=\0" "5\0", 22)), std::string::npos)
        << "key keeps the file's spelling";
  } else {
    EXPECT_NE(after.find("MirrorCh1=5\r\n"), std::string::npos);
    // The new key goes after the section's last key, before the blank line.
    EXPECT_NE(after.find("Empty=\r\nRecPath=/rec\r\n\r\n[screenconfig]"), std::string::npos) << after;
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ProfileEncodings, ::testing::Values("utf8", "utf8bom", "utf16"));

TEST(PrivateProfile, DeletesKeysAndSectionsAndCreatesFiles) {
  TempDir dir;
  const auto file = dir / "new.ini";
  ASSERT_TRUE(WritePrivateProfileString("A", "x", "1", file));
  ASSERT_TRUE(WritePrivateProfileString("B", "y", "2", file));
  EXPECT_EQ(ReadFileBytes(file), "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  ASSERT_TRUE(WritePrivateProfileString("A", "x", std::nullopt, file));
  EXPECT_EQ(GetPrivateProfileString("A", "x", "gone", file), "gone");
  ASSERT_TRUE(WritePrivateProfileString("b", std::nullopt, std::nullopt, file));
  EXPECT_EQ(GetPrivateProfileString("B", "y", "gone", file), "gone");
  EXPECT_EQ(ReadFileBytes(file), "[A]\r\n\r\n");
}

TEST(PrivateProfile, RefusesLineBreaksAndKeepsTheFile) {
  TempDir dir;
  const auto file = dir / "s.ini";
  ASSERT_TRUE(WritePrivateProfileString("Lumivex", "FolderName", "/a", file));
  const std::string before = ReadFileBytes(file);
  EXPECT_FALSE(WritePrivateProfileString("Lumivex", "FolderName", "/a\r\n[Setting]\r\nLanguage=X", file));
  EXPECT_FALSE(WritePrivateProfileString("Lumivex", "Bad=Key", "1", file));
  EXPECT_EQ(ReadFileBytes(file), before);
}

TEST(PrivateProfile, UnwritablePlaceFailsWithoutLeftovers) {
  // The "folder" is a regular file: nothing can be created inside, even by root.
  TempDir dir;
  WriteFileBytes(dir / "not-a-folder", "x");
  EXPECT_FALSE(WritePrivateProfileString("A", "k", "v", dir / "not-a-folder" / "s.ini"));
  EXPECT_EQ(GetPrivateProfileInt("A", "k", 7, dir / "not-a-folder" / "s.ini"), 7);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file left behind";
}

TEST(PrivateProfile, BufferSizeCutsLikeAFixedBuffer) {
  TempDir dir;
  const auto file = dir / "s.ini";
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "abcdef", file));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", file, 4), "abc");
  // Never splits a UTF-8 sequence: "é" is two bytes.
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "a\xC3\xA9", file));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", file, 3), "a");
  // Defaults are cut the same way.
  EXPECT_EQ(GetPrivateProfileString("S", "none", "English", file, 4), "Eng");
}

TEST(AppConfig, FirstStartWritesTheTwoDefaultLinesOnly) {
  TempDir dir;
  app::AppConfig config(dir / app::AppConfig::kFileName);
  ASSERT_TRUE(config.EnsureExists());
  EXPECT_EQ(ReadFileBytes(config.Path()), "[Setting]\r\nLanguage=English\r\n");
  EXPECT_EQ(config.ReadInt("ScreenConfig", "ScreenNum", 8), 8);
  ASSERT_TRUE(config.WriteInt("Lumivex", "MapType", 1));
  ASSERT_TRUE(config.EnsureExists());  // an existing file is left alone
  EXPECT_EQ(config.ReadInt("Lumivex", "MapType", 2), 1);
  EXPECT_EQ(config.ReadString("Setting", "Language", ""), "English");
}

}  // namespace

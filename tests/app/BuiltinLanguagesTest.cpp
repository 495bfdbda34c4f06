// The built-in language files: the English texts that other language files are
// written against, the dialog keys the windows look up, and the rules every
// value must keep to survive the trip through a UTF-16 INI file.
#include "app/BuiltinLanguages.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using app::BuiltinLanguage;
using app::BuiltinLanguages;
using app::LanguageText;

const BuiltinLanguage& Language(std::string_view file_name) {
  for (const BuiltinLanguage& language : BuiltinLanguages()) {
    if (language.file_name == file_name) return language;
  }
  ADD_FAILURE() << "no built-in file " << file_name;
  return BuiltinLanguages().front();
}

std::map<std::string, std::string> AsMap(const BuiltinLanguage& language) {
  std::map<std::string, std::string> texts;
  for (const LanguageText& text : language.strings) texts.emplace(text.key, text.value);
  return texts;
}

std::set<std::string> Keys(const BuiltinLanguage& language) {
  std::set<std::string> keys;
  for (const LanguageText& text : language.strings) keys.emplace(text.key);
  return keys;
}

// "IDD216_1039" -> (216, "1039"); "IDD102_Title" -> (102, "Title"); anything else -> nothing.
std::optional<std::pair<int, std::string>> DialogKey(std::string_view key) {
  if (key.substr(0, 3) != "IDD") return std::nullopt;
  const size_t underscore = key.find('_');
  if (underscore == std::string_view::npos || underscore == 3) return std::nullopt;
  int dialog = 0;
  for (char c : key.substr(3, underscore - 3)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    dialog = dialog * 10 + (c - '0');
  }
  return std::make_pair(dialog, std::string(key.substr(underscore + 1)));
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// Returns the number of UTF-16 code units the text becomes, or nothing.
std::optional<size_t> Utf16Length(std::string_view text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t code = 0;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000)) return std::nullopt;
    if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return std::nullopt;
    units += code >= 0x10000 ? 2 : 1;
    i += length;
  }
  return units;
}

size_t Count(std::string_view text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// The printf conversions of a text, in order ("%d", "%02d", "%s" ...).
std::vector<std::string> FormatSpecifiers(std::string_view text) {
  std::vector<std::string> specifiers;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    size_t end = i + 1;
    constexpr std::string_view kFlagsWidthLength = "-+ #0123456789.*lhz";
    while (end < text.size() && kFlagsWidthLength.find(text[end]) != std::string_view::npos) ++end;
    if (end < text.size()) specifiers.emplace_back(text.substr(i, end - i + 1));
    i = end;
  }
  return specifiers;
}

TEST(BuiltinLanguages, FourFilesInWritingOrder) {
  const auto languages = BuiltinLanguages();
  ASSERT_EQ(languages.size(), 4u);
  const std::pair<std::string_view, std::string_view> expected[] = {
      {"language_eng.ini", "English"},
      {"language_ch.ini", "Chinese"},
      {"language_jp.ini", "Japanese"},
      {"language_ru.ini", "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9"},  // Русский
  };
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(languages[i].file_name, expected[i].first);
    EXPECT_EQ(languages[i].language_name, expected[i].second);
    EXPECT_FALSE(languages[i].strings.empty()) << languages[i].file_name;
  }
}

// Language files made for earlier releases use exactly these keys; the English
// texts are kept as they always shipped, misspellings included.
TEST(BuiltinLanguages, EnglishCodeTextsAreTheShippedOnes) {
  const std::map<std::string, std::string> expected = {
      {"IDS_TIPS_CLOSE", "Close"},
      {"IDS_TIPS_SeleteDirectory_rec", "Please select path of video file"},
      {"IDS_TIPS_SeleteDirectory_pic", "Please select output directoy of photos"},
      {"IDS_TIPS_PathFileExists", "File no Exists or removed"},
      {"IDS_TIPS_VIDEOSPEED", "play speed"},
      {"IDS_TIPS_SOUNDBUTTON", "Volume Control"},
      {"IDS_TIPS_BUTTONSTOP", "stop"},
      {"IDS_TIPS_BUTTONPUSH", "Backward/Pause"},
      {"IDS_TIPS_BUTTONPLAY", "play/Pause"},
      {"IDS_TIPS_BUTTONSTEP", "step"},
      {"IDS_TIPS_BUTTONSSECOND", "second play"},
      {"IDS_TIPS_BUTTONSINGLEWIN", "single window"},
      {"IDS_TIPS_BUTTONFOURWIN", "four windows"},
      {"IDS_TIPS_BUTTONEIGHTWIN", "eight windows"},
      {"IDS_TIPS_BUTTONNINEWIN", "nine windows"},
      {"IDS_TIPS_BUTTONTWELVEWIN", "twelve windows"},
      {"IDS_TIPS_BUTTONFULLSCREEN", "full screen"},
      {"IDS_TIPS_BUTTONSNAPSHOT", "snapshot"},
      {"IDS_TIPS_BUTTONSETTING", "setting"},
      {"IDS_TIPS_BUTTONOPENFOLDER", "open video folder"},
      {"IDS_TIPS_BUTTONLASTPAGE", "last page"},
      {"IDS_TIPS_BUTTONNEXTPAGE", "next page"},
      {"IDS_TIPS_NeedMoreCutPiot", "Need more cut point"},
      {"IDS_TIPS_NoBackupFile", "No file in list"},
      {"IDS_LIST_DATA", "Data"},
      {"IDS_LIST_TIME", "Time"},
      {"IDS_LIST_DURATION", "Duration"},
      {"IDS_LIST_CHANNEL", "Channel"},
      {"IDS_LIST_STATUS", "RecType"},
      {"IDS_LIST_PATH", "Path"},
      {"IDS_LIST_RECMANUAL", "Manual"},
      {"IDS_LIST_RECTIME", "timing"},
      {"IDS_LIST_RECMOV", "Move"},
      {"IDS_LIST_RECALARM", "Alarm"},
      {"IDS_BUTTON_STARTREC", "StartRec"},
      {"IDS_BUTTON_STOPREC", "StopRec"},
      {"IDS_RecTpyeSearch_All", "All"},
      {"IDS_AUDIO_NOT_USED", "Audio can not be used"},
  };
  ASSERT_EQ(expected.size(), 38u);
  std::map<std::string, std::string> actual;
  for (const LanguageText& text : Language("language_eng.ini").strings) {
    if (text.key.substr(0, 4) == "IDS_") actual.emplace(text.key, text.value);
  }
  EXPECT_EQ(actual, expected);
}

TEST(BuiltinLanguages, EnglishDialogKeysPerDialog) {
  const std::map<int, int> expected = {{100, 4},  {102, 6},  {129, 1},  {176, 7},  {206, 3}, {211, 10},
                                       {216, 35}, {235, 32}, {247, 2},  {270, 10}, {290, 1}};
  std::map<int, int> actual;
  for (const LanguageText& text : Language("language_eng.ini").strings) {
    if (const auto dialog = DialogKey(text.key)) ++actual[dialog->first];
  }
  EXPECT_EQ(actual, expected);

  const auto english = AsMap(Language("language_eng.ini"));
  EXPECT_EQ(english.count("IDD176_1066"), 1u);
  EXPECT_EQ(english.count("IDD176_1067"), 1u);
  EXPECT_EQ(english.count("IDD235_1100"), 1u);
  EXPECT_EQ(english.count("IDD176_Title"), 0u) << "the waveform panel is a child window without a caption";
}

// The labels the windows are built around; widget code finds its controls by
// these identifiers, so a renumbered control would silently lose its text.
TEST(BuiltinLanguages, EnglishDialogTextsTheWindowsRelyOn) {
  const auto english = AsMap(Language("language_eng.ini"));
  const std::map<std::string, std::string> expected = {
      {"IDD102_Title", "HD Video PlayBack System"},
      {"IDD102_1018", "OpenFile"},
      {"IDD102_1020", "Language"},
      {"IDD102_1021", "Help"},
      {"IDD102_1022", "Map"},
      {"IDD102_1062", "Video"},
      {"IDD129_1059", "Clear line"},
      {"IDD290_1059", "Clear line"},
      {"IDD176_1101", "G-sensor"},
      {"IDD176_1102", "Calendar"},
      {"IDD176_1103", "SetCutPoit"},
      {"IDD176_1104", "DelCutPoit"},
      {"IDD176_1105", "CutVideo"},
      {"IDD211_1031", "Search"},
      {"IDD211_1032", "Back up"},
      {"IDD211_1039", "Manual"},
      {"IDD211_1040", "Timing"},
      {"IDD211_1041", "Motion"},
      {"IDD211_1042", "Alarm"},
      {"IDD216_1", "OK"},
      {"IDD216_2", "Cancel"},
      {"IDD216_1039", "Open map offset"},
      {"IDD216_1040", "Enable map track playback"},
      {"IDD216_1176", "DirectDraw"},
      {"IDD216_1177", "GDI"},
      {"IDD216_1178", "Google Map"},
      {"IDD216_1179", "Baidu Map"},
      {"IDD216_1180", "OSMap"},
      {"IDD216_1181", "Bing Map"},
      {"IDD235_Title", "Property"},
      {"IDD235_1059", "OK"},
      {"IDD247_Title", "Back up"},
      {"IDD247_1122", "Cancel"},
      {"IDD270_1059", "OK"},
  };
  for (const auto& [key, text] : expected) {
    const auto found = english.find(key);
    ASSERT_NE(found, english.end()) << key;
    EXPECT_EQ(found->second, text) << key;
  }
}

// A label must not take the identifier of a control whose text the program
// sets itself: applying the captions would write the label into it. The
// channel 4 frame-rate field of the group dialog is the one such key the
// English file has always carried.
TEST(BuiltinLanguages, LabelsAvoidTheFieldsTheProgramFills) {
  const std::map<int, std::set<std::string>> filled = {
      {216, {"1050", "1052", "1053", "1055", "1182", "1183", "1184", "1185", "1186", "1187", "1188", "1189", "1190",
             "1191", "1192", "1193"}},
      {235, {"1066", "1068", "1070", "1072", "1074", "1078", "1080", "1082", "1084", "1086", "1088", "1090",
             "1092", "1094", "1096", "1098", "1100", "1153", "1155", "1157", "1159", "1161", "1163", "1165",
             "1167", "1169", "1171", "1173", "1175"}},
      {270, {"1066", "1068", "1070", "1072", "1074", "1078", "1080", "1082"}},
      {211, {"1035", "1036", "1045", "1123", "1124"}},
      {247, {"1121"}},
  };
  for (const BuiltinLanguage& language : BuiltinLanguages()) {
    for (const LanguageText& text : language.strings) {
      const auto dialog = DialogKey(text.key);
      if (!dialog) continue;
      const auto fields = filled.find(dialog->first);
      if (fields == filled.end() || text.key == "IDD235_1100") continue;
      EXPECT_EQ(fields->second.count(dialog->second), 0u) << language.file_name << " " << text.key;
    }
  }
}

TEST(BuiltinLanguages, KeysAreWellFormedAndUnique) {
  const std::set<int> dialogs = {100, 102, 129, 176, 206, 211, 216, 235, 247, 270, 290};
  for (const BuiltinLanguage& language : BuiltinLanguages()) {
    std::set<std::string> seen;
    for (const LanguageText& text : language.strings) {
      // Keys are looked up without regard to case, so "Title" and "TITLE" would collide.
      std::string folded(text.key);
      for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_TRUE(seen.insert(folded).second) << language.file_name << ": duplicate key " << text.key;

      if (text.key.substr(0, 4) == "IDS_") continue;
      const auto dialog = DialogKey(text.key);
      ASSERT_TRUE(dialog) << language.file_name << ": " << text.key;
      EXPECT_EQ(dialogs.count(dialog->first), 1u) << language.file_name << ": " << text.key;
      if (dialog->second == "Title") continue;
      ASSERT_FALSE(dialog->second.empty()) << text.key;
      ASSERT_LE(dialog->second.size(), 4u) << text.key;
      for (char c : dialog->second) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << text.key;
      EXPECT_NE(dialog->second[0], '0') << text.key;
      EXPECT_LE(std::stoi(dialog->second), 1199) << text.key;
    }
  }
}

TEST(BuiltinLanguages, TranslationsCarryTheEnglishKeys) {
  const std::set<std::string> english = Keys(Language("language_eng.ini"));
  EXPECT_EQ(Keys(Language("language_ru.ini")), english);

  // The Chinese and Japanese files have always lacked three dialog keys and
  // named the snapshot-folder prompt without its suffix.
  std::set<std::string> east_asian = english;
  for (const char* missing : {"IDD176_1066", "IDD176_1067", "IDD235_1100", "IDS_TIPS_SeleteDirectory_pic"}) {
    ASSERT_EQ(east_asian.erase(missing), 1u) << missing;
  }
  east_asian.insert("IDS_TIPS_SeleteDirectory");
  EXPECT_EQ(Keys(Language("language_ch.ini")), east_asian);
  EXPECT_EQ(Keys(Language("language_jp.ini")), east_asian);
}

TEST(BuiltinLanguages, TranslationsKeepLineBreaksAndFormatsAndTranslateCodeTexts) {
  const auto english = AsMap(Language("language_eng.ini"));
  for (const BuiltinLanguage& language : BuiltinLanguages()) {
    if (language.file_name == "language_eng.ini") continue;
    for (const LanguageText& text : language.strings) {
      const std::string english_key =
          text.key == "IDS_TIPS_SeleteDirectory" ? "IDS_TIPS_SeleteDirectory_pic" : std::string(text.key);
      const auto original = english.find(english_key);
      ASSERT_NE(original, english.end()) << language.file_name << " " << text.key;
      EXPECT_EQ(Count(text.value, "\\n"), Count(original->second, "\\n")) << language.file_name << " " << text.key;
      EXPECT_EQ(FormatSpecifiers(text.value), FormatSpecifiers(original->second))
          << language.file_name << " " << text.key;
      if (text.key.substr(0, 4) == "IDS_") {
        EXPECT_NE(text.value, original->second) << language.file_name << ": untranslated " << text.key;
      }
    }
  }
}

// Every value goes into a UTF-16 INI line and is read back with a buffer of
// 1000 characters, surrounding spaces trimmed and one pair of quotes removed.
TEST(BuiltinLanguages, ValuesSurviveTheFileFormat) {
  for (const BuiltinLanguage& language : BuiltinLanguages()) {
    for (const LanguageText& text : language.strings) {
      const std::string where = std::string(language.file_name) + " " + std::string(text.key);
      const auto units = Utf16Length(text.value);
      ASSERT_TRUE(units) << where << ": not UTF-8";
      EXPECT_GT(*units, 0u) << where;
      EXPECT_LE(*units, 1000u) << where;
      EXPECT_EQ(text.value.find_first_of(std::string_view("\r\n\0", 3)), std::string_view::npos)
          << where << ": a line break must be written as backslash and n";
      ASSERT_FALSE(text.value.empty()) << where;
      EXPECT_FALSE(std::isspace(static_cast<unsigned char>(text.value.front())) ||
                   std::isspace(static_cast<unsigned char>(text.value.back())))
          << where << ": surrounding spaces would be trimmed";
      EXPECT_FALSE(text.value.size() >= 2 && text.value.front() == '"' && text.value.back() == '"') << where;
    }
    for (std::string_view name : {language.file_name, language.language_name}) {
      EXPECT_TRUE(Utf16Length(name)) << name;
    }
  }
}

}  // namespace

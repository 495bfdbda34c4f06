// dravik-tool backup on sample recordings: everything a folder tree holds
// copied byte for byte into a folder it makes, a second run that skips every
// file, the search criteria choosing which recordings go, and a failure's
// exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::RunShell;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const std::string kTool = DRAVIK_TOOL;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A folder of recordings: four short-named ".qvv" groups a second apart of
// every record type (manual, timing, motion, alarm) on 2024-03-15 from
// 08:00:00, and below it a day folder with two long-named ".avi" recordings
// (manual, timing) on 2024-03-16 from 09:00:00 whose names carry the plates
// DRAVIK1 and DRAVIK2; and two files that are no recordings.
class BackupTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir;
    const std::string root = (folder_->path() / "records").string();
    std::string out;
    ASSERT_EQ(RunShell(kTool + " mksample '" + root +
                           "' --channels 1 --seconds 1 --groups 4 --width 160 --height 96 --audio none",
                       &out),
              0);
    for (const auto& line : Lines(out)) names_.push_back(fs::path(line).filename().string());
    out.clear();
    ASSERT_EQ(RunShell(kTool + " mksample '" + root + "/20240316' --format avi --long-names --channels 1 "
                           "--seconds 1 --groups 2 --width 160 --height 96 --audio none --start '2024-03-16 09:00:00'",
                       &out),
              0);
    for (const auto& line : Lines(out)) names_.push_back(fs::path(line).filename().string());
    ASSERT_EQ(names_.size(), 6u);
    WriteFileBytes(fs::path(root) / "notes.txt", "not a recording");
    WriteFileBytes(fs::path(root) / "20240315090000_1000.qvv", "");
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  static fs::path records() { return folder_->path() / "records"; }
  static const std::string& name(int i) { return names_[static_cast<size_t>(i)]; }

  // Runs the backup; its exit status, and the names it printed per outcome.
  struct Result {
    int status = -1;
    std::map<std::string, std::set<std::string>> files;  // "copied" -> names
    std::string summary;
  };
  Result Backup(const std::string& criteria, const fs::path& to) {
    Result r;
    std::string out;
    r.status = RunShell(kTool + " backup --from '" + records().string() + "' " + criteria + " --to '" + to.string() + "'",
                        &out);
    for (const auto& line : Lines(out)) {
      if (line.starts_with("copied=")) {
        r.summary = line;
        continue;
      }
      const size_t space = line.find(' ');
      std::string path = line.substr(space + 1);
      if (const size_t colon = path.find(": "); colon != std::string::npos) path.resize(colon);
      r.files[line.substr(0, space)].insert(fs::path(path).filename().string());
    }
    return r;
  }
  std::set<std::string> Copied(const std::string& criteria) {
    const fs::path to = out_.path() / ("run" + std::to_string(++runs_));
    const Result r = Backup(criteria, to);
    EXPECT_EQ(r.status, 0) << criteria;
    return r.files.count("copied") ? r.files.at("copied") : std::set<std::string>{};
  }

  static TempDir* folder_;
  static std::vector<std::string> names_;
  TempDir out_;
  int runs_ = 0;
};

TempDir* BackupTool::folder_ = nullptr;
std::vector<std::string> BackupTool::names_;

TEST_F(BackupTool, CopiesEveryRecordingByteForByteThenSkipsThem) {
  const fs::path to = out_.path() / "new" / "backup";  // made by the command
  const Result first = Backup("", to);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.summary, "copied=6 skipped=0 failed=0");
  ASSERT_EQ(first.files.at("copied").size(), 6u);
  std::set<std::string> in_folder;
  for (const auto& entry : fs::directory_iterator(to)) in_folder.insert(entry.path().filename().string());
  EXPECT_EQ(in_folder, std::set<std::string>(names_.begin(), names_.end())) << "recordings only, nothing hidden";
  for (int i = 0; i < 6; ++i) {
    const fs::path source = i < 4 ? records() / name(i) : records() / "20240316" / name(i);
    EXPECT_EQ(ReadFileBytes(to / name(i)), ReadFileBytes(source)) << name(i);
  }

  const Result second = Backup("", to);
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.summary, "copied=0 skipped=6 failed=0");
  EXPECT_EQ(second.files.at("skipped").size(), 6u);
}

TEST_F(BackupTool, TheCriteriaChooseTheRecordings) {
  EXPECT_EQ(Copied("--types 0x000000FF"), std::set<std::string>{name(3)}) << "alarm";
  EXPECT_EQ(Copied("--types 0x01000100"), (std::set<std::string>{name(0), name(2), name(4)})) << "manual, motion";
  EXPECT_EQ(Copied("--types manual,timing"), (std::set<std::string>{name(0), name(1), name(4), name(5)}));
  EXPECT_EQ(Copied("--since 2024-03-16"), (std::set<std::string>{name(4), name(5)}));
  // A recording's second touching the end is kept: 08:00:00 and 08:00:01.
  EXPECT_EQ(Copied("--until '2024-03-15 08:00:01'"), (std::set<std::string>{name(0), name(1)}));
  EXPECT_EQ(Copied("--since '2024-03-16 09:00:01' --until '2024-03-16 23:00:00'"),
            (std::set<std::string>{name(4), name(5)}))
      << "09:00:00 lasts to 09:00:01";
  EXPECT_EQ(Copied("--plate DRAVIK2"), std::set<std::string>{name(5)});
  EXPECT_EQ(Copied("--types motion,alarm --until '2024-03-15 08:00:02'"), std::set<std::string>{name(2)});
  EXPECT_TRUE(Copied("--plate NOBODY").empty());
}

TEST_F(BackupTool, AFailureIsNamedAndEndsWithStatusOne) {
  WriteFileBytes(out_.path() / "plain-file", "x");
  std::string out;
  EXPECT_EQ(RunShell(kTool + " backup --from '" + records().string() + "' --to '" +
                         (out_.path() / "plain-file").string() + "' 2>&1",
                     &out),
            1)
      << out;
  // A destination that exists but cannot take files.
  const fs::path blocked = out_.path() / "blocked";
  fs::create_directory(blocked);
  fs::create_directory(blocked / name(0));  // a folder where the first copy would go
  const Result r = Backup("", blocked);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.summary, "copied=0 skipped=0 failed=1");
  EXPECT_EQ(r.files.at("failed"), std::set<std::string>{name(0)});
  EXPECT_EQ(RunShell(kTool + " backup --from '" + records().string() + "' --types sometimes --to '" +
                     (out_.path() / "x").string() + "' 2>/dev/null"),
            2);
}

}  // namespace

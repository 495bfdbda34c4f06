// dravik-tool's reader commands as a user runs them.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::RunShell;
using testing_support::TempDir;

const std::string kTool = DRAVIK_TOOL;

TEST(QvvTool, PacketsListsStreamsThenPackets) {
  TempDir dir;
  testing_support::QvvSampleOptions o;
  o.video = 2;
  o.audio = 1;
  o.data = 1;
  o.seconds = 2;
  const auto path = dir / "20240102030405_1000.qvv";
  const auto written = testing_support::WriteQvvSample(path, o);
  std::string out;
  ASSERT_EQ(RunShell(kTool + " packets " + path.string(), &out), 0);
  std::istringstream lines(out);
  std::string line;
  std::vector<std::string> streams, packets;
  while (std::getline(lines, line)) (line.starts_with("#") ? streams : packets).push_back(line);
  ASSERT_EQ(streams.size(), 4u);
  EXPECT_EQ(streams[0], "# stream 0 video codec=28 tb=1/1000000 width=640 height=360");
  EXPECT_EQ(streams[2], "# stream 2 audio codec=69632 tb=1/1000000 width=0 height=0");
  EXPECT_EQ(streams[3], "# stream 3 data codec=0 tb=1/1000000 width=0 height=0");
  ASSERT_EQ(packets.size(), written.size());
  std::istringstream first(packets[0]);
  int stream, key, size;
  std::string kind, crc;
  int64_t pts;
  first >> stream >> kind >> pts >> key >> size >> crc;
  EXPECT_EQ(stream, 0);
  EXPECT_EQ(kind, "video");
  EXPECT_EQ(pts, 0);
  EXPECT_EQ(key, 1);
  EXPECT_EQ(size, static_cast<int>(written[0].payload.size()));
  EXPECT_EQ(crc.size(), 8u);

  ASSERT_EQ(RunShell(kTool + " packets " + path.string() + " --reverse | grep -vc '^#'", &out), 0);
  EXPECT_EQ(std::stoul(out), written.size());
  ASSERT_EQ(RunShell(kTool + " packets " + path.string() + " --seek 1.5 | grep -v '^#' | head -1", &out), 0);
  EXPECT_EQ(out.substr(0, 15), "0 video 1000000") << out;  // the earlier of the two key frames at 1 s
}

TEST(QvvTool, ProbeRecordsAndName) {
  TempDir dir;
  testing_support::QvvSampleOptions o;
  o.video = 2;
  o.data = 1;
  o.seconds = 2;
  const auto path = dir / "20240102030405_1000.qvv";
  testing_support::WriteQvvSample(path, o);
  std::string out;
  ASSERT_EQ(RunShell(kTool + " probe " + path.string(), &out), 0);
  EXPECT_NE(out.find("\"duration_us\": 2000000"), std::string::npos) << out;
  EXPECT_NE(out.find("\"bus_number\": \"BUS-42\""), std::string::npos);
  EXPECT_NE(out.find("\"channel_mask\": 3"), std::string::npos);
  ASSERT_EQ(RunShell(kTool + " records " + path.string(), &out), 0);
  EXPECT_NE(out.find("0 GPS mode=3 lat=22.5000000 lon=114.0000000"), std::string::npos) << out;
  EXPECT_NE(out.find("carInfo=\"B-12345\""), std::string::npos);
  ASSERT_EQ(RunShell(kTool + " name 20240102030405_0001_03.avi", &out), 0);
  EXPECT_NE(out.find("\"channel\": 2"), std::string::npos) << out;
  EXPECT_NE(out.find("\"types\": [\"alarm\"]"), std::string::npos);
}

TEST(QvvTool, DamagedOrMissingFilesGiveOneLineAndExitOne) {
  TempDir dir;
  testing_support::WriteFileBytes(dir / "20240102030405_1000.qvv", "QVV");
  std::string err;
  EXPECT_EQ(RunShell(kTool + " packets " + (dir / "20240102030405_1000.qvv").string() + " 2>&1 >/dev/null", &err), 1);
  EXPECT_NE(err.find("damaged recording"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  testing_support::WriteFileBytes(dir / "20240102030405_1000.qvv", std::string(100000, '\x5a'));
  EXPECT_EQ(RunShell(kTool + " probe " + (dir / "20240102030405_1000.qvv").string() + " 2>&1 >/dev/null", &err), 1);
  EXPECT_NE(err.find("not a readable recording"), std::string::npos) << err;
  EXPECT_EQ(RunShell(kTool + " probe " + (dir / "none.qvv").string() + " 2>&1 >/dev/null", &err), 1);
  EXPECT_NE(err.find("cannot open"), std::string::npos) << err;
  EXPECT_EQ(RunShell(kTool + " name notes.txt 2>/dev/null"), 1);
}

TEST(QvvTool, DamageCrossedIsReportedOnStderrWithTheStatusStillZero) {
  TempDir dir;
  testing_support::QvvSampleOptions o;
  o.video = 2;
  o.seconds = 2;
  const auto path = dir / "20240102030405_1000.qvv";
  const auto written = testing_support::WriteQvvSample(path, o);
  std::string bytes = testing_support::ReadFileBytes(path);
  bytes.insert(bytes.size() / 2, std::string(5000, '\x01'));  // a damaged stretch
  bytes.resize(bytes.size() - 100);                             // and a cut inside the last packet
  testing_support::WriteFileBytes(path, bytes);
  std::string err, out;
  ASSERT_EQ(RunShell(kTool + " packets " + path.string() + " 2>&1 >/dev/null", &err), 0);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("1 damaged stretch crossed"), std::string::npos) << err;
  EXPECT_NE(err.find(" between "), std::string::npos) << err;
  EXPECT_NE(err.find("cut short"), std::string::npos) << err;
  ASSERT_EQ(RunShell(kTool + " packets " + path.string() + " 2>/dev/null | grep -vc '^#'", &out), 0);
  EXPECT_GE(std::stoul(out) + 2, written.size()) << "all but the packets the damage hit";
}

}  // namespace

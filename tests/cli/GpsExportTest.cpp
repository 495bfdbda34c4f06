// dravik-tool gps: GPX, KML and CSV read back by Python's XML and CSV readers
// and compared with what `dravik-tool records` says of the same files; the
// datum options; vehicle texts and paths that would break XML or CSV; a file
// that cannot be read among good ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "QVVReader/QvvWriter.h"
#include "cli/TrackWriter.h"
#include "map/MapDatum.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::RunShell;
using testing_support::TempDir;

const std::string kTool = DRAVIK_TOOL;

// One line per track segment, the same for all three formats:
// vehicle|file|points|first lat,lon|first time. GPX also checks each point's
// elements; the first line names the document.
constexpr const char* kSummary = R"PY(
import csv, sys, xml.etree.ElementTree as ET
fmt, path = sys.argv[1], sys.argv[2]
def line(vehicle, file, pts, t0):
    first = '%.6f,%.6f' % pts[0] if pts else '-'
    print('%s|%s|%d|%s|%s' % (vehicle, file, len(pts), first, t0 or '-'))
if fmt == 'gpx':
    ns, ext = '{http://www.topografix.com/GPX/1/1}', '{urn:x-dravik:gpx-track:1}'
    root = ET.parse(path).getroot()
    print(root.tag, root.get('version'), root.get('creator'), len(root.findall(ns + 'trk')))
    for trk in root.findall(ns + 'trk'):
        for seg in trk.findall(ns + 'trkseg'):
            pts = seg.findall(ns + 'trkpt')
            for p in pts:
                tags = [c.tag for c in p] + [c.tag for c in p.find(ns + 'extensions')]
                if tags != [ns + 'ele', ns + 'time', ns + 'extensions', ext + 'speed_kmh', ext + 'course']:
                    print('unexpected', tags)
            line(trk.findtext(ns + 'name'), seg.findtext(ns + 'extensions/' + ext + 'file'),
                 [(float(p.get('lat')), float(p.get('lon'))) for p in pts],
                 pts[0].findtext(ns + 'time') if pts else None)
elif fmt == 'kml':
    ns = '{http://www.opengis.net/kml/2.2}'
    root = ET.parse(path).getroot()
    print(root.tag)
    for pm in root.iter(ns + 'Placemark'):
        coords = [c.split(',') for c in (pm.findtext('.//' + ns + 'coordinates') or '').split()]
        line(pm.findtext(ns + 'name'), pm.findtext(ns + 'description'),
             [(float(c[1]), float(c[0])) for c in coords], pm.findtext(ns + 'TimeSpan/' + ns + 'begin'))
else:
    rows = list(csv.reader(open(path, newline='', encoding='utf-8')))
    print(','.join(rows[0]))
    files = []
    for r in rows[1:]:
        if not files or files[-1][0] != r[0]:
            files.append((r[0], r[1], [], r[2]))
        files[-1][2].append((float(r[3]), float(r[4])))
    for f, v, pts, t0 in files:
        line(v, f, pts, t0)
)PY";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class GpsExportTest : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::WriteFileBytes(dir_ / "summary.py", kSummary);
    std::string out;
    ASSERT_EQ(RunShell(kTool + " mksample '" + (dir_ / "rec").string() +
                           "' --channels 1 --seconds 4 --groups 3 --width 160 --height 96 --audio none",
                       &out),
              0);
    files_ = Lines(out);  // two groups in Shenzhen (one vehicle), the last in Munich
    ASSERT_EQ(files_.size(), 3u);
  }

  // Runs the export into a file; its exit status, and the summary's lines.
  int Export(const std::string& args, const std::string& format, std::vector<std::string>& summary,
             std::string* errors = nullptr) {
    const std::string out = (dir_ / ("track." + format)).string();
    const std::string err = (dir_ / "stderr.txt").string();
    const int status =
        RunShell(kTool + " gps " + args + " --format " + format + " --out '" + out + "' 2>'" + err + "'");
    if (errors) *errors = testing_support::ReadFileBytes(err);
    std::string text;
    RunShell("PYTHONIOENCODING=utf-8 python3 '" + (dir_ / "summary.py").string() + "' " + format + " '" + out +
                 "' 2>&1",
             &text);
    summary = Lines(text);
    return status;
  }

  std::string Quoted(size_t i) const { return "'" + files_[i] + "'"; }

  // The summary line the records of `file` call for.
  static std::string Expected(const std::string& file, const std::string& vehicle, const std::string& time) {
    std::string out;
    RunShell(kTool + " records '" + file + "'", &out);
    int points = 0;
    double lat = 0, lon = 0;
    for (const std::string& l : Lines(out)) {
      if (l.find(" GPS ") == std::string::npos) continue;
      if (points++ == 0) std::sscanf(l.c_str() + l.find(" lat="), " lat=%lf lon=%lf", &lat, &lon);
    }
    char first[64];
    std::snprintf(first, sizeof first, "%.6f,%.6f", lat, lon);
    return vehicle + "|" + file + "|" + std::to_string(points) + "|" + first + "|" + time;
  }

  TempDir dir_;
  std::vector<std::string> files_;
};

TEST_F(GpsExportTest, GpxKmlAndCsvCarryEachFilesRecords) {
  const std::string all = Quoted(0) + " " + Quoted(1) + " " + Quoted(2);
  const std::string china = "\xE7\xB2\xA4" "B12345";
  const std::vector<std::string> segments = {
      Expected(files_[0], china, "2024-03-15T08:00:00Z"),
      Expected(files_[1], china, "2024-03-15T08:00:04Z"),
      Expected(files_[2], "M-DV 2024", "2024-03-15T08:00:08Z"),
  };
  EXPECT_NE(segments[0].find("|4|"), std::string::npos) << "a GPS record a second";

  std::vector<std::string> gpx, kml, csv;
  ASSERT_EQ(Export(all, "gpx", gpx), 0);
  ASSERT_EQ(Export(all, "kml", kml), 0);
  ASSERT_EQ(Export(all, "csv", csv), 0);
  // Same vehicle, same <trk>: two tracks for three segments.
  ASSERT_FALSE(gpx.empty());
  EXPECT_EQ(gpx[0], "{http://www.topografix.com/GPX/1/1}gpx 1.1 dravik-tool 2");
  EXPECT_EQ(std::vector<std::string>(gpx.begin() + 1, gpx.end()), segments);
  ASSERT_FALSE(kml.empty());
  EXPECT_EQ(kml[0], "{http://www.opengis.net/kml/2.2}kml");
  EXPECT_EQ(std::vector<std::string>(kml.begin() + 1, kml.end()), segments);
  ASSERT_FALSE(csv.empty());
  EXPECT_EQ(csv[0], "file,vehicle,time,lat,lon,alt_m,speed_kmh,course_deg");
  EXPECT_EQ(std::vector<std::string>(csv.begin() + 1, csv.end()), segments);
}

TEST_F(GpsExportTest, DatumMovesFixesInChinaOnly) {
  auto first_point = [&](size_t file, const std::string& datum) {
    std::string out;
    EXPECT_EQ(RunShell(kTool + " gps " + Quoted(file) + " --format csv --datum " + datum, &out), 0);
    const auto rows = Lines(out);
    std::pair<double, double> p{};
    if (rows.size() > 1) std::sscanf(rows[1].c_str() + rows[1].find(",2024-"), ",%*[^,],%lf,%lf", &p.first, &p.second);
    return p;
  };
  for (size_t file : {0u, 2u}) {
    SCOPED_TRACE(files_[file]);
    const auto wgs = first_point(file, "wgs84");
    double lat = 0, lon = 0;
    map::ToChinaMapDatum(wgs.first, wgs.second, lat, lon);
    EXPECT_EQ(lat != wgs.first, file == 0) << "only Shenzhen is in the China range";
    const auto gcj = first_point(file, "gcj02");
    EXPECT_NEAR(gcj.first, lat, 1e-7);
    EXPECT_NEAR(gcj.second, lon, 1e-7);
    map::ToBaiduDatum(lat, lon, lat, lon);
    const auto bd = first_point(file, "bd09");
    EXPECT_NEAR(bd.first, lat, 1e-7);
    EXPECT_NEAR(bd.second, lon, 1e-7);
  }
}

TEST_F(GpsExportTest, HostileVehicleTextAndPathComeOutIntact) {
  // A recording whose GPS records carry markup, quotes and a comma, in a
  // folder whose name has them too.
  const std::string vehicle = "A\"<b>&'x, y";
  const auto folder = dir_ / "a&b<c>\"d,e";
  std::filesystem::create_directory(folder);
  const std::string file = (folder / "20240315080000_1000.qvv").string();
  qvv::QvvFileConfig config;
  config.video = 1;
  config.data = 1;
  config.streams = {{0, 28, 160, 96, 1, 64, 0, 0, 0}, {2, 0, 0, 0, 0, 0, 0, 0, 0}};
  qvv::QvvWriter writer;
  ASSERT_EQ(writer.Open(file, config), 0);
  const std::vector<uint8_t> picture(200, 0x42);
  for (uint32_t s = 0; s < 3; ++s) {
    writer.WriteVideo(0, s * 1000000, true, picture.data(), picture.size());
    const auto gps = testing_support::GpsRecord(22.5 + s * 1e-4, 114.0, 40, vehicle);
    writer.WriteRecord(1, s * 1000000 + 500000, gps.data(), gps.size());
  }
  ASSERT_EQ(writer.Finish(3000), 0);

  const std::string expected = vehicle + "|" + file + "|3|22.500000,114.000000|2024-03-15T08:00:00.500Z";
  for (const std::string format : {"gpx", "kml", "csv"}) {
    std::vector<std::string> summary;
    ASSERT_EQ(Export("'" + file + "'", format, summary), 0) << format;
    ASSERT_EQ(summary.size(), 2u) << format << testing::PrintToString(summary) << testing_support::ReadFileBytes((dir_ / ("track." + format)).string());
    EXPECT_EQ(summary[1], expected) << format;
  }
}

TEST(TrackTextTest, BytesXmlCannotCarryBecomeReplacementCharacters) {
  EXPECT_EQ(cli::XmlEscape("A\"<b>&'x"), "A&quot;&lt;b&gt;&amp;&apos;x");
  // A control character, a stray continuation byte, a truncated sequence, an
  // overlong '<'; tab and line feed stay; U+FFFE goes.
  EXPECT_EQ(cli::XmlEscape("a\x01" "b\x80" "c\xE7\xB2" "d\xC0\xBC" "e\tf\n\xEF\xBF\xBE"),
            "a\uFFFDb\uFFFDc\uFFFD\uFFFDd\uFFFD\uFFFDe\tf\n\uFFFD");
  EXPECT_EQ(cli::CsvQuote("say \"hi\",\nthen\xFF"), "\"say \"\"hi\"\",\nthen\uFFFD\"");
  EXPECT_EQ(cli::IsoUtc(1710489600000), "2024-03-15T08:00:00Z");
  EXPECT_EQ(cli::IsoUtc(1710489601007), "2024-03-15T08:00:01.007Z");
}

TEST_F(GpsExportTest, AFileThatFailsIsNamedAndTheOthersWritten) {
  const std::string missing = (dir_ / "20240315090000_1000.qvv").string();
  std::vector<std::string> gpx;
  std::string errors;
  EXPECT_EQ(Export("'" + missing + "' " + Quoted(0), "gpx", gpx, &errors), 1);
  EXPECT_NE(errors.find(missing), std::string::npos) << errors;
  ASSERT_EQ(gpx.size(), 2u);
  EXPECT_EQ(gpx[1], Expected(files_[0], "\xE7\xB2\xA4" "B12345", "2024-03-15T08:00:00Z"));
  // Usage errors: no format, an unknown datum, no file.
  EXPECT_EQ(RunShell(kTool + " gps " + Quoted(0) + " 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(kTool + " gps " + Quoted(0) + " --format gpx --datum itrf 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(kTool + " gps --format csv 2>/dev/null"), 2);
}

}  // namespace

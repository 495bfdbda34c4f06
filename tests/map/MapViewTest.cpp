// The map view on Qt WebEngine (offscreen): the query bridge between page and
// program, the script calls a fix turns into, the back line's batches, the
// page's saved view, a click on the line, and the stores behind them. A page
// of the test's own stands in for the map pages: it records every call.
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <cstdlib>

#include "QVVReader/Amf0Writer.h"
#include "map/CEFMapDlg.h"
#include "map/ScriptCalls.h"

namespace {

// Qt WebEngine is told before the application object exists: no sandbox (the
// tests may run as root), no GPU, shared OpenGL contexts.
const bool kWebEnginePrepared = [] {
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --log-level=3", 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  return true;
}();

// A page with the seven functions: each call is kept; the page reports ready.
constexpr const char* kPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script>\n"
    "window.calls = []; window.answers = {};\n"
    "function keep(name, args) { window.calls.push([name].concat(Array.prototype.slice.call(args))); }\n"
    "function DrawTrackLine() { keep(\"DrawTrackLine\", arguments); }\n"
    "function MoveCar() { keep(\"MoveCar\", arguments); }\n"
    "function flyto() { keep(\"flyto\", arguments); }\n"
    "function CreateGpsBackLine() { keep(\"CreateGpsBackLine\", arguments); }\n"
    "function SetPlayBackIndex() { keep(\"SetPlayBackIndex\", arguments); }\n"
    "function clearAllTrackLine() { keep(\"clearAllTrackLine\", arguments); }\n"
    "function OnlyClearLine() { keep(\"OnlyClearLine\", arguments); }\n"
    "function ask(request) {\n"
    "  cefQuery({request: request,\n"
    "            onSuccess: function (a) { window.answers[request] = \"ok:\" + a; },\n"
    "            onFailure: function (code, m) { window.answers[request] = \"failed:\" + code; }});\n"
    "}\n"
    "if (window.location.hash !== \"#quiet\") ask(\"GoogleMapOK\");\n"
    "</script></head><body>test page</body></html>\n";

std::vector<uint8_t> GpsRecord(double lat, double lon, const std::string& plate = "TEST 1", double course = 90) {
  qvv::Amf0Writer amf;
  amf.String("GPS");
  amf.BeginArray(5);
  amf.Field("mode", 3);
  amf.Field("lat", lat);
  amf.Field("lon", lon);
  amf.Field("course", course);
  amf.Field("carInfo", plate);
  amf.EndArray();
  return amf.bytes();
}

struct RecordedSink : platform::MessageSink {
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) override {
    posted.push_back({message, first, second});
  }
  platform::MsgParam Send(uint32_t, platform::MsgParam, platform::MsgParam) override { return 0; }
  struct Message {
    uint32_t message;
    platform::MsgParam first, second;
  };
  std::vector<Message> posted;
};

// Runs a script in the page and waits for its result.
QVariant Evaluate(QWebEnginePage* page, const QString& script) {
  QVariant result;
  bool done = false;
  page->runJavaScript(script, [&](const QVariant& v) {
    result = v;
    done = true;
  });
  QTest::qWaitFor([&] { return done; }, 20000);
  return result;
}

}  // namespace

class MapViewTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::filesystem::path pages_;

  map::CEFMapDlg::Options Options(const QString& name, RecordedSink* sink = nullptr, int map_type = 2) {
    map::CEFMapDlg::Options o;
    o.map_type = map_type;
    o.pages = pages_;
    o.settings = std::filesystem::path(dir_.path().toStdString()) / (name.toStdString() + "-setting.ini");
    o.state = std::filesystem::path(dir_.path().toStdString()) / (name.toStdString() + "-temp.ini");
    o.window = sink;
    return o;
  }

  static QWebEnginePage* Page(map::CEFMapDlg& map) { return map.client().GetFirstBrowser()->page(); }
  static int Calls(map::CEFMapDlg& map, const QString& name) {
    return Evaluate(Page(map), "window.calls.filter(function (c) { return c[0] === '" + name + "'; }).length").toInt();
  }
  static QVariantList LastCall(map::CEFMapDlg& map, const QString& name) {
    return Evaluate(Page(map), "(function () { var c = window.calls.filter(function (c) { return c[0] === '" + name +
                                   "'; }); return c.length ? c[c.length - 1] : []; })()")
        .toList();
  }

 private slots:
  void initTestCase() {
    pages_ = std::filesystem::path(dir_.path().toStdString()) / "images";
    std::filesystem::create_directories(pages_);
    for (int type : {0, 1, 2, 3}) std::ofstream(pages_ / map::CEFMapDlg::PageFor(type).toStdString()) << kPage;
  }

  void scriptTextIsSafeAndLocaleFree() {
    // A plate that would end the string, the call or the page's script.
    const std::string plate = "A'B\"C\\D</script>\nE\xe2\x80\xa8" "F";
    const std::string literal = map::script::StringLiteral(plate);
    QCOMPARE(QString::fromStdString(literal),
             QString("\"A'B\\\"C\\\\D\\u003c/script\\u003e\\nE\\u2028F\""));
    QCOMPARE(QString::fromStdString(map::script::StringLiteral("\xff" "ok")), QString("\"\xef\xbf\xbdok\""));
    QCOMPARE(QString::fromStdString(map::script::MoveCar("x", 22.5, 113.9, 90)),
             QString("MoveCar(\"x\", 22.500000, 113.900000, 90.000000)"));
    QCOMPARE(QString::fromStdString(map::script::SetPlayBackIndex(7)), QString("SetPlayBackIndex(7, 1)"));
    QCOMPARE(QString::fromStdString(map::script::FlyTo(1.5, -2.25)), QString("flyto(1.500000, -2.250000)"));
    // A damaged record's NaN never reaches a script as "nan".
    QCOMPARE(QString::fromStdString(map::script::Number(std::nan(""))), QString("0.000000"));
  }

  void theStoresKeepTheirLimits() {
    map::ACAMFDataList ring;
    const uint8_t byte = 1;
    for (int i = 0; i < map::ACAMFDataList::kSlots; ++i) QCOMPARE(ring.Put(i, &byte, 1), 1);
    QCOMPARE(ring.Put(99, &byte, 1), 0);  // full
    int64_t tag = -1;
    std::vector<uint8_t> out;
    QVERIFY(ring.Get(tag, out));
    QCOMPARE(tag, int64_t{0});
    const std::vector<uint8_t> long_record(257, 2);
    QCOMPARE(ring.Put(5, long_record.data(), 257), 1);  // dropped, not stored
    QCOMPARE(ring.waiting(), map::ACAMFDataList::kSlots - 1);

    map::ACGPSDataList track;
    for (int i = 0; i < 20001; ++i) QVERIFY(track.Append({static_cast<uint64_t>(i), 10 + i * 1e-5, 20.0}));
    QCOMPARE(track.count(), 20001);
    QCOMPARE(track.growths(), 2);
    QCOMPARE(track.at(20000).time, uint64_t{20000});
    // The batch of the back line: "%.6f,%.6f,1;" a point, at most as many as asked.
    int pending = 0;
    const std::string batch = track.TakeBatch(2, &pending);
    QCOMPARE(QString::fromStdString(batch), QString("10.000000,20.000000,1;10.000010,20.000000,1;"));
    QCOMPARE(pending, 20001);
    QCOMPARE(track.pending(), 19999);

    // The nearest point: the first of equal distances, never a separator.
    map::ACGPSDataList line;
    line.Append(map::TrackPoint::Separator());
    line.Append({7300, 22.7, 113.9});  // 0.2 from the click
    line.Append({9000, 22.3, 113.9});  // 0.2 too, later
    map::TrackPoint nearest;
    QVERIFY(line.Nearest(22.5, 113.9, nearest));
    QCOMPARE(nearest.time, uint64_t{7300});
    // The play-back index: the exact point, searched outward from the last one.
    QCOMPARE(line.MatchPlayBack(22.3, 113.9), 2);
    QCOMPARE(line.MatchPlayBack(1.0, 1.0), 2);  // no match: unchanged
    QCOMPARE(line.MatchPlayBack(22.7, 113.9), 1);
  }

  void theQueriesAnswerAndAClickSeeks() {
    RecordedSink sink;
    map::CEFMapDlg map(Options("queries", &sink));
    std::string answer;
    QVERIFY(map.OnQuery("mapstatesave|22.5,113.9,12", answer));
    QVERIFY(map.OnQuery("mapstateinit", answer));
    QCOMPARE(answer, std::string("22.5,113.9,12"));
    {
      map::CEFMapDlg again(Options("queries", &sink));  // the view lives in "temp.ini"
      QVERIFY(again.OnQuery("mapstateinit", answer));
      QCOMPARE(answer, std::string("22.5,113.9,12"));
    }
    for (const char* other : {"isOffset|1", "loadanothermap", "getGoogleMapKey"}) {
      QVERIFY(map.OnQuery(other, answer));
      QCOMPARE(answer, std::string());
    }
    QVERIFY(!map.OnQuery("GoogleMapOk", answer));  // exact case
    QVERIFY(!map.OnQuery("", answer));
    // A click: nothing stored yet, then the earlier of two points 0.2 away.
    QVERIFY(map.OnQuery("ClickLineCallBack|22.5|113.9", answer));
    QVERIFY(sink.posted.empty());
    map.track().Append({7300, 22.7, 113.9});
    map.track().Append({9000, 22.3, 113.9});
    QVERIFY(map.OnQuery("ClickLineCallBack|22.5|113.9", answer));
    QVERIFY(map.OnQuery("ClickLineCallBack|x|113.9", answer));  // not a number: no seek
    QCOMPARE(sink.posted.size(), size_t{1});
    QCOMPARE(sink.posted[0].message, platform::msg::kGoToTime);
    QCOMPARE(sink.posted[0].first, platform::MsgParam{2});
    QCOMPARE(sink.posted[0].second, platform::MsgParam{100});
    QCOMPARE(map::CEFMapDlg::PageFor(7), QString("new_Leaflet_MapDlg.html"));
  }

  void theBridgeCarriesQueriesAndFixesReachThePage() {
    map::CEFMapDlg map(Options("live"));
    map.resize(640, 480);
    map.show();
    std::vector<std::string> scripts;
    map.script_trace = [&](const std::string& s) { scripts.push_back(s); };
    // Before "GoogleMapOK" nothing goes to the page and the records wait.
    const auto first = GpsRecord(22.5, 113.9);
    QCOMPARE(map.PushGps(0, first.data(), int(first.size())), 1);
    QVERIFY(QTest::qWaitFor([&] { return map.page_ready(); }, 60000));
    QVERIFY(scripts.empty() || scripts.front().rfind("DrawTrackLine", 0) == 0);
    // The waiting fix: line, car, view; the same place again sends nothing.
    QVERIFY(QTest::qWaitFor([&] { return Calls(map, "flyto") == 1; }, 20000));
    QCOMPARE(Calls(map, "DrawTrackLine"), 1);
    QCOMPARE(LastCall(map, "MoveCar").value(4).toDouble(), 90.0);
    const int sent = map.scripts_sent();
    map.PushGps(1, first.data(), int(first.size()));
    const auto second = GpsRecord(22.6, 113.9, "A'B\"C\\D</script><img src=x onerror=window.pwned=1>\nE");
    map.PushGps(2, second.data(), int(second.size()));
    QVERIFY(QTest::qWaitFor([&] { return Calls(map, "flyto") == 2; }, 20000));
    QCOMPARE(map.scripts_sent(), sent + 3);
    // The plate arrives as it was, and runs nothing.
    QCOMPARE(LastCall(map, "MoveCar").value(1).toString(),
             QString("A'B\"C\\D</script><img src=x onerror=window.pwned=1>\nE"));
    QCOMPARE(Evaluate(Page(map), "typeof window.pwned").toString(), QString("undefined"));
    // A seek clears every line.
    static const uint8_t kSeek[] = "Seek";
    map.PushGps(3, kSeek, 5);
    QVERIFY(QTest::qWaitFor([&] { return Calls(map, "clearAllTrackLine") == 1; }, 20000));
    // The page's own queries: answered through the bridge, unknown ones fail.
    Evaluate(Page(map), "ask('mapstatesave|1,2,3'); ask('mapstateinit'); ask('nonsense');");
    QVERIFY(QTest::qWaitFor(
        [&] { return Evaluate(Page(map), "Object.keys(window.answers).length").toInt() == 4; }, 20000));
    QCOMPARE(Evaluate(Page(map), "window.answers['mapstateinit']").toString(), QString("ok:1,2,3"));
    QCOMPARE(Evaluate(Page(map), "window.answers['nonsense']").toString(), QString("failed:-1"));
  }

  void beforeThePageIsReadyNothingGoesToIt() {
    // A page that never says it is ready: records wait in the ring and no
    // script is sent, until "GoogleMapOK" comes.
    const auto quiet = std::filesystem::path(dir_.path().toStdString()) / "quiet";
    std::filesystem::create_directories(quiet);
    std::string page = kPage;
    page.replace(page.find("if (window.location.hash !== \"#quiet\") ask(\"GoogleMapOK\");"),
                 std::string("if (window.location.hash !== \"#quiet\") ask(\"GoogleMapOK\");").size(), "");
    std::ofstream(quiet / "new_Leaflet_MapDlg.html") << page;
    auto options = Options("quiet");
    options.pages = quiet;
    map::CEFMapDlg map(options);
    map.show();
    std::vector<std::string> scripts;
    map.script_trace = [&](const std::string& s) { scripts.push_back(s); };
    const auto fix = GpsRecord(22.5, 113.9);
    QCOMPARE(map.PushGps(0, fix.data(), int(fix.size())), 1);
    QVERIFY(QTest::qWaitFor([&] { return Evaluate(Page(map), "document.readyState").toString() == "complete"; }, 60000));
    QTest::qWait(300);  // time a wrong script would need to arrive
    QVERIFY(!map.page_ready());
    QCOMPARE(map.scripts_sent(), 0);
    QCOMPARE(map.ring().waiting(), 1);
    std::string answer;
    QVERIFY(map.OnQuery("GoogleMapOK", answer));
    QVERIFY(QTest::qWaitFor([&] { return scripts.size() == 3; }, 20000));
    QVERIFY(scripts[0].rfind("DrawTrackLine(", 0) == 0);
    QVERIFY(scripts[1].rfind("MoveCar(", 0) == 0);
    QVERIFY(scripts[2].rfind("flyto(", 0) == 0);
  }

  void theBackLineGoesInBatches() {
    map::CEFMapDlg map(Options("backline"));
    map.resize(320, 240);
    map.show();
    QVERIFY(QTest::qWaitFor([&] { return map.page_ready(); }, 60000));
    std::vector<std::string> lines;
    map.script_trace = [&](const std::string& s) {
      if (s.rfind("CreateGpsBackLine", 0) == 0) lines.push_back(s);
    };
    QVERIFY(map.clear_line_button()->isVisible());
    map.OnMessage(platform::msg::kMapSettings, 0, 1);  // the settings: play-back on
    QVERIFY(map.playback_mode());
    QVERIFY(!map.clear_line_button()->isVisible());
    for (int i = 0; i < 247; ++i) {
      const auto r = GpsRecord(30 + i * 1e-4, 110);
      QCOMPARE(map.AddTrack(static_cast<uint64_t>(i), r.data(), int(r.size())), 1);
    }
    const auto same = GpsRecord(30 + 246 * 1e-4, 110);
    QCOMPARE(map.AddTrack(300, same.data(), int(same.size())), 0);  // the same place again
    QTest::qWait(300);  // time for a batch that must not come
    QVERIFY(lines.empty());
    // Complete: what is left goes out at once; then a long track in batches of 249.
    map.set_track_complete(true);
    QVERIFY(QTest::qWaitFor([&] { return lines.size() == 1; }, 20000));
    QCOMPARE(std::count(lines[0].begin(), lines[0].end(), ';'), 247);
    map.set_track_complete(false);
    map.AddTrack(~uint64_t{0}, nullptr, 0);  // the next file
    for (int i = 0; i < 500; ++i) {
      const auto r = GpsRecord(31 + i * 1e-4, 111);
      map.AddTrack(static_cast<uint64_t>(1000 + i), r.data(), int(r.size()));
    }
    // Every batch while the track grows has 248 or 249 points (however the
    // thread and the adding interleave), until fewer than 248 wait.
    auto traced = [&] {
      size_t points = 0;
      for (size_t i = 1; i < lines.size(); ++i) points += static_cast<size_t>(std::count(lines[i].begin(), lines[i].end(), ';'));
      return points;
    };
    QVERIFY(QTest::qWaitFor(
        [&] { return map.track().pending() < 248 && traced() + static_cast<size_t>(map.track().pending()) == 501; },
        20000));
    QVERIFY(lines.size() >= 3);
    for (size_t i = 1; i < lines.size(); ++i) {
      const auto n = std::count(lines[i].begin(), lines[i].end(), ';');
      QVERIFY2(n == 248 || n == 249, qPrintable(QString::number(n)));
    }
    QVERIFY(lines[1].find("0.000000,0.000000,1;") != std::string::npos);  // the separator goes too

    // A seek in play-back mode keeps the back line; the vehicle goes on along
    // it, also where it stood before the seek.
    const int clears = Calls(map, "clearAllTrackLine") + Calls(map, "OnlyClearLine");
    const auto at = GpsRecord(31 + 10 * 1e-4, 111);
    map.PushGps(0, at.data(), int(at.size()));
    QVERIFY(QTest::qWaitFor([&] { return Calls(map, "SetPlayBackIndex") == 1; }, 20000));
    QCOMPARE(LastCall(map, "SetPlayBackIndex").value(1).toInt(), 247 + 1 + 10);  // after the first file and the separator
    static const uint8_t kSeek[] = "Seek";
    map.PushGps(1, kSeek, 5);
    map.PushGps(2, at.data(), int(at.size()));
    QVERIFY(QTest::qWaitFor([&] { return Calls(map, "SetPlayBackIndex") == 2; }, 20000));
    QCOMPARE(Calls(map, "clearAllTrackLine") + Calls(map, "OnlyClearLine"), clears);
  }

  void aClientWithoutAHandlerAnswersNothing() {
    map::CEFSimpleHandler client(nullptr);
    QWidget parent;
    QWebEngineView* view =
        client.CreateBrowser(&parent, QUrl::fromLocalFile(QString::fromStdString((pages_ / "new_Leaflet_MapDlg.html").string())));
    QVERIFY(client.router() != nullptr);
    QCOMPARE(client.browser_count(), 1);
    QVERIFY(QTest::qWaitFor(
        [&] { return Evaluate(view->page(), "window.answers && window.answers['GoogleMapOK']").toString() != ""; },
        60000));
    QCOMPARE(Evaluate(view->page(), "window.answers['GoogleMapOK']").toString(), QString("failed:-1"));
    // The router goes with the last browser.
    client.CloseBrowser(view);
    QCOMPARE(client.browser_count(), 0);
    QVERIFY(client.router() == nullptr);
    QVERIFY(client.IsClosing());
  }
};

QTEST_MAIN(MapViewTest)
#include "MapViewTest.moc"

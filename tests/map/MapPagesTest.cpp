// The four map pages in the browser engine, offscreen and offline: every
// request that would leave the machine is refused (the tiles fail, as they do
// without a network). A stand-in for the player's query function records the
// page's requests and answers "mapstateinit" with a saved view; the test calls
// the page's global functions as the player does and reads the page back
// through dravikMapState().
#include <unistd.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QtTest>
#include <cmath>
#include <memory>

namespace {

// Lets the page's own files through and refuses everything else.
class Offline : public QWebEngineUrlRequestInterceptor {
 public:
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QUrl url = info.requestUrl();
    if (url.isLocalFile() || url.scheme() == "data" || url.scheme() == "about") return;
    info.block(true);
    QMutexLocker lock(&mutex_);
    refused_ << url.toString();
  }
  QStringList refused() {
    QMutexLocker lock(&mutex_);
    return refused_;
  }
  void clear() {
    QMutexLocker lock(&mutex_);
    refused_.clear();
  }

 private:
  QMutex mutex_;
  QStringList refused_;
};

// The player's side of the queries. `mode`: "now" (defined before the page's
// scripts run), "event" (defined once the page has loaded, then announced
// with a "cefQueryReady" event) or "late" (defined then, without the event).
QString QueryStandIn(const QString& saved_view, const QString& mode) {
  const QString literal = QString::fromUtf8(QJsonDocument(QJsonArray{saved_view, mode}).toJson(QJsonDocument::Compact));
  return "(function () {\n"
         "  var given = " + literal + ", saved = given[0], mode = given[1];\n"
         "  window.__requests = [];\n"
         "  function query(q) {\n"
         "    window.__requests.push(q.request);\n"
         "    var answer = q.request === 'mapstateinit' ? saved : '';\n"
         "    setTimeout(function () { q.onSuccess(answer); }, 0);\n"
         "    return window.__requests.length;\n"
         "  }\n"
         "  if (mode === 'now') { window.cefQuery = query; return; }\n"
         "  window.addEventListener('load', function () {\n"
         "    setTimeout(function () {\n"
         "      window.cefQuery = query;\n"
         "      if (mode !== 'event') return;\n"
         "      window.dispatchEvent(new Event('cefQueryReady'));\n"
         "      window.__sentOnEvent = window.__requests.length;\n"
         "    }, 100);\n"
         "  });\n"
         "})();\n";
}

// A JavaScript string literal for `text`, as the player writes one.
QString Literal(const QString& text) {
  const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(array.mid(1, array.size() - 2));
}

constexpr int kLimitMs = 60000;

}  // namespace

class MapPagesTest : public QObject {
  Q_OBJECT

  Offline offline_;
  QWebEngineProfile* profile_ = nullptr;
  std::unique_ptr<QWebEnginePage> page_;
  std::unique_ptr<QWebEngineView> view_;  // gives the page a size, so that it asks for tiles

  // Loads `file` from the built pages and waits for it to report ready.
  bool Open(const QString& file, const QString& saved_view = QString(), const QString& mode = "now") {
    view_.reset();
    page_ = std::make_unique<QWebEnginePage>(profile_);
    // As in the player: a page from a file may ask for remote tiles.
    page_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    view_ = std::make_unique<QWebEngineView>();
    view_->setPage(page_.get());
    view_->resize(640, 480);
    view_->show();
    QWebEngineScript stand_in;
    stand_in.setName("query stand-in");
    stand_in.setInjectionPoint(QWebEngineScript::DocumentCreation);
    stand_in.setWorldId(QWebEngineScript::MainWorld);
    stand_in.setRunsOnSubFrames(false);
    stand_in.setSourceCode(QueryStandIn(saved_view, mode));
    page_->scripts().insert(stand_in);
    QSignalSpy loaded(page_.get(), &QWebEnginePage::loadFinished);
    page_->load(QUrl::fromLocalFile(QStringLiteral(DRAVIK_MAP_PAGES_DIR "/") + file));
    if (!loaded.wait(kLimitMs) || !loaded.first().first().toBool()) return false;
    return WaitFor("window.dravikMapState && dravikMapState().ready");
  }

  QVariant Run(const QString& script) {
    QVariant result;
    bool done = false;
    page_->runJavaScript(script, [&](const QVariant& v) {
      result = v;
      done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kLimitMs)) qWarning("no answer from the page to: %s", qPrintable(script));
    return result;
  }

  bool WaitFor(const QString& condition) {
    return QTest::qWaitFor([&] { return Run("!!(" + condition + ")").toBool(); }, kLimitMs);
  }

  QJsonObject State() {
    return QJsonDocument::fromJson(Run("JSON.stringify(dravikMapState())").toString().toUtf8()).object();
  }

  static QStringList Strings(const QJsonValue& v) {
    QStringList out;
    for (const QJsonValue& s : v.toArray()) out << s.toString();
    return out;
  }

  static void AddPages() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("tiles");
    QTest::newRow("osm") << "new_Leaflet_MapDlg.html" << "https://tile.openstreetmap.org/";
    QTest::newRow("google") << "new_Google_MapDlg.html" << "google.com/vt/lyrs=m&x=";
    QTest::newRow("bing") << "new_Bing_MapDlg.html" << ".tiles.virtualearth.net/tiles/r";
    QTest::newRow("baidu") << "new_Baidu_MapDlg.html" << ".bdimg.com/tile/?qt=vtile&x=";
  }

 private slots:
  void initTestCase() {
    profile_ = new QWebEngineProfile(this);  // off the record: nothing kept between runs
    profile_->setUrlRequestInterceptor(&offline_);
  }

  void cleanup() {
    view_.reset();
    page_.reset();
    offline_.clear();
  }

  void cleanupTestCase() {
    delete profile_;  // before the interceptor it holds
    profile_ = nullptr;
  }

  // Ready without a network, after asking for the saved view, which it shows.
  void startsOfflineWithTheSavedView_data() { AddPages(); }
  void startsOfflineWithTheSavedView() {
    QFETCH(QString, file);
    QFETCH(QString, tiles);
    QVERIFY(Open(file, "31.230000,121.470000,12"));
    const QJsonObject state = State();
    const QStringList queries = Strings(state["queries"]);
    QCOMPARE(queries.value(0), QString("mapstateinit"));
    QCOMPARE(queries.count("GoogleMapOK"), 1);
    QCOMPARE(queries.contains("getGoogleMapKey"), file.contains("Google"));
    QCOMPARE(Run("window.__requests.join('\\n')").toString(), queries.join('\n'));
    QCOMPARE(state["zoom"].toInt(), 12);
    QVERIFY(std::abs(state["center"][0].toDouble() - 31.23) < 1e-6);
    QVERIFY(std::abs(state["center"][1].toDouble() - 121.47) < 1e-6);
    QVERIFY(state["car"].isNull());
    // The tiles were asked for, from the page's provider, and refused.
    QVERIFY(QTest::qWaitFor([&] { return !offline_.refused().isEmpty(); }, kLimitMs));
    for (const QString& url : offline_.refused()) QVERIFY2(url.contains(tiles), qPrintable(url));
  }

  // The player's query function may come after the page's script has run.
  void waitsForTheQueryFunction() {
    QVERIFY(Open("new_Leaflet_MapDlg.html", "", "late"));
    QCOMPARE(Strings(State()["queries"]).value(0), QString("mapstateinit"));
    QVERIFY(Open("new_Bing_MapDlg.html", "not a view", "event"));
    // Sent while the event was being dispatched, not at the next look.
    QVERIFY(Run("window.__sentOnEvent").toInt() >= 1);
    QCOMPARE(State()["zoom"].toInt(), 4);  // an unreadable saved view leaves the page's own
  }

  void theCarAndTheLiveLine_data() { AddPages(); }
  void theCarAndTheLiveLine() {
    QFETCH(QString, file);
    QVERIFY(Open(file, "31.230000,121.470000,12"));
    Run("MoveCar(\"B 123\", 31.2, 121.4, 370)");
    Run("DrawTrackLine(\"B 123\", 31.2, 121.4); DrawTrackLine(\"B 123\", 0, 0);"
        "DrawTrackLine(\"B 123\", 31.21, 121.41); DrawTrackLine(\"B 123\", 31.22, 121.43)");
    Run("MoveCar(\"B 123\", 0, 0, 90)");  // no fix: the car stays
    Run("flyto(31.22, 121.43)");
    const QJsonObject state = State();
    const QJsonObject car = state["car"].toObject();
    QCOMPARE(car["lat"].toDouble(), 31.2);
    QCOMPARE(car["lon"].toDouble(), 121.4);
    QCOMPARE(car["course"].toDouble(), 10.0);
    QCOMPARE(car["text"].toString(), QString("B 123"));
    const QJsonArray line = state["liveLine"].toArray();
    QCOMPARE(line.size(), 3);
    QCOMPARE(line[2][0].toDouble(), 31.22);
    QCOMPARE(line[2][1].toDouble(), 121.43);
    // A short way is panned, to the nearest pixel (under 40 m at zoom 12).
    QVERIFY(std::abs(state["center"][0].toDouble() - 31.22) < 4e-4);
    QVERIFY(std::abs(state["center"][1].toDouble() - 121.43) < 4e-4);
    QCOMPARE(state["zoom"].toInt(), 12);  // flyto keeps the zoom
    QCOMPARE(Run("document.querySelector('.dravik-car svg').style.transform").toString(), QString("rotate(10deg)"));
  }

  void theBackLine_data() { AddPages(); }
  void theBackLine() {
    QFETCH(QString, file);
    QVERIFY(Open(file, "22.520000,113.920000,14"));
    // Two batches; the second file begins at entry 3.
    Run("CreateGpsBackLine(\"B 1\", '22.500000,113.900000,1;22.510000,113.910000,1;22.520000,113.920000,1;"
        "0.000000,0.000000,1;')");
    Run("CreateGpsBackLine(\"B 1\", '22.530000,113.930000,1;22.540000,113.940000,1;')");
    QJsonObject state = State();
    QJsonArray back = state["backLine"].toArray();
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[0].toArray().size(), 3);
    QCOMPARE(back[1].toArray().size(), 2);
    for (const QJsonValue& segment : back)
      for (const QJsonValue& p : segment.toArray()) QVERIFY(p[0].toDouble() != 0 && p[1].toDouble() != 0);
    QCOMPARE(back[1][0][0].toDouble(), 22.53);

    // Entry 4 is the first point of the second file: all of the first is driven.
    Run("SetPlayBackIndex(4, 1)");
    state = State();
    QCOMPARE(state["driven"].toInt(), 4);
    QJsonArray drivenLine = state["drivenLine"].toArray();
    QCOMPARE(drivenLine.size(), 2);
    QCOMPARE(drivenLine[0].toArray().size(), 3);
    QCOMPARE(drivenLine[1].toArray().size(), 1);
    Run("SetPlayBackIndex(1, 1)");  // backwards
    QCOMPARE(State()["drivenLine"].toArray()[0].toArray().size(), 2);

    // A click on the line (or on its driven part) asks the player to go there.
    Run("DravikMap.lines().back[1].fire('click', {latlng: L.latLng(22.535, 113.935)});"
        "DravikMap.lines().driven[0].fire('click', {latlng: L.latLng(22.505, 113.905)})");
    QVERIFY(WaitFor("window.__requests.indexOf('ClickLineCallBack|22.505000|113.905000') >= 0"));
    QVERIFY(Run("window.__requests.indexOf('ClickLineCallBack|22.535000|113.935000')").toInt() >= 0);

    // Only the back line goes; the driven part comes back with it.
    Run("DrawTrackLine(\"B 1\", 22.6, 113.95)");
    Run("OnlyClearLine()");
    state = State();
    QCOMPARE(state["backLine"].toArray().size(), 0);
    QCOMPARE(state["drivenLine"].toArray().size(), 0);
    QCOMPARE(state["liveLine"].toArray().size(), 1);
    Run("CreateGpsBackLine(\"B 1\", '22.500000,113.900000,1;22.510000,113.910000,1;22.520000,113.920000,1;')");
    QCOMPARE(State()["drivenLine"].toArray()[0].toArray().size(), 2);

    Run("MoveCar(\"B 1\", 22.51, 113.91, 0); clearAllTrackLine()");
    state = State();
    QCOMPARE(state["backLine"].toArray().size(), 0);
    QCOMPARE(state["liveLine"].toArray().size(), 0);
    QCOMPARE(state["drivenLine"].toArray().size(), 0);
    QCOMPARE(state["driven"].toInt(), -1);
    QVERIFY(state["car"].isObject());
  }

  // A plate is text: quotes, backslashes, markup and line breaks arrive as
  // they are and nothing in them runs.
  void thePlateIsText() {
    QVERIFY(Open("new_Leaflet_MapDlg.html"));
    const QStringList plates = {
        "</script><img src=x onerror=window.__pwned=1>",
        "A'B\"C\\D</script>\nE\u2028F",
        "<b onmouseover=\"window.__pwned=2\">\u7ca4B\u00b712345</b>",
    };
    for (const QString& plate : plates) {
      Run("MoveCar(" + Literal(plate) + ", 22.5, 113.9, 45)");
      QCOMPARE(State()["car"].toObject()["text"].toString(), plate);
      QCOMPARE(Run("document.querySelector('.dravik-plate').textContent").toString(), plate);
      QCOMPARE(Run("document.querySelectorAll('.dravik-plate *').length").toInt(), 0);
    }
    QCOMPARE(Run("typeof window.__pwned").toString(), QString("undefined"));
    QCOMPARE(Run("document.querySelectorAll('img:not(.leaflet-tile)').length").toInt(), 0);
    Run("MoveCar('', 22.5, 113.9, 45)");  // no plate, no label
    QVERIFY(WaitFor("document.querySelectorAll('.dravik-plate-tip').length === 0"));
  }

  // A moved view is saved with the player; an unchanged one is not saved again.
  void theViewIsSaved_data() { AddPages(); }
  void theViewIsSaved() {
    QFETCH(QString, file);
    QVERIFY(Open(file, "31.230000,121.470000,12"));
    Run("flyto(22.5, 113.9); DravikMap.map().setZoom(15, {animate: false})");
    QVERIFY(WaitFor("window.__requests.indexOf('mapstatesave|22.500000,113.900000,15') >= 0"));
    QCOMPARE(Run("window.__requests.filter(function (r) { return r.indexOf('mapstatesave|31.23') === 0; }).length").toInt(),
             0);
  }

  // Tile numbers: Bing's quadkeys and Baidu's plane, whose numbers are known
  // for one place (Tian'anmen, in Baidu's coordinates).
  void tileNumbers() {
    QVERIFY(Open("new_Bing_MapDlg.html"));
    QCOMPARE(Run("DravikMap.quadKey(3, 5, 3)").toString(), QString("213"));
    QCOMPARE(Run("DravikMap.quadKey(0, 0, 1)").toString(), QString("0"));
    QCOMPARE(Run("DravikMap.quadKey(1, 1, 1)").toString(), QString("3"));
    QCOMPARE(Run("DravikMap.map().setZoom(3, {animate: false}); var c = L.point(3, 5); c.z = 3;"
                 "DravikMap.tileLayer().getTileUrl(c)").toString().section('/', 3),
             QString("tiles/r213.png?g=1"));

    QVERIFY(Open("new_Baidu_MapDlg.html"));
    const QVariantList plane =
        Run("var p = DravikMap.map().options.crs.project(L.latLng(39.915, 116.404)); [p.x, p.y]").toList();
    QVERIFY(std::abs(plane.value(0).toDouble() - 12958175.0) < 0.05);
    QVERIFY(std::abs(plane.value(1).toDouble() - 4825923.77) < 0.05);
    const QString url = Run(
        "var m = DravikMap.map(), c = m.project(L.latLng(39.915, 116.404), 18).divideBy(256).floor();"
        "c.z = 18; m.setZoom(18, {animate: false}); DravikMap.tileLayer().getTileUrl(c)").toString();
    QVERIFY2(url.contains("&x=50617&y=18851&z=18&"), qPrintable(url));
    // Back to degrees through the plane.
    QVERIFY(Run("var m = DravikMap.map(), ll = m.unproject(m.project(L.latLng(22.54321, 113.91234), 9), 9);"
                "Math.abs(ll.lat - 22.54321) < 1e-7 && Math.abs(ll.lng - 113.91234) < 1e-9").toBool());
  }
};

int main(int argc, char** argv) {
  // Chromium's sandbox cannot run as root, and there is no GPU without a display.
  if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  for (const char* flag : {"--no-sandbox", "--disable-gpu"})
    if (!flags.contains(flag)) flags += QByteArray(flags.isEmpty() ? "" : " ") + flag;
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  MapPagesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "MapPagesTest.moc"

#pragma once
// What every map page gets before its own scripts run: Qt's web channel
// client and a small script that defines window.cefQuery and
// window.cefQueryCancel over it, so that a page sends its queries as it would
// to a message router. Queries made before the channel is up wait for it; the
// event "cefQueryReady" tells the page the channel is up.
#include <QString>

class QWebEnginePage;

namespace map {

class CEFSimpleApp {
 public:
  // The name the router object has on the web channel.
  static constexpr const char* kRouterName = "cefRouter";
  // The script that defines cefQuery (after qwebchannel.js).
  static QString QueryScript();
  // Puts both scripts into the page (main world, at document creation).
  static void InstallScripts(QWebEnginePage* page);
};

}  // namespace map

#include "map/CEFSimpleApp.h"

#include <QFile>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace map {

QString CEFSimpleApp::QueryScript() {
  return QStringLiteral(R"JS(
(function () {
  if (window.cefQuery) return;
  var pending = {}, waiting = [], router = null, next = 1;
  function send(id, request) { router.query(id, request); }
  window.cefQuery = function (options) {
    var id = next++;
    pending[id] = options || {};
    var request = String((options && options.request) || "");
    if (router) send(id, request); else waiting.push([id, request]);
    return id;
  };
  window.cefQueryCancel = function (id) { delete pending[id]; };
  new QWebChannel(qt.webChannelTransport, function (channel) {
    router = channel.objects.%1;
    router.answered.connect(function (id, success, code, text) {
      var options = pending[id];
      delete pending[id];
      if (!options) return;
      if (success) { if (options.onSuccess) options.onSuccess(text); }
      else if (options.onFailure) options.onFailure(code, text);
    });
    waiting.forEach(function (q) { send(q[0], q[1]); });
    waiting = [];
    window.dispatchEvent(new Event("cefQueryReady"));
  });
})();
)JS")
      .arg(kRouterName);
}

void CEFSimpleApp::InstallScripts(QWebEnginePage* page) {
  QFile channel(":/qtwebchannel/qwebchannel.js");
  QString channel_script;
  if (channel.open(QIODevice::ReadOnly)) channel_script = QString::fromUtf8(channel.readAll());
  QWebEngineScript script;
  script.setName("dravik-cefquery");
  script.setSourceCode(channel_script + "\n" + QueryScript());
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(false);
  page->scripts().insert(script);
}

}  // namespace map

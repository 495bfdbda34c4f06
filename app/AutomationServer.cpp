#include "app/AutomationServer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace app {

bool AutomationServer::Register() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  if (!bus.registerObject("/", &proxy_, QDBusConnection::ExportAllContents)) return false;
  if (!bus.registerService(kServiceName)) {
    bus.unregisterObject("/");
    return false;
  }
  registered_ = true;
  return true;
}

void AutomationServer::Unregister() {
  if (!registered_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(kServiceName);
  bus.unregisterObject("/");
  registered_ = false;
}

QString AutomationServer::ServiceFilePath() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty() || !QDir::isAbsolutePath(data)) data = QDir::homePath() + "/.local/share";
  return data + "/dbus-1/services/" + kServiceName + ".service";
}

bool AutomationServer::WriteServiceFile(const QString& executable, QString* error) {
  const QString path = ServiceFilePath();
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    if (error) *error = "cannot create the folder of " + path;
    return false;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  // Exec is split at blanks by the bus: a path with blanks is quoted.
  QString exec = executable;
  if (exec.contains(' ')) exec = '"' + exec + '"';
  const QByteArray text = "[D-BUS Service]\nName=" + QByteArray(kServiceName) + "\nExec=" + exec.toUtf8() +
                          " --automation\n";
  if (file.write(text) != text.size() || !file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

bool AutomationServer::RemoveServiceFile(QString* error) {
  QFile file(ServiceFilePath());
  if (!file.exists()) return true;
  if (!file.remove()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace app

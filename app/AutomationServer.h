#pragma once
// The program as an automation service on the session bus: the name
// "QVShow.Application" with an object that offers an empty interface.
// --regserver writes a D-Bus service file for the user, so that the bus can
// start the program on demand (with --automation); --unregserver removes it.
// Without a session bus the program runs on without the service, silently.
#include <QObject>
#include <QString>

namespace app {

class CQVShowDlgAutoProxy : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "QVShow.Application")

 public:
  explicit CQVShowDlgAutoProxy(QObject* parent = nullptr) : QObject(parent) {}
};

class AutomationServer {
 public:
  static constexpr const char* kServiceName = "QVShow.Application";

  // Registers the name and the proxy object; false when there is no session
  // bus or the name is taken.
  bool Register();
  void Unregister();
  bool registered() const { return registered_; }

  // $XDG_DATA_HOME/dbus-1/services/QVShow.Application.service (~/.local/share
  // when unset).
  static QString ServiceFilePath();
  // Written atomically; `error` says why it failed.
  static bool WriteServiceFile(const QString& executable, QString* error);
  static bool RemoveServiceFile(QString* error);

 private:
  CQVShowDlgAutoProxy proxy_;
  bool registered_ = false;
};

}  // namespace app

#pragma once
// The browser client of the map view: the browsers made with it (Qt WebEngine
// views), the query router the pages talk to (created with the first
// browser, released with the last) and the handler the router gives the
// queries to. A client made without a handler takes no query.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>
#include <vector>

#include "map/QueryHandler.h"

class QWebChannel;
class QWebEngineView;
class QWidget;

namespace map {

// The object on the pages' web channel: a query in, its answer out.
class QueryRouter : public QObject {
  Q_OBJECT

 public:
  explicit QueryRouter(QueryHandler* handler, QObject* parent = nullptr) : QObject(parent), handler_(handler) {}
  Q_INVOKABLE void query(int id, const QString& request);
  int queries() const { return queries_; }

 signals:
  void answered(int id, bool success, int code, const QString& text);

 private:
  QueryHandler* handler_;
  int queries_ = 0;
};

class CEFSimpleHandler {
 public:
  explicit CEFSimpleHandler(QueryHandler* handler = nullptr);
  ~CEFSimpleHandler();
  CEFSimpleHandler(const CEFSimpleHandler&) = delete;
  CEFSimpleHandler& operator=(const CEFSimpleHandler&) = delete;

  // A browser for `url` filling `parent`, its page wired to the router.
  QWebEngineView* CreateBrowser(QWidget* parent, const QUrl& url);
  // Closes a browser made here (it is deleted later by Qt).
  void CloseBrowser(QWebEngineView* browser);

  // The first browser still open (any thread may ask; use it on the window's thread).
  QPointer<QWebEngineView> GetFirstBrowser() const;
  int browser_count() const;
  bool IsClosing() const;
  QueryRouter* router() const { return router_.get(); }

 private:
  void OnAfterCreated(QWebEngineView* browser);
  void OnBeforeClose(QWebEngineView* browser);

  QueryHandler* handler_;
  NoQueryHandler no_handler_;
  std::unique_ptr<QueryRouter> router_;
  mutable std::mutex lock_;  // the browser list: read by the map's threads
  std::vector<QPointer<QWebEngineView>> browsers_;
  bool closing_ = false;
};

}  // namespace map

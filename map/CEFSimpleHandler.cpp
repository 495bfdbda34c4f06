#include "map/CEFSimpleHandler.h"

#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <algorithm>

#include "map/CEFSimpleApp.h"

namespace map {

void QueryRouter::query(int id, const QString& request) {
  ++queries_;
  std::string answer;
  const std::string text = request.toStdString();
  // An empty query or one no handler takes fails, as a router's would.
  if (!text.empty() && handler_ && handler_->OnQuery(text, answer)) {
    emit answered(id, true, 0, QString::fromStdString(answer));
    return;
  }
  emit answered(id, false, -1, QStringLiteral("The query was not handled"));
}

CEFSimpleHandler::CEFSimpleHandler(QueryHandler* handler) : handler_(handler) {}

CEFSimpleHandler::~CEFSimpleHandler() {
  std::vector<QPointer<QWebEngineView>> browsers;
  {
    std::lock_guard lock(lock_);
    browsers = browsers_;
  }
  for (const auto& b : browsers)
    if (b) CloseBrowser(b);
}

QWebEngineView* CEFSimpleHandler::CreateBrowser(QWidget* parent, const QUrl& url) {
  auto* view = new QWebEngineView(parent);
  view->setObjectName("mapBrowser");
  view->setContextMenuPolicy(Qt::NoContextMenu);
  CEFSimpleApp::InstallScripts(view->page());
  // The pages are local files that show the providers' tiles.
  view->page()->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  OnAfterCreated(view);
  auto* channel = new QWebChannel(view->page());
  channel->registerObject(CEFSimpleApp::kRouterName, router_.get());
  view->page()->setWebChannel(channel);
  view->setUrl(url);
  return view;
}

void CEFSimpleHandler::OnAfterCreated(QWebEngineView* browser) {
  std::lock_guard lock(lock_);
  browsers_.emplace_back(browser);
  closing_ = false;
  if (!router_) router_ = std::make_unique<QueryRouter>(handler_ ? handler_ : &no_handler_);
}

void CEFSimpleHandler::CloseBrowser(QWebEngineView* browser) {
  {
    std::lock_guard lock(lock_);
    if (browsers_.size() == 1) closing_ = true;
  }
  if (browser && browser->page() && browser->page()->webChannel())
    browser->page()->webChannel()->deregisterObject(router_.get());
  OnBeforeClose(browser);
  if (browser) browser->deleteLater();
}

void CEFSimpleHandler::OnBeforeClose(QWebEngineView* browser) {
  std::lock_guard lock(lock_);
  browsers_.erase(std::remove_if(browsers_.begin(), browsers_.end(),
                                 [&](const QPointer<QWebEngineView>& b) { return !b || b.data() == browser; }),
                  browsers_.end());
  // The router goes with the last browser.
  if (browsers_.empty()) router_.reset();
}

QPointer<QWebEngineView> CEFSimpleHandler::GetFirstBrowser() const {
  std::lock_guard lock(lock_);
  for (const auto& b : browsers_)
    if (b) return b;
  return nullptr;
}

int CEFSimpleHandler::browser_count() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(std::count_if(browsers_.begin(), browsers_.end(), [](const auto& b) { return !b.isNull(); }));
}

bool CEFSimpleHandler::IsClosing() const {
  std::lock_guard lock(lock_);
  return closing_;
}

}  // namespace map

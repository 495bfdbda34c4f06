#pragma once
// What answers the map page's queries: the page sends a text with
// window.cefQuery({request, onSuccess, onFailure}); a handler that takes it
// returns true and the answer goes to onSuccess. A query nobody takes fails.
#include <string>

namespace map {

class QueryHandler {
 public:
  virtual ~QueryHandler() = default;
  virtual bool OnQuery(const std::string& request, std::string& answer) = 0;
};

// Takes no query: the handler of a browser client made without one.
class NoQueryHandler : public QueryHandler {
 public:
  bool OnQuery(const std::string&, std::string&) override { return false; }
};

}  // namespace map

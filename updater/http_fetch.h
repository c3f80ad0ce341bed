#pragma once

#include <string>

namespace updater {

struct FetchResult {
  std::string body;
  unsigned long status = 0;  // HTTP status after redirects; 0 when no response came
  bool ok() const { return status >= 200 && status < 300; }
};

// One GET of `url` into memory over HTTP/1.0, always from the server and never into the cache,
// following redirects. Used for the update list and the update notes.
FetchResult FetchToMemory(const std::string& url);

}  // namespace updater

#include "updater/http_fetch.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>

#include "core/download_rules.h"
#include "core/names.h"
#include "updater/internet.h"

namespace updater {
namespace {

constexpr DWORD kNoCacheFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;

}  // namespace

FetchResult FetchToMemory(const std::string& url) {
  FetchResult result;
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  std::string path(url.size() + 1, '\0');
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return result;
  path.resize(parts.dwUrlPathLength);

  InternetHandle session(InternetOpenA(names::kFetchAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return result;
  InternetHandle connection(
      InternetConnectA(session.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return result;
  // The version is given per request: an HTTP/1.0 GET, as the update server has always seen.
  InternetHandle request(HttpOpenRequestA(connection.get(), "GET", path.c_str(), "HTTP/1.0", nullptr, nullptr,
                                          kNoCacheFlags, 0));
  if (!request || !HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return result;

  DWORD status = 0;
  DWORD size = sizeof status;
  if (HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    result.status = status;
  }
  char length_text[32] = {};
  DWORD length_size = sizeof length_text;
  std::optional<std::uint64_t> content_length;
  if (HttpQueryInfoA(request.get(), HTTP_QUERY_CONTENT_LENGTH, length_text, &length_size, nullptr)) {
    content_length = download::ParseContentLength(length_text);
  }
  char buffer[16384];
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(request.get(), buffer, sizeof buffer, &read)) break;
    if (read == 0) {
      if (download::BodyComplete(content_length, false, result.body.size())) return result;
      break;
    }
    result.body.append(buffer, read);
  }
  // A body cut short is not what the server meant to send: the first half of a list can parse as
  // a shorter list, and would be stored as the local one.
  return {};
}

}  // namespace updater

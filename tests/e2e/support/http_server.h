// A small HTTP/1.x server on 127.0.0.1 for the end-to-end tests. Handlers write raw bytes, so a
// test can send exactly what it needs: a lying Content-Length, a body in pieces, a connection
// dropped halfway, a response held until the test lets it go. Each request is recorded with its
// head byte for byte.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace e2e {

struct HttpRequest {
  std::string method;
  std::string target;   // as sent, undecoded (WinINet sends non-ASCII bytes raw)
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  std::string head;     // request line and header lines, CR LF included, up to the blank line
  std::vector<std::pair<std::string, std::string>> headers;  // in the order sent

  // Value of the first header of that name (case-insensitive), or empty.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

class HttpConnection {
 public:
  explicit HttpConnection(int fd) : fd_(fd) {}
  // False once the peer has gone.
  bool Write(std::string_view bytes);
  // Ends the connection at once (a body cut short, a dropped server).
  void Abort();

 private:
  int fd_;
};

// A gate a handler waits at until the test opens it (or the server stops).
class Gate {
 public:
  void Open();
  // True when opened, false on timeout.
  bool Wait(std::chrono::milliseconds timeout = std::chrono::minutes(2));
  bool WaitForWaiter(std::chrono::milliseconds timeout);  // a request is being held here

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int waiters_ = 0;
};

using HttpHandler = std::function<void(const HttpRequest&, HttpConnection&)>;

// "HTTP/1.1 <status> <reason>" with Content-Length, Connection: close and the extra header lines
// (each ending in CR LF), then the body.
std::string HttpResponse(int status, std::string_view body, std::string_view extra_headers = {});

// A request target in UTF-8 for logs: the programs send GBK bytes raw.
std::string Utf8Target(const std::string& target);

class HttpServer {
 public:
  explicit HttpServer(int port);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool listening() const { return listen_fd_ >= 0; }

  // Exact match on the target as sent; anything unrouted goes to the fallback, by default 404.
  void Route(const std::string& target, HttpHandler handler);
  void SetFallback(HttpHandler handler);
  // Answers unrouted requests below `prefix` with the files below `root`. Request paths arrive
  // in the programs' code page (GBK) and WinINet turns "\" into "/"; the files have the names
  // Linux shows for them (UTF-8). Empty path parts are skipped, ".." is never followed.
  // `on_request` (optional) hears of every answer: target, status, body size.
  void ServeFolder(const std::string& prefix, const std::string& root,
                   std::function<void(const HttpRequest&, int status, std::size_t size)> on_request = {},
                   std::chrono::milliseconds delay = {});
  void ServeBytes(const std::string& target, std::string body, int status = 200, std::string extra_headers = {});
  // Requests to the target wait at the returned gate, then get `body` with `status`.
  std::shared_ptr<Gate> HoldBytes(const std::string& target, std::string body, int status = 200);

  // A gate for a handler of the test's own; opened when the server stops.
  std::shared_ptr<Gate> NewGate();

  std::vector<HttpRequest> Requests() const;
  std::vector<HttpRequest> RequestsFor(const std::string& target) const;
  bool WaitForRequest(const std::string& target, std::chrono::milliseconds timeout) const;

 private:
  void AcceptLoop();
  void Serve(int fd);

  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  mutable std::condition_variable request_seen_;
  std::map<std::string, HttpHandler> routes_;
  HttpHandler fallback_;
  std::vector<HttpRequest> requests_;
  std::vector<std::thread> connections_;
  std::vector<int> open_fds_;
  std::vector<std::shared_ptr<Gate>> gates_;
  bool stopping_ = false;
};

}  // namespace e2e

#include "tests/e2e/support/http_server.h"

#include <arpa/inet.h>
#include <iconv.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>
#include <strings.h>

namespace e2e {
namespace {

const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

bool ParseHead(const std::string& head, HttpRequest& request) {
  const auto line_end = head.find("\r\n");
  const std::string line = head.substr(0, line_end);
  const auto first = line.find(' ');
  const auto last = line.rfind(' ');
  if (first == std::string::npos || last == first) return false;
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, last - first - 1);
  request.version = line.substr(last + 1);
  size_t pos = line_end + 2;
  while (pos < head.size()) {
    const auto end = head.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    const std::string field = head.substr(pos, end - pos);
    const auto colon = field.find(':');
    if (colon != std::string::npos) {
      size_t value_start = colon + 1;
      while (value_start < field.size() && field[value_start] == ' ') ++value_start;
      request.headers.emplace_back(field.substr(0, colon), field.substr(value_start));
    }
    pos = end + 2;
  }
  request.head = head;
  return true;
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  }
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& header) {
    return header.first.size() == name.size() && strncasecmp(header.first.data(), name.data(), name.size()) == 0;
  });
}

bool HttpConnection::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void HttpConnection::Abort() {
  // A zero linger turns the close into a reset: the client sees the connection fail, not end.
  linger hard{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::shutdown(fd_, SHUT_RDWR);
}

void Gate::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  changed_.notify_all();
}

bool Gate::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++waiters_;
  changed_.notify_all();
  const bool opened = changed_.wait_for(lock, timeout, [&] { return open_; });
  --waiters_;
  return opened;
}

bool Gate::WaitForWaiter(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return waiters_ > 0; });
}

std::string HttpResponse(int status, std::string_view body, std::string_view extra_headers) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) + "\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "Connection: close\r\n";
  response += extra_headers;
  response += "\r\n";
  response += body;
  return response;
}

HttpServer::HttpServer(int port) {
  // Close-on-exec everywhere: a Wine process started by the test would otherwise inherit the
  // listening socket, and Wine's long-lived helpers would keep the port taken after the test.
  if (pipe2(wake_pipe_, O_CLOEXEC) != 0) return;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    return;
  }
  listen_fd_ = fd;
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& gate : gates_) gate->Open();
    for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
  }
  if (wake_pipe_[1] >= 0) (void)!::write(wake_pipe_[1], "x", 1);
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) connection.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
  for (int fd : wake_pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void HttpServer::Route(const std::string& target, HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[target] = std::move(handler);
}

void HttpServer::SetFallback(HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  fallback_ = std::move(handler);
}

namespace {

std::string Utf8FromGbk(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(gbk.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t in_left = gbk.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  const bool ok = iconv(cd, &in, &in_left, &out_ptr, &out_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return {};
  out.resize(out.size() - out_left);
  return out;
}

// The file a request names below `root`, or empty when it names none or tries to leave it.
std::filesystem::path ResolveBelow(const std::filesystem::path& root, const std::string& relative_gbk) {
  const std::string relative = Utf8FromGbk(relative_gbk);
  if (relative.empty() && !relative_gbk.empty()) return {};
  std::filesystem::path path = root;
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = std::min(relative.find('/', start), relative.size());
    const std::string part = relative.substr(start, end - start);
    if (part == "..") return {};
    if (!part.empty() && part != ".") path /= part;
    start = end + 1;
  }
  return std::filesystem::is_regular_file(path) ? path : std::filesystem::path{};
}

}  // namespace

std::string Utf8Target(const std::string& target) {
  const std::string utf8 = Utf8FromGbk(target);
  return utf8.empty() ? target : utf8;
}

void HttpServer::ServeFolder(const std::string& prefix, const std::string& root,
                             std::function<void(const HttpRequest&, int, std::size_t)> on_request,
                             std::chrono::milliseconds delay) {
  SetFallback([=](const HttpRequest& request, HttpConnection& connection) {
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    std::filesystem::path file;
    if (request.target.rfind(prefix, 0) == 0) file = ResolveBelow(root, request.target.substr(prefix.size()));
    if (file.empty()) {
      if (on_request) on_request(request, 404, 0);
      connection.Write(HttpResponse(404, "<html><body>404 Not Found</body></html>"));
      return;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (on_request) on_request(request, 200, body.str().size());
    connection.Write(HttpResponse(200, body.str()));
  });
}

void HttpServer::ServeBytes(const std::string& target, std::string body, int status, std::string extra_headers) {
  Route(target, [body = std::move(body), status, extra_headers = std::move(extra_headers)](
                    const HttpRequest&, HttpConnection& connection) {
    connection.Write(HttpResponse(status, body, extra_headers));
  });
}

std::shared_ptr<Gate> HttpServer::NewGate() {
  auto gate = std::make_shared<Gate>();
  std::lock_guard<std::mutex> lock(mutex_);
  gates_.push_back(gate);
  if (stopping_) gate->Open();
  return gate;
}

std::shared_ptr<Gate> HttpServer::HoldBytes(const std::string& target, std::string body, int status) {
  auto gate = NewGate();
  Route(target, [gate, body = std::move(body), status](const HttpRequest&, HttpConnection& connection) {
    gate->Wait();
    connection.Write(HttpResponse(status, body));
  });
  return gate;
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<HttpRequest> HttpServer::RequestsFor(const std::string& target) const {
  std::vector<HttpRequest> matching;
  for (auto& request : Requests()) {
    if (request.target == target) matching.push_back(std::move(request));
  }
  return matching;
}

bool HttpServer::WaitForRequest(const std::string& target, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return request_seen_.wait_for(lock, timeout, [&] {
    return std::any_of(requests_.begin(), requests_.end(), [&](const auto& r) { return r.target == target; });
  });
}

void HttpServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    open_fds_.push_back(fd);
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void HttpServer::Serve(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    head.append(buffer, static_cast<size_t>(got));
  }
  HttpRequest request;
  const auto end = head.find("\r\n\r\n");
  if (end != std::string::npos && ParseHead(head.substr(0, end + 4), request)) {
    HttpHandler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      request_seen_.notify_all();
      const auto route = routes_.find(request.target);
      handler = route != routes_.end() ? route->second : fallback_;
    }
    HttpConnection connection(fd);
    if (handler) {
      handler(request, connection);
    } else {
      connection.Write(HttpResponse(404, "<html><body>404 Not Found</body></html>"));
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_fds_.erase(std::remove(open_fds_.begin(), open_fds_.end(), fd), open_fds_.end());
  }
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

}  // namespace e2e

// The demo's loopback servers: the update server, serving a published folder below
// /Brantovo/Lessira/, and a stand-in for the web chat service. Prints one line per request.
//
//   demo_server --root <folder> [--port 8631] [--chat-port 8632] [--delay-ms 0] [--seconds 600]
//
// Request paths arrive in the programs' code page (GBK) and WinINet turns "\" into "/"; the
// published folder has the names as Linux shows them, in UTF-8.
#include <iconv.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/e2e/support/http_server.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUpdatePath[] = "/Brantovo/Lessira/";
constexpr char kChatPath[] = "/WebModule/chat/p.do";

std::atomic<bool> g_stop{false};

std::string Utf8FromGbk(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return gbk;
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

// The file a request names below the root, or empty when it names none or tries to leave it.
fs::path Resolve(const fs::path& root, const std::string& target) {
  if (target.rfind(kUpdatePath, 0) != 0) return {};
  std::string relative = Utf8FromGbk(target.substr(std::strlen(kUpdatePath)));
  fs::path path = root;
  std::stringstream parts(relative);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return {};
    path /= part;
  }
  return fs::is_regular_file(path) ? path : fs::path{};
}

const char kChatPage[] =
    "<html><head><title>Support chat</title></head>"
    "<body style=\"font-family: sans-serif\"><h2>Support chat (demo stand-in)</h2>"
    "<p>The product's chat page opens here.</p></body></html>";

}  // namespace

int main(int argc, char** argv) {
  fs::path root;
  int port = 8631;
  int chat_port = 8632;
  int delay_ms = 0;
  int seconds = 600;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--root") root = argv[i + 1];
    else if (option == "--port") port = std::atoi(argv[i + 1]);
    else if (option == "--chat-port") chat_port = std::atoi(argv[i + 1]);
    else if (option == "--delay-ms") delay_ms = std::atoi(argv[i + 1]);
    else if (option == "--seconds") seconds = std::atoi(argv[i + 1]);
  }
  if (root.empty() || !fs::is_directory(root)) {
    std::fprintf(stderr, "demo_server: --root must name the published folder\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  e2e::HttpServer update(port);
  e2e::HttpServer chat(chat_port);
  if (!update.listening() || !chat.listening()) {
    std::fprintf(stderr, "demo_server: port %d or %d is taken\n", port, chat_port);
    return 1;
  }
  update.SetFallback([&](const e2e::HttpRequest& request, e2e::HttpConnection& connection) {
    if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    const fs::path file = Resolve(root, request.target);
    if (file.empty()) {
      std::printf("update server: %s %s -> 404\n", request.method.c_str(), Utf8FromGbk(request.target).c_str());
      connection.Write(e2e::HttpResponse(404, "<html><body>404 Not Found</body></html>"));
      return;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    std::printf("update server: %s %s -> 200 (%zu bytes)\n", request.method.c_str(),
                Utf8FromGbk(request.target).c_str(), body.str().size());
    connection.Write(e2e::HttpResponse(200, body.str()));
  });
  chat.SetFallback([&](const e2e::HttpRequest& request, e2e::HttpConnection& connection) {
    const bool page = request.target.rfind(kChatPath, 0) == 0;
    std::printf("chat service: %s %s -> %d\n", request.method.c_str(), request.target.c_str(), page ? 200 : 404);
    connection.Write(page ? e2e::HttpResponse(200, kChatPage, "Content-Type: text/html\r\n")
                          : e2e::HttpResponse(404, ""));
  });
  std::printf("demo_server: update server http://127.0.0.1:%d%s, chat service http://127.0.0.1:%d%s\n", port,
              kUpdatePath, chat_port, kChatPath);

  std::signal(SIGTERM, [](int) { g_stop = true; });
  std::signal(SIGINT, [](int) { g_stop = true; });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!g_stop && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

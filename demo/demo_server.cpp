// The demo's loopback servers: the update server, serving a published folder below
// /Brantovo/Lessira/, and a stand-in for the web chat service. Prints one line per request.
//
//   demo_server --root <folder> [--port 8631] [--chat-port 8632] [--delay-ms 0] [--seconds 600]
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/e2e/support/http_server.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUpdatePath[] = "/Brantovo/Lessira/";
constexpr char kChatPath[] = "/WebModule/chat/p.do";

std::atomic<bool> g_stop{false};

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
  update.ServeFolder(kUpdatePath, root.string(),
                     [](const e2e::HttpRequest& request, int status, std::size_t size) {
                       std::printf("update server: %s %s -> %d (%zu bytes)\n", request.method.c_str(),
                                   e2e::Utf8Target(request.target).c_str(), status, size);
                     },
                     std::chrono::milliseconds(delay_ms));
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

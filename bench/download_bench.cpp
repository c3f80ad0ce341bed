// The file download beside a bare synchronous WinINet read loop with the same 10240-byte buffer,
// one after the other from the same server, each storing the body into a file of its own: what
// the download adds on top of reading and writing the bytes (its asynchronous mode, the checks,
// one progress report per chunk).
//
//   download_bench <url> <folder ending in "\"> <download first: 1|0>
//
// Prints "<name> <milliseconds> <bytes>" for "download" and "bare", then the number of progress
// reports; bench/download_bench.sh runs it and curl in rounds against one loopback server and
// prints the medians and their ratios.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "updater/download.h"
#include "win/handles.h"

namespace {

constexpr DWORD kBufferSize = 10240;

std::int64_t g_reported = 0;

void CountReport(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { ++g_reported; }

double NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct InternetCloser {
  void operator()(HINTERNET handle) const noexcept { InternetCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

// The plainest way WinINet fetches a URL into a file: blocking reads, no checks.
std::int64_t BareLoop(const std::string& url, const std::string& file) {
  const UniqueInternet session(InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr,
                                             nullptr, 0));
  if (!session) return -1;
  const UniqueInternet request(InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0,
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!request) return -1;
  const win::UniqueFile out(
      CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) return -1;
  std::vector<char> buffer(kBufferSize);
  std::int64_t total = 0;
  DWORD read = 0;
  while (InternetReadFile(request.get(), buffer.data(), kBufferSize, &read) && read > 0) {
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) return -1;
    total += read;
  }
  return total;
}

std::int64_t FileSize(const std::string& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The download, timed; -1 bytes when it failed.
std::pair<double, std::int64_t> TimeDownload(const std::string& url, const std::string& folder) {
  const double start = NowMs();
  const int result = updater::DownloadToFile(url, folder, "download.bin", CountReport, 0, false);
  const double ms = NowMs() - start;
  const std::int64_t bytes = result == 0 ? FileSize(folder + "download.bin") : -1;
  DeleteFileA((folder + "download.bin").c_str());
  return {ms, bytes};
}

std::pair<double, std::int64_t> TimeBareLoop(const std::string& url, const std::string& folder) {
  const double start = NowMs();
  const std::int64_t bytes = BareLoop(url, folder + "bare.bin");
  const double ms = NowMs() - start;
  DeleteFileA((folder + "bare.bin").c_str());
  return {ms, bytes};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_bench <url> <folder ending in \\> <download-first 1|0>\n");
    return 2;
  }
  const std::string url = argv[1];
  const std::string folder = argv[2];
  // The order alternates between rounds, so neither side always meets a cold connection.
  const bool download_first = std::strcmp(argv[3], "1") == 0;
  std::pair<double, std::int64_t> download, bare;
  if (download_first) {
    download = TimeDownload(url, folder);
    bare = TimeBareLoop(url, folder);
  } else {
    bare = TimeBareLoop(url, folder);
    download = TimeDownload(url, folder);
  }
  std::printf("download %.1f %lld\n", download.first, static_cast<long long>(download.second));
  std::printf("bare %.1f %lld\n", bare.first, static_cast<long long>(bare.second));
  std::printf("reports %lld\n", static_cast<long long>(g_reported));
  return download.second > 0 && download.second == bare.second ? 0 : 1;
}

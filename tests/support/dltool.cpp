// Runs one file download the way the updater does, for the end-to-end tests:
//
//   dltool <url> <folder> <file name> <start offset> <resume 0|1> [<stop file>]
//
// Prints one "progress <total> <received> <elapsed> <new bytes>" line per progress report, then
// "result <code>". Message boxes are shown as the updater shows them; the test answers them.
// With a stop file, a second thread waits for that file to appear and then aborts the transfers
// as the closing window does; it prints "stop <1|0>": whether the download returned within the
// second the window allows for it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "updater/download.h"
#include "updater/internet.h"

namespace {

// The window's thread waits this long for a stopping worker before it ends the process.
constexpr DWORD kStopBoundMs = 1000;
constexpr DWORD kPollMs = 10;

void PrintProgress(std::int32_t total, std::int32_t received, std::int32_t elapsed, std::int32_t new_bytes) {
  std::printf("progress %ld %ld %ld %ld\n", static_cast<long>(total), static_cast<long>(received),
              static_cast<long>(elapsed), static_cast<long>(new_bytes));
  std::fflush(stdout);  // the test watches the reports as they come
}

// Signalled when the download has returned.
HANDLE g_returned = nullptr;

void StopOnFile(const std::string& stop_file) {
  while (GetFileAttributesA(stop_file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (WaitForSingleObject(g_returned, kPollMs) == WAIT_OBJECT_0) return;  // never asked to stop
  }
  updater::AbortInternetTransfers();
  const bool in_time = WaitForSingleObject(g_returned, kStopBoundMs) == WAIT_OBJECT_0;
  std::printf("stop %d\n", in_time ? 1 : 0);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: dltool <url> <folder> <file name> <start offset> <resume 0|1> [<stop file>]\n");
    return 2;
  }
  g_returned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread stopper;
  if (argc == 7) stopper = std::thread(StopOnFile, std::string(argv[6]));
  const int result = updater::DownloadToFile(argv[1], argv[2], argv[3], PrintProgress,
                                             static_cast<std::int32_t>(std::strtol(argv[4], nullptr, 10)),
                                             std::strcmp(argv[5], "1") == 0);
  SetEvent(g_returned);
  if (stopper.joinable()) stopper.join();
  std::printf("result %d\n", result);
  std::fflush(stdout);
  CloseHandle(g_returned);
  return 0;
}

#include "updater/internet.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace updater {
namespace {

std::mutex g_mutex;
std::vector<HINTERNET> g_live;
bool g_aborted = false;

}  // namespace

InternetHandle::InternetHandle(HINTERNET handle) {
  if (handle == nullptr) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_aborted) {
    InternetCloseHandle(handle);
    return;
  }
  g_live.push_back(handle);
  handle_ = handle;
}

void InternetHandle::reset() {
  if (handle_ == nullptr) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto live = std::find(g_live.begin(), g_live.end(), handle_);
  if (live != g_live.end()) {  // not closed by an abort already
    g_live.erase(live);
    InternetCloseHandle(handle_);
  }
  handle_ = nullptr;
}

void AbortInternetTransfers() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_aborted = true;
  // Children first: closing a request before its session is what WinINet expects.
  for (auto it = g_live.rbegin(); it != g_live.rend(); ++it) InternetCloseHandle(*it);
  g_live.clear();
}

bool InternetTransfersAborted() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_aborted;
}

}  // namespace updater

// WinINet handles of the worker that the window's thread can close to abort a blocking call:
// closing the handle is WinINet's way to cancel a synchronous operation in progress. Each handle
// is closed exactly once, by the worker at the end of its scope or by the abort, whichever comes
// first; once aborted, every handle registered later is closed at once.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

namespace updater {

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle);
  ~InternetHandle() { reset(); }
  InternetHandle(InternetHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  InternetHandle& operator=(InternetHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset();

 private:
  HINTERNET handle_ = nullptr;
};

// Window's thread: closes every live handle of the worker and refuses new ones.
void AbortInternetTransfers();
bool InternetTransfersAborted();

}  // namespace updater

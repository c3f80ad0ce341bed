#include "updater/download.h"

#include <windows.h>
#include <wininet.h>

#include <array>
#include <optional>
#include <utility>

#include "core/download_rules.h"
#include "core/texts.h"
#include "updater/internet.h"
#include "updater/state.h"

namespace updater {
namespace {

// Always from the server, never into the cache: a cached copy of an older file would be
// "downloaded" again after every update of it.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kRequestFlags == 0x84000100);

enum class Outcome {
  kStored,
  kNoSession,
  kUrlNotOpened,  // also: an answer outside 2xx
  kLocalFileNotOpened,
  kReadFailed,  // also: a body shorter than announced, a failed write
  kStopped,     // the window is closing
};

bool StopRequested() { return State().stop_requested || InternetTransfersAborted(); }

// The local file, published in the download-file global while it is open so that the window's
// thread can close it when the worker could not.
class LocalFile {
 public:
  LocalFile(const std::string& path, const download::LocalWrite& plan) : path_(path) {
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          plan.append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return;
    State().download_file = handle_;
    if (plan.append && !SetFilePointerEx(handle_, LARGE_INTEGER{}, nullptr, FILE_END)) Close();
  }
  ~LocalFile() { Close(); }
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;

  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

  bool Write(const char* data, DWORD size) {
    while (size > 0) {
      DWORD written = 0;
      if (!WriteFile(handle_, data, size, &written, nullptr) || written == 0) return false;
      data += written;
      size -= written;
    }
    return true;
  }

  void Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    HANDLE mine = std::exchange(handle_, INVALID_HANDLE_VALUE);
    // When the global no longer holds it, the window's thread has closed it already.
    if (State().download_file.compare_exchange_strong(mine, INVALID_HANDLE_VALUE)) CloseHandle(mine);
  }

  // A file that did not come in whole must not stay where the promotion would take it for one.
  void Remove() {
    Close();
    DeleteFileA(path_.c_str());
  }

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

std::uint32_t QueryStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
  return status;
}

// Empty when the header is missing or longer than any value of interest here.
std::string QueryText(HINTERNET request, DWORD query) {
  char text[64] = {};
  DWORD size = sizeof text;
  if (!HttpQueryInfoA(request, query, text, &size, nullptr)) return {};
  return std::string(text, size);
}

// WinINet runs in its asynchronous mode for one reason: the window's thread must be able to stop
// a download promptly. Under Wine, closing the handles does not wake a synchronous read that
// waits for a stalled server; it returns only when the server sends or closes. An operation that
// is pending is instead waited for in short slices, with a look at the stop request between them.
//
// What a pending operation may still touch after the download gave up on it (the completion
// event, the result, the buffer a read may fill) lives here, for the whole run: a download that
// stops while an operation is pending returns without it, and that operation may complete at any
// later time. Downloads run one at a time on the worker, and none starts after a stop.
class Channel {
 public:
  static Channel& Get() {
    static Channel* const channel = new Channel;  // never destroyed: late completions may still come
    return *channel;
  }

  static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || context == 0) return;
    auto* channel = reinterpret_cast<Channel*>(context);
    channel->result_ = *static_cast<const INTERNET_ASYNC_RESULT*>(info);
    SetEvent(channel->completed_);
  }

  DWORD_PTR context() { return reinterpret_cast<DWORD_PTR>(this); }
  char* buffer() { return buffer_.data(); }

  // Waits for the pending operation's completion; nothing when a stop came first.
  std::optional<INTERNET_ASYNC_RESULT> Wait() {
    while (WaitForSingleObject(completed_, kStopCheckMs) == WAIT_TIMEOUT) {
      if (StopRequested()) return std::nullopt;
    }
    return result_;
  }

  enum class ReadResult { kRead, kFailed, kStopped };

  // Reads what has arrived, up to one chunk, into buffer(); waits only while nothing has. So a
  // body that comes in pieces is reported piece by piece, and a wait can end with a stop. A read
  // of 0 bytes is the end of the body.
  ReadResult Read(HINTERNET request, DWORD* read) {
    for (;;) {
      buffers_ = {};
      buffers_.dwStructSize = sizeof buffers_;
      buffers_.lpvBuffer = buffer_.data();
      buffers_.dwBufferLength = download::kChunkSize;
      if (InternetReadFileExA(request, &buffers_, IRF_NO_WAIT, context())) {
        *read = buffers_.dwBufferLength;
        return ReadResult::kRead;
      }
      if (GetLastError() != ERROR_IO_PENDING) return ReadResult::kFailed;
      // Nothing had arrived: WinINet reports when something has, and the read is made again.
      const std::optional<INTERNET_ASYNC_RESULT> waited = Wait();
      if (!waited) return ReadResult::kStopped;
      if (!waited->dwResult) return ReadResult::kFailed;
    }
  }

 private:
  // How often a wait looks at the stop request; the window gives a stopping worker a second.
  static constexpr DWORD kStopCheckMs = 100;

  // Auto-reset: each completion wakes the one wait for it. Only an operation that went pending
  // completes through here, and each such one is waited for once (or never again, after a stop),
  // so no signal is ever left over; nothing has to be reset before each read, which would cost a
  // round trip to the Wine server per chunk.
  Channel() : completed_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

  HANDLE completed_;
  INTERNET_ASYNC_RESULT result_{};
  INTERNET_BUFFERSA buffers_{};
  std::array<char, download::kChunkSize> buffer_{};
};

Outcome Download(const std::string& url, const std::string& folder, const std::string& file_name,
                 DownloadProgress progress, std::int32_t start_offset, bool resume) {
  Channel& channel = Channel::Get();
  DWORD connection_flags = 0;
  InternetGetConnectedState(&connection_flags, 0);  // only its proxy flag matters
  const std::string agent = download::AgentFor(GetTickCount());
  InternetHandle session(InternetOpenA(agent.c_str(), download::AccessTypeFor(connection_flags), nullptr,
                                       nullptr, INTERNET_FLAG_ASYNC));
  if (!session) return StopRequested() ? Outcome::kStopped : Outcome::kNoSession;

  // The header block offers gzip; with decoding on, the file receives the bytes the server
  // compressed, not the compressed stream. It takes effect only when set on the session before
  // the request exists.
  BOOL decode = TRUE;
  InternetSetOptionA(session.get(), INTERNET_OPTION_HTTP_DECODING, &decode, sizeof decode);
  // The request inherits the callback; without it no completion would ever be seen.
  if (InternetSetStatusCallbackA(session.get(), &Channel::OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
    return Outcome::kNoSession;
  }

  const std::string headers = download::RequestHeaders(resume, start_offset);
  HINTERNET opened = InternetOpenUrlA(session.get(), url.c_str(), headers.c_str(),
                                      static_cast<DWORD>(headers.size()), kRequestFlags, channel.context());
  if (opened == nullptr && GetLastError() == ERROR_IO_PENDING) {
    const std::optional<INTERNET_ASYNC_RESULT> waited = channel.Wait();
    if (!waited) return Outcome::kStopped;
    opened = reinterpret_cast<HINTERNET>(waited->dwResult);
  }
  InternetHandle request(opened);
  if (!request) return StopRequested() ? Outcome::kStopped : Outcome::kUrlNotOpened;
  const std::uint32_t status = QueryStatus(request.get());
  if (!download::IsSuccessStatus(status)) return Outcome::kUrlNotOpened;

  if (StopRequested()) return Outcome::kStopped;
  const download::LocalWrite plan = download::PlanLocalWrite(resume, start_offset, status);
  if (!download::IsPlainFileName(file_name)) return Outcome::kLocalFileNotOpened;
  LocalFile file(folder + file_name, plan);
  if (!file.is_open()) return Outcome::kLocalFileNotOpened;
  // Resuming keeps what it has, even after starting over; anything else that ends early leaves
  // nothing behind.
  auto give_up = [&](Outcome outcome) {
    if (!resume) file.Remove();
    return outcome;
  };

  const std::optional<std::uint64_t> length =
      download::ParseContentLength(QueryText(request.get(), HTTP_QUERY_CONTENT_LENGTH));
  const bool decoded = download::IsDecodedEncoding(QueryText(request.get(), HTTP_QUERY_CONTENT_ENCODING));
  const std::int32_t total = download::ReportedTotal(length);

  std::uint64_t received = static_cast<std::uint64_t>(plan.start_offset);
  std::uint64_t body_bytes = 0;
  const DWORD start = GetTickCount();
  for (;;) {
    if (StopRequested()) return give_up(Outcome::kStopped);
    DWORD read = 0;
    const Channel::ReadResult result = channel.Read(request.get(), &read);
    if (result == Channel::ReadResult::kStopped) return give_up(Outcome::kStopped);
    if (result == Channel::ReadResult::kFailed) {
      return give_up(StopRequested() ? Outcome::kStopped : Outcome::kReadFailed);
    }
    if (read == 0) break;
    const auto part = static_cast<DWORD>(download::BodyPartOf(length, decoded, body_bytes, read));
    if (part == 0) break;  // only bytes after the announced end
    if (!file.Write(channel.buffer(), part)) return give_up(Outcome::kReadFailed);
    received += part;
    body_bytes += part;
    if (progress != nullptr) {
      progress(total, static_cast<std::int32_t>(static_cast<std::uint32_t>(received)),
               download::ReportedElapsed(GetTickCount() - start),
               static_cast<std::int32_t>(static_cast<std::uint32_t>(received - plan.start_offset)));
    }
    if (length && !decoded && body_bytes == *length) break;  // whole: what may follow is not the file's
  }
  if (!download::BodyComplete(length, decoded, body_bytes)) return give_up(Outcome::kReadFailed);
  file.Close();
  return Outcome::kStored;
}

const char* FailureText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kNoSession: return texts::kInternetError;
    case Outcome::kUrlNotOpened: return texts::kCannotOpenUrl;
    case Outcome::kLocalFileNotOpened: return texts::kCannotOpenLocalFile;
    case Outcome::kReadFailed: return texts::kReadError;
    case Outcome::kStored:
    case Outcome::kStopped: break;
  }
  return nullptr;
}

}  // namespace

int DownloadToFile(const std::string& url, const std::string& folder, const std::string& file_name,
                   DownloadProgress progress, std::int32_t start_offset, bool resume) {
  Outcome outcome = Download(url, folder, file_name, progress, start_offset, resume);
  if (outcome == Outcome::kStored) return 0;
  // A window that is going away asks no questions: the box would keep the worker from ending.
  if (outcome != Outcome::kStopped && StopRequested()) outcome = Outcome::kStopped;
  if (const char* text = FailureText(outcome)) {
    MessageBoxA(nullptr, text, texts::kMessageCaption, MB_OK | MB_TASKMODAL);
  }
  return -1;
}

void CloseDownloadFile() {
  HANDLE file = State().download_file.exchange(INVALID_HANDLE_VALUE);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace updater

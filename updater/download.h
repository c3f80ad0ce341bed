// Download of one URL into one local file over WinINet, reporting every chunk. Runs on the worker;
// failures are told to the user in a task-modal box, except when the window is closing.
#pragma once

#include <cstdint>
#include <string>

namespace updater {

// total (Content-Length, 0 when none was sent), received (bytes in the local file counting the
// start offset; low 32 bits), elapsed ms since the first read (never 0), new bytes (received by
// this call).
using DownloadProgress = void (*)(std::int32_t total, std::int32_t received, std::int32_t elapsed,
                                  std::int32_t new_bytes);

// Stores the body of `url` as folder + file_name (joined as they are). With `resume`, asks for the
// bytes from `start_offset` on and appends them to the file; a server that sends the whole file
// instead makes it start over. Only a 2xx answer is stored, and only a whole one: a file that did
// not come in complete is removed, unless resuming, which is what it is kept for. Returns 0 when
// the whole response was stored, -1 on any failure. AbortInternetTransfers (or stop_requested)
// ends a call in progress within about a second, without a box.
int DownloadToFile(const std::string& url, const std::string& folder, const std::string& file_name,
                   DownloadProgress progress, std::int32_t start_offset, bool resume);

// Window's thread, once the worker has stopped: closes the local file of a download that never
// got to close it. Does nothing when no file is open.
void CloseDownloadFile();

}  // namespace updater

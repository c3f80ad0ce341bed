#include "updater/worker.h"

#include <optional>
#include <string>
#include <vector>

#include "core/update_check.h"
#include "updater/download_pass.h"
#include "updater/http_fetch.h"
#include "updater/state.h"
#include "win/handles.h"

namespace updater {
namespace {

constexpr unsigned kFinishPeriodMs = 1000;
constexpr int kExpandedHeight = 300;

// The check's view of the window and the system. Window writes go through the command queue;
// once the window is closing nothing more is written to disk.
class WorkerPlatform final : public update_check::Platform {
 public:
  void SetStatusLine(const std::string& text) override {
    Commands().Push(ui::SetText{ui::Control::StatusLine, text});
  }

  std::string FetchToMemory(const std::string& url) override {
    FetchResult fetched = updater::FetchToMemory(url);
    // An error page is not a list, even one that happens to parse: it must never be compared,
    // nor stored as the local list.
    return fetched.ok() ? std::move(fetched.body) : std::string();
  }

  std::optional<std::string> ReadWholeFile(const std::string& path) override {
    win::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
  }

  void AppendRow(const update_check::Row& row) override {
    rows.push_back(row);
    Commands().Push(ui::AppendRow{row.version, row.name, row.folder});
  }

  bool ProbeFindsAnything(const std::string& path) override {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
  }

  void MakeDirectory(const std::string& path) override {
    if (!State().stop_requested) CreateDirectoryA(path.c_str(), nullptr);
  }

  // The rows as listed, in list order: the download pass works from these.
  std::vector<update_check::Row> rows;
};

void ShowExpandedWindow() {
  ui::CommandQueue& commands = Commands();
  commands.Push(ui::SetWindowHeight{kExpandedHeight});
  commands.Push(ui::SetVisible{ui::Control::StatusLine, false});
  commands.Push(ui::SetVisible{ui::Control::ProgressBar, true});
  commands.Push(ui::SetVisible{ui::Control::FileList, true});
  commands.Push(ui::SetVisible{ui::Control::StateLabel, true});
  commands.Push(ui::SetVisible{ui::Control::StatusBar, true});
}

}  // namespace

DWORD WINAPI WorkerMain(void*) {
  RunState& state = State();
  WorkerPlatform platform;
  update_check::Result checked = update_check::Run(platform, UPDATE_BASE_URL, state.run_directory);
  if (state.stop_requested) return 0;
  state.list_bytes = std::move(checked.list_bytes);
  if (checked.outcome == update_check::Outcome::kUpdatesFound) {
    ShowExpandedWindow();
    RunDownloadPass(platform.rows);
    if (state.stop_requested) return 0;
  }
  // The timer comes last: its tick waits for this thread, so no write to the window may follow.
  Commands().Push(ui::SetTimerPeriod{kFinishPeriodMs});
  return 0;
}

}  // namespace updater

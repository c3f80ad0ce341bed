#include "updater/download_pass.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "core/names.h"
#include "core/path.h"
#include "core/texts.h"
#include "updater/download.h"
#include "updater/http_fetch.h"
#include "updater/promotion.h"
#include "updater/state.h"
#include "win/handles.h"

namespace updater {
namespace {

// Runs on the worker inside every download, after each chunk: only the latest values of a row
// matter, and the queue keeps just those until the window takes them.
void ShowProgress(std::int32_t total, std::int32_t received, std::int32_t elapsed, std::int32_t new_bytes) {
  Commands().Push(ui::Progress{State().current_row, total, received, elapsed, new_bytes});
}

std::string NotesText(const FetchResult& notes) {
  if (!notes.ok()) return {};
  // The notes are shown as text: up to the first zero byte, with no code-page conversion.
  return std::string(notes.body.c_str(), std::strlen(notes.body.c_str()));
}

// The whole list as the server sent it, replacing the file: the next run compares against it.
void StoreList(const std::string& path, const std::string& bytes) {
  win::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  if (!file.valid()) return;
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void RunDownloadPass(const std::vector<update_check::Row>& rows) {
  RunState& state = State();
  const std::string base_url = UPDATE_BASE_URL;
  Commands().Push(ui::SetText{ui::Control::Notes, NotesText(FetchToMemory(base_url + names::kUpdateNotes))});

  bool every_file_downloaded = true;
  std::vector<std::string> temporaries;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (state.stop_requested) return;
    state.current_row = static_cast<int>(row);
    const update_check::Row& entry = rows[row];
    const std::string folder = path::Join(state.run_directory, entry.folder);
    const std::string temporary = entry.name + names::kTemporarySuffix;
    if (entry.refused) {
      // A name or folder that would reach outside the application folder is never fetched; the
      // user hears of it as of any file that cannot be written.
      MessageBoxA(nullptr, texts::kCannotOpenLocalFile, texts::kMessageCaption, MB_OK | MB_TASKMODAL);
      every_file_downloaded = false;
      continue;
    }
    if (DownloadToFile(base_url + entry.folder + entry.name, folder, temporary, ShowProgress, 0, false) != 0) {
      every_file_downloaded = false;
      continue;
    }
    temporaries.push_back(folder + temporary);
  }
  if (state.stop_requested) return;

  promotion::PromoteTemporaries(state.run_directory);
  // The list records what this folder now holds. After a failed file it stays as it was, so the
  // next run offers that file again instead of believing it is up to date.
  if (every_file_downloaded && promotion::AllPromoted(temporaries) && !state.stop_requested) {
    StoreList(path::Join(state.run_directory, names::kUpdateList), state.list_bytes);
  }
}

}  // namespace updater

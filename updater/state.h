// State that lives for the whole run of the updater. The worker writes the list bytes and the
// current row; the window's thread reads them only after the worker has ended.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "core/ui_commands.h"
#include "win/version_info.h"

namespace updater {

struct RunState {
  std::string run_directory;
  std::string executable_name;
  win::VersionRecord version_record;
  std::string version_text;  // " V" + file version
  HANDLE worker = nullptr;
  std::string list_bytes;    // the update list as fetched, stored as the new local list at the end
  int current_row = 0;
  // The local file of the download in progress, or INVALID_HANDLE_VALUE. Whoever takes it out
  // closes it: the download when it ends, the window's thread when the window goes after the
  // worker has stopped (see CloseDownloadFile).
  std::atomic<HANDLE> download_file{INVALID_HANDLE_VALUE};
  // Set by the window's thread when the window goes: the worker stops at its next step and
  // touches nothing more on disk.
  std::atomic<bool> stop_requested{false};
};

RunState& State();

// The worker's way to the window: commands are applied on the window's thread.
ui::CommandQueue& Commands();

}  // namespace updater

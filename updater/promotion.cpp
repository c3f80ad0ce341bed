#include "updater/promotion.h"

#include <windows.h>

#include <optional>
#include <utility>

#include "core/path.h"
#include "core/promotion_rules.h"
#include "win/module.h"

namespace promotion {
namespace {

// A find-first/find-next enumeration: closed with FindClose, failure is INVALID_HANDLE_VALUE.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : handle_(h) {}
  FindHandle(FindHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  FindHandle& operator=(FindHandle&&) = delete;
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) FindClose(handle_);
  }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Calls `visit` for every entry of folder + "*.*" in the order the file system lists them. A folder
// that cannot be listed yields no entries.
template <typename Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
  const std::string pattern = folder + kListPattern;
  WIN32_FIND_DATAA entry;
  const FindHandle find(FindFirstFileA(pattern.c_str(), &entry));
  if (!find.valid()) return;
  do {
    visit(entry);
  } while (FindNextFileA(find.get(), &entry));
}

bool IsDirectory(const WIN32_FIND_DATAA& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A trailing 0x5C byte may be the second half of a GBK character ("\x95\x5C"), which is no
// separator: only a "\" that is a character of its own counts.
bool EndsWithSeparator(const std::string& folder) {
  return !folder.empty() && path::FindLastBackslash(folder) == folder.size() - 1;
}

void MoveWithAttempts(const std::string& from, const std::string& to, const MoveObserver& observer) {
  // In a row, without waiting: a destination in use is rarely released within the walk, and the
  // updater must not hang on one file.
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    const bool moved = MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (observer) observer(from, to, moved);
    if (moved) return;
  }
}

bool IsOnDisk(const std::string& file) {
  if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  // Any other failure (no access, a network folder gone) cannot prove that the file was moved.
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace

void PromoteTemporaries(const std::string& folder) {
  PromoteTemporaries(folder, win::ExecutableFileName());
}

void PromoteTemporaries(const std::string& folder, std::string_view own_executable_name,
                        const MoveObserver& observer) {
  std::string prefix = folder;
  if (!EndsWithSeparator(prefix)) prefix += '\\';

  // Two enumerations, so that every file of this folder is handled before any subfolder.
  ForEachEntry(prefix, [&](const WIN32_FIND_DATAA& entry) {
    if (IsDirectory(entry)) return;
    const std::optional<std::string_view> target = PromotionTarget(entry.cFileName, own_executable_name);
    if (!target) return;
    MoveWithAttempts(prefix + entry.cFileName, prefix + std::string(*target), observer);
  });
  ForEachEntry(prefix, [&](const WIN32_FIND_DATAA& entry) {
    if (!IsDirectory(entry) || !IsWalkedFolder(entry.cFileName)) return;
    PromoteTemporaries(prefix + entry.cFileName, own_executable_name, observer);
  });
}

std::vector<std::string> RemainingTemporaries(const std::vector<std::string>& temporaries,
                                              std::string_view own_executable_name) {
  std::vector<std::string> remaining;
  for (const std::string& temporary : temporaries) {
    // The walk leaves such a file alone by design; only the own executable's temporary is one.
    if (!PromotionTarget(path::FileNameOf(temporary), own_executable_name)) continue;
    if (IsOnDisk(temporary)) remaining.push_back(temporary);
  }
  return remaining;
}

bool AllPromoted(const std::vector<std::string>& temporaries) {
  return AllPromoted(temporaries, win::ExecutableFileName());
}

bool AllPromoted(const std::vector<std::string>& temporaries, std::string_view own_executable_name) {
  return RemainingTemporaries(temporaries, own_executable_name).empty();
}

}  // namespace promotion

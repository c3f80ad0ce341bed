// Promotion of downloaded files: every ".tmp" temporary below a folder replaces its destination.
// Runs on the worker after the downloads; nothing is reported, a temporary that cannot be moved
// simply stays where it is.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace promotion {

// Called after every MoveFileExA attempt, with the paths as passed and whether it succeeded.
using MoveObserver = std::function<void(const std::string& from, const std::string& to, bool moved)>;

// Walks `folder` and every folder below it: the files of a folder first, then its subfolders
// depth-first in listing order. The temporary of the running executable is never moved.
void PromoteTemporaries(const std::string& folder);

// The same walk with the executable's file name given, so a test program can stand in for the
// updater; `observer`, when set, sees every move attempt.
void PromoteTemporaries(const std::string& folder, std::string_view own_executable_name,
                        const MoveObserver& observer = {});

// The temporaries of `temporaries` (full paths, as the download pass wrote them) that are still on
// disk after the walk. The running executable's own temporary is never promoted, so it counts as
// done once downloaded and is never reported here.
std::vector<std::string> RemainingTemporaries(const std::vector<std::string>& temporaries,
                                              std::string_view own_executable_name);

// Whether the walk moved every one of `temporaries` over its destination.
bool AllPromoted(const std::vector<std::string>& temporaries);
bool AllPromoted(const std::vector<std::string>& temporaries, std::string_view own_executable_name);

}  // namespace promotion

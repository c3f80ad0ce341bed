// Which entries of a folder the promotion walk touches and the name a temporary is moved to.
// Names are GBK byte texts as the ANSI find functions return them; every comparison here is
// byte-wise and case-sensitive, so "A.DLL.TMP" is not a temporary and "UPDATER.EXE.tmp" is not
// the updater's own.
#pragma once

#include <optional>
#include <string_view>

namespace promotion {

// Attempts at moving one temporary before it is left where it is: a destination that another
// process holds open is often released within moments, but the walk must not wait for it.
inline constexpr int kMoveAttempts = 5;

// The pattern every folder is listed with; the entries "." and ".." come back among the folders.
inline constexpr char kListPattern[] = "*.*";

// The characters before the last "." of `name`: empty when there is no "." or the only "." is the
// first character.
std::string_view BaseOf(std::string_view name);

// The characters from the last "." to the end, the "." included; the whole name when it has no ".".
std::string_view ExtensionOf(std::string_view name);

// The name a directory entry (a file, not a folder) is moved to within its folder, or nothing when
// it stays: only a ".tmp" temporary moves, and never the one of the updater's own executable, which
// is still running and cannot be replaced. The target is empty for a file named exactly ".tmp";
// the move then aims at the folder itself and fails, which is what leaves such a file alone.
std::optional<std::string_view> PromotionTarget(std::string_view file_name,
                                                std::string_view own_executable_name);

// Whether the walk descends into a folder entry. Names ending with "." are skipped: "." and ".."
// would walk the same folder or its parent again, and Windows drops trailing dots from a path
// component, so any other such name would not address the folder that was listed.
bool IsWalkedFolder(std::string_view folder_name);

}  // namespace promotion

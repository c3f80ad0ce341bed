// The skin library is closed and optional to build against, so both programs bind its one entry
// by name at run time: the copy in the run directory first, then the standard DLL search.
#pragma once

#include <string>

namespace win {

// Applies the skin file; the result is not used. Without the library or its entry, shows the
// fatal error box naming both and ends the process at once with exit code -1.
void AttachSkinOrDie(const std::string& run_directory, const std::string& skin_path);

// Shows the fatal error box with `text` and ends the process at once with exit code -1.
[[noreturn]] void DieWithErrorBox(const std::string& text);

}  // namespace win

#pragma once

#include <string>

namespace win {

// Full path of the running executable, in the ANSI code page.
std::string ModulePath();

// Folder of the running executable without trailing backslash ("C:" for a drive root).
std::string RunDirectory();

// File name of the running executable with its extension.
std::string ExecutableFileName();

}  // namespace win

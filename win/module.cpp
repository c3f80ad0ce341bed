#include "win/module.h"

#include <windows.h>

#include "core/path.h"

namespace win {

std::string ModulePath() {
  // Paths may exceed MAX_PATH on a long install folder; grow until the name fits.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string RunDirectory() { return std::string(path::DirectoryOf(ModulePath())); }

std::string ExecutableFileName() { return std::string(path::FileNameOf(ModulePath())); }

}  // namespace win

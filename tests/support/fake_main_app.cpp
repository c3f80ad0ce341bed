// Stands in for the main application: records how it was started in bvx_started.txt beside
// itself (one block per start) and ends.
#include <windows.h>

#include <string>

#include "core/path.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char module[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  const std::string record = std::string("cwd=") + current + "\r\ncmdline=" + GetCommandLineA() + "\r\n";
  const std::string log = path::Join(path::DirectoryOf(module), "bvx_started.txt");
  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}

// Skin library variant for the tests: appends each call's two texts to skin_calls.log beside the
// library, as "<skin file>|<password>" lines, so a test can see exactly what a program passed.
#include <windows.h>

#include <string>

#include "core/path.h"

extern "C" __declspec(dllexport) int __stdcall SkinH_Attach_Ex(const char* skin_file, const char* password) {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<const char*>(&SkinH_Attach_Ex), &self);
  char module[MAX_PATH] = {};
  GetModuleFileNameA(self, module, MAX_PATH);
  const std::string log = path::Join(path::DirectoryOf(module), "skin_calls.log");
  const std::string line = std::string(skin_file ? skin_file : "(null)") + "|" + (password ? password : "(null)") + "\r\n";
  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  return 0;
}

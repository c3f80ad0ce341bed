// Holds a file open without sharing, as a running program holds its own executable or a DLL in
// use: usage `holdopen <file> <ready-marker>`. The marker file is written once the file is open,
// so a test knows when the hold is in place; the hold ends when the process is killed.
// Exit code 1: the file could not be opened; 2: bad usage.
#include <windows.h>

#include "win/handles.h"

namespace {

// A test that dies without killing its helper must not leave the file held for good.
constexpr DWORD kLongestHoldMs = 5 * 60 * 1000;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const win::UniqueFile held(
      CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.valid()) return 1;
  const win::UniqueFile marker(
      CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!marker.valid()) return 1;
  Sleep(kLongestHoldMs);
  return 0;
}

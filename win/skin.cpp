#include "win/skin.h"

#include <windows.h>

#include "core/names.h"
#include "core/path.h"
#include "core/texts.h"

namespace win {
namespace {

using SkinAttachFn = int(WINAPI*)(const char* skin_file, const char* password);

SkinAttachFn BindSkinEntry(const std::string& run_directory) {
  // The entry is looked up only in the first file that loads: a broken copy in the run
  // directory must not be papered over by another copy elsewhere on the search path.
  HMODULE library = LoadLibraryA(path::Join(run_directory, names::kSkinLibrary).c_str());
  if (library == nullptr) library = LoadLibraryA(names::kSkinLibrary);
  if (library == nullptr) return nullptr;
  return reinterpret_cast<SkinAttachFn>(reinterpret_cast<void*>(GetProcAddress(library, names::kSkinEntry)));
}

}  // namespace

void DieWithErrorBox(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), texts::kFatalCaption, MB_OK | MB_ICONERROR);
  ExitProcess(static_cast<UINT>(-1));
}

void AttachSkinOrDie(const std::string& run_directory, const std::string& skin_path) {
  const SkinAttachFn attach = BindSkinEntry(run_directory);
  if (attach == nullptr) {
    DieWithErrorBox(std::string(texts::kSkinEntryMissingPrefix) + names::kSkinEntry +
                    texts::kSkinEntryMissingMiddle + names::kSkinLibrary);
  }
  attach(skin_path.c_str(), "");
}

}  // namespace win

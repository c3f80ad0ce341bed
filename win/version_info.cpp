#include "win/version_info.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace win {
namespace {

struct Translation {
  WORD language;
  WORD code_page;
};

constexpr const char* kStringNames[] = {
    "FileVersion",      "FileDescription",  "InternalName", "CompanyName",    "LegalCopyright",
    "LegalTrademarks",  "OriginalFilename", "ProductName",  "ProductVersion", nullptr,
    "Comments",
};
static_assert(std::size(kStringNames) == VersionRecord::kFieldCount);

}  // namespace

VersionRecord ReadVersionRecord(const std::string& file_path) {
  VersionRecord record;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file_path.c_str(), &ignored);
  if (size == 0) return record;
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(file_path.c_str(), 0, size, block.data())) return record;

  Translation* translations = nullptr;
  UINT translations_size = 0;
  VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                 &translations_size);
  const UINT translation_count = translations ? translations_size / sizeof(Translation) : 0;

  // A resource that lists no translation is read under US English, Windows multilingual.
  char sub_block[64] = "\\StringFileInfo\\040904E4\\";
  if (translation_count > 0) {
    std::snprintf(sub_block, sizeof sub_block, "\\StringFileInfo\\%04x%04x\\", translations[0].language,
                  translations[0].code_page);
  }
  for (int field = 0; field < VersionRecord::kFieldCount; ++field) {
    if (kStringNames[field] == nullptr) continue;
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string(sub_block) + kStringNames[field];
    if (VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value) {
      record.texts[field] = value;
    }
  }
  std::string& languages = record.texts[VersionRecord::kLanguages];
  for (UINT i = 0; i < translation_count; ++i) {
    char name[128] = {};
    VerLanguageNameA(translations[i].language, name, sizeof name);
    if (i > 0) languages += ", ";
    languages += name;
  }
  return record;
}

}  // namespace win

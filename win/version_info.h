#pragma once

#include <array>
#include <string>

namespace win {

// The string values of an executable's version resource, first translation.
struct VersionRecord {
  enum Field {
    kFileVersion,
    kFileDescription,
    kInternalName,
    kCompanyName,
    kLegalCopyright,
    kLegalTrademarks,
    kOriginalFilename,
    kProductName,
    kProductVersion,
    kLanguages,  // names of all translations, joined with ", "
    kComments,
    kFieldCount
  };
  std::array<std::string, kFieldCount> texts;
};

// All texts stay empty when the file has no version resource.
VersionRecord ReadVersionRecord(const std::string& file_path);

}  // namespace win

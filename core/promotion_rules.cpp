#include "core/promotion_rules.h"

#include "core/names.h"
#include "core/path.h"

namespace promotion {
namespace {

// Position of the last "." that is a character of its own, or npos. The trail byte of a GBK
// character lies in 0x40..0xFE and so is never the byte of "." (0x2E); for a well-formed name this
// equals a plain byte search. Stepping over double-byte characters still keeps a malformed name,
// a lead byte directly before ".", in line with the other searches of the programs.
std::size_t FindLastDot(std::string_view name) {
  std::size_t last = path::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == '.') {
      last = i;
    } else if (path::IsLeadByte(c) && i + 1 < name.size()) {
      ++i;
    }
  }
  return last;
}

}  // namespace

std::string_view BaseOf(std::string_view name) {
  const std::size_t dot = FindLastDot(name);
  return dot == path::npos ? std::string_view{} : name.substr(0, dot);
}

std::string_view ExtensionOf(std::string_view name) {
  const std::size_t dot = FindLastDot(name);
  return dot == path::npos ? name : name.substr(dot);
}

std::optional<std::string_view> PromotionTarget(std::string_view file_name,
                                                std::string_view own_executable_name) {
  const std::string_view base = BaseOf(file_name);
  if (ExtensionOf(file_name) != names::kTemporarySuffix || base == own_executable_name) {
    return std::nullopt;
  }
  return base;
}

bool IsWalkedFolder(std::string_view folder_name) {
  // A trailing "." byte is always a character of its own: GBK trail bytes never take its value.
  return !folder_name.empty() && folder_name.back() != '.';
}

}  // namespace promotion

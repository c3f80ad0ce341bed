#include "core/path.h"

namespace path {

std::size_t FindBackslash(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') return i;
    // A lead byte at the very end has no second byte; it is taken as a character of its own.
    if (IsLeadByte(c) && i + 1 < text.size()) ++i;
  }
  return npos;
}

std::size_t FindLastBackslash(std::string_view text) {
  std::size_t last = npos;
  for (std::size_t i = FindBackslash(text); i != npos; i = FindBackslash(text, i + 1)) last = i;
  return last;
}

std::string_view DirectoryOf(std::string_view full_path) {
  const std::size_t slash = FindLastBackslash(full_path);
  return slash == npos ? std::string_view{} : full_path.substr(0, slash);
}

std::string_view FileNameOf(std::string_view full_path) {
  const std::size_t slash = FindLastBackslash(full_path);
  return slash == npos ? full_path : full_path.substr(slash + 1);
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined.append(folder).append("\\").append(name);
  return joined;
}

}  // namespace path

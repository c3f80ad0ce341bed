// Path texts in the ANSI code page 936 (GBK). The second byte of a double-byte character may be
// 0x5C, the byte of "\", so every search for a separator walks characters, never raw bytes.
#pragma once

#include <string>
#include <string_view>

namespace path {

inline constexpr std::size_t npos = std::string_view::npos;

// Lead bytes of code page 936; the byte after one belongs to the same character.
constexpr bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Position of the first "\" at or after `from` (which must start a character), or npos.
std::size_t FindBackslash(std::string_view text, std::size_t from = 0);

// Position of the last "\" that is a character of its own, or npos.
std::size_t FindLastBackslash(std::string_view text);

// "C:\a\b\x.exe" -> "C:\a\b"; "C:\x.exe" -> "C:"; no backslash -> empty.
std::string_view DirectoryOf(std::string_view full_path);

// "C:\a\b\x.exe" -> "x.exe"; no backslash -> the whole text.
std::string_view FileNameOf(std::string_view full_path);

// Plain concatenation with one "\" between, as every path of the programs is built.
std::string Join(std::string_view folder, std::string_view name);

}  // namespace path

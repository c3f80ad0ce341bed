#include "core/confinement.h"

#include <algorithm>
#include <array>

#include "core/path.h"

namespace confinement {

namespace {

constexpr char kSeparator = '\\';

// Second bytes of code page 936: 40..FE except 7F.
constexpr bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// Every lead byte is followed by a second byte. A broken pair is refused outright: how many bytes
// the conversion to the file system's UTF-16 swallows with it differs between converters, so the
// dots and separators this check sees might not be the ones the file system sees. The superscript
// digits that make "COM¹" a device in other code pages are lead bytes here and fall under this too.
bool IsWellFormed(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!path::IsLeadByte(static_cast<unsigned char>(text[i]))) continue;
    if (i + 1 == text.size() || !IsTrailByte(static_cast<unsigned char>(text[i + 1]))) return false;
    ++i;
  }
  return true;
}

// "/" is a separator to the file system as much as "\"; ":" names a drive or an alternate data
// stream; control bytes cannot be in a Windows name, and the folder and name go into the
// download's request line unchanged, where CR LF would start a header of the list's choosing.
// None of these bytes can be the second byte of a double-byte character.
bool HasForbiddenByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '/' || c == ':' || byte < 0x20;
  });
}

bool IsOnlyDotsAndSpaces(std::string_view text) {
  return text.find_first_not_of(". ") == std::string_view::npos;
}

// Windows drops trailing dots and spaces from a name, so ".. ", "..." and ". ." may all be taken
// for "..". A single "." only names the folder it is in, and names made of spaces alone stay
// below the folder: those are odd but harmless.
bool ClimbsOut(std::string_view component) {
  return IsOnlyDotsAndSpaces(component) && std::count(component.begin(), component.end(), '.') >= 2;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// Names Windows opens as devices in any folder: "C:\app\nul.txt" is the null device, and
// "COM1.dll" a serial port. Windows looks only at the part before the first dot, without the
// spaces at its end, and ignores letter case.
bool IsDeviceName(std::string_view component) {
  static constexpr std::array<std::string_view, 4> kDevices = {"con", "prn", "aux", "nul"};
  static constexpr std::array<std::string_view, 2> kNumberedDevices = {"com", "lpt"};
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const std::string_view device : kDevices) {
    if (EqualsIgnoringAsciiCase(stem, device)) return true;
  }
  if (stem.size() != 4 || stem[3] < '1' || stem[3] > '9') return false;
  for (const std::string_view device : kNumberedDevices) {
    if (EqualsIgnoringAsciiCase(stem.substr(0, 3), device)) return true;
  }
  return false;
}

}  // namespace

bool IsSafeFolder(std::string_view folder) {
  if (folder.empty()) return true;
  if (!IsWellFormed(folder) || HasForbiddenByte(folder)) return false;
  // The folder is created at run directory + folder, plain concatenation: without the leading
  // "\" its first name runs into the run directory's own and makes a sibling of it.
  if (folder.front() != kSeparator) return false;
  // "\\host\share\" and "\\?\C:\" are absolute paths wherever the value is used on its own;
  // a folder below the run directory never needs to begin that way.
  if (folder.size() > 1 && folder[1] == kSeparator) return false;
  // The file is stored at folder + name, joined with nothing between. Without a closing "\" the
  // last name of the folder and the file name fuse ("\CO" and "N.dll" give "\CON.dll"), so the
  // tests of the name would not see the name actually used; and the folders created would not be
  // the one the file goes to. A last byte 5C that is the second byte of a character is no "\".
  if (path::FindLastBackslash(folder) != folder.size() - 1) return false;
  // Doubled separators in the middle are collapsed by the file system: odd, harmless.
  std::size_t start = 1;
  for (std::size_t end = path::FindBackslash(folder, start); end != path::npos;
       end = path::FindBackslash(folder, start)) {
    const std::string_view component = folder.substr(start, end - start);
    if (ClimbsOut(component) || IsDeviceName(component)) return false;
    start = end + 1;
  }
  return true;
}

bool IsSafeName(std::string_view name) {
  if (!IsWellFormed(name) || HasForbiddenByte(name)) return false;
  if (path::FindBackslash(name) != path::npos) return false;
  // Empty, ".", ".." and every other name that Windows trims to nothing: the file would be the
  // folder itself or its parent.
  if (IsOnlyDotsAndSpaces(name)) return false;
  return !IsDeviceName(name);
}

bool IsConfined(std::string_view name, std::string_view folder) {
  return IsSafeName(name) && IsSafeFolder(folder);
}

}  // namespace confinement

// What the publisher needs from the file system and the console, for Linux and for Windows.
//
// Paths and names are "native" texts: UTF-8 bytes on Linux, the ANSI code page on Windows, where
// the programs work with the ANSI functions as the updater does. The update list holds GBK; the
// conversions between the two are here too (on Windows, with code page 936, there is none).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace disk {

// Bytes that cannot be shown as text on this console, shown as "\\xNN"; ASCII stays as it is.
inline std::string EscapedBytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      shown += c;
    } else {
      shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xF];
    }
  }
  return shown;
}

// The native path separator.
extern const char kSeparator;

std::string Join(std::string_view folder, std::string_view name);

bool IsDirectory(const std::string& path);
bool Exists(const std::string& path);  // anything at all, a broken link included

// The path made absolute, with "." and ".." resolved, links followed where the system has them;
// nothing when the system cannot say.
std::optional<std::string> FullPath(const std::string& path);

// "a/b/c" -> "a/b"; a name without folder -> ".".
std::string ParentOf(const std::string& path);
std::string NameOf(const std::string& path);

// Every file below `root`, as the components of its path relative to `root`, in no particular
// order. Anything that is neither a file nor a folder is a problem and is named in `error`.
std::optional<std::vector<std::vector<std::string>>> ListFiles(const std::string& root, std::string& error);

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error);

// Creates `path`, which must not exist yet, with exactly `bytes`.
bool WriteNewFile(const std::string& path, std::string_view bytes, std::string& error);

// Creates one folder; fails when it exists.
bool MakeDirectory(const std::string& path, std::string& error);

// Renames a file or folder; fails when `to` exists.
bool Rename(const std::string& from, const std::string& to, std::string& error);

// Removes a folder and everything in it; best effort.
void RemoveTree(const std::string& path);

int ProcessId();

// A native file name as the update list spells it (GBK); nothing when GBK has no such name.
std::optional<std::string> ListTextOf(std::string_view native);

// The native name of a GBK text; nothing when it cannot be converted.
std::optional<std::string> NativeOf(std::string_view list_text);

// A text holding GBK names, for the console; bytes that do not convert are shown as \xNN.
std::string ForConsole(std::string_view list_text);

// A native path for the console: as it is, unless it is not a well-formed text of the native
// encoding (a Linux name in another encoding); then its bytes above 7F are shown as \xNN.
std::string ShowNative(std::string_view native);

}  // namespace disk

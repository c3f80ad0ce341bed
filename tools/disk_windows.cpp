// The publisher's file system on Windows, through the ANSI functions, as the updater names files.
// The list's names are code page 936; on a system whose ANSI code page is another, names are
// converted through UTF-16.
#include <windows.h>

#include <memory>

#include "core/path.h"
#include "tools/disk.h"
#include "win/handles.h"

namespace disk {

const char kSeparator = '\\';

namespace {

constexpr UINT kListCodePage = 936;

std::string ErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  return message + " (" + std::to_string(code) + ")";
}

std::string LastErrorText() { return ErrorText(GetLastError()); }

struct FindCloser {
  void operator()(HANDLE h) const noexcept { FindClose(h); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

// The whole text from one code page to another, or nothing when a character has no counterpart.
std::optional<std::string> Convert(UINT to, UINT from, std::string_view text) {
  if (text.empty() || to == from) return std::string(text);
  const int wide_length =
      MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wide_length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), wide_length);
  BOOL used_default = FALSE;
  const int length =
      WideCharToMultiByte(to, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, nullptr, 0, nullptr, &used_default);
  if (length <= 0 || used_default) return std::nullopt;
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(to, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, out.data(), length, nullptr, &used_default);
  if (used_default) return std::nullopt;
  return out;
}

// The last "\" or "/" that is a character of its own.
std::size_t FindLastSeparator(std::string_view path) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (c == '\\' || c == '/') {
      last = i;
    } else if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
    }
  }
  return last;
}

void ListFolder(const std::string& folder, const std::vector<std::string>& components,
                std::vector<std::vector<std::string>>& files, std::string& error) {
  WIN32_FIND_DATAA found;
  const UniqueFind find(FindFirstFileA(Join(folder, "*").c_str(), &found));
  if (find.get() == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) error += "cannot list " + folder + ": " + LastErrorText() + "\n";
    return;
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string entry = Join(folder, name);
    std::vector<std::string> entry_components = components;
    entry_components.push_back(name);
    // The ANSI functions put "?" for a character the code page cannot show; such a file cannot
    // even be opened by this name.
    if (name.find('?') != std::string::npos) {
      error += entry + ": the name has characters the ANSI code page cannot show\n";
    } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
               (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // Followed, a link could lead out of the release or round in a circle.
      error += entry + ": a link to a folder; copy the folder into the release instead\n";
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFolder(entry, entry_components, files, error);
    } else {
      files.push_back(std::move(entry_components));
    }
  } while (FindNextFileA(find.get(), &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) error += "cannot list " + folder + ": " + LastErrorText() + "\n";
}

}  // namespace

std::string Join(std::string_view folder, std::string_view name) {
  std::string joined(folder);
  if (!joined.empty() && FindLastSeparator(joined) != joined.size() - 1) joined += kSeparator;
  return joined.append(name);
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> FullPath(const std::string& path) {
  const DWORD length = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return std::nullopt;
  std::string full(length, '\0');
  const DWORD written = GetFullPathNameA(path.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) return std::nullopt;
  full.resize(written);
  return full;
}

std::string ParentOf(const std::string& path) {
  const std::size_t separator = FindLastSeparator(path);
  if (separator == std::string::npos) return ".";
  // "C:\x" -> "C:\", the root itself.
  if (separator == 2 && path[1] == ':') return path.substr(0, 3);
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::string NameOf(const std::string& path) {
  const std::size_t separator = FindLastSeparator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::optional<std::vector<std::vector<std::string>>> ListFiles(const std::string& root, std::string& error) {
  error.clear();
  std::vector<std::vector<std::string>> files;
  ListFolder(root, {}, files, error);
  if (!error.empty()) {
    error.pop_back();
    return std::nullopt;
  }
  return files;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error) {
  const win::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    error = "cannot open " + path + ": " + LastErrorText();
    return std::nullopt;
  }
  std::string bytes;
  char buffer[1 << 16];
  while (true) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      error = "cannot read " + path + ": " + LastErrorText();
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

bool WriteNewFile(const std::string& path, std::string_view bytes, std::string& error) {
  win::UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    error = "cannot create " + path + ": " + LastErrorText();
    return false;
  }
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    DWORD put = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &put, nullptr) || put == 0) {
      error = "cannot write " + path + ": " + LastErrorText();
      return false;
    }
    bytes.remove_prefix(put);
  }
  if (!FlushFileBuffers(file.get())) {
    error = "cannot write " + path + ": " + LastErrorText();
    return false;
  }
  return true;
}

bool MakeDirectory(const std::string& path, std::string& error) {
  if (!CreateDirectoryA(path.c_str(), nullptr)) {
    error = "cannot create the folder " + path + ": " + LastErrorText();
    return false;
  }
  return true;
}

bool Rename(const std::string& from, const std::string& to, std::string& error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
  if (!MoveFileExA(from.c_str(), to.c_str(), 0)) {
    error = "cannot rename " + from + " to " + to + ": " + LastErrorText();
    return false;
  }
  return true;
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  {
    const UniqueFind find(FindFirstFileA(Join(path, "*").c_str(), &found));
    if (find.get() != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string entry = Join(path, name);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          RemoveTree(entry);
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveDirectoryA(entry.c_str());  // the link only, never what it points at
        } else {
          SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(entry.c_str());
        }
      } while (FindNextFileA(find.get(), &found));
    }
  }
  RemoveDirectoryA(path.c_str());
}

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

std::optional<std::string> ListTextOf(std::string_view native) { return Convert(kListCodePage, CP_ACP, native); }

std::optional<std::string> NativeOf(std::string_view list_text) { return Convert(CP_ACP, kListCodePage, list_text); }

std::string ForConsole(std::string_view list_text) {
  const UINT console = GetConsoleOutputCP();
  if (auto converted = Convert(console != 0 ? console : CP_ACP, kListCodePage, list_text)) return *converted;
  return EscapedBytes(list_text);
}

// Names from the ANSI functions are always well-formed in the ANSI code page.
std::string ShowNative(std::string_view native) { return std::string(native); }

}  // namespace disk

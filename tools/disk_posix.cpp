// The publisher's file system on Linux: names are UTF-8 and are converted to GBK for the list.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "core/path.h"
#include "tools/disk.h"

namespace disk {

namespace fs = std::filesystem;

const char kSeparator = '/';

namespace {

constexpr char kListCharset[] = "GBK";
constexpr char kNativeCharset[] = "UTF-8";

std::string ErrnoText() { return std::strerror(errno); }

// Closes the descriptor on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, so that a failure to write back buffered data can be reported.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// The whole text converted, or nothing when any part of it has no counterpart.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view text) {
  const iconv_t raw = iconv_open(to, from);
  if (raw == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const std::unique_ptr<void, IconvCloser> cd(raw);
  std::string out(text.size() * 4 + 8, '\0');
  char* in_ptr = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  if (iconv(raw, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) return std::nullopt;
  if (iconv(raw, nullptr, nullptr, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - out_left);
  return out;
}

void ListFolder(const fs::path& folder, std::vector<std::string> components,
                std::vector<std::vector<std::string>>& files, std::string& error) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    error += "cannot list " + folder.string() + ": " + ec.message() + "\n";
    return;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& entry = it->path();
    std::vector<std::string> entry_components = components;
    entry_components.push_back(entry.filename().string());
    std::error_code status_ec;
    const fs::file_status status = fs::status(entry, status_ec);
    if (fs::is_symlink(fs::symlink_status(entry, status_ec)) && fs::is_directory(status)) {
      // Followed, a link could lead out of the release or round in a circle.
      error += entry.string() + ": a link to a folder; copy the folder into the release instead\n";
    } else if (fs::is_directory(status)) {
      ListFolder(entry, entry_components, files, error);
    } else if (fs::is_regular_file(status)) {
      files.push_back(std::move(entry_components));
    } else {
      error += entry.string() + ": neither a file nor a folder (a broken link, a pipe or a device)\n";
    }
  }
  if (ec) error += "cannot list " + folder.string() + ": " + ec.message() + "\n";
}

}  // namespace

std::string Join(std::string_view folder, std::string_view name) {
  std::string joined(folder);
  if (!joined.empty() && joined.back() != kSeparator) joined += kSeparator;
  return joined.append(name);
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::optional<std::string> FullPath(const std::string& path) {
  std::error_code ec;
  const fs::path full = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) return std::nullopt;
  return full.string();
}

std::string ParentOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

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
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    error = "cannot open " + path + ": " + ErrnoText();
    return std::nullopt;
  }
  std::string bytes;
  char buffer[1 << 16];
  while (true) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "cannot read " + path + ": " + ErrnoText();
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

bool WriteNewFile(const std::string& path, std::string_view bytes, std::string& error) {
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (file.get() < 0) {
    error = "cannot create " + path + ": " + ErrnoText();
    return false;
  }
  while (!bytes.empty()) {
    const ssize_t put = ::write(file.get(), bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = "cannot write " + path + ": " + ErrnoText();
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  if (::fsync(file.get()) != 0 || !file.Close()) {
    error = "cannot write " + path + ": " + ErrnoText();
    return false;
  }
  return true;
}

bool MakeDirectory(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) != 0) {
    error = "cannot create the folder " + path + ": " + ErrnoText();
    return false;
  }
  return true;
}

bool Rename(const std::string& from, const std::string& to, std::string& error) {
  // rename(2) would replace an empty folder or a file at `to` without a word.
  if (Exists(to)) {
    error = "cannot rename " + from + " to " + to + ": the target exists";
    return false;
  }
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    error = "cannot rename " + from + " to " + to + ": " + ErrnoText();
    return false;
  }
  return true;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

int ProcessId() { return static_cast<int>(::getpid()); }

std::optional<std::string> ListTextOf(std::string_view native) {
  std::optional<std::string> gbk = Convert(kListCharset, kNativeCharset, native);
  // The update server finds the file by converting the name back; a name that would come back
  // as another could not be served.
  if (!gbk || Convert(kNativeCharset, kListCharset, *gbk) != native) return std::nullopt;
  return gbk;
}

std::optional<std::string> NativeOf(std::string_view list_text) {
  return Convert(kNativeCharset, kListCharset, list_text);
}

std::string ShowNative(std::string_view native) {
  return Convert(kNativeCharset, kNativeCharset, native) ? std::string(native) : EscapedBytes(native);
}

std::string ForConsole(std::string_view list_text) {
  if (auto whole = Convert(kNativeCharset, kListCharset, list_text)) return *whole;
  std::string shown;
  for (std::size_t i = 0; i < list_text.size(); ++i) {
    const auto c = static_cast<unsigned char>(list_text[i]);
    std::optional<std::string> character;
    if (c < 0x80) {
      character = std::string(1, static_cast<char>(c));
    } else if (path::IsLeadByte(c) && i + 1 < list_text.size()) {
      character = Convert(kNativeCharset, kListCharset, list_text.substr(i, 2));
      if (character) ++i;
    }
    if (!character) character = EscapedBytes(list_text.substr(i, 1));
    shown += *character;
  }
  return shown;
}

}  // namespace disk

// The update check, the worker's first job: fetch the server's update list, compare it entry by
// entry with the list the last update run left in the run directory, list every entry whose
// version text differs and create the folders those files go to.
//
// The window and the system are reached through `Platform`, so the whole sequence runs natively
// under test; the Windows shell supplies the real window, HTTP fetch and file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/xml_reader.h"

namespace update_check {

// One differing entry as it goes into the file list: column 0 version, 1 name, 3 folder.
struct Row {
  std::string version;
  std::string name;
  std::string folder;  // the entry's "url" value: empty, or "\sub\" relative to the run directory
  // The name or folder would reach outside the run directory (see core/confinement.h): the row
  // is listed like any other, but no folder is created and nothing is downloaded for it.
  bool refused = false;

  bool operator==(const Row&) const = default;
};

enum class Outcome {
  kListNotFetched,  // nothing received; the status line says so and the finishing timer is due
  kNothingDiffers,  // the finishing timer is due
  kUpdatesFound,    // rows were appended; the window expands and the download pass runs
};

// What the check needs from the window and the system. The method names stay clear of the
// <windows.h> macros (CreateDirectory, ReadFile) so that an implementation can include both.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual void SetStatusLine(const std::string& text) = 0;
  // One GET of `url`; the body whatever the status code, empty only when nothing was received.
  virtual std::string FetchToMemory(const std::string& url) = 0;
  // The whole file, or nothing when it is missing or cannot be read.
  virtual std::optional<std::string> ReadWholeFile(const std::string& path) = 0;
  // Appends a row at the end of the file list, keeping the server list's order.
  virtual void AppendRow(const Row& row) = 0;
  // A find-first-file lookup of exactly `path`: does it find anything?
  virtual bool ProbeFindsAnything(const std::string& path) = 0;
  // Creates one directory; failures (it exists, no access, no such drive) are ignored.
  virtual void MakeDirectory(const std::string& path) = 0;
};

struct Result {
  Outcome outcome = Outcome::kListNotFetched;
  std::string list_bytes;  // the list as fetched, kept so the download pass can store it unchanged
};

// The check in full. `base_url` ends with "/"; `run_directory` has no trailing backslash.
// On kUpdatesFound the status line already says so; the caller expands the window and runs the
// download pass. On the other two outcomes the caller starts the finishing timer.
Result Run(Platform& platform, std::string_view base_url, std::string_view run_directory);

// The entries of `server` whose "Ver" differs from the local entry at the same position, in
// order. A missing "Ver" counts as empty; a missing "Name" or "url" keeps the value read for an
// earlier entry, as the list's writers have always relied on. Each row is judged on the name and
// folder it ends up with, carried-over values included.
std::vector<Row> Differences(const xml::Document& server, const xml::Document& local);

// True when the folder holds nothing but spaces and ideographic spaces (A1 A1): the file then
// goes into the run directory itself and there is nothing to create.
bool IsBlankFolder(std::string_view folder);

// Every folder along `path`, the drive root included, each ending with "\", shortest first.
// A "\" is appended to `path` when its last byte is not one; separators are found character by
// character, so the trail byte 5C of a GBK character never splits a name.
std::vector<std::string> FolderPrefixes(std::string_view path);

// Makes sure every folder along `path` exists: each prefix whose "\Nul" probe finds nothing is
// created. Failures are left for the download into the folder to report.
void CreateFolders(Platform& platform, std::string_view path);

}  // namespace update_check

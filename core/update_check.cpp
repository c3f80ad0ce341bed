#include "core/update_check.h"

#include "core/confinement.h"
#include "core/names.h"
#include "core/path.h"
#include "core/texts.h"

namespace update_check {

namespace {

constexpr char kRootPath[] = "@1";
constexpr char kEntryPathPrefix[] = "@1/@";
constexpr char kVersionAttribute[] = "Ver";
constexpr char kNameAttribute[] = "Name";
constexpr char kFolderAttribute[] = "url";
// Appended to a folder that already ends with "\": the probe path has two backslashes in a row.
constexpr char kProbeSuffix[] = "\\Nul";

}  // namespace

std::vector<Row> Differences(const xml::Document& server, const xml::Document& local) {
  std::vector<Row> rows;
  // Name and folder live across entries on purpose: an entry that leaves out "url" goes into the
  // folder of the entry before it.
  std::string name;
  std::string folder;
  const int count = server.ChildCount(kRootPath);
  for (int n = 1; n <= count; ++n) {
    const std::string entry = kEntryPathPrefix + std::to_string(n);
    std::string server_version;
    std::string local_version;
    server.Attribute(entry, kVersionAttribute, server_version);
    local.Attribute(entry, kVersionAttribute, local_version);
    server.Attribute(entry, kNameAttribute, name);
    server.Attribute(entry, kFolderAttribute, folder);
    // Versions are compared as texts, never parsed: any change, a lower one or a change of
    // letter case, means the server's file is wanted.
    if (server_version == local_version) continue;
    rows.push_back({server_version, name, folder, !confinement::IsConfined(name, folder)});
  }
  return rows;
}

bool IsBlankFolder(std::string_view folder) {
  for (std::size_t i = 0; i < folder.size();) {
    if (folder[i] == ' ') {
      ++i;
    } else if (folder.substr(i).starts_with("\xA1\xA1")) {
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::vector<std::string> FolderPrefixes(std::string_view path) {
  std::string full(path);
  // The last byte, not the last character: a name ending in a GBK character with trail byte 5C
  // gets no separator of its own, and the search below then never reaches past that name.
  if (full.empty() || full.back() != '\\') full.push_back('\\');
  std::vector<std::string> prefixes;
  for (std::size_t k = path::FindBackslash(full); k != path::npos; k = path::FindBackslash(full, k + 1)) {
    prefixes.push_back(full.substr(0, k + 1));
  }
  return prefixes;
}

void CreateFolders(Platform& platform, std::string_view path) {
  for (const std::string& prefix : FolderPrefixes(path)) {
    // The probe only spares a creation call: creating a folder that exists fails without effect,
    // so a probe that misses an existing folder costs nothing.
    if (!platform.ProbeFindsAnything(prefix + kProbeSuffix)) platform.MakeDirectory(prefix);
  }
}

Result Run(Platform& platform, std::string_view base_url, std::string_view run_directory) {
  Result result;
  platform.SetStatusLine(texts::kReadingData);
  result.list_bytes = platform.FetchToMemory(std::string(base_url) + names::kUpdateList);
  if (result.list_bytes.empty()) {
    platform.SetStatusLine(texts::kListFetchFailed);
    result.outcome = Outcome::kListNotFetched;
    return result;
  }

  // Neither failed load is reported: an unreadable server list (an error page, say) compares as
  // empty and changes nothing; a missing local list (a first installation) offers every file.
  const xml::Document server = xml::Document::Parse(result.list_bytes);
  const std::optional<std::string> local_bytes =
      platform.ReadWholeFile(path::Join(run_directory, names::kUpdateList));
  const xml::Document local = local_bytes ? xml::Document::Parse(*local_bytes) : xml::Document{};

  platform.SetStatusLine(texts::kLookingForUpdates);
  const std::vector<Row> rows = Differences(server, local);
  for (const Row& row : rows) {
    platform.AppendRow(row);
    // Plain concatenation: the folder brings its own leading backslash. A refused row is still
    // shown, so the user sees what the server offered, but nothing is made on disk for it.
    if (row.refused || IsBlankFolder(row.folder)) continue;
    CreateFolders(platform, std::string(run_directory) + row.folder);
  }

  if (rows.empty()) {
    result.outcome = Outcome::kNothingDiffers;
  } else {
    platform.SetStatusLine(texts::kUpdatesFound);
    result.outcome = Outcome::kUpdatesFound;
  }
  return result;
}

}  // namespace update_check

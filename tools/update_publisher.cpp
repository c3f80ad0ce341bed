// update-publisher: makes the update server's folder for a release.
//
//   update-publisher --release <folder> --out <folder> [--previous <UpdateList.xml>] [--notes <file>]
//
// Writes <out>/UpdateList.xml, every listed file at <out>/<url>/<Name> and the notes as
// <out>/update.txt: the folder to copy to the server below /Brantovo/Lessira/. The list keeps the
// previous list's entries where they were (see core/publish.h for why and for how "Ver" is
// chosen). Without --previous, a list already in <out> is the previous one, so that publishing
// into the same folder again can never reorder it by forgetting the option.
//
// The output is made in a new folder beside <out> and put in its place only when all of it has
// been written; on any failure the old <out> stays as it was.
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/names.h"
#include "core/path.h"
#include "core/publish.h"
#include "tools/disk.h"

namespace {

constexpr char kProgram[] = "update-publisher";
constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: update-publisher --release <folder> --out <folder> [--previous <UpdateList.xml>] [--notes <file>]\n"
    "\n"
    "  --release   the application folder of the new release, as it should be on the users' machines\n"
    "  --out       the folder to make: UpdateList.xml, update.txt and every listed file, ready to copy\n"
    "              to the update server below /Brantovo/Lessira/\n"
    "  --previous  the update list published last; entries keep their positions in it. Default: the\n"
    "              UpdateList.xml already in --out, if any; none for a first release\n"
    "  --notes     a text file (GBK) shown by the updater as the update notes; copied as update.txt\n";

struct Options {
  std::string release;
  std::string out;
  std::string previous;
  std::string notes;
};

// One problem or several, one a line, in the console's text: native paths as they are, the GBK
// texts of the list and of core/publish's messages through disk::ForConsole.
void PrintFailure(std::string_view message) {
  std::size_t start = 0;
  while (start <= message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string_view::npos) end = message.size();
    const std::string line(message.substr(start, end - start));
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
    start = end + 1;
  }
}

std::optional<Options> ParseArguments(int argc, char** argv, std::string& error) {
  Options options;
  const std::map<std::string_view, std::string*> values = {{"--release", &options.release},
                                                            {"--out", &options.out},
                                                            {"--previous", &options.previous},
                                                            {"--notes", &options.notes}};
  for (int i = 1; i < argc; ++i) {
    const auto found = values.find(argv[i]);
    if (found == values.end()) {
      error = std::string("unknown argument: ") + argv[i];
      return std::nullopt;
    }
    if (i + 1 == argc || std::string_view(argv[i + 1]).empty()) {
      error = std::string(argv[i]) + " needs a value";
      return std::nullopt;
    }
    if (!found->second->empty()) {
      error = std::string(argv[i]) + " is given twice";
      return std::nullopt;
    }
    *found->second = argv[++i];
  }
  if (options.release.empty() || options.out.empty()) {
    error = "--release and --out are required";
    return std::nullopt;
  }
  return options;
}

// Without its trailing separators, so that the parent and the name of the folder come out right.
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == disk::kSeparator)) path.pop_back();
  return path;
}

// `inner` is `outer` or lies below it; both are full paths. Windows paths differ in letter case
// without naming other folders.
bool IsWithin(std::string inner, std::string outer) {
  if (disk::kSeparator == '\\') {
    for (std::string* text : {&inner, &outer}) {
      for (std::size_t i = 0; i < text->size(); ++i) {
        char& c = (*text)[i];
        if (path::IsLeadByte(static_cast<unsigned char>(c))) {
          ++i;  // the second byte of a double-byte character may have a letter's value
        } else if (c >= 'A' && c <= 'Z') {
          c = static_cast<char>(c - 'A' + 'a');
        }
      }
    }
  }
  return inner == outer || (inner.size() > outer.size() && inner.starts_with(outer) &&
                            (outer.back() == disk::kSeparator || inner[outer.size()] == disk::kSeparator));
}

// The new output folder while it is being written; removed unless it was put in place.
class StagingFolder {
 public:
  StagingFolder() = default;
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  ~StagingFolder() {
    if (!path_.empty()) disk::RemoveTree(path_);
  }

  // A folder beside `out` that did not exist before, named after it.
  bool Create(const std::string& out, std::string& error) {
    const std::string base =
        disk::Join(disk::ParentOf(out), "." + disk::NameOf(out) + ".publishing-" + std::to_string(disk::ProcessId()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string candidate = attempt == 0 ? base : base + "-" + std::to_string(attempt);
      if (disk::Exists(candidate)) continue;
      if (!disk::MakeDirectory(candidate, error)) return false;
      path_ = candidate;
      return true;
    }
    error = "cannot find a free name for a new folder beside " + out;
    return false;
  }

  const std::string& path() const { return path_; }

  // Puts the folder in the place of `out`, moving an older `out` aside first and removing it
  // afterwards; puts the older one back when the new one cannot take its place.
  bool Replace(const std::string& out, std::string& error) {
    std::string aside;
    if (disk::Exists(out)) {
      aside = disk::Join(disk::ParentOf(out), "." + disk::NameOf(out) + ".replaced-" + std::to_string(disk::ProcessId()));
      if (!disk::Rename(out, aside, error)) return false;
    }
    if (!disk::Rename(path_, out, error)) {
      std::string ignored;
      if (!aside.empty()) disk::Rename(aside, out, ignored);
      return false;
    }
    path_.clear();
    if (!aside.empty()) disk::RemoveTree(aside);
    return true;
  }

 private:
  std::string path_;
};

// Creates the folders of `components` below `root`, those that are not there yet.
bool MakeFolders(const std::string& root, const std::vector<std::string>& components, std::string& folder,
                 std::string& error) {
  folder = root;
  for (const std::string& component : components) {
    folder = disk::Join(folder, component);
    if (!disk::IsDirectory(folder) && !disk::MakeDirectory(folder, error)) return false;
  }
  return true;
}

// The native path of an entry's file below `root`, or nothing when a name cannot be converted.
std::optional<std::vector<std::string>> NativeComponents(const publish::Entry& entry) {
  std::vector<std::string> components;
  for (const std::string& component : publish::ComponentsOf(entry.folder)) {
    std::optional<std::string> native = disk::NativeOf(component);
    if (!native) return std::nullopt;
    components.push_back(*native);
  }
  std::optional<std::string> name = disk::NativeOf(entry.name);
  if (!name) return std::nullopt;
  components.push_back(*name);
  return components;
}

struct Release {
  std::vector<publish::ReleaseFile> files;
  std::vector<std::string> paths;  // native path of each file
};

// Every file of the release, described for the list. Names are judged before any file is opened:
// on Windows, opening "CON.txt" would read from the console.
std::optional<Release> ReadRelease(const std::string& root, bool with_notes, std::string& error) {
  const auto listed = disk::ListFiles(root, error);
  if (!listed) return std::nullopt;
  Release release;
  std::string problems;
  for (const std::vector<std::string>& native : *listed) {
    std::string path = root;
    std::vector<std::string> components;
    for (const std::string& component : native) {
      path = disk::Join(path, component);
      if (std::optional<std::string> text = disk::ListTextOf(component)) {
        components.push_back(*text);
      } else {
        problems += disk::ShowNative(path) + ": \"" + disk::ShowNative(component) +
                    "\" cannot be written in the updater's code page (GBK)\n";
      }
    }
    if (components.size() != native.size()) continue;
    const std::string name = components.back();
    components.pop_back();
    const std::string folder = publish::FolderOf(components);
    if (const std::optional<std::string> refusal = publish::ReleaseFileRefusal(folder, name, with_notes)) {
      problems += "\"" + disk::ForConsole(folder + name) + "\": " + *refusal + "\n";
      continue;
    }
    const std::optional<std::string> content = disk::ReadWholeFile(path, error);
    if (!content) {
      problems += error + "\n";
      continue;
    }
    release.files.push_back(publish::DescribeFile(folder, name, *content));
    release.paths.push_back(path);
  }
  if (!problems.empty()) {
    problems.pop_back();
    error = problems;
    return std::nullopt;
  }
  if (release.files.empty()) {
    error = "the release folder " + root + " holds no files";
    return std::nullopt;
  }
  return release;
}

const char* ChangeWord(publish::Change change) {
  switch (change) {
    case publish::Change::kAdded: return "added";
    case publish::Change::kChanged: return "changed";
    case publish::Change::kUnchanged: return "unchanged";
    case publish::Change::kKept: return "kept";
  }
  return "";
}

// `remarks`: a note per line of the plan, ASCII.
void PrintReport(const publish::Plan& plan, const std::vector<std::string>& remarks, const std::string& out) {
  std::size_t ver_width = 3;
  for (const publish::Line& line : plan.lines) ver_width = std::max(ver_width, line.entry.ver.size());
  std::printf("%s: %zu entries in %s\n", kProgram, plan.lines.size(),
              disk::Join(out, names::kUpdateList).c_str());
  std::printf("  %5s  %-9s  %-*s  %s\n", "entry", "change", static_cast<int>(ver_width), "Ver", "file");
  std::map<publish::Change, int> counts;
  for (std::size_t i = 0; i < plan.lines.size(); ++i) {
    const publish::Line& line = plan.lines[i];
    ++counts[line.change];
    const std::string remark =
        line.change == publish::Change::kChanged ? "was " + disk::ForConsole(line.old_ver) : remarks[i];
    std::printf("  %5zu  %-9s  %-*s  %s%s%s\n", i + 1, ChangeWord(line.change), static_cast<int>(ver_width),
                disk::ForConsole(line.entry.ver).c_str(), disk::ForConsole(line.entry.folder + line.entry.name).c_str(),
                remark.empty() ? "" : "  (", remark.empty() ? "" : (remark + ")").c_str());
  }
  std::printf("added %d, changed %d, unchanged %d, kept %d\n", counts[publish::Change::kAdded],
              counts[publish::Change::kChanged], counts[publish::Change::kUnchanged], counts[publish::Change::kKept]);
}

int Run(const Options& options) {
  std::string error;
  const auto fail = [](const std::string& message) {
    PrintFailure(message);
    return kExitBadInput;
  };

  const std::string release_root = WithoutTrailingSeparators(options.release);
  const std::string out = WithoutTrailingSeparators(options.out);
  if (!disk::IsDirectory(release_root)) return fail("no such folder: " + options.release);
  if (!disk::IsDirectory(disk::ParentOf(out))) return fail("no such folder: " + disk::ParentOf(out) + " (for --out)");
  if (disk::Exists(out) && !disk::IsDirectory(out)) return fail(options.out + " exists and is not a folder");
  const auto release_full = disk::FullPath(release_root);
  const auto out_full = disk::FullPath(out);
  if (!release_full || !out_full) return fail("cannot make out the full paths of --release and --out");
  if (IsWithin(*out_full, *release_full) || IsWithin(*release_full, *out_full)) {
    return fail("--out and --release must be apart: neither may lie in the other");
  }

  // The previous list, and the folder its files were published in, if they are there.
  std::string previous_path = options.previous;
  if (previous_path.empty() && disk::Exists(disk::Join(out, names::kUpdateList))) {
    previous_path = disk::Join(out, names::kUpdateList);
    std::printf("%s: previous list: %s\n", kProgram, previous_path.c_str());
  }
  std::vector<publish::Entry> previous;
  if (!previous_path.empty()) {
    const std::optional<std::string> bytes = disk::ReadWholeFile(previous_path, error);
    if (!bytes) return fail(error);
    std::optional<std::vector<publish::Entry>> entries = publish::ReadList(*bytes, error);
    if (!entries) return fail(previous_path + ": " + disk::ForConsole(error));
    previous = std::move(*entries);
  }

  std::optional<std::string> notes;
  if (!options.notes.empty()) {
    notes = disk::ReadWholeFile(options.notes, error);
    if (!notes) return fail(error);
  }

  const std::optional<Release> release = ReadRelease(release_root, notes.has_value(), error);
  if (!release) return fail(error);
  const std::optional<publish::Plan> plan = publish::MakePlan(previous, release->files, notes.has_value(), error);
  if (!plan) return fail(disk::ForConsole(error));
  const std::optional<std::string> list = publish::WriteList(plan->Entries());
  if (!list) return fail("the update list cannot be written");  // MakePlan refuses such values first

  StagingFolder staging;
  if (!staging.Create(out, error)) return fail(error);
  if (!disk::WriteNewFile(disk::Join(staging.path(), names::kUpdateList), *list, error)) return fail(error);
  if (notes && !disk::WriteNewFile(disk::Join(staging.path(), names::kUpdateNotes), *notes, error)) return fail(error);

  std::vector<std::string> remarks(plan->lines.size());
  int unpublished = 0;
  for (std::size_t i = 0; i < plan->lines.size(); ++i) {
    const publish::Line& line = plan->lines[i];
    std::optional<std::vector<std::string>> components = NativeComponents(line.entry);
    if (!components) {
      return fail("\"" + disk::ForConsole(line.entry.folder + line.entry.name) +
                  "\" has no name on this system's file system");
    }
    const std::string name = components->back();
    components->pop_back();
    std::string folder;
    if (!MakeFolders(staging.path(), *components, folder, error)) return fail(error);
    const std::string target = disk::Join(folder, name);
    // Two entries of one file (only lists written by hand have them) need it once.
    if (disk::Exists(target)) continue;

    std::string source;
    if (line.release_file) {
      source = release->paths[*line.release_file];
    } else if (!previous_path.empty()) {
      // A kept entry's file stays on the server: new installations still fetch it.
      source = disk::ParentOf(previous_path);
      for (const std::string& component : *components) source = disk::Join(source, component);
      source = disk::Join(source, name);
    }
    if (source.empty() || !disk::Exists(source) || disk::IsDirectory(source)) {
      remarks[i] = "NOT PUBLISHED: in neither the release nor the previous publication";
      ++unpublished;
      continue;
    }
    const std::optional<std::string> content = disk::ReadWholeFile(source, error);
    if (!content) return fail(error);
    if (line.release_file && publish::ContentDigest(*content) != release->files[*line.release_file].digest) {
      return fail(source + " changed while it was being published; run again");
    }
    if (!disk::WriteNewFile(target, *content, error)) return fail(error);
    if (!line.release_file) remarks[i] = "not in the release; copied from the previous publication";
  }

  if (!staging.Replace(out, error)) return fail(error);
  PrintReport(*plan, remarks, out);
  if (unpublished > 0) {
    // Not an error: the file may reach the server another way. Until it does, a new installation
    // fails to fetch it, and without a complete update the updater never stores the list.
    std::fprintf(stderr,
                 "%s: warning: %d listed file(s) are in neither the release nor the previous publication; upload "
                 "them to the server yourself, or new installations cannot complete their update\n",
                 kProgram, unpublished);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::string error;
  const std::optional<Options> options = ParseArguments(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), kUsage);
    return kExitUsage;
  }
  return Run(*options);
}

// The publisher's logic: from a release folder's files and the update list published before, the
// next update list and what changed.
//
// The updater compares its stored list with the server's position by position, by the "Ver" texts
// alone. So an entry, once published, keeps its position for good; new files go at the end; a
// file that left the release keeps its entry, since removing it would shift every later one.
//
// How "Ver" is chosen. The previous release's files are usually not at hand, only its list, so
// "changed" has to be decidable from the old "Ver" alone. Every "Ver" written here is therefore a
// function of the file's content:
//   - a file without a version resource: the first 16 hex digits of the SHA-256 of its content;
//   - an executable with a version resource: its file version, "-", and those 16 digits
//     ("2.1.0.5-3fa4c2d19b0e7a61"), so that a rebuild that forgot to raise the version still
//     reaches the users, and a raised version shows in the updater's list.
// A file is unchanged exactly when the "Ver" its content gives equals the old one; then the entry
// stays as it was. Otherwise it gets the new "Ver", which differs from the old by that very test.
// A content-derived "Ver" also serves users who skipped releases: whichever list they hold, an
// equal "Ver" at a position means an equal file. Old entries written by hand ("1.0.0.1") never
// equal a derived text, so their files are shipped once more and carry a derived "Ver" from then on.
//
// Texts are in the updater's code page (GBK) throughout; the caller converts names from the file
// system. Messages are ASCII around the names they quote.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

// Digits of the SHA-256 kept in a "Ver": 64 bits, so two different contents giving the same text,
// which would keep a changed file from its users, does not happen by accident.
inline constexpr std::size_t kDigestDigits = 16;

// SHA-256 of `bytes` as 64 lowercase hex digits.
std::string Sha256Hex(std::string_view bytes);

// The first kDigestDigits of Sha256Hex.
std::string ContentDigest(std::string_view bytes);

// The file version ("a.b.c.d") from the fixed part of an executable's version resource, or nothing
// for anything else. Reads a hostile or truncated file without going out of bounds.
std::optional<std::string> PeFileVersion(std::string_view bytes);

// One file of the release, as the list will address it.
struct ReleaseFile {
  std::string folder;  // "" for the top of the release, else "\a\b\" (the "url" form)
  std::string name;
  std::string digest;                        // ContentDigest of the content
  std::optional<std::string> file_version;  // PeFileVersion of the content
};

ReleaseFile DescribeFile(std::string folder, std::string name, std::string_view content);

// The "Ver" the file's content gives (see the top of this file).
std::string VersionText(const ReleaseFile& file);

// {"a", "b"} -> "\a\b\"; no components -> "".
std::string FolderOf(const std::vector<std::string>& components);

// "\a\b\" -> {"a", "b"}; "" -> {}. Separators are found character by character.
std::vector<std::string> ComponentsOf(std::string_view folder);

// One entry of the list: the three attributes the updater reads.
struct Entry {
  std::string ver;
  std::string name;
  std::string folder;  // the "url" value

  bool operator==(const Entry&) const = default;
};

// The entries of a published list as the updater sees them: a missing "Name" or "url" takes the
// value of the entry before, a missing "Ver" is empty. Nothing when the list cannot be read or an
// entry could not be written back or would be refused by the updater; `error` says why.
std::optional<std::vector<Entry>> ReadList(std::string_view bytes, std::string& error);

// Why `entry` cannot go into a list the updater acts on, or nothing when it can: a value the list
// form cannot hold ("=", a double quote, a zero byte), or a name or folder the updater refuses as
// reaching outside its folder.
std::optional<std::string> EntryRefusal(const Entry& entry);

// Why a release file cannot be published, or nothing when it can: EntryRefusal's reasons, plus
// names that would not arrive as written (characters Windows forbids, trailing dots and spaces,
// "#" and "%", which the download address carries unescaped), names ending in ".tmp" (the updater
// renames those as its own unfinished downloads), and the list's own name at the top (and the
// notes' name when notes are published).
std::optional<std::string> ReleaseFileRefusal(std::string_view folder, std::string_view name, bool with_notes);

// The update list, in the form the updater reads: GBK declaration, CR LF, one self-closing element
// per entry, attributes Ver, Name, url in double quotes separated by single spaces, "<", ">", "&"
// and "'" escaped. Nothing when a value cannot be written (see EntryRefusal).
std::optional<std::string> WriteList(const std::vector<Entry>& entries);

enum class Change {
  kAdded,      // new in this release, appended at the end
  kChanged,    // in the release with another content: new "Ver"
  kUnchanged,  // in the release with the same content: entry as it was
  kKept,       // listed before, not in the release: entry as it was
};

// One entry of the new list and how it came about.
struct Line {
  Change change = Change::kAdded;
  Entry entry;
  std::string old_ver;                      // kChanged: the "Ver" it replaces
  std::optional<std::size_t> release_file;  // index into the release files; none for kKept
};

struct Plan {
  std::vector<Line> lines;  // in list order

  std::vector<Entry> Entries() const;
};

// The next list: `previous` in its order, each entry matched to the release file at the same
// folder and name (ASCII letters compared without case, as Windows does), then the release files
// no entry names, sorted by folder and then name, byte-wise. An entry keeps its own spelling of the
// name and folder; only its "Ver" changes. Nothing when a release file is refused or two release
// files would be one file on Windows; `error` lists every problem, one a line.
std::optional<Plan> MakePlan(const std::vector<Entry>& previous, const std::vector<ReleaseFile>& release,
                             bool with_notes, std::string& error);

}  // namespace publish

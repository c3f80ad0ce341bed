#include "core/publish.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "core/confinement.h"
#include "core/names.h"
#include "core/path.h"
#include "core/promotion_rules.h"
#include "core/xml_reader.h"

namespace publish {

namespace {

// ---- SHA-256 (FIPS 180-4) ----

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t RotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void CompressBlock(std::array<std::uint32_t, 8>& state, const unsigned char* block) {
  std::array<std::uint32_t, 64> w{};
  for (int i = 0; i < 16; ++i) {
    w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
           std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = state;
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    const std::uint32_t choice = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + s1 + choice + kRoundConstants[i] + w[i];
    const std::uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = s0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, h};
  for (int i = 0; i < 8; ++i) state[i] += add[i];
}

// ---- Bounds-checked reads of a file that may be hostile or cut short ----

class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}

  std::size_t size() const { return data_.size(); }

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }

  std::optional<std::uint16_t> U16(std::uint64_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
  }

  std::optional<std::uint32_t> U32(std::uint64_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return Byte(offset) | Byte(offset + 1) << 8 | Byte(offset + 2) << 16 | Byte(offset + 3) << 24;
  }

  Bytes Sub(std::uint64_t offset, std::uint64_t length) const {
    return Has(offset, length) ? Bytes(data_.substr(offset, length)) : Bytes({});
  }

 private:
  std::uint32_t Byte(std::uint64_t offset) const { return static_cast<unsigned char>(data_[offset]); }

  std::string_view data_;
};

constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::u16string_view kVersionInfoKey = u"VS_VERSION_INFO";

// File offset of an address of the loaded image, through the section table; only bytes that are
// in the file count, so an address in a section's zero-filled tail finds nothing.
std::optional<std::uint64_t> FileOffsetOf(const Bytes& file, std::uint64_t section_table, std::uint16_t sections,
                                          std::uint32_t address) {
  for (std::uint16_t i = 0; i < sections; ++i) {
    const std::uint64_t header = section_table + std::uint64_t{i} * kSectionHeaderSize;
    const auto virtual_address = file.U32(header + 12);
    const auto raw_size = file.U32(header + 16);
    const auto raw_offset = file.U32(header + 20);
    if (!virtual_address || !raw_size || !raw_offset) return std::nullopt;
    if (address >= *virtual_address && address - *virtual_address < *raw_size) {
      const std::uint64_t offset = std::uint64_t{*raw_offset} + (address - *virtual_address);
      if (!file.Has(offset, 1)) return std::nullopt;
      return offset;
    }
  }
  return std::nullopt;
}

// One step down the resource tree: the entry with `id`, or the first entry when `id` is none.
// Offsets are from the start of the resource section. Three fixed steps and no recursion, so a
// tree whose entries point back at themselves costs nothing.
std::optional<std::uint32_t> ResourceEntry(const Bytes& resources, std::uint32_t directory,
                                           std::optional<std::uint32_t> id, bool want_subdirectory) {
  const auto named = resources.U16(std::uint64_t{directory} + 12);
  const auto numbered = resources.U16(std::uint64_t{directory} + 14);
  if (!named || !numbered) return std::nullopt;
  const std::uint32_t count = std::uint32_t{*named} + *numbered;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = std::uint64_t{directory} + 16 + std::uint64_t{i} * 8;
    const auto name = resources.U32(entry);
    const auto target = resources.U32(entry + 4);
    if (!name || !target) return std::nullopt;
    // A named entry has the high bit set in this field, so it never equals an id.
    if (id && *name != *id) continue;
    if (((*target & kSubdirectoryFlag) != 0) != want_subdirectory) return std::nullopt;
    return *target & ~kSubdirectoryFlag;
  }
  return std::nullopt;
}

// VS_VERSIONINFO: length, value length, type, the key "VS_VERSION_INFO" in UTF-16, padding to a
// 32-bit boundary, then VS_FIXEDFILEINFO.
std::optional<std::string> FixedFileVersion(const Bytes& block) {
  const auto length = block.U16(0);
  const auto value_length = block.U16(2);
  if (!length || !value_length || *value_length < kFixedInfoSize) return std::nullopt;
  const Bytes info = block.Sub(0, std::min<std::uint64_t>(*length, block.size()));
  std::uint64_t offset = 6;
  for (const char16_t expected : kVersionInfoKey) {
    if (info.U16(offset) != expected) return std::nullopt;
    offset += 2;
  }
  if (info.U16(offset) != 0) return std::nullopt;
  offset = (offset + 2 + 3) & ~std::uint64_t{3};
  if (!info.Has(offset, kFixedInfoSize) || info.U32(offset) != kFixedInfoSignature) return std::nullopt;
  const std::uint32_t most = *info.U32(offset + 8);
  const std::uint32_t least = *info.U32(offset + 12);
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(most >> 16), static_cast<unsigned>(most & 0xFFFF),
                static_cast<unsigned>(least >> 16), static_cast<unsigned>(least & 0xFFFF));
  return std::string(text);
}

// ---- Names ----

constexpr char kSeparator = '\\';

// Windows compares names without regard to letter case. Only ASCII letters are folded: they are
// the letters release folders are named with; a GBK character is stepped over whole, since its
// second byte may have the value of an ASCII letter.
std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    const auto c = static_cast<unsigned char>(folded[i]);
    if (path::IsLeadByte(c) && i + 1 < folded.size()) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      folded[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return folded;
}

bool EqualsFolded(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

// The file's path below the application folder as Windows tells paths apart: letter case folded,
// doubled separators collapsed, the top folder written "\" like the others.
std::string PathKey(std::string_view folder, std::string_view name) {
  std::string key(1, '\\');
  for (const std::string& component : ComponentsOf(folder)) key += component + '\\';
  return FoldCase(key + std::string(name));
}

// Whether `text` holds one of `characters` as a character of its own: "|" (7C) may also be the
// second byte of a GBK character, so the search steps over double-byte characters whole.
bool HasCharacter(std::string_view text, std::string_view characters) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (path::IsLeadByte(c) && i + 1 < text.size()) {
      ++i;
    } else if (characters.find(text[i]) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

std::string Quoted(std::string_view folder, std::string_view name) {
  std::string quoted(1, '"');
  quoted.append(folder).append(name).push_back('"');
  return quoted;
}

// A value the reader would take apart: "=" ends the whole load, a double quote ends the value, a
// zero byte is refused as not being text.
bool IsWritableValue(std::string_view value) {
  return value.find_first_of(std::string_view("=\"\0", 3)) == std::string_view::npos;
}

// Characters Windows refuses in a file name (":", "/", "\" and the control bytes are already
// refused by the updater).
bool HasCharacterWindowsForbids(std::string_view text) { return HasCharacter(text, "<>|?*"); }

// The updater joins base URL, folder and name into the download address unescaped: a server takes
// "#" for the start of a fragment and "%" for the start of an escape.
bool HasCharacterTheAddressAlters(std::string_view text) { return HasCharacter(text, "#%"); }

// Windows drops trailing dots and spaces from a name, so the file would land under another name
// than the one listed and published. The last byte decides: neither byte is ever a GBK second byte.
bool EndsWithDotOrSpace(std::string_view component) {
  return !component.empty() && (component.back() == '.' || component.back() == ' ');
}

std::string Escaped(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '&': escaped += "&amp;"; break;
      case '\'': escaped += "&apos;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

constexpr char kListHead[] = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<UpdateList>\r\n";
constexpr char kListTail[] = "</UpdateList>\r\n";
constexpr char kLineBreak[] = "\r\n";

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t whole_blocks = bytes.size() / 64;
  for (std::size_t i = 0; i < whole_blocks; ++i) CompressBlock(state, data + 64 * i);

  // The rest, the 1 bit, zeros, and the length in bits as a 64-bit big-endian number.
  std::array<unsigned char, 128> tail{};
  const std::size_t rest = bytes.size() % 64;
  std::copy_n(data + 64 * whole_blocks, rest, tail.begin());
  tail[rest] = 0x80;
  const std::size_t tail_size = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  for (std::size_t offset = 0; offset < tail_size; offset += 64) CompressBlock(state, tail.data() + offset);

  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const std::uint32_t word : state) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(word >> shift) & 0xF];
  }
  return hex;
}

std::string ContentDigest(std::string_view bytes) { return Sha256Hex(bytes).substr(0, kDigestDigits); }

std::optional<std::string> PeFileVersion(std::string_view bytes) {
  const Bytes file(bytes);
  if (!bytes.starts_with("MZ")) return std::nullopt;
  const auto pe = file.U32(0x3C);
  if (!pe || file.U32(*pe) != kPeSignature) return std::nullopt;
  const std::uint64_t coff = std::uint64_t{*pe} + 4;
  const auto sections = file.U16(coff + 2);
  const auto optional_size = file.U16(coff + 16);
  const std::uint64_t optional = coff + 20;
  const auto magic = file.U16(optional);
  if (!sections || !optional_size || !magic) return std::nullopt;
  // The data directories follow the fields whose size differs between 32-bit and 64-bit images.
  std::uint64_t directory_count_at = 0;
  if (*magic == kPe32Magic) {
    directory_count_at = 92;
  } else if (*magic == kPe32PlusMagic) {
    directory_count_at = 108;
  } else {
    return std::nullopt;
  }
  const auto directory_count = file.U32(optional + directory_count_at);
  const std::uint64_t resource_directory = directory_count_at + 4 + kResourceDirectoryIndex * 8;
  if (!directory_count || *directory_count <= kResourceDirectoryIndex || resource_directory + 8 > *optional_size) {
    return std::nullopt;
  }
  const auto resource_address = file.U32(optional + resource_directory);
  if (!resource_address || *resource_address == 0) return std::nullopt;

  const std::uint64_t section_table = optional + *optional_size;
  const auto resource_offset = FileOffsetOf(file, section_table, *sections, *resource_address);
  if (!resource_offset) return std::nullopt;
  const Bytes resources = file.Sub(*resource_offset, file.size() - *resource_offset);

  // Type RT_VERSION, then the first name and the first language under it.
  const auto by_name = ResourceEntry(resources, 0, kVersionResourceType, true);
  if (!by_name) return std::nullopt;
  const auto by_language = ResourceEntry(resources, *by_name, std::nullopt, true);
  if (!by_language) return std::nullopt;
  const auto data_entry = ResourceEntry(resources, *by_language, std::nullopt, false);
  if (!data_entry) return std::nullopt;
  const auto data_address = resources.U32(*data_entry);
  const auto data_size = resources.U32(std::uint64_t{*data_entry} + 4);
  if (!data_address || !data_size) return std::nullopt;
  const auto data_offset = FileOffsetOf(file, section_table, *sections, *data_address);
  if (!data_offset) return std::nullopt;
  return FixedFileVersion(file.Sub(*data_offset, std::min<std::uint64_t>(*data_size, file.size() - *data_offset)));
}

ReleaseFile DescribeFile(std::string folder, std::string name, std::string_view content) {
  return {std::move(folder), std::move(name), ContentDigest(content), PeFileVersion(content)};
}

std::string VersionText(const ReleaseFile& file) {
  return file.file_version ? *file.file_version + "-" + file.digest : file.digest;
}

std::string FolderOf(const std::vector<std::string>& components) {
  std::string folder;
  for (const std::string& component : components) folder += kSeparator + component;
  if (!folder.empty()) folder += kSeparator;
  return folder;
}

std::vector<std::string> ComponentsOf(std::string_view folder) {
  std::vector<std::string> components;
  std::size_t start = 0;
  for (std::size_t end = path::FindBackslash(folder); end != path::npos; end = path::FindBackslash(folder, start)) {
    if (end > start) components.emplace_back(folder.substr(start, end - start));
    start = end + 1;
  }
  if (start < folder.size()) components.emplace_back(folder.substr(start));
  return components;
}

std::optional<std::string> EntryRefusal(const Entry& entry) {
  if (!IsWritableValue(entry.ver) || !IsWritableValue(entry.name) || !IsWritableValue(entry.folder)) {
    return "a value holds \"=\", a double quote or a zero byte, which the update list cannot carry";
  }
  if (!confinement::IsSafeName(entry.name)) {
    return "the updater refuses this name (empty, a device name such as CON or NUL, \"..\", a path separator, "
           "\":\", a control character or a broken double-byte character)";
  }
  if (!confinement::IsSafeFolder(entry.folder)) {
    return "the updater refuses this folder (not of the form \\a\\b\\, a device name, \"..\", \"/\", \":\", "
           "a control character or a broken double-byte character)";
  }
  return std::nullopt;
}

std::optional<std::string> ReleaseFileRefusal(std::string_view folder, std::string_view name, bool with_notes) {
  if (auto refusal = EntryRefusal({"", std::string(name), std::string(folder)})) return refusal;
  std::vector<std::string> components = ComponentsOf(folder);
  components.emplace_back(name);
  for (const std::string& component : components) {
    if (HasCharacterWindowsForbids(component)) return "Windows allows none of < > | ? * in a file name";
    if (EndsWithDotOrSpace(component)) return "Windows drops a dot or space at the end of a name";
    if (HasCharacterTheAddressAlters(component)) {
      return "the updater puts the name into the download address unescaped, where a server reads \"#\" and \"%\" "
             "as parts of the address";
    }
  }
  if (promotion::ExtensionOf(name) == names::kTemporarySuffix) {
    return "the updater takes a file ending in .tmp for one of its own unfinished downloads and renames it";
  }
  if (folder.empty() && EqualsFolded(name, names::kUpdateList)) {
    return "the update list itself goes there";
  }
  if (folder.empty() && with_notes && EqualsFolded(name, names::kUpdateNotes)) {
    return "the update notes (--notes) go there";
  }
  return std::nullopt;
}

std::optional<std::vector<Entry>> ReadList(std::string_view bytes, std::string& error) {
  error.clear();
  const xml::Document list = xml::Document::Parse(bytes);
  if (!list.loaded()) {
    error = "the previous update list cannot be read as an update list";
    return std::nullopt;
  }
  std::vector<Entry> entries;
  // Carried from entry to entry, as the updater does.
  std::string name;
  std::string folder;
  const int count = list.ChildCount("@1");
  for (int n = 1; n <= count; ++n) {
    const std::string element = "@1/@" + std::to_string(n);
    std::string ver;
    list.Attribute(element, "Ver", ver);
    list.Attribute(element, "Name", name);
    list.Attribute(element, "url", folder);
    Entry entry{ver, name, folder};
    if (auto refusal = EntryRefusal(entry)) {
      error += "previous list, entry " + std::to_string(n) + " " + Quoted(folder, name) + ": " + *refusal + "\n";
    }
    entries.push_back(std::move(entry));
  }
  if (!error.empty()) {
    error.pop_back();
    return std::nullopt;
  }
  return entries;
}

std::optional<std::string> WriteList(const std::vector<Entry>& entries) {
  std::string list = kListHead;
  for (const Entry& entry : entries) {
    if (!IsWritableValue(entry.ver) || !IsWritableValue(entry.name) || !IsWritableValue(entry.folder)) {
      return std::nullopt;
    }
    list += "  <File Ver=\"" + Escaped(entry.ver) + "\" Name=\"" + Escaped(entry.name) + "\" url=\"" +
            Escaped(entry.folder) + "\"/>" + kLineBreak;
  }
  return list + kListTail;
}

std::vector<Entry> Plan::Entries() const {
  std::vector<Entry> entries;
  entries.reserve(lines.size());
  for (const Line& line : lines) entries.push_back(line.entry);
  return entries;
}

std::optional<Plan> MakePlan(const std::vector<Entry>& previous, const std::vector<ReleaseFile>& release,
                             bool with_notes, std::string& error) {
  std::vector<std::string> problems;
  std::map<std::string, std::size_t> release_by_key;
  for (std::size_t i = 0; i < release.size(); ++i) {
    const ReleaseFile& file = release[i];
    if (auto refusal = ReleaseFileRefusal(file.folder, file.name, with_notes)) {
      problems.push_back(Quoted(file.folder, file.name) + ": " + *refusal);
      continue;
    }
    const auto [found, inserted] = release_by_key.emplace(PathKey(file.folder, file.name), i);
    if (!inserted) {
      const ReleaseFile& other = release[found->second];
      problems.push_back(Quoted(file.folder, file.name) + " and " + Quoted(other.folder, other.name) +
                         " are one file on Windows, which ignores letter case");
    }
  }
  for (std::size_t n = 0; n < previous.size(); ++n) {
    if (auto refusal = EntryRefusal(previous[n])) {
      problems.push_back("previous list, entry " + std::to_string(n + 1) + " " +
                         Quoted(previous[n].folder, previous[n].name) + ": " + *refusal);
    }
  }

  Plan plan;
  std::vector<bool> listed(release.size(), false);
  for (const Entry& old : previous) {
    Line line;
    line.entry = old;
    const auto found = release_by_key.find(PathKey(old.folder, old.name));
    if (found == release_by_key.end()) {
      line.change = Change::kKept;
    } else {
      listed[found->second] = true;
      line.release_file = found->second;
      const std::string ver = VersionText(release[found->second]);
      if (ver == old.ver) {
        line.change = Change::kUnchanged;
      } else {
        // Differs from the old text by this very test, so the updater sees the change.
        line.change = Change::kChanged;
        line.old_ver = old.ver;
        line.entry.ver = ver;
      }
    }
    plan.lines.push_back(std::move(line));
  }

  std::vector<std::size_t> added;
  for (const auto& [key, index] : release_by_key) {
    if (!listed[index]) added.push_back(index);
  }
  // Byte-wise on the list's own texts, so the same release always appends in the same order.
  std::sort(added.begin(), added.end(), [&](std::size_t a, std::size_t b) {
    return std::tie(release[a].folder, release[a].name) < std::tie(release[b].folder, release[b].name);
  });
  for (const std::size_t index : added) {
    const ReleaseFile& file = release[index];
    plan.lines.push_back({Change::kAdded, {VersionText(file), file.name, file.folder}, "", index});
  }

  // On Windows a file and a folder of one name cannot stand side by side: the updater could create
  // neither the folder nor the file, whichever came second.
  std::set<std::string> folders;
  for (const Line& line : plan.lines) {
    std::string prefix(1, kSeparator);
    for (const std::string& component : ComponentsOf(line.entry.folder)) {
      prefix += FoldCase(component) + kSeparator;
      folders.insert(prefix);
    }
  }
  for (const Line& line : plan.lines) {
    if (folders.contains(PathKey(line.entry.folder, line.entry.name) + kSeparator)) {
      problems.push_back(Quoted(line.entry.folder, line.entry.name) + " is a file where the list also has a folder "
                         "of that name");
    }
  }

  if (!problems.empty()) {
    error.clear();
    for (const std::string& problem : problems) error += problem + "\n";
    error.pop_back();
    return std::nullopt;
  }
  return plan;
}

}  // namespace publish

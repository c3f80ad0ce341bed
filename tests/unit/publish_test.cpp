#include "core/publish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/update_check.h"
#include "core/xml_reader.h"

namespace publish {
// Readable failure output for entries holding GBK bytes.
void PrintTo(const Entry& entry, std::ostream* out) {
  *out << testing::PrintToString(entry.ver) << "|" << testing::PrintToString(entry.name) << "|"
       << testing::PrintToString(entry.folder);
}
}  // namespace publish

namespace {

using publish::Change;
using publish::Entry;
using publish::ReleaseFile;

// GBK: "\xB2\xE2" and "\xCA\xD4" are ordinary characters; "\x95\x5C" has the byte of "\" second,
// "\x81\x7C" the byte of "|".
constexpr char kGbkName[] = "\xB2\xE2\xCA\xD4.txt";

// ---- Content digests ----

TEST(PublishDigest, Sha256KnownAnswers) {
  // Lengths around the one and two block paddings (55/56, 63/64/65, 119/120 bytes).
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(publish::Sha256Hex(c.input), c.digest);
  }
  EXPECT_EQ(publish::ContentDigest("abc"), "ba7816bf8f01cfea");
}

// ---- Version resources ----

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
  if (bytes.size() < at + 2) bytes.resize(at + 2);
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  Put16(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
  Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// A small executable laid out as the linkers lay them out: DOS header, PE header, optional header,
// one ".rsrc" section whose tree is type -> name -> language -> data, and VS_VERSIONINFO.
struct PeImage {
  bool pe32_plus = true;
  std::array<std::uint16_t, 4> version = {1, 2, 3, 4};
  std::uint32_t resource_type = 16;  // RT_VERSION
  std::uint32_t fixed_signature = 0xFEEF04BD;
  bool resource_directory = true;

  static constexpr std::size_t kHeader = 0x80;
  static constexpr std::size_t kRaw = 0x200;
  static constexpr std::uint32_t kSectionAddress = 0x1000;
  static constexpr std::size_t kVersionInfo = 0x58;   // from the section start
  static constexpr std::size_t kFixedInfo = 0x80;     // VS_FIXEDFILEINFO, from the section start
  // Header 6, key and its zero 32, padding 2, fixed part 52; no string or variable tables.
  static constexpr std::uint16_t kVersionInfoLength = 0x5C;
  static constexpr std::size_t kFixedInfoEnd = kRaw + kFixedInfo + 52;

  std::string Build() const {
    std::string bytes(kRaw, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put32(bytes, 0x3C, kHeader);
    Put32(bytes, kHeader, 0x00004550);
    const std::size_t coff = kHeader + 4;
    Put16(bytes, coff, pe32_plus ? 0x8664 : 0x014C);
    Put16(bytes, coff + 2, 1);  // sections
    const std::uint16_t optional_size = pe32_plus ? 240 : 224;
    Put16(bytes, coff + 16, optional_size);
    const std::size_t optional = coff + 20;
    Put16(bytes, optional, pe32_plus ? 0x20B : 0x10B);
    const std::size_t directories = optional + (pe32_plus ? 112 : 96);
    Put32(bytes, directories - 4, 16);
    if (resource_directory) {
      Put32(bytes, directories + 16, kSectionAddress);
      Put32(bytes, directories + 20, 0x100);
    }
    const std::size_t section = optional + optional_size;
    bytes.replace(section, 5, ".rsrc");
    Put32(bytes, section + 8, 0x100);  // virtual size
    Put32(bytes, section + 12, kSectionAddress);
    Put32(bytes, section + 16, 0x100);  // raw size
    Put32(bytes, section + 20, kRaw);

    const auto directory = [&](std::size_t at, std::uint32_t id, std::uint32_t target) {
      Put16(bytes, kRaw + at + 14, 1);
      Put32(bytes, kRaw + at + 16, id);
      Put32(bytes, kRaw + at + 20, target);
    };
    directory(0x00, resource_type, 0x80000000 | 0x18);
    directory(0x18, 1, 0x80000000 | 0x30);
    directory(0x30, 0x409, 0x48);
    Put32(bytes, kRaw + 0x48, kSectionAddress + kVersionInfo);
    Put32(bytes, kRaw + 0x4C, kVersionInfoLength);

    const std::size_t info = kRaw + kVersionInfo;
    Put16(bytes, info, kVersionInfoLength);
    Put16(bytes, info + 2, 52);
    const std::u16string key = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < key.size(); ++i) Put16(bytes, info + 6 + 2 * i, key[i]);
    const std::size_t fixed = kRaw + kFixedInfo;
    Put32(bytes, fixed, fixed_signature);
    Put32(bytes, fixed + 4, 0x00010000);
    Put32(bytes, fixed + 8, std::uint32_t{version[0]} << 16 | version[1]);
    Put32(bytes, fixed + 12, std::uint32_t{version[2]} << 16 | version[3]);
    bytes.resize(kRaw + 0x100, '\0');
    return bytes;
  }
};

TEST(PublishPeVersion, ReadsTheFixedFileVersion) {
  const struct {
    const char* what;
    PeImage image;
    std::optional<std::string> version;
  } cases[] = {
      {"64-bit image", {}, "1.2.3.4"},
      {"32-bit image", {.pe32_plus = false}, "1.2.3.4"},
      {"each part is 16 bits", {.version = {65535, 0, 10, 65535}}, "65535.0.10.65535"},
      {"no resource directory", {.resource_directory = false}, std::nullopt},
      {"resources but no version", {.resource_type = 3}, std::nullopt},
      {"version resource with a broken fixed part", {.fixed_signature = 0xFEEF04BC}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(publish::PeFileVersion(c.image.Build()), c.version);
  }
}

TEST(PublishPeVersion, OtherFilesHaveNone) {
  for (const std::string& text : {std::string(), std::string("MZ"), std::string("readme\r\n"), std::string(4096, 'M')}) {
    EXPECT_EQ(publish::PeFileVersion(text), std::nullopt);
  }
}

// A release may hold a half-copied executable: the version is read only when the bytes it needs
// are all there, and no cut makes the reader look past the end (the sanitizer build checks that).
TEST(PublishPeVersion, TruncatedFilesYieldTheVersionOnlyWhenItIsComplete) {
  const std::string whole = PeImage{}.Build();
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string cut = whole.substr(0, length);
    if (length < PeImage::kFixedInfoEnd) {
      EXPECT_EQ(publish::PeFileVersion(cut), std::nullopt);
    } else {
      EXPECT_EQ(publish::PeFileVersion(cut), "1.2.3.4");
    }
  }
}

TEST(PublishPeVersion, HostileHeadersAreRefused) {
  const std::size_t coff = PeImage::kHeader + 4;
  const std::size_t optional = coff + 20;
  const std::size_t section = optional + 240;
  const std::size_t root = PeImage::kRaw;
  struct Write {
    std::size_t at;
    std::uint32_t value;
  };
  const struct {
    const char* what;
    PeImage image;
    std::vector<Write> writes;
  } cases[] = {
      {"PE header offset past the end", {}, {{0x3C, 0xFFFFFFFF}}},
      {"PE header offset near the 32-bit limit", {}, {{0x3C, 0xFFFFFFFC}}},
      {"no PE signature", {}, {{PeImage::kHeader, 0x00004551}}},
      {"section table past the end", {}, {{coff + 16, 0xFFFF}}},
      {"too few data directories", {}, {{optional + 108, 2}}},
      {"resource address in no section", {}, {{optional + 112 + 16, 0x9000}}},
      {"section raw data past the end", {}, {{section + 20, 0xFFFFFF00}}},
      {"section holding no bytes of the file", {}, {{section + 16, 0}}},
      {"65535 type entries running past the end", {.resource_type = 3}, {{root + 12, 0xFFFF0000}}},
      {"type entry pointing back at the root", {}, {{root + 20, 0x80000000}}},
      {"a name where the type's id should be", {}, {{root + 16, 0x80000010}}},
      {"language entry is a directory", {}, {{root + 0x30 + 20, 0x80000000 | 0x30}}},
      {"data entry address outside the image", {}, {{root + 0x48, 0x7FFFFFFF}}},
      {"version block shorter than its key", {}, {{root + PeImage::kVersionInfo, 52u << 16 | 8}}},
      {"version block with another key", {}, {{root + PeImage::kVersionInfo + 6, 'W'}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = c.image.Build();
    for (const Write& write : c.writes) Put32(bytes, write.at, write.value);
    EXPECT_EQ(publish::PeFileVersion(bytes), std::nullopt);
  }
}

// Whatever single byte is broken, the reader stays inside the file; where it still finds a version
// it is a text of four numbers.
TEST(PublishPeVersion, EveryBrokenByteIsReadSafely) {
  const std::string good = PeImage{}.Build();
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (const char value : {'\x00', '\x7F', '\xFF'}) {
      std::string bytes = good;
      bytes[at] = value;
      const std::optional<std::string> version = publish::PeFileVersion(bytes);
      if (version) {
        EXPECT_EQ(std::count(version->begin(), version->end(), '.'), 3) << at;
      }
    }
  }
}

// ---- What goes into "Ver" ----

TEST(PublishVersionText, DigestAloneOrFileVersionAndDigest) {
  const std::string executable = PeImage{}.Build();
  EXPECT_EQ(publish::VersionText(publish::DescribeFile("", "a.txt", "abc")), "ba7816bf8f01cfea");
  EXPECT_EQ(publish::VersionText(publish::DescribeFile("", "a.dll", executable)),
            "1.2.3.4-" + publish::ContentDigest(executable));
}

// ---- Folder texts ----

TEST(PublishFolders, ComponentsAndFolderTextsCorrespond) {
  const struct {
    std::vector<std::string> components;
    const char* folder;
  } cases[] = {
      {{}, ""},
      {{"a"}, "\\a\\"},
      {{"a", "b"}, "\\a\\b\\"},
      {{"\x95\x5C", "b"}, "\\\x95\x5C\\b\\"},  // the 5C second byte is no separator
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    EXPECT_EQ(publish::FolderOf(c.components), c.folder);
    EXPECT_EQ(publish::ComponentsOf(c.folder), c.components);
  }
  EXPECT_EQ(publish::ComponentsOf("\\a\\\\b\\"), (std::vector<std::string>{"a", "b"}));
}

// ---- The list form ----

TEST(PublishWriteList, WritesTheDialectByteForByte) {
  const std::optional<std::string> list = publish::WriteList({
      {"1.0.0.2-0123456789abcdef", "updater.exe", ""},
      {"fedcba9876543210", kGbkName, "\\data\\\x95\x5C\\"},
      {"", "a&b<c>'d'.txt", "\\x\\"},
  });
  ASSERT_TRUE(list);
  EXPECT_EQ(*list,
            "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
            "<UpdateList>\r\n"
            "  <File Ver=\"1.0.0.2-0123456789abcdef\" Name=\"updater.exe\" url=\"\"/>\r\n"
            "  <File Ver=\"fedcba9876543210\" Name=\"\xB2\xE2\xCA\xD4.txt\" url=\"\\data\\\x95\x5C\\\"/>\r\n"
            "  <File Ver=\"\" Name=\"a&amp;b&lt;c&gt;&apos;d&apos;.txt\" url=\"\\x\\\"/>\r\n"
            "</UpdateList>\r\n");
  EXPECT_EQ(publish::WriteList({}), "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<UpdateList>\r\n</UpdateList>\r\n");
}

// What the updater reads back from a written list is exactly what was written, for the values
// that need escapes or look like them.
TEST(PublishWriteList, TheUpdatersReaderGetsTheEntriesBack) {
  const std::vector<Entry> entries = {
      {"1", "plain.txt", ""},
      {"&quot;&#65;", "&amp;.txt", "\\&lt;\\"},
      {"<>&'", "it's.txt", "\\a b\\"},
      {" spaced ", " lead.txt", "\\ \\"},
      {"tab\there\r\nbreak", kGbkName, "\\\xB2\xE2\\\x95\x5C\\"},
      {"\xB0\xE6\xB1\xBE", "\x81\x7C.dat", "\\x\\y\\"},
      {"", "empty ver.txt", ""},
  };
  const std::optional<std::string> list = publish::WriteList(entries);
  ASSERT_TRUE(list);
  const xml::Document document = xml::Document::Parse(*list);
  ASSERT_TRUE(document.loaded());
  ASSERT_EQ(document.ChildCount("@1"), static_cast<int>(entries.size()));
  std::string error;
  EXPECT_EQ(publish::ReadList(*list, error), entries) << error;
}

TEST(PublishWriteList, RefusesValuesTheListCannotHold) {
  for (const Entry& entry : std::vector<Entry>{
           {"a=b", "x.txt", ""}, {"1", "say\"hi\".txt", ""}, {"1", "x.txt", "\\a=b\\"}, {std::string("1\0", 2), "x", ""}}) {
    SCOPED_TRACE(testing::PrintToString(entry));
    EXPECT_EQ(publish::WriteList({{"1", "ok.txt", ""}, entry}), std::nullopt);
    EXPECT_TRUE(publish::EntryRefusal(entry));
  }
}

// ---- Reading the previous list ----

TEST(PublishReadList, ResolvesEntriesAsTheUpdaterDoes) {
  constexpr char kList[] =
      "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n"
      "<UpdateList>\n"
      "  <File Ver=\"1\" Name=\"a.txt\" url=\"\\sub\\\"/>\n"
      "  <File Ver=\"2\" Name=\"b.txt\"/>\n"  // folder of the entry before
      "  <File Name=\"c.txt\" url=\"\"></File>\n"  // no Ver: empty
      "  <Entry Ver=\"4\"/>\n"  // name and folder of the entry before
      "</UpdateList>\n";
  std::string error;
  EXPECT_EQ(publish::ReadList(kList, error), (std::vector<Entry>{
                                                 {"1", "a.txt", "\\sub\\"},
                                                 {"2", "b.txt", "\\sub\\"},
                                                 {"", "c.txt", ""},
                                                 {"4", "c.txt", ""},
                                             }));
  EXPECT_EQ(publish::ReadList("<UpdateList></UpdateList>", error), std::vector<Entry>{});
}

TEST(PublishReadList, RefusesListsItCannotCarryOn) {
  const struct {
    const char* what;
    const char* list;
    const char* message;
  } cases[] = {
      {"not a list", "<html><body>404", "cannot be read"},
      {"byte-order mark", "\xEF\xBB\xBF<r><f Ver=\"1\" Name=\"a\" url=\"\"/></r>", "cannot be read"},
      {"first entry without a name", "<r><f Ver=\"1\" url=\"\"/></r>", "entry 1"},
      {"a name climbing out", "<r><f Ver=\"1\" Name=\"a\" url=\"\"/><f Ver=\"1\" Name=\"..\" url=\"\"/></r>", "entry 2"},
      {"a folder without its leading backslash", "<r><f Ver=\"1\" Name=\"a\" url=\"sub\\\"/></r>", "entry 1"},
      {"a single-quoted value keeps its quote", "<r><f Ver='1' Name=\"a\" url=\"\"/></r>", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    const auto entries = publish::ReadList(c.list, error);
    if (c.message == nullptr) {
      EXPECT_TRUE(entries) << error;  // "'1'" is a Ver like any other text
      continue;
    }
    EXPECT_FALSE(entries);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

// ---- Names a release may not hold ----

TEST(PublishRefusals, ReleaseFiles) {
  const struct {
    const char* what;
    const char* folder;
    const char* name;
    bool with_notes;
    bool refused;
  } cases[] = {
      {"plain", "", "bvx.dll", false, false},
      {"nested", "\\a\\b\\", "c.dat", false, false},
      {"GBK", "\\\xB2\xE2\\", kGbkName, false, false},
      {"GBK second bytes 5C and 7C", "\\\x95\x5C\\", "\x81\x7C.txt", false, false},
      {"spaces and brackets", "", "Read Me [1].txt", false, false},
      {"list name below the top", "\\old\\", "UpdateList.xml", false, false},
      {"notes name without notes", "", "update.txt", false, false},
      {"upper-case TMP is not the updater's", "", "x.TMP", false, false},

      {"device", "", "CON.txt", false, true},
      {"device folder", "\\aux\\", "a.txt", false, true},
      {"parent", "", "..", false, true},
      {"backslash in the name", "", "a\\b.txt", false, true},
      {"colon", "", "a:b.txt", false, true},
      {"control byte", "", "a\tb.txt", false, true},
      {"broken GBK", "", "a\xB2", false, true},
      {"equals sign", "", "a=b.txt", false, true},
      {"double quote", "", "a\"b.txt", false, true},
      {"question mark", "", "a?.txt", false, true},
      {"pipe", "", "a|b.txt", false, true},
      {"asterisk in a folder", "\\a*\\", "b.txt", false, true},
      {"hash", "", "a#1.txt", false, true},
      {"percent", "\\100%\\", "a.txt", false, true},
      {"trailing dot", "", "a.", false, true},
      {"trailing space on a folder", "\\a \\", "b.txt", false, true},
      {"temporary", "\\a\\", "b.dll.tmp", false, true},
      {"the list's own name", "", "UpdateList.xml", false, true},
      {"the list's own name in other letters", "", "updatelist.XML", false, true},
      {"the notes' name with notes", "", "Update.txt", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(publish::ReleaseFileRefusal(c.folder, c.name, c.with_notes).has_value(), c.refused);
  }
}

// ---- The next list ----

struct File {
  const char* folder;
  const char* name;
  std::string content;
};

std::vector<ReleaseFile> Release(const std::vector<File>& files) {
  std::vector<ReleaseFile> release;
  for (const File& f : files) release.push_back(publish::DescribeFile(f.folder, f.name, f.content));
  return release;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string VerOf(const std::string& content) { return publish::VersionText(publish::DescribeFile("", "x", content)); }

struct Expected {
  Change change;
  Entry entry;
};

void ExpectPlan(const std::vector<Entry>& previous, const std::vector<File>& files, const std::vector<Expected>& expected) {
  std::string error;
  const std::vector<ReleaseFile> release = Release(files);
  const std::optional<publish::Plan> plan = publish::MakePlan(previous, release, false, error);
  ASSERT_TRUE(plan) << error;
  ASSERT_EQ(plan->lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(plan->lines[i].change, expected[i].change);
    EXPECT_EQ(plan->lines[i].entry, expected[i].entry);
    if (expected[i].change == Change::kKept) {
      EXPECT_FALSE(plan->lines[i].release_file);
    } else {
      ASSERT_TRUE(plan->lines[i].release_file);
      EXPECT_EQ(publish::VersionText(release[*plan->lines[i].release_file]), expected[i].entry.ver);
    }
  }
}

TEST(PublishPlan, FirstReleaseListsEveryFileSortedByFolderThenName) {
  ExpectPlan({},
             {{"\\plugins\\", "b.dat", "b"}, {"", "z.txt", "z"}, {"", "a.txt", "a"}, {"\\data\\", kGbkName, "g"}},
             {
                 {Change::kAdded, {VerOf("a"), "a.txt", ""}},
                 {Change::kAdded, {VerOf("z"), "z.txt", ""}},
                 {Change::kAdded, {VerOf("g"), kGbkName, "\\data\\"}},
                 {Change::kAdded, {VerOf("b"), "b.dat", "\\plugins\\"}},
             });
}

TEST(PublishPlan, SecondReleaseKeepsPositionsAndAppends) {
  const std::vector<Entry> previous = {
      {VerOf("z1"), "z.txt", ""},
      {VerOf("gone"), "removed.txt", ""},
      {VerOf("a1"), "a.txt", ""},
      {VerOf("g1"), kGbkName, "\\data\\"},
  };
  ExpectPlan(previous,
             {{"", "a.txt", "a2"}, {"\\data\\", kGbkName, "g1"}, {"", "z.txt", "z1"}, {"\\new\\sub\\", "n.txt", "n"},
              {"", "b.txt", "b"}},
             {
                 {Change::kUnchanged, previous[0]},
                 {Change::kKept, previous[1]},
                 {Change::kChanged, {VerOf("a2"), "a.txt", ""}},
                 {Change::kUnchanged, previous[3]},
                 {Change::kAdded, {VerOf("b"), "b.txt", ""}},
                 {Change::kAdded, {VerOf("n"), "n.txt", "\\new\\sub\\"}},
             });
}

// Windows tells names apart without letter case, so a file whose name changed only in case is
// the same entry, and the entry keeps the spelling the users' lists already have.
TEST(PublishPlan, EntriesMatchFilesWithoutLetterCaseAndKeepTheirSpelling) {
  const std::vector<Entry> previous = {{VerOf("1"), "ReadMe.TXT", "\\Docs\\"}, {VerOf("2"), kGbkName, ""}};
  ExpectPlan(previous, {{"\\docs\\", "readme.txt", "1b"}, {"", kGbkName, "2"}},
             {
                 {Change::kChanged, {VerOf("1b"), "ReadMe.TXT", "\\Docs\\"}},
                 {Change::kUnchanged, previous[1]},
             });
}

// "\x81\x41" and "\x81\x61" are two characters whose second bytes are the letters "A" and "a": the
// folding of letter case must step over them, or the two files would be taken for one.
TEST(PublishPlan, LetterCaseIsFoldedOutsideDoubleByteCharactersOnly) {
  ExpectPlan({}, {{"", "\x81\x41.txt", "1"}, {"", "\x81\x61.txt", "2"}},
             {{Change::kAdded, {VerOf("1"), "\x81\x41.txt", ""}}, {Change::kAdded, {VerOf("2"), "\x81\x61.txt", ""}}});
}

// Two entries of one file (lists written by hand have them) both follow the file.
TEST(PublishPlan, DuplicateEntriesBothFollowTheirFile) {
  const std::vector<Entry> previous = {{"1", "a.txt", ""}, {"2", "A.txt", "\\"}};
  ExpectPlan(previous, {{"", "a.txt", "new"}},
             {{Change::kChanged, {VerOf("new"), "a.txt", ""}}, {Change::kChanged, {VerOf("new"), "A.txt", "\\"}}});
}

// The "Ver" of an executable with a version resource shows its file version, and changes with the
// content even when the version was not raised.
TEST(PublishPlan, ExecutablesCarryTheirFileVersion) {
  const std::string v1 = PeImage{.version = {1, 0, 0, 1}}.Build();
  std::string v1_rebuilt = v1;
  v1_rebuilt[0x1F0] = 'x';  // other code, same version
  const std::string v2 = PeImage{.version = {1, 0, 0, 2}}.Build();
  const std::string digest_v1 = publish::ContentDigest(v1);
  const std::vector<Entry> previous = {{"1.0.0.1-" + digest_v1, "app.exe", ""}};

  const struct {
    const char* what;
    std::string content;
    Change change;
    std::string ver;
  } cases[] = {
      {"same file", v1, Change::kUnchanged, "1.0.0.1-" + digest_v1},
      {"version raised", v2, Change::kChanged, "1.0.0.2-" + publish::ContentDigest(v2)},
      {"rebuilt without raising the version", v1_rebuilt, Change::kChanged, "1.0.0.1-" + publish::ContentDigest(v1_rebuilt)},
      {"version resource dropped", "plain", Change::kChanged, publish::ContentDigest("plain")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectPlan(previous, {{"", "app.exe", c.content}}, {{c.change, {c.ver, "app.exe", ""}}});
  }
}

// Whatever the old "Ver" was, a file is unchanged only when its content gives that very text, and a
// changed file never gets its old "Ver" back: the updater would then skip it.
TEST(PublishPlan, AChangedFileNeverKeepsItsOldVer) {
  const std::string executable = PeImage{}.Build();
  const std::string digest = publish::ContentDigest(executable);
  const struct {
    const char* what;
    std::string old_ver;
    Change change;
  } cases[] = {
      {"derived from this content", "1.2.3.4-" + digest, Change::kUnchanged},
      {"written by hand as the version alone", "1.2.3.4", Change::kChanged},
      {"the digest alone", digest, Change::kChanged},
      {"the same text in capitals: the updater tells case apart", Upper("1.2.3.4-" + digest), Change::kChanged},
      {"another content's text", "1.2.3.4-" + publish::ContentDigest("other"), Change::kChanged},
      {"empty", "", Change::kChanged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    const auto plan = publish::MakePlan({{c.old_ver, "app.exe", ""}}, {publish::DescribeFile("", "app.exe", executable)},
                                        false, error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->lines[0].change, c.change);
    if (c.change == Change::kChanged) {
      EXPECT_NE(plan->lines[0].entry.ver, c.old_ver);
      EXPECT_EQ(plan->lines[0].old_ver, c.old_ver);
    } else {
      EXPECT_EQ(plan->lines[0].entry.ver, c.old_ver);
    }
  }
}

TEST(PublishPlan, RefusesReleasesThatWouldNotArriveAsWritten) {
  const struct {
    const char* what;
    std::vector<Entry> previous;
    std::vector<File> files;
    std::vector<const char*> messages;  // each must appear in the error
  } cases[] = {
      {"a device name", {}, {{"", "ok.txt", ""}, {"", "nul.txt", ""}}, {"\"nul.txt\"", "device"}},
      {"every refused file is named",
       {},
       {{"", "a?.txt", ""}, {"\\sub\\", "b=c.txt", ""}},
       {"\"a?.txt\"", "\"\\sub\\b=c.txt\""}},
      {"one file on Windows", {}, {{"\\d\\", "a.txt", "1"}, {"\\D\\", "A.TXT", "2"}}, {"one file on Windows"}},
      {"a file beside a folder of its name", {}, {{"", "Data", "1"}, {"\\data\\", "x", "2"}}, {"\"Data\"", "folder"}},
      {"a kept entry beside a new folder of its name",
       {{"1", "plugins", ""}},
       {{"\\Plugins\\", "p.dll", ""}},
       {"\"plugins\"", "folder"}},
      {"a previous entry the updater refuses", {{"1", "a.txt", "x\\"}}, {{"", "a.txt", ""}}, {"entry 1"}},
      {"the list's own name", {}, {{"", "UpdateList.xml", ""}}, {"update list"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(publish::MakePlan(c.previous, Release(c.files), false, error));
    for (const char* message : c.messages) EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

// The updater's own comparison of the new list with the old one downloads exactly the added and
// changed files, acts on every entry, and still sees the kept and unchanged ones where they were.
TEST(PublishPlan, TheUpdaterFetchesExactlyTheAddedAndChangedFiles) {
  std::string error;
  const auto first = publish::MakePlan(
      {}, Release({{"", "a.txt", "a"}, {"", "b.txt", "b"}, {"\\d\\", kGbkName, "g"}, {"", "c.txt", "c"}}), false, error);
  ASSERT_TRUE(first) << error;
  const auto second = publish::MakePlan(
      first->Entries(), Release({{"", "a.txt", "a"}, {"", "c.txt", "c2"}, {"\\d\\", kGbkName, "g2"}, {"\\n\\", "n.txt", "n"}}),
      false, error);
  ASSERT_TRUE(second) << error;

  const xml::Document old_list = xml::Document::Parse(*publish::WriteList(first->Entries()));
  const xml::Document new_list = xml::Document::Parse(*publish::WriteList(second->Entries()));
  std::vector<update_check::Row> expected;
  for (const publish::Line& line : second->lines) {
    if (line.change == Change::kAdded || line.change == Change::kChanged) {
      expected.push_back({line.entry.ver, line.entry.name, line.entry.folder, false});
    }
  }
  EXPECT_EQ(update_check::Differences(new_list, old_list), expected);
  EXPECT_EQ(expected.size(), 3u);  // c.txt and the GBK file changed, n.txt added; b.txt kept
  EXPECT_EQ(new_list.ChildCount("@1"), 5);
}

}  // namespace

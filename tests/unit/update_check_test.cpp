#include "core/update_check.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/texts.h"

namespace update_check {
// Readable failure output for rows holding GBK bytes.
void PrintTo(const Row& row, std::ostream* out) {
  *out << testing::PrintToString(row.version) << "|" << testing::PrintToString(row.name) << "|"
       << testing::PrintToString(row.folder) << (row.refused ? "|refused" : "");
}
}  // namespace update_check

namespace {

using update_check::Outcome;
using update_check::Row;

constexpr char kBaseUrl[] = "http://127.0.0.1:8631/Brantovo/Lessira/";
constexpr char kRunDirectory[] = "C:\\app";

// A list with one entry per (Ver, Name, url) triple; a null pointer leaves the attribute out.
struct Entry {
  const char* ver;
  const char* name;
  const char* url;
};

std::string ListText(std::initializer_list<Entry> entries) {
  std::string text = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<UpdateList>\n";
  for (const Entry& e : entries) {
    text += "  <File";
    if (e.ver) text += std::string(" Ver=\"") + e.ver + "\"";
    if (e.name) text += std::string(" Name=\"") + e.name + "\"";
    if (e.url) text += std::string(" url=\"") + e.url + "\"";
    text += "/>\n";
  }
  return text + "</UpdateList>\n";
}

// Records every call in one log, so tests see the order of window writes and file system work.
class FakePlatform : public update_check::Platform {
 public:
  std::string served_list;                     // what the server answers; empty = nothing received
  std::map<std::string, std::string> files;    // readable files by full path
  std::set<std::string> existing_folders;      // folders whose "\Nul" probe finds something
  std::vector<std::string> log;
  std::vector<Row> rows;

  void SetStatusLine(const std::string& text) override { log.push_back("status " + text); }
  std::string FetchToMemory(const std::string& url) override {
    log.push_back("fetch " + url);
    return served_list;
  }
  std::optional<std::string> ReadWholeFile(const std::string& path) override {
    log.push_back("read " + path);
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return found->second;
  }
  void AppendRow(const Row& row) override {
    log.push_back("row " + row.name);
    rows.push_back(row);
  }
  bool ProbeFindsAnything(const std::string& path) override {
    log.push_back("probe " + path);
    const std::string suffix = "\\Nul";
    return path.ends_with(suffix) && existing_folders.contains(path.substr(0, path.size() - suffix.size()));
  }
  void MakeDirectory(const std::string& path) override {
    log.push_back("mkdir " + path);
    existing_folders.insert(path);
  }
};

std::string Status(const char* text) { return std::string("status ") + text; }

struct DifferenceCase {
  const char* what;
  std::string server;
  std::string local;
  std::vector<Row> expected;
};

TEST(UpdateCheck, DifferencesComparePositionByPosition) {
  const std::string three = ListText({{"1", "a.dll", ""}, {"2", "b.dll", "\\x\\"}, {"3", "c.dll", ""}});
  const DifferenceCase cases[] = {
      {"same lists", three, three, {}},
      {"server list shorter: extra local entries ignored", ListText({{"1", "a.dll", ""}}), three, {}},
      {"server list longer: new entries differ",
       three,
       ListText({{"1", "a.dll", ""}}),
       {{"2", "b.dll", "\\x\\"}, {"3", "c.dll", ""}}},
      {"entry inserted in the middle shifts every later comparison",
       ListText({{"1", "a.dll", ""}, {"9", "new.dll", ""}, {"2", "b.dll", "\\x\\"}, {"3", "c.dll", ""}}),
       three,
       {{"9", "new.dll", ""}, {"2", "b.dll", "\\x\\"}, {"3", "c.dll", ""}}},
      {"shifted entry whose version happens to match stays",
       ListText({{"1", "a.dll", ""}, {"2", "new.dll", ""}, {"2", "b.dll", "\\x\\"}}),
       three,
       {{"2", "b.dll", "\\x\\"}}},
      {"lower version and letter case both differ",
       ListText({{"0.9", "a.dll", ""}, {"1.0A", "b.dll", ""}}),
       ListText({{"1.0", "a.dll", ""}, {"1.0a", "b.dll", ""}}),
       {{"0.9", "a.dll", ""}, {"1.0A", "b.dll", ""}}},
      {"versions are texts: 1.0 and 1.00 differ",
       ListText({{"1.00", "a.dll", ""}}),
       ListText({{"1.0", "a.dll", ""}}),
       {{"1.00", "a.dll", ""}}},
      {"same version with another name or folder does not differ",
       ListText({{"1", "renamed.dll", "\\moved\\"}}),
       ListText({{"1", "a.dll", ""}}),
       {}},
      {"no Ver on either side is skipped", ListText({{nullptr, "a.dll", ""}}), ListText({{nullptr, "a.dll", ""}}), {}},
      {"no Ver on the server only differs, with an empty version",
       ListText({{nullptr, "a.dll", ""}}),
       ListText({{"1", "a.dll", ""}}),
       {{"", "a.dll", ""}}},
      {"missing url and Name carry over from the entry before",
       ListText({{"1", "a.dll", "\\x\\"}, {"2", nullptr, nullptr}, {"3", "c.dll", ""}}),
       "",
       {{"1", "a.dll", "\\x\\"}, {"2", "a.dll", "\\x\\"}, {"3", "c.dll", ""}}},
      {"carry-over also spans entries that do not differ",
       ListText({{"1", "a.dll", "\\x\\"}, {"2", nullptr, nullptr}}),
       ListText({{"1", "a.dll", ""}}),
       {{"2", "a.dll", "\\x\\"}}},
      {"no local list: every entry with a Ver differs",
       ListText({{"1", "a.dll", ""}, {"", "empty.dll", ""}, {nullptr, "none.dll", ""}, {"2", "b.dll", ""}}),
       "",
       {{"1", "a.dll", ""}, {"2", "b.dll", ""}}},
      {"unreadable local list counts as missing", ListText({{"1", "a.dll", ""}}), "<UpdateList>", {{"1", "a.dll", ""}}},
      {"unreadable server list: nothing differs", "<html><body>502</body>", three, {}},
      {"refusal is judged on the carried-over name and folder",
       ListText({{"1", "a.dll", "\\..\\"}, {"2", nullptr, nullptr}, {"3", "b.dll", "\\x\\"}, {"4", "..", nullptr}}),
       "",
       {{"1", "a.dll", "\\..\\", true},
        {"2", "a.dll", "\\..\\", true},
        {"3", "b.dll", "\\x\\", false},
        {"4", "..", "\\x\\", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(update_check::Differences(xml::Document::Parse(c.server), xml::Document::Parse(c.local)),
              c.expected);
  }
}

TEST(UpdateCheck, BlankFolderIsOnlySpacesAndIdeographicSpaces) {
  for (const char* blank : {"", " ", "   ", "\xA1\xA1", " \xA1\xA1 \xA1\xA1"}) {
    SCOPED_TRACE(testing::PrintToString(blank));
    EXPECT_TRUE(update_check::IsBlankFolder(blank));
  }
  // "\xB0\xA1" + "\xA1" holds the bytes A1 A1 but no ideographic space character.
  for (const char* folder : {"\\", " \\ ", "\xA1", "\xA1 \xA1", "\xB0\xA1\xA1", "\t", "\xA1\xA1x"}) {
    SCOPED_TRACE(testing::PrintToString(folder));
    EXPECT_FALSE(update_check::IsBlankFolder(folder));
  }
}

struct PrefixCase {
  const char* path;
  std::vector<std::string> prefixes;
};

TEST(UpdateCheck, FolderPrefixesCoverEveryFolderAlongThePath) {
  const PrefixCase cases[] = {
      {"C:\\app\\data\\", {"C:\\", "C:\\app\\", "C:\\app\\data\\"}},
      {"C:\\app\\data", {"C:\\", "C:\\app\\", "C:\\app\\data\\"}},
      {"C:\\app\\\\x\\", {"C:\\", "C:\\app\\", "C:\\app\\\\", "C:\\app\\\\x\\"}},
      // A folder name without the leading backslash runs into the run directory's own name.
      {"C:\\appdata\\", {"C:\\", "C:\\appdata\\"}},
      // "\x95\x5C" is one character: its trail byte is no separator.
      {"C:\\app\\\x95\x5C\\b\\", {"C:\\", "C:\\app\\", "C:\\app\\\x95\x5C\\", "C:\\app\\\x95\x5C\\b\\"}},
      // Its last byte is 5C, so no separator is added and that last name is never reached.
      {"C:\\app\\\x95\x5C", {"C:\\", "C:\\app\\"}},
      {"\\\\host\\share\\d\\", {"\\", "\\\\", "\\\\host\\", "\\\\host\\share\\", "\\\\host\\share\\d\\"}},
      {"", {"\\"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path));
    EXPECT_EQ(update_check::FolderPrefixes(c.path), c.prefixes);
  }
}

TEST(UpdateCheck, CreatesOnlyFoldersWhoseProbeFindsNothing) {
  FakePlatform platform;
  platform.existing_folders = {"C:\\", "C:\\app\\"};
  update_check::CreateFolders(platform, "C:\\app\\data\\\xB2\xE2");
  const std::vector<std::string> expected = {
      "probe C:\\\\Nul",
      "probe C:\\app\\\\Nul",
      "probe C:\\app\\data\\\\Nul",
      "mkdir C:\\app\\data\\",
      "probe C:\\app\\data\\\xB2\xE2\\\\Nul",
      "mkdir C:\\app\\data\\\xB2\xE2\\",
  };
  EXPECT_EQ(platform.log, expected);
}

TEST(UpdateCheck, NothingReceivedEndsTheCheckAtOnce) {
  FakePlatform platform;
  platform.files["C:\\app\\UpdateList.xml"] = ListText({{"1", "a.dll", ""}});
  const update_check::Result result = update_check::Run(platform, kBaseUrl, kRunDirectory);
  EXPECT_EQ(result.outcome, Outcome::kListNotFetched);
  EXPECT_EQ(result.list_bytes, "");
  const std::vector<std::string> expected = {
      Status(texts::kReadingData),
      std::string("fetch ") + kBaseUrl + "UpdateList.xml",
      Status(texts::kListFetchFailed),
  };
  EXPECT_EQ(platform.log, expected);
}

TEST(UpdateCheck, SameListsChangeNothing) {
  FakePlatform platform;
  platform.served_list = ListText({{"1", "a.dll", "\\x\\"}});
  platform.files["C:\\app\\UpdateList.xml"] = platform.served_list;
  const update_check::Result result = update_check::Run(platform, kBaseUrl, kRunDirectory);
  EXPECT_EQ(result.outcome, Outcome::kNothingDiffers);
  EXPECT_EQ(result.list_bytes, platform.served_list);
  const std::vector<std::string> expected = {
      Status(texts::kReadingData),
      std::string("fetch ") + kBaseUrl + "UpdateList.xml",
      "read C:\\app\\UpdateList.xml",
      Status(texts::kLookingForUpdates),
  };
  EXPECT_EQ(platform.log, expected);
}

// An error page in place of the list: kept as the list bytes (the download pass never runs to
// store it), and even a first installation is offered nothing.
TEST(UpdateCheck, ErrorPageInPlaceOfTheListOffersNothing) {
  FakePlatform platform;
  platform.served_list = "<html><head><title>404 Not Found</title></head><body><hr></body></html>";
  const update_check::Result result = update_check::Run(platform, kBaseUrl, kRunDirectory);
  EXPECT_EQ(result.outcome, Outcome::kNothingDiffers);
  EXPECT_EQ(result.list_bytes, platform.served_list);
  EXPECT_TRUE(platform.rows.empty());
  EXPECT_EQ(platform.log.back(), Status(texts::kLookingForUpdates));
}

TEST(UpdateCheck, DifferingEntriesBecomeRowsAndTheirFoldersAreCreated) {
  FakePlatform platform;
  platform.existing_folders = {"C:\\", "C:\\app\\"};
  platform.served_list = ListText({
      {"2", "a.dll", ""},              // run directory itself: nothing to create
      {"1", "same.dll", "\\same\\"},   // unchanged: no row, no folder
      {"5", "b.dat", "\\data\\"},
      {"6", "c.dat", nullptr},         // folder carried over from b.dat
      {"7", "d.dat", " \xA1\xA1 "},    // blank, and refused for lacking the leading backslash
  });
  platform.files["C:\\app\\UpdateList.xml"] =
      ListText({{"1", "a.dll", ""}, {"1", "same.dll", "\\same\\"}, {"4", "b.dat", "\\data\\"}});

  const update_check::Result result = update_check::Run(platform, kBaseUrl, kRunDirectory);

  EXPECT_EQ(result.outcome, Outcome::kUpdatesFound);
  EXPECT_EQ(result.list_bytes, platform.served_list);
  const std::vector<Row> expected_rows = {
      {"2", "a.dll", ""},
      {"5", "b.dat", "\\data\\"},
      {"6", "c.dat", "\\data\\"},
      {"7", "d.dat", " \xA1\xA1 ", true},
  };
  EXPECT_EQ(platform.rows, expected_rows);
  const std::vector<std::string> expected_log = {
      Status(texts::kReadingData),
      std::string("fetch ") + kBaseUrl + "UpdateList.xml",
      "read C:\\app\\UpdateList.xml",
      Status(texts::kLookingForUpdates),
      "row a.dll",
      "row b.dat",
      "probe C:\\\\Nul",
      "probe C:\\app\\\\Nul",
      "probe C:\\app\\data\\\\Nul",
      "mkdir C:\\app\\data\\",
      "row c.dat",
      "probe C:\\\\Nul",
      "probe C:\\app\\\\Nul",
      "probe C:\\app\\data\\\\Nul",
      "row d.dat",
      Status(texts::kUpdatesFound),
  };
  EXPECT_EQ(platform.log, expected_log);
}

// A hostile list must not get anything created outside the run directory, carried-over values
// included; the refused rows still show what the server offered, and a sound entry after them is
// handled as usual.
TEST(UpdateCheck, RefusedEntriesAreListedButGetNoFolders) {
  FakePlatform platform;
  platform.existing_folders = {"C:\\", "C:\\app\\"};
  platform.served_list = ListText({
      {"1", "a.dll", "\\..\\"},    // climbs out
      {"2", "b.dll", nullptr},     // carries the climbing folder over
      {"3", "nul.txt", "\\ok\\"},  // a device, in a sound folder
      {"4", "e.dat", "sib\\"},     // would be a sibling of the run directory
      {"5", "c.dll", "\\good\\"},
  });

  const update_check::Result result = update_check::Run(platform, kBaseUrl, kRunDirectory);

  EXPECT_EQ(result.outcome, Outcome::kUpdatesFound);
  const std::vector<Row> expected_rows = {
      {"1", "a.dll", "\\..\\", true},
      {"2", "b.dll", "\\..\\", true},
      {"3", "nul.txt", "\\ok\\", true},
      {"4", "e.dat", "sib\\", true},
      {"5", "c.dll", "\\good\\", false},
  };
  EXPECT_EQ(platform.rows, expected_rows);
  const std::vector<std::string> expected_log = {
      Status(texts::kReadingData),
      std::string("fetch ") + kBaseUrl + "UpdateList.xml",
      "read C:\\app\\UpdateList.xml",
      Status(texts::kLookingForUpdates),
      "row a.dll",
      "row b.dll",
      "row nul.txt",
      "row e.dat",
      "row c.dll",
      "probe C:\\\\Nul",
      "probe C:\\app\\\\Nul",
      "probe C:\\app\\good\\\\Nul",
      "mkdir C:\\app\\good\\",
      Status(texts::kUpdatesFound),
  };
  EXPECT_EQ(platform.log, expected_log);
}

TEST(UpdateCheck, FirstInstallationOffersEveryVersionedEntry) {
  FakePlatform platform;
  platform.existing_folders = {"C:\\", "C:\\app\\"};
  platform.served_list = ListText({{"1", "a.dll", ""}, {nullptr, "b.dll", ""}, {"3", "c.dll", ""}});
  const update_check::Result result = update_check::Run(platform, kBaseUrl, kRunDirectory);
  EXPECT_EQ(result.outcome, Outcome::kUpdatesFound);
  const std::vector<Row> expected_rows = {{"1", "a.dll", ""}, {"3", "c.dll", ""}};
  EXPECT_EQ(platform.rows, expected_rows);
  EXPECT_EQ(platform.log.back(), Status(texts::kUpdatesFound));
}

}  // namespace

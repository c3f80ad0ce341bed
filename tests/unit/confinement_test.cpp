#include "core/confinement.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

// "\x95\x5C" is one GBK character whose second byte is the byte of "\"; "\xB2\xE2" and
// "\xCA\xD4" are ordinary GBK characters.
struct Case {
  const char* what;
  std::string_view text;  // string_view so that cases may hold a zero byte
  bool safe;
};

TEST(Confinement, Folders) {
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"empty: the run directory itself", "", true},
      {"one level", "\\data\\", true},
      {"nested", "\\data\\skin\\", true},
      {"a lone separator is the run directory", "\\", true},
      {"GBK names", "\\\xB2\xE2\xCA\xD4\\\xCA\xFD\xBE\xDD\\", true},
      {"second byte 5C inside a name", "\\\x95\x5C\\b\\", true},
      {"a single dot names the folder itself", "\\.\\a\\", true},
      {"dots inside a name", "\\a..b\\..x\\x..\\", true},
      {"trailing dot on a name with content", "\\a.\\", true},
      {"spaces alone stay below", "\\ \\", true},
      {"doubled separator in the middle collapses", "\\a\\\\b\\", true},
      {"device name only as part of a longer name", "\\console\\nul1\\com10\\lpt\\", true},
      {"digit 0 makes no numbered device", "\\com0\\", true},
      {"question mark and hash only disturb the URL", "\\a?#%\\", true},

      {"no leading separator: a sibling of the run directory", "data\\", false},
      {"spaces without leading separator", " ", false},
      {"ideographic space without leading separator", "\xA1\xA1", false},
      {"first byte a lead byte whose second byte is 5C", "\x95\x5C" "a\\", false},
      {"two leading separators", "\\\\host\\share\\", false},
      {"device path prefix", "\\\\?\\C:\\", false},
      {"no closing separator", "\\data", false},
      {"closing 5C is a second byte", "\\\x95\x5C", false},
      {"parent", "\\..\\", false},
      {"parent after a name", "\\a\\..\\..\\", false},
      {"parent as the whole value", "..\\", false},
      {"three dots", "\\...\\", false},
      {"parent with trailing space", "\\.. \\", false},
      {"parent with dot and space", "\\. .\\", false},
      {"parent behind a GBK name", "\\\xB2\xE2\\..\\", false},
      {"forward slash", "\\a/b\\", false},
      {"forward slash parent", "\\../\\", false},
      {"drive", "\\C:\\", false},
      {"alternate data stream", "\\a:s\\", false},
      {"device", "\\CON\\", false},
      {"device in lower case behind a name", "\\a\\nul\\", false},
      {"device with extension", "\\aux.d\\", false},
      {"device with trailing spaces before the extension", "\\Prn  .x\\", false},
      {"numbered device", "\\LpT9\\", false},
      {"line feed", "\\a\n\\", false},
      {"carriage return", "\\a\r\nHost: x\\", false},
      {"tab", "\\a\tb\\", false},
      {"zero byte", "\\a\0b\\"sv, false},
      {"lead byte before a dot", "\\\x81..\\", false},
      {"lead byte followed by DEL", "\\\x81\x7F\\", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(confinement::IsSafeFolder(c.text), c.safe) << testing::PrintToString(std::string(c.text));
  }
}

TEST(Confinement, Names) {
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"plain", "bvx.dll", true},
      {"GBK", "\xB2\xE2\xCA\xD4.dat", true},
      {"second byte 5C", "\x95\x5C.dll", true},
      {"several extensions", "a.tar.gz", true},
      {"leading dot", ".config", true},
      {"trailing dot and space are trimmed to a name", "a.dll. ", true},
      {"device name inside a longer name", "nullify.dll", true},
      {"device name after a dot", "x.con", true},
      {"digit 0 makes no numbered device", "com0.dll", true},
      {"superscript-looking byte as part of a GBK character", "COM\xB9\xA4", true},

      {"empty", "", false},
      {"dot", ".", false},
      {"parent", "..", false},
      {"three dots", "...", false},
      {"spaces only", "  ", false},
      {"parent with trailing space", ".. ", false},
      {"backslash", "a\\b.dll", false},
      {"backslash parent", "..\\x.dll", false},
      {"forward slash", "a/b.dll", false},
      {"drive", "C:x.dll", false},
      {"alternate data stream", "a.dll:s", false},
      {"device", "NUL", false},
      {"device with extension", "nul.txt", false},
      {"device in mixed case", "Com1.dll", false},
      {"device with trailing dot", "con.", false},
      {"device with spaces before the extension", "aux .dll", false},
      {"printer port", "lpt3", false},
      {"line feed", "a\n.dll", false},
      {"zero byte", "a\0.dll"sv, false},
      {"lone lead byte at the end", "a\x95", false},
      {"lead byte before a dot", "COM\xB9.dll", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(confinement::IsSafeName(c.text), c.safe) << testing::PrintToString(std::string(c.text));
  }
}

struct EntryCase {
  const char* name;
  const char* folder;
  bool confined;
};

TEST(Confinement, EntryNeedsBothNameAndFolder) {
  const EntryCase cases[] = {
      {"a.dll", "", true},
      {"a.dll", "\\sub\\", true},
      {"a.dll", "\\..\\", false},
      {"..", "\\sub\\", false},
      {"N.dll", "\\CO", false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.folder);
    EXPECT_EQ(confinement::IsConfined(c.name, c.folder), c.confined);
  }
}

}  // namespace

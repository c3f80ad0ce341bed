#include "core/path.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
  const char* full;
  const char* directory;
  const char* file;
};

// "\x95\x5C" is one GBK character whose second byte is the byte of "\".
TEST(Path, SplitsAtTheLastSeparatorCharacter) {
  const SplitCase cases[] = {
      {"C:\\app\\updater.exe", "C:\\app", "updater.exe"},
      {"C:\\updater.exe", "C:", "updater.exe"},
      {"updater.exe", "", "updater.exe"},
      {"C:\\\x95\x5C\\x.exe", "C:\\\x95\x5C", "x.exe"},
      {"C:\\dir\\\x95\x5C", "C:\\dir", "\x95\x5C"},
      {"C:\\Program Files\\App\\u.exe", "C:\\Program Files\\App", "u.exe"},
      {"C:\\a\\\x81", "C:\\a", "\x81"},  // a lone lead byte at the end is a character of its own
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.full);
    EXPECT_EQ(path::DirectoryOf(c.full), c.directory);
    EXPECT_EQ(path::FileNameOf(c.full), c.file);
  }
}

TEST(Path, SearchStepsOverDoubleByteCharacters) {
  EXPECT_EQ(path::FindBackslash("\x95\x5C\\"), 2u);
  EXPECT_EQ(path::FindBackslash("ab\\c\\", 3), 4u);
  EXPECT_EQ(path::FindBackslash("\x95\x5C"), path::npos);
  EXPECT_EQ(path::FindLastBackslash("\\\x95\x5C"), 0u);
  EXPECT_EQ(path::Join("C:", "Config.ini"), "C:\\Config.ini");
}

}  // namespace

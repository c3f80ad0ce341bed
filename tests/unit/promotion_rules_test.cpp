#include "core/promotion_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

constexpr std::string_view kOwn = "updater.exe";

struct EntryCase {
  const char* name;
  const char* base;
  const char* extension;
  const char* target;  // nullptr: the file stays
};

// GBK names: "\xB8\xFC\xD0\xC2" is two double-byte characters; "\x95\x5C" ends in the byte of "\"
// and "\x81\x40" in the lowest trail byte. No trail byte (0x40..0xFE) can be the byte of ".", so a
// dot after a double-byte character always starts an extension.
TEST(PromotionRules, SplitsNamesAndDecidesEachEntry) {
  const EntryCase cases[] = {
      {"a.dll.tmp", "a.dll", ".tmp", "a.dll"},
      {"bvx.dll.tmp", "bvx.dll", ".tmp", "bvx.dll"},
      {"A.DLL.TMP", "A.DLL", ".TMP", nullptr},
      {"a.dll.Tmp", "a.dll", ".Tmp", nullptr},
      {"a.tmp.bak", "a.tmp", ".bak", nullptr},
      {"a.tmp ", "a", ".tmp ", nullptr},
      {"a.tmpx", "a", ".tmpx", nullptr},
      {"atmp", "", "atmp", nullptr},
      {"tmp", "", "tmp", nullptr},
      {"noextension", "", "noextension", nullptr},
      {".tmp", "", ".tmp", ""},  // moved onto the folder itself, which fails
      {"..tmp", ".", ".tmp", "."},
      {"a..tmp", "a.", ".tmp", "a."},
      {"a.tmp.tmp", "a.tmp", ".tmp", "a.tmp"},
      {"x.y.z.dll.tmp", "x.y.z.dll", ".tmp", "x.y.z.dll"},
      {"readme.", "readme", ".", nullptr},
      {"updater.exe.tmp", "updater.exe", ".tmp", nullptr},  // the running updater itself
      {"UPDATER.EXE.tmp", "UPDATER.EXE", ".tmp", "UPDATER.EXE"},
      {"updater.exe.bak.tmp", "updater.exe.bak", ".tmp", "updater.exe.bak"},
      {"updater.tmp", "updater", ".tmp", "updater"},
      {"updater.exe", "updater", ".exe", nullptr},
      {"\xB8\xFC\xD0\xC2.dll.tmp", "\xB8\xFC\xD0\xC2.dll", ".tmp", "\xB8\xFC\xD0\xC2.dll"},
      {"\xB8\xFC\xD0\xC2.tmp", "\xB8\xFC\xD0\xC2", ".tmp", "\xB8\xFC\xD0\xC2"},
      {"\xB8\xFC\xD0\xC2", "", "\xB8\xFC\xD0\xC2", nullptr},
      {"\x95\x5C.tmp", "\x95\x5C", ".tmp", "\x95\x5C"},
      {"a.\x81\x40tmp", "a", ".\x81\x40tmp", nullptr},
      {"\x81\x40.\xB8\xFC.tmp", "\x81\x40.\xB8\xFC", ".tmp", "\x81\x40.\xB8\xFC"},
      // Malformed: a lead byte takes the "." after it as its second byte.
      {"a\x81.tmp", "", "a\x81.tmp", nullptr},
      {"a.b\x81.", "a", ".b\x81.", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(promotion::BaseOf(c.name), c.base);
    EXPECT_EQ(promotion::ExtensionOf(c.name), c.extension);
    const std::optional<std::string_view> target = promotion::PromotionTarget(c.name, kOwn);
    if (c.target == nullptr) {
      EXPECT_FALSE(target.has_value()) << "moved to " << *target;
    } else {
      ASSERT_TRUE(target.has_value());
      EXPECT_EQ(*target, c.target);
    }
  }
}

// The own name comes from the running module, so it may carry any case and a GBK folder name.
TEST(PromotionRules, KeepsOnlyTheTemporaryOfTheOwnExecutableExactly) {
  EXPECT_FALSE(promotion::PromotionTarget("Updater.EXE.tmp", "Updater.EXE").has_value());
  EXPECT_TRUE(promotion::PromotionTarget("updater.exe.tmp", "Updater.EXE").has_value());
  EXPECT_FALSE(promotion::PromotionTarget("\xC9\xFD\xBC\xB6.exe.tmp", "\xC9\xFD\xBC\xB6.exe").has_value());
  EXPECT_TRUE(promotion::PromotionTarget("\xC9\xFD\xBC\xB6.exe.tmp", "\xC9\xFD\xBC\xB7.exe").has_value());
  // Only the exact base counts: a prefix or an extension-less match of the own name moves.
  EXPECT_TRUE(promotion::PromotionTarget("updater.exe.tmp", "updater.ex").has_value());
  EXPECT_TRUE(promotion::PromotionTarget("updater.tmp", "updater.exe").has_value());
}

TEST(PromotionRules, SkipsFolderNamesEndingWithADot) {
  const struct {
    const char* name;
    bool walked;
  } cases[] = {
      {".", false},          {"..", false},   {"...", false},        {"dir.", false},
      {"dir", true},         {".git", true},  {"a.b", true},         {"\xB8\xFC\xD0\xC2", true},
      {"\xB8\xFC.", false},  {"\x95\x5C", true}, {"\x81\x40", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(promotion::IsWalkedFolder(c.name), c.walked);
  }
}

}  // namespace

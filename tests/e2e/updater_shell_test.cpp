// The updater's window, start-up and finish, driven under Wine.
#include <gtest/gtest.h>

#include "core/texts.h"
#include "tests/e2e/support/harness.h"
#include "updater/control_ids.h"

namespace e2e {
namespace {

constexpr int kVkEscape = 0x1B;
constexpr long kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000, kWsThickFrame = 0x00040000,
               kWsMinimizeBox = 0x00020000, kWsMaximizeBox = 0x00010000;

std::string Control(int id, const std::string& key) { return "control." + std::to_string(id) + "." + key; }

long Hex(const std::string& text) { return std::stol(text, nullptr, 16); }

class UpdaterShell : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port " << BaseUrlPort() << " is taken";
    app_.InstallUpdater();
  }

  // The list request is held, so the window stays in its first state until the test lets go.
  std::shared_ptr<Gate> HoldList(int status = 404) {
    return server_.HoldBytes(BaseUrlPath() + "UpdateList.xml", "not here", status);
  }

  HttpServer server_{BaseUrlPort()};
  AppFolder app_;
};

TEST_F(UpdaterShell, CompactWindowMatchesTheFormUntilTheRunEnds) {
  app_.Install("SkinH_EL_logging.dll", "SkinH_EL.dll");
  auto list = HoldList();
  WineProcess updater = app_.StartUpdater();
  ASSERT_TRUE(WaitForWindow(kUpdaterClass, 30s));
  ASSERT_TRUE(list->WaitForWaiter(30s));
  const ProbeState s = WindowState(kUpdaterClass);
  SaveScreenshot("updater-compact", s.at("window.rect"));

  EXPECT_EQ(s.at("window.caption"), texts::kUpdaterCaption);
  int screen_w = 0, screen_h = 0;
  ASSERT_EQ(std::sscanf(s.at("screen.size").c_str(), "%d,%d", &screen_w, &screen_h), 2);
  EXPECT_EQ(s.at("window.rect"), std::to_string((screen_w - 308) / 2) + "," + std::to_string((screen_h - 300) / 2) +
                                     ",308,65");
  const long style = Hex(s.at("window.style"));
  EXPECT_EQ(style & (kWsCaption | kWsSysMenu), kWsCaption | kWsSysMenu);
  EXPECT_EQ(style & (kWsThickFrame | kWsMinimizeBox | kWsMaximizeBox), 0);
  EXPECT_EQ(s.at("window.menu"), "0");

  struct Expected {
    int id;
    const char* cls;
    const char* visible;
    const char* rect;
  };
  const Expected controls[] = {
      {updater::kIdStatusLine, "Static", "1", "7,7,289,24"},
      {updater::kIdFileList, "SysListView32", "0", "3,7,297,100"},
      {updater::kIdProgressBar, "msctls_progress32", "0", "7,114,289,22"},
      {updater::kIdNotes, "Edit", "1", "8,143,288,98"},
      {updater::kIdStatusBar, "msctls_statusbar32", "0", nullptr},  // docked: its own layout wins
      {updater::kIdStateLabel, "Static", "0", "328,57,288,20"},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(s.at(Control(c.id, "class")), c.cls);
    EXPECT_EQ(s.at(Control(c.id, "visible")), c.visible);
    if (c.rect) {
      EXPECT_EQ(s.at(Control(c.id, "rect")), c.rect);
    }
  }
  // The worker has already replaced the label's initial text.
  EXPECT_EQ(s.at(Control(updater::kIdStatusLine, "text")), texts::kReadingData);
  EXPECT_EQ(s.at(Control(updater::kIdStateLabel, "text")), texts::kStateLabel);
  EXPECT_EQ(s.at(Control(updater::kIdNotes, "text")), "");
  const long edit_style = Hex(s.at(Control(updater::kIdNotes, "style")));
  constexpr long kEsMultiline = 0x4, kEsReadOnly = 0x800, kWsVScroll = 0x00200000, kWsHScroll = 0x00100000;
  EXPECT_EQ(edit_style & (kEsMultiline | kEsReadOnly | kWsVScroll | kWsHScroll), kEsMultiline | kEsReadOnly | kWsVScroll);

  const std::string list_key = Control(updater::kIdFileList, "list.");
  EXPECT_EQ(s.at(list_key + "rows"), "0");
  const std::pair<const char*, const char*> columns[] = {{texts::kColumnVersion, "80"},
                                                         {texts::kColumnName, "150"},
                                                         {texts::kColumnProgress, "50"},
                                                         {texts::kColumnFolder, "0"}};
  ASSERT_EQ(s.at(list_key + "columns"), "4");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s.at(list_key + "column." + std::to_string(i) + ".text"), columns[i].first);
    EXPECT_EQ(s.at(list_key + "column." + std::to_string(i) + ".width"), columns[i].second);
  }
  constexpr long kLvsExGridLines = 0x1, kLvsExFullRowSelect = 0x20;
  EXPECT_EQ(Hex(s.at(list_key + "style.ex")) & (kLvsExGridLines | kLvsExFullRowSelect),
            kLvsExGridLines | kLvsExFullRowSelect);
  constexpr long kLvsTypeMask = 0x3, kLvsReport = 0x1, kLvsSingleSel = 0x4, kLvsNoSortHeader = 0x8000,
                 kLvsNoColumnHeader = 0x4000, kLvsSortMask = 0x30;
  const long list_style = Hex(s.at(Control(updater::kIdFileList, "style")));
  EXPECT_EQ(list_style & kLvsTypeMask, kLvsReport);
  EXPECT_TRUE(list_style & kLvsSingleSel);
  EXPECT_EQ(list_style & (kLvsNoSortHeader | kLvsNoColumnHeader | kLvsSortMask), 0);

  const std::string bar = Control(updater::kIdProgressBar, "");
  EXPECT_EQ(s.at(bar + "pos"), "0");
  EXPECT_EQ(s.at(bar + "range.low"), "0");
  EXPECT_EQ(s.at(bar + "range.high"), "100");

  const std::string status = Control(updater::kIdStatusBar, "status.");
  const char* parts[] = {texts::kStatusBarDownloaded, texts::kStatusBarRate, texts::kStatusBarTotal};
  ASSERT_EQ(s.at(status + "parts"), "3");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(s.at(status + "part." + std::to_string(i) + ".text"), parts[i]);
    EXPECT_EQ(s.at(status + "part." + std::to_string(i) + ".right"), std::to_string(100 * (i + 1)));
  }
  constexpr long kSbarsSizeGrip = 0x100, kSbarsTooltips = 0x800;
  const long status_style = Hex(s.at(Control(updater::kIdStatusBar, "style")));
  EXPECT_EQ(status_style & (kSbarsSizeGrip | kSbarsTooltips), kSbarsTooltips);

  // The skin was applied once, with the skin file of the run directory and an empty password.
  EXPECT_EQ(app_.Read("skin_calls.log"), app_.WindowsDir() + "\\adamant.she|\r\n");
  EXPECT_EQ(app_.MainApplicationStarts(), "") << "nothing may start before the run ends";

  list->Open();
  EXPECT_EQ(updater.Wait(30s), 0);
  EXPECT_EQ(app_.MainApplicationStarts(), "cwd=" + app_.WindowsDir() + "\r\ncmdline=\"" + app_.WindowsDir() +
                                              "\\bvx.dll\"\r\n");
}

// Windows writes the value as given, " V" + file version; Wine's INI writer drops a value's
// leading space, so here the stored text starts at the "V".
TEST_F(UpdaterShell, WritesTheVersionTextToConfigIni) {
  struct Case {
    const char* binary;
    const char* version;
  };
  for (const Case c : {Case{"updater.exe", "V1.0.0.0"}, Case{"updater_noversion.exe", "V"}}) {
    SCOPED_TRACE(c.binary);
    AppFolder app(c.binary);
    app.InstallUpdater(c.binary);
    WineProcess updater = app.StartUpdater();
    ASSERT_EQ(updater.Wait(60s), 0);
    EXPECT_EQ(app.Read("Config.ini"), std::string("[System]\r\nVersion=") + c.version + "\r\n");
    EXPECT_NE(app.MainApplicationStarts(), "");
  }
}

// Unquoted, "...\run dir with spaces\bvx.dll" would start "...\run.exe" first.
TEST_F(UpdaterShell, StartsTheMainApplicationByItsFullPathInAFolderWithSpaces) {
  AppFolder parent("-parent");
  AppFolder app(std::string("-parent/run dir with spaces"));
  parent.Install("bvx.dll", "run.exe");
  app.InstallUpdater();
  WineProcess updater = app.StartUpdater();
  ASSERT_EQ(updater.Wait(60s), 0);
  EXPECT_EQ(app.MainApplicationStarts(), "cwd=" + app.WindowsDir() + "\r\ncmdline=\"" + app.WindowsDir() +
                                             "\\bvx.dll\"\r\n");
  EXPECT_FALSE(parent.Exists("bvx_started.txt")) << "the decoy run.exe was started";
}

TEST_F(UpdaterShell, MissingMainApplicationStillEndsTheRun) {
  std::filesystem::remove(app_.Path("bvx.dll"));
  WineProcess updater = app_.StartUpdater();
  EXPECT_EQ(updater.Wait(60s), 0);
}

TEST_F(UpdaterShell, EscapeClosesTheWindowWithoutStartingTheMainApplication) {
  auto list = HoldList(200);
  WineProcess updater = app_.StartUpdater();
  ASSERT_TRUE(WaitForWindow(kUpdaterClass, 30s));
  ASSERT_TRUE(list->WaitForWaiter(30s));
  ASSERT_TRUE(PressKey(kUpdaterClass, kVkEscape));
  EXPECT_EQ(updater.Wait(10s), 0);
  list->Open();
  EXPECT_EQ(app_.MainApplicationStarts(), "");
  EXPECT_FALSE(app_.Exists("UpdateList.xml"));
}

// A skin library that cannot be bound ends the program before anything else happens: one error
// box naming the entry and the library, exit code -1, no Config.ini, no main application.
TEST_F(UpdaterShell, UnboundSkinLibraryIsFatal) {
  struct Case {
    const char* name;
    const char* library;  // installed as SkinH_EL.dll in the run directory, or none
  };
  for (const Case c : {Case{"no library", nullptr}, Case{"no entry", "SkinH_EL_noentry.dll"}}) {
    SCOPED_TRACE(c.name);
    AppFolder app(std::string("-") + (c.library ? "noentry" : "nolibrary"));
    app.InstallUpdater();
    std::filesystem::remove(app.Path("SkinH_EL.dll"));
    if (c.library) app.Install(c.library, "SkinH_EL.dll");
    WineProcess updater = app.StartUpdater();
    const ProbeState box = AnswerMessageBox(30s);
    ASSERT_FALSE(box.empty()) << "no error box";
    EXPECT_NE(box.at("msgbox.text").find("SkinH_Attach_Ex"), std::string::npos);
    EXPECT_NE(box.at("msgbox.text").find("SkinH_EL.dll"), std::string::npos);
    EXPECT_EQ(box.at("msgbox.icon"), "1");
    EXPECT_EQ(updater.Wait(30s), 255);
    EXPECT_FALSE(app.Exists("Config.ini"));
    EXPECT_EQ(app.MainApplicationStarts(), "");
    EXPECT_FALSE(server_.WaitForRequest(BaseUrlPath() + "UpdateList.xml", 0ms));
  }
}

}  // namespace
}  // namespace e2e

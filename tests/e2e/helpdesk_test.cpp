// The support chat window under Wine: its form, the chat page it requests, the skin binding and
// the fatal start-ups. The chat service is a loopback server on the port the win64 build was
// configured with.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/names.h"
#include "core/texts.h"
#include "helpdesk/control_ids.h"
#include "tests/e2e/support/harness.h"

namespace e2e {
namespace {

constexpr const char* kHelpdeskClass = helpdesk::kMainWindowClass;
constexpr char kExe[] = "helpdesk.exe";
constexpr char kChatPath[] = "/WebModule/chat/p.do";
constexpr char kChatPage[] = "<html><body>chat</body></html>";
constexpr int kWidth = 834, kHeight = 578;
constexpr int kVkReturn = 0x0D, kVkEscape = 0x1B;
constexpr long kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000, kWsThickFrame = 0x00040000,
               kWsMinimizeBox = 0x00020000, kWsMaximizeBox = 0x00010000, kWsTabStop = 0x00010000,
               kWsExTopmost = 0x8, kBsTypeMask = 0xF, kBsGroupBox = 0x7;

long Hex(const std::string& text) { return std::stol(text, nullptr, 16); }
std::string Control(int id, const std::string& key) { return "control." + std::to_string(id) + "." + key; }

// The chat page address the win64 build was configured with (-DHELPDESK_CHAT_...), read from that
// build's cache so the test follows whatever the programs under test were built with.
struct ChatPage {
  int port = 0;
  std::string target;  // path and query as the request line carries them
};

ChatPage ConfiguredChatPage() {
  fs::path build = Win64BinDir().lexically_normal();
  if (!build.has_filename()) build = build.parent_path();
  const std::string cache = ReadFile(build.parent_path() / "CMakeCache.txt");
  const auto value = [&](const std::string& name) {
    const auto key = cache.find("\n" + name + ":");
    if (key == std::string::npos) return std::string();
    const auto start = cache.find('=', key) + 1;
    return cache.substr(start, cache.find('\n', start) - start);
  };
  const std::string host = value("HELPDESK_CHAT_HOST");
  const auto colon = host.find(':');
  ChatPage page;
  page.port = host.empty() ? 0 : colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
  page.target = std::string(kChatPath) + "?c=" + value("HELPDESK_CHAT_C") + "&f=" + value("HELPDESK_CHAT_F") +
                "&g=" + value("HELPDESK_CHAT_G");
  return page;
}

class Helpdesk : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(chat_.port, 0) << "no HELPDESK_CHAT_HOST in the cache of the build of " << Win64BinDir();
    ASSERT_TRUE(server_.listening()) << "port " << chat_.port << " is taken";
    server_.ServeBytes(chat_.target, kChatPage, 200, "Content-Type: text/html\r\n");
  }

  // helpdesk.exe and, unless null, a skin library installed as SkinH_EL.dll beside it.
  static void Install(AppFolder& app, const char* skin_library = "SkinH_EL_logging.dll") {
    app.Install(kExe, kExe);
    if (skin_library) app.Install(skin_library, names::kSkinLibrary);
  }

  static WineProcess Start(const AppFolder& app, const std::vector<std::string>& extra_env = {}) {
    return WineProcess(app.Path(kExe), {}, app.dir(), false, extra_env);
  }

  // Closing the window is the one way the program ends on its own.
  static void CloseAndExpectExit(WineProcess& process) {
    ASSERT_TRUE(CloseWindow(kHelpdeskClass));
    EXPECT_EQ(process.Wait(30s), 0);
  }

  ChatPage chat_ = ConfiguredChatPage();
  HttpServer server_{chat_.port};
  AppFolder app_;
};

TEST_F(Helpdesk, WindowMatchesTheFormAndOpensTheChatPage) {
  Install(app_);
  WineProcess helpdesk = Start(app_);
  ASSERT_TRUE(WaitForWindow(kHelpdeskClass, 60s));
  ASSERT_TRUE(server_.WaitForRequest(chat_.target, 60s)) << "the browser control never asked for the chat page";
  EXPECT_EQ(server_.RequestsFor(chat_.target).front().method, "GET");
  for (const HttpRequest& request : server_.Requests()) {
    EXPECT_EQ(request.target, chat_.target) << "a request for another page";
  }

  const ProbeState s = WindowState(kHelpdeskClass);
  SaveScreenshot("helpdesk-window", s.at("window.rect"));
  EXPECT_EQ(s.at("window.caption"), texts::kHelpdeskCaption);
  int screen_w = 0, screen_h = 0;
  ASSERT_EQ(std::sscanf(s.at("screen.size").c_str(), "%d,%d", &screen_w, &screen_h), 2);
  EXPECT_EQ(s.at("window.rect"), std::to_string((screen_w - kWidth) / 2) + "," +
                                     std::to_string((screen_h - kHeight) / 2) + ",834,578");
  const long style = Hex(s.at("window.style"));
  EXPECT_EQ(style & (kWsCaption | kWsSysMenu | kWsMinimizeBox), kWsCaption | kWsSysMenu | kWsMinimizeBox);
  EXPECT_EQ(style & (kWsThickFrame | kWsMaximizeBox), 0) << "the window must be neither resizable nor maximisable";
  EXPECT_EQ(Hex(s.at("window.exstyle")) & kWsExTopmost, 0);
  EXPECT_EQ(s.at("window.menu"), "0");

  // The group box sits in the window, the browser box in the group box.
  const int group = helpdesk::kIdGroupBox, box = helpdesk::kIdBrowserBox;
  EXPECT_EQ(s.at(Control(group, "class")), "Button");
  EXPECT_EQ(Hex(s.at(Control(group, "style"))) & kBsTypeMask, kBsGroupBox);
  EXPECT_EQ(s.at(Control(group, "text")), "");
  EXPECT_EQ(s.at(Control(group, "parent")), "0");
  EXPECT_EQ(s.at(Control(group, "rect")), "8,3,808,533");
  EXPECT_EQ(s.at(Control(group, "visible")), "1");
  EXPECT_EQ(s.at(Control(box, "class")), helpdesk::kBrowserBoxClass);
  EXPECT_EQ(s.at(Control(box, "parent")), std::to_string(group));
  EXPECT_EQ(s.at(Control(box, "rect")), "8,14,792,506");
  EXPECT_EQ(s.at(Control(box, "visible")), "1");
  EXPECT_TRUE(Hex(s.at(Control(box, "style"))) & kWsTabStop);

  // The control is the box's one child and covers it, also after the box changes size.
  const std::vector<std::string> box_child = {"children", kHelpdeskClass, helpdesk::kBrowserBoxClass};
  ProbeState children = Probe(box_child);
  ASSERT_EQ(children["children"], "1");
  EXPECT_EQ(children["child.0.rect"], "0,0,792,506");
  EXPECT_EQ(children["child.0.visible"], "1");
  int code = -1;
  Probe({"resize", kHelpdeskClass, helpdesk::kBrowserBoxClass, "500", "300"}, &code);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(Probe(box_child)["child.0.rect"], "0,0,500,300");

  // The window's icons cannot be read from another process under Wine; the resource they are
  // loaded from can.
  ProbeState resources = Probe({"resources", WindowsPath(app_.Path(kExe)), "DEFAULT_ICON"});
  EXPECT_EQ(resources["version.file"], "3.0.1.5");
  EXPECT_EQ(resources["version.product"], "3.0.1.5");
  EXPECT_EQ(resources["icon.sizes"], "32x32,16x16");

  CloseAndExpectExit(helpdesk);
}

// The skin file lies in the parent folder of the run directory. (That the window is skinned before
// it is shown follows from the fatal cases below: the window never shows behind the error box.)
TEST_F(Helpdesk, AppliesTheSkinFileOfTheParentFolder) {
  AppFolder parent("-parent");
  AppFolder app("-parent/run");
  Install(app);
  parent.Write(names::kSkinFile, "parent folder's skin");
  app.Write(names::kSkinFile, "run directory's skin");
  WineProcess helpdesk = Start(app);
  ASSERT_TRUE(WaitForWindow(kHelpdeskClass, 60s));
  const std::string calls = app.Read("skin_calls.log");
  const std::string skin_path = app.WindowsDir() + "\\..\\adamant.she";
  EXPECT_EQ(calls, skin_path + "|\r\n") << "one call, with the skin path and an empty password";
  // Windows resolves the text itself; let it say which file the program named.
  const RunResult shown = RunWine("cmd", {"/c", "type", skin_path});
  EXPECT_EQ(shown.output, "parent folder's skin");
  CloseAndExpectExit(helpdesk);
}

// The run directory's copy of the library is bound first; only without it does the standard
// search (here a folder on the Windows PATH) come in.
TEST_F(Helpdesk, BindsTheSkinLibraryOfTheRunDirectoryFirst) {
  struct Case {
    const char* name;
    bool in_run_directory;  // besides the copy on the search path, which logs its calls too
  };
  for (const Case c : {Case{"copies in both places", true}, Case{"copy on the search path only", false}}) {
    SCOPED_TRACE(c.name);
    const std::string suffix = c.in_run_directory ? "-both" : "-pathonly";
    AppFolder app(suffix);
    AppFolder elsewhere(suffix + "-path");
    Install(app, c.in_run_directory ? "SkinH_EL_logging.dll" : nullptr);
    elsewhere.Install("SkinH_EL_logging.dll", names::kSkinLibrary);
    WineProcess helpdesk = Start(app, {"WINEPATH=" + elsewhere.WindowsDir()});
    ASSERT_TRUE(WaitForWindow(kHelpdeskClass, 60s));
    const std::string call = app.WindowsDir() + "\\..\\adamant.she|\r\n";
    EXPECT_EQ(app.Read("skin_calls.log"), c.in_run_directory ? call : "");
    EXPECT_EQ(elsewhere.Read("skin_calls.log"), c.in_run_directory ? "" : call);
    CloseAndExpectExit(helpdesk);
  }
}

// A library that cannot be bound ends the program with the error box as the only window: the
// chat window, already built, is never shown.
TEST_F(Helpdesk, UnboundSkinLibraryIsFatal) {
  struct Case {
    const char* name;
    const char* in_run_directory;  // installed as SkinH_EL.dll, or none
    const char* on_search_path;
  };
  const Case cases[] = {
      {"no library anywhere", nullptr, nullptr},
      {"run directory copy without the entry", "SkinH_EL_noentry.dll", "SkinH_EL_logging.dll"},
  };
  const std::string expected_text = std::string(texts::kSkinEntryMissingPrefix) + names::kSkinEntry +
                                    texts::kSkinEntryMissingMiddle + names::kSkinLibrary;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppFolder app(c.in_run_directory ? "-noentry" : "-nolibrary");
    AppFolder elsewhere(c.in_run_directory ? "-noentry-path" : "-nolibrary-path");
    Install(app, c.in_run_directory);
    if (c.on_search_path) elsewhere.Install(c.on_search_path, names::kSkinLibrary);
    WineProcess helpdesk = Start(app, {"WINEPATH=" + elsewhere.WindowsDir()});

    const ProbeState box = AnswerMessageBox(60s, false);
    ASSERT_FALSE(box.empty()) << "no error box";
    EXPECT_EQ(box.at("msgbox.caption"), texts::kFatalCaption);
    EXPECT_EQ(box.at("msgbox.text"), expected_text);
    EXPECT_EQ(box.at("msgbox.icon"), "1");
    EXPECT_EQ(box.at("msgbox.owner"), "0");
    EXPECT_TRUE(WindowState(kHelpdeskClass).empty()) << "the chat window is visible behind the box";
    EXPECT_TRUE(helpdesk.Running()) << "the program must wait for the box";

    ASSERT_FALSE(AnswerMessageBox(10s).empty());
    EXPECT_EQ(helpdesk.Wait(30s), 255);
    EXPECT_FALSE(elsewhere.Exists("skin_calls.log")) << "the copy on the search path was used";
  }
}

TEST_F(Helpdesk, EscapeAndEnterLeaveTheWindowOpen) {
  Install(app_);
  WineProcess helpdesk = Start(app_);
  ASSERT_TRUE(WaitForWindow(kHelpdeskClass, 60s));
  ASSERT_TRUE(server_.WaitForRequest(chat_.target, 60s));
  for (const int key : {kVkEscape, kVkReturn}) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(PressKey(kHelpdeskClass, key));
    // Returns once the window has handled everything posted before it, the key included.
    ASSERT_EQ(Probe({"settle", kHelpdeskClass, "30000"})["settle.window"], "open");
    EXPECT_TRUE(helpdesk.Running());
  }
  CloseAndExpectExit(helpdesk);
}

// No single-instance check: a second start opens a window of its own beside the first.
TEST_F(Helpdesk, SecondInstanceOpensItsOwnWindow) {
  Install(app_);
  WineProcess first = Start(app_);
  ASSERT_TRUE(WaitForWindow(kHelpdeskClass, 60s));
  WineProcess second = Start(app_);
  EXPECT_TRUE(WaitUntil([] { return Probe({"count", kHelpdeskClass})["windows.count"] == "2"; }, 60s));
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(second.Running());
  EXPECT_TRUE(WaitUntil([&] { return server_.RequestsFor(chat_.target).size() == 2; }, 60s))
      << "each window loads the chat page";
  // Closing one window leaves the other open.
  ASSERT_TRUE(CloseWindow(kHelpdeskClass));
  EXPECT_TRUE(WaitUntil([] { return Probe({"count", kHelpdeskClass})["windows.count"] == "1"; }, 60s));
  ASSERT_TRUE(CloseWindow(kHelpdeskClass));
  EXPECT_EQ(first.Wait(30s), 0);
  EXPECT_EQ(second.Wait(30s), 0);
}

}  // namespace
}  // namespace e2e

// End-to-end harness: runs the Windows programs of the win64 build under Wine (64-bit, code page
// 936, in the Xvfb display of $DISPLAY), each test in a fresh application folder, against servers
// on 127.0.0.1. Test sources are compiled with a GBK execution charset like the programs, so
// their literals are the bytes the programs see; Linux paths are UTF-8 (Wine's view of GBK
// names under LC_ALL=zh_CN.UTF-8), hence the conversions below.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/support/http_server.h"

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// --- Build configuration -------------------------------------------------------------------

fs::path Win64BinDir();          // the win64 build's bin/ folder
fs::path WorkRoot();             // scratch space of the e2e tests inside the native build tree
const std::string& BaseUrl();    // the update base URL compiled into updater.exe
int BaseUrlPort();               // its port: the tests' update server listens there
const std::string& BaseUrlPath();  // its path, "/Brantovo/Lessira/"

// --- Text and paths ------------------------------------------------------------------------

std::string Utf8FromGbk(std::string_view gbk);
std::string GbkFromUtf8(std::string_view utf8);
// The Linux path of a GBK-named relative path ("sub\\name" or "sub/name") below `dir`.
fs::path HostPath(const fs::path& dir, std::string_view gbk_relative);
// How a Windows program sees a Linux path: "Z:\\..." in GBK.
std::string WindowsPath(const fs::path& host_path);

std::string ReadFile(const fs::path& file);  // empty when missing
void WriteFile(const fs::path& file, std::string_view bytes);  // creates parent folders

// Polls `done` every 20 ms until it holds or the timeout passes.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// --- Wine processes ------------------------------------------------------------------------

// A Windows program started under Wine; killed on destruction if still running.
class WineProcess {
 public:
  // `extra_env` entries ("NAME=value") come on top of the Wine environment, e.g. WINEPATH to
  // put a folder on the Windows search path.
  WineProcess(const fs::path& exe, const std::vector<std::string>& args = {}, const fs::path& cwd = {},
              bool capture_output = false, const std::vector<std::string>& extra_env = {});
  ~WineProcess();
  WineProcess(WineProcess&& other) noexcept;
  WineProcess(const WineProcess&) = delete;
  WineProcess& operator=(const WineProcess&) = delete;
  WineProcess& operator=(WineProcess&&) = delete;

  // The exit code (0..255, so -1 reads 255) once the process ended within the timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  bool Running();
  void Kill();
  int pid() const { return pid_; }
  // Standard output so far (capture_output only); complete once Wait has returned a code.
  std::string Output();

 private:
  void Drain(bool until_eof);
  int pid_ = -1;
  int out_fd_ = -1;
  std::optional<int> exit_code_;
  std::string output_;
};

struct RunResult {
  std::optional<int> exit_code;  // nullopt: timed out and killed
  std::string output;
};
// Runs a program to its end, capturing its standard output.
RunResult RunWine(const fs::path& exe, const std::vector<std::string>& args,
                  std::chrono::milliseconds timeout = 60s);

// --- UI probe (tests/support/uiprobe.exe) ---------------------------------------------------

inline constexpr char kUpdaterClass[] = "UpdaterMainWindow";
inline constexpr char kMessageBoxClass[] = "#32770";

using ProbeState = std::map<std::string, std::string>;

// Runs the probe and parses its "key<TAB>value" lines.
ProbeState Probe(const std::vector<std::string>& args, int* exit_code = nullptr);
bool WaitForWindow(const std::string& window_class, std::chrono::milliseconds timeout);
// State of the visible window of that class; empty when there is none.
ProbeState WindowState(const std::string& window_class);
// Waits for a message box, records it ("msgbox.caption", "msgbox.text", ...) and presses its
// button (unless press is false). Empty when none appeared in time.
ProbeState AnswerMessageBox(std::chrono::milliseconds timeout, bool press = true);
bool CloseWindow(const std::string& window_class);

// Follows a window from its appearance to its end and gives the last state it showed; start it
// before the program.
class FinalStateWatcher {
 public:
  explicit FinalStateWatcher(const std::string& window_class, std::chrono::milliseconds timeout = 120s);
  ProbeState State(std::chrono::milliseconds timeout = 120s);

 private:
  WineProcess probe_;
};

// Watches the text of one control from the moment the window appears until it goes, so that
// texts shown for a few milliseconds are seen too. Start it before the program.
class TextWatcher {
 public:
  TextWatcher(const std::string& window_class, int control_id, std::chrono::milliseconds timeout = 60s);
  // Every distinct text in the order shown; waits for the window to go first.
  std::vector<std::string> Texts(std::chrono::milliseconds timeout = 60s);
  // Whether `text` has been shown by now, waiting for it up to the timeout.
  bool WaitForText(const std::string& text, std::chrono::milliseconds timeout = 60s);

 private:
  std::vector<std::string> TextsSoFar();

  WineProcess probe_;
};
bool PressKey(const std::string& window_class, int virtual_key);

// --- Application folders --------------------------------------------------------------------

// A fresh folder under WorkRoot() named after the running test (plus `suffix`, UTF-8).
class AppFolder {
 public:
  explicit AppFolder(std::string_view suffix = {});
  const fs::path& dir() const { return dir_; }
  std::string WindowsDir() const { return WindowsPath(dir_); }

  // updater.exe (or another build of it under that name), the stand-in skin and main application.
  void InstallUpdater(std::string_view updater_binary = "updater.exe");
  // Copies a file of the win64 build into the folder under `as` (GBK relative name).
  void Install(std::string_view binary, std::string_view as);

  fs::path Path(std::string_view gbk_relative) const { return HostPath(dir_, gbk_relative); }
  std::string Read(std::string_view gbk_relative) const { return ReadFile(Path(gbk_relative)); }
  void Write(std::string_view gbk_relative, std::string_view bytes) const { WriteFile(Path(gbk_relative), bytes); }
  bool Exists(std::string_view gbk_relative) const { return fs::exists(Path(gbk_relative)); }

  // What the main application stand-in recorded: one "cwd=...\r\ncmdline=...\r\n" block per start.
  std::string MainApplicationStarts() const { return Read("bvx_started.txt"); }

  // Starts the updater of this folder.
  WineProcess StartUpdater(std::string_view exe_name = "updater.exe",
                           const std::vector<std::string>& extra_env = {}) const;

 private:
  fs::path dir_;
};

// Saves a PNG of the screen (or of the rectangle "x,y,w,h" as the probe prints it) under
// WorkRoot()/screenshots; returns its path.
fs::path SaveScreenshot(const std::string& name, const std::string& rect = {});

}  // namespace e2e

#include "tests/e2e/support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

constexpr char kWineLoader[] = "wine";

fs::path PrefixDir() { return fs::path(E2E_PREFIX_DIR); }

std::string Convert(std::string_view text, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::string out(text.size() * 4 + 4, '\0');
  char* in_ptr = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* out_ptr = out.data();
  size_t out_left = out.size();
  iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

// Everything a Wine run needs, on top of the test's own environment.
std::vector<std::string> WineEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("WINEPREFIX=") || entry.starts_with("WINEDEBUG=") || entry.starts_with("LC_ALL=") ||
        entry.starts_with("WINEDLLOVERRIDES=") || entry.starts_with("WINEARCH=")) {
      continue;
    }
    env.emplace_back(entry);
  }
  env.push_back("WINEPREFIX=" + PrefixDir().string());
  env.push_back("WINEDEBUG=-all");
  env.push_back("WINEARCH=win64");
  // Code page 936: GBK file names and texts work only under a Chinese locale.
  env.push_back("LC_ALL=zh_CN.UTF-8");
  // No Mono: the first start would otherwise ask to install it.
  env.push_back("WINEDLLOVERRIDES=mscoree=");
  return env;
}

int Spawn(const std::vector<std::string>& argv, const fs::path& cwd, int stdout_fd, int stderr_fd,
          const std::vector<std::string>& extra_env = {}) {
  std::vector<std::string> env = WineEnvironment();
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> env_ptrs;
  for (auto& e : env) env_ptrs.push_back(e.data());
  env_ptrs.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> arg_ptrs;
  for (auto& a : args) arg_ptrs.push_back(a.data());
  arg_ptrs.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  if (stderr_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Own process group, so a kill takes any helper the loader started with it.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, arg_ptrs.data(), env_ptrs.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

int RunQuiet(const std::vector<std::string>& argv) {
  const int pid = Spawn(argv, {}, -1, -1);
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One Wine prefix per build tree, made on first use. Wine's daemons inherit the pipes of the
// command that starts them, so they are started here with nothing attached: otherwise a later
// capture of a program's output would never see its end.
class WineSetup : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "the end-to-end tests need an X display: run them under xvfb-run";
    fs::create_directories(WorkRoot());
    const fs::path lock_path = PrefixDir().string() + ".lock";
    const int lock = ::open(lock_path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ::flock(lock, LOCK_EX);
    if (!fs::exists(PrefixDir() / "system.reg")) {
      // Gecko and Mono are not installed here; their download prompts would wait for a click.
      const int status = RunQuiet({"env", "WINEPREFIX=" + PrefixDir().string(), "WINEDEBUG=-all",
                                   "WINEDLLOVERRIDES=mscoree,mshtml=", "LC_ALL=zh_CN.UTF-8", "WINEARCH=win64",
                                   "wineboot", "-i"});
      ASSERT_EQ(status, 0) << "wineboot failed";
      // Xvfb runs no window manager: unmanaged, Wine draws the frames and title bars itself, so
      // screenshots show the windows as a user sees them.
      RunQuiet({"env", "WINEPREFIX=" + PrefixDir().string(), "WINEDEBUG=-all", kWineLoader, "reg", "add",
                "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"});
    }
    RunQuiet({"wineserver", "-p"});
    RunQuiet({kWineLoader, "cmd", "/c", "exit"});
    ::flock(lock, LOCK_UN);
    ::close(lock);
  }
};

[[maybe_unused]] const auto* const kWineSetup = ::testing::AddGlobalTestEnvironment(new WineSetup);

std::string ParseBaseUrl(int part) {
  const std::string url = E2E_UPDATE_BASE_URL;
  const auto host_start = url.find("://") + 3;
  const auto path_start = url.find('/', host_start);
  const std::string host_port = url.substr(host_start, path_start - host_start);
  const auto colon = host_port.find(':');
  if (part == 0) return colon == std::string::npos ? "80" : host_port.substr(colon + 1);
  return url.substr(path_start);
}

// The probe escapes "\", CR and LF in values so that each fact stays on one line.
std::string UnescapeProbeValue(std::string_view escaped) {
  std::string value;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '\\' && i + 1 < escaped.size()) {
      const char next = escaped[++i];
      value += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    } else {
      value += escaped[i];
    }
  }
  return value;
}

}  // namespace

fs::path Win64BinDir() { return fs::path(E2E_WIN64_BIN_DIR); }
fs::path WorkRoot() { return fs::path(E2E_WORK_DIR); }

const std::string& BaseUrl() {
  static const std::string url = E2E_UPDATE_BASE_URL;
  return url;
}

int BaseUrlPort() { return std::stoi(ParseBaseUrl(0)); }

const std::string& BaseUrlPath() {
  static const std::string path = ParseBaseUrl(1);
  return path;
}

std::string Utf8FromGbk(std::string_view gbk) { return Convert(gbk, "UTF-8", "GBK"); }
std::string GbkFromUtf8(std::string_view utf8) { return Convert(utf8, "GBK", "UTF-8"); }

fs::path HostPath(const fs::path& dir, std::string_view gbk_relative) {
  std::string relative = Utf8FromGbk(gbk_relative);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  return relative.empty() ? dir : dir / relative;
}

std::string WindowsPath(const fs::path& host_path) {
  std::string path = GbkFromUtf8(fs::absolute(host_path).lexically_normal().string());
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.size() > 1 && path.back() == '\\') path.pop_back();
  return "Z:" + path;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& file, std::string_view bytes) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

WineProcess::WineProcess(const fs::path& exe, const std::vector<std::string>& args, const fs::path& cwd,
                         bool capture_output, const std::vector<std::string>& extra_env) {
  std::vector<std::string> argv = {kWineLoader, exe.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  int pipe_fds[2] = {-1, -1};
  if (capture_output && pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  pid_ = Spawn(argv, cwd.empty() ? exe.parent_path() : cwd, pipe_fds[1], -1, extra_env);
  if (capture_output) {
    ::close(pipe_fds[1]);
    out_fd_ = pipe_fds[0];
    fcntl(out_fd_, F_SETFL, fcntl(out_fd_, F_GETFL) | O_NONBLOCK);
  }
}

WineProcess::WineProcess(WineProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_fd_(std::exchange(other.out_fd_, -1)),
      exit_code_(other.exit_code_),
      output_(std::move(other.output_)) {}

WineProcess::~WineProcess() {
  Kill();
  if (out_fd_ >= 0) ::close(out_fd_);
}

void WineProcess::Drain(bool until_eof) {
  if (out_fd_ < 0) return;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(out_fd_, buffer, sizeof buffer);
    if (got > 0) {
      output_.append(buffer, static_cast<size_t>(got));
      continue;
    }
    if (got == 0) {
      ::close(out_fd_);
      out_fd_ = -1;
      return;
    }
    if (!until_eof) return;
    // Nothing yet, but the writer may still be finishing; exit has already been seen.
    pollfd fd{out_fd_, POLLIN, 0};
    if (::poll(&fd, 1, 2000) <= 0) return;
  }
}

std::optional<int> WineProcess::Wait(std::chrono::milliseconds timeout) {
  if (exit_code_ || pid_ < 0) return exit_code_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Drain(false);
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      Drain(true);
      return exit_code_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

bool WineProcess::Running() { return pid_ >= 0 && !Wait(0ms).has_value(); }

void WineProcess::Kill() {
  if (pid_ < 0 || exit_code_) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  exit_code_ = 128 + SIGKILL;
}

std::string WineProcess::Output() {
  Drain(false);
  return output_;
}

RunResult RunWine(const fs::path& exe, const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  WineProcess process(exe, args, {}, true);
  RunResult result;
  result.exit_code = process.Wait(timeout);
  if (!result.exit_code) process.Kill();
  result.output = process.Output();
  return result;
}

static ProbeState ParseProbeOutput(const std::string& output) {
  ProbeState state;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    state[line.substr(0, tab)] = UnescapeProbeValue(std::string_view(line).substr(tab + 1));
  }
  return state;
}

ProbeState Probe(const std::vector<std::string>& args, int* exit_code) {
  const RunResult run = RunWine(Win64BinDir() / "uiprobe.exe", args, 60s);
  if (exit_code) *exit_code = run.exit_code.value_or(-1);
  return ParseProbeOutput(run.output);
}

FinalStateWatcher::FinalStateWatcher(const std::string& window_class, std::chrono::milliseconds timeout)
    : probe_(Win64BinDir() / "uiprobe.exe", {"final", window_class, std::to_string(timeout.count())}, {}, true) {}

ProbeState FinalStateWatcher::State(std::chrono::milliseconds timeout) {
  probe_.Wait(timeout);
  return ParseProbeOutput(probe_.Output());
}

bool WaitForWindow(const std::string& window_class, std::chrono::milliseconds timeout) {
  int code = -1;
  Probe({"wait", window_class, std::to_string(timeout.count())}, &code);
  return code == 0;
}

ProbeState WindowState(const std::string& window_class) { return Probe({"state", window_class}); }

ProbeState AnswerMessageBox(std::chrono::milliseconds timeout, bool press) {
  std::vector<std::string> args = {"msgbox", std::to_string(timeout.count())};
  if (!press) args.push_back("keep");
  ProbeState state = Probe(args);
  if (state.count("msgbox.caption") == 0) state.clear();
  return state;
}

bool CloseWindow(const std::string& window_class) {
  int code = -1;
  Probe({"close", window_class}, &code);
  return code == 0;
}

bool PressKey(const std::string& window_class, int virtual_key) {
  int code = -1;
  Probe({"key", window_class, std::to_string(virtual_key)}, &code);
  return code == 0;
}

TextWatcher::TextWatcher(const std::string& window_class, int control_id, std::chrono::milliseconds timeout)
    : probe_(Win64BinDir() / "uiprobe.exe", {"watch", window_class, std::to_string(control_id),
                                             std::to_string(timeout.count())},
             {}, true) {}

std::vector<std::string> TextWatcher::Texts(std::chrono::milliseconds timeout) {
  probe_.Wait(timeout);
  return TextsSoFar();
}

bool TextWatcher::WaitForText(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitUntil(
      [&] {
        const auto texts = TextsSoFar();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
      },
      timeout);
}

std::vector<std::string> TextWatcher::TextsSoFar() {
  std::vector<std::string> texts;
  std::istringstream lines(probe_.Output());
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("text\t", 0) == 0) texts.push_back(UnescapeProbeValue(line.substr(5)));
  }
  return texts;
}

AppFolder::AppFolder(std::string_view suffix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "adhoc";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  dir_ = WorkRoot() / "apps" / (name + std::string(suffix));
  fs::remove_all(dir_);
  fs::create_directories(dir_);
}

void AppFolder::Install(std::string_view binary, std::string_view as) {
  const fs::path target = Path(as);
  if (target.has_parent_path()) fs::create_directories(target.parent_path());
  fs::copy_file(Win64BinDir() / std::string(binary), target, fs::copy_options::overwrite_existing);
}

void AppFolder::InstallUpdater(std::string_view updater_binary) {
  Install(updater_binary, "updater.exe");
  Install("SkinH_EL.dll", "SkinH_EL.dll");
  Install("bvx.dll", "bvx.dll");
}

WineProcess AppFolder::StartUpdater(std::string_view exe_name, const std::vector<std::string>& extra_env) const {
  return WineProcess(Path(exe_name), {}, dir_, false, extra_env);
}

fs::path SaveScreenshot(const std::string& name, const std::string& rect) {
  const fs::path dir = WorkRoot() / "screenshots";
  fs::create_directories(dir);
  const fs::path file = dir / (name + ".png");
  std::vector<std::string> argv = {"import", "-silent", "-window", "root"};
  if (!rect.empty()) {
    int x = 0, y = 0, w = 0, h = 0;
    if (std::sscanf(rect.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h) == 4) {
      argv.push_back("-crop");
      argv.push_back(std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" + std::to_string(y));
    }
  }
  argv.push_back(file.string());
  RunQuiet(argv);
  return file;
}

}  // namespace e2e

// Whole update runs of the win64 updater.exe under Wine, timed beside a reference of the same shape
// without the progress display (bench/update_run_reference.cpp: the same window shown, a worker
// running a bare WinINet loop) and the same loop in a console program, all against one loopback
// server in one run, several rounds interleaved. Prints the medians of wall and processor times,
// and the medians of the ratios within each round beside the goals:
//   - one 200 MB file: updater / reference within 1.10 (the ratio to the console loop for scale);
//   - 1,000 files of 4 KB, in the run directory and in a folder below it: updater / reference (a
//     new session per file) within 1.25;
//   - the window's answer to a probe's SendMessageTimeout(WM_NULL) during the 200 MB download,
//     99th percentile within 50 ms;
//   - the updater's peak memory for 200 MB within 4 MB of that for 2 MB.
//
// An updater run is timed from its start to the moment it has stored UpdateList.xml, which leaves
// out the finishing timer's second; a reference run to the moment it has written its done file.
// Both moments are seen through inotify, so the timing waits for events, never for a guess.
//
//   update_run_bench <win64 bin folder> <work folder> [rounds] [big|many|all]
//
// Run it through bench/update_run_bench.sh, which prepares the Wine prefix and the X display.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/support/http_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kBaseUrl[] = UPDATE_BASE_URL;  // the URL compiled into the updater under test
constexpr char kWindowClass[] = "UpdaterMainWindow";
constexpr int kDefaultRounds = 5;
constexpr int kProbeRuns = 3;
constexpr int kProbeGapMs = 5;
constexpr auto kRunTimeout = std::chrono::minutes(5);
constexpr auto kExitTimeout = std::chrono::seconds(30);

constexpr double kBigGoal = 1.10;
constexpr double kManyGoal = 1.25;
constexpr long kPingGoalUs = 50'000;
constexpr long kMemoryGoalKb = 4 * 1024;

// ---------------------------------------------------------------------------------------------

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "update_run_bench: %s\n", why.c_str());
  std::exit(1);
}

int PortOf(std::string_view url) {
  const auto host = url.find("://") + 3;
  const auto colon = url.find(':', host);
  const auto slash = url.find('/', host);
  return colon < slash ? std::atoi(std::string(url.substr(colon + 1, slash - colon - 1)).c_str()) : 80;
}

std::string PathOf(std::string_view url) { return std::string(url.substr(url.find('/', url.find("://") + 3))); }

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

void WriteFile(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + file.string());
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Incompressible bytes, different per seed.
std::string RandomBytes(std::size_t size, std::uint64_t seed) {
  std::string bytes(size, '\0');
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(bytes.data() + i, &x, std::min<std::size_t>(8, size - i));
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Processes

// Starts a program in its own process group, standard input and error on /dev/null; standard
// output to `out_fd`, or /dev/null. The environment (Wine prefix, locale, display) is inherited.
pid_t Spawn(const std::vector<std::string>& argv, const fs::path& cwd, int out_fd = -1) {
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pid < 0) Fail("cannot start " + argv[0]);
  return pid;
}

// A started program whose end can be waited for with poll().
class Process {
 public:
  Process(const std::vector<std::string>& argv, const fs::path& cwd, int out_fd = -1)
      : pid_(Spawn(argv, cwd, out_fd)), pidfd_(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0))) {
    if (pidfd_ < 0) Fail("pidfd_open failed");
  }
  ~Process() {
    if (!exit_code_) {
      ::kill(-pid_, SIGKILL);
      Reap();
    }
    ::close(pidfd_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_; }
  // Processor time of all its threads, once it has ended; Wine's server works apart from it.
  double cpu_ms() const { return cpu_ms_; }

  // The exit code once the program has ended within the timeout.
  std::optional<int> Wait(Clock::duration timeout) {
    if (exit_code_) return exit_code_;
    pollfd fd{pidfd_, POLLIN, 0};
    const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count());
    if (::poll(&fd, 1, ms) <= 0) return std::nullopt;
    Reap();
    return exit_code_;
  }

 private:
  void Reap() {
    int status = 0;
    rusage usage{};
    if (::wait4(pid_, &status, 0, &usage) != pid_) return;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    cpu_ms_ = Ms(std::chrono::seconds(usage.ru_utime.tv_sec) + std::chrono::microseconds(usage.ru_utime.tv_usec) +
                 std::chrono::seconds(usage.ru_stime.tv_sec) + std::chrono::microseconds(usage.ru_stime.tv_usec));
  }

  pid_t pid_;
  int pidfd_;
  std::optional<int> exit_code_;
  double cpu_ms_ = 0;
};

// The peak resident set of a running process, from the kernel's high-water mark.
long PeakRssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

std::string ProcessName(pid_t pid) {
  std::string name = ReadFile("/proc/" + std::to_string(pid) + "/comm");
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  return name;
}

// Tells when a file of a given name in one folder has been written and closed.
class CloseWriteWatch {
 public:
  CloseWriteWatch(const fs::path& dir, std::string name) : name_(std::move(name)) {
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd_ < 0 || inotify_add_watch(fd_, dir.c_str(), IN_CLOSE_WRITE) < 0) Fail("inotify on " + dir.string());
  }
  ~CloseWriteWatch() { ::close(fd_); }
  CloseWriteWatch(const CloseWriteWatch&) = delete;
  CloseWriteWatch& operator=(const CloseWriteWatch&) = delete;

  int fd() const { return fd_; }

  // Reads the pending events; true when one was for the file.
  bool Seen() {
    alignas(inotify_event) char buffer[8192];
    bool seen = false;
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) return seen;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name_ == event->name) seen = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  std::string name_;
  int fd_ = -1;
};

// ---------------------------------------------------------------------------------------------
// What is served and where it goes

struct File {
  std::string name;
  std::string folder;  // the list's "url" value: "" or "\data\"
  std::string bytes;
};

struct Scenario {
  std::string label;
  std::vector<File> files;
};

std::string ListXml(const std::vector<File>& files, const char* ver) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<UpdateList>\r\n";
  for (const File& f : files) {
    xml += "  <File Ver=\"" + std::string(ver) + "\" Name=\"" + f.name + "\" url=\"" + f.folder + "\"/>\r\n";
  }
  return xml + "</UpdateList>\r\n";
}

// The URL the updater asks for, and the target that reaches the server: WinINet sends each "\" of
// a URL as "/".
std::string FileUrl(const File& f) { return kBaseUrl + f.folder + f.name; }
std::string FileTarget(const File& f) {
  std::string target = PathOf(kBaseUrl) + f.folder + f.name;
  std::replace(target.begin(), target.end(), '\\', '/');
  return target;
}
fs::path LocalFile(const fs::path& dir, const File& f) {
  fs::path file = dir;
  std::string folder = f.folder;
  std::replace(folder.begin(), folder.end(), '\\', '/');
  for (const auto& part : fs::path(folder)) {
    if (!part.empty() && part != "/") file /= part;
  }
  return file / f.name;
}

std::string Head(std::size_t length) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

// A loopback update server for one run. Bodies are written from the scenario's own bytes, never
// copied, and the moment the first file was asked for is kept.
class Server {
 public:
  Server(const Scenario& scenario, const std::string& served_list) : http_(PortOf(kBaseUrl)) {
    if (!http_.listening()) Fail("port " + std::to_string(PortOf(kBaseUrl)) + " is taken");
    Serve(PathOf(kBaseUrl) + "UpdateList.xml", served_list);
    Serve(PathOf(kBaseUrl) + "update.txt", notes_);
    for (const File& f : scenario.files) {
      const std::string_view body = f.bytes;
      http_.Route(FileTarget(f), [this, body](const e2e::HttpRequest&, e2e::HttpConnection& connection) {
        const Clock::time_point now = Clock::now();
        Clock::time_point none{};
        first_file_.compare_exchange_strong(none, now);
        last_file_.store(now);
        connection.Write(Head(body.size()));
        connection.Write(body);
      });
    }
    http_.SetFallback([this](const e2e::HttpRequest& request, e2e::HttpConnection& connection) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        unknown_ += request.target + " ";
      }
      connection.Write(e2e::HttpResponse(404, "not here"));
    });
  }

  std::optional<Clock::time_point> FirstFileRequest() const {
    const Clock::time_point at = first_file_.load();
    return at == Clock::time_point{} ? std::nullopt : std::optional(at);
  }
  Clock::time_point LastFileRequest() const { return last_file_.load(); }
  bool WaitForRequest(const std::string& target) const {
    return http_.WaitForRequest(target, std::chrono::minutes(2));
  }
  std::string unknown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unknown_;
  }

 private:
  void Serve(const std::string& target, std::string_view body) {
    http_.Route(target, [body](const e2e::HttpRequest&, e2e::HttpConnection& connection) {
      connection.Write(Head(body.size()));
      connection.Write(body);
    });
  }

  const std::string notes_ = "benchmark release notes\r\n";
  e2e::HttpServer http_;
  std::atomic<Clock::time_point> first_file_{};
  std::atomic<Clock::time_point> last_file_{};
  mutable std::mutex mutex_;
  std::string unknown_;
};

// ---------------------------------------------------------------------------------------------
// Runs

enum class Side { kUpdater, kReference, kConsole };

struct Outcome {
  double ms = 0;              // start to the end event
  double cpu_ms = 0;          // processor time of the whole program
  double download_ms = 0;     // first file requested to the end event
  double before_ms = 0;       // start to the first file requested
  double files_ms = 0;        // first file requested to the last
  long peak_rss_kb = -1;      // at the end event
  std::string process_name;   // of the process whose memory was read
  std::map<std::string, std::string> probe;  // the UI probe's answers, when one ran
  bool probe_outlasted = false;               // it still pinged when the list was stored
};

class Bench {
 public:
  Bench(fs::path bin, fs::path work) : bin_(std::move(bin)), work_(std::move(work)) {}

  // A probe run starts `uiprobe ping` when the first file is asked for, with `probe_pings` pings.
  Outcome Run(const Scenario& scenario, Side side, int probe_pings = 0) {
    const fs::path dir = work_ / "run";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string served_list = ListXml(scenario.files, "2");
    std::string end_name;
    std::vector<std::string> argv = {"wine"};
    if (side == Side::kUpdater) {
      for (const char* binary : {"updater.exe", "SkinH_EL.dll", "bvx.dll"}) fs::copy_file(bin_ / binary, dir / binary);
      WriteFile(dir / "UpdateList.xml", ListXml(scenario.files, "1"));
      argv.push_back((dir / "updater.exe").string());
      end_name = "UpdateList.xml";
    } else {
      std::string jobs;
      for (const File& f : scenario.files) {
        fs::create_directories(LocalFile(dir, f).parent_path());
        jobs += FileUrl(f) + "\t" + WindowsPath(LocalFile(dir, f)) + "\r\n";
      }
      WriteFile(dir / "jobs.txt", jobs);
      argv.push_back((bin_ / (side == Side::kReference ? "update_run_reference.exe" : "update_run_reference_console.exe"))
                         .string());
      argv.push_back(WindowsPath(dir / "jobs.txt"));
      argv.push_back(WindowsPath(dir / "done.txt"));
      end_name = "done.txt";
    }

    Server server(scenario, served_list);
    CloseWriteWatch watch(dir, end_name);
    Outcome outcome;
    const Clock::time_point start = Clock::now();
    Process program(argv, dir);

    std::optional<Process> probe;
    int probe_out[2] = {-1, -1};
    if (probe_pings > 0) {
      if (!server.WaitForRequest(FileTarget(scenario.files.front()))) Fail("the updater never asked for a file");
      if (pipe2(probe_out, O_CLOEXEC) != 0) Fail("pipe");
      probe.emplace(std::vector<std::string>{"wine", (bin_ / "uiprobe.exe").string(), "ping", kWindowClass,
                                             std::to_string(probe_pings), std::to_string(kProbeGapMs)},
                    dir, probe_out[1]);
      ::close(probe_out[1]);
    }

    // The end event, or the program's end without it.
    const Clock::time_point deadline = start + kRunTimeout;
    bool ended = false;
    while (!ended) {
      pollfd fds[2] = {{watch.fd(), POLLIN, 0}, {program.pidfd(), POLLIN, 0}};
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0 || ::poll(fds, 2, left) < 0) Fail(scenario.label + ": no end within the time limit");
      if (fds[0].revents != 0 && watch.Seen()) {
        const Clock::time_point end = Clock::now();
        outcome.ms = Ms(end - start);
        if (const auto first = server.FirstFileRequest()) {
          outcome.download_ms = Ms(end - *first);
          outcome.before_ms = Ms(*first - start);
          outcome.files_ms = Ms(server.LastFileRequest() - *first);
        }
        outcome.peak_rss_kb = PeakRssKb(program.pid());
        outcome.process_name = ProcessName(program.pid());
        if (probe) {
          pollfd probe_fd{probe->pidfd(), POLLIN, 0};
          outcome.probe_outlasted = ::poll(&probe_fd, 1, 0) == 0;
        }
        ended = true;
      } else if (fds[1].revents != 0) {
        Fail(scenario.label + ": " + argv[1] + " ended before its end event");
      }
    }

    const std::optional<int> code = program.Wait(kExitTimeout);
    if (!code) Fail(scenario.label + ": " + argv[1] + " did not end");
    if (*code != 0) Fail(scenario.label + ": " + argv[1] + " ended with code " + std::to_string(*code));
    outcome.cpu_ms = program.cpu_ms();
    if (probe) {
      if (!probe->Wait(kExitTimeout)) Fail("the UI probe did not end");
      std::string out;
      char buffer[4096];
      ssize_t got = 0;
      while ((got = ::read(probe_out[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(got));
      ::close(probe_out[0]);
      std::istringstream lines(out);
      std::string line;
      while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto tab = line.find('\t');
        if (tab != std::string::npos) outcome.probe[line.substr(0, tab)] = line.substr(tab + 1);
      }
    }
    Check(scenario, side, dir, served_list, server);
    fs::remove_all(dir);
    return outcome;
  }

 private:
  // Every file arrived whole where it belongs; the updater stored the list and left no temporary.
  void Check(const Scenario& scenario, Side side, const fs::path& dir, const std::string& served_list,
             const Server& server) {
    if (!server.unknown().empty()) Fail(scenario.label + ": unexpected requests: " + server.unknown());
    for (const File& f : scenario.files) {
      if (ReadFile(LocalFile(dir, f)) != f.bytes) Fail(scenario.label + ": " + f.name + " did not arrive whole");
    }
    if (side != Side::kUpdater) return;
    if (ReadFile(dir / "UpdateList.xml") != served_list) Fail(scenario.label + ": the list was not stored");
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      if (entry.path().extension() == ".tmp") Fail(scenario.label + ": a temporary was left: " + entry.path().string());
    }
  }

  fs::path bin_;
  fs::path work_;
};

Scenario OneFile(const std::string& label, std::size_t size) {
  return {label, {{"big.bin", "", RandomBytes(size, size)}}};
}

// Small files in the run directory, or in one folder below it: an entry with a folder also has the
// update check create that folder, which probes every folder along the path, entry by entry.
Scenario ManyFiles(int count, std::size_t size, const std::string& folder) {
  Scenario scenario{std::to_string(count) + " x " + std::to_string(size / 1024) + " KB" +
                        (folder.empty() ? "" : " in " + folder),
                    {}};
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.dat", i);
    scenario.files.push_back({name, folder, RandomBytes(size, static_cast<std::uint64_t>(i) + 7)});
  }
  return scenario;
}

// One round runs every side once; the order turns from round to round so that no side always
// follows the same neighbour on a shared machine.
template <typename Step>
void Interleave(int rounds, std::vector<Step> steps) {
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < steps.size(); ++i) steps[(i + round) % steps.size()]();
    std::fprintf(stderr, ".");
  }
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// One scenario's runs, side by side: element i of each comes from round i.
struct Sides {
  std::vector<Outcome> updater, reference, console;
};

std::vector<double> Figures(const std::vector<Outcome>& runs, double Outcome::*figure) {
  std::vector<double> values;
  for (const Outcome& o : runs) values.push_back(o.*figure);
  return values;
}

// The median of the ratios within each round: on a shared machine the pace drifts between rounds,
// and the programs of one round ran under the same conditions.
double PairedRatio(const std::vector<Outcome>& a, const std::vector<Outcome>& b, double Outcome::*figure) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) ratios.push_back(a[i].*figure / b[i].*figure);
  return Median(ratios);
}

// Returns the updater-to-reference ratio of wall times.
double PrintScenario(const std::string& label, const Sides& sides, double goal) {
  const double ratio = PairedRatio(sides.updater, sides.reference, &Outcome::ms);
  for (const auto& [name, figure] : {std::pair{"wall ms", &Outcome::ms}, std::pair{"cpu ms", &Outcome::cpu_ms}}) {
    std::printf("%-22s %-8s %9.0f %10.0f %9.0f %8.3f %12.3f", figure == &Outcome::ms ? label.c_str() : "", name,
                Median(Figures(sides.updater, figure)), Median(Figures(sides.reference, figure)),
                Median(Figures(sides.console, figure)), PairedRatio(sides.updater, sides.reference, figure),
                PairedRatio(sides.updater, sides.console, figure));
    if (figure == &Outcome::ms) std::printf("  upd/ref <= %.2f: %s", goal, Verdict(ratio <= goal));
    std::printf("\n");
  }
  return ratio;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: update_run_bench <win64 bin folder> <work folder> [rounds] [big|many|all]\n");
    return 2;
  }
  const fs::path bin = fs::absolute(argv[1]);
  const fs::path work = fs::absolute(argv[2]);
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : kDefaultRounds;
  const std::string part = argc > 4 ? argv[4] : "all";
  const bool run_big = part != "many";
  const bool run_many = part != "big";
  for (const char* needed : {"updater.exe", "SkinH_EL.dll", "bvx.dll", "uiprobe.exe", "update_run_reference.exe",
                             "update_run_reference_console.exe"}) {
    if (!fs::exists(bin / needed)) Fail((bin / needed).string() + " is missing");
  }
  fs::create_directories(work);
  Bench bench(bin, work);

  std::printf("Whole update runs under Wine, %d interleaved rounds. Wall: from the start to the list stored (the\n"
              "finishing timer's second left out), or to the reference's done file; cpu: the program's processor\n"
              "time. Medians; the ratios are medians of the ratios within each round.\n\n",
              rounds);
  std::printf("%-22s %-8s %9s %10s %9s %8s %12s  %s\n", "", "", "updater", "reference", "console", "upd/ref",
              "upd/console", "goal");
  std::fflush(stdout);

  for (const std::string folder : {"", "\\data\\"}) {
    if (!run_many) break;
    const Scenario many = ManyFiles(1000, 4096, folder);
    Sides sides;
    std::fprintf(stderr, "%s, %d rounds ", many.label.c_str(), rounds);
    Interleave<std::function<void()>>(rounds, {
        [&] { sides.updater.push_back(bench.Run(many, Side::kUpdater)); },
        [&] { sides.reference.push_back(bench.Run(many, Side::kReference)); },
        [&] { sides.console.push_back(bench.Run(many, Side::kConsole)); },
    });
    std::fprintf(stderr, "\n");
    PrintScenario(many.label, sides, kManyGoal);
    // Where the time goes: start to the first file asked for, first to last file, last file to the end.
    const auto phases = [](const std::vector<Outcome>& runs) {
      std::vector<double> rest;
      for (const Outcome& o : runs) rest.push_back(o.ms - o.before_ms - o.files_ms);
      std::printf("%.0f / %.0f / %.0f", Median(Figures(runs, &Outcome::before_ms)),
                  Median(Figures(runs, &Outcome::files_ms)), Median(rest));
    };
    std::printf("  ms to the first file / to the last file / to the end: updater ");
    phases(sides.updater);
    std::printf(", reference ");
    phases(sides.reference);
    std::printf("\n");
    std::fflush(stdout);
  }

  if (!run_big) return 0;
  const Scenario big = OneFile("200 MB file", 200u << 20);
  const Scenario small = OneFile("2 MB file", 2u << 20);
  Sides sides;
  std::vector<Outcome> small_runs;
  std::fprintf(stderr, "%s, %d rounds ", big.label.c_str(), rounds);
  Interleave<std::function<void()>>(rounds, {
      [&] { sides.updater.push_back(bench.Run(big, Side::kUpdater)); },
      [&] { sides.reference.push_back(bench.Run(big, Side::kReference)); },
      [&] { sides.console.push_back(bench.Run(big, Side::kConsole)); },
      [&] { small_runs.push_back(bench.Run(small, Side::kUpdater)); },
  });
  std::fprintf(stderr, "\n");
  PrintScenario(big.label, sides, kBigGoal);
  const double download_ms = Median(Figures(sides.updater, &Outcome::download_ms));
  std::printf("  reference / console %.3f; the updater's download phase, first request to list stored: %.0f ms\n\n",
              PairedRatio(sides.reference, sides.console, &Outcome::ms), download_ms);
  std::fflush(stdout);

  // The probe starts when the file is asked for and needs a moment under Wine before its first
  // ping; its pings are sized to end before the download does, so none is answered by an idle
  // window waiting for its finishing timer.
  const int pings = std::max(20, static_cast<int>(download_ms * 0.6 / (kProbeGapMs + 0.5)));
  std::vector<double> p50, p99, pmax;
  int pings_answered = 0;
  int outlasted = 0;
  std::fprintf(stderr, "window answers during the %s, %d runs of %d pings ", big.label.c_str(), kProbeRuns, pings);
  for (int run = 0; run < kProbeRuns; ++run) {
    const Outcome o = bench.Run(big, Side::kUpdater, pings);
    if (!o.probe.count("ping.p99_us")) Fail("the UI probe gave no figures");
    p50.push_back(std::atof(o.probe.at("ping.p50_us").c_str()));
    p99.push_back(std::atof(o.probe.at("ping.p99_us").c_str()));
    pmax.push_back(std::atof(o.probe.at("ping.max_us").c_str()));
    pings_answered += std::atoi(o.probe.at("ping.count").c_str());
    outlasted += o.probe_outlasted ? 1 : 0;
    std::fprintf(stderr, ".");
  }
  std::fprintf(stderr, "\n");
  const double ping_p99 = Median(p99);
  std::printf("Window answers to SendMessageTimeout(WM_NULL) during the 200 MB download, %d runs, %d pings:\n",
              kProbeRuns, pings_answered);
  std::printf("  p50 %.0f us, p99 %.0f us, max %.0f us (medians over the runs)   p99 <= %ld us: %s\n",
              Median(p50), ping_p99, Median(pmax), kPingGoalUs, Verdict(ping_p99 <= kPingGoalUs));
  std::printf("  runs whose probe still pinged after the list was stored: %d of %d\n\n", outlasted, kProbeRuns);

  std::vector<double> big_rss, small_rss;
  for (const Outcome& o : sides.updater) big_rss.push_back(static_cast<double>(o.peak_rss_kb));
  for (const Outcome& o : small_runs) small_rss.push_back(static_cast<double>(o.peak_rss_kb));
  const double growth = Median(big_rss) - Median(small_rss);
  std::printf("Peak resident memory of the updater's process (%s), VmHWM when the list is stored:\n",
              sides.updater.front().process_name.c_str());
  std::printf("  200 MB file %.0f KB, 2 MB file %.0f KB, difference %.0f KB   <= %ld KB: %s\n", Median(big_rss),
              Median(small_rss), growth, kMemoryGoalKb, Verdict(growth <= kMemoryGoalKb));
  return 0;
}

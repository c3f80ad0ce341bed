// The promotion walk on real folder trees under Wine, driven through tests/support/promote_tool.exe,
// which prints every move attempt. Names in this file are GBK bytes (the sources are compiled with
// a GBK execution charset); on the Linux side Wine shows them as UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/support/harness.h"

namespace {

using e2e::AppFolder;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kOwnName[] = "updater.exe";
constexpr int kAttempts = 5;

// Everything the tool printed, with paths made relative to the application folder ("" is the
// folder itself; a folder path keeps its trailing "\").
struct WalkRun {
  std::optional<int> exit_code;
  std::vector<std::string> order;                          // old path of every attempt, in order
  std::map<std::string, std::vector<std::string>> tries;   // old path -> "moved:new" / "failed:new"
  std::vector<std::string> remaining;
  std::string all_promoted;                                // "1", "0" or "" when not printed
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

// Runs `exe` (promote_tool.exe or a copy of it) with the own name and the walk's root as given,
// plus this run's temporaries (relative to the application folder).
WalkRun RunWalkWith(const fs::path& exe, const AppFolder& app, const std::string& own_name,
                    const std::string& root_argument, const std::vector<std::string>& temporaries) {
  const std::string prefix = app.WindowsDir() + "\\";
  // Wine reads its command line in the Linux locale (UTF-8) and hands the program GBK.
  std::vector<std::string> args = {e2e::Utf8FromGbk(own_name), e2e::Utf8FromGbk(root_argument)};
  for (const auto& t : temporaries) args.push_back(e2e::Utf8FromGbk(prefix + t));
  const e2e::RunResult result = e2e::RunWine(exe, args, 120s);

  const auto relative = [&](const std::string& path) {
    EXPECT_TRUE(path.starts_with(prefix)) << "outside the application folder: " << path;
    return path.starts_with(prefix) ? path.substr(prefix.size()) : path;
  };
  WalkRun run;
  run.exit_code = result.exit_code;
  std::istringstream lines(result.output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() == 3 && (f[0] == "moved" || f[0] == "failed")) {
      const std::string from = relative(f[1]);
      run.order.push_back(from);
      run.tries[from].push_back(f[0] + ":" + relative(f[2]));
    } else if (f.size() == 2 && f[0] == "remaining") {
      run.remaining.push_back(relative(f[1]));
    } else if (f.size() == 2 && f[0] == "all-promoted") {
      run.all_promoted = f[1];
    } else {
      ADD_FAILURE() << "unexpected output line: " << line;
    }
  }
  return run;
}

WalkRun RunWalk(const AppFolder& app, const std::string& root_relative,
                const std::vector<std::string>& temporaries = {}) {
  const std::string root = root_relative.empty() ? app.WindowsDir() : app.WindowsDir() + "\\" + root_relative;
  return RunWalkWith(e2e::Win64BinDir() / "promote_tool.exe", app, kOwnName, root, temporaries);
}

std::vector<std::string> Moved(const std::string& to) { return {"moved:" + to}; }
std::vector<std::string> FailedFiveTimes(const std::string& to) {
  return std::vector<std::string>(kAttempts, "failed:" + to);
}

// Every file below the folder, as GBK relative paths with "\".
std::set<std::string> FilesBelow(const fs::path& dir) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string name = e2e::GbkFromUtf8(fs::relative(entry.path(), dir).string());
    std::replace(name.begin(), name.end(), '/', '\\');
    files.insert(name);
  }
  return files;
}

// The folder part of a relative file path ("" at the root).
std::string FolderOf(const std::string& file) {
  const auto separator = file.rfind('\\');  // the names used here have no 0x5C trail byte
  return separator == std::string::npos ? std::string() : file.substr(0, separator);
}

bool IsBelow(const std::string& folder, const std::string& ancestor) {
  return ancestor.empty() ? !folder.empty() : folder.starts_with(ancestor + "\\");
}

// "\x95\x5C" (昞) is a GBK character whose second byte is the byte of "\"; "更新", "组件" and "数据"
// are ordinary double-byte names.
constexpr char kTrail5C[] = "\x95\x5C";
constexpr char kUpdate[] = "\xB8\xFC\xD0\xC2";
constexpr char kComponent[] = "\xD7\xE9\xBC\xFE";
constexpr char kData[] = "\xCA\xFD\xBE\xDD";

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string joined;
  for (auto p : parts) joined += p;
  return joined;
}

TEST(Promotion, ReplacesDestinationsThroughoutTheTreeAndLeavesTheRestAlone) {
  AppFolder app;
  const std::string gbk_component = Cat({kComponent, ".dll"});
  const std::string gbk_folder = kUpdate;
  const std::string gbk_deep_folder = Cat({kUpdate, "\\", kTrail5C});
  const std::string gbk_data = Cat({gbk_deep_folder, "\\", kData, ".dat"});

  // Destinations with their old contents, and the temporaries that replace them.
  const std::map<std::string, std::string> promoted = {
      {"a.dll", "old a"},
      {"bvx.dll", ""},  // no destination yet: the temporary just takes its name
      {Cat({kComponent, ".txt"}), ""},
      {"sub\\x.txt", "old x"},
      {"sub\\deep\\UPDATER.EXE", ""},  // another letter case is not the own executable
      {"sub\\deep\\deeper\\y.ini", "old y"},
      {Cat({gbk_folder, "\\", gbk_component}), "old component"},
      {gbk_data, "old data"},
  };
  for (const auto& [destination, old_content] : promoted) {
    if (!old_content.empty()) app.Write(destination, old_content);
    app.Write(destination + ".tmp", "new " + destination);
  }
  // Files the walk must leave as they are.
  const std::map<std::string, std::string> untouched = {
      {"updater.exe", "running updater"},
      {"updater.exe.tmp", "next updater"},
      {"sub\\updater.exe.tmp", "next updater in sub"},
      {"b.dll", "old b"},
      {"B.DLL.TMP", "upper case"},
      {"c.dll.Tmp", "mixed case"},
      {"a.tmp.bak", "backup"},
      {"tmp", "no dot"},
      {"readme", "no extension"},
      {".tmp", "dot tmp"},
      {"sub\\.tmp", "dot tmp in sub"},
      {"skip.\\w.dll.tmp", "below a folder ending with a dot"},
      {"skip\\.tmp", "walked once only"},
  };
  for (const auto& [file, content] : untouched) app.Write(file, content);
  fs::create_directories(app.Path("empty"));

  std::vector<std::string> this_run;  // what a download pass of this tree would have written
  for (const auto& [destination, old_content] : promoted) this_run.push_back(destination + ".tmp");
  this_run.push_back("updater.exe.tmp");
  this_run.push_back("sub\\updater.exe.tmp");

  const WalkRun run = RunWalk(app, "", this_run);
  ASSERT_EQ(run.exit_code, 0);

  std::map<std::string, std::vector<std::string>> expected_tries;
  for (const auto& [destination, old_content] : promoted) expected_tries[destination + ".tmp"] = Moved(destination);
  // A file named exactly ".tmp" is moved onto its own folder, which fails every time.
  expected_tries[".tmp"] = FailedFiveTimes("");
  expected_tries["sub\\.tmp"] = FailedFiveTimes("sub\\");
  // "skip." is never entered: Windows would resolve it to "skip" and walk that folder twice.
  expected_tries["skip\\.tmp"] = FailedFiveTimes("skip\\");
  EXPECT_EQ(run.tries, expected_tries);

  std::set<std::string> expected_files;
  for (const auto& [destination, old_content] : promoted) {
    SCOPED_TRACE(destination);
    EXPECT_EQ(app.Read(destination), "new " + destination);
    expected_files.insert(destination);
  }
  for (const auto& [file, content] : untouched) {
    SCOPED_TRACE(file);
    EXPECT_EQ(app.Read(file), content);
    expected_files.insert(file);
  }
  EXPECT_EQ(FilesBelow(app.dir()), expected_files);

  EXPECT_TRUE(run.remaining.empty());
  EXPECT_EQ(run.all_promoted, "1");
}

TEST(Promotion, HandlesEveryFileOfAFolderBeforeItsSubfoldersDepthFirst) {
  AppFolder app;
  // Folders and files created alternately, so that a listing in creation order, in reverse or by
  // hash mixes them; a walk in one pass would then reach a subfolder between two files.
  std::vector<std::string> temporaries;
  const auto file = [&](const std::string& name) {
    app.Write(name, name);
    temporaries.push_back(name);
  };
  for (int f = 0; f < 6; ++f) {
    const std::string folder = "f" + std::to_string(f);
    fs::create_directories(app.Path(folder));
    file("r" + std::to_string(f) + ".tmp");
    for (int h = 0; h < 3; ++h) {
      const std::string sub = folder + "\\h" + std::to_string(h);
      fs::create_directories(app.Path(sub));
      file(folder + "\\g" + std::to_string(h) + ".tmp");
      file(sub + "\\i0.tmp");
      file(sub + "\\i1.tmp");
    }
  }

  const WalkRun run = RunWalk(app, "", temporaries);
  ASSERT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.order.size(), temporaries.size());
  EXPECT_EQ(run.all_promoted, "1");

  std::set<std::string> folders;
  for (const auto& from : run.order) folders.insert(FolderOf(from));
  for (std::size_t i = 0; i < run.order.size(); ++i) {
    for (std::size_t j = i + 1; j < run.order.size(); ++j) {
      // A file of a folder never comes after a file of one of its subfolders.
      EXPECT_FALSE(IsBelow(FolderOf(run.order[i]), FolderOf(run.order[j])))
          << run.order[j] << " after " << run.order[i];
    }
  }
  // Depth-first: the attempts inside any folder's subtree form one unbroken run.
  for (const auto& folder : folders) {
    const auto inside = [&](const std::string& from) {
      const std::string f = FolderOf(from);
      return f == folder || IsBelow(f, folder);
    };
    const auto first = std::find_if(run.order.begin(), run.order.end(), inside);
    const auto last = std::find_if(run.order.rbegin(), run.order.rend(), inside).base();
    EXPECT_TRUE(std::all_of(first, last, inside)) << "the walk left " << folder << " and came back";
  }
}

TEST(Promotion, DestinationHeldOpenKeepsItsTemporaryWhileTheOthersMove) {
  AppFolder app;
  app.Write("tree\\held.dll", "old held");
  app.Write("tree\\held.dll.tmp", "new held");
  app.Write("tree\\a.dll.tmp", "new a");
  app.Write("tree\\sub\\b.dll", "old b");
  app.Write("tree\\sub\\b.dll.tmp", "new b");

  const fs::path ready = app.Path("held.ready");
  e2e::WineProcess holder(e2e::Win64BinDir() / "holdopen.exe",
                          {e2e::Utf8FromGbk(e2e::WindowsPath(app.Path("tree\\held.dll"))),
                           e2e::Utf8FromGbk(e2e::WindowsPath(ready))});
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(ready) || !holder.Running(); }, 60s));
  ASSERT_TRUE(fs::exists(ready)) << "holdopen could not open the destination";

  const WalkRun run = RunWalk(app, "tree", {"tree\\held.dll.tmp", "tree\\a.dll.tmp", "tree\\sub\\b.dll.tmp"});
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_TRUE(holder.Running()) << "the hold ended before the walk was over";

  const std::map<std::string, std::vector<std::string>> expected_tries = {
      {"tree\\held.dll.tmp", FailedFiveTimes("tree\\held.dll")},
      {"tree\\a.dll.tmp", Moved("tree\\a.dll")},
      {"tree\\sub\\b.dll.tmp", Moved("tree\\sub\\b.dll")},
  };
  EXPECT_EQ(run.tries, expected_tries);
  EXPECT_EQ(app.Read("tree\\held.dll"), "old held");
  EXPECT_EQ(app.Read("tree\\held.dll.tmp"), "new held");
  EXPECT_EQ(app.Read("tree\\a.dll"), "new a");
  EXPECT_EQ(app.Read("tree\\sub\\b.dll"), "new b");
  EXPECT_EQ(run.remaining, std::vector<std::string>{"tree\\held.dll.tmp"});
  EXPECT_EQ(run.all_promoted, "0");
}

// Installed under the updater's name (or any other), the walk takes the own name from the running
// executable's file.
TEST(Promotion, KeepsTheTemporaryOfTheRunningExecutableByItsFileName) {
  const std::string installed_names[] = {"updater.exe", Cat({kUpdate, ".exe"})};
  for (const auto& own : installed_names) {
    SCOPED_TRACE(e2e::Utf8FromGbk(own));
    AppFolder app(own == "updater.exe" ? "_ascii" : "_gbk");
    app.Install("promote_tool.exe", own);
    app.Write(own + ".tmp", "next updater");
    app.Write("sub\\" + own + ".tmp", "next updater in sub");
    app.Write("promote_tool.exe.tmp", "not the running name");
    app.Write("sub\\other.dll.tmp", "other");
    const std::string other_own = own == "updater.exe" ? Cat({kUpdate, ".exe"}) : "updater.exe";
    app.Write(other_own + ".tmp", "another program's temporary");

    const WalkRun run = RunWalkWith(app.Path(own), app, "-", app.WindowsDir(),
                                    {own + ".tmp", "sub\\" + own + ".tmp", "promote_tool.exe.tmp",
                                     "sub\\other.dll.tmp"});
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(app.Read(own + ".tmp"), "next updater");
    EXPECT_EQ(app.Read("sub\\" + own + ".tmp"), "next updater in sub");
    EXPECT_EQ(app.Read("promote_tool.exe"), "not the running name");
    EXPECT_EQ(app.Read("sub\\other.dll"), "other");
    EXPECT_EQ(app.Read(other_own), "another program's temporary");
    EXPECT_FALSE(app.Exists("promote_tool.exe.tmp"));
    EXPECT_FALSE(app.Exists(other_own + ".tmp"));
    EXPECT_TRUE(run.remaining.empty());
    EXPECT_EQ(run.all_promoted, "1");
  }
}

// The root is given by the caller with or without a trailing "\"; a GBK name may end in the byte
// of "\" without ending in a separator.
TEST(Promotion, AcceptsTheRootWithOrWithoutItsSeparator) {
  struct RootCase {
    const char* suffix;
    std::string folder;    // relative to the application folder
    std::string argument;  // as passed, relative
  };
  const RootCase cases[] = {
      {"_plain", "tree", "tree"},
      {"_plain_sep", "tree", "tree\\"},
      {"_5c", kTrail5C, kTrail5C},
      {"_5c_sep", kTrail5C, Cat({kTrail5C, "\\"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.suffix);
    AppFolder app(c.suffix);
    app.Write(c.folder + "\\a.dll.tmp", "a");
    app.Write(c.folder + "\\sub\\b.dll.tmp", "b");
    // Matched by "<folder>*.*" if the separator were taken as already there.
    app.Write(c.folder + "x.dll.tmp", "sibling");

    const WalkRun run = RunWalk(app, c.argument);
    ASSERT_EQ(run.exit_code, 0);
    const std::map<std::string, std::vector<std::string>> expected_tries = {
        {c.folder + "\\a.dll.tmp", Moved(c.folder + "\\a.dll")},
        {c.folder + "\\sub\\b.dll.tmp", Moved(c.folder + "\\sub\\b.dll")},
    };
    EXPECT_EQ(run.tries, expected_tries);
    EXPECT_EQ(app.Read(c.folder + "x.dll.tmp"), "sibling");
  }
}

TEST(Promotion, MissingFolderYieldsNothing) {
  AppFolder app;
  app.Write("a.dll.tmp", "a");
  const WalkRun run = RunWalk(app, "missing");
  ASSERT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.tries.empty());
  EXPECT_EQ(app.Read("a.dll.tmp"), "a");
}

}  // namespace

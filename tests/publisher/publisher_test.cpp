// Runs the built update-publisher on release folders made here and reads what it published.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/publish.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Names as Linux holds them (UTF-8) and as the list holds them (GBK). The sources are compiled with
// a GBK execution charset, so both are written as bytes.
constexpr char kNotesUtf8[] = "\xE8\xAF\xB4\xE6\x98\x8E.txt";       // "说明.txt"
constexpr char kNotesGbk[] = "\xCB\xB5\xC3\xF7.txt";
constexpr char kPluginsUtf8[] = "\xE6\x8F\x92\xE4\xBB\xB6";          // "插件"
constexpr char kPluginsGbk[] = "\xB2\xE5\xBC\xFE";

struct Result {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every file below `root` with its content: a previous output must come through a refused run
// byte for byte.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    files[relative] = entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>";
  }
  return files;
}

class Publisher : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    work_ = fs::path(PUBLISHER_WORK_DIR) / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(work_);
    fs::create_directories(work_);
  }

  // Runs the tool with `arguments`, its output captured in files of the work folder.
  Result Run(const std::vector<std::string>& arguments) {
    const fs::path out_file = work_ / "stdout.txt";
    const fs::path err_file = work_ / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {PUBLISHER_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, PUBLISHER_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Result result;
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << PUBLISHER_PATH;
      return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out_file);
    result.err = ReadFile(err_file);
    return result;
  }

  // The published list as the updater reads it.
  std::vector<publish::Entry> PublishedList(const fs::path& out) {
    std::string error;
    const auto entries = publish::ReadList(ReadFile(out / "UpdateList.xml"), error);
    EXPECT_TRUE(entries) << error;
    return entries.value_or(std::vector<publish::Entry>{});
  }

  // Anything the tool left beside `out` other than `out` itself and what the test put there.
  std::vector<std::string> LeftBeside(const fs::path& out) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out.parent_path())) {
      if (entry.path().filename().string().starts_with(".")) left.push_back(entry.path().filename().string());
    }
    return left;
  }

  // Release 1: a few files at the top, a GBK-named one, a subfolder with a GBK name.
  void MakeFirstRelease(const fs::path& release) {
    WriteFile(release / "bvx.dll", "main application 1");
    WriteFile(release / "readme.txt", "readme 1\r\n");
    WriteFile(release / kNotesUtf8, "notes 1\r\n");
    WriteFile(release / "old.txt", "to be dropped in release 2");
    WriteFile(release / kPluginsUtf8 / "plugin.dat", "plugin 1");
  }

  fs::path work_;
};

TEST_F(Publisher, FirstReleaseThenASecondOneIntoTheSameFolder) {
  const fs::path r1 = work_ / "r1";
  const fs::path r2 = work_ / "r2";
  const fs::path server = work_ / "server";
  MakeFirstRelease(r1);

  Result first = Run({"--release", r1, "--out", server});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  const std::vector<publish::Entry> list1 = PublishedList(server);
  ASSERT_EQ(list1.size(), 5u);
  // Sorted by folder, then name, byte-wise on the GBK texts.
  const std::vector<std::pair<std::string, std::string>> order1 = {
      {"", "bvx.dll"}, {"", "old.txt"}, {"", "readme.txt"}, {"", kNotesGbk}, {std::string("\\") + kPluginsGbk + "\\", "plugin.dat"}};
  for (std::size_t i = 0; i < order1.size(); ++i) {
    EXPECT_EQ(list1[i].folder, order1[i].first) << i;
    EXPECT_EQ(list1[i].name, order1[i].second) << i;
    EXPECT_EQ(list1[i].ver.size(), publish::kDigestDigits) << i;
  }
  // The server's layout: the list and each file at url + Name, names in UTF-8 as on the release.
  EXPECT_EQ(ReadFile(server / kNotesUtf8), "notes 1\r\n");
  EXPECT_EQ(ReadFile(server / kPluginsUtf8 / "plugin.dat"), "plugin 1");
  EXPECT_TRUE(ReadFile(server / "UpdateList.xml").starts_with("<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<"));
  EXPECT_NE(first.out.find("added 5, changed 0, unchanged 0, kept 0"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find(kNotesUtf8), std::string::npos) << "names are shown in UTF-8:\n" << first.out;

  // Release 2: readme and the GBK file changed, old.txt gone, a file in a new subfolder.
  MakeFirstRelease(r2);
  fs::remove(r2 / "old.txt");
  WriteFile(r2 / "readme.txt", "readme 2\r\n");
  WriteFile(r2 / kNotesUtf8, "notes 2\r\n");
  WriteFile(r2 / "new" / "sub" / "n.txt", "new in 2");
  WriteFile(work_ / "notes.txt", "release 2\r\n");

  // No --previous: the list already in the output folder is the previous one.
  Result second = Run({"--release", r2, "--out", server, "--notes", work_ / "notes.txt"});
  ASSERT_EQ(second.exit_code, 0) << second.err;
  const std::vector<publish::Entry> list2 = PublishedList(server);
  ASSERT_EQ(list2.size(), 6u);
  EXPECT_EQ(list2[0], list1[0]);  // bvx.dll unchanged
  EXPECT_EQ(list2[1], list1[1]);  // old.txt kept as it was
  EXPECT_EQ(list2[4], list1[4]);  // plugin unchanged
  for (const std::size_t changed : {2, 3}) {
    EXPECT_EQ(list2[changed].name, list1[changed].name);
    EXPECT_NE(list2[changed].ver, list1[changed].ver);
  }
  EXPECT_EQ(list2[5].folder, "\\new\\sub\\");
  EXPECT_EQ(list2[5].name, "n.txt");
  EXPECT_EQ(ReadFile(server / "readme.txt"), "readme 2\r\n");
  EXPECT_EQ(ReadFile(server / kNotesUtf8), "notes 2\r\n");
  EXPECT_EQ(ReadFile(server / "new" / "sub" / "n.txt"), "new in 2");
  EXPECT_EQ(ReadFile(server / "update.txt"), "release 2\r\n");
  // The kept entry's file stays on the server for new installations.
  EXPECT_EQ(ReadFile(server / "old.txt"), "to be dropped in release 2");
  EXPECT_NE(second.out.find("added 1, changed 2, unchanged 2, kept 1"), std::string::npos) << second.out;
  EXPECT_EQ(LeftBeside(server), std::vector<std::string>{});

  // Publishing the same release again changes nothing.
  const auto before = Snapshot(server);
  Result again = Run({"--release", r2, "--out", server, "--notes", work_ / "notes.txt"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(Snapshot(server), before);
  EXPECT_NE(again.out.find("added 0, changed 0, unchanged 5, kept 1"), std::string::npos) << again.out;
}

// A previous list taken from somewhere else has no files beside it: the kept entry stays in the list
// and the tool says that its file is not published.
TEST_F(Publisher, KeptFilesMissingEverywhereAreReported) {
  MakeFirstRelease(work_ / "r1");
  ASSERT_EQ(Run({"--release", work_ / "r1", "--out", work_ / "server1"}).exit_code, 0);
  WriteFile(work_ / "elsewhere" / "UpdateList.xml", ReadFile(work_ / "server1" / "UpdateList.xml"));
  fs::remove(work_ / "r1" / "old.txt");

  const Result result =
      Run({"--release", work_ / "r1", "--previous", work_ / "elsewhere" / "UpdateList.xml", "--out", work_ / "server2"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(PublishedList(work_ / "server2"), PublishedList(work_ / "server1"));
  EXPECT_FALSE(fs::exists(work_ / "server2" / "old.txt"));
  EXPECT_NE(result.out.find("NOT PUBLISHED"), std::string::npos) << result.out;
  EXPECT_NE(result.err.find("warning"), std::string::npos) << result.err;
}

// Each bad input is refused with a message naming the problem, and the output of the release before
// stays exactly as it was, with nothing left beside it.
TEST_F(Publisher, BadInputLeavesThePreviousOutputUntouched) {
  const fs::path server = work_ / "server";
  MakeFirstRelease(work_ / "r1");
  ASSERT_EQ(Run({"--release", work_ / "r1", "--out", server}).exit_code, 0);
  const auto published = Snapshot(server);
  WriteFile(work_ / "garbage.xml", "404 Not Found");
  WriteFile(work_ / "error_page.xml", "<html><body>404 Not Found</body></html>");
  WriteFile(work_ / "hostile.xml", "<r><f Ver=\"1\" Name=\"..\\..\\x.dll\" url=\"\"/></r>");

  const struct {
    const char* what;
    std::string bad_file;  // added to a copy of release 1 ("" for none)
    std::vector<std::string> arguments;  // "{release}" stands for that copy
    int exit_code;
    std::string message;
  } cases[] = {
      {"device name", "CON.txt", {}, 1, "device"},
      {"device folder", "aux/a.txt", {}, 1, "device"},
      {"backslash inside a Linux name", "a\\b.txt", {}, 1, "refuses this name"},
      {"name GBK cannot hold", "\xF0\x9F\x98\x80.txt", {}, 1, "cannot be written in the updater's code page"},
      {"name that is not UTF-8", "\xB2\xE2.txt", {}, 1, "cannot be written in the updater's code page"},
      {"the list's own name", "UpdateList.xml", {}, 1, "the update list itself"},
      {"an unfinished download's name", "x.dll.tmp", {}, 1, ".tmp"},
      {"equals sign", "a=b.txt", {}, 1, "\"=\""},
      {"double quote", "say\"hi\".txt", {}, 1, "double quote"},
      {"hash", "a#b.txt", {}, 1, "\"#\""},
      {"file where a folder is", "BVX.DLL/x", {}, 1, "folder"},
      {"no such release", "", {"--release", (work_ / "missing").string(), "--out", server.string()}, 1, "no such folder"},
      {"previous list missing", "", {"--previous", (work_ / "none.xml").string()}, 1, "cannot open"},
      {"previous list not a list", "", {"--previous", (work_ / "garbage.xml").string()}, 1, "cannot be read as an update list"},
      {"previous list an error page, elements without names", "", {"--previous", (work_ / "error_page.xml").string()},
       1, "entry 1 \"\": the updater refuses this name"},
      {"previous list reaching out", "", {"--previous", (work_ / "hostile.xml").string()}, 1, "entry 1"},
      {"notes missing", "", {"--notes", (work_ / "none.txt").string()}, 1, "cannot open"},
      {"output inside the release", "", {"--release", "{release}", "--out", "{release}/out"}, 1, "apart"},
      {"no --out", "", {"--release", "{release}"}, 2, "required"},
      {"unknown option", "", {"--force"}, 2, "unknown argument"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path release = work_ / ("case" + std::to_string(++n));
    fs::copy(work_ / "r1", release, fs::copy_options::recursive);
    WriteFile(release / "readme.txt", "changed, so that a successful run would show");
    if (!c.bad_file.empty()) WriteFile(release / c.bad_file, "bad");
    std::vector<std::string> arguments = {"--release", release.string(), "--out", server.string()};
    if (!c.arguments.empty() && c.arguments[0] != "--release") {
      arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    } else if (!c.arguments.empty()) {
      arguments = c.arguments;
      for (std::string& argument : arguments) {
        if (argument.starts_with("{release}")) argument.replace(0, 9, release.string());
      }
    }
    const Result result = Run(arguments);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.out << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(Snapshot(server), published);
    EXPECT_EQ(LeftBeside(server), std::vector<std::string>{});
  }
}

TEST_F(Publisher, LinksToFoldersAndOtherNonFilesAreRefused) {
  const fs::path server = work_ / "server";
  const struct {
    const char* what;
    void (*make)(const fs::path& release, const fs::path& outside);
    const char* message;
  } cases[] = {
      {"link to a folder", [](const fs::path& r, const fs::path& o) { fs::create_directory_symlink(o, r / "linked"); },
       "a link to a folder"},
      {"broken link", [](const fs::path& r, const fs::path& o) { fs::create_symlink(o / "nothing", r / "broken"); },
       "neither a file nor a folder"},
      {"pipe", [](const fs::path& r, const fs::path&) { ASSERT_EQ(mkfifo((r / "pipe").c_str(), 0644), 0); },
       "neither a file nor a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path release = work_ / c.what;
    MakeFirstRelease(release);
    fs::create_directories(work_ / "outside");
    WriteFile(work_ / "outside" / "secret.txt", "outside the release");
    c.make(release, work_ / "outside");
    const Result result = Run({"--release", release, "--out", server});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(server));
    EXPECT_EQ(LeftBeside(server), std::vector<std::string>{});
  }
}

}  // namespace

// Whole update runs of the updater under Wine: notes, downloads with their progress display,
// promotion, the stored list, and the finish; and closing the window at any moment.
#include <gtest/gtest.h>

#include <optional>

#include "core/texts.h"
#include "tests/e2e/support/harness.h"
#include "tests/e2e/support/lists.h"
#include "updater/control_ids.h"

namespace e2e {
namespace {

std::string Cell(int row, int column) {
  return "control." + std::to_string(updater::kIdFileList) + ".list.row." + std::to_string(row) + "." +
         std::to_string(column);
}
std::string StatusPart(int part) {
  return "control." + std::to_string(updater::kIdStatusBar) + ".status.part." + std::to_string(part) + ".text";
}
std::string Text(int id) { return "control." + std::to_string(id) + ".text"; }

std::string Bytes(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 % 251);
  return bytes;
}

std::vector<fs::path> Temporaries(const fs::path& dir) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".tmp") found.push_back(entry.path());
  }
  return found;
}

class UpdateRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port " << BaseUrlPort() << " is taken";
    app_.InstallUpdater();
  }
  std::string Target(const std::string& relative) const { return BaseUrlPath() + relative; }
  // WinINet sends a "\" of the URL as "/": the folder "\sub\" reaches the server as "/sub/".
  std::string FileTarget(std::string folder, const std::string& name) const {
    for (char& c : folder) {
      if (c == '\\') c = '/';
    }
    return BaseUrlPath() + folder + name;
  }

  HttpServer server_{BaseUrlPort()};
  AppFolder app_;
};

TEST_F(UpdateRun, BringsTheFolderToTheServersRelease) {
  const std::string notes = "\xB5\xDA\xB6\xFE\xB0\xE6\r\nline two";  // 第二版
  const std::string new_a = Bytes(50000, 'a'), new_b = Bytes(3000, 'b'), new_c = Bytes(10240, 'c');
  app_.Write("a.dll", "old a");
  app_.Write("sub\\b.dat", "old b");
  app_.Write("sub\\deep\\c.txt", "old c");
  app_.Write("keep.dll", "unchanged");
  app_.Write("untouched.txt", "not listed");
  app_.Write("UpdateList.xml", ListXml({{"1", "a.dll", ""},
                                        {"1", "keep.dll", ""},
                                        {"1", "b.dat", "\\sub\\"},
                                        {"1", "c.txt", "\\sub\\deep\\"}}));
  const std::string served = ListXml({{"2", "a.dll", ""},
                                      {"1", "keep.dll", ""},
                                      {"2", "b.dat", "\\sub\\"},
                                      {"2", "c.txt", "\\sub\\deep\\"}});
  server_.ServeBytes(Target("UpdateList.xml"), served);
  server_.ServeBytes(Target("update.txt"), notes + std::string("\0ignored", 8));
  server_.ServeBytes(FileTarget("", "a.dll"), new_a);
  server_.ServeBytes(FileTarget("\\sub\\", "b.dat"), new_b);
  server_.ServeBytes(FileTarget("\\sub\\deep\\", "c.txt"), new_c);

  FinalStateWatcher final_state(kUpdaterClass);
  WineProcess updater = app_.StartUpdater();
  ASSERT_EQ(updater.Wait(120s), 0);
  const ProbeState s = final_state.State();

  EXPECT_EQ(app_.Read("a.dll"), new_a);
  EXPECT_EQ(app_.Read("sub\\b.dat"), new_b);
  EXPECT_EQ(app_.Read("sub\\deep\\c.txt"), new_c);
  EXPECT_EQ(app_.Read("keep.dll"), "unchanged");
  EXPECT_EQ(app_.Read("untouched.txt"), "not listed");
  EXPECT_EQ(app_.Read("UpdateList.xml"), served);
  EXPECT_TRUE(Temporaries(app_.dir()).empty());
  EXPECT_NE(app_.MainApplicationStarts(), "");
  EXPECT_TRUE(server_.RequestsFor(FileTarget("", "keep.dll")).empty());

  ASSERT_FALSE(s.empty()) << "the window was never seen";
  EXPECT_EQ(s.at(Text(updater::kIdNotes)), notes) << "notes end at the first zero byte";
  for (int row = 0; row < 3; ++row) EXPECT_EQ(s.at(Cell(row, 2)), "100%") << "row " << row;
  // The last chunk was the whole of c.txt: 10240 bytes are 10 KB.
  EXPECT_EQ(s.at(StatusPart(0)), std::string(texts::kSizePrefix) + "10KB");
  EXPECT_EQ(s.at(StatusPart(1)), std::string(texts::kReceivedPrefix) + "10KB");
  EXPECT_EQ(s.at(StatusPart(2)).rfind(texts::kSpeedPrefix, 0), 0u);
  EXPECT_EQ(s.at("control." + std::to_string(updater::kIdProgressBar) + ".pos"), "100");
}

// A file that fails is reported and the others still come in, but the list stays as it was: the
// next run offers the failed file again, and then completes.
TEST_F(UpdateRun, FailedFileIsOfferedAgainNextRun) {
  const std::string local = ListXml({{"1", "a.dll", ""}, {"1", "b.dll", ""}, {"1", "c.dll", ""}});
  const std::string served = ListXml({{"2", "a.dll", ""}, {"2", "b.dll", ""}, {"2", "c.dll", ""}});
  app_.Write("UpdateList.xml", local);
  app_.Write("b.dll", "old b");
  server_.ServeBytes(Target("UpdateList.xml"), served);
  server_.ServeBytes(FileTarget("", "a.dll"), "new a");
  server_.ServeBytes(FileTarget("", "b.dll"), "<html>not found</html>", 404);
  server_.ServeBytes(FileTarget("", "c.dll"), "new c");

  WineProcess first = app_.StartUpdater();
  const ProbeState box = AnswerMessageBox(60s);
  ASSERT_FALSE(box.empty()) << "no message box";
  EXPECT_EQ(box.at("msgbox.caption"), texts::kMessageCaption);
  EXPECT_EQ(box.at("msgbox.text"), texts::kCannotOpenUrl);
  EXPECT_NE(box.count("msgbox.icon") ? box.at("msgbox.icon") : "0", "1") << "the box has no icon";
  EXPECT_EQ(box.at("msgbox.owner"), "0");
  ASSERT_EQ(first.Wait(60s), 0);
  EXPECT_EQ(app_.Read("a.dll"), "new a");
  EXPECT_EQ(app_.Read("b.dll"), "old b") << "an error page must never replace a file";
  EXPECT_EQ(app_.Read("c.dll"), "new c");
  EXPECT_EQ(app_.Read("UpdateList.xml"), local);
  EXPECT_NE(app_.MainApplicationStarts(), "");

  server_.ServeBytes(FileTarget("", "b.dll"), "new b");
  WineProcess second = app_.StartUpdater();
  ASSERT_EQ(second.Wait(60s), 0);
  EXPECT_EQ(server_.RequestsFor(FileTarget("", "b.dll")).size(), 2u);
  EXPECT_EQ(server_.RequestsFor(FileTarget("", "a.dll")).size(), 2u) << "the whole list is offered again";
  EXPECT_EQ(app_.Read("b.dll"), "new b");
  EXPECT_EQ(app_.Read("UpdateList.xml"), served);
}

// An entry that would write outside the application folder is never fetched.
TEST_F(UpdateRun, RefusedEntryIsReportedAndNeverFetched) {
  const std::string served = ListXml({{"2", "..\\evil.dll", ""}, {"2", "good.dll", ""}});
  server_.ServeBytes(Target("UpdateList.xml"), served);
  server_.ServeBytes(FileTarget("", "good.dll"), "good");
  WineProcess updater = app_.StartUpdater();
  const ProbeState box = AnswerMessageBox(60s);
  ASSERT_FALSE(box.empty());
  EXPECT_EQ(box.at("msgbox.text"), texts::kCannotOpenLocalFile);
  ASSERT_EQ(updater.Wait(60s), 0);
  EXPECT_EQ(app_.Read("good.dll"), "good");
  for (const auto& request : server_.Requests()) EXPECT_EQ(request.target.find("evil"), std::string::npos);
  EXPECT_FALSE(fs::exists(app_.dir().parent_path() / "evil.dll"));
  EXPECT_FALSE(app_.Exists("UpdateList.xml"));
}

// Without a length the percentage cannot be known: the bar and the cell stay at 0.
TEST_F(UpdateRun, BodyWithoutLengthShowsZeroPercent) {
  server_.ServeBytes(Target("UpdateList.xml"), ListXml({{"2", "a.dll", ""}}));
  server_.Route(FileTarget("", "a.dll"), [](const HttpRequest&, HttpConnection& c) {
    c.Write("HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n" + Bytes(25000, 'x'));
  });
  FinalStateWatcher final_state(kUpdaterClass);
  WineProcess updater = app_.StartUpdater();
  ASSERT_EQ(updater.Wait(60s), 0);
  const ProbeState s = final_state.State();
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(app_.Read("a.dll"), Bytes(25000, 'x'));
  EXPECT_EQ(s.at(Cell(0, 2)), "0%");
  EXPECT_EQ(s.at(StatusPart(0)), std::string(texts::kSizePrefix) + "0KB");
  EXPECT_EQ(s.at(StatusPart(1)), std::string(texts::kReceivedPrefix) + "24.41KB");
}

// Closing the window at any moment ends the process promptly: nothing half-done stays behind and
// the main application does not start.
TEST_F(UpdateRun, ClosingTheWindowAtAnyMomentLeavesNothingBehind) {
  const std::string local = ListXml({{"1", "a.dll", ""}, {"1", "b.dll", "\\sub\\"}});
  const std::string served = ListXml({{"2", "a.dll", ""}, {"2", "b.dll", "\\sub\\"}});
  struct Moment {
    const char* name;
    const char* held;  // the target whose answer is held, or nullptr: a message box is waiting
  };
  const Moment moments[] = {
      {"list", "UpdateList.xml"},
      {"notes", "update.txt"},
      {"first download", "a.dll"},
      {"second download", "b.dll"},
      {"message box", nullptr},
  };
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    AppFolder app(std::string("-") + m.name);
    app.InstallUpdater();
    app.Write("UpdateList.xml", local);
    app.Write("a.dll", "old a");
    app.Write("sub\\b.dll", "old b");
    auto gate = server_.NewGate();
    const auto serve = [&](const std::string& target, const std::string& body) {
      server_.Route(target, [&, target, body](const HttpRequest&, HttpConnection& c) {
        if (m.held && target.ends_with(std::string("/") + m.held)) {
          // Half the body goes out first, so a download is really in progress when held.
          const std::string response = HttpResponse(200, body);
          c.Write(response.substr(0, response.size() / 2));
          gate->Wait();
          c.Abort();
          return;
        }
        c.Write(HttpResponse(200, body));
      });
    };
    serve(Target("UpdateList.xml"), served);
    serve(Target("update.txt"), "notes");
    serve(FileTarget("", "a.dll"), Bytes(40000, 'a'));
    if (m.held) {
      serve(FileTarget("\\sub\\", "b.dll"), Bytes(40000, 'b'));
    } else {
      server_.ServeBytes(FileTarget("\\sub\\", "b.dll"), "gone", 404);
    }

    WineProcess updater = app.StartUpdater();
    if (m.held) {
      ASSERT_TRUE(gate->WaitForWaiter(60s));
    } else {
      ASSERT_FALSE(AnswerMessageBox(60s, false).empty());
    }
    ASSERT_TRUE(CloseWindow(kUpdaterClass));
    EXPECT_TRUE(updater.Wait(3s).has_value()) << "still running after the window was closed";
    gate->Open();
    updater.Kill();
    // A download that was cut off leaves nothing; one that had finished may stay whole, to be
    // promoted by a later run like any other temporary.
    for (const auto& temporary : Temporaries(app.dir())) {
      EXPECT_EQ(temporary.filename(), "a.dll.tmp");
      EXPECT_EQ(ReadFile(temporary), Bytes(40000, 'a'));
    }
    EXPECT_EQ(app.Read("UpdateList.xml"), local);
    EXPECT_EQ(app.Read("sub\\b.dll"), "old b");
    EXPECT_EQ(app.MainApplicationStarts(), "");
  }
}

}  // namespace
}  // namespace e2e

// The update check of the updater under Wine: the list fetched from the loopback update server,
// compared with the local list, the rows and folders it gives.
#include <gtest/gtest.h>

#include <optional>

#include "core/texts.h"
#include "tests/e2e/support/harness.h"
#include "tests/e2e/support/lists.h"
#include "updater/control_ids.h"

namespace e2e {
namespace {

using Entry = ListEntry;

std::string Row(int row, int column) {
  return "control." + std::to_string(updater::kIdFileList) + ".list.row." + std::to_string(row) + "." +
         std::to_string(column);
}

class UpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server().listening()) << "port " << BaseUrlPort() << " is taken";
    app_.InstallUpdater();
  }
  HttpServer& server() { return *server_; }
  std::string ListTarget() const { return BaseUrlPath() + "UpdateList.xml"; }
  std::string NotesTarget() const { return BaseUrlPath() + "update.txt"; }

  std::optional<HttpServer> server_{std::in_place, BaseUrlPort()};
  AppFolder app_;
};

TEST_F(UpdateCheck, SameVersionsStartTheMainApplicationAndTouchNothing) {
  // Same "Ver" with another name or folder is no difference: only the version text counts.
  const std::string local = ListXml({{"1.0", "a.dll", ""}, {"2.0", "b.dll", "\\sub\\"}});
  const std::string served = ListXml({{"1.0", "a.dll", ""}, {"2.0", "renamed.dll", "\\other\\"}});
  app_.Write("UpdateList.xml", local);
  auto list = server().HoldBytes(ListTarget(), served);
  TextWatcher status(kUpdaterClass, updater::kIdStatusLine);
  WineProcess updater = app_.StartUpdater();
  ASSERT_TRUE(status.WaitForText(texts::kReadingData));
  list->Open();
  ASSERT_EQ(updater.Wait(60s), 0);
  EXPECT_EQ(status.Texts(), (std::vector<std::string>{texts::kReadingData, texts::kLookingForUpdates}));
  EXPECT_NE(app_.MainApplicationStarts(), "");
  EXPECT_EQ(app_.Read("UpdateList.xml"), local);
  EXPECT_FALSE(app_.Exists("other"));

  const auto requests = server().RequestsFor(ListTarget());
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_EQ(requests[0].Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  EXPECT_TRUE(server().RequestsFor(NotesTarget()).empty());
}

// Every way of not getting a list ends the same: the status line says so and the main
// application starts. A 404 whose body happens to be a valid list is still not the list.
TEST_F(UpdateCheck, NoListMeansNoUpdate) {
  const std::string valid_list = ListXml({{"9.9", "a.dll", "\\evil\\"}});
  struct Case {
    const char* name;
    std::function<void(HttpConnection&)> respond;
  };
  const Case cases[] = {
      {"404 with a list as body", [&](HttpConnection& c) { c.Write(HttpResponse(404, valid_list)); }},
      {"500", [](HttpConnection& c) { c.Write(HttpResponse(500, "<html>oops</html>")); }},
      {"empty body", [](HttpConnection& c) { c.Write(HttpResponse(200, "")); }},
      {"cut short", [&](HttpConnection& c) {
         c.Write(HttpResponse(200, valid_list).substr(0, 120));
         c.Abort();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppFolder app(std::string("-") + c.name);
    app.InstallUpdater();
    auto gate = server().NewGate();
    server().Route(ListTarget(), [&](const HttpRequest&, HttpConnection& connection) {
      gate->Wait();
      c.respond(connection);
    });
    TextWatcher status(kUpdaterClass, updater::kIdStatusLine);
    WineProcess updater = app.StartUpdater();
    ASSERT_TRUE(status.WaitForText(texts::kReadingData));
    gate->Open();
    ASSERT_EQ(updater.Wait(60s), 0);
    EXPECT_EQ(status.Texts(), (std::vector<std::string>{texts::kReadingData, texts::kListFetchFailed}));
    EXPECT_NE(app.MainApplicationStarts(), "");
    EXPECT_FALSE(app.Exists("evil"));
    EXPECT_FALSE(app.Exists("UpdateList.xml"));
  }
}

TEST_F(UpdateCheck, UnreachableServerMeansNoUpdate) {
  server_.reset();  // nothing listens on the update port any more
  TextWatcher status(kUpdaterClass, updater::kIdStatusLine);
  WineProcess updater = app_.StartUpdater();
  ASSERT_EQ(updater.Wait(60s), 0);
  const auto texts = status.Texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), texts::kListFetchFailed);
  EXPECT_NE(app_.MainApplicationStarts(), "");
}

// Differing entries become rows in server order, with their folders created; the window grows to
// show them. The notes request is held so the window can be looked at before any download.
TEST_F(UpdateCheck, DifferencesExpandTheWindowWithOneRowEach) {
  const std::string gbk_name = "\xD6\xD0\xCE\xC4.txt";                      // 中文.txt
  const std::string gbk_folder = "\\\xB2\xE5\xBC\xFE\\\xC9\xEE\xB2\xE3\\";  // \插件\深层\ //
  app_.Write("UpdateList.xml", ListXml({{"1.0", "same.dll", ""},
                                        {"1.0", "lower.dll", ""},
                                        {"v1", "case.dll", ""},
                                        {"3", "old-only.dll", ""},
                                        {"4", "x.dll", ""},
                                        {"old", "y.dll", ""},
                                        {"", "z.dll", ""}}));
  server().ServeBytes(ListTarget(), ListXml({{"1.0", "same.dll", ""},
                                            {"0.9", "lower.dll", "\\lib\\"},
                                            {"V1", "case.dll", "-"},  // no url: keeps "\lib\"
                                            {"3", "inserted.dll", "\\x\\"},
                                            {"5", gbk_name, gbk_folder},
                                            {"", "", "   "},    // no Ver here only: differs, keeps the name
                                            {"", "w.dll", ""}}));  // no Ver on either side: the same
  auto notes = server().HoldBytes(NotesTarget(), "notes");
  WineProcess updater = app_.StartUpdater();
  ASSERT_TRUE(notes->WaitForWaiter(60s));
  const ProbeState s = WindowState(kUpdaterClass);
  SaveScreenshot("updater-expanded", s.at("window.rect"));

  EXPECT_EQ(s.at("window.rect").substr(s.at("window.rect").rfind(',') + 1), "300");
  const std::pair<int, const char*> visibility[] = {
      {updater::kIdStatusLine, "0"}, {updater::kIdFileList, "1"},  {updater::kIdProgressBar, "1"},
      {updater::kIdNotes, "1"},      {updater::kIdStatusBar, "1"}, {updater::kIdStateLabel, "1"}};
  for (const auto& [id, visible] : visibility) {
    EXPECT_EQ(s.at("control." + std::to_string(id) + ".visible"), visible) << id;
  }
  EXPECT_EQ(s.at("control." + std::to_string(updater::kIdStatusLine) + ".text"), texts::kUpdatesFound);

  const std::vector<std::vector<std::string>> expected = {
      {"0.9", "lower.dll", "", "\\lib\\"},
      {"V1", "case.dll", "", "\\lib\\"},
      {"5", gbk_name, "", gbk_folder},
      {"", gbk_name, "", "   "},
  };
  ASSERT_EQ(s.at("control." + std::to_string(updater::kIdFileList) + ".list.rows"), "4");
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(s.at(Row(r, c)), expected[r][c]) << "row " << r << " column " << c;
  }
  EXPECT_TRUE(std::filesystem::is_directory(app_.Path("lib")));
  EXPECT_TRUE(std::filesystem::is_directory(app_.Path(gbk_folder)));
  EXPECT_FALSE(app_.Exists("x")) << "the inserted entry's version matched the local entry at its position";

  // Closing the window here ends the run: nothing is downloaded, nothing started.
  ASSERT_TRUE(CloseWindow(kUpdaterClass));
  EXPECT_EQ(updater.Wait(10s), 0);
  notes->Open();
  EXPECT_EQ(app_.MainApplicationStarts(), "");
}

}  // namespace
}  // namespace e2e

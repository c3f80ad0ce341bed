// The publisher's output as the updater meets it: a folder at the old release, updated under
// Wine from what update-publisher made, ends up at the new release.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/e2e/support/harness.h"

namespace e2e {
namespace {

void Publish(const fs::path& release, const fs::path& out) {
  const std::string command = std::string("'") + E2E_PUBLISHER + "' --release '" + release.string() + "' --out '" +
                              out.string() + "' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(PublishRoundTrip, UpdaterBringsAnOldFolderToThePublishedRelease) {
  HttpServer server(BaseUrlPort());
  ASSERT_TRUE(server.listening());
  AppFolder work("-releases");
  const fs::path r1 = work.dir() / "release-1", r2 = work.dir() / "release-2", out = work.dir() / "server";
  // Names on disk are UTF-8 here; the list carries them in GBK.
  const std::string chinese = "\xE8\xAF\xB4\xE6\x98\x8E.txt";  // 说明.txt
  WriteFile(r1 / "a.dll", "a 1");
  WriteFile(r1 / chinese, "notes 1");
  WriteFile(r1 / "plugins" / "p.dat", "plugin, unchanged");
  WriteFile(r1 / "old.txt", "dropped later");
  Publish(r1, out);
  const std::string release_1_list = ReadFile(out / "UpdateList.xml");

  fs::copy(r1, r2, fs::copy_options::recursive);
  fs::remove(r2 / "old.txt");
  WriteFile(r2 / "a.dll", "a 2");
  WriteFile(r2 / chinese, "notes 2");
  WriteFile(r2 / "plugins" / "new" / "n.dat", "added");
  Publish(r2, out);

  AppFolder app("-app");
  fs::copy(r1, app.dir(), fs::copy_options::recursive);
  app.InstallUpdater();
  WriteFile(app.dir() / "UpdateList.xml", release_1_list);
  server.ServeFolder(BaseUrlPath(), out.string());
  WineProcess updater = app.StartUpdater();
  ASSERT_EQ(updater.Wait(120s), 0);

  for (const auto& entry : fs::recursive_directory_iterator(r2)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), r2);
    EXPECT_EQ(ReadFile(app.dir() / relative), ReadFile(entry.path())) << relative;
  }
  EXPECT_EQ(ReadFile(app.dir() / "UpdateList.xml"), ReadFile(out / "UpdateList.xml"));
  EXPECT_EQ(ReadFile(app.dir() / "old.txt"), "dropped later") << "the updater deletes nothing";
  for (const auto& entry : fs::recursive_directory_iterator(app.dir())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
  for (const auto& request : server.Requests()) {
    EXPECT_EQ(request.target.find("p.dat"), std::string::npos) << "an unchanged file was fetched";
  }
  EXPECT_NE(app.MainApplicationStarts(), "");
}

}  // namespace
}  // namespace e2e

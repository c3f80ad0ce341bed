// The updater's file download, driven through dltool.exe under Wine against a loopback server
// that sends exactly the bytes each case needs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/texts.h"
#include "tests/e2e/support/harness.h"

namespace e2e {
namespace {

constexpr char kPath[] = "/files/a.dll";
constexpr char kFileName[] = "a.dll.tmp";
constexpr std::size_t kChunkSize = 10240;
constexpr std::int64_t kElapsedWhenZero = 10;
constexpr int kRefusedPort = 8652;  // nothing listens there

struct Report {
  std::int64_t total = 0;
  std::int64_t received = 0;
  std::int64_t elapsed = 0;
  std::int64_t new_bytes = 0;
};

// What dltool printed, and the message box it showed if the test answered one.
struct ToolRun {
  std::optional<int> exit_code;
  std::vector<Report> reports;
  std::optional<int> result;
  std::optional<int> stopped_in_time;
  ProbeState box;
  std::string output;
};

std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::size_t CountReports(const std::string& output) {
  std::size_t count = 0;
  for (const auto& line : Lines(output)) count += line.rfind("progress ", 0) == 0;
  return count;
}

// Whether a report of exactly `received` bytes has been printed.
bool HasReportOf(const std::string& output, std::int64_t received) {
  for (const auto& line : Lines(output)) {
    std::istringstream fields(line);
    std::string kind;
    std::int64_t total = 0, value = 0;
    fields >> kind >> total >> value;
    if (kind == "progress" && value == received) return true;
  }
  return false;
}

void Parse(ToolRun& run) {
  for (const auto& line : Lines(run.output)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "progress") {
      Report r;
      fields >> r.total >> r.received >> r.elapsed >> r.new_bytes;
      run.reports.push_back(r);
    } else if (kind == "result") {
      int value = 0;
      fields >> value;
      run.result = value;
    } else if (kind == "stop") {
      int value = 0;
      fields >> value;
      run.stopped_in_time = value;
    } else {
      ADD_FAILURE() << "unexpected output line: " << line;
    }
  }
}

std::string Url(int port, const std::string& path) { return "http://127.0.0.1:" + std::to_string(port) + path; }

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Gzip(const std::string& bytes) {
  z_stream stream{};
  // 15 window bits + 16: a gzip wrapper, as servers send for "Content-Encoding: gzip".
  EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Head(int status, const std::string& headers) {
  return "HTTP/1.1 " + std::to_string(status) + (status == 206 ? " Partial Content" : " OK") + "\r\n" + headers +
         "Connection: close\r\n\r\n";
}

// The reports of a download that stored `size` bytes on top of `start`: received grows by each
// chunk up to the end, new bytes count from the start, elapsed is never 0 and never goes back.
void ExpectConsistentReports(const std::vector<Report>& reports, std::int64_t total, std::int64_t start,
                             std::int64_t size) {
  ASSERT_FALSE(reports.empty());
  std::int64_t previous_received = start;
  std::int64_t previous_elapsed = 1;
  for (const Report& r : reports) {
    EXPECT_EQ(r.total, total);
    EXPECT_GT(r.received, previous_received);
    EXPECT_LE(r.received - previous_received, static_cast<std::int64_t>(kChunkSize));
    EXPECT_EQ(r.new_bytes, r.received - start);
    EXPECT_GT(r.elapsed, 0);
    // A chunk read in the first millisecond reports kElapsedWhenZero in place of 0.
    if (r.elapsed != kElapsedWhenZero) {
      EXPECT_GE(r.elapsed, previous_elapsed);
      previous_elapsed = r.elapsed;
    }
    previous_received = r.received;
  }
  EXPECT_EQ(reports.back().received, start + size);
}

class FileDownload : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.listening()) << "port " << BaseUrlPort() << " is taken"; }

  std::string Folder() const { return app_.WindowsDir() + "\\"; }

  WineProcess Start(const std::string& url, const std::string& folder, const std::string& file_name,
                    int start_offset = 0, bool resume = false, const std::string& stop_file = {}) {
    std::vector<std::string> args = {url, folder, file_name, std::to_string(start_offset), resume ? "1" : "0"};
    if (!stop_file.empty()) args.push_back(stop_file);
    return WineProcess(Win64BinDir() / "dltool.exe", args, {}, true);
  }

  // Waits for dltool to end, answering the message box first when one is expected.
  ToolRun Finish(WineProcess& process, bool expect_box) {
    ToolRun run;
    if (expect_box) {
      run.box = AnswerMessageBox(60s);
      EXPECT_FALSE(run.box.empty()) << "no message box";
    }
    run.exit_code = process.Wait(60s);
    EXPECT_EQ(run.exit_code, 0) << "dltool did not end by itself: a message box nobody expected?";
    run.output = process.Output();
    Parse(run);
    return run;
  }

  ToolRun Download(const std::string& url, bool expect_box, const std::string& file_name = kFileName,
               int start_offset = 0, bool resume = false) {
    WineProcess process = Start(url, Folder(), file_name, start_offset, resume);
    return Finish(process, expect_box);
  }

  ToolRun Download(bool expect_box) { return Download(Url(BaseUrlPort(), kPath), expect_box); }

  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(app_.dir())) names.insert(entry.path().filename().string());
    return names;
  }

  HttpServer server_{BaseUrlPort()};
  AppFolder app_;
};

void ExpectFailureBox(const ToolRun& run, const char* text) {
  EXPECT_EQ(run.result, -1);
  ASSERT_FALSE(run.box.empty());
  EXPECT_EQ(run.box.at("msgbox.caption"), texts::kMessageCaption);
  EXPECT_EQ(run.box.at("msgbox.text"), text);
  EXPECT_EQ(run.box.at("msgbox.owner"), "0");
  EXPECT_TRUE(run.box.count("msgbox.icon") == 0 || run.box.at("msgbox.icon") == "0") << "the box shows an icon";
  std::size_t buttons = 0;
  for (const auto& [key, value] : run.box) buttons += key.rfind("msgbox.button.", 0) == 0;
  EXPECT_EQ(buttons, 1u);
  EXPECT_EQ(run.box.count("msgbox.button.1"), 1u) << "the only button is OK";
}

// WinINet adds its own Accept line before the header block's and does not replace it; the
// block's User-Agent line replaces the session's agent ("Agent" + tick count), which therefore
// never reaches the server. Of the cache flags only PRAGMA_NOCACHE shows, as "Pragma: no-cache".
TEST_F(FileDownload, SendsTheHeaderBlockAsIs) {
  struct Case {
    const char* name;
    bool resume;
    int offset;
    const char* range_line;
  };
  const Case cases[] = {
      {"fresh", false, 0, ""},
      {"fresh, offset ignored", false, 77, ""},
      {"resume", true, 300, "Range: bytes=300-\r\n"},
  };
  server_.ServeBytes(kPath, "body");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = server_.RequestsFor(kPath).size();
    const ToolRun run = Download(Url(BaseUrlPort(), kPath), false, kFileName, c.offset, c.resume);
    EXPECT_EQ(run.result, 0);
    const auto requests = server_.RequestsFor(kPath);
    ASSERT_EQ(requests.size(), before + 1) << "one request, no retry";
    const HttpRequest& request = requests.back();
    EXPECT_EQ(request.head, std::string("GET /files/a.dll HTTP/1.1\r\n"
                                        "Accept: */*\r\n"
                                        "Accept: */*\r\n"
                                        "Accept-Language: zh-cn\r\n"
                                        "Accept-Encoding: gzip, deflate\r\n"
                                        "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; "
                                        ".NET CLR 1.1.4322)\r\n") +
                                c.range_line + "Host: 127.0.0.1:" + std::to_string(BaseUrlPort()) +
                                "\r\nPragma: no-cache\r\n\r\n");
    EXPECT_FALSE(request.HasHeader("Cache-Control"));
    EXPECT_FALSE(request.HasHeader("If-Modified-Since"));
    std::size_t agents = 0;
    for (auto at = request.head.find("Agent"); at != std::string::npos; at = request.head.find("Agent", at + 1)) {
      ++agents;
    }
    EXPECT_EQ(agents, 1u) << "the session agent was sent besides the User-Agent line";
  }
}

// Each piece is read as it arrives: the server sends the next one only once the previous one has
// been reported whole. (WinINet may hand a piece over in more than one read, never two pieces in
// one.)
TEST_F(FileDownload, ReportsEveryPieceAsItArrives) {
  const std::vector<std::string> pieces = {RandomBytes(1000, 1), RandomBytes(3000, 2), RandomBytes(1, 3),
                                           RandomBytes(kChunkSize - 1, 4)};
  std::string body;
  for (const auto& piece : pieces) body += piece;
  std::vector<std::shared_ptr<Gate>> gates;
  for (std::size_t i = 1; i < pieces.size(); ++i) gates.push_back(std::make_shared<Gate>());
  server_.Route(kPath, [&](const HttpRequest&, HttpConnection& connection) {
    connection.Write(Head(200, "Content-Length: " + std::to_string(body.size()) + "\r\n") + pieces[0]);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
      if (!gates[i - 1]->Wait(60s)) return;
      connection.Write(pieces[i]);
    }
  });
  std::vector<std::int64_t> ends;  // received at the end of each piece
  for (const auto& piece : pieces) {
    ends.push_back((ends.empty() ? 0 : ends.back()) + static_cast<std::int64_t>(piece.size()));
  }
  WineProcess process = Start(Url(BaseUrlPort(), kPath), Folder(), kFileName);
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    ASSERT_TRUE(WaitUntil([&] { return HasReportOf(process.Output(), ends[i - 1]); }, 60s))
        << "piece " << i - 1 << " was not reported whole";
    gates[i - 1]->Open();
  }
  const ToolRun run = Finish(process, false);
  EXPECT_EQ(run.result, 0);
  ExpectConsistentReports(run.reports, static_cast<std::int64_t>(body.size()), 0,
                          static_cast<std::int64_t>(body.size()));
  EXPECT_TRUE(HasReportOf(run.output, ends.back()));
  EXPECT_LE(run.reports.size(), 2 * pieces.size());
  EXPECT_TRUE(app_.Read(kFileName) == body) << "the stored file differs";
}

// Bodies that end normally: each is stored as it came, replacing what the file held.
TEST_F(FileDownload, StoresWholeBodies) {
  struct Case {
    const char* name;
    std::string response;
    std::string stored;
    std::int64_t total;  // in every report
  };
  const std::string large = RandomBytes(5 * 1024 * 1024 + 123, 7);
  const std::string text = RandomBytes(25000, 8);
  const std::string zipped_source = std::string(60000, 'z') + text;
  const std::string zipped = Gzip(zipped_source);
  const Case cases[] = {
      {"large", Head(200, "Content-Length: " + std::to_string(large.size()) + "\r\n") + large, large,
       static_cast<std::int64_t>(large.size())},
      {"no Content-Length", Head(200, "") + text, text, 0},
      {"empty", Head(200, "Content-Length: 0\r\n"), "", 0},
      {"204", "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n", "", 0},
      // WinINet drops the Content-Length of a body it decodes.
      {"gzip", Head(200, "Content-Length: " + std::to_string(zipped.size()) + "\r\nContent-Encoding: gzip\r\n") +
                   zipped,
       zipped_source, 0},
      {"more than announced", Head(200, "Content-Length: 4\r\n") + "abcdefgh", "abcd", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Route(kPath, [&](const HttpRequest&, HttpConnection& connection) { connection.Write(c.response); });
    app_.Write(kFileName, "old bytes of an earlier run, longer than some bodies");
    const ToolRun run = Download(false);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(app_.Read(kFileName) == c.stored) << "the stored file differs";
    if (c.stored.empty()) {
      EXPECT_TRUE(run.reports.empty()) << "an empty body makes no report";
    } else {
      ExpectConsistentReports(run.reports, c.total, 0, static_cast<std::int64_t>(c.stored.size()));
    }
  }
}

// A redirect is followed; what counts is the answer at its end.
TEST_F(FileDownload, FollowsRedirects) {
  server_.ServeBytes("/moved", "", 302, std::string("Location: ") + kPath + "\r\n");
  server_.ServeBytes(kPath, "the file");
  const ToolRun run = Download(Url(BaseUrlPort(), "/moved"), false);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(app_.Read(kFileName), "the file");
}

// An error page is never stored: the local file stays as it was, or absent.
TEST_F(FileDownload, AnswersOutside2xxAreFailures) {
  struct Case {
    const char* name;
    const char* target;
    bool existing_file;
  };
  const Case cases[] = {
      {"404", "/missing", false},
      {"404 over an existing file", "/missing", true},
      {"500", "/broken", true},
      {"redirect to 404", "/moved", true},
      {"416", "/range", true},
  };
  server_.ServeBytes("/broken", "<html>server error</html>", 500);
  server_.ServeBytes("/moved", "", 302, "Location: /missing\r\n");
  server_.ServeBytes("/range", "", 416);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(app_.Path(kFileName));
    if (c.existing_file) app_.Write(kFileName, "earlier bytes");
    const ToolRun run = Download(Url(BaseUrlPort(), c.target), true);
    ExpectFailureBox(run, texts::kCannotOpenUrl);
    EXPECT_TRUE(run.reports.empty());
    if (c.existing_file) {
      EXPECT_EQ(app_.Read(kFileName), "earlier bytes");
    } else {
      EXPECT_FALSE(app_.Exists(kFileName));
    }
  }
}

// A body that does not come in whole leaves no file behind, not even one that existed before.
// (Without a Content-Length the server's close is the end of the body, so only a body with one
// can be found short.)
TEST_F(FileDownload, IncompleteBodiesAreRemoved) {
  struct Case {
    const char* name;
    bool reset;  // the connection fails rather than ends
  };
  const Case cases[] = {{"cut short", false}, {"dropped", true}};
  const std::string body = RandomBytes(40000, 9);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The end comes once the first bytes have been stored: a reset discards what the client has
    // not read yet, the answer's head included.
    auto stored = std::make_shared<Gate>();
    server_.Route(kPath, [&, stored](const HttpRequest&, HttpConnection& connection) {
      connection.Write(Head(200, "Content-Length: " + std::to_string(body.size()) + "\r\n") + body.substr(0, 15000));
      if (!stored->Wait(60s)) return;
      if (c.reset) connection.Abort();
    });
    app_.Write(kFileName, "earlier bytes");
    WineProcess process = Start(Url(BaseUrlPort(), kPath), Folder(), kFileName);
    ASSERT_TRUE(WaitUntil([&] { return CountReports(process.Output()) >= 1; }, 60s));
    stored->Open();
    const ToolRun run = Finish(process, true);
    ExpectFailureBox(run, texts::kReadError);
    EXPECT_FALSE(app_.Exists(kFileName));
  }
}

TEST_F(FileDownload, RefusedConnectionIsAFailureToOpenTheUrl) {
  const ToolRun run = Download(Url(kRefusedPort, kPath), true);
  ExpectFailureBox(run, texts::kCannotOpenUrl);
  EXPECT_TRUE(FolderEntries().empty());
}

// Nothing is written anywhere when the local file cannot be made where it was meant to be.
TEST_F(FileDownload, LocalFileThatCannotBeOpened) {
  struct Case {
    const char* name;
    std::string folder_suffix;  // below the application folder
    std::string file_name;
  };
  const Case cases[] = {
      {"missing folder", "\\nosuchdir\\", kFileName},
      {"name climbing out", "\\sub\\", "..\\a.dll.tmp"},
      {"name with a folder", "\\", "sub\\a.dll.tmp"},
      {"empty name", "\\sub\\", ""},
  };
  server_.ServeBytes(kPath, "the file");
  fs::create_directories(app_.Path("sub"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WineProcess process = Start(Url(BaseUrlPort(), kPath), app_.WindowsDir() + c.folder_suffix, c.file_name);
    const ToolRun run = Finish(process, true);
    ExpectFailureBox(run, texts::kCannotOpenLocalFile);
    EXPECT_EQ(FolderEntries(), std::set<std::string>{"sub"});
    EXPECT_TRUE(fs::is_empty(app_.Path("sub")));
  }
}

// Resuming appends to the partial file only what a 206 answer sends; a server that ignores the
// range sends everything with 200, and the file starts over. A resumed download that fails keeps
// its partial file for the next attempt.
TEST_F(FileDownload, ResumesOnlyFromAPartialAnswer) {
  const std::string whole = RandomBytes(30000, 11);
  const int offset = 12000;
  struct Case {
    const char* name;
    int status;
    bool cut_short;
    int result;
    std::string stored;
    std::int64_t start;  // received in the reports starts here
  };
  const Case cases[] = {
      {"206", 206, false, 0, whole, offset},
      {"200", 200, false, 0, whole, 0},
      {"206 cut short", 206, true, -1, whole.substr(0, offset + 5000), offset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Route(kPath, [&](const HttpRequest& request, HttpConnection& connection) {
      EXPECT_EQ(request.Header("Range"), "bytes=" + std::to_string(offset) + "-");
      const std::string body = c.status == 206 ? whole.substr(offset) : whole;
      std::string headers = "Content-Length: " + std::to_string(body.size()) + "\r\n";
      if (c.status == 206) {
        headers += "Content-Range: bytes " + std::to_string(offset) + "-" + std::to_string(whole.size() - 1) + "/" +
                   std::to_string(whole.size()) + "\r\n";
      }
      connection.Write(Head(c.status, headers) + (c.cut_short ? body.substr(0, 5000) : body));
    });
    app_.Write(kFileName, whole.substr(0, offset));
    const ToolRun run = Download(Url(BaseUrlPort(), kPath), c.cut_short, kFileName, offset, true);
    EXPECT_EQ(run.result, c.result);
    if (c.cut_short) ExpectFailureBox(run, texts::kReadError);
    EXPECT_TRUE(app_.Read(kFileName) == c.stored) << "the stored file differs";
    const auto body_size = static_cast<std::int64_t>(c.status == 206 ? whole.size() - offset : whole.size());
    if (!c.cut_short) ExpectConsistentReports(run.reports, body_size, c.start, body_size);
  }
}

// The window's thread stops a download by closing its WinINet handles, whatever the download
// waits for at that moment; the download returns within a second, shows nothing and removes the
// partial file.
TEST_F(FileDownload, StopsWhenTheTransfersAreAborted) {
  enum class Server { kHoldsTheHead, kHoldsTheBody, kStreams };
  struct Case {
    const char* name;
    Server server;
  };
  const Case cases[] = {
      {"waiting for the answer", Server::kHoldsTheHead},
      {"waiting for more of the body", Server::kHoldsTheBody},
      {"while the body streams", Server::kStreams},
  };
  const std::string chunk = RandomBytes(64 * 1024, 12);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto release = std::make_shared<Gate>();
    server_.Route(kPath, [&, release](const HttpRequest&, HttpConnection& connection) {
      if (c.server == Server::kHoldsTheHead) {
        release->Wait(60s);
        return;
      }
      if (!connection.Write(Head(200, "Content-Length: 1000000000\r\n") + chunk)) return;
      if (c.server == Server::kHoldsTheBody) {
        release->Wait(60s);
        return;
      }
      // At a pace a fast network gives. Closing a request, Wine first reads away what is left of
      // an announced body for as long as some is already there; a loopback server that never
      // pauses would keep it doing so for seconds. A few seconds of body outlast the one-second
      // stop being measured; then the connection ends, so a client still reading cannot hold the
      // test (or the server's shutdown) for the rest of the gigabyte.
      for (int sent = 0; sent < 300 && !release->Wait(10ms) && connection.Write(chunk); ++sent) {
      }
      connection.Abort();
    });
    const fs::path stop_file = app_.dir() / "stop.signal";
    fs::remove(stop_file);
    WineProcess process = Start(Url(BaseUrlPort(), kPath), Folder(), kFileName, 0, false, WindowsPath(stop_file));
    if (c.server == Server::kHoldsTheHead) {
      ASSERT_TRUE(server_.WaitForRequest(kPath, 60s));
    } else {
      ASSERT_TRUE(WaitUntil([&] { return CountReports(process.Output()) >= 1; }, 60s));
      ASSERT_TRUE(app_.Exists(kFileName));
    }
    WriteFile(stop_file, "");
    const ToolRun run = Finish(process, false);
    release->Open();
    EXPECT_EQ(run.stopped_in_time, 1) << "the download went on for more than a second";
    EXPECT_EQ(run.result, -1);
    EXPECT_FALSE(app_.Exists(kFileName));
    fs::remove(stop_file);
  }
}

}  // namespace
}  // namespace e2e

// The update check's list work (reading both lists, comparing them entry by entry) on lists of
// 100,000 entries, beside a bare scan of the same bytes that only counts "<" characters: the scan
// is the floor any reader of the text has to pay, so the ratio shows what the reading and the
// comparison cost on top of touching every byte. Usage: `update_list_bench [entries] [rounds]`.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/update_check.h"
#include "core/xml_reader.h"

namespace {

constexpr int kDefaultEntries = 100'000;
constexpr int kDefaultRounds = 7;

// GBK words for folders and names ("文件", "皮肤", "界面", "数据", "资源", "测试"), and one
// character whose second byte is 5C, the byte of "\".
constexpr std::string_view kWords[] = {
    "\xCE\xC4\xBC\xFE", "\xC6\xA4\xB7\xF4", "\xBD\xE7\xC3\xE6", "\xCA\xFD\xBE\xDD",
    "\xD7\xCA\xD4\xB4", "\xB2\xE2\xCA\xD4", "\x95\x5C",
};
constexpr std::string_view kExtensions[] = {".dll", ".exe", ".dat", ".she", ".ini", ".png"};

std::string_view Word(int i) { return kWords[static_cast<std::size_t>(i) % std::size(kWords)]; }

std::string Folder(int i) {
  switch (i % 4) {
    case 0:
      return "";
    case 1:
      return "\\" + std::string(Word(i)) + "\\";
    case 2:
      return "\\skin\\" + std::string(Word(i / 3)) + "\\";
    default:
      return "\\data\\" + std::string(Word(i / 7)) + "\\" + std::string(Word(i / 5)) + "\\";
  }
}

// Entries as the list writer produces them; every tenth leaves out "url" and takes the folder of
// the entry before, and a few names hold "&amp;". `bump` changes the version of every other entry.
std::string MakeList(int entries, bool bump) {
  std::string text = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<UpdateList>\r\n";
  text.reserve(static_cast<std::size_t>(entries) * 90);
  for (int i = 0; i < entries; ++i) {
    const int build = 100 + i % 900 + ((bump && i % 2 == 0) ? 1 : 0);
    text += "  <File Ver=\"2.";
    text += std::to_string(i % 13);
    text += ".0.";
    text += std::to_string(build);
    text += "\" Name=\"";
    text += Word(i);
    text += i % 50 == 0 ? "&amp;" : "_";
    text += std::to_string(i);
    text += kExtensions[static_cast<std::size_t>(i) % std::size(kExtensions)];
    text += "\"";
    if (i % 10 != 9) {
      text += " url=\"";
      text += Folder(i);
      text += "\"";
    }
    text += " />\r\n";
  }
  return text + "</UpdateList>\r\n";
}

std::size_t CountOpenings(std::string_view bytes) {
  std::size_t count = 0;
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  while ((at = static_cast<const char*>(std::memchr(at, '<', static_cast<std::size_t>(end - at)))) != nullptr) {
    ++count;
    ++at;
  }
  return count;
}

// Best of `rounds`: the least disturbed run is the closest to what the work itself costs.
template <typename Work>
double BestSeconds(int rounds, Work&& work) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::atoi(argv[1]) : kDefaultEntries;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : kDefaultRounds;
  if (entries <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: update_list_bench [entries > 0] [rounds > 0]\n");
    return 2;
  }
  const std::string server = MakeList(entries, true);
  const std::string local = MakeList(entries, false);

  // Results go into these so that neither piece of work can be dropped as unused.
  std::size_t rows = 0;
  std::size_t refused = 0;
  std::size_t parsed_entries = 0;
  std::size_t openings = 0;

  const double check = BestSeconds(rounds, [&] {
    const std::vector<update_check::Row> found =
        update_check::Differences(xml::Document::Parse(server), xml::Document::Parse(local));
    rows = found.size();
    refused = static_cast<std::size_t>(std::count_if(found.begin(), found.end(), [](const auto& row) { return row.refused; }));
  });
  const double parse = BestSeconds(rounds, [&] {
    parsed_entries = static_cast<std::size_t>(xml::Document::Parse(server).ChildCount("@1")) +
                     static_cast<std::size_t>(xml::Document::Parse(local).ChildCount("@1"));
  });
  const double scan = BestSeconds(rounds, [&] { openings = CountOpenings(server) + CountOpenings(local); });

  std::printf("lists: %d entries each, %zu + %zu bytes; %zu entries read, %zu rows differ (%zu refused), %zu '<'\n",
              entries, server.size(), local.size(), parsed_entries, rows, refused, openings);
  std::printf("best of %d rounds\n", rounds);
  std::printf("  check (parse both + compare): %9.3f ms  %12.0f entries/s  %7.1fx the scan\n", check * 1e3,
              entries / check, check / scan);
  std::printf("    of which parsing both:      %9.3f ms  %12.0f entries/s  %7.1fx the scan\n", parse * 1e3,
              entries / parse, parse / scan);
  std::printf("  byte scan for '<' (memchr):   %9.3f ms  %12.0f entries/s\n", scan * 1e3, entries / scan);
  return rows == 0 ? 1 : 0;
}

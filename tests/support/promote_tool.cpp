// Runs the promotion walk on its own, standing in for the updater: usage
// `promote_tool <own executable name> <folder> [temporary ...]`; an own name of "-" takes the name of
// this program's file, as the updater does, so the tool can be installed under the updater's name.
// Prints one line per move attempt, "moved" or "failed", TAB, old path, TAB, new path; then, when
// temporaries are named, "remaining" TAB path for each one still on disk and "all-promoted" TAB 1
// or 0. Paths are the GBK bytes the walk used. Exit code 2: bad usage.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "updater/promotion.h"
#include "win/module.h"

namespace {

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  // Byte-exact lines: no "\r" inserted before "\n".
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string own_argument = argv[1];
  const bool own_from_module = own_argument == "-";
  const std::string own_name = own_from_module ? win::ExecutableFileName() : own_argument;
  const std::string folder = argv[2];
  const std::vector<std::string> temporaries(argv + 3, argv + argc);

  const promotion::MoveObserver print = [](const std::string& from, const std::string& to, bool moved) {
    PrintLine(std::string(moved ? "moved" : "failed") + "\t" + from + "\t" + to);
  };
  if (own_from_module) {
    // The updater's own entry points, which look the name up themselves; the observer needs the
    // overload with the name, so the moves are printed only in the other mode.
    promotion::PromoteTemporaries(folder);
  } else {
    promotion::PromoteTemporaries(folder, own_name, print);
  }
  if (!temporaries.empty()) {
    for (const std::string& left : promotion::RemainingTemporaries(temporaries, own_name)) {
      PrintLine("remaining\t" + left);
    }
    const bool all = own_from_module ? promotion::AllPromoted(temporaries) : promotion::AllPromoted(temporaries, own_name);
    PrintLine(std::string("all-promoted\t") + (all ? "1" : "0"));
  }
  std::fflush(stdout);
  return 0;
}

// The promotion walk over a large application tree beside a bare find-first/find-next listing of
// the same tree, to see what the second listing per folder and the moves cost on top of merely
// visiting every entry. Usage: `promotion_bench <empty folder> [rounds]`; prints medians and ratios.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "updater/promotion.h"
#include "win/handles.h"

namespace {

// 20 top folders with 24 subfolders each: 500 folders of 40 files, 4 of them temporaries whose
// destinations exist, as after a download pass that updated 10% of an installation.
constexpr int kTopFolders = 20;
constexpr int kSubfoldersEach = 24;
constexpr int kFilesPerFolder = 40;
constexpr int kTemporariesPerFolder = 4;
constexpr char kOwnName[] = "promotion_bench.exe";

bool WriteSmallFile(const std::string& file, const std::string& content) {
  const win::UniqueFile out(
      CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return out.valid() && WriteFile(out.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
         written == content.size();
}

std::vector<std::string> MakeFolders(const std::string& root) {
  std::vector<std::string> folders;
  for (int t = 0; t < kTopFolders; ++t) {
    const std::string top = root + "\\top" + std::to_string(t);
    CreateDirectoryA(top.c_str(), nullptr);
    folders.push_back(top);
    for (int s = 0; s < kSubfoldersEach; ++s) {
      const std::string sub = top + "\\sub" + std::to_string(s);
      CreateDirectoryA(sub.c_str(), nullptr);
      folders.push_back(sub);
    }
  }
  return folders;
}

std::string Destination(const std::string& folder, int index) {
  return folder + "\\file" + std::to_string(index) + ".dll";
}

bool MakeFiles(const std::vector<std::string>& folders) {
  for (const auto& folder : folders) {
    for (int i = 0; i < kFilesPerFolder - kTemporariesPerFolder; ++i) {
      if (!WriteSmallFile(Destination(folder, i), "installed")) return false;
    }
  }
  return true;
}

bool MakeTemporaries(const std::vector<std::string>& folders) {
  for (const auto& folder : folders) {
    for (int i = 0; i < kTemporariesPerFolder; ++i) {
      if (!WriteSmallFile(Destination(folder, i) + ".tmp", "downloaded")) return false;
    }
  }
  return true;
}

// One listing per folder, descending into every subfolder: the least any walk of the tree does.
long long ListTree(const std::string& folder) {
  long long entries = 0;
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    ++entries;
    const std::string_view name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..") {
      entries += ListTree(folder + "\\" + entry.cFileName);
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return entries;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Work>
double Time(Work work) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  work();
  QueryPerformanceCounter(&end);
  return Seconds(start, end);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: promotion_bench <empty folder> [rounds]\n");
    return 2;
  }
  const std::string root = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

  const std::vector<std::string> folders = MakeFolders(root);
  if (!MakeFiles(folders)) {
    std::fprintf(stderr, "cannot write the tree below %s\n", root.c_str());
    return 1;
  }

  std::vector<double> listing, walk_moving, walk_idle;
  long long entries = 0;
  int moved = 0;
  // One round more than measured: the first fills the caches and is dropped.
  for (int round = 0; round <= rounds; ++round) {
    if (!MakeTemporaries(folders)) return 1;
    const double list_seconds = Time([&] { entries = ListTree(root); });
    moved = 0;
    const double moving_seconds = Time([&] {
      promotion::PromoteTemporaries(root, kOwnName, [&](const std::string&, const std::string&, bool ok) {
        moved += ok ? 1 : 0;
      });
    });
    // The same walk with nothing left to move: only the two listings per folder.
    const double idle_seconds = Time([&] { promotion::PromoteTemporaries(root, kOwnName); });
    if (round == 0) continue;
    listing.push_back(list_seconds);
    walk_moving.push_back(moving_seconds);
    walk_idle.push_back(idle_seconds);
  }

  const int expected_moves = static_cast<int>(folders.size()) * kTemporariesPerFolder;
  if (moved != expected_moves) {
    std::fprintf(stderr, "the walk moved %d of %d temporaries\n", moved, expected_moves);
    return 1;
  }
  const double list_median = Median(listing);
  const double moving_median = Median(walk_moving);
  const double idle_median = Median(walk_idle);
  std::printf("tree: %zu folders, %d files, %d temporaries per round; %lld entries listed; %d rounds\n",
              folders.size(), static_cast<int>(folders.size()) * kFilesPerFolder, expected_moves, entries, rounds);
  std::printf("bare FindFirstFileA listing:        median %8.1f ms\n", list_median * 1000);
  std::printf("walk, promoting the temporaries:   median %8.1f ms  (%.2fx the listing)\n", moving_median * 1000,
              moving_median / list_median);
  std::printf("walk, nothing left to promote:     median %8.1f ms  (%.2fx the listing)\n", idle_median * 1000,
              idle_median / list_median);
  std::printf("per move: %.1f us\n", (moving_median - idle_median) * 1e6 / expected_moves);
  return 0;
}

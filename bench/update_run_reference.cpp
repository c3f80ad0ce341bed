// What the updater's whole run is timed against (bench/update_run_bench.sh): a program of the
// same shape without the progress display. Its window is the updater's expanded window, shown and
// left alone; its worker runs the plainest WinINet loop, one new session per file, blocking reads
// into the same 10240-byte buffer, each chunk written straight to the local file. Under Wine a
// process that shows a window downloads markedly slower than one that does not, which is Wine's
// cost, not the updater's; built as a console program the same loop runs without any window.
//
//   update_run_reference <jobs file> <done file>
//
// The jobs file holds one "<url><TAB><local file>" per line. When every job has run, the done file
// is written (the benchmark's end event) and the program ends; exit code 0 when every job stored
// a whole 2xx answer.
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "win/handles.h"

namespace {

constexpr DWORD kChunkSize = 10240;  // the file download's buffer
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr char kWindowClass[] = "UpdateRunReference";

struct Job {
  std::string url;
  std::string file;
};

struct InternetCloser {
  void operator()(HINTERNET handle) const noexcept { InternetCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

std::vector<Job> ReadJobs(const char* path) {
  std::vector<Job> jobs;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    jobs.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return jobs;
}

bool Fetch(const Job& job, std::vector<char>& buffer) {
  const UniqueInternet session(
      InternetOpenA("reference", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0));
  if (!session) return false;
  const UniqueInternet request(InternetOpenUrlA(session.get(), job.url.c_str(), nullptr, 0, kRequestFlags, 0));
  if (!request) return false;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
      status < 200 || status > 299) {
    return false;
  }
  const win::UniqueFile out(CreateFileA(job.file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) return false;
  DWORD read = 0;
  while (InternetReadFile(request.get(), buffer.data(), kChunkSize, &read)) {
    if (read == 0) return true;
    DWORD written = 0;
    if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) return false;
  }
  return false;
}

bool RunJobs(const std::vector<Job>& jobs, const char* done_file) {
  std::vector<char> buffer(kChunkSize);
  bool all = true;
  for (const Job& job : jobs) all = Fetch(job, buffer) && all;
  const win::UniqueFile done(
      CreateFileA(done_file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  WriteFile(done.get(), all ? "ok" : "failed", all ? 2 : 6, &written, nullptr);
  return all;
}

#ifdef REFERENCE_WITH_WINDOW

struct Work {
  std::vector<Job> jobs;
  const char* done_file;
  HWND window;
  bool all = false;
};

DWORD WINAPI Worker(void* parameter) {
  auto* work = static_cast<Work*>(parameter);
  work->all = RunJobs(work->jobs, work->done_file);
  PostMessageA(work->window, WM_CLOSE, 0, 0);
  return 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND AddControl(HWND parent, DWORD ex_style, const char* cls, DWORD style, int x, int y, int w, int h) {
  HWND control = CreateWindowExA(ex_style, cls, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent, nullptr,
                                 nullptr, nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return control;
}

// The updater's window as it looks while files download: size, style and controls.
HWND CreateReferenceWindow(HINSTANCE instance) {
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&window_class)) return nullptr;
  const int width = 308, height = 300;
  HWND window = CreateWindowExA(0, kWindowClass, "reference", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return nullptr;
  AddControl(window, 0, WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | WS_BORDER, 3, 7, 297, 100);
  HWND bar = AddControl(window, WS_EX_STATICEDGE, PROGRESS_CLASSA, 0, 7, 114, 289, 22);
  SendMessageA(bar, PBM_SETRANGE32, 0, 100);
  AddControl(window, 0, "EDIT", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 8, 143, 288, 98);
  AddControl(window, 0, STATUSCLASSNAMEA, CCS_BOTTOM, 0, 193, 299, 20);
  return window;
}

#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: update_run_reference <jobs file> <done file>\n");
    return 2;
  }
  const std::vector<Job> jobs = ReadJobs(argv[1]);
  if (jobs.empty()) return 2;
#ifdef REFERENCE_WITH_WINDOW
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  Work work{jobs, argv[2], CreateReferenceWindow(GetModuleHandleA(nullptr))};
  if (work.window == nullptr) return 2;
  ShowWindow(work.window, SW_SHOWNORMAL);
  UpdateWindow(work.window);
  const win::UniqueHandle worker(CreateThread(nullptr, 0, Worker, &work, 0, nullptr));
  if (!worker) return 2;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  WaitForSingleObject(worker.get(), INFINITE);
  return work.all ? 0 : 1;
#else
  return RunJobs(jobs, argv[2]) ? 0 : 1;
#endif
}

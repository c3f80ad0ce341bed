// UI probe for the end-to-end tests: finds a top-level window of another process by its class and
// prints its state, answers message boxes, and sends close or key messages.
//
//   uiprobe wait <class> <timeout_ms>         wait until a visible window of the class exists
//   uiprobe state <class>                     print the window and all its descendants
//   uiprobe msgbox <timeout_ms> [keep]        print the first message box shown, then press its button
//   uiprobe close <class>                     post WM_CLOSE
//   uiprobe key <class> <virtual key>         post a key press to the focused control of the window
//   uiprobe ping <class> <count> <gap_ms>     SendMessageTimeout(WM_NULL) latencies (microseconds)
//   uiprobe final <class> <timeout_ms>        wait for the window, then keep taking its state until it
//                                             goes; print the last state taken while it still stood
//   uiprobe watch <class> <id> <timeout_ms>   wait for the window, then print every text its control
//                                             <id> shows until the window goes ("text" lines)
//   uiprobe count <class>                     number of visible windows of the class
//   uiprobe children <class> <child class>    the direct children of the window's first descendant
//                                             of <child class>, rects relative to it
//   uiprobe resize <class> <child class> <w> <h>   resize that descendant, position kept
//   uiprobe settle <class> <timeout_ms>       minimise, then restore the window, each step posted
//                                             after the last took effect: every message posted to
//                                             its thread before has been handled when it returns
//   uiprobe resources <exe> <icon name>       the file's version numbers and that icon group's sizes
//
// Output is one "key<TAB>value" line per fact; "\", CR and LF in values are escaped as \\, \r, \n.
// Lists and status bars of another process answer only through memory inside that process.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// Where Print writes: standard output, or a snapshot being taken.
std::string* g_capture = nullptr;

void Print(const std::string& key, const std::string& value) {
  const std::string line = key + "\t" + Escape(value) + "\n";
  if (g_capture) {
    *g_capture += line;
  } else {
    std::fputs(line.c_str(), stdout);
  }
}

void Print(const std::string& key, long long value) { Print(key, std::to_string(value)); }

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right - r.left) + "," +
         std::to_string(r.bottom - r.top);
}

std::string Hex(unsigned long long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", value);
  return buffer;
}

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
  // Room to spare: the text may grow between the two messages, and a buffer sized for the old
  // one would cut the new one short.
  std::string text(length + 4096, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      2000, &copied);
  text.resize(copied);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A block of memory inside the process that owns a window.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool ok() const { return address_ != nullptr; }
  char* at(size_t offset) const { return static_cast<char*>(address_) + offset; }
  void Write(size_t offset, const void* data, size_t size) const {
    WriteProcessMemory(process_, at(offset), data, size, nullptr);
  }
  void Read(size_t offset, void* data, size_t size) const {
    ReadProcessMemory(process_, at(offset), data, size, nullptr);
  }
  std::string ReadText(size_t offset) const {
    std::vector<char> text(size_ - offset, '\0');
    Read(offset, text.data(), text.size());
    text.back() = '\0';
    return text.data();
  }

 private:
  size_t size_;
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
};

constexpr size_t kTextOffset = 256;
constexpr size_t kTextSize = 4096;

void PrintListView(const std::string& prefix, HWND list) {
  RemoteBuffer remote(list, kTextOffset + kTextSize);
  if (!remote.ok()) return;
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const int columns = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  Print(prefix + ".columns", columns);
  Print(prefix + ".style.ex", Hex(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)));
  for (int c = 0; c < columns; ++c) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = remote.at(kTextOffset);
    column.cchTextMax = kTextSize;
    remote.Write(0, &column, sizeof column);
    SendMessageA(list, LVM_GETCOLUMNA, c, reinterpret_cast<LPARAM>(remote.at(0)));
    remote.Read(0, &column, sizeof column);
    Print(prefix + ".column." + std::to_string(c) + ".text", remote.ReadText(kTextOffset));
    Print(prefix + ".column." + std::to_string(c) + ".width", column.cx);
  }
  const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  Print(prefix + ".rows", rows);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      LVITEMA item{};
      item.iSubItem = c;
      item.pszText = remote.at(kTextOffset);
      item.cchTextMax = kTextSize;
      remote.Write(0, &item, sizeof item);
      SendMessageA(list, LVM_GETITEMTEXTA, r, reinterpret_cast<LPARAM>(remote.at(0)));
      Print(prefix + ".row." + std::to_string(r) + "." + std::to_string(c), remote.ReadText(kTextOffset));
    }
  }
}

void PrintStatusBar(const std::string& prefix, HWND bar) {
  RemoteBuffer remote(bar, kTextOffset + kTextSize);
  if (!remote.ok()) return;
  const int parts = static_cast<int>(SendMessageA(bar, SB_GETPARTS, 64, reinterpret_cast<LPARAM>(remote.at(0))));
  int edges[64] = {};
  remote.Read(0, edges, sizeof edges);
  Print(prefix + ".parts", parts);
  for (int p = 0; p < parts && p < 64; ++p) {
    Print(prefix + ".part." + std::to_string(p) + ".right", edges[p]);
    SendMessageA(bar, SB_GETTEXTA, p, reinterpret_cast<LPARAM>(remote.at(kTextOffset)));
    Print(prefix + ".part." + std::to_string(p) + ".text", remote.ReadText(kTextOffset));
  }
}

void PrintControl(HWND parent, HWND control) {
  const int id = GetDlgCtrlID(control);
  const std::string prefix = "control." + std::to_string(id);
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  const std::string cls = ClassOf(control);
  Print(prefix + ".class", cls);
  Print(prefix + ".parent", GetDlgCtrlID(parent));
  Print(prefix + ".visible", (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) ? 1 : 0);
  Print(prefix + ".rect", RectText(rect));
  Print(prefix + ".style", Hex(static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE))));
  Print(prefix + ".exstyle", Hex(static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE))));
  if (lstrcmpiA(cls.c_str(), WC_LISTVIEWA) == 0) {
    PrintListView(prefix + ".list", control);
  } else if (lstrcmpiA(cls.c_str(), STATUSCLASSNAMEA) == 0) {
    PrintStatusBar(prefix + ".status", control);
  } else if (lstrcmpiA(cls.c_str(), PROGRESS_CLASSA) == 0) {
    Print(prefix + ".pos", SendMessageA(control, PBM_GETPOS, 0, 0));
    Print(prefix + ".range.low", SendMessageA(control, PBM_GETRANGE, TRUE, 0));
    Print(prefix + ".range.high", SendMessageA(control, PBM_GETRANGE, FALSE, 0));
  } else {
    Print(prefix + ".text", TextOf(control));
  }
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  PrintControl(GetParent(child), child);
  return TRUE;
}

void PrintWindow(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  RECT client{};
  GetClientRect(window, &client);
  Print("window.caption", TextOf(window));
  Print("window.class", ClassOf(window));
  Print("window.visible", IsWindowVisible(window) ? 1 : 0);
  Print("window.rect", RectText(rect));
  Print("window.client", RectText(client));
  Print("window.style", Hex(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE))));
  Print("window.exstyle", Hex(static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE))));
  Print("window.menu", GetMenu(window) ? 1 : 0);
  Print("window.icon.big", GetClassLongPtrA(window, GCLP_HICON) ? 1 : 0);
  Print("window.icon.small", GetClassLongPtrA(window, GCLP_HICONSM) ? 1 : 0);
  Print("screen.size", std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                           std::to_string(GetSystemMetrics(SM_CYSCREEN)));
  EnumChildWindows(window, PrintChild, 0);
}

HWND FindVisible(const char* cls) {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, cls, nullptr)) != nullptr) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND WaitVisible(const char* cls, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    if (HWND window = FindVisible(cls)) return window;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(20);
  }
}

BOOL CALLBACK PrintBoxPart(HWND child, LPARAM) {
  const std::string cls = ClassOf(child);
  const int id = GetDlgCtrlID(child);
  if (lstrcmpiA(cls.c_str(), "Static") == 0) {
    const DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    if ((style & SS_TYPEMASK) == SS_ICON) {
      Print("msgbox.icon", (style & WS_VISIBLE) && SendMessageA(child, STM_GETICON, 0, 0) ? 1 : 0);
    } else if (id == 0xFFFF) {
      Print("msgbox.text", TextOf(child));
    }
  } else if (lstrcmpiA(cls.c_str(), "Button") == 0 && (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) {
    Print("msgbox.button." + std::to_string(id), TextOf(child));
  }
  return TRUE;
}

int AnswerMessageBox(DWORD timeout_ms, bool press) {
  HWND box = WaitVisible("#32770", timeout_ms);
  if (box == nullptr) {
    Print("msgbox", "none");
    return 1;
  }
  Print("msgbox.caption", TextOf(box));
  Print("msgbox.owner", GetWindow(box, GW_OWNER) ? 1 : 0);
  Print("msgbox.topmost", (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
  EnumChildWindows(box, PrintBoxPart, 0);
  DWORD pid = 0;
  GetWindowThreadProcessId(box, &pid);
  Print("msgbox.pid", pid);
  if (press) {
    // The box's only button answers IDOK; a box with Cancel would take IDCANCEL as well.
    HWND button = GetDlgItem(box, IDOK);
    if (button == nullptr) button = GetDlgItem(box, IDCANCEL);
    if (button) SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount64() < deadline) Sleep(10);
  }
  return 0;
}

int Ping(HWND window, int count, int gap_ms) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<long long> micros;
  for (int i = 0; i < count && IsWindow(window); ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored)) break;
    QueryPerformanceCounter(&end);
    micros.push_back((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    Sleep(gap_ms);
  }
  Print("ping.count", static_cast<long long>(micros.size()));
  if (micros.empty()) return 1;
  std::sort(micros.begin(), micros.end());
  Print("ping.p50_us", micros[micros.size() / 2]);
  Print("ping.p99_us", micros[std::min(micros.size() - 1, micros.size() * 99 / 100)]);
  Print("ping.max_us", micros.back());
  return 0;
}

// Texts that live for less than a probe's start-up (a status line before the window closes) can
// only be seen by a watcher that is already polling when they appear.
int Watch(const char* cls, int id, DWORD timeout_ms) {
  HWND window = WaitVisible(cls, timeout_ms);
  if (window == nullptr) return 1;
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  std::string last;
  bool first = true;
  while (IsWindow(window) && GetTickCount64() < deadline) {
    HWND control = GetDlgItem(window, id);
    if (control != nullptr) {
      const std::string text = TextOf(control);
      if (!IsWindow(control)) break;  // the window went while we asked: that answer is not a text
      if (first || text != last) {
        Print("text", text);
        std::fflush(stdout);
        last = text;
        first = false;
      }
    }
    Sleep(2);
  }
  return 0;
}

int CountVisible(const char* cls) {
  int count = 0;
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, cls, nullptr)) != nullptr) {
    if (IsWindowVisible(window)) ++count;
  }
  Print("windows.count", count);
  return 0;
}

struct DescendantSearch {
  const char* cls;
  HWND found;
};

BOOL CALLBACK MatchDescendant(HWND child, LPARAM context) {
  auto* search = reinterpret_cast<DescendantSearch*>(context);
  if (lstrcmpiA(ClassOf(child).c_str(), search->cls) != 0) return TRUE;
  search->found = child;
  return FALSE;
}

HWND FindDescendant(HWND window, const char* cls) {
  DescendantSearch search{cls, nullptr};
  EnumChildWindows(window, MatchDescendant, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Children that share an identifier (0 for windows a hosted control makes) overwrite each other
// in "state"; here they are numbered in z-order instead.
int PrintChildren(const char* cls, const char* child_class) {
  HWND window = FindVisible(cls);
  HWND parent = window ? FindDescendant(window, child_class) : nullptr;
  if (parent == nullptr) return 1;
  int count = 0;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string prefix = "child." + std::to_string(count++);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    Print(prefix + ".class", ClassOf(child));
    Print(prefix + ".rect", RectText(rect));
    Print(prefix + ".visible", (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) ? 1 : 0);
  }
  Print("children", count);
  return 0;
}

int Resize(const char* cls, const char* child_class, int width, int height) {
  HWND window = FindVisible(cls);
  HWND target = window ? FindDescendant(window, child_class) : nullptr;
  if (target == nullptr) return 1;
  // Another thread's window: the move is sent to its thread and done when this returns.
  return SetWindowPos(target, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
}

// Posted messages reach a window procedure in the order posted, so a step that took effect shows
// that everything posted before it was handled; the restore after the minimise also covers what
// handling those messages posted in turn.
int Settle(const char* cls, DWORD timeout_ms) {
  HWND window = FindVisible(cls);
  if (window == nullptr) {
    Print("settle.window", "none");
    return 1;
  }
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (const bool minimise : {true, false}) {
    PostMessageA(window, WM_SYSCOMMAND, minimise ? SC_MINIMIZE : SC_RESTORE, 0);
    while (IsWindow(window) && (IsIconic(window) != FALSE) != minimise && GetTickCount64() < deadline) Sleep(10);
  }
  const bool open = IsWindow(window) && IsWindowVisible(window) && !IsIconic(window);
  Print("settle.window", IsWindow(window) ? (open ? "open" : "stuck") : "gone");
  return open ? 0 : 1;
}

std::string VersionText(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." + std::to_string(HIWORD(low)) +
         "." + std::to_string(LOWORD(low));
}

// Read from the file's resources directly: the window's icons cannot be asked for from another
// process here (class icons and WM_GETICON answer nothing across processes under Wine).
int PrintResources(const char* file, const char* icon_name) {
  HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return 1;
  if (HRSRC version = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION)) {
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, version)));
    const DWORD size = SizeofResource(module, version);
    for (DWORD offset = 0; data && offset + sizeof(VS_FIXEDFILEINFO) <= size; offset += 4) {
      VS_FIXEDFILEINFO fixed;
      std::memcpy(&fixed, data + offset, sizeof fixed);
      if (fixed.dwSignature != 0xFEEF04BD) continue;
      Print("version.file", VersionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS));
      Print("version.product", VersionText(fixed.dwProductVersionMS, fixed.dwProductVersionLS));
      break;
    }
  }
  if (HRSRC group = FindResourceA(module, icon_name, RT_GROUP_ICON)) {
    // GRPICONDIR: three WORDs, then 14-byte entries starting with width and height (0 means 256).
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const DWORD size = SizeofResource(module, group);
    std::string sizes;
    const int count = data && size >= 6 ? data[4] | (data[5] << 8) : 0;
    for (int i = 0; i < count && 6u + 14u * (i + 1) <= size; ++i) {
      const BYTE* entry = data + 6 + 14 * i;
      if (!sizes.empty()) sizes += ",";
      sizes += std::to_string(entry[0] ? entry[0] : 256) + "x" + std::to_string(entry[1] ? entry[1] : 256);
    }
    Print("icon.sizes", sizes);
  }
  FreeLibrary(module);
  return 0;
}

// The state a window ends with lasts only until it is destroyed, maybe a moment: keep taking
// snapshots and keep the last one that was complete before the window went.
int Final(const char* cls, DWORD timeout_ms) {
  HWND window = WaitVisible(cls, timeout_ms);
  if (window == nullptr) return 1;
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  std::string last;
  while (GetTickCount64() < deadline) {
    std::string snapshot;
    g_capture = &snapshot;
    PrintWindow(window);
    g_capture = nullptr;
    if (!IsWindow(window) || !IsWindowVisible(window)) break;
    last = std::move(snapshot);
    Sleep(5);
  }
  std::fputs(last.c_str(), stdout);
  return last.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  int status = 2;
  if (command == "wait" && argc == 4) {
    HWND window = WaitVisible(argv[2], std::strtoul(argv[3], nullptr, 10));
    if (window) Print("hwnd", Hex(reinterpret_cast<ULONG_PTR>(window)));
    status = window ? 0 : 1;
  } else if (command == "final" && argc == 4) {
    status = Final(argv[2], std::strtoul(argv[3], nullptr, 10));
  } else if (command == "state" && argc == 3) {
    HWND window = FindVisible(argv[2]);
    if (window) PrintWindow(window);
    status = window ? 0 : 1;
  } else if (command == "msgbox" && argc >= 3) {
    status = AnswerMessageBox(std::strtoul(argv[2], nullptr, 10), argc < 4);
  } else if (command == "close" && argc == 3) {
    HWND window = FindVisible(argv[2]);
    status = window && PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
  } else if (command == "key" && argc == 4) {
    HWND window = FindVisible(argv[2]);
    if (window) {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
      HWND target = info.hwndFocus ? info.hwndFocus : window;
      const WPARAM key = std::strtoul(argv[3], nullptr, 0);
      PostMessageA(target, WM_KEYDOWN, key, 1);
      PostMessageA(target, WM_KEYUP, key, 0xC0000001);
      Print("key.target", ClassOf(target));
    }
    status = window ? 0 : 1;
  } else if (command == "watch" && argc == 5) {
    status = Watch(argv[2], std::atoi(argv[3]), std::strtoul(argv[4], nullptr, 10));
  } else if (command == "count" && argc == 3) {
    status = CountVisible(argv[2]);
  } else if (command == "children" && argc == 4) {
    status = PrintChildren(argv[2], argv[3]);
  } else if (command == "resize" && argc == 6) {
    status = Resize(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
  } else if (command == "settle" && argc == 4) {
    status = Settle(argv[2], std::strtoul(argv[3], nullptr, 10));
  } else if (command == "resources" && argc == 4) {
    status = PrintResources(argv[2], argv[3]);
  } else if (command == "ping" && argc == 5) {
    HWND window = FindVisible(argv[2]);
    status = window ? Ping(window, std::atoi(argv[3]), std::atoi(argv[4])) : 1;
  }
  std::fflush(stdout);
  return status;
}

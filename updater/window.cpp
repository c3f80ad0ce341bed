#include "updater/window.h"

#include <commctrl.h>

#include <array>
#include <atomic>
#include <string>

#include "core/names.h"
#include "core/path.h"
#include "core/texts.h"
#include "core/progress.h"
#include "updater/control_ids.h"
#include "updater/download.h"
#include "updater/internet.h"
#include "updater/messages.h"
#include "updater/state.h"
#include "updater/worker.h"
#include "win/skin.h"

namespace updater {
namespace {

constexpr int kWindowWidth = 308;
constexpr int kWindowHeight = 300;
constexpr int kCompactHeight = 65;
constexpr int kStatusPartWidth = 100;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// How long the window's thread waits for a stopping worker before it gives up on it.
constexpr DWORD kWorkerStopWaitMs = 1500;
// A download reports every 10 KB, thousands of times a second. Drawing each report kept this
// thread painting the bar, the status bar and the list without pause, and under Wine every paint
// competes with the download for the same server and processors: the display took as much
// processor time as the whole download of 200 MB, which then took nearly twice as long on a quiet
// machine (bench/update_run_bench.sh). So after a progress has been drawn the queue rests this
// long; the reports meanwhile coalesce in it, and the latest values are drawn at the next turn.
// 20 times a second is as smooth as a progress display needs to be.
constexpr DWORD kProgressRedrawMs = 50;
// Wakes the window for the queue's next turn; apart from the finishing timer.
constexpr UINT_PTR kDrainTimerId = kFinishTimerId + 1;

// Read by the worker's wake-up, written by the window's thread.
std::atomic<HWND> g_window{nullptr};
DWORD g_progress_drawn_at = 0;
bool g_progress_drawn = false;
bool g_drain_timer_armed = false;

struct ColumnSpec {
  const char* title;
  int width;
};
constexpr std::array<ColumnSpec, 4> kColumns = {{
    {texts::kColumnVersion, 80},
    {texts::kColumnName, 150},
    {texts::kColumnProgress, 50},
    {texts::kColumnFolder, 0},
}};
constexpr std::array<const char*, 3> kStatusBarInitial = {
    texts::kStatusBarDownloaded, texts::kStatusBarRate, texts::kStatusBarTotal};

HWND Child(int id) { return GetDlgItem(g_window, id); }

HWND ControlWindow(ui::Control control) {
  switch (control) {
    case ui::Control::StatusLine: return Child(kIdStatusLine);
    case ui::Control::FileList: return Child(kIdFileList);
    case ui::Control::ProgressBar: return Child(kIdProgressBar);
    case ui::Control::Notes: return Child(kIdNotes);
    case ui::Control::StatusBar: return Child(kIdStatusBar);
    case ui::Control::StateLabel: return Child(kIdStateLabel);
  }
  return nullptr;
}

HWND AddControl(HWND parent, DWORD ex_style, const char* cls, const char* text, DWORD style, int x, int y,
                int w, int h, int id) {
  HWND control = CreateWindowExA(ex_style, cls, text, WS_CHILD | style, x, y, w, h, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return control;
}

void CreateControls(HWND window) {
  AddControl(window, 0, "STATIC", texts::kStatusLineInitial, WS_VISIBLE | SS_LEFT, 7, 7, 289, 24, kIdStatusLine);

  // Header shown and clickable, rows kept in insertion order (no sort style).
  HWND list = AddControl(window, 0, WC_LISTVIEWA, "", LVS_REPORT | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP, 3, 7,
                         297, 100, kIdFileList);
  ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  ListView_SetTextColor(list, RGB(0, 0, 0));
  ListView_SetTextBkColor(list, RGB(255, 255, 255));
  ListView_SetBkColor(list, RGB(255, 255, 255));
  for (int i = 0; i < static_cast<int>(kColumns.size()); ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(kColumns[i].title);
    column.cx = kColumns[i].width;
    column.iSubItem = i;
    SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
  }

  // No smooth style: the bar is drawn in segments.
  HWND bar = AddControl(window, WS_EX_STATICEDGE, PROGRESS_CLASSA, "", 0, 7, 114, 289, 22, kIdProgressBar);
  SendMessageA(bar, PBM_SETRANGE32, 0, 100);
  SendMessageA(bar, PBM_SETPOS, 0, 0);

  HWND notes = AddControl(window, 0, "EDIT", "",
                          WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 8, 143,
                          288, 98, kIdNotes);
  SendMessageA(notes, EM_SETLIMITTEXT, 0, 0);  // 0 lifts the 32 KB default: notes have no limit

  HWND status = AddControl(window, 0, STATUSCLASSNAMEA, "", SBARS_TOOLTIPS | CCS_BOTTOM, 0, 193, 299, 20,
                           kIdStatusBar);
  const int edges[] = {kStatusPartWidth, 2 * kStatusPartWidth, 3 * kStatusPartWidth};
  SendMessageA(status, SB_SETPARTS, std::size(edges), reinterpret_cast<LPARAM>(edges));
  for (int i = 0; i < static_cast<int>(kStatusBarInitial.size()); ++i) {
    SendMessageA(status, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(kStatusBarInitial[i]));
  }

  AddControl(window, 0, "STATIC", texts::kStateLabel, SS_LEFT, 328, 57, 288, 20, kIdStateLabel);
}

void AppendRow(const ui::AppendRow& row) {
  HWND list = Child(kIdFileList);
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<char*>(row.version.c_str());
  const int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (index < 0) return;
  ListView_SetItemText(list, index, 1, const_cast<char*>(row.name.c_str()));
  ListView_SetItemText(list, index, 3, const_cast<char*>(row.folder.c_str()));
}

void ShowProgress(const ui::Progress& values) {
  const progress::Display shown = progress::Describe(values.total, values.received, values.elapsed, values.new_bytes);
  HWND status = Child(kIdStatusBar);
  SendMessageA(status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(shown.size.c_str()));
  SendMessageA(status, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(shown.received.c_str()));
  SendMessageA(status, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>(shown.speed.c_str()));
  // The bar limits what it draws to its range; the cell shows the position as kept, which may
  // pass 100 when a server sends more than it announced.
  SendMessageA(Child(kIdProgressBar), PBM_SETPOS, shown.position, 0);
  ListView_SetItemText(Child(kIdFileList), values.row, 2, const_cast<char*>(shown.percent.c_str()));
}

void SetWindowHeight(int height) {
  RECT rect{};
  GetWindowRect(g_window, &rect);
  SetWindowPos(g_window, nullptr, 0, 0, rect.right - rect.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ApplyCommand(const ui::Command& command) {
  if (const auto* text = std::get_if<ui::SetText>(&command)) {
    SetWindowTextA(ControlWindow(text->control), text->text.c_str());
  } else if (const auto* visible = std::get_if<ui::SetVisible>(&command)) {
    ShowWindow(ControlWindow(visible->control), visible->visible ? SW_SHOW : SW_HIDE);
  } else if (const auto* height = std::get_if<ui::SetWindowHeight>(&command)) {
    SetWindowHeight(height->height);
  } else if (const auto* row = std::get_if<ui::AppendRow>(&command)) {
    AppendRow(*row);
  } else if (const auto* progress = std::get_if<ui::Progress>(&command)) {
    ShowProgress(*progress);
  } else if (const auto* timer = std::get_if<ui::SetTimerPeriod>(&command)) {
    if (timer->period_ms == 0) {
      KillTimer(g_window, kFinishTimerId);
    } else {
      SetTimer(g_window, kFinishTimerId, timer->period_ms, nullptr);
    }
  }
}

// Applies what the worker queued, except that within kProgressRedrawMs of the last progress drawn
// it only arms the timer for the next turn. Nothing queued is lost meanwhile: the queue does not
// wake the window again while it holds something, and the last progress of every row still shows.
void DrainCommands(HWND window) {
  const DWORD since = GetTickCount() - g_progress_drawn_at;
  if (g_progress_drawn && since < kProgressRedrawMs) {
    if (g_drain_timer_armed) return;
    g_drain_timer_armed = SetTimer(window, kDrainTimerId, kProgressRedrawMs - since, nullptr) != 0;
    if (g_drain_timer_armed) return;  // without a timer, now rather than never
  }
  if (g_drain_timer_armed) {
    KillTimer(window, kDrainTimerId);
    g_drain_timer_armed = false;
  }
  bool progress_drawn = false;
  for (const auto& command : Commands().TakeAll()) {
    progress_drawn = progress_drawn || std::holds_alternative<ui::Progress>(command);
    ApplyCommand(command);
  }
  if (progress_drawn) {
    g_progress_drawn = true;
    g_progress_drawn_at = GetTickCount();
  }
}

void StartMainApplication() {
  // The application name is given in full and the command line quoted: with an unquoted line
  // under "C:\Program Files\..." the process start would try "C:\Program.exe" first.
  const std::string application = path::Join(State().run_directory, names::kMainApplication);
  std::string command_line = "\"" + application + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return;
  }
  WaitForInputIdle(process.hProcess, 1000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void OnFinishTimer(HWND window) {
  if (WaitForSingleObject(State().worker, INFINITE) == WAIT_FAILED) return;  // try again next tick
  KillTimer(window, kFinishTimerId);
  StartMainApplication();
  DestroyWindow(window);
}

// Runs while the window is created, before it is shown.
bool OnCreated(HWND window) {
  RunState& state = State();
  win::AttachSkinOrDie(state.run_directory, path::Join(state.run_directory, names::kSkinFile));
  state.version_record = win::ReadVersionRecord(path::Join(state.run_directory, state.executable_name));
  state.version_text = " V" + state.version_record.texts[win::VersionRecord::kFileVersion];
  SetWindowTextA(window, texts::kUpdaterCaption);
  SetWindowHeight(kCompactHeight);
  WritePrivateProfileStringA(names::kConfigSection, names::kConfigVersionKey, state.version_text.c_str(),
                             path::Join(state.run_directory, names::kConfigFile).c_str());
  state.worker = CreateThread(nullptr, 0, WorkerMain, nullptr, 0, nullptr);
  return state.worker != nullptr;
}

// The worker is asked to stop and given a moment; one that does not end in time is stuck where
// it cannot be reached (a message box of its own), and the process ends at once rather than
// killing a thread that may hold a runtime lock.
void StopWorker() {
  RunState& state = State();
  state.stop_requested = true;
  AbortInternetTransfers();
  if (state.worker == nullptr) return;
  if (WaitForSingleObject(state.worker, kWorkerStopWaitMs) == WAIT_TIMEOUT) {
    TerminateProcess(GetCurrentProcess(), 0);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_CREATE:
      g_window = window;
      CreateControls(window);
      return OnCreated(window) ? 0 : -1;
    case WM_SIZE:
      SendMessageA(Child(kIdStatusBar), WM_SIZE, 0, 0);  // the status bar docks itself to the bottom
      return 0;
    case kMsgDrainCommands:
      DrainCommands(window);
      return 0;
    case WM_TIMER:
      if (wparam == kFinishTimerId) OnFinishTimer(window);
      if (wparam == kDrainTimerId) DrainCommands(window);
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only notes box keeps a white background like an editable one.
      if (reinterpret_cast<HWND>(lparam) == Child(kIdNotes)) {
        SetBkColor(reinterpret_cast<HDC>(wparam), RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
      }
      break;
    case WM_DESTROY:
      StopWorker();
      CloseDownloadFile();
      g_window = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

RunState& State() {
  static RunState state;
  return state;
}

ui::CommandQueue& Commands() {
  static ui::CommandQueue queue([] {
    if (HWND window = g_window.load()) PostMessageA(window, kMsgDrainCommands, 0, 0);
  });
  return queue;
}

HWND CreateMainWindow(HINSTANCE instance) {
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&window_class)) return nullptr;

  const int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  return CreateWindowExA(0, kWindowClass, "", kWindowStyle, left, top, kWindowWidth, kWindowHeight, nullptr,
                         nullptr, instance, nullptr);
}

}  // namespace updater

// What the updater's worker asks of its window. The worker never touches a control itself: it
// queues commands here and the window's thread applies them, in order, when it is woken.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <variant>

namespace ui {

enum class Control { StatusLine, FileList, ProgressBar, Notes, StatusBar, StateLabel };

struct SetText {
  Control control;
  std::string text;
};
struct SetVisible {
  Control control;
  bool visible;
};
struct SetWindowHeight {
  int height;
};
struct AppendRow {
  std::string version;
  std::string name;
  std::string folder;
};
// One chunk's progress of the download into list row `row`.
struct Progress {
  int row;
  std::int32_t total;
  std::int32_t received;
  std::int32_t elapsed;
  std::int32_t new_bytes;
};
struct SetTimerPeriod {
  unsigned period_ms;  // 0 stops the timer
};

using Command = std::variant<SetText, SetVisible, SetWindowHeight, AppendRow, Progress, SetTimerPeriod>;

// Thread-safe FIFO between the worker and the window. A download reports every 10 KB, far more
// often than a window can repaint, so a progress command that follows another progress command
// of the same row replaces it while the window has not taken it yet: the latest values win and
// the last values of a row are always the ones shown.
class CommandQueue {
 public:
  // `wake` runs on the pushing thread whenever the queue turns non-empty; the window posts itself
  // a message there. It must not call back into the queue.
  explicit CommandQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

  CommandQueue(const CommandQueue&) = delete;
  CommandQueue& operator=(const CommandQueue&) = delete;

  void Push(Command command);

  // Everything queued so far, oldest first; the queue is left empty.
  std::deque<Command> TakeAll();

 private:
  std::function<void()> wake_;
  std::mutex mutex_;
  std::deque<Command> pending_;
};

}  // namespace ui

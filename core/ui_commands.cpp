#include "core/ui_commands.h"

namespace ui {

void CommandQueue::Push(Command command) {
  bool was_empty = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_.empty()) {
      auto* queued = std::get_if<Progress>(&pending_.back());
      const auto* incoming = std::get_if<Progress>(&command);
      if (queued != nullptr && incoming != nullptr && queued->row == incoming->row) {
        *queued = *incoming;
        return;
      }
    }
    was_empty = pending_.empty();
    pending_.push_back(std::move(command));
  }
  if (was_empty && wake_) wake_();
}

std::deque<Command> CommandQueue::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(pending_, {});
}

}  // namespace ui

#include "core/ui_commands.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

ui::Progress ProgressOf(int row, std::int32_t received) { return {row, 1000, received, 10, received}; }

TEST(CommandQueue, WakesOnceUntilTheWindowTakesTheBatch) {
  int wakes = 0;
  ui::CommandQueue queue([&] { ++wakes; });
  queue.Push(ui::SetText{ui::Control::StatusLine, "a"});
  queue.Push(ui::SetVisible{ui::Control::FileList, true});
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(queue.TakeAll().size(), 2u);
  queue.Push(ui::SetTimerPeriod{1000});
  EXPECT_EQ(wakes, 2);
}

// Progress of one row coalesces, but never across another command or another row: the final
// percentage of row 0 must survive the first chunk of row 1.
TEST(CommandQueue, CoalescesProgressOfTheSameRowOnly) {
  ui::CommandQueue queue([] {});
  queue.Push(ProgressOf(0, 10));
  queue.Push(ProgressOf(0, 20));
  queue.Push(ProgressOf(0, 1000));
  queue.Push(ProgressOf(1, 5));
  queue.Push(ui::SetText{ui::Control::StatusLine, "x"});
  queue.Push(ProgressOf(1, 6));
  const auto taken = queue.TakeAll();
  ASSERT_EQ(taken.size(), 4u);
  EXPECT_EQ(std::get<ui::Progress>(taken[0]).received, 1000);
  EXPECT_EQ(std::get<ui::Progress>(taken[1]).row, 1);
  EXPECT_EQ(std::get<ui::Progress>(taken[1]).received, 5);
  EXPECT_TRUE(std::holds_alternative<ui::SetText>(taken[2]));
  EXPECT_EQ(std::get<ui::Progress>(taken[3]).received, 6);
}

// The worker pushes while the window drains: nothing is lost or reordered, and the last progress
// pushed is the last one the window sees.
TEST(CommandQueue, KeepsOrderAcrossThreads) {
  ui::CommandQueue queue([] {});
  constexpr int kRows = 50;
  constexpr int kChunks = 200;
  std::thread worker([&] {
    for (int row = 0; row < kRows; ++row) {
      queue.Push(ui::AppendRow{"v", std::to_string(row), ""});
      for (int chunk = 1; chunk <= kChunks; ++chunk) queue.Push(ProgressOf(row, chunk));
    }
    queue.Push(ui::SetTimerPeriod{1000});
  });
  std::vector<ui::Command> seen;
  bool done = false;
  while (!done) {
    for (auto& command : queue.TakeAll()) {
      done = std::holds_alternative<ui::SetTimerPeriod>(command);
      seen.push_back(std::move(command));
    }
  }
  worker.join();
  int row = -1;
  std::int32_t last = 0;
  for (const auto& command : seen) {
    if (const auto* added = std::get_if<ui::AppendRow>(&command)) {
      if (row >= 0) {
        EXPECT_EQ(last, kChunks) << "row " << row;
      }
      EXPECT_EQ(added->name, std::to_string(row + 1));
      ++row;
      last = 0;
    } else if (const auto* progress = std::get_if<ui::Progress>(&command)) {
      EXPECT_EQ(progress->row, row);
      EXPECT_GT(progress->received, last);
      last = progress->received;
    }
  }
  EXPECT_EQ(row, kRows - 1);
  EXPECT_EQ(last, kChunks);
}

}  // namespace

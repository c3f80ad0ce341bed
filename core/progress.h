// What the updater shows while a file downloads: the three status bar parts, the progress bar
// position and the percentage in the file's row, all derived from one progress report.
#pragma once

#include <cstdint>
#include <string>

namespace progress {

// The progress bar keeps its position as a 16-bit signed value clamped to this range (it then
// draws it limited to 0..100); the percentage cell shows the kept value, not the drawn one.
inline constexpr int kPositionMin = 0;
inline constexpr int kPositionMax = 32767;

struct Display {
  std::string size;      // status bar part 0: texts::kSizePrefix + total in KB + texts::kKilobytes
  std::string received;  // status bar part 1: texts::kReceivedPrefix + KB + texts::kKilobytes
  std::string speed;     // status bar part 2: texts::kSpeedPrefix + KB/s + texts::kKilobytesPerSecond
  int position = 0;      // progress bar position as kept, kPositionMin..kPositionMax
  std::string percent;   // the row's progress cell: position in decimal + texts::kPercent
};

// One progress report of a download, as the file download passes it: total is the announced
// length (0 when unknown), received the low 32 bits of the byte count so far, elapsed_ms the time
// since the first read, new_bytes the bytes received by this download call.
Display Describe(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms,
                 std::int32_t new_bytes);

// x rounded to two decimals, halves away from zero; a magnitude within 1e-12 below a half counts
// as the half. Never returns a negative zero. Infinities and NaN come back unchanged.
double RoundTo2Decimals(double x);

// The largest integer not above x, except that a positive x within 1e-12 below the next integer
// counts as that integer (so 0.29 * 100 is 29). Infinities and NaN come back unchanged.
double Whole(double x);

// x as printf's "%.13g" writes it in the C locale; NaN is "nan" whatever its sign bit.
std::string Number(double x);

// The bar position kept for a percentage: Whole(percent) clamped to the position range, and
// kPositionMin for an infinite or NaN percentage.
int KeptPosition(double percent);

}  // namespace progress

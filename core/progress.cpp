#include "core/progress.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "core/texts.h"

namespace progress {

namespace {

// Tolerance for values that should land on a half or a whole number but miss it by a few units in
// the last place: 0.29 * 100 is 28.999999999999996 in double, and 1.005 is stored just below 1.005.
constexpr double kTolerance = 1e-12;

// a / b with the IEEE result for a zero b (infinity with the sign of a, NaN for 0 / 0), spelled
// out because dividing by zero is undefined behaviour in C++ even where the hardware defines it.
// A zero total is normal (no Content-Length); a zero elapsed time the download never reports.
double Quotient(double a, std::int32_t b) {
  if (b != 0) return a / b;
  if (a == 0) return std::numeric_limits<double>::quiet_NaN();
  return std::copysign(std::numeric_limits<double>::infinity(), a);
}

}  // namespace

double RoundTo2Decimals(double x) {
  if (!std::isfinite(x)) return x;
  const double scaled = std::fabs(x) * 100 + kTolerance;
  double units = std::floor(scaled);
  // Exact: scaled and its floor are within a factor of two of each other once scaled >= 1.
  if (scaled - units >= 0.5) units += 1;
  // Sizes and speeds of a few bytes below zero (wrapped 32-bit counts, a tick count going
  // backwards) round to nothing; "-0KB" would only look like a fault to the user, and a zero has
  // no sign worth restoring, so it is always the positive zero.
  if (units == 0) return 0.0;
  return std::copysign(units / 100, x);
}

double Whole(double x) {
  if (!std::isfinite(x)) return x;
  const double below = std::floor(x);
  // Below zero the floor already is the integer away from zero, so only positive x get the
  // tolerance. For x >= 0.5 the subtraction is exact; smaller x cannot be within it of 1.
  if (x > 0 && below + 1 - x <= kTolerance) return below + 1;
  return below;
}

std::string Number(double x) {
  if (std::isnan(x)) return "nan";
  // to_chars is specified as printf's "%.13g" but, unlike the printf of the Windows C runtime,
  // writes two-digit exponents and "inf", and ignores the locale's decimal point.
  char text[32];  // the longest "%.13g" output, "-1.234567890123e-308", has 20 characters
  const auto result = std::to_chars(text, text + sizeof text, x, std::chars_format::general, 13);
  return std::string(text, result.ptr);
}

int KeptPosition(double percent) {
  if (!std::isfinite(percent)) return kPositionMin;
  const double whole = Whole(percent);
  // Compare as double first: a percentage of a wrapped count can be far outside int's range.
  if (whole <= kPositionMin) return kPositionMin;
  if (whole >= kPositionMax) return kPositionMax;
  return static_cast<int>(whole);
}

Display Describe(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms,
                 std::int32_t new_bytes) {
  const auto kilobytes = [](double bytes) { return Number(RoundTo2Decimals(bytes / 1024)); };
  const double speed = Quotient(static_cast<double>(new_bytes) * 1000 / 1024, elapsed_ms);
  const double percent = Quotient(received, total) * 100;

  Display display;
  display.size = std::string(texts::kSizePrefix) + kilobytes(total) + texts::kKilobytes;
  display.received = std::string(texts::kReceivedPrefix) + kilobytes(received) + texts::kKilobytes;
  display.speed = std::string(texts::kSpeedPrefix) + Number(RoundTo2Decimals(speed)) +
                  texts::kKilobytesPerSecond;
  display.position = KeptPosition(percent);
  display.percent = std::to_string(display.position) + texts::kPercent;
  return display;
}

}  // namespace progress

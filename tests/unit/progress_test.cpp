#include "core/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "core/texts.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ReportCase {
  const char* why;
  std::int32_t total, received, elapsed_ms, new_bytes;
  const char* size;      // number shown before "KB"
  const char* received_kb;
  const char* speed;     // number shown before "KB/s"
  int position;
};

// Expected numbers worked out by hand from the byte counts (n / 1024 in exact binary, then two
// decimals with halves going up), not by running the same double arithmetic again.
TEST(Progress, DescribesEachReport) {
  const ReportCase cases[] = {
      {"half of a 1 MB file in a second", 1048576, 524288, 1000, 524288, "1024", "512", "512", 50},
      {"no decimal point, no trailing zeros", 2048, 1536, 1000, 1536, "2", "1.5", "1.5", 75},
      {"total 0: infinite percentage", 0, 4096, 250, 4096, "0", "4", "16", 0},
      {"total 0 before any byte: 0 / 0", 0, 0, 10, 0, "0", "0", "0", 0},
      {"total below received", 200, 300, 10, 300, "0.2", "0.29", "29.3", 150},
      // 29 / 100 * 100 is 28.999999999999996 in double; a plain floor would show 28%.
      {"percentage a hair below a whole", 100, 29, 1, 29, "0.1", "0.03", "28.32", 29},
      {"percentage is cut, not rounded", 3, 2, 1000, 2, "0", "0", "0", 66},
      // 128 / 1024 = 0.125 exactly; printf("%.2f") would round that half to even, 0.12.
      {"exact half .125 goes up", 1024, 128, 1000, 128, "1", "0.13", "0.13", 12},
      {"exact half .625 goes up", 1024, 640, 1000, 640, "1", "0.63", "0.63", 62},
      {"1029 B = 1.0048828125 KB, below the half", 2048, 1029, 1000, 1029, "2", "1", "1", 50},
      {"1030 B = 1.005859375 KB, above the half", 2048, 1030, 1000, 1030, "2", "1.01", "1.01", 50},
      // 3216000 / 1024 / 3125 is 1.005 exactly, stored as 1.00499999999999989: still a half.
      {"speed of 1.005 stored just below", 3216, 3216, 3125, 3216, "3.14", "3.14", "1.01", 100},
      {"wrapped received of -1: no -0", 1000, -1, 10, -1, "0.98", "0", "-0.1", 0},
      {"received wrapped to INT32_MIN", kMax, kMin, 1000, kMin, "2097152", "-2097152", "-2097152", 0},
      {"total and received both wrapped", -2048, -1024, 1000, -1024, "-2", "-1", "-1", 50},
      {"total wrapped, received not", -1, 5, 10, 5, "0", "0", "0.49", 0},
      {"INT32_MAX bytes in 1 ms: 13 digits", 1, kMax, 1, kMax, "0", "2097152", "2097151999.02", 32767},
      // 2147483632000 / 1024 = 2097151984.375: at this size 1e-12 is below one ulp, the half itself
      // has to go up.
      {"exact half too large for the 1e-12", 1, 1, 1, 2147483632, "0", "0", "2097151984.38", 100},
      {"tick count going backwards", 1, kMax, -1, kMax, "0", "2097152", "-2097151999.02", 32767},
      {"INT32_MIN of INT32_MIN", kMin, kMin, 1, 0, "-2097152", "-2097152", "0", 100},
      {"just below the clamp", 100000, 32766990, 1000, 1024, "97.66", "31999.01", "1", 32766},
      {"32767.99 is kept as 32767", 100000, 32767990, 1000, 1024, "97.66", "31999.99", "1", 32767},
      {"32768 is clamped", 100, 32768, 1000, 1024, "0.1", "32", "1", 32767},
      {"nothing new over negative time: no -0", 1024, 0, -5, 0, "1", "0", "0", 0},
      {"elapsed 0 (never reported)", 1024, 512, 0, 512, "1", "0.5", "inf", 50},
      {"elapsed 0, bytes going backwards", 1024, 512, 0, -512, "1", "0.5", "-inf", 50},
      {"elapsed 0 and nothing new", 1024, 512, 0, 0, "1", "0.5", "nan", 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const progress::Display d = progress::Describe(c.total, c.received, c.elapsed_ms, c.new_bytes);
    EXPECT_EQ(d.size, std::string(texts::kSizePrefix) + c.size + texts::kKilobytes);
    EXPECT_EQ(d.received, std::string(texts::kReceivedPrefix) + c.received_kb + texts::kKilobytes);
    EXPECT_EQ(d.speed, std::string(texts::kSpeedPrefix) + c.speed + texts::kKilobytesPerSecond);
    EXPECT_EQ(d.position, c.position);
    EXPECT_EQ(d.percent, std::to_string(c.position) + "%");
  }
}

TEST(Progress, RoundsHalvesAwayFromZeroAndNeverToNegativeZero) {
  const struct {
    double x, rounded;
  } cases[] = {
      {2.675, 2.68},   // stored as 2.67499999999999982
      {-2.675, -2.68},
      {1.005, 1.01},   // stored as 1.00499999999999989
      {0.125, 0.13},
      {0.12499999, 0.12},
      {0.0149, 0.01},
      {2097151.9990234375, 2097152},
      {-0.004, 0},
      {0, 0},
      {kInf, kInf},
      {-kInf, -kInf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    const double rounded = progress::RoundTo2Decimals(c.x);
    EXPECT_EQ(rounded, c.rounded);
    EXPECT_EQ(std::signbit(rounded), std::signbit(c.rounded));
  }
  EXPECT_TRUE(std::isnan(progress::RoundTo2Decimals(kNaN)));
}

TEST(Progress, WholeForgivesOnlyTinyShortfalls) {
  const struct {
    double x, whole;
  } cases[] = {
      {0.29 * 100, 29},  // 28.999999999999996
      {5 - 1e-13, 5},
      {5 - 1e-11, 4},
      {66.66, 66},
      {150, 150},
      {0.5, 0},
      {-0.5, -1},
      {-2.0000000000001, -3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(progress::Whole(c.x), c.whole);
  }
}

TEST(Progress, KeepsPositionsInTheBarsRange) {
  const struct {
    double percent;
    int kept;
  } cases[] = {
      {kNaN, 0}, {kInf, 0}, {-kInf, 0},     {-0.5, 0},        {-1e300, 0},
      {1e300, 32767}, {32767.999, 32767}, {99.99999999999999, 100}, {100.5, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    EXPECT_EQ(progress::KeptPosition(c.percent), c.kept);
  }
}

TEST(Progress, NumbersLookLikePrintfPercent13g) {
  const struct {
    double x;
    const char* text;
  } cases[] = {
      {0, "0"},
      {100, "100"},
      {2.5, "2.5"},
      {0.1 + 0.2, "0.3"},  // 0.30000000000000004 has more than 13 significant digits
      {-2097151999.02, "-2097151999.02"},
      {1234567890123, "1234567890123"},
      {12345678901234, "1.234567890123e+13"},
      {1e20, "1e+20"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {kInf, "inf"},
      {-kInf, "-inf"},
      {kNaN, "nan"},
      {-kNaN, "nan"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(progress::Number(c.x), c.text);
  }
}

}  // namespace

#include "core/download_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/names.h"

namespace {

TEST(DownloadRules, AutomaticProxyDiscoveryOnlyWithoutAConfiguredProxy) {
  struct Case {
    std::uint32_t flags;
    std::uint32_t access;
  };
  const Case cases[] = {
      {0, download::kAccessPreconfigNoAutoproxy},
      {1, download::kAccessPreconfigNoAutoproxy},  // modem
      {2, download::kAccessPreconfigNoAutoproxy},  // LAN
      {4, download::kAccessPreconfig},             // proxy
      {2 | 4, download::kAccessPreconfig},
      {0x20 | 0x40, download::kAccessPreconfigNoAutoproxy},  // offline, configured
      {0xFFFFFFFFu, download::kAccessPreconfig},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(download::AccessTypeFor(c.flags), c.access);
  }
}

TEST(DownloadRules, AgentIsThePrefixAndTheTickCount) {
  EXPECT_EQ(download::AgentFor(0), "Agent0");
  EXPECT_EQ(download::AgentFor(123456), "Agent123456");
  EXPECT_EQ(download::AgentFor(4294967295u), "Agent4294967295");  // the tick count wraps unsigned
}

TEST(DownloadRules, RangeLineOnlyWhenResuming) {
  const std::string block = names::kDownloadHeaders;
  EXPECT_EQ(download::RequestHeaders(false, 0), block);
  EXPECT_EQ(download::RequestHeaders(false, 5000), block);
  EXPECT_EQ(download::RequestHeaders(true, 0), block + "\r\nRange:bytes=0-");
  EXPECT_EQ(download::RequestHeaders(true, 5000), block + "\r\nRange:bytes=5000-");
  EXPECT_EQ(download::RequestHeaders(true, 2147483647), block + "\r\nRange:bytes=2147483647-");
  // The block itself never ends with a line break: WinINet adds its own after it.
  EXPECT_NE(block.back(), '\n');
}

TEST(DownloadRules, OnlyTwoHundredsCarryTheFile) {
  for (const std::uint32_t status : {200u, 201u, 203u, 204u, 206u, 299u}) {
    EXPECT_TRUE(download::IsSuccessStatus(status)) << status;
  }
  for (const std::uint32_t status : {0u, 100u, 199u, 300u, 301u, 304u, 404u, 416u, 500u, 503u}) {
    EXPECT_FALSE(download::IsSuccessStatus(status)) << status;
  }
}

TEST(DownloadRules, ContentLengthIsReadInFull64Bits) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> length;
    std::int32_t reported;
  };
  const Case cases[] = {
      {"0", 0, 0},
      {"10240", 10240, 10240},
      {" 42 ", 42, 42},
      {"\t7", 7, 7},
      {"2147483647", 2147483647, 2147483647},
      {"2147483648", 2147483648u, INT32_MIN},  // low 32 bits, as the received count
      {"4294967296", 4294967296u, 0},
      {"5368709121", 5368709121u, 1073741825},
      {"18446744073709551615", UINT64_MAX, -1},
      {"18446744073709551616", std::nullopt, 0},
      {"99999999999999999999999", std::nullopt, 0},
      {"", std::nullopt, 0},
      {"  ", std::nullopt, 0},
      {"-1", std::nullopt, 0},
      {"+5", std::nullopt, 0},
      {"12abc", std::nullopt, 0},
      {"1 2", std::nullopt, 0},
      {"5, 5", std::nullopt, 0},
      {"0x10", std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(download::ParseContentLength(c.text), c.length);
    EXPECT_EQ(download::ReportedTotal(download::ParseContentLength(c.text)), c.reported);
  }
}

TEST(DownloadRules, ResumeAppendsOnlyToAPartialAnswer) {
  struct Case {
    bool resume;
    std::int32_t offset;
    std::uint32_t status;
    bool append;
    std::int64_t start;
  };
  const Case cases[] = {
      {false, 0, 200, false, 0},
      {false, 300, 200, false, 0},  // not resuming: the offset plays no part
      {false, 300, 206, false, 0},
      {true, 300, 206, true, 300},
      {true, 0, 206, true, 0},
      {true, 300, 200, false, 0},  // range ignored: the whole file comes again
      {true, 300, 204, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.resume << " " << c.offset << " " << c.status);
    const download::LocalWrite plan = download::PlanLocalWrite(c.resume, c.offset, c.status);
    EXPECT_EQ(plan.append, c.append);
    EXPECT_EQ(plan.start_offset, c.start);
  }
}

TEST(DownloadRules, ElapsedIsNeverZero) {
  EXPECT_EQ(download::ReportedElapsed(0), download::kElapsedWhenZero);
  EXPECT_EQ(download::ReportedElapsed(1), 1);
  EXPECT_EQ(download::ReportedElapsed(10), 10);
  EXPECT_EQ(download::ReportedElapsed(86400000), 86400000);
}

TEST(DownloadRules, GzipAndDeflateAreDecoded) {
  for (const char* encoding : {"gzip", "GZIP", " gzip ", "deflate", "Deflate"}) {
    EXPECT_TRUE(download::IsDecodedEncoding(encoding)) << encoding;
  }
  for (const char* encoding : {"", "identity", "br", "compress", "gzip, br", "x-gzip", "gzipx"}) {
    EXPECT_FALSE(download::IsDecodedEncoding(encoding)) << encoding;
  }
}

TEST(DownloadRules, BodyIsCompleteWhenItReachesTheAnnouncedLength) {
  struct Case {
    std::optional<std::uint64_t> length;
    bool decoded;
    std::uint64_t bytes;
    bool complete;
  };
  const Case cases[] = {
      {std::nullopt, false, 0, true},  // no length: the server's close ends the body
      {std::nullopt, false, 123, true},
      {0, false, 0, true},
      {100, false, 100, true},
      {100, false, 99, false},
      {100, false, 0, false},
      {5368709120u, false, 1073741824u, false},  // equal in the low 32 bits only
      {5368709120u, false, 5368709120u, true},
      {100, true, 40, true},  // the length counts encoded bytes
      {100, true, 400, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length.value_or(-1) << " " << c.decoded << " " << c.bytes);
    EXPECT_EQ(download::BodyComplete(c.length, c.decoded, c.bytes), c.complete);
  }
}

TEST(DownloadRules, NothingBeyondTheAnnouncedLengthIsPartOfTheBody) {
  struct Case {
    std::optional<std::uint64_t> length;
    bool decoded;
    std::uint64_t so_far;
    std::uint64_t read;
    std::uint64_t part;
  };
  const Case cases[] = {
      {std::nullopt, false, 0, 10240, 10240},
      {std::nullopt, false, 1u << 31, 5, 5},
      {4, false, 0, 8, 4},
      {4, false, 4, 8, 0},
      {4, false, 9, 8, 0},  // cannot happen, but must not wrap
      {100, false, 90, 10, 10},
      {100, false, 90, 11, 10},
      {100, false, 0, 10240, 100},
      {5368709120u, false, 5368709120u - 3, 10240, 3},
      {4, true, 0, 8, 8},  // a decoded body is longer than the encoded length
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length.value_or(-1) << " " << c.decoded << " " << c.so_far << " " << c.read);
    EXPECT_EQ(download::BodyPartOf(c.length, c.decoded, c.so_far, c.read), c.part);
  }
}

// "\x95\x5C" is one GBK character whose second byte is the byte of "\"; "\xB8\xFC\xD0\xC2" two
// ordinary double-byte characters.
TEST(DownloadRules, FileNameMustStayInsideItsFolder) {
  for (const char* name : {"a.dll.tmp", "bvx.dll.tmp", ".tmp", "..tmp", "a..b", "\x95\x5C.tmp",
                           "\xB8\xFC\xD0\xC2.exe.tmp", "name with spaces.tmp"}) {
    EXPECT_TRUE(download::IsPlainFileName(name)) << name;
  }
  for (const char* name : {"", ".", "..", "..\\a.tmp", "sub\\a.tmp", "sub/a.tmp", "C:a.tmp", "a.tmp\\",
                           "\\a.tmp", "\xB8\xFC\\a.tmp", "a:stream"}) {
    EXPECT_FALSE(download::IsPlainFileName(name)) << name;
  }
}

}  // namespace

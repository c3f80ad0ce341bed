// The decisions of the updater's file download that need no network: which proxy setting the
// session takes, the texts of the request, which responses count as the file, how the local file
// is opened, and whether a finished read loop stored the whole body.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace download {

// Every read asks for this much; one progress report follows each read that brought bytes.
inline constexpr std::uint32_t kChunkSize = 10240;

// The elapsed time reported for a chunk read within the same millisecond as the start: a reader
// of the reports divides by it.
inline constexpr std::int32_t kElapsedWhenZero = 10;

// WinINet's values, kept here so the choice can be tested without <wininet.h>.
inline constexpr std::uint32_t kConnectionProxy = 4;             // INTERNET_CONNECTION_PROXY
inline constexpr std::uint32_t kAccessPreconfig = 0;             // INTERNET_OPEN_TYPE_PRECONFIG
inline constexpr std::uint32_t kAccessPreconfigNoAutoproxy = 4;  // ..._PRECONFIG_WITH_NO_AUTOPROXY

// A machine that reaches the network through a proxy keeps its configured proxy; otherwise the
// automatic proxy discovery is skipped, which can stall the first request for seconds.
std::uint32_t AccessTypeFor(std::uint32_t connection_flags);

// names::kDownloadAgentPrefix + the tick count in decimal.
std::string AgentFor(std::uint32_t tick_count);

// names::kDownloadHeaders, plus names::kRangePrefix + offset + "-" when resuming.
std::string RequestHeaders(bool resume, std::int32_t start_offset);

// Only a 2xx answer (after redirects) carries the file; anything else is an error page that must
// never be stored in place of a program file.
bool IsSuccessStatus(std::uint32_t status);

// The Content-Length header's text as WinINet returns it: decimal digits, surrounding blanks
// allowed. Nothing when the text is no such number or does not fit 64 bits; a length that cannot
// be read is treated like one that was not sent.
std::optional<std::uint64_t> ParseContentLength(std::string_view text);

// The total of the progress reports: the low 32 bits of the length, like the received count
// beside it, and 0 when the server sent none.
std::int32_t ReportedTotal(std::optional<std::uint64_t> content_length);

// How the local file is opened for one response.
struct LocalWrite {
  bool append;                // open or create, then write at the end; otherwise create or truncate
  std::int64_t start_offset;  // where the received count starts
};

// Resuming appends only to a 206 answer: a server that ignored the range sends the whole file
// with 200, and appending that to the partial file would double its start.
LocalWrite PlanLocalWrite(bool resume, std::int32_t start_offset, std::uint32_t status);

// What the reports give as the elapsed time for `elapsed_ms` since the first read.
std::int32_t ReportedElapsed(std::uint32_t elapsed_ms);

// Whether WinINet's decoding turns a body of this Content-Encoding back into the file: gzip and
// deflate, the two the request offers.
bool IsDecodedEncoding(std::string_view content_encoding);

// How many of `read` bytes just read belong to the body, `body_so_far` bytes having been stored
// before: no more than the announced length (not applicable to a decoded body). A server may send
// more than it announced, and WinINet hands over whatever came in with the head.
std::uint64_t BodyPartOf(std::optional<std::uint64_t> content_length, bool decoded, std::uint64_t body_so_far,
                         std::uint64_t read);

// Whether a read loop that ended normally stored the whole body: `body_bytes` is what this call
// read. A decoded (compressed) response is measured against a length of the encoded bytes, which
// the reader never sees, so only the server closing the stream can end it.
bool BodyComplete(std::optional<std::uint64_t> content_length, bool decoded, std::uint64_t body_bytes);

// A name the local file can take inside its folder: not empty, no "\", "/" or ":" as a character
// of its own (GBK trail bytes may be 0x5C and are stepped over), not "." or "..". Anything else
// would put the file somewhere else than the folder it was meant for.
bool IsPlainFileName(std::string_view name);

}  // namespace download

#include "core/download_rules.h"

#include <algorithm>
#include <limits>

#include "core/names.h"
#include "core/path.h"

namespace download {
namespace {

constexpr std::uint32_t kPartialContent = 206;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

std::uint32_t AccessTypeFor(std::uint32_t connection_flags) {
  return (connection_flags & kConnectionProxy) != 0 ? kAccessPreconfig : kAccessPreconfigNoAutoproxy;
}

std::string AgentFor(std::uint32_t tick_count) { return names::kDownloadAgentPrefix + std::to_string(tick_count); }

std::string RequestHeaders(bool resume, std::int32_t start_offset) {
  std::string headers = names::kDownloadHeaders;
  if (resume) {
    headers += names::kRangePrefix;
    headers += std::to_string(start_offset);
    headers += '-';
  }
  return headers;
}

bool IsSuccessStatus(std::uint32_t status) { return status >= 200 && status <= 299; }

std::optional<std::uint64_t> ParseContentLength(std::string_view text) {
  text = Trimmed(text);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::int32_t ReportedTotal(std::optional<std::uint64_t> content_length) {
  return content_length ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*content_length)) : 0;
}

LocalWrite PlanLocalWrite(bool resume, std::int32_t start_offset, std::uint32_t status) {
  if (resume && status == kPartialContent) return {true, start_offset};
  return {false, 0};
}

std::int32_t ReportedElapsed(std::uint32_t elapsed_ms) {
  return elapsed_ms == 0 ? kElapsedWhenZero : static_cast<std::int32_t>(elapsed_ms);
}

bool IsDecodedEncoding(std::string_view content_encoding) {
  content_encoding = Trimmed(content_encoding);
  return EqualsIgnoringCase(content_encoding, "gzip") || EqualsIgnoringCase(content_encoding, "deflate");
}

std::uint64_t BodyPartOf(std::optional<std::uint64_t> content_length, bool decoded, std::uint64_t body_so_far,
                         std::uint64_t read) {
  if (!content_length || decoded) return read;
  if (body_so_far >= *content_length) return 0;
  return std::min(read, *content_length - body_so_far);
}

bool BodyComplete(std::optional<std::uint64_t> content_length, bool decoded, std::uint64_t body_bytes) {
  if (!content_length || decoded) return true;
  return body_bytes >= *content_length;
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c == '\\' || c == '/' || c == ':') return false;
    if (path::IsLeadByte(c)) ++i;  // the trail byte belongs to this character, whatever its value
  }
  return true;
}

}  // namespace download

// The update list comes from the network, and an error page or a cut-off response is parsed like
// a list: whatever the bytes, the reader must neither crash nor hang, and its answers must hold
// together (a failed load answers nothing; every counted entry can be addressed).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const xml::Document document = xml::Document::Parse(bytes);
  const int count = document.ChildCount("@1");
  if (!document.loaded() && count != 0) std::abort();
  for (int n = 1; n <= count; ++n) {
    const std::string entry = "@1/@" + std::to_string(n);
    std::string version = "unset";
    if (!document.Attribute(entry, "Ver", version) && version != "unset") std::abort();
    document.ChildCount(entry);
  }
  std::string beyond = "unset";
  if (document.Attribute("@1/@" + std::to_string(count + 1), "Ver", beyond)) std::abort();
  return 0;
}

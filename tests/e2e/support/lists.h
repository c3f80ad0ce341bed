// Update lists for the end-to-end tests, written the way the update server sends them.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct ListEntry {
  std::string ver;   // empty: no "Ver" attribute
  std::string name;  // empty: no "Name" attribute
  std::string url;   // "-": no "url" attribute
};

inline std::string ListXml(const std::vector<ListEntry>& entries) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<UpdateList>\r\n";
  for (const auto& e : entries) {
    xml += "  <File";
    if (!e.ver.empty()) xml += " Ver=\"" + e.ver + "\"";
    if (!e.name.empty()) xml += " Name=\"" + e.name + "\"";
    if (e.url != "-") xml += " url=\"" + e.url + "\"";
    xml += "/>\r\n";
  }
  return xml + "</UpdateList>\r\n";
}

}  // namespace e2e

// Reader for the update list: the small XML form the update server sends and the updater keeps
// beside itself. Texts stay in the bytes they were stored in (GBK); nothing is converted.
//
// Accepted: an optional XML declaration, processing instructions, comments and a document type
// declaration around one root element; start/end tags and self-closing tags; attributes separated
// by single spaces with double-quoted values; "&lt;", "&gt;", "&amp;" and "&apos;" in values.
// Other character references stay as written.
//
// Lists written by hand that break this form are not repaired. Depending on the break:
// - the load fails (a byte-order mark, an "=" inside a value, an unclosed element or tag, a
//   mismatched end tag, no root element or text outside it, a zero byte);
// - or single attributes are not found: a tab or line break in front of an attribute name becomes
//   part of that name;
// - or values keep their quote characters: a value not in double quotes runs up to the next space.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xml {

class Document {
 public:
  // A document that failed to load: every query answers "not found".
  Document() = default;

  static Document Parse(std::string_view bytes);

  bool loaded() const { return !elements_.empty(); }

  // Paths: "@1" is the root element; each further "/@n" (n decimal, 1-based) steps to the n-th
  // child element of the element before. Returns 0 when the path names no element.
  int ChildCount(std::string_view element_path) const;

  // On success copies the value into `value`. When the element or the attribute is missing,
  // returns false and leaves `value` as it was: the update check relies on that to carry values
  // over from the entry before.
  bool Attribute(std::string_view element_path, std::string_view name, std::string& value) const;

 private:
  struct Element {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::size_t> children;  // indices into elements_, in document order
  };

  const Element* Find(std::string_view element_path) const;

  friend class Parser;
  std::vector<Element> elements_;  // elements_[0] is the root once loaded
};

}  // namespace xml

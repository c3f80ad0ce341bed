#include "core/xml_reader.h"

#include <charconv>
#include <climits>
#include <optional>

namespace xml {

namespace {

constexpr bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAllXmlSpace(std::string_view text) {
  for (char c : text) {
    if (!IsXmlSpace(c)) return false;
  }
  return true;
}

// A GBK pair: lead 81..FE, trail 40..FE except 7F. Only "[" and "]" (5B, 5D) among the bytes this
// reader looks for can be a trail byte, so only the scans for them walk characters; "<", ">", "=",
// quotes and spaces are all below 40 and can be searched byte by byte.
bool IsDoubleByteAt(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x81 || lead > 0xFE || i + 1 >= text.size()) return false;
  const auto trail = static_cast<unsigned char>(text[i + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

bool HasByteOrderMark(std::string_view bytes) {
  return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
}

// Only the four references the list writer produces are turned back; "&quot;" and numeric
// references stay as written, as the lists in the field have always been read.
std::string DecodeValue(std::string_view raw) {
  static constexpr std::pair<std::string_view, char> kReferences[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}};
  std::string value;
  value.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    bool replaced = false;
    if (raw[i] == '&') {
      for (const auto& [reference, character] : kReferences) {
        if (raw.substr(i).starts_with(reference)) {
          value.push_back(character);
          i += reference.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) value.push_back(raw[i++]);
  }
  return value;
}

}  // namespace

// Builds the element tree in one forward pass with an explicit stack, so that deep nesting in a
// hostile response costs memory in proportion to its size and never the thread's stack.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<Document> Run() {
    if (text_.find('\0') != std::string_view::npos) return std::nullopt;  // not a text at all
    if (HasByteOrderMark(text_)) return std::nullopt;
    while (true) {
      if (open_.empty()) {
        while (pos_ < text_.size() && IsXmlSpace(text_[pos_])) ++pos_;
        if (pos_ == text_.size()) break;
        if (text_[pos_] != '<') return std::nullopt;  // text outside the root element
      } else {
        pos_ = text_.find('<', pos_);  // character data inside an element is not kept
        if (pos_ == std::string_view::npos) return std::nullopt;  // unclosed element
      }
      if (!ParseMarkup()) return std::nullopt;
    }
    if (!root_seen_) return std::nullopt;
    return std::move(document_);
  }

 private:
  struct OpenElement {
    std::size_t index;
    std::string_view name;
  };

  std::string_view Rest() const { return text_.substr(pos_); }

  // Moves past `terminator`, searching from pos_; false when it never comes.
  bool SkipPast(std::string_view terminator) {
    const std::size_t end = text_.find(terminator, pos_);
    if (end == std::string_view::npos) return false;
    pos_ = end + terminator.size();
    return true;
  }

  bool SkipCdata() {
    for (std::size_t i = pos_; i < text_.size(); i += IsDoubleByteAt(text_, i) ? 2 : 1) {
      if (text_.substr(i).starts_with("]]>")) {
        pos_ = i + 3;
        return true;
      }
    }
    return false;
  }

  // "<!DOCTYPE ...>" with an optional internal subset in brackets, whose declarations have their
  // own ">" characters; quoted literals may hold any of these.
  bool SkipDeclaration() {
    int depth = 0;
    for (std::size_t i = pos_; i < text_.size(); i += IsDoubleByteAt(text_, i) ? 2 : 1) {
      const char c = text_[i];
      if (c == '"' || c == '\'') {
        i = text_.find(c, i + 1);
        if (i == std::string_view::npos) return false;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']' && depth > 0) {
        --depth;
      } else if (c == '>' && depth == 0) {
        pos_ = i + 1;
        return true;
      }
    }
    return false;
  }

  bool ParseMarkup() {
    const std::string_view rest = Rest();
    if (rest.starts_with("<?")) return SkipPast("?>");
    if (rest.starts_with("<!--")) {
      pos_ += 4;
      return SkipPast("-->");
    }
    if (rest.starts_with("<![CDATA[")) {
      if (open_.empty()) return false;
      pos_ += 9;
      return SkipCdata();
    }
    if (rest.starts_with("<!")) {
      if (!open_.empty() || root_seen_) return false;  // a document type only comes before the root
      pos_ += 2;
      return SkipDeclaration();
    }
    if (rest.starts_with("</")) return ParseEndTag();
    return ParseStartTag();
  }

  bool ParseEndTag() {
    pos_ += 2;
    const std::size_t close = text_.find('>', pos_);
    if (close == std::string_view::npos || open_.empty()) return false;
    std::string_view name = text_.substr(pos_, close - pos_);
    while (!name.empty() && IsXmlSpace(name.back())) name.remove_suffix(1);
    if (name != open_.back().name) return false;
    open_.pop_back();
    pos_ = close + 1;
    return true;
  }

  // True at ">" or "/>", the ends of a tag.
  bool AtTagEnd(std::size_t i) const {
    return text_[i] == '>' || (text_[i] == '/' && i + 1 < text_.size() && text_[i + 1] == '>');
  }

  bool ParseStartTag() {
    if (open_.empty() && root_seen_) return false;  // a second root element
    ++pos_;
    // The name runs up to the first space, so a tab or line break after it joins the name and
    // whatever follows; names of elements are never looked at, only their order.
    const std::size_t name_start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ' ' && !AtTagEnd(pos_)) {
      if (text_[pos_] == '<') return false;
      ++pos_;
    }
    if (pos_ == text_.size() || pos_ == name_start) return false;
    const std::string_view name = text_.substr(name_start, pos_ - name_start);

    Document::Element element;
    bool self_closing = false;
    while (true) {
      while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
      if (pos_ == text_.size()) return false;
      if (AtTagEnd(pos_)) {
        self_closing = text_[pos_] == '/';
        pos_ += self_closing ? 2 : 1;
        break;
      }
      if (!ParseAttribute(element)) return false;
    }

    const std::size_t index = document_.elements_.size();
    if (open_.empty()) {
      root_seen_ = true;
    } else {
      document_.elements_[open_.back().index].children.push_back(index);
    }
    document_.elements_.push_back(std::move(element));
    if (!self_closing) open_.push_back({index, name});
    return true;
  }

  // One `name=value` at pos_. The name is everything up to "=", so a tab or line break in front of
  // it stays part of the name and the attribute is not found by its plain name.
  bool ParseAttribute(Document::Element& element) {
    const std::size_t name_start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '=') {
      if (text_[pos_] == '<') return false;
      if (AtTagEnd(pos_)) {
        // Line breaks or tabs before the end of the tag are harmless; a bare word is not XML.
        if (!IsAllXmlSpace(text_.substr(name_start, pos_ - name_start))) return false;
        return true;  // the caller sees the tag end next
      }
      ++pos_;
    }
    if (pos_ == text_.size()) return false;
    std::string name(text_.substr(name_start, pos_ - name_start));
    ++pos_;  // "="

    std::string_view raw;
    if (pos_ < text_.size() && text_[pos_] == '"') {
      const std::size_t close = text_.find('"', pos_ + 1);
      if (close == std::string_view::npos) return false;
      raw = text_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
    } else {
      // Not double-quoted (single quotes, or none): the value runs to the next space or the tag
      // end, quote characters included.
      const std::size_t value_start = pos_;
      while (pos_ < text_.size() && text_[pos_] != ' ' && !AtTagEnd(pos_)) ++pos_;
      if (pos_ == text_.size()) return false;
      raw = text_.substr(value_start, pos_ - value_start);
    }
    // An "=" inside a value cannot be told from the start of the next attribute; the whole list is
    // refused rather than read with values cut at the wrong place.
    if (raw.find('=') != std::string_view::npos) return false;
    element.attributes.emplace_back(std::move(name), DecodeValue(raw));
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool root_seen_ = false;
  std::vector<OpenElement> open_;
  Document document_;
};

Document Document::Parse(std::string_view bytes) {
  std::optional<Document> parsed = Parser(bytes).Run();
  return parsed ? std::move(*parsed) : Document{};
}

const Document::Element* Document::Find(std::string_view element_path) const {
  if (!loaded()) return nullptr;
  const Element* element = nullptr;
  std::string_view rest = element_path;
  while (!rest.empty()) {
    if (element != nullptr) {
      if (rest.front() != '/') return nullptr;
      rest.remove_prefix(1);
    }
    if (rest.empty() || rest.front() != '@') return nullptr;
    rest.remove_prefix(1);
    std::size_t n = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (error != std::errc{} || end == rest.data() || n == 0) return nullptr;
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    if (element == nullptr) {
      if (n != 1) return nullptr;  // a document has one root
      element = &elements_.front();
    } else {
      if (n > element->children.size()) return nullptr;
      element = &elements_[element->children[n - 1]];
    }
  }
  return element;
}

int Document::ChildCount(std::string_view element_path) const {
  const Element* element = Find(element_path);
  if (element == nullptr) return 0;
  return element->children.size() > INT_MAX ? INT_MAX : static_cast<int>(element->children.size());
}

bool Document::Attribute(std::string_view element_path, std::string_view name, std::string& value) const {
  const Element* element = Find(element_path);
  if (element == nullptr) return false;
  for (const auto& [attribute_name, attribute_value] : element->attributes) {
    if (attribute_name == name) {
      value = attribute_value;
      return true;
    }
  }
  return false;
}

}  // namespace xml

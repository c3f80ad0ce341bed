#include "core/xml_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Attribute value, or "<missing>" when the reader reports not found.
std::string Value(const xml::Document& document, const char* element_path, const char* name) {
  std::string value = "<missing>";
  document.Attribute(element_path, name, value);
  return value;
}

// The shape the server sends: declaration, comment, entries as self-closing tags and as start and
// end tags, children named freely, GBK bytes in values ("\xB2\xE2" is one character).
constexpr char kList[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
    "<!-- generated -->\r\n"
    "<UpdateList Product=\"x\">\r\n"
    "  <File Ver=\"1.0.2\" Name=\"bvx.dll\" url=\"\"/>\r\n"
    "  <Item Ver=\"7\" Name=\"\xB2\xE2.txt\" url=\"\\data\\\xB2\xE2\\\"></Item>\r\n"
    "  <!-- a comment between entries -->\r\n"
    "  <File Ver=\"3\" Name=\"c.bin\" url=\"\\x\\\">text <Inner Ver=\"9\"/> more</File>\r\n"
    "</UpdateList>\r\n";

TEST(XmlReader, ReadsEntriesInDocumentOrder) {
  const xml::Document list = xml::Document::Parse(kList);
  ASSERT_TRUE(list.loaded());
  EXPECT_EQ(list.ChildCount("@1"), 3);
  EXPECT_EQ(Value(list, "@1", "Product"), "x");
  EXPECT_EQ(Value(list, "@1/@1", "Ver"), "1.0.2");
  EXPECT_EQ(Value(list, "@1/@1", "url"), "");
  EXPECT_EQ(Value(list, "@1/@2", "Name"), "\xB2\xE2.txt");
  EXPECT_EQ(Value(list, "@1/@2", "url"), "\\data\\\xB2\xE2\\");
  EXPECT_EQ(Value(list, "@1/@3", "Name"), "c.bin");
  // A grandchild is not an entry of the root.
  EXPECT_EQ(list.ChildCount("@1/@3"), 1);
  EXPECT_EQ(Value(list, "@1/@3/@1", "Ver"), "9");
}

TEST(XmlReader, PathsThatNameNoElementFindNothing) {
  const xml::Document list = xml::Document::Parse(kList);
  for (const char* bad_path : {"", "@", "@0", "@2", "@1/", "@1/@0", "@1/@4", "@1/@x", "@1/1", "@1@1",
                               "@1/@1/", "@1/@-1", "@1/@+1", "@1/@1x", "1", "@1/@99999999999999999999999"}) {
    SCOPED_TRACE(bad_path);
    EXPECT_EQ(list.ChildCount(bad_path), 0);
    EXPECT_EQ(Value(list, bad_path, "Ver"), "<missing>");
  }
  EXPECT_EQ(Value(list, "@01/@01", "Ver"), "1.0.2");  // leading zeros are still the number
}

TEST(XmlReader, AttributeNamesMatchExactly) {
  const xml::Document list = xml::Document::Parse("<r><f Ver=\"1\" Name=\"a\"/></r>");
  EXPECT_EQ(Value(list, "@1/@1", "Ver"), "1");
  for (const char* other : {"ver", "VER", "Ve", "Ver ", "url", ""}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(Value(list, "@1/@1", other), "<missing>");
  }
}

struct ValueCase {
  const char* attribute_text;  // as written in the tag after `Ver=`
  const char* value;
};

TEST(XmlReader, TurnsBackOnlyTheFourCharacterReferences) {
  const ValueCase cases[] = {
      {"\"a&lt;b&gt;c\"", "a<b>c"},
      {"\"&amp;&apos;\"", "&'"},
      {"\"&amp;lt;\"", "&lt;"},  // one pass: the "&" it yields starts nothing new
      {"\"&quot;x&quot;\"", "&quot;x&quot;"},
      {"\"&#65;&#x41;\"", "&#65;&#x41;"},
      {"\"&lt\"", "&lt"},
      {"\"a&\"", "a&"},
      {"\"<>/ \"", "<>/ "},  // markup characters inside quotes are part of the value
      {"\"\"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attribute_text);
    const std::string text = std::string("<r><f Ver=") + c.attribute_text + " Name=\"n\"/></r>";
    const xml::Document list = xml::Document::Parse(text);
    ASSERT_TRUE(list.loaded());
    EXPECT_EQ(Value(list, "@1/@1", "Ver"), c.value);
    EXPECT_EQ(Value(list, "@1/@1", "Name"), "n");
  }
}

// Lists edited by hand that break the written form still load, but read differently.
TEST(XmlReader, TabOrLineBreakBeforeAnAttributeHidesOnlyThatAttribute) {
  for (const char* separator : {"\t", "\n", "\r\n", " \n "}) {
    SCOPED_TRACE(testing::PrintToString(separator));
    const std::string text =
        std::string("<r>\n<f Ver=\"2\"") + separator + "Name=\"a.dll\" url=\"\\s\\\"/>\n</r>";
    const xml::Document list = xml::Document::Parse(text);
    ASSERT_TRUE(list.loaded());
    EXPECT_EQ(Value(list, "@1/@1", "Ver"), "2");
    EXPECT_EQ(Value(list, "@1/@1", "Name"), "<missing>");
    EXPECT_EQ(Value(list, "@1/@1", "url"), "\\s\\");
  }
  // Straight after the element name it joins the name, and the attribute behind it is lost.
  const xml::Document joined = xml::Document::Parse("<r><f\tVer=\"2\" Name=\"a\"/></r>");
  ASSERT_TRUE(joined.loaded());
  EXPECT_EQ(Value(joined, "@1/@1", "Ver"), "<missing>");
  EXPECT_EQ(Value(joined, "@1/@1", "Name"), "a");
}

TEST(XmlReader, ValuesOutsideDoubleQuotesKeepTheirQuotes) {
  const xml::Document list = xml::Document::Parse("<r><f Ver='2' Name=a.dll url='\\s\\'/></r>");
  ASSERT_TRUE(list.loaded());
  EXPECT_EQ(Value(list, "@1/@1", "Ver"), "'2'");
  EXPECT_EQ(Value(list, "@1/@1", "Name"), "a.dll");
  EXPECT_EQ(Value(list, "@1/@1", "url"), "'\\s\\'");
}

TEST(XmlReader, SkipsPrologAndMarkupThatIsNoElement) {
  const char* documents[] = {
      "<!DOCTYPE r>\n<r><f Ver=\"1\"/></r>",
      "<!DOCTYPE r [\n<!ELEMENT r (f*)>\n<!ATTLIST f Ver CDATA \"0>\">\n]>\n<r><f Ver=\"1\"/></r>",
      "<?xml version=\"1.0\"?><!-- a > b --><?pi x?><r><?pi?><f Ver=\"1\"/><!-- <g/> --></r><!-- end -->",
      "<r><![CDATA[<g Ver=\"2\"/> ]] ]>]]><f Ver=\"1\"/></r>",
      // A GBK character with trail byte 5D ("]") followed by "]>" does not end the section.
      "<r><![CDATA[\x81\x5D]> <g> ]]><f Ver=\"1\"/></r>",
      "<r>\n\t<f Ver=\"1\" />\n</r >\n\n",
  };
  for (const char* text : documents) {
    SCOPED_TRACE(text);
    const xml::Document list = xml::Document::Parse(text);
    ASSERT_TRUE(list.loaded());
    EXPECT_EQ(list.ChildCount("@1"), 1);
    EXPECT_EQ(Value(list, "@1/@1", "Ver"), "1");
  }
}

TEST(XmlReader, BrokenDocumentsFailWholeAndAnswerNotFound) {
  const std::string valid = "<r><f Ver=\"1\"/></r>";
  const std::string documents[] = {
      "",
      "   \r\n",
      "\xEF\xBB\xBF" + valid,
      "\xFF\xFE" + valid,
      "\xFE\xFF" + valid,
      "<r><f Ver=\"1=2\"/></r>",
      "<r><f Ver=1=2/></r>",
      "<r><f Ver=\"1\"/>",
      "<r><f Ver=\"1\"></r>",
      "<r><f Ver=\"1\"/></R>",
      "<r><f Ver=\"1\"/></r></r>",
      "<r><f Ver=\"1/></r>",
      "<r><f Ver=\"1\"",
      "<r><f Ver",
      "<r><f Ver=\"1\" checked/></r>",
      "<r><f Ver=\"1\" <g/></r>",
      "<r><f Ver=\"1\"/></r><r/>",
      "<r/>trailing text",
      "leading text<r/>",
      "<r><!-- unterminated </r>",
      "<r><?pi </r>",
      "<r><![CDATA[ </r>",
      "<r><!DOCTYPE r></r>",
      "<!DOCTYPE r [ <r/>",
      "< r/>",
      "<>",
      "</r>",
      std::string("<r><f Ver=\"1\0\"/></r>", 20),
      valid + std::string(1, '\0'),
      // An error page in place of the list.
      "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1><hr></body></html>",
      "Not Found",
  };
  for (const std::string& text : documents) {
    SCOPED_TRACE(testing::PrintToString(text));
    const xml::Document list = xml::Document::Parse(text);
    EXPECT_FALSE(list.loaded());
    EXPECT_EQ(list.ChildCount("@1"), 0);
    EXPECT_EQ(Value(list, "@1", "Ver"), "<missing>");
    EXPECT_EQ(Value(list, "@1/@1", "Ver"), "<missing>");
  }
}

TEST(XmlReader, DeepNestingLoadsWithoutExhaustingTheStack) {
  constexpr int kDepth = 200000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<a>";
  for (int i = 0; i < kDepth; ++i) text += "</a>";
  const xml::Document deep = xml::Document::Parse(text);
  ASSERT_TRUE(deep.loaded());
  EXPECT_EQ(deep.ChildCount("@1"), 1);
  EXPECT_FALSE(xml::Document::Parse(text.substr(0, text.size() - 4)).loaded());
}

}  // namespace

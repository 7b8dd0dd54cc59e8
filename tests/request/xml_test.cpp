// Escaping of text values and lowering of column names.
#include <gtest/gtest.h>

#include "xml.h"

namespace {

TEST(XmlEscape, Table) {
  struct {
    const char *in, *out;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a<b&c", "a&lt;b&amp;c"},
      {"ends&", "ends&amp;"},
      {"<<&&", "&lt;&lt;&amp;&amp;"},
      {"a>b", "a"},
      {">", ""},
      {"\tstart", ""},
      {"line\nbreak", "line"},
      {"cr\rx", "cr"},
      {"\x1f", ""},
      {"quotes \"'", "quotes \"'"},
      {"utf8 \xC3\xA4\xE2\x82\xAC", "utf8 \xC3\xA4\xE2\x82\xAC"},
      {"\x7f\x80\xff", "\x7f\x80\xff"},
      {"&<>&", "&amp;&lt;"},
  };
  for (const auto &c : cases) {
    std::string out;
    xml_escape_append(c.in, out);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(LowercaseName, AsciiOnlyAndWhole) {
  EXPECT_STREQ(lowercase_name("NAME"), "name");
  EXPECT_STREQ(lowercase_name("Ch_Order"), "ch_order");
  EXPECT_STREQ(lowercase_name(""), "");
  EXPECT_STREQ(lowercase_name(nullptr), "");
  EXPECT_STREQ(lowercase_name("\xC3\x84X"), "\xC3\x84x");
  std::string long_name(200, 'Q');
  EXPECT_EQ(std::string(lowercase_name(long_name.c_str())), std::string(200, 'q'));
}

}  // namespace

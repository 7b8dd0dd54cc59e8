// The pure pieces of the command language: splitting, keywords, decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch.h"

namespace {

// Splits `text` the way the command loop does: "keyword-text|argument" per
// command, the keyword text being the command up to its first ':' or ';'.
std::vector<std::string> split(std::string_view text) {
  std::vector<std::string> out;
  Command cmd;
  size_t pos = 0;
  while (next_command(text, pos, cmd)) {
    std::string head(cmd.rest.substr(0, cmd.rest.find_first_of(":;")));
    out.push_back(head + "|" + std::string(cmd.arg));
    if (cmd.last) break;
    pos = cmd.next;
  }
  return out;
}

struct SplitCase {
  const char *text;
  std::vector<std::string> commands;
};

TEST(Split, Table) {
  const SplitCase cases[] = {
      {"", {}},
      {"   ", {}},
      {"SQL:SELECT 1", {"SQL|SELECT 1"}},
      {"SQL:SELECT 1;", {"SQL|SELECT 1"}},
      {"SQL:SELECT 1;   ", {"SQL|SELECT 1"}},
      {"  TIMEINFO:;DISKSTAT:x", {"TIMEINFO|", "DISKSTAT|x"}},
      // ':' inside an argument belongs to it; ';' always ends a command.
      {"SQL:SELECT 'a:b';X:y", {"SQL|SELECT 'a:b'", "X|y"}},
      {"SQL:SELECT 'a;b'", {"SQL|SELECT 'a", "b'|"}},
      // No ':' anywhere behind: empty argument, the rest is ignored.
      {"CHECKON;TIMEINFO", {"CHECKON|"}},
      {"CHECKON", {"CHECKON|"}},
      // No ':' of its own, one later: empty argument, the loop goes on.
      {"CHECKON;TIMEINFO:", {"CHECKON|", "TIMEINFO|"}},
      {"A:1;;B:2", {"A|1", "|", "B|2"}},
      // Only blanks (0x20) are skipped before a command.
      {"\tSQL:x", {"\tSQL|x"}},
      {"CHANTREE:LISTPROV 5", {"CHANTREE|LISTPROV 5"}},
  };
  for (const auto &c : cases) EXPECT_EQ(split(c.text), c.commands) << c.text;
}

TEST(Keywords, PrefixAnyCaseInTableOrder) {
  struct {
    const char *command;
    const char *keyword;  // null: unsupported
  } cases[] = {
      {"SQL:x", "SQL"},         {"sql:x", "SQL"},          {"SqLX:x", "SQL"},
      {"LISTREC:", "LISTREC"},  {"listrecord", "LISTREC"}, {"DISKSTAT", "DISKSTAT"},
      {"CHANTREE:", "CHANTREE"}, {"currview", "CURRVIEW"}, {"TIMEINFO:", "TIMEINFO"},
      {"CHECKONX:", "CHECKON"}, {"power:STANDBY", "POWER"}, {"SQ:x", nullptr},
      {"LIST:", nullptr},       {"", nullptr},             {" SQL:", nullptr},
  };
  for (const auto &c : cases) {
    const Keyword *k = match_keyword(c.command);
    if (!c.keyword)
      EXPECT_EQ(k, nullptr) << c.command;
    else
      EXPECT_STREQ(k ? k->name : "(none)", c.keyword) << c.command;
  }
}

TEST(PercentDecode, Table) {
  struct {
    const char *in, *out;
  } cases[] = {
      {"CHANTREE:LISTPROV%205", "CHANTREE:LISTPROV 5"},
      {"a+b", "a+b"},
      {"%41%62", "Ab"},
      {"%3b%3B", ";;"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz%2", "%zz%2"},
      {"%%41", "%A"},
      {"%C3%A4", "\xC3\xA4"},
  };
  for (const auto &c : cases) EXPECT_EQ(percent_decode(c.in), c.out) << c.in;
  EXPECT_EQ(percent_decode("a%00b"), std::string("a\0b", 3));
}

}  // namespace

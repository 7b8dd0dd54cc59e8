// CHANTREE: the channel tree of the web front end.
//
// The front end's tree control loads one level at a time: every node that
// can be opened carries a src link back to this command with a sub-keyword
// and, for most, a parameter; channels are leaves whose action switches the
// receiver to them. Each sub-keyword is one row of SUBKEYWORDS below (its
// statements, the kind of node it prints per row, the icon rule), and one
// routine walks the row. Tables and columns read: receiver_db.h.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <string_view>

#include "../output.h"
#include "../request.h"
#include "../xml.h"
#include "commands.h"
#include "receiver_db.h"

namespace {

enum class Param {
  none,    // the statements are run as written
  key,     // a FAVGRP_ID, sdt_id or sat_id, compared as a bare SQL value
  letter,  // the beginning of a name, inside a quoted LIKE pattern
};

enum class Node { tv_letters, radio_letters, channel, favgroup, provider, satellite };

// How a channel row gets its icon: by the kind of its statement, or (in the
// lists that mix TV and radio) by the row's own media_mode.
enum class Icon { none, tv, radio, by_media_mode };

struct Query {
  const char *sql;  // null: no further statement
  Icon icon;
};

struct SubKeyword {
  const char *keyword;
  Param param;
  Node node;
  Query queries[2];  // run in turn
};

// A sub-keyword selects the row whose keyword it begins with (with case);
// no keyword is the beginning of another. Key statements take the parameter
// through %s after it has passed plain_key(); letter statements through %q.
constexpr SubKeyword SUBKEYWORDS[] = {
    {"SALLTV", Param::none, Node::tv_letters, {}},
    {"SALLRADIO", Param::none, Node::radio_letters, {}},
    {"INFAV",
     Param::none,
     Node::channel,
     {{"SELECT distinct f.name, c.ch_order, c.cas_type FROM channelinfo c, favlistinfo f "
       "WHERE f.view_flg=1 AND c.ch_id=f.ch_id AND media_mode = 0 ORDER BY f.name ASC",
       Icon::tv},
      {"SELECT distinct f.name, c.ch_order, c.cas_type FROM channelinfo c, favlistinfo f "
       "WHERE f.view_flg=1 AND c.ch_id=f.ch_id AND media_mode = 1 ORDER BY f.name ASC",
       Icon::radio}}},
    {"FAVLISTS",
     Param::none,
     Node::favgroup,
     {{"SELECT Name, FAVGRP_ID FROM FAVGRPInfo ORDER BY FAVGRP_Seq", Icon::none}}},
    {"LISTFAV",
     Param::key,
     Node::channel,
     {{"SELECT f.name, c.ch_order, c.cas_type, c.media_mode FROM channelinfo c, favlistinfo f "
       "WHERE f.view_flg=1 AND f.favgrp_id=%s AND c.ch_id=f.ch_id ORDER BY f.favlist_seq ASC",
       Icon::by_media_mode}}},
    {"PROVIDERS",
     Param::none,
     Node::provider,
     {{"SELECT lower(provider_name), sdt_id FROM sdtinfo ORDER BY lower(provider_name)",
       Icon::none}}},
    {"LISTPROV",
     Param::key,
     Node::channel,
     {{"SELECT name, ch_order, cas_type, media_mode FROM channelinfo WHERE sdt_id = %s "
       "ORDER BY name ASC",
       Icon::by_media_mode}}},
    {"SATELLITES",
     Param::none,
     Node::satellite,
     {{"SELECT distinct b.name, b.sat_id FROM ChannelInfo a, SATInfo b WHERE a.SAT_ID = b.SAT_ID",
       Icon::none}}},
    {"LISTSATTV",
     Param::key,
     Node::channel,
     {{"SELECT name, ch_order, cas_type FROM channelinfo WHERE sat_id = %s AND media_mode = 0 "
       "ORDER BY name ASC",
       Icon::tv}}},
    {"LISTSATRADIO",
     Param::key,
     Node::channel,
     {{"SELECT name, ch_order, cas_type FROM channelinfo WHERE sat_id = %s AND media_mode = 1 "
       "ORDER BY name ASC",
       Icon::radio}}},
    {"ALLTVCHAN",
     Param::letter,
     Node::channel,
     {{"SELECT name, ch_order, cas_type FROM channelinfo WHERE name LIKE '%q%%' AND media_mode = 0 "
       "ORDER BY name ASC",
       Icon::tv}}},
    {"ALLRADIOCHAN",
     Param::letter,
     Node::channel,
     {{"SELECT name, ch_order, cas_type FROM channelinfo WHERE name LIKE '%q%%' AND media_mode = 1 "
       "ORDER BY name ASC",
       Icon::radio}}},
};

// The closing part of each row node, after "<tree text=\"" and column 0.
// Channel nodes are printed by print_channel (their icon may be absent).
constexpr const char *FAVGROUP_CLOSE = "\" src=\"/cgi-bin/request?CHANTREE:LISTFAV%%20%s\"/>";
constexpr const char *PROVIDER_CLOSE = "\" src=\"/cgi-bin/request?CHANTREE:LISTPROV%%20%s\"/>";
constexpr const char *SATELLITE_CLOSE =
    "\"><tree text=\"All TV Channels\" src=\"/cgi-bin/request?CHANTREE:LISTSATTV%%20%s\" "
    "icon=\"img/all_tv.gif\" openIcon=\"img/all_tv_open.gif\"/><tree text=\"All Radio Channels\" "
    "src=\"/cgi-bin/request?CHANTREE:LISTSATRADIO%%20%s\" icon=\"img/all_radio.gif\" "
    "openIcon=\"img/all_radio_open.gif\"/></tree>";

constexpr const char *ROOT_MENU =
    "<tree text=\"All favourites\" src=\"/cgi-bin/request?CHANTREE:INFAV\" />"
    "<tree text=\"Favourite Lists\" src=\"/cgi-bin/request?CHANTREE:FAVLISTS\" />"
    "<tree text=\"Providers\" src=\"/cgi-bin/request?CHANTREE:PROVIDERS\" />"
    "<tree text=\"Satellites\" src=\"/cgi-bin/request?CHANTREE:SATELLITES\" />"
    "<tree text=\"All TV Channels\" src=\"/cgi-bin/request?CHANTREE:SALLTV\" "
    "icon=\"img/all_tv.gif\" openIcon=\"img/all_tv_open.gif\"/>"
    "<tree text=\"All Radio Channels\" src=\"/cgi-bin/request?CHANTREE:SALLRADIO\" "
    "icon=\"img/all_radio.gif\" openIcon=\"img/all_radio_open.gif\"/>";

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next word of `text` from `pos` on (white space before it skipped);
// empty when none is left. Words are taken whole, however long.
std::string_view next_word(std::string_view text, size_t &pos) {
  while (pos < text.size() && is_space(text[pos])) pos++;
  size_t start = pos;
  while (pos < text.size() && !is_space(text[pos])) pos++;
  return text.substr(start, pos - start);
}

// A key parameter goes into its statement as written only when it is a
// plain decimal number (an optional '-' and digits) or a bare name (letters,
// digits and '_', not beginning with a digit): a single SQL token that can
// only be compared, never extend the query. A name still reaches SQLite, so
// a letter where a number belongs is reported as the engine's missing column.
bool plain_key(std::string_view p) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (p.empty()) return false;
  if (digit(p[0]) || p[0] == '-') {
    size_t i = p[0] == '-' ? 1 : 0;
    if (i == p.size()) return false;
    for (; i < p.size(); i++)
      if (!digit(p[i])) return false;
    return true;
  }
  if (!alpha(p[0])) return false;
  for (char c : p)
    if (!alpha(c) && !digit(c)) return false;
  return true;
}

const char *cell(const char *v) { return v ? v : ""; }

// A text shown inside the text="..." attribute: escaped and cut like every
// database text, and a double quote written as "&quot;" so that it cannot
// end the attribute.
void print_attr_text(const char *text) {
  std::string esc;
  xml_escape_append(cell(text), esc);
  size_t from = 0;
  for (size_t q; (q = esc.find('"', from)) != std::string::npos; from = q + 1) {
    out_write(esc.data() + from, q - from);
    out_write("&quot;", 6);
  }
  out_write(esc.data() + from, esc.size() - from);
}

// The icon attribute of a channel row, or null when the row's kind is
// unknown (a media_mode beginning with neither 0 nor 1 in a mixed list).
const char *channel_icon(Icon rule, const char *cas_type, const char *media_mode) {
  bool free_to_air = cell(cas_type)[0] == '0';
  bool tv;
  if (rule == Icon::tv) {
    tv = true;
  } else if (rule == Icon::radio) {
    tv = false;
  } else {
    char m = cell(media_mode)[0];
    if (m != '0' && m != '1') return nullptr;
    tv = m == '0';
  }
  if (tv) return free_to_air ? "icon=\"img/tv_fta.gif\"" : "icon=\"img/tv_enc.gif\"";
  return free_to_air ? "icon=\"img/radio_fta.gif\"" : "icon=\"img/radio_enc.gif\"";
}

// One node per result row; `row` holds `ncol` texts (null for SQL NULL).
void print_row(Node node, Icon rule, char **row, int ncol) {
  const char *col1 = cell(row[1]);
  out_write("<tree text=\"", 12);
  print_attr_text(row[0]);
  switch (node) {
    case Node::channel: {
      const char *icon = channel_icon(rule, ncol > 2 ? row[2] : nullptr, ncol > 3 ? row[3] : nullptr);
      // Pieces, not a format: this runs once per channel of a list.
      out_write("\" ");
      if (icon) {
        out_write(icon);
        out_write(" ");
      }
      out_write("action=\"javascript:remote_change_channel(");
      out_write(col1);
      out_write(")\"/>");
      break;
    }
    case Node::favgroup:
      out_printf(FAVGROUP_CLOSE, col1);
      break;
    case Node::provider:
      out_printf(PROVIDER_CLOSE, col1);
      break;
    case Node::satellite:
      out_printf(SATELLITE_CLOSE, col1, col1);
      break;
    case Node::tv_letters:
    case Node::radio_letters:
      break;
  }
}

void print_letters(const char *target) {
  for (char c = 'a'; c <= 'z'; c++)
    out_printf("<tree text=\"%c\" src=\"/cgi-bin/request?CHANTREE:%s%%20%c\" />", c, target, c);
}

// Runs one statement and prints its rows; a failing statement ends the
// request (no retry: a locked database is reported at once).
void run_query(const char *sql, Node node, Icon rule) {
  char **table = nullptr;
  int nrow = 0, ncol = 0;
  if (sqlite3_get_table(db, sql, &table, &nrow, &ncol, nullptr) != SQLITE_OK)
    fail_request(sqlite3_mprintf("failed executing query: %s", sqlite3_errmsg(db)));
  if (ncol >= 2)
    for (int i = 0; i < nrow; i++) print_row(node, rule, table + (i + 1) * ncol, ncol);
  sqlite3_free_table(table);
}

const SubKeyword *select_subkeyword(std::string_view word) {
  for (const SubKeyword &s : SUBKEYWORDS) {
    size_t n = strlen(s.keyword);
    if (word.size() >= n && word.compare(0, n, s.keyword) == 0) return &s;
  }
  return nullptr;
}

}  // namespace

void chantree_command(const char *arg) {
  std::string_view text = arg;
  size_t pos = 0;
  std::string_view word = next_word(text, pos);
  if (word.empty()) {
    out_write(ROOT_MENU, strlen(ROOT_MENU));
    return;
  }
  const SubKeyword *sub = select_subkeyword(word);
  if (!sub) return;
  if (sub->node == Node::tv_letters) return print_letters("ALLTVCHAN");
  if (sub->node == Node::radio_letters) return print_letters("ALLRADIOCHAN");

  std::string param(next_word(text, pos));  // a third word is ignored
  if (sub->param != Param::none && param.empty()) return;
  if (sub->param == Param::key && !plain_key(param))
    fail_request(sqlite3_mprintf(
        "refused parameter '%s' of %s: a key must be a plain number or a bare name",
        param.c_str(), sub->keyword));

  for (const Query &q : sub->queries) {
    if (!q.sql) break;
    char *sql = sub->param == Param::none ? sqlite3_mprintf("%s", q.sql)
                                          : sqlite3_mprintf(q.sql, param.c_str());
    if (!sql) fail_request("out of memory");
    run_query(sql, sub->node, q.icon);
    sqlite3_free(sql);
  }
}

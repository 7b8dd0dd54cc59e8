// The channel tree, run as the front end runs it: build/request against
// databases made by scripts/mkdb.py, whole responses compared byte for byte.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

// TV and radio, free and encrypted (cas_type 0, 1, 256 and an empty text),
// a media_mode that is neither TV nor radio, names that need escaping or
// cutting, a name beginning with a digit, hidden favourites, a favourite
// with a NULL name, an entry in two groups, and a satellite without channels.
const char *WORLD = R"({
 "satellites": [{"sat_id": 1, "name": "Northstar 19.2E"}, {"sat_id": 2, "name": "Kestrel 13E"},
                {"sat_id": 3, "name": "Empty Sat"}],
 "providers": [{"sdt_id": 5, "provider_name": "Alpenfunk"}, {"sdt_id": 6, "provider_name": "Skyline & Co"},
               {"sdt_id": 7, "provider_name": "Brightwave"}],
 "channels": [
  {"ch_id": 1, "ch_order": 1, "name": "Erstes Programm", "cas_type": 0, "media_mode": 0, "sat_id": 1, "sdt_id": 5},
  {"ch_id": 2, "ch_order": 2, "name": "Bergland 3", "cas_type": 0, "media_mode": 1, "sat_id": 1, "sdt_id": 5},
  {"ch_id": 3, "ch_order": 3, "name": "Skyline Cinema", "cas_type": 1, "media_mode": 0, "sat_id": 1, "sdt_id": 6},
  {"ch_id": 4, "ch_order": 4, "name": "radio X", "cas_type": 256, "media_mode": 1, "sat_id": 2, "sdt_id": 6},
  {"ch_id": 5, "ch_order": 5, "name": "R&B <Hits> now", "cas_type": 0, "media_mode": 1, "sat_id": 2, "sdt_id": 6},
  {"ch_id": 6, "ch_order": 6, "name": "3kanal", "cas_type": 0, "media_mode": 0, "sat_id": 2, "sdt_id": 5},
  {"ch_id": 7, "ch_order": 7, "name": "atelier", "cas_type": "", "media_mode": 0, "sat_id": 2, "sdt_id": 5},
  {"ch_id": 8, "ch_order": 8, "name": "Odd Mode", "cas_type": 0, "media_mode": 2, "sat_id": 1, "sdt_id": 7},
  {"ch_id": 9, "ch_order": 9, "name": "Brightwave One", "cas_type": 0, "media_mode": 0, "sat_id": 1, "sdt_id": 7},
  {"ch_id": 10, "ch_order": 10, "name": "Say \"Hi\" TV", "cas_type": 0, "media_mode": 0, "sat_id": 2, "sdt_id": 7}
 ],
 "favgroups": [
  {"favgrp_id": 1, "name": "News", "seq": 2, "entries": [
    {"ch_id": 3, "name": "Kino", "seq": 1}, {"ch_id": 1, "name": "Erste", "seq": 2},
    {"ch_id": 2, "name": "B3", "seq": 3}, {"ch_id": 8, "name": "Odd", "seq": 4}]},
  {"favgrp_id": 2, "name": "Hidden", "seq": 1, "entries": [
    {"ch_id": 4, "name": "Hidden X", "view_flg": 0}, {"ch_id": 5, "name": "Hidden RB", "view_flg": 2}]},
  {"favgrp_id": 3, "name": "Radio", "seq": 3, "entries": [
    {"ch_id": 2, "name": "B3"}, {"ch_id": 4, "name": null}]}
 ]
})";

const std::string ROOT =
    "<tree text=\"All favourites\" src=\"/cgi-bin/request?CHANTREE:INFAV\" />"
    "<tree text=\"Favourite Lists\" src=\"/cgi-bin/request?CHANTREE:FAVLISTS\" />"
    "<tree text=\"Providers\" src=\"/cgi-bin/request?CHANTREE:PROVIDERS\" />"
    "<tree text=\"Satellites\" src=\"/cgi-bin/request?CHANTREE:SATELLITES\" />"
    "<tree text=\"All TV Channels\" src=\"/cgi-bin/request?CHANTREE:SALLTV\" "
    "icon=\"img/all_tv.gif\" openIcon=\"img/all_tv_open.gif\"/>"
    "<tree text=\"All Radio Channels\" src=\"/cgi-bin/request?CHANTREE:SALLRADIO\" "
    "icon=\"img/all_radio.gif\" openIcon=\"img/all_radio_open.gif\"/>";

// A channel leaf; icon is the image's base name, or "" for none.
std::string ch(const std::string &text, const std::string &icon, int order) {
  std::string attr = icon.empty() ? "" : " icon=\"img/" + icon + ".gif\"";
  return "<tree text=\"" + text + "\"" + attr + " action=\"javascript:remote_change_channel(" +
         std::to_string(order) + ")\"/>";
}

std::string letters(const std::string &target) {
  std::string out;
  for (char c = 'a'; c <= 'z'; c++)
    out += std::string("<tree text=\"") + c + "\" src=\"/cgi-bin/request?CHANTREE:" + target +
           "%20" + c + "\" />";
  return out;
}

std::string satellite(const std::string &name, int id) {
  std::string n = std::to_string(id);
  return "<tree text=\"" + name +
         "\"><tree text=\"All TV Channels\" src=\"/cgi-bin/request?CHANTREE:LISTSATTV%20" + n +
         "\" icon=\"img/all_tv.gif\" openIcon=\"img/all_tv_open.gif\"/>"
         "<tree text=\"All Radio Channels\" src=\"/cgi-bin/request?CHANTREE:LISTSATRADIO%20" + n +
         "\" icon=\"img/all_radio.gif\" openIcon=\"img/all_radio_open.gif\"/></tree>";
}

std::string complete(const std::string &fragment) { return HEAD + fragment + "</tree>\n"; }

// Builds the two databases of `world` with mkdb.py; returns the channel db.
std::string make_db(const TempDir &dir, const std::string &world, const std::string &flags,
                    const std::string &name = "chan.db") {
  std::string json = dir.file(name + ".json");
  std::ofstream(json) << world;
  std::string cmd = std::string(PYTHON3) + " " SOURCE_DIR "/scripts/mkdb.py --world " + json +
                    " --db " + dir.file(name) + " --epg " + dir.file(name + ".epg") + " " + flags;
  EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
  return dir.file(name);
}

RunResult tree(const std::string &db, const std::string &command) {
  return run_request({command}, {{"PATH_DB_DAT", db}});
}

class ChanTree : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    plain_ = make_db(*dir_, WORLD, "", "plain.db");
    upper_ = make_db(*dir_, WORLD, "--upper --untyped-keys", "upper.db");
  }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir *dir_;
  static std::string plain_, upper_;
};
TempDir *ChanTree::dir_;
std::string ChanTree::plain_, ChanTree::upper_;

struct Case {
  const char *command;
  std::string fragment;
};

// Every sub-keyword on the small world, in the order of its statement.
const std::vector<Case> &answers() {
  static const std::vector<Case> cases = {
      {"CHANTREE:SALLTV", letters("ALLTVCHAN")},
      {"CHANTREE:SALLRADIO", letters("ALLRADIOCHAN")},
      // TV before radio; hidden entries nowhere; B3 of two groups once; the
      // NULL name sorts first and shows as empty; Odd is neither TV nor radio.
      {"CHANTREE:INFAV", ch("Erste", "tv_fta", 1) + ch("Kino", "tv_enc", 3) +
                             ch("", "radio_enc", 4) + ch("B3", "radio_fta", 2)},
      {"CHANTREE:FAVLISTS",
       "<tree text=\"Hidden\" src=\"/cgi-bin/request?CHANTREE:LISTFAV%202\"/>"
       "<tree text=\"News\" src=\"/cgi-bin/request?CHANTREE:LISTFAV%201\"/>"
       "<tree text=\"Radio\" src=\"/cgi-bin/request?CHANTREE:LISTFAV%203\"/>"},
      // Odd comes after an icon row and must not inherit its icon.
      {"CHANTREE:LISTFAV 1", ch("Kino", "tv_enc", 3) + ch("Erste", "tv_fta", 1) +
                                 ch("B3", "radio_fta", 2) + ch("Odd", "", 8)},
      {"CHANTREE:LISTFAV 2", ""},
      {"CHANTREE:LISTFAV 3", ch("B3", "radio_fta", 2) + ch("", "radio_enc", 4)},
      {"CHANTREE:PROVIDERS",
       "<tree text=\"alpenfunk\" src=\"/cgi-bin/request?CHANTREE:LISTPROV%205\"/>"
       "<tree text=\"brightwave\" src=\"/cgi-bin/request?CHANTREE:LISTPROV%207\"/>"
       "<tree text=\"skyline &amp; co\" src=\"/cgi-bin/request?CHANTREE:LISTPROV%206\"/>"},
      {"CHANTREE:LISTPROV 5", ch("3kanal", "tv_fta", 6) + ch("Bergland 3", "radio_fta", 2) +
                                  ch("Erstes Programm", "tv_fta", 1) + ch("atelier", "tv_enc", 7)},
      {"CHANTREE:LISTPROV 6", ch("R&amp;B &lt;Hits", "radio_fta", 5) +
                                  ch("Skyline Cinema", "tv_enc", 3) + ch("radio X", "radio_enc", 4)},
      {"CHANTREE:LISTPROV 7", ch("Brightwave One", "tv_fta", 9) + ch("Odd Mode", "", 8) +
                                  ch("Say &quot;Hi&quot; TV", "tv_fta", 10)},
      {"CHANTREE:LISTPROV 99", ""},
      {"CHANTREE:LISTSATTV 1", ch("Brightwave One", "tv_fta", 9) + ch("Erstes Programm", "tv_fta", 1) +
                                   ch("Skyline Cinema", "tv_enc", 3)},
      {"CHANTREE:LISTSATRADIO 1", ch("Bergland 3", "radio_fta", 2)},
      {"CHANTREE:LISTSATTV 2", ch("3kanal", "tv_fta", 6) +
                                   ch("Say &quot;Hi&quot; TV", "tv_fta", 10) +
                                   ch("atelier", "tv_enc", 7)},
      {"CHANTREE:LISTSATRADIO 2",
       ch("R&amp;B &lt;Hits", "radio_fta", 5) + ch("radio X", "radio_enc", 4)},
      {"CHANTREE:LISTSATTV 3", ""},
      // LIKE ignores ASCII case: r finds R&B and radio X, but no TV channel.
      {"CHANTREE:ALLRADIOCHAN r",
       ch("R&amp;B &lt;Hits", "radio_fta", 5) + ch("radio X", "radio_enc", 4)},
      {"CHANTREE:ALLTVCHAN r", ""},
      {"CHANTREE:ALLTVCHAN s",
       ch("Say &quot;Hi&quot; TV", "tv_fta", 10) + ch("Skyline Cinema", "tv_enc", 3)},
      {"CHANTREE:ALLTVCHAN a", ch("atelier", "tv_enc", 7)},
      {"CHANTREE:ALLTVCHAN o", ""},
  };
  return cases;
}

TEST_F(ChanTree, EverySubKeywordOnSmallWorld) {
  for (const auto &c : answers()) {
    RunResult r = tree(plain_, c.command);
    EXPECT_EQ(r.out, complete(c.fragment)) << c.command;
    EXPECT_EQ(r.status, 0) << c.command;
    EXPECT_TRUE(r.err.empty()) << c.command;
    EXPECT_TRUE(well_formed_xml(body_of(r.out))) << c.command;
  }
}

// Upper-case table and column names and key columns without a type: the
// same statements give the same answers.
TEST_F(ChanTree, UpperCaseSchemaAndUntypedKeys) {
  for (const auto &c : answers()) {
    RunResult r = tree(upper_, c.command);
    EXPECT_EQ(r.out, complete(c.fragment)) << c.command;
    EXPECT_EQ(r.status, 0) << c.command;
  }
  EXPECT_EQ(tree(upper_, "CHANTREE:SATELLITES").out, tree(plain_, "CHANTREE:SATELLITES").out);
}

// The satellite node's exact bytes; a satellite without channels is absent.
// The database gives no order, so only the set of nodes is fixed.
TEST_F(ChanTree, SatellitesWithChannelsOnly) {
  RunResult r = tree(plain_, "CHANTREE:SATELLITES");
  std::string northstar = satellite("Northstar 19.2E", 1), kestrel = satellite("Kestrel 13E", 2);
  EXPECT_TRUE(r.out == complete(northstar + kestrel) || r.out == complete(kestrel + northstar)) << r.out;
  EXPECT_TRUE(well_formed_xml(body_of(r.out)));
}

TEST_F(ChanTree, ExactBytesOfEachNodeKind) {
  EXPECT_EQ(tree(plain_, "CHANTREE:LISTSATRADIO 1").out,
            HEAD + "<tree text=\"Bergland 3\" icon=\"img/radio_fta.gif\" "
                   "action=\"javascript:remote_change_channel(2)\"/></tree>\n");
  // Unknown kind (as in the tables above): no icon attribute, one blank
  // before the action.
  EXPECT_EQ(ch("Odd", "", 8), "<tree text=\"Odd\" action=\"javascript:remote_change_channel(8)\"/>");
  std::string tv = tree(plain_, "CHANTREE:SALLTV").out;
  const std::string first = "<tree text=\"a\" src=\"/cgi-bin/request?CHANTREE:ALLTVCHAN%20a\" />";
  const std::string last = "<tree text=\"z\" src=\"/cgi-bin/request?CHANTREE:ALLTVCHAN%20z\" />";
  EXPECT_EQ(tv.substr(HEAD.size(), first.size()), first);
  EXPECT_EQ(tv.substr(tv.size() - last.size() - 8), last + "</tree>\n");
  EXPECT_EQ(satellite("Kestrel 13E", 2),
            "<tree text=\"Kestrel 13E\"><tree text=\"All TV Channels\" "
            "src=\"/cgi-bin/request?CHANTREE:LISTSATTV%202\" icon=\"img/all_tv.gif\" "
            "openIcon=\"img/all_tv_open.gif\"/><tree text=\"All Radio Channels\" "
            "src=\"/cgi-bin/request?CHANTREE:LISTSATRADIO%202\" icon=\"img/all_radio.gif\" "
            "openIcon=\"img/all_radio_open.gif\"/></tree>");
}

// As the front end sends it: the link's %20 arrives in QUERY_STRING.
TEST_F(ChanTree, ProviderLinkAsSentByFrontEnd) {
  RunResult r = run_query("CHANTREE:LISTPROV%205", {{"PATH_DB_DAT", plain_}});
  EXPECT_EQ(r.out, complete(answers()[8].fragment));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(well_formed_xml(body_of(r.out)));
}

TEST_F(ChanTree, RootMenu) {
  for (const char *command : {"CHANTREE", "CHANTREE:", "CHANTREE:   ", "CHANTREE:\t\r\n"}) {
    RunResult r = tree(plain_, command);
    EXPECT_EQ(r.out, complete(ROOT)) << command;
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(well_formed_xml(body_of(r.out)));
  }
  EXPECT_EQ(run_query("CHANTREE:%20%20", {{"PATH_DB_DAT", plain_}}).out, complete(ROOT));
}

// How the argument's words select a row and a parameter.
TEST_F(ChanTree, WordsOfTheArgument) {
  const std::string prov5 = answers()[8].fragment;
  const Case cases[] = {
      {"CHANTREE:salltv", ""},  // keywords compare with case
      {"CHANTREE:NOSUCH 5", ""},
      {"CHANTREE:SALLTVxyz", letters("ALLTVCHAN")},
      {"CHANTREE:LISTPROVX 5", prov5},
      {"CHANTREE:LISTPROV 5 extra words", prov5},
      {"CHANTREE:\t LISTPROV \t5\n", prov5},
      // Long words are taken whole: cut to 7 characters this would be key 0.
      {"CHANTREE:LISTPROV 000000005", prov5},
      {"CHANTREE:LISTPROV 50", ""},
      {"CHANTREE:LISTPROV -5", ""},
      // A parameter is needed but missing: nothing is run.
      {"CHANTREE:LISTPROV", ""},
      {"CHANTREE:LISTFAV   ", ""},
      {"CHANTREE:LISTSATTV", ""},
      {"CHANTREE:ALLTVCHAN", ""},
      {"CHANTREE:ALLRADIOCHAN", ""},
  };
  std::string long_keyword = "CHANTREE:SALLRADIO" + std::string(40, 'Q');
  EXPECT_EQ(tree(plain_, long_keyword).out, complete(letters("ALLRADIOCHAN")));
  for (const auto &c : cases) {
    RunResult r = tree(plain_, c.command);
    EXPECT_EQ(r.out, complete(c.fragment)) << c.command;
    EXPECT_EQ(r.status, 0) << c.command;
  }
  // Answers of several commands follow each other.
  EXPECT_EQ(tree(plain_, "CHANTREE:LISTPROV;CHANTREE:LISTSATRADIO 1;CHANTREE").out,
            complete(ch("Bergland 3", "radio_fta", 2) + ROOT));
}

TEST_F(ChanTree, LetterNodesOnDatabaseWithoutTables) {
  TempDir dir;
  std::string db = dir.file("empty.db");
  exec_sql(db, "PRAGMA user_version = 1");
  EXPECT_EQ(tree(db, "CHANTREE:SALLTV").out, complete(letters("ALLTVCHAN")));
  EXPECT_EQ(tree(db, "CHANTREE:SALLRADIO").out, complete(letters("ALLRADIOCHAN")));
  // And a database with the tables but no rows answers every list empty.
  std::string none = make_db(dir, "{}", "");
  for (const auto &c : answers()) {
    std::string cmd = c.command;
    bool fixed = cmd == "CHANTREE:SALLTV" || cmd == "CHANTREE:SALLRADIO";
    if (fixed) continue;
    EXPECT_EQ(tree(none, cmd).out, complete("")) << cmd;
  }
}

// A failing statement: the error text after whatever was printed before,
// no "</tree>", status 1.
TEST_F(ChanTree, FailingStatement) {
  TempDir dir;
  std::string db = dir.file("empty.db");
  exec_sql(db, "PRAGMA user_version = 1");
  const struct {
    std::string db, command, out;
  } cases[] = {
      {plain_, "CHANTREE:;CHANTREE:LISTPROV a",
       HEAD + ROOT + "ERROR: failed executing query: no such column: a\n\n"},
      {plain_, "CHANTREE:LISTSATTV x1",
       HEAD + "ERROR: failed executing query: no such column: x1\n\n"},
      {db, "CHANTREE:PROVIDERS", HEAD + "ERROR: failed executing query: no such table: sdtinfo\n\n"},
      {db, "CHANTREE:SALLRADIO;CHANTREE:INFAV",
       HEAD + letters("ALLRADIOCHAN") + "ERROR: failed executing query: no such table: channelinfo\n\n"},
  };
  for (const auto &c : cases) {
    RunResult r = tree(c.db, c.command);
    EXPECT_EQ(r.out, c.out) << c.command;
    EXPECT_EQ(r.status, 1) << c.command;
    EXPECT_TRUE(r.err.empty());
  }
}

// A database another process holds locked is reported, not waited for.
TEST_F(ChanTree, LockedDatabaseFailsAtOnce) {
  TempDir dir;
  std::string db = make_db(dir, WORLD, "");
  sqlite3 *h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(h, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  RunResult r = tree(db, "CHANTREE:PROVIDERS");
  sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(h);
  EXPECT_EQ(r.out, HEAD + "ERROR: failed executing query: database is locked\n\n");
  EXPECT_EQ(r.status, 1);
}

// A parameter can never make a statement do more than its own query: keys
// other than a number or a name are refused before anything runs, and a
// letter stays inside its quoted pattern.
TEST_F(ChanTree, InjectionThroughParameter) {
  for (const char *key : {"5/**/OR/**/1=1", "1=1", "(5)", "5)", "'5'", "5--", "5.0", "0x5", "-",
                          "a'b", "\"a\"", "5/", "a.b", "[a]"}) {
    for (const char *sub : {"LISTPROV", "LISTFAV", "LISTSATTV", "LISTSATRADIO"}) {
      std::string cmd = std::string("CHANTREE:") + sub + " " + key;
      RunResult r = tree(plain_, "CHANTREE:SALLTV;" + cmd);
      EXPECT_EQ(r.out, HEAD + letters("ALLTVCHAN") + "ERROR: refused parameter '" + key + "' of " +
                           sub + ": a key must be a plain number or a bare name\n\n")
          << cmd;
      EXPECT_EQ(r.status, 1) << cmd;
    }
  }
  for (const char *letter : {"x'/**/OR/**/1=1/**/OR/**/name/**/LIKE'", "'", "a'--", "s''"}) {
    for (const char *sub : {"ALLTVCHAN", "ALLRADIOCHAN"}) {
      std::string cmd = std::string("CHANTREE:") + sub + " " + letter;
      RunResult r = tree(plain_, cmd);
      EXPECT_EQ(r.out, complete("")) << cmd;
      EXPECT_EQ(r.status, 0) << cmd;
    }
  }
  EXPECT_EQ(query_one(plain_, "SELECT count(*) FROM channelinfo"), "10");
  EXPECT_EQ(query_one(plain_, "SELECT count(*) FROM favlistinfo"), "8");
}

}  // namespace

namespace {

std::string mkdb(const std::string &args) {
  return std::string(PYTHON3) + " " SOURCE_DIR "/scripts/mkdb.py " + args;
}

// The builder's defaults, relative event times, and its schema options: the
// other tests and the demo rely on them.
TEST(MkDb, DefaultsTimesAndSchemaOptions) {
  TempDir dir;
  const char *world = R"({"channels": [{"name": "One"}, {"name": "Two", "media_mode": 1, "sat_id": 4}],
    "favgroups": [{"name": "G", "entries": [{"ch_id": 2}]}],
    "events": [{"ch_id": 1, "start": -60, "end": 60, "event_name": "Now"}],
    "media_info": [{"file_name": "/v/a.vux", "play_time": 9, "lock": 1}]})";
  std::ofstream(dir.file("w.json")) << world;
  std::string db = dir.file("c.db"), epg = dir.file("e.db");
  ASSERT_EQ(system(mkdb("--world " + dir.file("w.json") + " --db " + db + " --epg " + epg +
                        " --now 1000000 --upper --untyped-keys")
                       .c_str()),
            0);
  EXPECT_EQ(query_one(db, "SELECT group_concat(ch_id||':'||ch_order||':'||cas_type||':'||media_mode, ' ') "
                          "FROM channelinfo"),
            "1:1:0:0 2:2:0:1");
  EXPECT_EQ(query_one(db, "SELECT name||view_flg||favgrp_id||favlist_seq FROM favlistinfo"), "Two111");
  EXPECT_EQ(query_one(db, "SELECT Name||FAVGRP_ID||FAVGRP_Seq FROM FAVGRPInfo"), "G11");
  EXPECT_EQ(query_one(db, "SELECT file_name||play_time||lock FROM media_info"), "/v/a.vux91");
  EXPECT_EQ(query_one(epg, "SELECT start_time||'-'||end_time||event_name FROM epginfo"),
            "999940-1000060Now");
  // Upper-case names; an untyped key still holds an integer.
  EXPECT_EQ(query_one(db, "SELECT count(*) FROM sqlite_master WHERE name = 'CHANNELINFO'"), "1");
  EXPECT_EQ(query_one(db, "SELECT typeof(sat_id) FROM channelinfo WHERE ch_id = 2"), "integer");
  EXPECT_EQ(query_one(db, "SELECT count(*) FROM pragma_table_info('CHANNELINFO') "
                          "WHERE name = 'SAT_ID' AND type = ''"),
            "1");
}

// The demo world: some hundred channels, each with an event running at --now,
// and the same world for the same seed.
TEST(MkDb, DemoWorld) {
  TempDir dir;
  std::string db = dir.file("c.db"), epg = dir.file("e.db");
  ASSERT_EQ(system(mkdb("--demo --seed 7 --now 1700000000 --db " + db + " --epg " + epg).c_str()), 0);
  EXPECT_EQ(query_one(db, "SELECT count(*) >= 100 FROM channelinfo"), "1");
  EXPECT_EQ(query_one(db, "SELECT count(DISTINCT media_mode) || count(DISTINCT cas_type = 0) "
                          "FROM channelinfo"),
            "22");
  EXPECT_EQ(query_one(epg, "SELECT count(DISTINCT ch_id) FROM epginfo "
                           "WHERE start_time <= 1700000000 AND end_time > 1700000000"),
            query_one(db, "SELECT count(*) FROM channelinfo"));
  EXPECT_EQ(query_one(db, "SELECT count(*) FROM SATInfo WHERE sat_id NOT IN "
                          "(SELECT sat_id FROM channelinfo)"),
            "1");
  std::string a = dir.file("a.json"), b = dir.file("b.json");
  ASSERT_EQ(system(mkdb("--demo --seed 7 --now 1 --dump > " + a).c_str()), 0);
  ASSERT_EQ(system(mkdb("--demo --seed 7 --now 1 --dump > " + b).c_str()), 0);
  ASSERT_EQ(system(("cmp -s " + a + " " + b).c_str()), 0);
  RunResult r = run_request({"CHANTREE:PROVIDERS;CHANTREE:LISTPROV 100;CHANTREE:INFAV"},
                            {{"PATH_DB_DAT", db}});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(well_formed_xml(body_of(r.out)));
}

}  // namespace

// Command splitting and dispatch.
#include "dispatch.h"

#include <strings.h>

#include <cstring>

#include "commands/commands.h"
#include "request.h"
#include "sql.h"

namespace {

// Tried in this order; the first keyword that the command begins with wins.
constexpr Keyword KEYWORDS[] = {
    {"SQL", sql_command},
    {"LISTREC", listrec_command},
    {"DISKSTAT", diskstat_command},
    {"CHANTREE", chantree_command},
    {"CURRVIEW", currview_command},
    {"TIMEINFO", timeinfo_command},
    {"CHECKON", checkon_command},
    {"POWER", power_command},
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool next_command(std::string_view text, size_t pos, Command &cmd) {
  while (pos < text.size() && text[pos] == ' ') pos++;
  if (pos >= text.size()) return false;
  cmd.rest = text.substr(pos);
  size_t colon = text.find(':', pos);
  size_t semi = text.find(';', pos);
  if (colon == std::string_view::npos) {
    // No ':' anywhere behind: an empty argument, and nothing after it runs.
    cmd.arg = {};
    cmd.last = true;
    cmd.next = text.size();
  } else if (semi != std::string_view::npos && semi < colon) {
    // The ':' belongs to a later command; never reach across the ';'.
    cmd.arg = {};
    cmd.last = false;
    cmd.next = semi + 1;
  } else if (semi == std::string_view::npos) {
    cmd.arg = text.substr(colon + 1);
    cmd.last = true;
    cmd.next = text.size();
  } else {
    cmd.arg = text.substr(colon + 1, semi - colon - 1);
    cmd.last = false;
    cmd.next = semi + 1;
  }
  return true;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
        hex_value(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

const Keyword *match_keyword(std::string_view command) {
  for (const Keyword &k : KEYWORDS) {
    size_t n = strlen(k.name);
    if (command.size() >= n && strncasecmp(command.data(), k.name, n) == 0) return &k;
  }
  return nullptr;
}

void run_commands(std::string_view text) {
  // The argument buffer: reused by every command, grown to hold any argument
  // whole (a cut SQL statement could run as a different, shorter one).
  std::string arg;
  Command cmd;
  size_t pos = 0;
  while (next_command(text, pos, cmd)) {
    arg.assign(cmd.arg);
    const Keyword *k = match_keyword(cmd.rest);
    if (!k) {
      std::string rest(cmd.rest);
      fail_request(sqlite3_mprintf("Unsupported command '%s'", rest.c_str()));
    }
    k->handler(arg.c_str());
    if (cmd.last) break;
    pos = cmd.next;
  }
}

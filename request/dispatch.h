// The command language of `request`: splitting the command text into
// commands, the keyword table and the command loop.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One command found in the command text.
struct Command {
  std::string_view rest;  // from the command's first byte to the end of the text
  std::string_view arg;   // the text between its first ':' and its ';'
  size_t next;            // where the next command begins (if !last)
  bool last;              // nothing after this command is carried out
};

// Finds the command at `pos`: blanks (0x20) are skipped, then the argument
// runs from the first ':' to the next ';'. A command with no ':' before its
// ';' has an empty argument; with no ':' anywhere after `pos` it is the last.
// Returns false when only blanks remain.
bool next_command(std::string_view text, size_t pos, Command &cmd);

// Decodes each %XX (two hex digits) into its byte; '+' and a '%' without two
// hex digits behind it stay as they are.
std::string percent_decode(std::string_view text);

using handler_fn = void (*)(const char *arg);

struct Keyword {
  const char *name;
  handler_fn handler;
};

// The first keyword of the table that the command begins with, compared
// without regard to case; null when none does.
const Keyword *match_keyword(std::string_view command);

// Runs every command of the text in order; does not return on failure.
void run_commands(std::string_view text);

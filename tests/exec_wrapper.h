// Lets the test suite start every program under test through another
// program, named in TEST_EXEC_WRAPPER as words separated by spaces (no
// quoting): an emulator for binaries built for another CPU
// (TEST_EXEC_WRAPPER=/usr/bin/qemu-ppc), or a checker
// (TEST_EXEC_WRAPPER="valgrind --error-exitcode=99 -q"). Empty or unset:
// programs are started directly.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

// The wrapper's words, to go before the program's path in argv.
inline std::vector<std::string> exec_wrapper() {
  std::vector<std::string> words;
  const char *w = getenv("TEST_EXEC_WRAPPER");
  std::string cur;
  for (const char *p = w ? w : ""; ; p++) {
    if (*p == ' ' || *p == '\t' || *p == '\0') {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
      if (*p == '\0') break;
    } else {
      cur += *p;
    }
  }
  return words;
}

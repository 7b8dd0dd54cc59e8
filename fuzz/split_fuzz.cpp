// The command-text splitter and the percent decoder over any bytes.
// Splitting must end, every argument and rest must lie inside the text and
// each command must start behind the previous one; decoding never grows the
// text and leaves a text without '%' as it is.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "check.h"
#include "dispatch.h"

namespace {

bool inside(std::string_view part, std::string_view text) {
  if (part.empty()) return true;
  return part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size();
}

void split_all(std::string_view text) {
  Command cmd;
  size_t pos = 0, count = 0;
  while (next_command(text, pos, cmd)) {
    FUZZ_CHECK(++count <= text.size());
    FUZZ_CHECK(inside(cmd.rest, text));
    FUZZ_CHECK(inside(cmd.arg, text));
    FUZZ_CHECK(!cmd.rest.empty() && cmd.rest.front() != ' ');
    FUZZ_CHECK(cmd.rest.data() + cmd.rest.size() == text.data() + text.size());
    size_t start = size_t(cmd.rest.data() - text.data());
    FUZZ_CHECK(start >= pos);
    FUZZ_CHECK(text.substr(pos, start - pos).find_first_not_of(' ') == std::string_view::npos);
    // The argument never reaches across the command's ';', nor holds one.
    FUZZ_CHECK(cmd.arg.find(';') == std::string_view::npos);
    if (!cmd.arg.empty()) {
      size_t at = size_t(cmd.arg.data() - text.data());
      FUZZ_CHECK(at > start && text[at - 1] == ':');
      FUZZ_CHECK(text.substr(start, at - start).find(';') == std::string_view::npos);
    }
    match_keyword(cmd.rest);
    if (cmd.last) {
      FUZZ_CHECK(cmd.next == text.size());
      break;
    }
    FUZZ_CHECK(cmd.next > start && cmd.next <= text.size());
    FUZZ_CHECK(text[cmd.next - 1] == ';');
    pos = cmd.next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  split_all(text);

  std::string decoded = percent_decode(text);
  FUZZ_CHECK(decoded.size() <= text.size());
  if (text.find('%') == std::string_view::npos) FUZZ_CHECK(decoded == text);
  // Every escape shortens the text by two, so the count of '%' bounds the loss.
  size_t percents = size_t(std::count(text.begin(), text.end(), '%'));
  FUZZ_CHECK(text.size() - decoded.size() <= 2 * percents);
  FUZZ_CHECK((text.size() - decoded.size()) % 2 == 0);
  split_all(decoded);
  return 0;
}

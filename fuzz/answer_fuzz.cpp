// The main application's answer line over any bytes: only the first line
// counts, the name is a piece of it from the 8th byte on, holds neither a
// line feed nor a NUL, and whatever follows the first line changes nothing.
#include <string>
#include <string_view>

#include "check.h"
#include "commands/answer_line.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  Answer a = parse_answer_line(text);
  size_t lf = text.find('\n');
  std::string_view line = text.substr(0, lf);
  FUZZ_CHECK(answer_line_complete(text) == (lf != std::string_view::npos));
  FUZZ_CHECK((a.status == AnswerStatus::no_data) == text.empty());
  if (!text.empty())
    FUZZ_CHECK((a.status == AnswerStatus::ok) == line.starts_with("CUR_CH"));
  if (a.status != AnswerStatus::ok) {
    FUZZ_CHECK(a.name.empty());
  } else {
    FUZZ_CHECK(a.name.find('\n') == std::string::npos);
    FUZZ_CHECK(a.name.find('\0') == std::string::npos);
    if (!a.name.empty()) {
      FUZZ_CHECK(line.size() > 7 && line.substr(7).starts_with(a.name));
      size_t end = 7 + a.name.size();
      FUZZ_CHECK(end == line.size() || line[end] == '\0');
    } else {
      FUZZ_CHECK(line.size() <= 7 || line[7] == '\0');
    }
  }
  // Other bytes behind the first line are never looked at.
  if (lf != std::string_view::npos) {
    Answer b = parse_answer_line(std::string(text.substr(0, lf + 1)) + "CUR_CH other\n");
    FUZZ_CHECK(b.status == a.status && b.name == a.name);
  }
  return 0;
}

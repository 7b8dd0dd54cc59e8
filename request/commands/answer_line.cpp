// Parsing the main application's answer line; a pure function over bytes.
#include "answer_line.h"

namespace {

constexpr std::string_view CUR_CH = "CUR_CH";
// "CUR_CH" and its separator.
constexpr size_t NAME_AT = CUR_CH.size() + 1;

}  // namespace

Answer parse_answer_line(std::string_view data) {
  if (data.empty()) return {AnswerStatus::no_data, {}};
  std::string_view line = data.substr(0, data.find('\n'));
  if (!line.starts_with(CUR_CH)) return {AnswerStatus::not_cur_ch, {}};
  if (line.size() <= NAME_AT) return {AnswerStatus::ok, {}};
  std::string_view name = line.substr(NAME_AT);
  // The name goes on as a C string; a NUL would end it there anyway.
  name = name.substr(0, name.find('\0'));
  return {AnswerStatus::ok, std::string(name)};
}

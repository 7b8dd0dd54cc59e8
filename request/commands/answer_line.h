// The answer of the receiver's main application to "web_get_cur_ch".
//
// The main application answers on its answer device with one line:
// "CUR_CH", one separator character (never examined), the name of the
// channel on screen, a line feed. Only the first line counts; whatever
// follows it is ignored.
#pragma once

#include <string>
#include <string_view>

enum class AnswerStatus {
  ok,          // `name` holds the reported channel name
  no_data,     // nothing was delivered at all
  not_cur_ch,  // the first line does not begin with "CUR_CH"
};

struct Answer {
  AnswerStatus status;
  std::string name;  // empty unless status == ok
};

// Parses the bytes the answer device delivered, up to its end of data.
// The first line ends at its first line feed or, lacking one, at the end of
// `data`. "CUR_CH" is compared case-sensitively. The name is everything
// after the 7th character up to (not including) the line feed, of any
// length, cut at a NUL byte. "CUR_CH" alone, "CUR_CH\n" and "CUR_CH \n" give
// the empty name.
Answer parse_answer_line(std::string_view data);

// True once `data` holds a complete first line, so reading can stop.
inline bool answer_line_complete(std::string_view data) {
  return data.find('\n') != std::string_view::npos;
}

// XML text escaping and the SQL row printer.
#include "xml.h"

#include <string>

#include "output.h"

namespace {

// A byte that may pass unchanged: above 0x1F and none of '<', '&', '>'.
inline bool plain(unsigned char c) {
  return c > 0x1F && c != '<' && c != '&' && c != '>';
}

// Walks `text` by runs of plain bytes, calling emit(ptr, len) for each run
// and for each entity; stops at the first byte that ends the value.
template <typename Emit>
void escape_runs(std::string_view text, Emit emit) {
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && plain(static_cast<unsigned char>(text[i]))) i++;
    if (i > start) emit(text.data() + start, i - start);
    if (i == text.size()) return;
    if (text[i] == '<')
      emit("&lt;", 4);
    else if (text[i] == '&')
      emit("&amp;", 5);
    else
      return;  // NUL, '>' or a control byte ends the value
    i++;
  }
}

}  // namespace

void xml_escape_append(std::string_view text, std::string &out) {
  escape_runs(text, [&](const char *p, size_t n) { out.append(p, n); });
}

void print_xml_text(const char *text) {
  if (!text) return;
  escape_runs(text, [](const char *p, size_t n) { out_write(p, n); });
}

const char *lowercase_name(const char *name) {
  static std::string lowered;
  lowered.assign(name ? name : "");
  for (char &c : lowered)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lowered.c_str();
}

int sql_row_to_xml(void *quiet, int ncol, char **values, char **names) {
  if (*static_cast<int *>(quiet) == 1) return 0;
  out_write("<row>", 5);
  for (int k = 0; k < ncol; k++) {
    const char *name = lowercase_name(names[k]);
    out_printf("<%s>", name);
    print_xml_text(values[k]);
    out_printf("</%s>", name);
  }
  out_write("</row>", 6);
  return 0;
}

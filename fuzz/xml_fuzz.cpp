// Escaping of database and file-system text for the XML response, over any
// bytes. The escaped text holds no '>' and no control byte, every '&'
// begins "&amp;" or "&lt;", and undoing the two entities gives back the
// value up to the first byte that ends it. print_xml_text, which writes
// through the response buffer, must print the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

#include "check.h"
#include "output.h"
#include "xml.h"

namespace {

bool ends_value(unsigned char c) { return c <= 0x1F || c == '>'; }

// Standard output becomes a memory file whose bytes the target reads back.
int out_file = -1;

std::string printed(const std::string &text) {
  if (out_file < 0) {
    out_file = memfd_create("xml_fuzz", 0);
    FUZZ_CHECK(out_file >= 0);
    FUZZ_CHECK(dup2(out_file, STDOUT_FILENO) == STDOUT_FILENO);
  }
  FUZZ_CHECK(ftruncate(STDOUT_FILENO, 0) == 0);
  FUZZ_CHECK(lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
  print_xml_text(text.c_str());
  out_flush();
  off_t n = lseek(STDOUT_FILENO, 0, SEEK_CUR);
  std::string back(size_t(n), '\0');
  FUZZ_CHECK(pread(STDOUT_FILENO, back.data(), back.size(), 0) == n);
  return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string out;
  xml_escape_append(text, out);

  std::string undone;
  for (size_t i = 0; i < out.size(); i++) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    FUZZ_CHECK(!ends_value(c));
    if (c == '&') {
      std::string_view rest = std::string_view(out).substr(i);
      if (rest.starts_with("&amp;")) {
        undone += '&';
        i += 4;
      } else {
        FUZZ_CHECK(rest.starts_with("&lt;"));
        undone += '<';
        i += 3;
      }
      continue;
    }
    FUZZ_CHECK(c != '<');
    undone += char(c);
  }
  FUZZ_CHECK(text.starts_with(undone));
  if (undone.size() < text.size())
    FUZZ_CHECK(ends_value(static_cast<unsigned char>(text[undone.size()])));

  // Appending keeps what was there.
  std::string prefixed = "x";
  xml_escape_append(text, prefixed);
  FUZZ_CHECK(prefixed == "x" + out);

  // As a C string the value ends at its first NUL, which ends it anyway.
  FUZZ_CHECK(printed(std::string(text)) == out);
  return 0;
}

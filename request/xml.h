// Putting database and file-system text into the XML response.
#pragma once

#include <string>
#include <string_view>

// Prints a text value as XML character data: '<' as "&lt;", '&' as "&amp;",
// and the value cut at its first '>' or control byte (0x01-0x1F). Bytes from
// 0x80 up pass unchanged, so UTF-8 stays UTF-8. A null pointer prints nothing.
void print_xml_text(const char *text);

// The pure core of print_xml_text: appends the escaped form of `text`
// (up to its first NUL, '>' or control byte) to `out`.
void xml_escape_append(std::string_view text, std::string &out);

// Lowers ASCII 'A'-'Z' of `name` into one static buffer and returns it; the
// result stays valid until the next call. Names of any length are lowered
// whole; a null name gives "".
const char *lowercase_name(const char *name);

// Row printer with the signature of an sqlite3_exec callback. `quiet` points
// at an int: 1 prints nothing, 0 prints "<row><col>value</col>...</row>"
// with each column name lowered and each value through print_xml_text
// (a NULL value gives an empty element). Always returns 0.
int sql_row_to_xml(void *quiet, int ncol, char **values, char **names);

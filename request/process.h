// Starting the receiver's outside programs (mount, ps, killall, front_ioctl,
// sendkey) so that nothing they print can land in the response.
//
// Programs are started by argument vector, never through a string given to
// a shell, so that blanks or shell characters in a path stay part of it.
// Their standard input, and the standard error of every program, are
// /dev/null; their standard output is /dev/null or a pipe read here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Runs argv[0] (looked up through PATH unless it holds a '/') with the
// arguments argv[1..] (null-terminated), standard output on /dev/null, and
// waits for it to end. Returns its wait status, or -1 when it could not be
// started at all.
int run_program(const char *const argv[]);

// Runs argv like run_program with its standard output into a pipe, and
// returns everything it printed once it has ended. A program that cannot be
// started prints nothing.
std::string program_output(const char *const argv[]);

// Cuts `text` into the pieces that a line reader with a buffer of
// `buf_size` bytes (fgets) returns one by one: a piece ends after a '\n' or
// when it holds buf_size - 1 bytes, and the last may lack its '\n'.
// REQUIRES: buf_size >= 2.
std::vector<std::string_view> line_pieces(std::string_view text, size_t buf_size);

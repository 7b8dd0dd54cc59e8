// Test harness: runs the built `request` binary with a chosen environment
// and captures its exact output, plus small helpers for test databases.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct RunResult {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error (must stay empty)
  int status = -1;  // exit status, or 128 + signal number
  double seconds = 0;
};

using Env = std::map<std::string, std::string>;

// Runs `request` with `args` (after argv[0]) and exactly `env` (PATH is
// added from the test's own environment unless `env` sets it).
RunResult run_request(const std::vector<std::string> &args, const Env &env);

// The same with the command text in QUERY_STRING and no arguments.
RunResult run_query(const std::string &query, Env env);

// The exact bytes of a response up to and including "<tree>".
extern const std::string HEAD;

// A fresh directory removed with everything in it at destruction.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string file(const std::string &name) const { return path + "/" + name; }
};

// Executes `sql` on the database file at `path` (created when missing);
// aborts the test on error.
void exec_sql(const std::string &path, const std::string &sql);

// The first column of the first row of `sql` on `path`, as text.
std::optional<std::string> query_one(const std::string &path, const std::string &sql);

// True when `xml` parses as a well-formed document (xmllint).
bool well_formed_xml(const std::string &xml);

// The body of a response: everything after the header's empty line.
std::string body_of(const std::string &response);

// Runs a fuzz target's entry function once over every file named on the
// command line (directories: every file in them), without libFuzzer, so
// that kept crash inputs and seed corpora are checked by the normal test
// run. A broken invariant aborts, which fails the test.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "check.h"

namespace fs = std::filesystem;

namespace {

int replay_file(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  // An exactly sized heap copy, so that a sanitizer build sees any read
  // past the end, as under libFuzzer.
  auto *copy = new unsigned char[bytes.size() ? bytes.size() : 1];
  std::copy(bytes.begin(), bytes.end(), copy);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  delete[] copy;
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  int files = 0;
  for (int i = 1; i < argc; i++) {
    fs::path p(argv[i]);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> entries;
      for (const auto &e : fs::directory_iterator(p))
        if (e.is_regular_file()) entries.push_back(e.path());
      std::sort(entries.begin(), entries.end());
      for (const auto &e : entries) files += replay_file(e);
    } else if (fs::exists(p, ec)) {
      files += replay_file(p);
    } else {
      // A target without kept crash inputs has no regressions directory.
      printf("no inputs at %s\n", argv[i]);
    }
  }
  printf("%d inputs replayed\n", files);
  return files > 0 ? 0 : 2;
}

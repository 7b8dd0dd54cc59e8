// Shared by the fuzz targets: an invariant check that stops the run with a
// message, so that libFuzzer (or the replay driver) keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) {                                                            \
      fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                \
    }                                                                         \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size);

// Shared by the converter targets: one whole conversion over a container
// in memory, checked.
#pragma once

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>
#include <string>

#include "check.h"
#include "driver.h"
#include "packs.h"

namespace fuzz {

inline vux::ps_output out;  // too large for the stack

inline int convert_once(const uint8_t *data, size_t size, size_t chunk, mem_sink &dst) {
  static vux::buffers bufs{};
  if (!bufs.video) FUZZ_CHECK(vux::alloc_buffers(&bufs) == 0);
  mem_source src{data, size};
  src.chunk = chunk;
  vux::source in = src.source();
  vux::init_output(&out, dst.sink());
  return vux::convert(&in, &out, bufs, 0);
}

// The container's conversion gives whole, well-formed packs; read in other
// pieces it gives the same bytes; and a sink that fails part way gives
// status 1 with exactly the bytes before the failure.
inline void check_conversion(const uint8_t *data, size_t size) {
  // The sinks keep their room from input to input.
  static mem_sink whole, pieces, failing;
  whole.data.clear();
  FUZZ_CHECK(convert_once(data, size, SIZE_MAX, whole) == 0);
  read_packs(whole.data);

  uint32_t h = 2166136261u;  // FNV-1a of the input picks the variations
  for (size_t i = 0; i < size && i < 4096; i++) h = (h ^ data[i]) * 16777619u;
  h = (h ^ uint32_t(size)) * 16777619u;

  pieces.data.clear();
  FUZZ_CHECK(convert_once(data, size, 1 + h % 7001, pieces) == 0);
  FUZZ_CHECK(pieces.data == whole.data);

  if (whole.data.empty()) return;
  failing.data.clear();
  failing.fail_at = (h >> 8) % whole.data.size();
  failing.chunk = 1 + (h >> 4) % 5000;
  // The failure is reported on standard error, once per run: kept out of
  // the fuzzer's log.
  static int quiet = -1, saved = -1;
  if (quiet < 0) quiet = open("/dev/null", O_WRONLY), saved = dup(2);
  dup2(quiet, 2);
  int status = convert_once(data, size, SIZE_MAX, failing);
  dup2(saved, 2);
  FUZZ_CHECK(status == 1);
  FUZZ_CHECK(whole.data.compare(0, failing.data.size(), failing.data) == 0);
  FUZZ_CHECK(failing.data.size() == failing.fail_at);
}

}  // namespace fuzz

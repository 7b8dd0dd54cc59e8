// The whole converter over any bytes taken as a recording container.
#include "convert.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  // Longer inputs add time, not paths (run.sh caps fuzzing at four blocks).
  if (size > 8 * vux::BLOCK_SIZE_LONG) return 0;
  fuzz::check_conversion(data, size);
  return 0;
}

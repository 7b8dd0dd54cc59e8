// The whole converter over any bytes taken as a recording container.
#include "convert.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  if (size > 8 * vux::BLOCK_SIZE_LONG) return 0;  // run.sh lets at most 4 through
  fuzz::check_conversion(data, size);
  return 0;
}

// The whole converter over containers described compactly, so that the
// fuzzer spends its effort on area contents and sizes rather than on the
// tens of kilobytes of filler in every block. The input: one byte whose
// low bit is block_format, then per block a big-endian 16-bit video_size
// and audio_size field, followed by the area bytes (as many of those sizes,
// cut to the area, as the input still holds). Unused area bytes hold a fake
// PES header, which must never be taken.
#include <cstring>
#include <string>

#include "convert.h"

using namespace vux;

namespace {

constexpr uint8_t FILLER[] = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00, 0xFF};
constexpr int MAX_BLOCKS = 12;

// An empty block of each size: filler in the areas, a zero header.
const std::string &empty_block(uint32_t B) {
  static std::string blocks[2];
  std::string &b = blocks[B == BLOCK_SIZE_LONG];
  if (b.empty()) {
    for (uint32_t j = 0; j < B; j++) b += char(FILLER[j % sizeof FILLER]);
    b.replace(0, BLOCK_HEADER_SIZE, BLOCK_HEADER_SIZE, '\0');
  }
  return b;
}

// Built into one buffer that keeps its room from input to input.
const std::string &expand(const uint8_t *d, size_t size) {
  static std::string c;
  c.clear();
  if (size == 0) return c;
  uint16_t format = d[0] & 1;
  uint32_t B = format ? BLOCK_SIZE_LONG : BLOCK_SIZE_SHORT;
  size_t i = 1;
  for (int k = 0; k < MAX_BLOCKS && i + 4 <= size; k++) {
    uint32_t vf = uint32_t(d[i] << 8 | d[i + 1]), af = uint32_t(d[i + 2] << 8 | d[i + 3]);
    i += 4;
    size_t at = c.size();
    c += empty_block(B);
    char *blk = c.data() + at;
    // Only block 0's format counts; later blocks carry it too.
    blk[6] = char(af >> 8), blk[7] = char(af);
    blk[10] = char(vf >> 8), blk[11] = char(vf);
    blk[29] = char(format);
    size_t v = std::min<size_t>({vf, VIDEO_AREA_MAX, size - i});
    memcpy(blk + VIDEO_AREA_OFFSET, d + i, v);
    i += v;
    size_t a = std::min<size_t>({af, AUDIO_AREA_MAX, size - i});
    memcpy(blk + AUDIO_AREA_OFFSET, d + i, a);
    i += a;
  }
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  const std::string &c = expand(data, size);
  fuzz::check_conversion(reinterpret_cast<const uint8_t *>(c.data()), c.size());
  return 0;
}

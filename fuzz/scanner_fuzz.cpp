// The PES scanner over any bytes: every offset it returns lies within the
// buffer, a returned packet lies within `len`, the header record matches
// the bytes at the returned start, and each function agrees with a plain
// restatement of its contract. Walking the buffer packet by packet, as the
// converter does, must end.
#include <cstdint>
#include <cstring>

#include "check.h"
#include "scanner.h"

using namespace vux;

namespace {

bool is_start(const uint8_t *d, int32_t len, int32_t i) {
  return i + 3 < len && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] >= 0xBC;
}

void check_info(const pes_hdrinfo &info, const uint8_t *d, int32_t len) {
  FUZZ_CHECK(info.stream_id == d[3]);
  if (len >= 6) FUZZ_CHECK(info.pes_packet_length == (d[4] << 8 | d[5]));
}

void check_view(const uint8_t *d, int32_t len) {
  // The first start code, and none before it.
  int32_t k = find_pes_stcode(d, len);
  int32_t first = -1;
  for (int32_t i = 0; i + 3 < len; i++)
    if (is_start(d, len, i)) {
      first = i;
      break;
    }
  FUZZ_CHECK(k == first);

  pes_hdrinfo info;
  int ok = get_pes_hdrinfo(&info, d, len);
  FUZZ_CHECK(ok == 0 || ok == 1);
  if (len >= 4) check_info(info, d, len);
  if (ok) FUZZ_CHECK(len >= 6);

  int32_t s = find_pes_pkt_start(d, len, &info);
  FUZZ_CHECK(s >= -1 && s < len);
  if (s >= 0) {
    FUZZ_CHECK(is_start(d, len, s));
    check_info(info, d + s, len - s);
    pes_hdrinfo again;
    FUZZ_CHECK(get_pes_hdrinfo(&again, d + s, len - s) == 1);
  }

  int32_t n = -5;
  int32_t f = find_pes_full_pkt(d, len, &n, &info);
  FUZZ_CHECK(f >= -1 && f < len);
  if (f < 0) {
    FUZZ_CHECK(n == 0);
    return;
  }
  FUZZ_CHECK(f == s);
  FUZZ_CHECK(n >= 4 && f + n <= len);
  check_info(info, d + f, len - f);
  if (info.pes_packet_length != 0) {
    FUZZ_CHECK(n == info.pes_packet_length + 6);
  } else {
    // Ends at the next accepted start at least 4 bytes behind its own.
    pes_hdrinfo next;
    FUZZ_CHECK(is_start(d, len, f + n));
    FUZZ_CHECK(get_pes_hdrinfo(&next, d + f + n, len - f - n) == 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  if (size > (1u << 20)) return 0;
  const auto *d = static_cast<const uint8_t *>(data);
  int32_t len = int32_t(size);
  check_view(d, len);

  // The converter's walk: packet after packet, the rest kept.
  int32_t c = 0, steps = 0;
  pes_hdrinfo info;
  int32_t n;
  for (;;) {
    int32_t s = find_pes_full_pkt(d + c, len - c, &n, &info);
    if (s < 0) break;
    FUZZ_CHECK(n > 0 && c + s + n <= len);
    c += s + n;
    FUZZ_CHECK(++steps <= len);
    if (steps <= 8) check_view(d + c, len - c);
  }
  return 0;
}

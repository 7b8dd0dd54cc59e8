// The pack writer over every packet the scanner finds in any bytes: each
// packet becomes whole packs, each pack a pack header and PES packets that
// fill it exactly, the packet's own bytes stay unchanged, and its data
// comes out complete and in order (or, for a packet shorter than its own
// header claims, one pack of padding).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "packs.h"
#include "scanner.h"
#include "writer.h"

using namespace vux;

namespace {

ps_output out;  // too large for the stack

void check_packet(const uint8_t *p, int32_t n) {
  std::string before(reinterpret_cast<const char *>(p), size_t(n));
  fuzz::mem_sink dst;
  init_output(&out, dst.sink());
  FUZZ_CHECK(_write_pes_packet(&out, p, n) == 0);
  FUZZ_CHECK(flush_output(&out) == 0);
  FUZZ_CHECK(before == std::string(reinterpret_cast<const char *>(p), size_t(n)));
  FUZZ_CHECK(!dst.data.empty());
  std::vector<fuzz::packet> got = fuzz::read_packs(dst.data);
  // No more packs than the packet's bytes need, plus one for a moved tail.
  FUZZ_CHECK(dst.data.size() / PACK_SIZE <= size_t(n) / PES_D_SIZE + 2);

  // A packet of length 0 may end 4 bytes behind its start, inside its own
  // header: padding only.
  if (n < 6) {
    FUZZ_CHECK(got.size() == 1 && got[0].id == PADDING_STREAM_ID);
    return;
  }
  uint8_t id = p[3];
  if (id == PADDING_STREAM_ID) return;  // its pieces look like the padding
  std::string data;
  for (const auto &r : got)
    if (r.id == id) data += r.payload;
  if (is_short_form_id(id)) {
    FUZZ_CHECK(data == before.substr(6));
    return;
  }
  int32_t c = n >= 9 ? p[8] : 0;
  if (n < 9 + c) {
    // Too short for its own header: padding only.
    FUZZ_CHECK(got.size() == 1 && got[0].id == PADDING_STREAM_ID);
    return;
  }
  FUZZ_CHECK(data == before.substr(size_t(9 + c)));
  // The header data (time stamps) goes out in the first piece, ahead of
  // any stuffing.
  FUZZ_CHECK(got[0].id == id);
  FUZZ_CHECK(got[0].header_data.compare(0, size_t(c), before, 9, size_t(c)) == 0);
  FUZZ_CHECK(std::all_of(got[0].header_data.begin() + c, got[0].header_data.end(),
                         [](char b) { return uint8_t(b) == 0xFF; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  if (size > (1u << 20)) return 0;
  const auto *d = static_cast<const uint8_t *>(data);
  int32_t len = int32_t(size), c = 0, n;
  pes_hdrinfo info;
  for (;;) {
    int32_t s = find_pes_full_pkt(d + c, len - c, &n, &info);
    if (s < 0) break;
    check_packet(d + c + s, n);
    c += s + n;
  }
  return 0;
}

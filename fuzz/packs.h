// Shared by the writer and converter targets: a strict reader of the
// program stream vux2mpeg writes, and memory sinks and sources.
#pragma once

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <vector>

#include "check.h"
#include "scanner.h"
#include "driver.h"
#include "writer.h"

namespace fuzz {

// One PES packet inside a pack.
struct packet {
  uint8_t id;
  std::string header_data;  // long form only
  std::string payload;
};

inline constexpr uint8_t PACK_HEADER[14] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                            0x00, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00};

// Every 2048 bytes a pack header and PES packets that fill the rest
// exactly; stops the run otherwise. Returns the packets in order.
inline std::vector<packet> read_packs(const std::string &out) {
  FUZZ_CHECK(out.size() % vux::PACK_SIZE == 0);
  std::vector<packet> all;
  const auto *o = reinterpret_cast<const uint8_t *>(out.data());
  for (size_t p = 0; p < out.size(); p += vux::PACK_SIZE) {
    FUZZ_CHECK(memcmp(o + p, PACK_HEADER, sizeof PACK_HEADER) == 0);
    size_t i = p + sizeof PACK_HEADER, end = p + vux::PACK_SIZE;
    while (i < end) {
      FUZZ_CHECK(i + 6 <= end);
      FUZZ_CHECK(o[i] == 0 && o[i + 1] == 0 && o[i + 2] == 1 && o[i + 3] >= 0xBC);
      packet r{o[i + 3], {}, {}};
      size_t last = i + 6 + size_t(o[i + 4] << 8 | o[i + 5]);
      FUZZ_CHECK(last <= end);
      if (vux::is_short_form_id(r.id)) {
        r.payload.assign(out, i + 6, last - i - 6);
      } else {
        FUZZ_CHECK(i + 9 <= last);
        size_t h = o[i + 8];
        FUZZ_CHECK(i + 9 + h <= last);
        r.header_data.assign(out, i + 9, h);
        r.payload.assign(out, i + 9 + h, last - i - 9 - h);
      }
      all.push_back(std::move(r));
      i = last;
    }
  }
  return all;
}

// A sink into a string; fails with ENOSPC once `fail_at` bytes are in, and
// takes at most `chunk` bytes a call.
struct mem_sink {
  std::string data;
  size_t chunk = SIZE_MAX, fail_at = SIZE_MAX;
  static ssize_t write(void *ctx, const void *buf, size_t n) {
    auto *s = static_cast<mem_sink *>(ctx);
    if (s->data.size() >= s->fail_at) {
      errno = ENOSPC;
      return -1;
    }
    size_t k = std::min({n, s->chunk, s->fail_at - s->data.size()});
    s->data.append(static_cast<const char *>(buf), k);
    return ssize_t(k);
  }
  vux::sink sink() { return vux::sink{write, this}; }
};

// A source over a buffer; hands out at most `chunk` bytes a call.
struct mem_source {
  const uint8_t *data;
  size_t size, pos = 0, chunk = SIZE_MAX;
  static ssize_t read(void *ctx, void *buf, size_t n) {
    auto *s = static_cast<mem_source *>(ctx);
    size_t k = std::min({n, s->chunk, s->size - s->pos});
    memcpy(buf, s->data + s->pos, k);
    s->pos += k;
    return ssize_t(k);
  }
  vux::source source() { return vux::source{read, this, 0}; }
};

}  // namespace fuzz

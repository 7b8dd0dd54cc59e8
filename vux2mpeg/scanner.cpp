// PES packet scanner of vux2mpeg: start codes, header plausibility, and
// packet completeness over a (pointer, length) view of the pending bytes.
#include "scanner.h"

#include <cstring>

namespace vux {

namespace {

inline uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

// Offsets inside a long-form PES header.
constexpr int32_t FLAGS1 = 6;        // '10', scrambling, priority, ...
constexpr int32_t FLAGS2 = 7;        // PTS_DTS_flags in the top two bits
constexpr int32_t HDR_DATA_LEN = 8;  // PES_header_data_length
constexpr int32_t HDR_DATA = 9;      // first header-data byte
constexpr int32_t PTS_FLAG = 0x80, DTS_FLAG = 0x40;

}  // namespace

int is_short_form_id(uint8_t id) {
  switch (id) {
    case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
      return 1;
    default:
      return 0;
  }
}

int32_t find_pes_stcode(const uint8_t *data, int32_t len) {
  // Look for the 0x01 of the prefix with memchr; a candidate at i needs the
  // bytes i..i+3, so the 0x01 at j = i + 2 can lie at most at len - 2.
  int32_t i = 0;
  while (i + 3 < len) {
    const void *hit = memchr(data + i + 2, 0x01, size_t(len - 3 - i));
    if (!hit) return -1;
    int32_t j = int32_t(static_cast<const uint8_t *>(hit) - data);
    if (data[j - 2] == 0 && data[j - 1] == 0 && data[j + 1] >= FIRST_PES_STREAM_ID)
      return j - 2;
    i = j - 1;
  }
  return -1;
}

int get_pes_hdrinfo(pes_hdrinfo *info, const uint8_t *data, int32_t len) {
  *info = pes_hdrinfo{};
  if (len < 4) return 0;
  uint8_t id = data[3];
  info->stream_id = id;
  if (len >= 6) info->pes_packet_length = be16(data + 4);
  if (is_short_form_id(id)) return len >= 6;
  if (id < FIRST_PES_STREAM_ID) return 0;
  // Nine header bytes are the least a long-form header has.
  if (len < HDR_DATA) return 0;
  if ((data[FLAGS1] & 0xC0) != 0x80) return 0;
  int flags = data[FLAGS2];
  int32_t h = data[HDR_DATA_LEN];
  if (HDR_DATA + h > len) return 0;
  if (flags & PTS_FLAG) {
    bool dts = flags & DTS_FLAG;
    // The prefix nibble of the PTS (and of the DTS behind it) names which
    // stamps follow. With a header-data length too small to hold them, the
    // bytes tested are those behind the header, which must have arrived.
    if (HDR_DATA >= len) return 0;
    if ((data[HDR_DATA] >> 4) != (dts ? 0x3 : 0x2)) return 0;
    if (dts) {
      if (HDR_DATA + 5 >= len) return 0;
      if ((data[HDR_DATA + 5] >> 4) != 0x1) return 0;
    }
  }
  return 1;
}

int32_t find_pes_pkt_start(const uint8_t *data, int32_t len, pes_hdrinfo *info) {
  int32_t pos = 0;
  do {
    int32_t k = find_pes_stcode(data + pos, len - pos);
    if (k < 0) return -1;
    pos += k;
    if (get_pes_hdrinfo(info, data + pos, len - pos)) return pos;
    pos += 4;
  } while (pos < len);
  return -1;
}

int32_t find_pes_full_pkt(const uint8_t *data, int32_t len, int32_t *out_len,
                          pes_hdrinfo *info) {
  *out_len = 0;
  int32_t s = find_pes_pkt_start(data, len, info);
  if (s < 0) return -1;
  int32_t L = info->pes_packet_length;
  if (L != 0) {
    if (s + L + 6 > len) return -1;  // not all of it has arrived yet
    *out_len = L + 6;
    return s;
  }
  // No length given: the packet ends where the next one starts, and that
  // start counts only once its whole header is here.
  if (s + 4 >= len) return -1;
  pes_hdrinfo next;
  int32_t t = find_pes_pkt_start(data + s + 4, len - s - 4, &next);
  if (t < 0) return -1;
  *out_len = t + 4;
  return s;
}

}  // namespace vux

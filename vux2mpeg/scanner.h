// PES packet scanner of vux2mpeg.
//
// Finds complete PES packets (ISO/IEC 13818-1) in the pending bytes of one
// area of a recording container. It only looks: it never changes the bytes,
// never allocates and never reads past the `len` valid bytes it is given.
// The same scanner serves the video and the audio area: any stream id from
// 0xBC up whose header passes the tests is accepted in either.
#pragma once

#include <cstdint>

namespace vux {

// The start-code prefix 00 00 01, kept as one big-endian word with a stream
// id of 0xBC behind it; only its first three bytes are compared.
inline constexpr uint32_t pes_startcode = 0x000001BC;

// Stream ids from this value up are packet starts; below it are the program
// end code, pack and system headers and the video start codes.
inline constexpr uint8_t FIRST_PES_STREAM_ID = 0xBC;

// What get_pes_hdrinfo learnt about one header. Cleared on every call.
struct pes_hdrinfo {
  uint8_t stream_id;
  // Counts the bytes after itself (a packet of length L occupies L + 6
  // bytes); 0 means "not given": the packet runs up to the next start.
  uint16_t pes_packet_length;
};

// 1 for the ids whose header is only prefix, id and PES_packet_length
// (padding, private stream 2, ECM, EMM, DSM-CC, H.222.1 type E, directory).
int is_short_form_id(uint8_t id);

// The offset of the first i with bytes i..i+2 = 00 00 01 and byte i+3 of
// 0xBC or more, all four within `len`; -1 when there is none.
int32_t find_pes_stcode(const uint8_t *data, int32_t len);

// 1 when the `len` valid bytes at `data` (which points at a prefix) begin
// with a plausible PES header, else 0. `info` is cleared, then receives the
// stream id and, when its two bytes are valid, PES_packet_length. A long-form
// header is accepted only when its header data lies within `len`, and with a
// PTS flag only when the time-stamp prefix bytes to test lie within `len`.
int get_pes_hdrinfo(pes_hdrinfo *info, const uint8_t *data, int32_t len);

// The offset of the first candidate start whose header get_pes_hdrinfo
// accepts, or -1; `info` then holds that header's record. A refused header
// is passed over by 4 bytes.
int32_t find_pes_pkt_start(const uint8_t *data, int32_t len, pes_hdrinfo *info);

// The offset of the first packet start whose packet is complete within
// `len`, or -1. On success *out_len is the packet's size in bytes (header
// included); it is 0 after every unsuccessful call. A packet of given length
// L is complete when its L + 6 bytes are present; one of length 0 ends at the
// next accepted packet start (any stream id) at least 4 bytes behind its own.
// `info` keeps the found packet's own header record.
int32_t find_pes_full_pkt(const uint8_t *data, int32_t len, int32_t *out_len,
                          pes_hdrinfo *info);

}  // namespace vux

// Program-stream writer of vux2mpeg.
//
// Turns each complete PES packet into one or more packs of an MPEG-2 program
// stream (ISO/IEC 13818-1). Every pack is exactly PACK_SIZE bytes: the
// 14-byte pack header and 2034 bytes of PES data. A shorter packet is filled
// up with stuffing bytes in its own header or with a padding packet behind
// it; a longer one is split into pieces of a pack each. The output is packs
// and nothing else: no system header, no stream map, no end code.
//
// Packs are assembled in the output's buffer and go out whole, several in
// one write(); a short write or EINTR is retried, so the bytes are those of
// writing piece by piece. A failed write is reported once with perror
// ("pack_header write" when the failing byte lies in a pack header, "pes
// header write" otherwise); from then on nothing more is written and every
// call returns -1, so that the driver stops and says so in its exit status.
//
// Packets the long-form rules do not fit, each still written as whole packs:
// - Short-form stream ids (0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF) have no
//   header-data length to stuff. Their data behind the 6-byte header is cut
//   into pieces, each behind a 6-byte header of the same id with the piece's
//   own length: 2028 bytes fill a pack alone; a shorter piece (at most 2022
//   bytes, so that at least 6 bytes of room are left) is followed by a
//   padding packet. A remainder of 2023 to 2027 bytes is therefore cut into
//   2022 bytes and the rest.
// - A long-form packet of 2029 to 2033 bytes whose header cannot take the
//   room as stuffing (c + f > 255) leaves too little room for a padding
//   packet. Its last 6 - f bytes are moved into a second pack, as the last
//   piece of a split packet would be; the first pack holds the rest of the
//   packet (with its length set to match) and a 6-byte padding packet.
// - A packet shorter than its own header claims (fewer than 6 bytes, or a
//   long-form packet shorter than 9 + PES_header_data_length) holds nothing
//   a decoder could use. It is replaced by one pack of padding, so that it
//   neither reads past its end nor corrupts the stream.
// - A packet written whole and unchanged beside a padding packet gets its
//   true length n - 6 in bytes 4 and 5: a packet of length 0 (not given) is
//   dropped by program-stream decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace vux {

inline constexpr int32_t PACK_SIZE = 2048;
inline constexpr int32_t PACK_HEADER_SIZE = 14;
// PES bytes in every pack.
inline constexpr int32_t PES_PER_PACK = PACK_SIZE - PACK_HEADER_SIZE;  // 2034
// PES_packet_length of a packet that fills a pack alone (2034 - 6).
inline constexpr int32_t PES_PACKET_LEN = PES_PER_PACK - 6;  // 2028
// Payload of a full continuation piece behind its 9-byte header.
inline constexpr int32_t PES_D_SIZE = PES_PACKET_LEN - 3;  // 2025
// The most stuffing (and header data) a PES header can hold.
inline constexpr int32_t MAX_HEADER_DATA = 255;
inline constexpr uint8_t PADDING_STREAM_ID = 0xBE;

// Where finished bytes go: write(2) semantics (bytes written, or -1 with
// errno). The program writes to a descriptor; tests and fuzzers to memory.
struct sink {
  ssize_t (*write)(void *ctx, const void *buf, size_t n);
  void *ctx;
};

// A sink over descriptor `fd`.
sink fd_sink(int fd);

// Packs wait here until the buffer is full or flush_output is called.
inline constexpr size_t OUTPUT_PACKS = 32;
struct ps_output {
  sink dst;
  uint8_t buf[OUTPUT_PACKS * PACK_SIZE];
  size_t fill;       // bytes not yet handed to dst
  uint64_t flushed;  // bytes handed to dst so far
  int failed;        // a write failed and was reported
};

// Prepares `out` to write to `dst`.
void init_output(ps_output *out, sink dst);

// Hands every buffered byte to the sink. 0, or -1 once a write has failed.
int flush_output(ps_output *out);

// Writes the PES packet of n bytes at `packet` (from its start-code prefix)
// as whole packs. The packet's bytes are not changed. 0, or -1 once a write
// has failed.
int _write_pes_packet(ps_output *out, const uint8_t *packet, int32_t n);

// The pieces _write_pes_packet is made of. Each appends to the pack being
// assembled; write_pack_header starts a new pack.

// The 14-byte pack header: SCR 0, program_mux_rate 0, marker bits set, no
// pack stuffing.
void write_pack_header(ps_output *out);
// 00 00 01 id, PES_packet_length = payload + stuffing + 3, then (long-form
// ids only) 0x80, 0x00 and PES_header_data_length = stuffing. The stuffing
// bytes themselves are the caller's.
void write_new_pes_header(ps_output *out, uint8_t id, int32_t payload, int32_t stuffing);
// The first 9 bytes at `header`.
void write_pes_header(ps_output *out, const uint8_t *header);
// Sets bytes 4 and 5 of `packet` to payload + header_data_len + 3 and byte 8
// to header_data_len.
void change_pes_header(uint8_t *packet, int32_t payload, int32_t header_data_len);
// `len` bytes from `data`.
void write_pes(ps_output *out, const uint8_t *data, int32_t len);
// A padding packet of R bytes in all (R >= 6): 00 00 01 BE, R - 6, then
// R - 6 bytes of 0xFF.
void write_pedding(ps_output *out, int32_t R);

}  // namespace vux

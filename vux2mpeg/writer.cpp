// Program-stream writer of vux2mpeg: stuffing, padding and splitting of PES
// packets into 2048-byte packs, and the buffered output they go to.
#include "writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "scanner.h"

namespace vux {

namespace {

// 00 00 01 BA, then '01', SCR base 0 with its three marker bits, SCR
// extension 0 and a marker bit, program_mux_rate 0 with two marker bits, and
// reserved bits and pack_stuffing_length written as 0.
constexpr uint8_t PACK_HEADER[PACK_HEADER_SIZE] = {
    0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00,
    0x04, 0x01, 0x00, 0x00, 0x03, 0x00};

// The last piece of a split packet takes at most this many bytes with
// stuffing; below it the room is too large for the header and is padded.
constexpr int32_t LAST_PIECE_STUFF_MIN = PES_D_SIZE - MAX_HEADER_DATA;  // 1770
// A short-form piece that does not fill its pack must leave room for a
// padding packet.
constexpr int32_t SHORT_PIECE_MAX = PES_PACKET_LEN - 6;  // 2022

ssize_t fd_write(void *ctx, const void *buf, size_t n) {
  return ::write(int(reinterpret_cast<intptr_t>(ctx)), buf, n);
}

inline void put16(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

inline void append(ps_output *out, const void *data, size_t len) {
  if (out->failed) return;
  if (out->fill + len > sizeof out->buf && flush_output(out) < 0) return;
  memcpy(out->buf + out->fill, data, len);
  out->fill += len;
}

inline void append_ff(ps_output *out, int32_t count) {
  if (out->failed || count <= 0) return;
  if (out->fill + size_t(count) > sizeof out->buf && flush_output(out) < 0) return;
  memset(out->buf + out->fill, 0xFF, size_t(count));
  out->fill += size_t(count);
}

// One pack of padding, in place of a packet too broken to write.
void write_padding_pack(ps_output *out) {
  write_pack_header(out);
  write_pedding(out, PES_PER_PACK);
}

// The last r bytes (1 <= r <= 2024) of a split packet, in a pack of their
// own behind a 9-byte header: stuffed when the room fits the header, else
// padded.
void write_last_piece(ps_output *out, uint8_t id, const uint8_t *data, int32_t r) {
  int32_t f = PES_D_SIZE - r;
  write_pack_header(out);
  if (r >= LAST_PIECE_STUFF_MIN) {
    write_new_pes_header(out, id, r, f);
    append_ff(out, f);
    write_pes(out, data, r);
  } else {
    write_new_pes_header(out, id, r, 0);
    write_pes(out, data, r);
    write_pedding(out, f);
  }
}

// Short-form packets: the data behind the 6-byte header, in pieces.
void write_short_form(ps_output *out, const uint8_t *packet, int32_t n) {
  uint8_t id = packet[3];
  const uint8_t *data = packet + 6;
  int32_t left = n - 6;
  do {
    int32_t piece = left >= PES_PACKET_LEN ? PES_PACKET_LEN
                    : left <= SHORT_PIECE_MAX ? left : SHORT_PIECE_MAX;
    write_pack_header(out);
    // Six header bytes only, so the "+ 3" of the long form is taken off.
    write_new_pes_header(out, id, piece - 3, 0);
    write_pes(out, data, piece);
    if (piece < PES_PACKET_LEN) write_pedding(out, PES_PACKET_LEN - piece);
    data += piece;
    left -= piece;
  } while (left > 0);
}

}  // namespace

sink fd_sink(int fd) { return sink{fd_write, reinterpret_cast<void *>(intptr_t(fd))}; }

void init_output(ps_output *out, sink dst) {
  out->dst = dst;
  out->fill = 0;
  out->flushed = 0;
  out->failed = 0;
}

int flush_output(ps_output *out) {
  if (out->failed) return -1;
  size_t done = 0;
  while (done < out->fill) {
    ssize_t w = out->dst.write(out->dst.ctx, out->buf + done, out->fill - done);
    if (w > 0) {
      done += size_t(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = EIO;  // no progress and no reason: do not spin
    uint64_t in_pack = (out->flushed + done) % PACK_SIZE;
    perror(in_pack < PACK_HEADER_SIZE ? "pack_header write" : "pes header write");
    out->failed = 1;
    return -1;
  }
  out->flushed += done;
  out->fill = 0;
  return 0;
}

void write_pack_header(ps_output *out) {
  // A pack never straddles two writes unless it is larger than the buffer.
  if (out->fill + PACK_SIZE > sizeof out->buf) flush_output(out);
  append(out, PACK_HEADER, sizeof PACK_HEADER);
}

void write_new_pes_header(ps_output *out, uint8_t id, int32_t payload, int32_t stuffing) {
  uint8_t h[9] = {0x00, 0x00, 0x01, id, 0, 0, 0x80, 0x00, uint8_t(stuffing)};
  put16(h + 4, uint32_t(payload + stuffing + 3));
  append(out, h, is_short_form_id(id) ? 6 : 9);
}

void write_pes_header(ps_output *out, const uint8_t *header) { append(out, header, 9); }

void change_pes_header(uint8_t *packet, int32_t payload, int32_t header_data_len) {
  put16(packet + 4, uint32_t(payload + header_data_len + 3));
  packet[8] = uint8_t(header_data_len);
}

void write_pes(ps_output *out, const uint8_t *data, int32_t len) {
  if (len > 0) append(out, data, size_t(len));
}

void write_pedding(ps_output *out, int32_t R) {
  write_new_pes_header(out, PADDING_STREAM_ID, R - 9, 0);
  append_ff(out, R - 6);
}

int _write_pes_packet(ps_output *out, const uint8_t *packet, int32_t n) {
  if (out->failed) return -1;
  if (n < 6) {
    write_padding_pack(out);
    return out->failed ? -1 : 0;
  }
  uint8_t id = packet[3];
  if (is_short_form_id(id)) {
    write_short_form(out, packet, n);
    return out->failed ? -1 : 0;
  }
  int32_t c = n >= 9 ? packet[8] : 0;
  if (n < 9 + c) {
    write_padding_pack(out);
    return out->failed ? -1 : 0;
  }
  // The header is changed in a copy: the caller's bytes stay as they were.
  uint8_t hdr[9];
  memcpy(hdr, packet, sizeof hdr);

  if (n < PES_PER_PACK) {
    int32_t f = PES_PER_PACK - n;
    write_pack_header(out);
    if (c + f <= MAX_HEADER_DATA) {
      // The room goes into the header as stuffing, before the payload.
      change_pes_header(hdr, n - 9 - c, c + f);
      write_pes_header(out, hdr);
      write_pes(out, packet + 9, c);
      append_ff(out, f);
      write_pes(out, packet + 9 + c, n - 9 - c);
    } else if (f >= 6) {
      // Unchanged but for its true length, then a padding packet.
      put16(hdr + 4, uint32_t(n - 6));
      write_pes_header(out, hdr);
      write_pes(out, packet + 9, n - 9);
      write_pedding(out, f);
    } else {
      // Too little room for a padding packet: the last 6 - f bytes move to
      // a pack of their own.
      int32_t r = 6 - f, m = n - r;
      put16(hdr + 4, uint32_t(m - 6));
      write_pes_header(out, hdr);
      write_pes(out, packet + 9, m - 9);
      write_pedding(out, 6);
      write_last_piece(out, id, packet + m, r);
    }
    return out->failed ? -1 : 0;
  }

  // Split: the packet's own header (with its time stamps) goes out in the
  // first piece; the continuation pieces carry none.
  write_pack_header(out);
  put16(hdr + 4, PES_PACKET_LEN);
  write_pes_header(out, hdr);
  write_pes(out, packet + 9, PES_PER_PACK - 9);
  const uint8_t *p = packet + PES_PER_PACK;
  int32_t left = n - PES_PER_PACK;
  while (left > PES_D_SIZE - 1) {
    write_pack_header(out);
    write_new_pes_header(out, id, PES_D_SIZE, 0);
    write_pes(out, p, PES_D_SIZE);
    p += PES_D_SIZE;
    left -= PES_D_SIZE;
  }
  if (left > 0) write_last_piece(out, id, p, left);
  return out->failed ? -1 : 0;
}

}  // namespace vux

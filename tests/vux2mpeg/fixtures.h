// Builders of PES packets and containers, memory sources and sinks, and a
// strict reader of the packs vux2mpeg writes, shared by its tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver.h"
#include "writer.h"

using Bytes = std::string;

Bytes bytes(std::initializer_list<int> list);
Bytes be16(uint32_t v);
Bytes be32(uint32_t v);

// A long-form PES packet: prefix, id, PES_packet_length (the true one, or 0
// with length0), 0x80, `flags`, header data, payload.
Bytes pes(uint8_t id, const Bytes &header_data, const Bytes &payload, uint8_t flags = 0,
          bool length0 = false);
// A short-form packet: prefix, id, PES_packet_length, payload.
Bytes short_pes(uint8_t id, const Bytes &payload, bool length0 = false);
// n bytes of a recognisable pattern without any 00 00 01 in it.
Bytes pattern(size_t n, uint8_t seed = 0);

// One container block: header fields as given, areas filled with `video`
// and `audio` (the rest of the block with `filler`).
struct block_spec {
  Bytes video, audio;
  uint16_t format = 0;
  int64_t video_field = -1, audio_field = -1;  // -1: the area's length
  uint32_t size = vux::BLOCK_SIZE_SHORT;
};
Bytes container_block(const block_spec &b, uint8_t filler = 0xA5);

// A source over `data` that hands out at most `chunk` bytes per read, and
// fails with `fail_errno` once `fail_at` bytes have been read (when set);
// every other read fails once with EINTR when `eintr` is set.
struct mem_source {
  Bytes data;
  size_t pos = 0, chunk = SIZE_MAX, fail_at = SIZE_MAX;
  int fail_errno = EIO;
  bool eintr = false, eintr_next = false;
  vux::source source();
};

// A sink into `data`; accepts at most `chunk` bytes a write, and fails with
// `fail_errno` once `fail_at` bytes have been accepted; `calls` counts writes.
struct mem_sink {
  Bytes data;
  size_t chunk = SIZE_MAX, fail_at = SIZE_MAX, calls = 0;
  int fail_errno = ENOSPC;
  bool eintr = false, eintr_next = false;
  vux::sink sink();
};

struct conversion {
  int status;
  Bytes out;
};
// Runs the whole conversion over memory.
conversion convert_memory(mem_source src, mem_sink dst = {});

// One PES packet inside a pack, as read back.
struct pes_read {
  uint8_t id;
  uint16_t length;
  Bytes header_data;  // long form only
  Bytes payload;
};
// Reads `out` as packs; adds a failure to the current test and returns what
// it got so far when a pack is not exactly a pack header and PES packets
// filling 2034 bytes.
std::vector<std::vector<pes_read>> read_packs(const Bytes &out);
// The payload of every packet of stream `id`, concatenated.
Bytes stream_payload(const Bytes &out, uint8_t id);

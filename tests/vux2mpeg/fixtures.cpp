#include "fixtures.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

#include "scanner.h"

Bytes bytes(std::initializer_list<int> list) {
  Bytes b;
  for (int v : list) b += char(v);
  return b;
}
Bytes be16(uint32_t v) { return bytes({int(v >> 8 & 0xFF), int(v & 0xFF)}); }
Bytes be32(uint32_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }

Bytes pes(uint8_t id, const Bytes &header_data, const Bytes &payload, uint8_t flags,
          bool length0) {
  size_t L = 3 + header_data.size() + payload.size();
  return bytes({0, 0, 1, id}) + be16(length0 ? 0 : uint32_t(L)) +
         bytes({0x80, flags, int(header_data.size())}) + header_data + payload;
}

Bytes short_pes(uint8_t id, const Bytes &payload, bool length0) {
  return bytes({0, 0, 1, id}) + be16(length0 ? 0 : uint32_t(payload.size())) + payload;
}

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n, 0);
  for (size_t i = 0; i < n; i++) b[i] = char(0x20 + (i * 7 + seed) % 200);
  return b;
}

Bytes container_block(const block_spec &b, uint8_t filler) {
  Bytes blk(b.size, char(filler));
  Bytes h(vux::BLOCK_HEADER_SIZE, 0);
  h.replace(4, 4, be32(uint32_t(b.audio_field < 0 ? b.audio.size() : b.audio_field)));
  h.replace(8, 4, be32(uint32_t(b.video_field < 0 ? b.video.size() : b.video_field)));
  h.replace(28, 2, be16(b.format));
  blk.replace(0, h.size(), h);
  blk.replace(vux::VIDEO_AREA_OFFSET, b.video.size(), b.video);
  blk.replace(vux::AUDIO_AREA_OFFSET, b.audio.size(), b.audio);
  return blk;
}

namespace {
ssize_t src_read(void *ctx, void *buf, size_t n) {
  auto *s = static_cast<mem_source *>(ctx);
  if (s->eintr && (s->eintr_next = !s->eintr_next)) {
    errno = EINTR;
    return -1;
  }
  if (s->pos >= s->fail_at) {
    errno = s->fail_errno;
    return -1;
  }
  size_t k = std::min({n, s->chunk, s->data.size() - s->pos, s->fail_at - s->pos});
  memcpy(buf, s->data.data() + s->pos, k);
  s->pos += k;
  return ssize_t(k);
}
ssize_t sink_write(void *ctx, const void *buf, size_t n) {
  auto *s = static_cast<mem_sink *>(ctx);
  s->calls++;
  if (s->eintr && (s->eintr_next = !s->eintr_next)) {
    errno = EINTR;
    return -1;
  }
  if (s->data.size() >= s->fail_at) {
    errno = s->fail_errno;
    return -1;
  }
  size_t k = std::min({n, s->chunk, s->fail_at - s->data.size()});
  s->data.append(static_cast<const char *>(buf), k);
  return ssize_t(k);
}
}  // namespace

vux::source mem_source::source() { return vux::source{src_read, this, 0}; }
vux::sink mem_sink::sink() { return vux::sink{sink_write, this}; }

conversion convert_memory(mem_source src, mem_sink dst) {
  static vux::ps_output out;
  vux::buffers bufs{};
  EXPECT_EQ(vux::alloc_buffers(&bufs), 0);
  vux::source in = src.source();
  vux::init_output(&out, dst.sink());
  int status = vux::convert(&in, &out, bufs, 0);
  vux::free_buffers(&bufs);
  return {status, dst.data};
}

std::vector<std::vector<pes_read>> read_packs(const Bytes &out) {
  static const Bytes pack_header =
      bytes({0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00});
  std::vector<std::vector<pes_read>> packs;
  EXPECT_EQ(out.size() % vux::PACK_SIZE, 0u) << "output is not whole packs";
  for (size_t p = 0; p + vux::PACK_SIZE <= out.size(); p += vux::PACK_SIZE) {
    Bytes pack = out.substr(p, vux::PACK_SIZE);
    if (pack.compare(0, 14, pack_header) != 0) {
      ADD_FAILURE() << "pack " << p / 2048 << " lacks the pack header";
      return packs;
    }
    std::vector<pes_read> pkts;
    size_t i = 14;
    while (i < pack.size()) {
      auto u = [&](size_t k) { return uint8_t(pack[k]); };
      if (i + 6 > pack.size() || pack.compare(i, 3, bytes({0, 0, 1})) != 0 || u(i + 3) < 0xBC) {
        ADD_FAILURE() << "pack " << p / 2048 << ": no PES packet at " << i;
        return packs;
      }
      pes_read r{u(i + 3), uint16_t(u(i + 4) << 8 | u(i + 5)), {}, {}};
      size_t end = i + 6 + r.length;
      if (end > pack.size()) {
        ADD_FAILURE() << "pack " << p / 2048 << ": packet at " << i << " overruns the pack";
        return packs;
      }
      if (vux::is_short_form_id(r.id)) {
        r.payload = pack.substr(i + 6, r.length);
      } else {
        size_t h = u(i + 8);
        if (r.length < 3 + h) {
          ADD_FAILURE() << "pack " << p / 2048 << ": header data beyond the packet";
          return packs;
        }
        r.header_data = pack.substr(i + 9, h);
        r.payload = pack.substr(i + 9 + h, end - (i + 9 + h));
      }
      pkts.push_back(r);
      i = end;
    }
    packs.push_back(pkts);
  }
  return packs;
}

Bytes stream_payload(const Bytes &out, uint8_t id) {
  Bytes all;
  for (auto &pack : read_packs(out))
    for (auto &r : pack)
      if (r.id == id) all += r.payload;
  return all;
}

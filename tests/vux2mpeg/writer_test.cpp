// The program-stream writer: exact bytes of the packing rules, whole valid
// packs for every size and header form, and failing outputs.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "fixtures.h"
#include "scanner.h"
#include "writer.h"

using namespace vux;

namespace {

const Bytes PACK = bytes({0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0, 0, 3, 0});

Bytes ff(size_t n) { return Bytes(n, '\xff'); }
Bytes padding(size_t R) { return bytes({0, 0, 1, 0xBE}) + be16(uint32_t(R - 6)) + ff(R - 6); }
Bytes new_header(uint8_t id, uint32_t L, uint8_t stuffing) {
  return bytes({0, 0, 1, id}) + be16(L) + bytes({0x80, 0, stuffing});
}

ps_output out;

Bytes write_one(const Bytes &packet, mem_sink dst = {}, int *result = nullptr) {
  init_output(&out, dst.sink());
  Bytes copy = packet;
  int r = _write_pes_packet(&out, reinterpret_cast<const uint8_t *>(copy.data()),
                            int32_t(copy.size()));
  if (flush_output(&out) < 0) r = -1;
  if (result) *result = r;
  EXPECT_EQ(copy, packet) << "the caller's packet was changed";
  return static_cast<mem_sink *>(out.dst.ctx)->data;
}

// A long-form video packet of n bytes in all, with c bytes of header data.
Bytes video_packet(size_t n, size_t c, bool length0 = false) {
  return pes(0xE0, pattern(c, 3).substr(0, c), pattern(n - 9 - c), 0, length0);
}

struct exact_case {
  const char *name;
  Bytes packet;
  std::function<Bytes(const Bytes &)> expect;
};

TEST(WritePesPacket, ExactBytes) {
  const exact_case cases[] = {
      {"2034 bytes fill one pack; length 0 becomes 2028", video_packet(2034, 5, true),
       [](const Bytes &p) { return PACK + p.substr(0, 4) + be16(2028) + p.substr(6); }},
      {"2000 bytes with 5 of header data take 34 stuffing bytes", video_packet(2000, 5),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2028) + p.substr(6, 2) + bytes({39}) +
                p.substr(9, 5) + ff(34) + p.substr(14);
       }},
      {"184 bytes stay unchanged, padded by 1850", video_packet(184, 5),
       [](const Bytes &p) { return PACK + p + padding(1850); }},
      {"a small packet of length 0 gets its true length", video_packet(184, 5, true),
       [](const Bytes &p) { return PACK + p.substr(0, 4) + be16(178) + p.substr(6) + padding(1850); }},
      {"4059 bytes: a full pack and a full continuation", video_packet(4059, 5),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2028) + p.substr(6, 2028) + PACK +
                new_header(0xE0, 2028, 0) + p.substr(2034);
       }},
      {"4058 bytes: the last piece carries one stuffing byte", video_packet(4058, 5),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2028) + p.substr(6, 2028) + PACK +
                new_header(0xE0, 2028, 1) + ff(1) + p.substr(2034);
       }},
      {"5000 bytes: three packs, the last padded", video_packet(5000, 5),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2028) + p.substr(6, 2028) + PACK +
                new_header(0xE0, 2028, 0) + p.substr(2034, 2025) + PACK +
                new_header(0xE0, 944, 0) + p.substr(4059) + padding(1084);
       }},
      {"1770 bytes left are stuffed with 255", video_packet(2034 + 1770, 0),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2028) + p.substr(6, 2028) + PACK +
                new_header(0xE0, 2028, 255) + ff(255) + p.substr(2034);
       }},
      {"1769 bytes left are padded by 256", video_packet(2034 + 1769, 0),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2028) + p.substr(6, 2028) + PACK +
                new_header(0xE0, 1772, 0) + p.substr(2034) + padding(256);
       }},
      {"too much header data for the room of a 2030-byte packet", video_packet(2030, 255),
       [](const Bytes &p) {
         return PACK + p.substr(0, 4) + be16(2022) + p.substr(6, 2022) + padding(6) + PACK +
                new_header(0xE0, 5, 0) + p.substr(2028) + padding(2023);
       }},
      {"a short-form packet is padded behind a header of its own length",
       short_pes(0xBF, pattern(100), true),
       [](const Bytes &p) { return PACK + p.substr(0, 4) + be16(100) + p.substr(6) + padding(1928); }},
      {"a packet shorter than its header data becomes a padding pack",
       bytes({0, 0, 1, 0xE0, 0, 4, 0x80, 0, 10, 1}), [](const Bytes &) { return PACK + padding(2034); }},
  };
  for (auto &c : cases) {
    Bytes got = write_one(c.packet);
    Bytes want = c.expect(c.packet);
    EXPECT_EQ(got.size(), want.size()) << c.name;
    EXPECT_TRUE(got == want) << c.name;
  }
}

// Every size, header-data length, id form and length field: whole packs of
// valid PES packets whose payloads give back the packet's payload, with the
// packet's own header data at the front of the first piece.
TEST(WritePesPacket, AnySizeGivesWholeValidPacks) {
  struct form {
    uint8_t id;
    size_t c;
    bool length0;
  };
  const form forms[] = {{0xE0, 0, false}, {0xE0, 5, true},   {0xC0, 250, false},
                        {0xE0, 255, true}, {0xBF, 0, false}, {0xBE, 0, true}};
  for (const form &f : forms) {
    bool shortf = is_short_form_id(f.id);
    size_t head = shortf ? 6 : 9 + f.c;
    for (size_t n = head; n <= 6400; n++) {
      Bytes hd = pattern(f.c, 9);
      Bytes payload = pattern(n - head, uint8_t(n));
      Bytes p = shortf ? short_pes(f.id, payload, f.length0) : pes(f.id, hd, payload, 0, f.length0);
      Bytes got = write_one(p);
      SCOPED_TRACE(testing::Message() << "id " << int(f.id) << " c " << f.c << " n " << n);
      auto packs = read_packs(got);
      ASSERT_FALSE(HasFailure());
      // Padding packets of the writer share the id 0xBE.
      if (f.id != PADDING_STREAM_ID) {
        ASSERT_TRUE(stream_payload(got, f.id) == payload);
      }
      if (!shortf) {
        ASSERT_EQ(packs[0][0].header_data.substr(0, f.c), hd);
      }
    }
  }
}

TEST(WritePesPacket, PacketsTooShortForTheirHeader) {
  const Bytes cases[] = {
      bytes({0, 0, 1, 0xBE}),                                // 4 bytes, short form
      bytes({0, 0, 1, 0xE0, 0, 1, 0x80}),                    // 7 bytes, long form
      bytes({0, 0, 1, 0xE0, 0, 0, 0x80, 0, 200}) + Bytes(100, 'x'),
  };
  for (auto &p : cases) {
    Bytes got = write_one(p);
    EXPECT_TRUE(got == PACK + padding(2034)) << p.size();
  }
}

TEST(WriteOutput, ShortWritesAndEintrAreRetried) {
  Bytes p = video_packet(5000, 5);
  Bytes whole = write_one(p);
  mem_sink trickle;
  trickle.chunk = 1000;
  trickle.eintr = true;
  int r;
  EXPECT_TRUE(write_one(p, trickle, &r) == whole);
  EXPECT_EQ(r, 0);
}

struct fail_case {
  const char *name;
  size_t fail_at;
  const char *message;
};

TEST(WriteOutput, AFailedWriteIsReportedOnceAndStopsWriting) {
  const fail_case cases[] = {
      {"in the first pack header", 0, "pack_header write: No space left on device\n"},
      {"in the second pack header", 2048 + 13, "pack_header write: No space left on device\n"},
      {"in PES data", 2048 + 14, "pes header write: No space left on device\n"},
  };
  for (auto &c : cases) {
    mem_sink full;
    full.fail_at = c.fail_at;
    init_output(&out, full.sink());
    Bytes p = video_packet(5000, 5);
    testing::internal::CaptureStderr();
    int r1 = _write_pes_packet(&out, reinterpret_cast<const uint8_t *>(p.data()), int32_t(p.size()));
    int f1 = flush_output(&out);
    size_t calls = full.calls;
    int r2 = _write_pes_packet(&out, reinterpret_cast<const uint8_t *>(p.data()), int32_t(p.size()));
    int f2 = flush_output(&out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.name;
    EXPECT_EQ(r1 < 0 || f1 < 0, true) << c.name;
    EXPECT_EQ(r2, -1) << c.name;
    EXPECT_EQ(f2, -1) << c.name;
    EXPECT_EQ(full.calls, calls) << c.name << ": written again after the failure";
    EXPECT_EQ(full.data.size(), c.fail_at) << c.name;
  }
}

}  // namespace

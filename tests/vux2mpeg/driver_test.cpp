// The conversion driver over containers in memory.
#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "driver.h"
#include "fixtures.h"

using namespace vux;

namespace {

// The packs the writer makes of these packets, in this order.
Bytes packs_of(const std::vector<Bytes> &packets) {
  static ps_output out;
  mem_sink dst;
  init_output(&out, dst.sink());
  for (const Bytes &p : packets)
    _write_pes_packet(&out, reinterpret_cast<const uint8_t *>(p.data()), int32_t(p.size()));
  flush_output(&out);
  return dst.data;
}

Bytes container(const std::vector<block_spec> &blocks) {
  Bytes c;
  for (auto &b : blocks) c += container_block(b);
  return c;
}

const Bytes V1 = pes(0xE0, "", pattern(3000, 1)), V2 = pes(0xE0, "", pattern(500, 2));
const Bytes A1 = pes(0xC0, "", pattern(700, 3)), A2 = pes(0xC0, "", pattern(90, 4));
// A video packet larger than one area, and one of unbounded length.
const Bytes VBIG = pes(0xE0, "", pattern(50000, 5));
const Bytes V0 = pes(0xE0, "", pattern(1000, 6), 0, true);

struct convert_case {
  const char *name;
  Bytes input;
  std::vector<Bytes> expect;  // packets, in output order
};

std::vector<convert_case> cases() {
  Bytes two = container({{V1, A1}, {V2, A2}});
  Bytes vbig = VBIG + V2;
  Bytes long1 = container({{V1, A1, 1, -1, -1, BLOCK_SIZE_LONG},
                           {V2, "", 0, -1, -1, BLOCK_SIZE_LONG},
                           {V1, A2, 2, -1, -1, BLOCK_SIZE_LONG}});
  return {
      {"empty input", "", {}},
      {"shorter than a block header", Bytes(279, 0), {}},
      {"header only: the video area is missing", container({{V1, A1}}).substr(0, 600), {}},
      {"two blocks, video before audio in each", two, {V1, A1, V2, A2}},
      {"input ends inside the audio area", two.substr(0, BLOCK_SIZE_SHORT + AUDIO_AREA_OFFSET + 10),
       {V1, A1, V2}},
      {"input ends at the audio area's last byte",
       two.substr(0, BLOCK_SIZE_SHORT + AUDIO_AREA_OFFSET + A2.size()), {V1, A1, V2, A2}},
      {"a packet spans blocks",
       container({{vbig.substr(0, 20000), ""}, {vbig.substr(20000, 20000), ""},
                  {vbig.substr(40000), A2}}),
       {VBIG, V2, A2}},
      {"block format 1 holds for all blocks, whatever later headers say", long1,
       {V1, A1, V2, V1, A2}},
      {"block formats 0 and 2 give 49,152-byte blocks",
       container({{V1, "", 2}, {V2, A2, 1}}), {V1, V2, A2}},
      {"a packet of length 0 ends at the next start; the last one is never written",
       container({{V0 + V2 + V0, ""}, {"", A2}}), {V0, V2, A2}},
      {"area sizes of 0 append nothing", container({{"", ""}, {V2, ""}, {"", ""}}), {V2}},
  };
}

TEST(Convert, SmallContainers) {
  for (auto &c : cases()) {
    mem_source src;
    src.data = c.input;
    conversion r = convert_memory(src);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_TRUE(r.out == packs_of(c.expect)) << c.name;
  }
}

TEST(Convert, OversizeFieldsReadTheLargestAreas) {
  // Both areas full of small packets; a field that the converter took as
  // given would run it into the next area and the next block.
  Bytes v, a;
  std::vector<Bytes> expect;
  while (v.size() + V2.size() <= VIDEO_AREA_MAX) v += V2, expect.push_back(V2);
  Bytes vtail = V1.substr(0, VIDEO_AREA_MAX - v.size());
  v += vtail;
  size_t audio_n = 0;
  while (a.size() + A2.size() <= AUDIO_AREA_MAX) a += A2, audio_n++;
  Bytes atail = A1.substr(0, AUDIO_AREA_MAX - a.size());
  a += atail;
  for (size_t i = 0; i < audio_n; i++) expect.push_back(A2);
  expect.push_back(V1);
  expect.push_back(A1);
  mem_source src;
  src.data = container({{v, a, 0, 65536, 0xFFFFFFFF},
                        {V1.substr(vtail.size()), A1.substr(atail.size())}});
  conversion r = convert_memory(src);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == packs_of(expect));
}

TEST(Convert, ReadsInAnyPiecesAlike) {
  Bytes input = container({{VBIG.substr(0, 30000), A1}, {VBIG.substr(30000), A2}, {V0 + V2, ""}});
  Bytes want = packs_of({A1, VBIG, A2, V0, V2});
  struct piece_case {
    size_t chunk;
    bool eintr;
  };
  for (piece_case p : {piece_case{SIZE_MAX, false}, {1, false}, {3, true}, {4096, false}, {65536, true}}) {
    mem_source src;
    src.data = input;
    src.chunk = p.chunk;
    src.eintr = p.eintr;
    conversion r = convert_memory(src);
    EXPECT_EQ(r.status, 0) << p.chunk;
    EXPECT_TRUE(r.out == want) << p.chunk;
  }
}

// Pending bytes that grow past the carry-over limit lose what came after the
// limit: the next area is spliced on at it.
TEST(Convert, CarryOverCut) {
  Bytes stream = pes(0xE0, "", pattern(16 * VIDEO_AREA_MAX, 7), 0, true);
  std::vector<block_spec> blocks;
  for (size_t k = 0; k < 15; k++) blocks.push_back({stream.substr(k * VIDEO_AREA_MAX, VIDEO_AREA_MAX), ""});
  Bytes last = stream.substr(15 * VIDEO_AREA_MAX, 100) + V2;
  blocks.push_back({last, ""});
  mem_source src;
  src.data = container(blocks);
  conversion r = convert_memory(src);
  EXPECT_EQ(r.status, 0);
  Bytes cut = stream.substr(0, CARRY_OVER_LIMIT) + stream.substr(15 * VIDEO_AREA_MAX, 100);
  EXPECT_TRUE(r.out == packs_of({cut, V2}));
}

TEST(Convert, AReadErrorKeepsWhatWasWrittenAndFails) {
  mem_source src;
  src.data = container({{V1, A1}, {V2, A2}});
  src.fail_at = BLOCK_SIZE_SHORT + 1000;
  testing::internal::CaptureStderr();
  conversion r = convert_memory(src);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "read error.(Input/output error)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out == packs_of({V1, A1}));
}

TEST(Convert, AWriteErrorStopsTheConversionAndFails) {
  mem_source src;
  std::vector<block_spec> blocks(40, block_spec{V1, A1});
  src.data = container(blocks);
  mem_sink dst;
  dst.fail_at = 10 * PACK_SIZE + 20;
  testing::internal::CaptureStderr();
  conversion r = convert_memory(src, dst);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "pes header write: No space left on device\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.size(), dst.fail_at);
}

// Garbage made of headers of every form and broken lengths: whatever the
// input, the output is whole packs of valid PES packets (the sanitizer build
// also checks that nothing is read or written outside the buffers).
TEST(Convert, AnyInputGivesValidPacks) {
  std::mt19937 rng(20240611);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const int ids[] = {0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xE0, 0xF0, 0xF8, 0xFF, 0xBA, 0xB3};
  size_t total = 0;
  for (int round = 0; round < 60; round++) {
    std::vector<block_spec> blocks;
    int nblocks = 1 + pick(6);
    for (int k = 0; k < nblocks; k++) {
      Bytes area[2];
      for (int which = 0; which < 2; which++) {
        Bytes &a = area[which];
        size_t room = which ? AUDIO_AREA_MAX : VIDEO_AREA_MAX;
        size_t want = size_t(pick(int(room)));
        while (a.size() < want) {
          int id = ids[pick(11)];
          Bytes hd = pattern(size_t(pick(3) == 0 ? pick(256) : pick(12)), uint8_t(pick(255)));
          Bytes p = pick(2) ? pes(uint8_t(id), hd, pattern(size_t(pick(5000))), uint8_t(pick(256)), pick(3) == 0)
                            : short_pes(uint8_t(id), pattern(size_t(pick(3000))), pick(3) == 0);
          if (pick(4) == 0) p.replace(4, 2, be16(uint32_t(pick(2) ? pick(65536) : pick(16))));  // a lying length
          if (pick(4) == 0) p = p.substr(0, size_t(pick(int(p.size()))));  // cut short
          a += p;
        }
        a.resize(std::min(a.size(), room));
      }
      blocks.push_back({area[0], area[1], uint16_t(pick(3)), pick(8) ? -1 : int64_t(rng()),
                        pick(8) ? -1 : int64_t(rng())});
    }
    Bytes input = container(blocks);
    if (pick(3) == 0) input = input.substr(0, size_t(pick(int(input.size()))));
    mem_source src;
    src.data = input;
    src.chunk = size_t(1 + pick(70000));
    conversion r = convert_memory(src);
    ASSERT_EQ(r.status, 0) << "round " << round;
    total += r.out.size();
    read_packs(r.out);
    ASSERT_FALSE(HasFailure()) << "round " << round;
  }
  EXPECT_GT(total, 200u * PACK_SIZE) << "the garbage made too few packets to tell";
}

TEST(ReadAndSeek, FollowTheInputPastTheWrapOfAddress) {
  mem_source src;
  src.data = pattern(0x300);
  source in = src.source();
  address = 0xFFFFFF00u;
  EXPECT_EQ(_lseeki64(&in, 0x100, SEEK_SET), 1);
  EXPECT_EQ(address, 0x100u);
  EXPECT_EQ(src.pos, 0x200u);
  uint8_t b[0x200];
  EXPECT_EQ(_read(&in, b, 0x200), 0x100u);  // the input ends: fewer than asked
  EXPECT_EQ(address, 0x300u);
  EXPECT_EQ(Bytes(reinterpret_cast<char *>(b), 0x100), src.data.substr(0x200));
  // Seeking past the end still leaves `address` at the target.
  EXPECT_EQ(_lseeki64(&in, 0x90000, SEEK_SET), 1);
  EXPECT_EQ(address, 0x90000u);
  EXPECT_EQ(_read(&in, b, 0), 0u);
  EXPECT_EQ(in.error, 0);
}

}  // namespace

// The PES scanner over small hand-made byte runs.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "scanner.h"

using namespace vux;

namespace {

const Bytes PTS_ONLY = bytes({0x21, 0, 1, 0, 1});
const Bytes PTS_DTS = bytes({0x31, 0, 1, 0, 1, 0x11, 0, 1, 0, 1});

struct stcode_case {
  const char *name;
  Bytes data;
  int32_t expect;
};

TEST(FindPesStcode, FindsOnlyPacketStreamIds) {
  const stcode_case cases[] = {
      {"pack, system and sequence headers are passed over",
       bytes({0, 0, 1, 0xBA, 0, 0, 1, 0xBB, 0, 0, 1, 0xB3, 0, 0, 1, 0xC0}), 12},
      {"the lowest packet id", bytes({0, 0, 1, 0xBC}), 0},
      {"a longer zero run before the prefix", bytes({0, 0, 0, 0, 1, 0xE0}), 2},
      {"a prefix overlapping a refused one", bytes({0, 0, 1, 0, 0, 1, 0xE0}), 3},
      {"fewer than 4 bytes", bytes({0, 0, 1}), -1},
      {"the id byte is past the end", bytes({7, 0, 0, 1}), -1},
      {"nothing", Bytes(), -1},
  };
  for (auto &c : cases)
    EXPECT_EQ(find_pes_stcode(reinterpret_cast<const uint8_t *>(c.data.data()),
                              int32_t(c.data.size())),
              c.expect)
        << c.name;
}

struct hdr_case {
  const char *name;
  Bytes data;
  int32_t len;  // -1: all of data
  int expect;
};

TEST(GetPesHdrinfo, TestsTheHeaderWithinTheValidBytes) {
  Bytes h10 = pes(0xE0, Bytes(10, 0x55), Bytes(5, 'x'));
  Bytes pts_h0 = pes(0xE0, "", bytes({0x21, 0x22}), 0x80);
  Bytes pd_h5 = pes(0xE0, PTS_DTS.substr(0, 5), PTS_DTS.substr(5), 0xC0);
  const hdr_case cases[] = {
      {"second flags byte 0x40 in the place of the '10' byte",
       bytes({0, 0, 1, 0xE0, 0, 3, 0x40, 0, 0}), -1, 0},
      {"header data of 10 bytes all present", h10, 19, 1},
      {"header data one byte short", h10, 18, 0},
      {"long form with fewer than 9 bytes", bytes({0, 0, 1, 0xE0, 0, 3, 0x80, 0}), -1, 0},
      {"PTS prefix 0x2", pes(0xE0, PTS_ONLY, "x", 0x80), -1, 1},
      {"PTS prefix 0x3 without DTS", pes(0xE0, bytes({0x31, 0, 1, 0, 1}), "x", 0x80), -1, 0},
      {"PTS and DTS prefixes 0x3 and 0x1", pes(0xE0, PTS_DTS, "x", 0xC0), -1, 1},
      {"PTS prefix 0x2 with DTS", pes(0xE0, bytes({0x21, 0, 1, 0, 1, 0x11, 0, 1, 0, 1}), "x", 0xC0), -1, 0},
      {"DTS prefix 0x2", pes(0xE0, bytes({0x31, 0, 1, 0, 1, 0x21, 0, 1, 0, 1}), "x", 0xC0), -1, 0},
      {"DTS flag alone is not tested", pes(0xE0, Bytes(5, 0x77), "x", 0x40), -1, 1},
      {"PTS with no header data: the byte behind is tested", pts_h0, -1, 1},
      {"PTS with no header data and no byte behind", pts_h0, 9, 0},
      {"DTS prefix byte past the valid bytes", pd_h5, 14, 0},
      {"DTS prefix byte just valid", pd_h5, 15, 1},
      {"short form needs only its six bytes", bytes({0, 0, 1, 0xBE, 0, 0}), -1, 1},
      {"short form cut at five bytes", bytes({0, 0, 1, 0xBF, 0}), -1, 0},
      {"short form has no flags to test", bytes({0, 0, 1, 0xF0, 0, 2, 0x40, 0}), -1, 1},
      {"program stream map is long form", bytes({0, 0, 1, 0xBC, 0, 3, 0x40, 0, 0}), -1, 0},
      {"end code is no packet", bytes({0, 0, 1, 0xB9, 0, 3, 0x80, 0, 0}), -1, 0},
      {"three bytes", bytes({0, 0, 1}), -1, 0},
  };
  for (auto &c : cases) {
    pes_hdrinfo info{0x12, 0x3456};
    int32_t len = c.len < 0 ? int32_t(c.data.size()) : c.len;
    EXPECT_EQ(get_pes_hdrinfo(&info, reinterpret_cast<const uint8_t *>(c.data.data()), len),
              c.expect)
        << c.name;
  }
}

TEST(GetPesHdrinfo, RecordsIdAndLength) {
  Bytes p = pes(0xC0, "", Bytes(0x120, 'a'));
  pes_hdrinfo info;
  ASSERT_EQ(get_pes_hdrinfo(&info, reinterpret_cast<const uint8_t *>(p.data()), 9), 1);
  EXPECT_EQ(info.stream_id, 0xC0);
  EXPECT_EQ(info.pes_packet_length, 0x123);
}

struct full_case {
  const char *name;
  Bytes data;
  int32_t expect_offset, expect_len;
};

TEST(FindPesFullPkt, FindsCompletePackets) {
  Bytes p100 = pes(0xC0, "", Bytes(97, 'a'));  // PES_packet_length 100
  Bytes v0 = pes(0xE0, PTS_ONLY, pattern(50), 0x80, true);
  Bytes next = pes(0xC0, "", "zz");
  Bytes refused = bytes({0, 0, 1, 0xE0, 0, 3, 0x40, 0, 0});
  const full_case cases[] = {
      {"all 106 bytes present", p100, 0, 106},
      {"one byte short", p100.substr(0, 105), -1, 0},
      {"leading bytes are skipped", bytes({9, 0, 0}) + p100, 3, 106},
      {"a refused header is passed over by 4 bytes",
       bytes({0, 0, 1, 0xE0}) + next, 4, int32_t(next.size())},
      {"length 0 ends at a start of another id", v0 + next, 0, int32_t(v0.size())},
      {"length 0 is not ended by a refused header", v0 + refused + next, 0,
       int32_t(v0.size() + refused.size())},
      {"length 0 waits for the whole next header", v0 + next.substr(0, 8), -1, 0},
      {"length 0 with nothing behind it", v0, -1, 0},
      {"length 0 ended inside its own header",
       bytes({0, 0, 1, 0xBE, 0, 0, 1, 0xBF, 0, 0}), 0, 4},
      {"a start code without a header", bytes({0, 0, 1, 0xE0, 0}), -1, 0},
  };
  for (auto &c : cases) {
    pes_hdrinfo info;
    int32_t n = 77;
    EXPECT_EQ(find_pes_full_pkt(reinterpret_cast<const uint8_t *>(c.data.data()),
                                int32_t(c.data.size()), &n, &info),
              c.expect_offset)
        << c.name;
    EXPECT_EQ(n, c.expect_len) << c.name;
  }
}

TEST(FindPesFullPkt, LengthZeroKeepsTheFirstHeadersRecord) {
  Bytes d = pes(0xE0, "", "abcdef", 0, true) + pes(0xC0, "", Bytes(40, 'q'));
  pes_hdrinfo info;
  int32_t n;
  ASSERT_EQ(find_pes_full_pkt(reinterpret_cast<const uint8_t *>(d.data()), int32_t(d.size()),
                              &n, &info),
            0);
  EXPECT_EQ(info.stream_id, 0xE0);
  EXPECT_EQ(info.pes_packet_length, 0);
}

// Every cut of a valid run: the scanner finds no more than is there and
// never looks past the cut (the sanitizer build checks the latter, with the
// run copied to a buffer of exactly the cut's size).
TEST(FindPesFullPkt, EveryTruncationIsSafe) {
  Bytes run = bytes({0, 0}) + pes(0xE0, PTS_DTS, pattern(30), 0xC0, true) +
              pes(0xC0, PTS_ONLY, pattern(20), 0x80) + short_pes(0xBE, Bytes(4, '\xff'));
  for (size_t cut = 0; cut <= run.size(); cut++) {
    std::vector<uint8_t> exact(run.begin(), run.begin() + cut);
    pes_hdrinfo info;
    int32_t n;
    int32_t s = find_pes_full_pkt(exact.data(), int32_t(cut), &n, &info);
    if (s >= 0) {
      EXPECT_LE(size_t(s + n), cut) << "cut " << cut;
    }
  }
}

}  // namespace

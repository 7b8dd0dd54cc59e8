// Container reader and conversion driver of vux2mpeg: the command line, the
// forward-only input, the block loop and the two reassembly buffers.
#include "driver.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scanner.h"

namespace vux {

uint32_t address;
uint8_t dummy[DUMMY_SIZE];

namespace {

inline uint32_t be32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

ssize_t fd_read(void *ctx, void *buf, size_t n) {
  return ::read(int(reinterpret_cast<intptr_t>(ctx)), buf, n);
}

// One area's reassembly state: pending bytes at the front of `buf`.
struct area {
  uint8_t *buf;
  uint32_t fill;
  int32_t pkt_len;
  pes_hdrinfo info;
};

enum class step { go_on, input_ended, write_failed };

// Reads the area of `len` bytes at `offset` behind the pending bytes, writes
// every packet it completes, and keeps the rest (cut to the carry-over limit)
// for the next block.
step work_area(source *in, ps_output *out, area *a, uint32_t offset, uint32_t len) {
  _lseeki64(in, offset, SEEK_SET);
  if (_read(in, a->buf + a->fill, len) != len) return step::input_ended;
  a->fill += len;
  uint32_t c = 0;
  for (;;) {
    int32_t s = find_pes_full_pkt(a->buf + c, int32_t(a->fill - c), &a->pkt_len, &a->info);
    if (s < 0) break;
    if (_write_pes_packet(out, a->buf + c + s, a->pkt_len) < 0) return step::write_failed;
    // Bytes in front of the start code go with the packet.
    c += uint32_t(s + a->pkt_len);
  }
  if (c > 0) {
    memmove(a->buf, a->buf + c, a->fill - c);
    a->fill -= c;
  }
  // A packet still gathered past the limit loses its newest bytes: the next
  // area's data is spliced on at the limit.
  if (a->fill > CARRY_OVER_LIMIT) a->fill = CARRY_OVER_LIMIT;
  return step::go_on;
}

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// The progress line: percent of the input and the rate so far.
struct progress_line {
  uint64_t total;
  double start, last;
  int shown;
};

void show_progress(progress_line *p, uint64_t done) {
  double t = now_seconds();
  if (t - p->last < 0.25) return;
  p->last = t;
  unsigned pct = unsigned(done >= p->total ? 100 : done * 100 / p->total);
  double rate = t > p->start ? double(done) / (t - p->start) / 1e6 : 0;
  fprintf(stderr, "\r%3u%%  %.1f MB/s ", pct, rate);
  p->shown = 1;
}

void erase_progress(progress_line *p) {
  if (p->shown) fprintf(stderr, "\r%*s\r", 24, "");
}

}  // namespace

source fd_source(int fd) {
  return source{fd_read, reinterpret_cast<void *>(intptr_t(fd)), 0};
}

uint32_t _read(source *in, uint8_t *buf, uint32_t size) {
  address += size;
  uint32_t got = 0;
  while (got < size) {
    ssize_t r = in->read(in->ctx, buf + got, size - got);
    if (r > 0) {
      got += uint32_t(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      if (r < 0) in->error = errno;
      break;
    }
  }
  return got;
}

int _lseeki64(source *in, uint32_t offset, int /*whence: SEEK_SET only*/) {
  uint32_t skip = offset - address;
  while (skip > 0) {
    uint32_t chunk = skip < DUMMY_SIZE ? skip : uint32_t(DUMMY_SIZE);
    if (_read(in, dummy, chunk) != chunk) {
      // Keep `address` at the target, as if all had been asked for at once.
      address += skip - chunk;
      break;
    }
    skip -= chunk;
  }
  return 1;
}

int alloc_buffers(buffers *b) {
  b->video = static_cast<uint8_t *>(malloc(VIDEO_BUFFER_SIZE));
  b->audio = static_cast<uint8_t *>(malloc(AUDIO_BUFFER_SIZE));
  if (b->video && b->audio) return 0;
  free_buffers(b);
  return -1;
}

void free_buffers(buffers *b) {
  free(b->video);
  free(b->audio);
  b->video = b->audio = nullptr;
}

int convert(source *in, ps_output *out, const buffers &bufs, uint64_t progress_total) {
  address = 0;
  in->error = 0;
  area video{bufs.video, 0, 0, {}}, audio{bufs.audio, 0, 0, {}};
  uint8_t header[BLOCK_HEADER_SIZE];
  uint32_t B = 0;
  double start = now_seconds();
  // The first line shows at once, later ones four times a second.
  progress_line progress{progress_total, start, start - 1, 0};
  uint64_t done = 0;
  step st = step::go_on;

  for (uint32_t k = 0; st == step::go_on; k++) {
    // Block offsets wrap like `address`; only their difference is read.
    uint32_t block = k * B;
    _lseeki64(in, block, SEEK_SET);
    if (_read(in, header, BLOCK_HEADER_SIZE) != BLOCK_HEADER_SIZE) break;
    if (k == 0) B = be16(header + 28) == 1 ? BLOCK_SIZE_LONG : BLOCK_SIZE_SHORT;
    uint32_t V = be32(header + 8), A = be32(header + 4);
    if (V > VIDEO_AREA_MAX) V = VIDEO_AREA_MAX;
    if (A > AUDIO_AREA_MAX) A = AUDIO_AREA_MAX;
    // The video area is worked through before the audio area is reached.
    st = work_area(in, out, &video, block + VIDEO_AREA_OFFSET, V);
    if (st == step::go_on) st = work_area(in, out, &audio, block + AUDIO_AREA_OFFSET, A);
    done += B;
    if (progress.total) show_progress(&progress, done);
  }
  if (progress.total) erase_progress(&progress);

  // Pending bytes of an unfinished packet are dropped; finished packs stay.
  int status = flush_output(out) < 0 ? 1 : 0;
  if (in->error) {
    fprintf(stderr, "read error.(%s)\n", strerror(in->error));
    status = 1;
  }
  return status;
}

int vux2mpeg_main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr,
            "\nUsage: %s <inputfile> <outputfile>\n\n\t\tBoth <inputfile> and <outputfile> "
            "can be -, in which case stdin or stdout will be used.\n\n",
            argv[0]);
    _exit(255);
  }
  // A reader that goes away (`vux2mpeg rec.vux - | head`) must show as a
  // failed write, reported with exit status 1, not as a silent death.
  signal(SIGPIPE, SIG_IGN);
  // A recording being converted on the receiver must keep pace; without the
  // privilege this fails and the program runs with normal scheduling.
  sched_param sp{};
  sp.sched_priority = 10;
  sched_setscheduler(0, SCHED_FIFO, &sp);

  buffers bufs{};
  if (alloc_buffers(&bufs) < 0) {
    fprintf(stderr, "cannot allocate buffers.(%s)\n", strerror(ENOMEM));
    return 1;
  }

  const char *in_path = argv[1], *out_path = argv[2];
  int in_fd = 0;
  if (strcmp(in_path, "-") != 0) {
    in_fd = open(in_path, O_RDONLY | O_LARGEFILE);
    // Standard input is not needed; but when it was closed already, the
    // opened input may itself be descriptor 0.
    if (in_fd != 0) close(0);
    if (in_fd < 0) {
      fprintf(stderr, "open file error.(%s)\n", in_path);
      free_buffers(&bufs);
      return 3;
    }
  }
  int out_fd = 1;
  if (strcmp(out_path, "-") != 0) {
    out_fd = open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_LARGEFILE, 0600);
    if (out_fd < 0) {
      fprintf(stderr, "open file error.(%s)\n", out_path);
      close(in_fd);
      free_buffers(&bufs);
      return 3;
    }
  }

  uint64_t progress_total = 0;
  struct stat st;
  if (isatty(2) && fstat(in_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    progress_total = uint64_t(st.st_size);

  static ps_output out;
  init_output(&out, fd_sink(out_fd));
  source in = fd_source(in_fd);
  int status = convert(&in, &out, bufs, progress_total);

  free_buffers(&bufs);
  close(in_fd);
  // A file system may report a lost write only here.
  if (close(out_fd) < 0 && status == 0) {
    perror("close");
    status = 1;
  }
  return status;
}

}  // namespace vux

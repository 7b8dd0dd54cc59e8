// Container reader and conversion driver of vux2mpeg.
//
// A recording is a sequence of blocks of one fixed size B (decided by the
// first block's header). Each block holds a 280-byte header, a video area at
// offset 512 and an audio area at offset 37,376; the areas of consecutive
// blocks, each cut to its valid length, form the video and the audio PES
// stream. The driver reads the input strictly forward (a pipe serves as
// well as a file), gathers each area's bytes into that area's reassembly
// buffer, and hands every complete PES packet the scanner finds there to the
// writer.
//
// All multi-byte header fields are big-endian and unsigned:
//   offset 4, 4 bytes   audio_size    valid audio bytes, above 11,776 taken as 11,776
//   offset 8, 4 bytes   video_size    valid video bytes, above 36,864 taken as 36,864
//   offset 28, 2 bytes  block_format  first block only: 1 gives B = 59,392, else 49,152
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "writer.h"

namespace vux {

inline constexpr uint32_t BLOCK_HEADER_SIZE = 280;
inline constexpr uint32_t VIDEO_AREA_OFFSET = 0x200;   // 512
inline constexpr uint32_t VIDEO_AREA_MAX = 0x9000;     // 36,864
inline constexpr uint32_t AUDIO_AREA_OFFSET = 0x9200;  // 37,376
inline constexpr uint32_t AUDIO_AREA_MAX = 0x2E00;     // 11,776
inline constexpr uint32_t BLOCK_SIZE_SHORT = 0xC000;   // 49,152
inline constexpr uint32_t BLOCK_SIZE_LONG = 0xE800;    // 59,392: block_format 1
// After every scan an area's pending bytes are cut to this, so that one
// more area of the largest size always fits behind them.
inline constexpr uint32_t CARRY_OVER_LIMIT = 0x80010;  // 524,304
inline constexpr size_t VIDEO_BUFFER_SIZE = CARRY_OVER_LIMIT + VIDEO_AREA_MAX;
inline constexpr size_t AUDIO_BUFFER_SIZE = CARRY_OVER_LIMIT + AUDIO_AREA_MAX;
inline constexpr size_t DUMMY_SIZE = 65536;

// Where input comes from: read(2) semantics (bytes read, 0 at the end, or -1
// with errno). `error` is set by _read when a read fails.
struct source {
  ssize_t (*read)(void *ctx, void *buf, size_t n);
  void *ctx;
  int error;  // errno of a failed read, else 0
};

// A source over descriptor `fd`.
source fd_source(int fd);

// The bytes requested from the input so far, modulo 2^32. Only differences
// of it are used, so inputs of 4 GiB and more are followed correctly.
extern uint32_t address;
// Skipped input is read into this and discarded.
extern uint8_t dummy[DUMMY_SIZE];

// Adds `size` to `address`, then reads until `size` bytes have arrived, the
// input ends or a read fails (EINTR is retried; another failure sets
// in->error). Returns the number of bytes gathered: anything but `size`
// means the input has ended.
uint32_t _read(source *in, uint8_t *buf, uint32_t size);

// Moves the input forward to `offset` by reading offset - address bytes
// (modulo 2^32) into `dummy`. Only SEEK_SET is supported. Always 1: an end
// of the input inside the skipped bytes shows at the next _read.
int _lseeki64(source *in, uint32_t offset, int whence);

// The two reassembly buffers, allocated once per conversion.
struct buffers {
  uint8_t *video;  // VIDEO_BUFFER_SIZE bytes
  uint8_t *audio;  // AUDIO_BUFFER_SIZE bytes
};
// 0, or -1 with nothing allocated.
int alloc_buffers(buffers *b);
void free_buffers(buffers *b);

// Converts the container read from `in` into packs on `out` (flushed at the
// end). With progress_total > 0 (the input's size in bytes) a progress line
// is kept on standard error and erased at the end. Returns the exit status:
// 0 when the input was worked through (also when it was empty or ended
// inside a block), 1 when a read or a write failed (reported on standard
// error; what was converted before is kept).
int convert(source *in, ps_output *out, const buffers &bufs, uint64_t progress_total);

// The program: command line, input and output, conversion, exit status
// (0; 1 on a failed read, write or allocation, a reader that went away
// included; 3 when a file cannot be opened; 255 on a wrong number of
// arguments, without returning).
int vux2mpeg_main(int argc, char **argv);

}  // namespace vux

// Finds, among texts in a fixed order, the first one that ends with a given
// tail, ASCII letters compared without case: the lookup of LIKE '%' || tail
// done for many tails in n log n instead of one table scan per tail.
//
// Texts are folded (ASCII A-Z to a-z, other bytes unchanged) and reversed,
// so that "ends with" becomes "begins with"; the reversed texts are sorted,
// the texts ending with a tail form one run of the sorted order, and a
// minimum tree over that order gives the run's first text in O(log n).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SuffixIndex {
  std::string keys;              // every text folded and reversed, one after another
  std::vector<uint32_t> starts;  // text i's key: keys[starts[i], starts[i + 1])
  std::vector<uint32_t> sorted;  // text numbers in the order of their keys
  std::vector<uint32_t> least;   // minimum tree over `sorted`: 2 * count entries
};

// Appends the next text (number: the count of texts added before it).
// An empty text never ends with a non-empty tail: callers that check a
// text some other way add it as "" to keep the numbering.
void suffix_index_add(SuffixIndex &index, std::string_view text);

// Sorts and builds the tree; to be called once, after the last add.
void suffix_index_finish(SuffixIndex &index);

// The number of the first text that ends with `tail` (ASCII case ignored),
// or -1 when none does or `tail` is empty. REQUIRES: suffix_index_finish.
long suffix_index_first(const SuffixIndex &index, std::string_view tail);

// True when `text` is well-formed UTF-8 (shortest forms, no surrogates, at
// most U+10FFFF) without U+FFFE and U+FFFF. SQLite's LIKE reads characters
// with a decoder that accepts any byte run and turns malformed ones (and
// those two) into U+FFFD; on texts that pass, it sees exactly the
// characters that the bytes encode, so a byte-wise tail comparison with
// ASCII folding gives the same answer as LIKE.
bool like_reads_bytes_exactly(std::string_view text);

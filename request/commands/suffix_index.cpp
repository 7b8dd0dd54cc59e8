// The tail index of suffix_index.h.
#include "suffix_index.h"

#include <algorithm>

namespace {

inline unsigned char fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

std::string_view key_of(const SuffixIndex &x, uint32_t i) {
  return std::string_view(x.keys).substr(x.starts[i], x.starts[i + 1] - x.starts[i]);
}

// Byte-wise order of unsigned bytes (std::string_view compares char, which
// may be signed; only consistency matters, but keep it explicit).
int compare_bytes(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

void suffix_index_add(SuffixIndex &x, std::string_view text) {
  if (x.starts.empty()) x.starts.push_back(0);
  for (size_t i = text.size(); i-- > 0;) x.keys.push_back(static_cast<char>(fold(text[i])));
  x.starts.push_back(static_cast<uint32_t>(x.keys.size()));
}

void suffix_index_finish(SuffixIndex &x) {
  if (x.starts.empty()) x.starts.push_back(0);
  const uint32_t n = static_cast<uint32_t>(x.starts.size() - 1);
  x.sorted.resize(n);
  for (uint32_t i = 0; i < n; i++) x.sorted[i] = i;
  std::sort(x.sorted.begin(), x.sorted.end(), [&x](uint32_t a, uint32_t b) {
    return compare_bytes(key_of(x, a), key_of(x, b)) < 0;
  });
  // Leaves at n..2n-1; node i holds the least text number below it.
  x.least.assign(2 * static_cast<size_t>(n), 0);
  for (uint32_t i = 0; i < n; i++) x.least[n + i] = x.sorted[i];
  for (uint32_t i = n; i-- > 1;) x.least[i] = std::min(x.least[2 * i], x.least[2 * i + 1]);
}

long suffix_index_first(const SuffixIndex &x, std::string_view tail) {
  if (tail.empty() || x.sorted.empty()) return -1;
  std::string key;
  key.reserve(tail.size());
  for (size_t i = tail.size(); i-- > 0;) key.push_back(static_cast<char>(fold(tail[i])));
  // The run of keys that begin with `key`: not below it, and whose first
  // key.size() bytes equal it.
  auto lo = std::lower_bound(x.sorted.begin(), x.sorted.end(), key, [&x](uint32_t i, const std::string &k) {
    return compare_bytes(key_of(x, i), k) < 0;
  });
  auto hi = std::upper_bound(lo, x.sorted.end(), key, [&x](const std::string &k, uint32_t i) {
    return compare_bytes(k, key_of(x, i).substr(0, k.size())) < 0;
  });
  if (lo == hi) return -1;
  const size_t n = x.sorted.size();
  size_t l = static_cast<size_t>(lo - x.sorted.begin()) + n;
  size_t r = static_cast<size_t>(hi - x.sorted.begin()) + n;
  uint32_t best = UINT32_MAX;
  for (; l < r; l /= 2, r /= 2) {
    if (l & 1) best = std::min(best, x.least[l++]);
    if (r & 1) best = std::min(best, x.least[--r]);
  }
  return static_cast<long>(best);
}

bool like_reads_bytes_exactly(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t len;
    uint32_t cp, min;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;  // a continuation byte without a lead, or no lead at all
    }
    if (text.size() - i < len) return false;
    for (size_t k = 1; k < len; k++) {
      unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
        cp == 0xFFFF)
      return false;
    i += len;
  }
  return true;
}

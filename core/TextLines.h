// Text lines and trimming: the one line-end scanner every reader of lists and names uses, and
// the one trim rule.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Splits text into lines: a line ends at CR LF, a lone CR or a lone LF; a terminator after the
// last line adds no line; an empty line is an empty item; a NUL byte ends the text.
// No trimming and no conversion.
std::vector<std::string> SplitLines(std::string_view text);

// The LF bytes of `text` (the lines a writer of CR LF or LF lines has finished), eight bytes at a
// time.
size_t CountLineFeeds(std::string_view text);

// The first CR or LF byte of text[from, end), or `end`; bytes up to `readable` may be read (at
// least `end`). Eight bytes at a time while none is below 0x0E: the bit test flags the first byte
// below it exactly (a later flag may be false, from the borrow).
[[gnu::always_inline]] inline size_t FindLineEnd(const char* text, size_t from, size_t end,
                                                 size_t readable) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
  size_t i = from;
  while (std::endian::native == std::endian::little && i < end && i + 8 <= readable) {
    uint64_t word;
    std::memcpy(&word, text + i, 8);
    const uint64_t below = (word - 0x0E * kOnes) & ~word & kHighs;
    if (below == 0) {
      i += 8;
      continue;
    }
    i += static_cast<size_t>(std::countr_zero(below)) / 8;  // the first byte in memory
    if (i >= end) return end;
    if (text[i] == '\r' || text[i] == '\n') return i;
    ++i;
  }
  while (i < end && text[i] != '\r' && text[i] != '\n') ++i;
  return std::min(i, end);
}

// Calls `line` for each line, with the same rules as SplitLines, without copying.
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& line) {
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  size_t start = 0;
  const size_t n = text.size();
  const char* p = text.data();
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (c == '\r' || c == '\n') {
      line(text.substr(start, i - start));
      if (c == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) line(text.substr(start));
}

// Calls `part` for each part of `text` cut at every '/', the separator of a character's readings
// ("chang/zhang"), in order and without copying: empty parts included, so "" gives one empty part
// and "a/" gives "a" and "".
template <typename Fn>
void ForEachSlashPart(std::string_view text, Fn&& part) {
  for (size_t pos = 0;;) {
    const size_t slash = text.find('/', pos);
    if (slash == std::string_view::npos) {
      part(text.substr(pos));
      return;
    }
    part(text.substr(pos, slash - pos));
    pos = slash + 1;
  }
}

// The text without the bytes 0x00 to 0x20 at either end: the one trim rule of names and
// dictionary entries. GBK bytes of a Chinese character are all above 0x3F and the full-width
// space is A1 A1, so neither is ever cut.
std::string_view TrimControls(std::string_view text);

}  // namespace quorvel

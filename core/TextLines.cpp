#include "TextLines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quorvel {

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  ForEachLine(text, [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

size_t CountLineFeeds(std::string_view text) {
  // In `x` a byte is zero exactly where an LF was; adding 0x7F to its low seven bits sets the top
  // bit of every other byte, no carry crossing into the next; the multiplication adds the eight
  // flags up in the top byte.
  constexpr uint64_t kOnes = 0x0101010101010101, kLow = kOnes * 0x7F;
  const char* p = text.data();
  const size_t n = text.size();
  size_t count = 0, i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    const uint64_t x = w ^ (kOnes * '\n');
    const uint64_t ones = (~(((x & kLow) + kLow) | x) & ~kLow) >> 7;  // 1 in each LF byte
    count += static_cast<size_t>((ones * kOnes) >> 56);
  }
  return count + static_cast<size_t>(std::count(p + i, p + n, '\n'));
}

std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  return text;
}

}  // namespace quorvel

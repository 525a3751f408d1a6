// The romanizing floor of bench/engine_bench.py: the least a converter of a names file can do.
// Every line's first character is the surname (its surname reading where the table has one), the
// rest the given name; each character takes the first reading of its built-in row; the line is
// written "Given-name Surname" (format 1, hyphen) with CR LF. No custom lists, no compound
// surnames, no options, no checks: a GBK or UTF-8 source (by a byte-order mark or a UTF-8 check of
// the first block) read and written in 1 MiB blocks, one table read per character.
//   floor_romanizer SOURCE TARGET
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BuiltinTable.h"

namespace {

using namespace quorvel;

// Per character: its syllable capitalized (first of a part) and in lower case, pre-rendered.
struct Syllables {
  char upper[8];
  char lower[8];
  uint8_t length;
};

std::vector<Syllables> gSlot;           // by GBK slot
std::vector<int32_t> gSlotOfCodePoint;  // by code point below 0x10000, for UTF-8 sources
std::vector<Syllables> gSurnameOfSlot;

Syllables Render(std::string_view reading) {
  reading = reading.substr(0, std::min(reading.find('/'), size_t{8}));
  Syllables s{};
  std::memcpy(s.upper, reading.data(), reading.size());
  std::memcpy(s.lower, reading.data(), reading.size());
  s.length = static_cast<uint8_t>(reading.size());
  if (s.length > 0 && s.upper[0] >= 'a' && s.upper[0] <= 'z') s.upper[0] -= 32;
  return s;
}

void BuildTables() {
  gSlot.assign(kGbkSlots, Render("???"));
  gSurnameOfSlot.assign(kGbkSlots, Syllables{});
  gSlotOfCodePoint.assign(0x10000, -1);
  iconv_t cd = ::iconv_open("UTF-32LE", "GB18030");
  for (int slot = 0; slot < kGbkSlots; ++slot) {
    const uint16_t row = kBuiltinRowOfGbk[slot];
    if (row == 0xFFFF) continue;
    gSlot[slot] = Render(BuiltinReading(row));
    gSurnameOfSlot[slot] =
        kSurnameOfGbk[slot] == 0xFF ? gSlot[slot] : Render(kSurnameReadings[kSurnameOfGbk[slot]]);
    char in[2] = {static_cast<char>(0x81 + slot / 191), static_cast<char>(0x40 + slot % 191)};
    uint32_t cp = 0;
    char* ip = in;
    char* op = reinterpret_cast<char*>(&cp);
    size_t il = 2, ol = 4;
    if (::iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && cp < 0x10000)
      gSlotOfCodePoint[cp] = slot;
  }
  ::iconv_close(cd);
}

const Syllables kUnknown = Render("???");

// The characters of one line: GBK slots, or UTF-8 code points mapped to the same syllables.
template <bool kUtf8>
char* RomanizeLine(const unsigned char* p, const unsigned char* end, char* out) {
  const Syllables* chars[64];
  const Syllables* surname = nullptr;
  int n = 0;
  while (p < end && n < 64) {
    int slot = -1;
    if constexpr (kUtf8) {
      uint32_t cp = *p;
      const int len = cp < 0x80 ? 1 : cp < 0xE0 ? 2 : cp < 0xF0 ? 3 : 4;
      if (len == 3 && end - p >= 3) cp = (cp & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F);
      if (cp < 0x10000) slot = gSlotOfCodePoint[cp];
      p += len;
    } else if (*p < 0x81 || end - p < 2) {
      ++p;
    } else {
      slot = (p[0] - 0x81) * 191 + (p[1] - 0x40);
      p += 2;
    }
    const Syllables* s = slot < 0 ? &kUnknown : n == 0 ? &gSurnameOfSlot[slot] : &gSlot[slot];
    if (n == 0) surname = s;
    chars[n++] = s;
  }
  for (int i = 1; i < n; ++i) {
    if (i > 1) *out++ = '-';
    std::memcpy(out, i == 1 ? chars[i]->upper : chars[i]->lower, 8);
    out += chars[i]->length;
  }
  if (n > 1) *out++ = ' ';
  if (surname) {
    std::memcpy(out, surname->upper, 8);
    out += surname->length;
  }
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

bool WriteAll(int fd, const char* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t k = ::write(fd, data + done, size - done);
    if (k <= 0) return false;
    done += static_cast<size_t>(k);
  }
  return true;
}

template <bool kUtf8>
int Run(int in, int out, std::string block) {
  constexpr size_t kBlock = size_t{1} << 20;
  std::vector<char> buffer(kBlock + 64 * 10 + 16);  // a block and one longest line
  char* const output = buffer.data();
  char* o = output;
  std::vector<char> chunk(size_t{1} << 20);
  for (;;) {
    size_t start = 0;
    for (size_t lf; (lf = block.find('\n', start)) != std::string::npos; start = lf + 1) {
      size_t stop = lf > start && block[lf - 1] == '\r' ? lf - 1 : lf;
      const auto* base = reinterpret_cast<const unsigned char*>(block.data());
      o = RomanizeLine<kUtf8>(base + start, base + stop, o);
      if (static_cast<size_t>(o - output) >= kBlock) {
        if (!WriteAll(out, output, static_cast<size_t>(o - output))) return 1;
        o = output;
      }
    }
    block.erase(0, start);
    const ssize_t k = ::read(in, chunk.data(), chunk.size());
    if (k < 0) return 1;
    if (k == 0) break;
    block.append(chunk.data(), static_cast<size_t>(k));
  }
  if (!block.empty()) {
    const auto* base = reinterpret_cast<const unsigned char*>(block.data());
    o = RomanizeLine<kUtf8>(base, base + block.size(), o);
  }
  return WriteAll(out, output, static_cast<size_t>(o - output)) ? 0 : 1;
}

// A UTF-8 source: a byte-order mark, or a first block that is valid UTF-8 with a multi-byte
// sequence in it.
bool LooksUtf8(std::string_view s) {
  if (s.substr(0, 3) == "\xEF\xBB\xBF") return true;
  bool multi = false;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80         ? 1
                       : (c >> 5) == 6  ? 2
                       : (c >> 4) == 14 ? 3
                       : (c >> 3) == 30 ? 4
                                        : 0;
    if (len == 0) return false;
    if (i + len > s.size()) break;  // cut by the block's end
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    multi |= len > 1;
    i += len;
  }
  return multi;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: floor_romanizer SOURCE TARGET\n");
    return 2;
  }
  const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (in < 0 || out < 0) return 1;
  BuildTables();
  std::string first(size_t{1} << 20, '\0');
  const ssize_t k = ::read(in, first.data(), first.size());
  if (k < 0) return 1;
  first.resize(static_cast<size_t>(k));
  const bool utf8 = LooksUtf8(first);
  if (first.compare(0, 3, "\xEF\xBB\xBF") == 0) first.erase(0, 3);
  const int rc =
      utf8 ? Run<true>(in, out, std::move(first)) : Run<false>(in, out, std::move(first));
  return ::close(out) == 0 ? rc : 1;
}

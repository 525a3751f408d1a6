#include "Encoding.h"

#include <iconv.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "BuiltinTable.h"
#include "Errors.h"
#include "FileReading.h"
#include "TextLines.h"

namespace quorvel {

size_t DecodeUtf8(std::string_view text, char32_t* codePoint) {
  if (text.empty()) return 0;
  auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = b(0);
  size_t len;
  char32_t v;
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    v = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    v = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    v = c & 0x07;
  } else {
    return 0;
  }
  if (len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    v = v << 6 | (b(k) & 0x3F);
  }
  if ((len == 3 && v < 0x800) || (len == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
      (v >= 0xD800 && v <= 0xDFFF))
    return 0;
  *codePoint = v;
  return len;
}

namespace {

inline uint64_t Load64(const char* p) { return LoadLittle<uint64_t>(p); }

// A three-byte sequence read as a number (LoadLittle) whose lead is E1-EC, EE or EF (no second
// byte is then overlong or a surrogate) with two continuation bytes. Leads E0 and ED (U+0800 to
// U+0FFF, U+D000 to U+D7FF and what is not UTF-8 there) are left to DecodeUtf8.
inline bool IsPlainThreeByteForm(uint32_t w) {
  return IsThreeByteShape(w) && (0xDFFE >> (w & 0x0F) & 1) != 0;
}

// DecodeUtf8 with the three-byte form (every common ideograph) decoded in place, without a call.
inline size_t DecodeUtf8Quick(std::string_view text, char32_t* codePoint) {
  if (text.size() >= 3) {
    const auto a = static_cast<unsigned char>(text[0]), b = static_cast<unsigned char>(text[1]),
               c = static_cast<unsigned char>(text[2]);
    if ((a & 0xF0) == 0xE0 && (b & 0xC0) == 0x80 && (c & 0xC0) == 0x80) {
      const char32_t v = char32_t{a & 0x0Fu} << 12 | char32_t{b & 0x3Fu} << 6 | (c & 0x3Fu);
      if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
        *codePoint = v;
        return 3;
      }
    }
  }
  return DecodeUtf8(text, codePoint);
}

// DecodeUtf8 of the sequence at p[i] (i < n, p[i] not ASCII): the common three-byte forms with
// one load where four bytes are there to load.
inline size_t NextUtf8(const char* p, size_t i, size_t n, char32_t* codePoint) {
  if (n - i >= 4) {
    const auto w = LoadLittle<uint32_t>(p + i);
    if (IsPlainThreeByteForm(w)) {
      *codePoint = ThreeByteCodePoint(w);
      return 3;
    }
  }
  return DecodeUtf8(std::string_view(p + i, n - i), codePoint);
}

// Past the ASCII run at p[i] (i < n, p[i] ASCII): a line end byte by byte, a longer run eight
// bytes at a time.
inline size_t PastAscii(const char* p, size_t i, size_t n) {
  constexpr uint64_t kHigh = 0x8080808080808080;
  auto ascii = [&](size_t k) { return k < n && static_cast<unsigned char>(p[k]) < 0x80; };
  if (!ascii(++i) || !ascii(++i)) return i;
  while (i + 8 <= n && (Load64(p + i) & kHigh) == 0) i += 8;
  while (ascii(i)) ++i;
  return i;
}

}  // namespace

bool IsIdeograph(char32_t cp) {
  return (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) ||
         (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert");
  }
  ~Iconv() { ::iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts `in`; on an input sequence it cannot convert, calls `bad(in, pos)` which appends a
  // replacement to the output and returns how many input bytes to skip.
  template <typename Bad>
  std::string Convert(std::string_view in, Bad&& bad) {
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    size_t used = 0;
    // iconv may convert far ahead of a character it cannot convert and then redo that work to
    // find it, so each failure costs in proportion to the input it was given. After a failure
    // it gets a small window, growing again while no failure comes: a text full of replacements
    // stays linear and cheap, a clean text is converted in a few large calls.
    constexpr size_t kMinWindow = 64, kMaxWindow = size_t{1} << 20;
    size_t window = kMaxWindow;
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (srcLeft > 0) {
      const size_t given = std::min(window, srcLeft);
      size_t givenLeft = given;
      char* dst = out.data() + used;
      size_t dstLeft = out.size() - used;
      size_t r = ::iconv(cd_, &src, &givenLeft, &dst, &dstLeft);
      const int e = errno;
      srcLeft -= given - givenLeft;
      used = out.size() - dstLeft;
      if (r != static_cast<size_t>(-1)) {
        window = std::min(window * 2, kMaxWindow);
        continue;
      }
      if (e == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      if (e == EINVAL && given < srcLeft + (given - givenLeft) && givenLeft < given) {
        // Only the window's end cut a character: the next window starts with it.
        continue;
      }
      // EILSEQ, or EINVAL (incomplete at the very end): replace and go on. The buffer only ever
      // doubles, never re-fills what lies beyond `used`.
      std::string replacement;
      size_t pos = in.size() - srcLeft;
      size_t skip = bad(replacement, pos);
      if (skip == 0 || skip > srcLeft) skip = srcLeft;
      if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + replacement.size());
      replacement.copy(out.data() + used, replacement.size());
      used += replacement.size();
      src += skip;
      srcLeft -= skip;
      window = kMinWindow;
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

size_t InvalidUtf8Length(std::string_view text) {
  if (text.empty()) return 0;
  auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(0);
  size_t need;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range for this lead byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 3;
    if (c == 0xE0) low = 0xA0;   // shorter forms are overlong
    if (c == 0xED) high = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 1;
  }
  size_t k = 1;
  for (; k < need && k < text.size(); ++k) {
    const unsigned char t = b(k);
    if (k == 1 ? (t < low || t > high) : (t & 0xC0) != 0x80) break;
  }
  return k;
}

namespace {

// What a byte leading a UTF-8 sequence asks of the bytes after it (DecodeUtf8's rule as a table):
// the length of the sequence (0: no sequence starts with it) and the range of its second byte;
// any further bytes are continuation bytes (80-BF).
struct Utf8Lead {
  unsigned char length, low, high;
};
// (Every field is set in the loop: g++ 12 at -O2 lost default member values of this table.)
constexpr std::array<Utf8Lead, 256> kUtf8Leads = [] {
  std::array<Utf8Lead, 256> leads{};
  for (int c = 0; c < 256; ++c) {
    const int length = c >= 0xC2 && c <= 0xDF   ? 2
                       : c >= 0xE0 && c <= 0xEF ? 3
                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                : 0;
    // E0 and F0: shorter forms are overlong; ED: surrogates; F4: past U+10FFFF.
    const int low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const int high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    leads[c] = {static_cast<unsigned char>(length), static_cast<unsigned char>(low),
                static_cast<unsigned char>(high)};
  }
  return leads;
}();

// The sequence at p[i] (i < n, p[i] not ASCII) as the census sees it: its length, and whether it
// is valid and an ideograph. An invalid one is InvalidUtf8Length long.
struct Utf8Step {
  size_t length;
  bool valid, ideograph;
};
inline Utf8Step StepUtf8(const char* p, size_t i, size_t n) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(p[i + k]); };
  const Utf8Lead lead = kUtf8Leads[byte(0)];
  if (lead.length == 0 || n - i < 2 || byte(1) < lead.low || byte(1) > lead.high)
    return {1, false, false};
  if (lead.length == 2) return {2, true, false};  // U+0080 to U+07FF: no ideograph
  if (n - i < 3 || (byte(2) & 0xC0) != 0x80) return {2, false, false};
  char32_t cp = char32_t{byte(0) & 0x0Fu} << 12 | char32_t{byte(1) & 0x3Fu} << 6 | (byte(2) & 0x3F);
  if (lead.length == 3) return {3, true, IsIdeograph(cp)};
  if (n - i < 4 || (byte(3) & 0xC0) != 0x80) return {3, false, false};
  cp = cp << 6 | (byte(3) & 0x3F);  // F0-F4: the lead's bit 3 is clear
  return {4, true, IsIdeograph(cp)};
}

// The census of `text`, or of a part of it from the start: `settled(census, rest)` is asked at
// every new fault, with the bytes not yet counted, and ends the count when it says yes.
template <typename Settled>
Utf8Census CountUtf8(std::string_view text, Settled&& settled) {
  Utf8Census census;
  const char* p = text.data();
  const size_t n = text.size();
  bool inFault = false;
  for (size_t i = 0; i < n;) {
    const auto lead = static_cast<unsigned char>(p[i]);
    if (lead < 0x80) {
      inFault = false;
      i = PastAscii(p, i, n);
      continue;
    }
    uint32_t w;
    if ((lead & 0xF0) == 0xE0 && n - i >= 4 &&
        IsPlainThreeByteForm(w = LoadLittle<uint32_t>(p + i))) {
      inFault = false;
      do {
        census.ideographs += IsIdeograph(ThreeByteCodePoint(w));
        i += 3;
      } while (n - i >= 4 && IsPlainThreeByteForm(w = LoadLittle<uint32_t>(p + i)));
      continue;
    }
    const Utf8Step step = StepUtf8(p, i, n);
    i += step.length;
    if (step.valid) {
      inFault = false;
      census.ideographs += step.ideograph;
      continue;
    }
    ++census.invalid;
    if (!inFault) {
      ++census.faults;
      if (settled(census, n - i)) return census;
    }
    inFault = true;
  }
  return census;
}

}  // namespace

Utf8Census CensusUtf8(std::string_view text) {
  return CountUtf8(text, [](const Utf8Census&, size_t) { return false; });
}

size_t Gb18030CharCount(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) i += Gb18030CharLength(text.substr(i));
  return count;
}

bool IsValidGb18030(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t len = Gb18030CharLength(text.substr(i));
    if (len == 1 && static_cast<unsigned char>(text[i]) >= 0x80) return false;
    i += len;
  }
  return true;
}

namespace {

// IsValidUtf8 a sequence at a time: the rule of DecodeUtf8, three-byte forms four bytes at once.
bool IsValidUtf8Bytewise(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  char32_t cp;
  for (size_t i = 0; i < n;) {
    if (static_cast<unsigned char>(p[i]) < 0x80) {
      i = PastAscii(p, i, n);
      continue;
    }
    if (n - i >= 4 && IsPlainThreeByteForm(LoadLittle<uint32_t>(p + i))) {
      // Names in UTF-8 are mostly runs of ideographs.
      do i += 3;
      while (n - i >= 4 && IsPlainThreeByteForm(LoadLittle<uint32_t>(p + i)));
      continue;
    }
    const size_t len = DecodeUtf8(text.substr(i), &cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUORVEL_UTF8_VECTORS 1

// The check of Keiser and Lemire ("Validating UTF-8 in less than one instruction per byte"): every
// pair of neighbouring bytes is looked up, by the high and the low half of the first and the high
// half of the second, in three tables of the ways a pair breaks DecodeUtf8's rule; the three
// lookups share a bit only where the pair shows that fault.
namespace utf8pairs {
constexpr char kTooShort = 1 << 0;                         // a lead, then no continuation byte
constexpr char kTooLong = 1 << 1;                          // ASCII, then a continuation byte
constexpr char kOverlong3 = 1 << 2;                        // E0 80-9F
constexpr char kTooLarge = 1 << 3;                         // F4-FF 90-BF (past U+10FFFF)
constexpr char kSurrogate = 1 << 4;                        // ED A0-BF
constexpr char kOverlong2 = 1 << 5;                        // C0-C1, then a continuation byte
constexpr char kTooLarge1000 = 1 << 6;                     // F5-FF 80-8F
constexpr char kOverlong4 = 1 << 6;                        // F0 80-8F
constexpr char kTwoConts = static_cast<char>(1 << 7);      // a continuation byte after one
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;  // faults whatever the low half
constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
constexpr char kCont = kTooLong | kOverlong2 | kTwoConts;
// A table of 16 entries, one for each value of a half byte.
template <typename Entry>
constexpr std::array<char, 16> ByHalfByte(Entry entry) {
  std::array<char, 16> table{};
  for (int half = 0; half < 16; ++half) table[half] = static_cast<char>(entry(half));
  return table;
}
// By the high half of the first byte.
alignas(16) constexpr std::array<char, 16> kFirstHigh = ByHalfByte([](int half) -> int {
  if (half < 8) return kTooLong;    // ASCII
  if (half < 12) return kTwoConts;  // a continuation byte
  if (half == 12) return kTooShort | kOverlong2;
  if (half == 13) return kTooShort;
  if (half == 14) return kTooShort | kOverlong3 | kSurrogate;
  return kTooShort | kTooLarge | kTooLarge1000 | kOverlong4;
});
// By the low half of the first byte.
alignas(16) constexpr std::array<char, 16> kFirstLow = ByHalfByte([](int half) -> int {
  if (half == 0) return kCarry | kOverlong3 | kOverlong2 | kOverlong4;
  if (half == 1) return kCarry | kOverlong2;
  if (half < 4) return kCarry;
  if (half == 4) return kCarry | kTooLarge;
  return half == 13 ? kLarge | kSurrogate : kLarge;
});
// By the high half of the second byte.
alignas(16) constexpr std::array<char, 16> kSecondHigh = ByHalfByte([](int half) -> int {
  if (half < 8 || half >= 12) return kTooShort;  // not a continuation byte
  if (half == 8) return kCont | kOverlong3 | kTooLarge1000 | kOverlong4;
  if (half == 9) return kCont | kOverlong3 | kTooLarge;
  return kCont | kSurrogate | kTooLarge;
});
// Subtracted from the bytes of a block, leaving more than 0 only in its last three where a
// sequence starts that needs more bytes than the block holds (F0-FF, E0-FF, C0-FF).
constexpr std::array<unsigned char, 32> kUnfinished = [] {
  std::array<unsigned char, 32> table{};
  table.fill(0xFF);
  table[29] = 0xEF;
  table[30] = 0xDF;
  table[31] = 0xBF;
  return table;
}();
}  // namespace utf8pairs

// IsValidUtf8 32 bytes at a time with AVX2 (utf8pairs), a block after another. A third byte after
// E0-FF and a fourth after F0-FF must be continuation bytes, which the pair tables call two in a
// row: the fault bit is turned off there, and on where such a byte is not a continuation byte.
// (Every step is inlined into the one function compiled for AVX2; no vector is passed by value.)
class Utf8Blocks {
 public:
  [[gnu::target("avx2"), gnu::always_inline]] Utf8Blocks()
      : firstHigh_(Table(utf8pairs::kFirstHigh.data())),
        firstLow_(Table(utf8pairs::kFirstLow.data())),
        secondHigh_(Table(utf8pairs::kSecondHigh.data())),
        unfinishedAt_(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(utf8pairs::kUnfinished.data()))),
        error_(_mm256_setzero_si256()),
        before_(error_),
        unfinished_(error_) {}

  [[gnu::target("avx2"), gnu::always_inline]] void Check(const char* block) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    if (_mm256_movemask_epi8(in) == 0) {  // ASCII: only a sequence cut before it is a fault
      error_ = _mm256_or_si256(error_, unfinished_);
      unfinished_ = _mm256_setzero_si256();
      before_ = in;
      return;
    }
    // The bytes 1, 2 and 3 places before each byte.
    const __m256i joined = _mm256_permute2x128_si256(before_, in, 0x21);
    const __m256i prev1 = _mm256_alignr_epi8(in, joined, 15),
                  prev2 = _mm256_alignr_epi8(in, joined, 14),
                  prev3 = _mm256_alignr_epi8(in, joined, 13);
    const __m256i lowHalf = _mm256_set1_epi8(0x0F);
    const __m256i pair = _mm256_and_si256(
        _mm256_and_si256(
            _mm256_shuffle_epi8(firstHigh_, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), lowHalf)),
            _mm256_shuffle_epi8(firstLow_, _mm256_and_si256(prev1, lowHalf))),
        _mm256_shuffle_epi8(secondHigh_, _mm256_and_si256(_mm256_srli_epi16(in, 4), lowHalf)));
    const __m256i due =
        _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(prev2, _mm256_set1_epi8(0xE0 - 0x80)),
                                         _mm256_subs_epu8(prev3, _mm256_set1_epi8(0xF0 - 0x80))),
                         _mm256_set1_epi8(static_cast<char>(0x80)));
    error_ = _mm256_or_si256(error_, _mm256_xor_si256(due, pair));
    unfinished_ = _mm256_subs_epu8(in, unfinishedAt_);
    before_ = in;
  }

  // True when a block so far showed a fault (a sequence the last one cut short not counted).
  [[gnu::target("avx2"), gnu::always_inline]] bool Faulty() const {
    return _mm256_testz_si256(error_, error_) == 0;
  }
  // True when no block showed a fault and the last ended no sequence short.
  [[gnu::target("avx2"), gnu::always_inline]] bool Valid() const {
    const __m256i error = _mm256_or_si256(error_, unfinished_);
    return _mm256_testz_si256(error, error) != 0;
  }

 private:
  [[gnu::target("avx2"), gnu::always_inline]] static __m256i Table(const char* t) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
  }
  __m256i firstHigh_, firstLow_, secondHigh_, unfinishedAt_, error_, before_, unfinished_;
};

[[gnu::target("avx2")]] bool IsValidUtf8Avx2(const char* p, size_t n) {
  Utf8Blocks blocks;
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    blocks.Check(p + i);
    // Text of another encoding fails at once: stop at the first kilobyte that holds a fault.
    if (i % 1024 == 1024 - 32 && blocks.Faulty()) return false;
  }
  if (i < n) {
    char last[32] = {};  // the rest, then zero bytes (ASCII), which end any sequence cut short
    std::memcpy(last, p + i, n - i);
    blocks.Check(last);
  }
  return blocks.Valid();
}
#endif

}  // namespace

bool IsValidUtf8(std::string_view text) {
#ifdef QUORVEL_UTF8_VECTORS
  // Short texts (a name, a line) a sequence at a time, long ones (the survey of a file) with
  // vectors where the processor has them.
  static const bool vectors = __builtin_cpu_supports("avx2");
  if (vectors && text.size() >= 64) return IsValidUtf8Avx2(text.data(), text.size());
#endif
  return IsValidUtf8Bytewise(text);
}

bool HasUtf8Ideograph(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  char32_t cp;
  for (size_t i = 0; i < n;) {
    if (static_cast<unsigned char>(p[i]) < 0x80) {
      i = PastAscii(p, i, n);
      continue;
    }
    const size_t len = NextUtf8(p, i, n, &cp);
    if (len == 0) return false;
    if (IsIdeograph(cp)) return true;
    i += len;
  }
  return false;
}

namespace {

// Eight bytes of GB2312 pairs at once. `w` holds them as a number, the first in its lowest byte;
// `*odd` says whether the bytes before end inside a pair (the next non-ASCII byte is a trail) and
// is updated. False where a byte breaks the pairing: a non-ASCII byte outside A1-FE, a lead past
// F7, or an ASCII byte where a trail is due.
inline bool PairsAsGb2312(uint64_t w, uint64_t* odd) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHigh = kOnes * 0x80;
  const uint64_t high = w & kHigh;
  if (high == 0) return *odd == 0;
  const uint64_t wide = high >> 7;  // 1 in each non-ASCII byte
  // In each byte: the parity of the non-ASCII bytes up to and including it.
  uint64_t upTo = wide ^ (wide << 8);
  upTo ^= upTo << 16;
  upTo ^= upTo << 32;
  const uint64_t trail = (upTo ^ wide ^ (0 - *odd)) & kOnes;  // a trail is due here
  const uint64_t lead = wide & ~trail;
  const uint64_t low = w & ~kHigh;  // each byte less its top bit: 0x21-0x7E for A1-FE
  const uint64_t asciiAsTrail = (~wide & trail) << 7;
  const uint64_t belowA1 = ~(low + kOnes * 0x5F) & high, fromF8 = (low + kOnes * 0x08) & high;
  *odd ^= upTo >> 56 & 1;
  if ((asciiAsTrail | belowA1 | fromF8) == 0) return true;
  // F8-FE breaks the pairing only as a lead, FF always.
  return (asciiAsTrail | belowA1 | (fromF8 & (lead << 7)) | ((low + kOnes) & high)) == 0;
}

#if defined(__x86_64__)
// PairsAsGb2312 for a block of kBytes bytes (16 or 32) given as bit masks of its byte classes, one
// bit a byte, the first byte in the lowest: `wide` the non-ASCII bytes (not all ASCII: the caller
// decides that block alone), `belowA1` those from 80 to A0, `fromF8` those from F8, `ff` the FF
// bytes.
template <int kBytes>
[[gnu::always_inline]] inline bool PairedByMasks(uint32_t wide, uint32_t belowA1, uint32_t fromF8,
                                                 uint32_t ff, uint64_t* odd) {
  // In each bit: the parity of the non-ASCII bytes before it, and whether a trail is due there.
  uint32_t upTo = wide;
  upTo ^= upTo << 1;
  upTo ^= upTo << 2;
  upTo ^= upTo << 4;
  upTo ^= upTo << 8;
  if constexpr (kBytes == 32) upTo ^= upTo << 16;
  constexpr uint32_t kAll = kBytes == 32 ? ~0u : (1u << kBytes) - 1;
  const uint32_t trail = (upTo ^ wide ^ (0u - static_cast<uint32_t>(*odd))) & kAll;
  const uint32_t lead = wide & ~trail;
  *odd ^= upTo >> (kBytes - 1) & 1;
  // F8-FE breaks the pairing only as a lead, FF always.
  return ((~wide & trail) | belowA1 | (fromF8 & lead) | ff) == 0;
}

// PairsAsGb2312 for sixteen bytes at `p`, with SSE2 (every x86-64 processor has it).
inline bool PairsAsGb2312x16(const char* p, uint64_t* odd) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto bits = [](__m128i m) { return static_cast<uint32_t>(_mm_movemask_epi8(m)); };
  const uint32_t wide = bits(v);  // non-ASCII bytes
  if (wide == 0) return *odd == 0;
  // Compared as signed bytes: 0x80-0xA0 are below 0xA1 (-95), 0xF8-0xFF above -9 (as ASCII is).
  return PairedByMasks<16>(wide, bits(_mm_cmpgt_epi8(_mm_set1_epi8(-95), v)),
                           bits(_mm_cmpgt_epi8(v, _mm_set1_epi8(-9))),
                           bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(-1))), odd);
}
#endif

#ifdef QUORVEL_UTF8_VECTORS
// The top bit of each of 32 bytes, the first byte's in the lowest bit.
[[gnu::target("avx2"), gnu::always_inline]] inline uint32_t TopBits(__m256i m) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(m));
}

// PairsAsGb2312x16 for 32 bytes, with AVX2.
[[gnu::target("avx2"), gnu::always_inline]] inline bool PairsAsGb2312x32(const char* p,
                                                                         uint64_t* odd) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const uint32_t wide = TopBits(v);
  if (wide == 0) return *odd == 0;
  return PairedByMasks<32>(wide, TopBits(_mm256_cmpgt_epi8(_mm256_set1_epi8(-95), v)),
                           TopBits(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(-9))),
                           TopBits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(-1))), odd);
}

// The 32-byte blocks of LooksLikeGb2312 from `*at` on; false where the pairing breaks, else
// `*at` and `*odd` where the blocks end.
[[gnu::target("avx2")]] bool PairsAsGb2312Avx2(const char* p, size_t n, size_t* at, uint64_t* odd) {
  size_t i = *at;
  for (; i + 32 <= n; i += 32)
    if (!PairsAsGb2312x32(p + i, odd)) return false;
  *at = i;
  return true;
}
#endif

}  // namespace

bool LooksLikeGb2312(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  uint64_t odd = 0;
  size_t i = 0;
#ifdef QUORVEL_UTF8_VECTORS
  // A whole file (the survey) 32 bytes at a time where the processor can.
  static const bool wide = __builtin_cpu_supports("avx2");
  if (wide && n >= 64 && !PairsAsGb2312Avx2(p, n, &i, &odd)) return false;
#endif
#if defined(__x86_64__)
  for (; i + 16 <= n; i += 16)
    if (!PairsAsGb2312x16(p + i, &odd)) return false;
#endif
  for (; i + 8 <= n; i += 8)
    if (!PairsAsGb2312(Load64(p + i), &odd)) return false;
  // The last bytes, then zeros (ASCII): a lead at the very end has no trail.
  char last[8] = {};
  if (n > i) std::memcpy(last, p + i, n - i);
  return PairsAsGb2312(Load64(last), &odd) && odd == 0;
}

std::string Utf8ToGb18030(std::string_view utf8, size_t* invalid) {
  Iconv cv("GB18030", "UTF-8");
  return cv.Convert(utf8, [&](std::string& rep, size_t pos) -> size_t {
    rep = kDamagedCharacter;
    char32_t cp;
    std::string_view rest = utf8.substr(pos);
    if (size_t len = DecodeUtf8(rest, &cp)) return len;  // valid, but iconv has no code for it
    if (invalid) ++*invalid;
    return InvalidUtf8Length(rest);
  });
}

std::string Utf8ToGb18030Strict(std::string_view utf8, bool* ok) {
  *ok = true;
  Iconv cv("GB18030", "UTF-8");
  return cv.Convert(utf8, [&](std::string& rep, size_t pos) -> size_t {
    *ok = false;
    rep = "?";
    char32_t cp;
    size_t len = DecodeUtf8(utf8.substr(pos), &cp);
    return len == 0 ? 1 : len;
  });
}

std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian, size_t* invalid) {
  Iconv cv("UTF-8", littleEndian ? "UTF-16LE" : "UTF-16BE");
  return cv.Convert(utf16, [&](std::string& rep, size_t) -> size_t {
    if (invalid) ++*invalid;
    rep = "\xEF\xBF\xBD";
    return 2;
  });
}

namespace {

// Opening a converter costs more than converting a name: one per thread, reset at every call.
Iconv& Gb18030ToUtf8Converter() {
  thread_local Iconv cv("UTF-8", "GB18030");
  return cv;
}

// The UTF-8 of `character` when iconv converts all its bytes into one code point beyond ASCII
// (exactly what it makes of them anywhere in a text), else empty.
std::string ConvertedAsOne(std::string_view character) {
  bool failed = false;
  std::string utf8 = Gb18030ToUtf8Converter().Convert(character, [&](std::string&, size_t) {
    failed = true;
    return size_t{0};
  });
  char32_t cp;
  if (failed || DecodeUtf8(utf8, &cp) != utf8.size() || cp < 0x80) return {};
  return utf8;
}

// The UTF-8 bytes of each double-byte character (GbkSlot), worked out the first time it appears:
// the bytes in the low three bytes, their count in the high one; 0 where not worked out yet, and
// kNotOneCharacter where iconv does not convert the code as one character. Either thread of a run
// may fill an entry, and both would write the same value.
constexpr uint32_t kNotOneCharacter = 0xFF000000;
std::atomic<uint32_t> gbkUtf8[kGbkSlots];

uint32_t GbkUtf8(int slot) {
  std::atomic<uint32_t>& entry = gbkUtf8[slot];
  uint32_t value = entry.load(std::memory_order_relaxed);
  if (value != 0) return value;
  const char code[2] = {static_cast<char>(0x81 + slot / 191), static_cast<char>(0x40 + slot % 191)};
  const std::string utf8 = ConvertedAsOne(std::string_view(code, 2));
  if (utf8.empty() || utf8.size() > 3) {
    value = kNotOneCharacter;
  } else {
    value = static_cast<uint32_t>(utf8.size()) << 24;
    for (size_t k = 0; k < utf8.size(); ++k)
      value |= uint32_t{static_cast<unsigned char>(utf8[k])} << (8 * k);
  }
  entry.store(value, std::memory_order_relaxed);
  return value;
}

}  // namespace

std::string Gb18030ToUtf8(std::string_view text) {
  return Gb18030ToUtf8Converter().Convert(text, [](std::string& rep, size_t) -> size_t {
    rep = "?";
    return 1;
  });
}

void AppendGb18030AsUtf8(std::string& out, std::string_view gb18030) {
  if (AsciiLength(gb18030) == gb18030.size()) {  // many short texts are ASCII only: one append
    out.append(gb18030);
    return;
  }
  // Room for the rest from `i` on: ASCII keeps its length and a double-byte character takes at
  // most three bytes; anything else is appended after the buffer is cut back.
  char* o = nullptr;
  const auto makeRoom = [&](size_t i) {
    const size_t used = out.size(), left = gb18030.size() - i;
    out.resize(used + left + left / 2 + 1);
    o = out.data() + used;
  };
  makeRoom(0);
  size_t i = 0;
  while (i < gb18030.size()) {
    const size_t ascii = AsciiLength(gb18030.substr(i));
    std::memcpy(o, gb18030.data() + i, ascii);
    o += ascii;
    i += ascii;
    if (i == gb18030.size()) break;
    const std::string_view rest = gb18030.substr(i);
    const size_t length = Gb18030CharLength(rest);
    if (length == 2) {
      const uint32_t utf8 = GbkUtf8(GbkSlot(rest.substr(0, 2)));
      if (utf8 != kNotOneCharacter) {
        const size_t size = utf8 >> 24;
        for (size_t k = 0; k < size; ++k) *o++ = static_cast<char>(utf8 >> (8 * k));
        i += 2;
        continue;
      }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    // A four-byte character iconv converts alone is converted so wherever it stands; from
    // anything else on (a lone byte, a code iconv has no character for), iconv takes the rest,
    // which it begins just where it would have in the whole text.
    if (length == 4) {
      if (const std::string utf8 = ConvertedAsOne(rest.substr(0, 4)); !utf8.empty()) {
        out += utf8;
        i += 4;
        makeRoom(i);
        continue;
      }
    }
    out += Gb18030ToUtf8(rest);
    return;
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

const char* EncodingName(SourceEncoding encoding) {
  switch (encoding) {
    case SourceEncoding::kGb18030: return "GB18030";
    case SourceEncoding::kUtf8: return "UTF-8";
    case SourceEncoding::kUtf8Bom: return "UTF-8 (byte-order mark)";
    case SourceEncoding::kUtf16Le: return "UTF-16LE";
    case SourceEncoding::kUtf16Be: return "UTF-16BE";
  }
  return "?";
}

namespace {

// The byte-order mark a UTF-16 text starts with, if any: 2 bytes, or 0 for one without a mark.
size_t Utf16MarkLength(std::string_view text, bool littleEndian) {
  return text.starts_with(littleEndian ? "\xFF\xFE" : "\xFE\xFF") ? 2 : 0;
}

// What a text without a mark holds when it is read as UTF-16 in one byte order.
struct Utf16Census {
  size_t ideographs = 0;
  size_t others = 0;    // characters that are neither ideographs, ASCII nor CJK punctuation
  bool faults = false;  // a control character other than tab and line ends, or a lone surrogate
};

Utf16Census CensusUtf16(std::string_view text, bool littleEndian) {
  Utf16Census census;
  auto unit = [&](size_t at) -> char32_t {
    const auto a = static_cast<unsigned char>(text[at]),
               b = static_cast<unsigned char>(text[at + 1]);
    return littleEndian ? char32_t{b} << 8 | a : char32_t{a} << 8 | b;
  };
  for (size_t i = 0; i + 1 < text.size() && !census.faults; i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < text.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    }
    if (u < 0x20) {
      census.faults =
          u != 0 && u != '\t' && u != '\r' && u != '\n';  // a NUL is a damaged character
    } else if ((u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) ||
               (u >= 0xF900 && u <= 0xFAFF) || (u >= 0x20000 && u <= 0x3FFFF)) {
      ++census.ideographs;
    } else if ((u >= 0xD800 && u <= 0xDFFF) || (u >= 0x7F && u <= 0x9F)) {
      census.faults = true;
    } else if (u >= 0x80 && !(u >= 0x3000 && u <= 0x303F) && !(u >= 0xFF00 && u <= 0xFFEF) &&
               u != 0xB7 && u != 0x2022 && u != 0x2027) {
      ++census.others;
    }
  }
  return census;
}

// The longest text of UTF-16 without zero bytes (one line, no ASCII) taken for one.
constexpr size_t kLongestLineWithoutZeros = 64 * 1024;

// UTF-16 without a mark (see DetectEncoding), or nullopt. Where zero bytes are, they tell the
// byte order: an ASCII character (a line end) has its zero byte in the high place.
std::optional<SourceEncoding> Utf16WithoutMark(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return std::nullopt;
  size_t zeros[2] = {0, 0};  // at even and at odd offsets
  if (bytes.find('\0') != std::string_view::npos) {
    for (size_t i = 0; i < bytes.size(); ++i) zeros[i % 2] += bytes[i] == '\0';
    if (zeros[0] == zeros[1]) return std::nullopt;
  } else if (bytes.size() > kLongestLineWithoutZeros || IsValidUtf8(bytes) ||
             IsValidGb18030(bytes)) {
    // Without zero bytes UTF-16 holds no ASCII character, not even a line end: one line.
    return std::nullopt;
  }
  for (bool littleEndian : {true, false}) {
    if (zeros[0] + zeros[1] > 0 && (zeros[1] > zeros[0]) != littleEndian) continue;
    const Utf16Census census = CensusUtf16(bytes, littleEndian);
    if (!census.faults && census.ideographs > 0 && census.ideographs >= census.others)
      return littleEndian ? SourceEncoding::kUtf16Le : SourceEncoding::kUtf16Be;
  }
  return std::nullopt;
}

// How many characters of a GB18030 text are common ideographs (GB2312's first level, B0A1 to
// D7F9), and how many are not ASCII.
std::pair<size_t, size_t> CommonIdeographs(std::string_view text) {
  size_t common = 0, wide = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t len = Gb18030CharLength(text.substr(i));
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead >= 0x80) {
      ++wide;
      const auto trail = len == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
      common += len == 2 && lead >= 0xB0 && lead <= 0xD7 && trail >= 0xA1 && trail <= 0xFE &&
                !(lead == 0xD7 && trail >= 0xFA);
    }
    i += len;
  }
  return {common, wide};
}

// Valid UTF-8 that pairs into GB2312 characters too: UTF-8 when every character it reads as is a
// common ideograph and the pairs are not all common ones.
bool ReadsBetterAsUtf8(std::string_view bytes) {
  if (!IsValidUtf8(bytes) || !HasUtf8Ideograph(bytes)) return false;
  const auto [utf8Common, utf8Wide] = CommonIdeographs(Utf8ToGb18030(bytes));
  const auto [pairsCommon, pairs] = CommonIdeographs(bytes);
  return utf8Common == utf8Wide && pairsCommon < pairs;
}

}  // namespace

SourceEncoding DetectEncoding(std::string_view bytes) {
  // EF BB BF also begins the GBK name 锘亏: a mark counts when UTF-8 really follows it.
  // (Whether GBK can follow is known at the first UTF-8 character, validity only at the end.)
  if (bytes.starts_with("\xEF\xBB\xBF") &&
      (!LooksLikeGb2312(bytes) || IsValidUtf8(bytes.substr(3))))
    return SourceEncoding::kUtf8Bom;
  if (bytes.starts_with("\xFF\xFE")) return SourceEncoding::kUtf16Le;
  if (bytes.starts_with("\xFE\xFF")) return SourceEncoding::kUtf16Be;
  if (auto wide = Utf16WithoutMark(bytes)) return *wide;
  // A short GBK name can happen to be valid UTF-8 too (three characters in six bytes); GBK text
  // pairs into GB2312 characters, Unicode text read as GBK seldom does, and then seldom into
  // common ideographs only.
  if (LooksLikeGb2312(bytes))
    return ReadsBetterAsUtf8(bytes) ? SourceEncoding::kUtf8 : SourceEncoding::kGb18030;
  // Valid UTF-8 has no fault to weigh, only whether it holds an ideograph; checking validity
  // costs less than counting, and stops at the first fault (in GBK text, its first character).
  if (IsValidUtf8(bytes))
    return HasUtf8Ideograph(bytes) ? SourceEncoding::kUtf8 : SourceEncoding::kGb18030;
  // Faults never go away and an ideograph takes three bytes at least: once even the rest of the
  // text read as ideographs would be too few for the faults, the count can stop.
  const Utf8Census census = CountUtf8(bytes, [](const Utf8Census& sofar, size_t rest) {
    return sofar.ideographs + rest / 3 < kUtf8IdeographsPerFault * sofar.faults;
  });
  if (census.ideographs == 0) return SourceEncoding::kGb18030;
  // A stray or damaged byte in a UTF-8 file: its ideographs still far outnumber the faults.
  // GBK text read as UTF-8 is the reverse, a fault at nearly every character; and GBK names
  // that happen to hold UTF-8-looking runs still read as GB18030 without a fault, which UTF-8
  // text with a stray byte does not (a 0x80 lead, a line of odd length).
  if (census.ideographs >= kUtf8IdeographsPerFault * census.faults && !IsValidGb18030(bytes))
    return SourceEncoding::kUtf8;
  return SourceEncoding::kGb18030;
}

namespace {

// Replaces every NUL of `text` by kDamagedCharacter; returns how many there were.
size_t MarkNuls(std::string& text) {
  const auto count = static_cast<size_t>(std::count(text.begin(), text.end(), '\0'));
  if (count == 0) return 0;
  std::string marked;
  marked.reserve(text.size() + count);
  for (char c : text) {
    if (c == '\0') marked += kDamagedCharacter;
    else marked += c;
  }
  text.swap(marked);
  return count;
}

}  // namespace

std::string SourceToGb18030(std::string_view source, SourceEncoding encoding, size_t* invalid) {
  size_t count = 0;
  std::string text;
  switch (encoding) {
    case SourceEncoding::kGb18030: text = source; break;
    case SourceEncoding::kUtf8: text = Utf8ToGb18030(source, &count); break;
    case SourceEncoding::kUtf8Bom: text = Utf8ToGb18030(source.substr(3), &count); break;
    case SourceEncoding::kUtf16Le:
    case SourceEncoding::kUtf16Be: {
      const bool le = encoding == SourceEncoding::kUtf16Le;
      text = Utf8ToGb18030(Utf16ToUtf8(source.substr(Utf16MarkLength(source, le)), le, &count));
      break;
    }
  }
  // No GB18030 character holds a zero byte: each one here is a NUL character of the source.
  count += MarkNuls(text);
  if (invalid) *invalid = count;
  return text;
}

// ---- Gb18030LineReader ------------------------------------------------------------------------

// The GB18030 bytes of each code point, worked out by iconv the first time it appears: exactly
// what Utf8ToGb18030 makes of it.
class Gb18030LineReader::CodePoints {
 public:
  CodePoints() : cd_(::iconv_open("GB18030", "UTF-8")), bmp_(0x10000), twoByte_(0x10000) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert");
  }
  ~CodePoints() { ::iconv_close(cd_); }
  CodePoints(const CodePoints&) = delete;
  CodePoints& operator=(const CodePoints&) = delete;

  struct Code {
    unsigned char length = 0;  // 0: not worked out yet
    char bytes[4] = {};
  };

  // The bytes of `cp`, worked out now if they were not yet.
  const Code& Find(char32_t cp) {
    Code* known = cp < 0x10000 ? &bmp_[cp] : &others_[cp];
    if (known->length == 0) {
      *known = Encode(cp);
      if (cp >= 0x800 && cp < 0x10000 && known->length == 2)
        std::memcpy(&twoByte_[cp], known->bytes, 2);
    }
    return *known;
  }
  void Append(std::string& out, char32_t cp) {
    const Code& code = Find(cp);
    out.append(code.bytes, code.length);
  }
  // Writes the code of `cp` (U+0080 to U+FFFF) at `out` and moves `out` past it when it is known
  // already and takes two bytes; else false.
  bool PutKnownTwoByte(char32_t cp, char*& out) const {
    if (cp >= 0x800) {
      const uint16_t code = twoByte_[cp];
      if (code == 0) return false;
      std::memcpy(out, &code, 2);
    } else {
      if (bmp_[cp].length != 2) return false;
      std::memcpy(out, bmp_[cp].bytes, 2);
    }
    out += 2;
    return true;
  }
  // The two bytes of each code point of U+0800 to U+FFFF (those UTF-8 writes in three) worked out
  // so far whose GB18030 code takes two, as they lie in memory; 0 for every other, as for every
  // code point below (no GB18030 code starts with a zero byte).
  const uint16_t* TwoByte() const { return twoByte_.data(); }

 private:
  // The GB18030 bytes of one code point, or kDamagedCharacter where iconv has none.
  Code Encode(char32_t cp) {
    char utf8[4];
    size_t n = 0;
    if (cp < 0x80) {
      utf8[n++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
      utf8[n++] = static_cast<char>(0xC0 | cp >> 6);
      utf8[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      utf8[n++] = static_cast<char>(0xE0 | cp >> 12);
      utf8[n++] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      utf8[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      utf8[n++] = static_cast<char>(0xF0 | cp >> 18);
      utf8[n++] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      utf8[n++] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      utf8[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    Code code;
    char* src = utf8;
    size_t srcLeft = n;
    char* dst = code.bytes;
    size_t dstLeft = sizeof code.bytes;
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0) {
      kDamagedCharacter.copy(code.bytes, kDamagedCharacter.size());
      code.length = static_cast<unsigned char>(kDamagedCharacter.size());
      return code;
    }
    code.length = static_cast<unsigned char>(sizeof code.bytes - dstLeft);
    return code;
  }

  iconv_t cd_;
  std::vector<Code> bmp_;
  std::vector<uint16_t> twoByte_;
  std::unordered_map<char32_t, Code> others_;
};

Gb18030LineReader::Gb18030LineReader(std::string_view source, SourceEncoding encoding)
    : encoding_(encoding), text_(source) {
  switch (encoding_) {
    case SourceEncoding::kGb18030:
    case SourceEncoding::kUtf8: break;
    case SourceEncoding::kUtf8Bom: text_ = source.substr(3); break;
    case SourceEncoding::kUtf16Le: text_ = source.substr(Utf16MarkLength(source, true)); break;
    case SourceEncoding::kUtf16Be: text_ = source.substr(Utf16MarkLength(source, false)); break;
  }
  end_ = text_.size();
  nextNul_ = encoding_ == SourceEncoding::kGb18030 ? text_.find('\0') : std::string_view::npos;
  if (encoding_ != SourceEncoding::kGb18030) codePoints_ = std::make_unique<CodePoints>();
}

Gb18030LineReader::~Gb18030LineReader() = default;

char32_t Gb18030LineReader::Unit(size_t at) const {
  const auto a = static_cast<unsigned char>(text_[at]),
             b = static_cast<unsigned char>(text_[at + 1]);
  return encoding_ == SourceEncoding::kUtf16Le ? char32_t{b} << 8 | a : char32_t{a} << 8 | b;
}

size_t Gb18030LineReader::CountLines() const {
  const bool wide = Wide();
  LineCounter counter;
  auto feed = [&](std::string_view text) {
    const char* p = text.data();
    const size_t n = text.size();
    if (!wide) {
      for (size_t i = 0; i < n; ++i) counter.Feed(static_cast<unsigned char>(p[i]));
      return;
    }
    const bool le = encoding_ == SourceEncoding::kUtf16Le;
    for (size_t i = 0; i + 1 < n; i += 2) {
      const auto a = static_cast<unsigned char>(p[i]), b = static_cast<unsigned char>(p[i + 1]);
      counter.Feed(le ? char32_t{b} << 8 | a : char32_t{a} << 8 | b);
    }
    if (n % 2) counter.Feed(0xFFFD);  // an odd last byte is a character of its own
  };
  if (fd_ < 0) {
    feed(text_.substr(0, end_));
    return counter.Total();
  }
  std::string block(block_, '\0');
  for (off_t at = static_cast<off_t>(markLength_);;) {
    const ssize_t n = ::pread(fd_, block.data(), block.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowInOut(errno, name_);
    if (n == 0) break;
    at += n;
    // A block of odd length from a short read: the next one starts with the unit's other byte.
    size_t used = static_cast<size_t>(n);
    if (wide && used % 2 && used == block.size()) --used, --at;
    feed(std::string_view(block.data(), used));
  }
  return counter.Total();
}

void Gb18030LineReader::Refill() {
  window_.erase(0, pos_);
  pos_ = 0;
  const size_t want = window_.size() + block_;
  if (int e = ReadFromDescriptor(fd_, window_, want)) ThrowInOut(e, name_);
  eof_ = window_.size() < want;
  if (!started_) {
    started_ = true;
    window_.erase(0, markLength_);
  }
  text_ = window_;
  end_ = window_.size();
  nextNul_ = encoding_ == SourceEncoding::kGb18030 ? text_.find('\0') : std::string_view::npos;
}

Gb18030LineReader::Gb18030LineReader(int fd, SourceEncoding encoding, std::string name,
                                     size_t blockBytes, size_t longestLine)
    : encoding_(encoding),
      fd_(fd),
      name_(std::move(name)),
      block_(std::max<size_t>(blockBytes, 4)),
      longest_(longestLine),
      eof_(false) {
  if (encoding_ != SourceEncoding::kGb18030) codePoints_ = std::make_unique<CodePoints>();
  nextNul_ = std::string_view::npos;
  // The byte-order mark, skipped by the reading and by the count.
  char head[3] = {};
  ssize_t n;
  do n = ::pread(fd_, head, sizeof head, 0);
  while (n < 0 && errno == EINTR);
  if (n < 0) ThrowInOut(errno, name_);
  const std::string_view start(head, static_cast<size_t>(n));
  if (encoding_ == SourceEncoding::kUtf8Bom) markLength_ = start.size();
  if (Wide()) markLength_ = Utf16MarkLength(start, encoding_ == SourceEncoding::kUtf16Le);
}

void ThrowLineTooLong(size_t lineNumber, const std::string& name, size_t limit) {
  const std::string size = limit % (size_t{1} << 20) == 0 ? std::to_string(limit >> 20) + " MiB"
                                                          : std::to_string(limit) + " bytes";
  throw Error("Line " + std::to_string(lineNumber) + " of \"" + name + "\" is longer than " + size);
}

namespace {

// Reads up to `size` bytes of `fd` at `at` into `out` (fewer only at the end of the file).
void ReadAt(int fd, off_t at, size_t size, std::string& out) {
  out.resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, out.data() + got, size - got, at + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowInOut(errno);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
}

// Hands `fn` a large text in blocks of up to `block` bytes, each cut after its last LF (a
// character of its own in UTF-8, GBK and GB18030, never inside another), with the count of bytes
// after it; `fn` returns false to stop. False when a block holds no LF (one line longer than a
// block): the blocks cannot stand for the text.
template <typename Fn>
bool ForEachBlock(int fd, size_t size, size_t block, Fn&& fn) {
  std::string bytes;
  for (size_t at = 0; at < size;) {
    ReadAt(fd, static_cast<off_t>(at), std::min(block, size - at), bytes);
    if (bytes.empty()) return true;  // the file shrank meanwhile: the rest is not there
    std::string_view text = bytes;
    if (at + text.size() < size) {
      const size_t lf = text.rfind('\n');
      if (lf == std::string_view::npos) return false;
      text = text.substr(0, lf + 1);
    }
    at += text.size();
    if (!fn(text, size - at)) return true;
  }
  return true;
}

// What one pass over a large text in blocks tells of it.
struct TextSurvey {
  bool complete = true;  // false: a zero byte, or a line longer than a block
  bool looksGb2312 = true, validUtf8 = true, utf8Ideograph = false;
};

// `marked`: the text starts with EF BB BF.
TextSurvey SurveyText(int fd, size_t size, size_t block, bool marked) {
  TextSurvey s;
  s.complete = ForEachBlock(fd, size, block,
                            [&](std::string_view text, size_t) {
                              if (s.looksGb2312) s.looksGb2312 = LooksLikeGb2312(text);
                              // The mark counts once GBK cannot follow it, whatever comes after
                              // (a zero byte or a long line too: DetectEncoding weighs the mark
                              // first). Pairs never straddle a block's last LF, so a block that
                              // does not pair means the text does not.
                              if (marked && !s.looksGb2312) return false;
                              if (text.find('\0') != std::string_view::npos)
                                return s.complete = false;
                              if (s.validUtf8) s.validUtf8 = IsValidUtf8(text);
                              if (s.validUtf8 && !s.utf8Ideograph)
                                s.utf8Ideograph = HasUtf8Ideograph(text);
                              return s.looksGb2312 || s.validUtf8;  // else the census below decides
                            }) &&
               s.complete;
  return s;
}

// Neither GB2312 pairs nor valid UTF-8, no zero byte: DetectEncoding's count of UTF-8 faults and
// ideographs, in blocks, stopping where it stops; nullopt for a zero byte or a line longer than a
// block.
std::optional<SourceEncoding> Utf8FaultRule(int fd, size_t size, size_t block) {
  Utf8Census whole;
  bool settled = false, zero = false;
  const bool complete = ForEachBlock(fd, size, block, [&](std::string_view text, size_t after) {
    if (text.find('\0') != std::string_view::npos) return !(zero = true);
    if (settled) return true;  // only zero bytes are looked for now
    const Utf8Census part = CountUtf8(text, [&](const Utf8Census& sofar, size_t rest) {
      settled = whole.ideographs + sofar.ideographs + (rest + after) / 3 <
                kUtf8IdeographsPerFault * (whole.faults + sofar.faults);
      return settled;
    });
    whole.ideographs += part.ideographs;
    whole.invalid += part.invalid;
    whole.faults += part.faults;
    return true;
  });
  if (!complete || zero) return std::nullopt;
  if (whole.ideographs == 0) return SourceEncoding::kGb18030;
  if (whole.invalid == 0) return SourceEncoding::kUtf8;
  if (whole.ideographs < kUtf8IdeographsPerFault * whole.faults) return SourceEncoding::kGb18030;
  bool gb18030 = true;
  if (!ForEachBlock(fd, size, block,
                    [&](std::string_view text, size_t) { return gb18030 = IsValidGb18030(text); }))
    return std::nullopt;
  return gb18030 ? SourceEncoding::kGb18030 : SourceEncoding::kUtf8;
}

// DetectEncoding's answer for a large text from its survey, where the survey settles it.
std::optional<SourceEncoding> SettledBySurvey(const TextSurvey& s, std::string_view head) {
  if (!s.complete) return std::nullopt;
  // The mark counts when UTF-8 follows it (EF BB BF is valid UTF-8 itself) or GBK cannot.
  if (head.starts_with("\xEF\xBB\xBF") && (s.validUtf8 || !s.looksGb2312))
    return SourceEncoding::kUtf8Bom;
  // No zero byte and longer than one line of UTF-16 without ASCII: not UTF-16 without a mark.
  if (s.looksGb2312) {
    if (!s.validUtf8 || !s.utf8Ideograph) return SourceEncoding::kGb18030;  // not better as UTF-8
    return std::nullopt;
  }
  if (!s.validUtf8) return std::nullopt;  // the faults are weighed (Utf8FaultRule)
  // Valid UTF-8 throughout: no fault to weigh, only whether it holds an ideograph.
  return s.utf8Ideograph ? SourceEncoding::kUtf8 : SourceEncoding::kGb18030;
}

SourceEncoding DetectMapped(int fd, size_t size) {
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) ThrowInOut(errno);
  ::madvise(map, size, MADV_SEQUENTIAL);
  SourceEncoding encoding;
  try {
    encoding = DetectEncoding(std::string_view(static_cast<const char*>(map), size));
  } catch (...) {
    ::munmap(map, size);
    throw;
  }
  ::munmap(map, size);
  return encoding;
}

}  // namespace

SourceEncoding DetectFileEncoding(int fd, size_t wholeUpTo, size_t block) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowInOut(errno);
  const auto size = static_cast<size_t>(std::max<off_t>(st.st_size, 0));
  std::string head;  // the whole text, or the first bytes where only the marks are looked at
  ReadAt(fd, 0, size <= wholeUpTo ? size : 4, head);
  if (head.size() < 4 || size <= wholeUpTo) return DetectEncoding(head);
  if (head.starts_with("\xFF\xFE") && !head.starts_with("\xEF\xBB\xBF"))
    return SourceEncoding::kUtf16Le;
  if (head.starts_with("\xFE\xFF")) return SourceEncoding::kUtf16Be;
  block = std::max<size_t>(block, 16);
  if (size > kLongestLineWithoutZeros) {
    const TextSurvey survey = SurveyText(fd, size, block, head.starts_with("\xEF\xBB\xBF"));
    if (auto settled = SettledBySurvey(survey, head)) return *settled;
    if (survey.complete && !survey.looksGb2312 && !survey.validUtf8) {
      if (head.starts_with("\xEF\xBB\xBF"))
        return SourceEncoding::kUtf8Bom;  // GBK cannot follow the mark
      if (auto settled = Utf8FaultRule(fd, size, block)) return *settled;
    }
  }
  // The rest (zero bytes, damaged UTF-8, UTF-8 that pairs as GB2312 too): the whole text, mapped.
  return DetectMapped(fd, size);
}

bool Gb18030LineReader::NextAnyLine(std::string_view* line) {
  if (done_) return false;
  for (;;) {
    if (pos_ >= end_ && !eof_) {
      Refill();
      continue;
    }
    if (pos_ >= end_) {
      done_ = true;
      return false;
    }
    // The line is decoded as it is looked for: its end is found once. Read from a descriptor, a
    // line the window does not hold whole with its line end (and the unit after a CR) is read
    // again from its start once the window holds more.
    const size_t invalidBefore = invalid_;
    size_t i = pos_;  // where the line stops: its line end, or the end of the window
    switch (encoding_) {
      case SourceEncoding::kGb18030: i = ScanGb18030(); break;
      case SourceEncoding::kUtf8:
      case SourceEncoding::kUtf8Bom: i = DecodeUtf8Line(); break;
      case SourceEncoding::kUtf16Le:
      case SourceEncoding::kUtf16Be: i = DecodeUtf16Line(); break;
    }
    if (MustReadMore(i, Wide() ? 2 : 1)) {
      if (i - pos_ > longest_) ThrowLineTooLong(lines_ + 1, name_, longest_);
      invalid_ = invalidBefore;
      Refill();
      continue;
    }
    ++lines_;
    if (encoding_ == SourceEncoding::kGb18030) {
      *line = text_.substr(pos_, i - pos_);
      if (nextNul_ < i) {
        // The line holds a NUL: a damaged character of its own, and the rest of the line stays.
        line_.assign(*line);
        invalid_ += MarkNuls(line_);
        *line = line_;
        nextNul_ = text_.find('\0', i);
      }
    } else {
      *line = decoded_;
    }
    pos_ = PastLineEnd(i);
    return true;
  }
}

[[gnu::always_inline]] inline size_t Gb18030LineReader::ScanGb18030() const {
  return FindLineEnd(text_.data(), pos_, end_, end_);
}

bool Gb18030LineReader::MustReadMore(size_t i, size_t step) const {
  return fd_ >= 0 && (i - pos_ > longest_ || (!eof_ && i + 2 * step > end_));
}

[[gnu::always_inline]] inline size_t Gb18030LineReader::PastByteLineEnd(size_t i) const {
  return i + (text_[i] == '\r' && i + 1 < end_ && text_[i + 1] == '\n' ? 2 : 1);
}

bool Gb18030LineReader::NextGb18030Line(std::string_view* line) {
  if (done_ || pos_ >= end_) return false;
  const size_t i = ScanGb18030();
  if (i >= end_ || nextNul_ < i || MustReadMore(i, 1)) return false;
  ++lines_;
  *line = text_.substr(pos_, i - pos_);
  pos_ = PastByteLineEnd(i);
  return true;
}

std::string_view Gb18030LineReader::ByteWindow(size_t* endsBefore) const {
  // A line longer than the limit (its error) and one whose end needs more of the file are Next's.
  if (Wide() || done_ || pos_ >= end_ || (fd_ >= 0 && longest_ < 32)) return {};
  const size_t limit = std::min(fd_ >= 0 && !eof_ ? end_ - 1 : end_, nextNul_);
  *endsBefore = limit > pos_ ? limit - pos_ : 0;
  return text_.substr(pos_, end_ - pos_);
}

const uint16_t* Gb18030LineReader::TwoByteCodes() const {
  return encoding_ == SourceEncoding::kUtf8 || encoding_ == SourceEncoding::kUtf8Bom
             ? codePoints_->TwoByte()
             : nullptr;
}

[[gnu::always_inline]] inline size_t Gb18030LineReader::PastLineEnd(size_t i) const {
  if (i >= end_) return i;
  const size_t step = Wide() ? 2 : 1;
  const bool cr = (Wide() ? Unit(i) : static_cast<unsigned char>(text_[i])) == '\r';
  i += step;
  if (cr && i + step <= end_ && (Wide() ? Unit(i) : static_cast<unsigned char>(text_[i])) == '\n')
    i += step;
  return i;
}

void Gb18030LineReader::AppendCodePoint(char32_t cp) { codePoints_->Append(line_, cp); }

Utf8ToGb18030Converter::Utf8ToGb18030Converter()
    : codePoints_(std::make_unique<Gb18030LineReader::CodePoints>()) {}
Utf8ToGb18030Converter::~Utf8ToGb18030Converter() = default;

void Utf8ToGb18030Converter::Convert(std::string_view utf8, std::string& gbk) {
  gbk.clear();
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      gbk += static_cast<char>(c);
      ++i;
      continue;
    }
    char32_t cp;
    const std::string_view rest = utf8.substr(i);
    if (size_t len = DecodeUtf8(rest, &cp)) {
      codePoints_->Append(gbk, cp);
      i += len;
    } else {
      gbk += kDamagedCharacter;
      i += InvalidUtf8Length(rest);
    }
  }
}

// The line is decoded a stretch at a time into utf8Out_, which only grows: DecodeKnownUtf8 makes
// no more bytes than it reads, and one character of DecodeOneUtf8 makes at most 4.
constexpr size_t kUtf8Stretch = 4096, kUtf8Slack = 8;

[[gnu::always_inline]] inline size_t Gb18030LineReader::KnownLineInto(char* out) {
  if (done_ || pos_ >= end_) return kNotKnown;
  size_t n = 0;
  const size_t stop = std::min(end_, pos_ + kUtf8Stretch);
  if (!Wide()) {
    const size_t i = DecodeKnownUtf8(pos_, stop, out, &n);
    if (i >= end_ || (text_[i] != '\r' && text_[i] != '\n') || MustReadMore(i, 1)) return kNotKnown;
    pos_ = PastByteLineEnd(i);
  } else {
    const size_t i = encoding_ == SourceEncoding::kUtf16Le
                         ? DecodeKnownUtf16<true>(pos_, stop, out, &n)
                         : DecodeKnownUtf16<false>(pos_, stop, out, &n);
    if (i + 2 > end_ || (Unit(i) != '\r' && Unit(i) != '\n') || MustReadMore(i, 2))
      return kNotKnown;
    pos_ = PastLineEnd(i);
  }
  ++lines_;
  return n;
}

bool Gb18030LineReader::NextKnownLine(std::string_view* line) {
  if (utf8Out_.size() < kUtf8Stretch + kUtf8Slack) utf8Out_.resize(kUtf8Stretch + kUtf8Slack);
  const size_t n = KnownLineInto(utf8Out_.data());
  if (n == kNotKnown) return false;
  // Not through decoded_: its two halves stored and read back as one would stall the load.
  *line = std::string_view(utf8Out_.data(), n);
  return true;
}

bool Gb18030LineReader::NextLines(std::string& lines, std::vector<size_t>& ends, size_t maxLines,
                                  size_t maxBytes) {
  size_t used = ends.empty() ? 0 : ends.back();
  const bool unicode = encoding_ != SourceEncoding::kGb18030;
  const auto makeRoom = [&](size_t bytes) {
    if (lines.size() < used + bytes) lines.resize(std::max(2 * lines.size(), used + bytes));
  };
  while (ends.size() < maxLines && used < maxBytes) {
    makeRoom(kUtf8Stretch + kUtf8Slack);
    if (const size_t n = unicode ? KnownLineInto(lines.data() + used) : kNotKnown; n != kNotKnown) {
      used += n;
    } else {
      std::string_view line;
      // A Unicode line KnownLineInto did not take is one NextKnownLine would not either.
      if (!(unicode ? NextAnyLine(&line) : Next(&line))) return false;
      makeRoom(line.size());
      if (!line.empty()) std::memcpy(lines.data() + used, line.data(), line.size());
      used += line.size();
    }
    ends.push_back(used);
  }
  return true;
}

template <bool kLittleEndian>
[[gnu::always_inline]] inline size_t Gb18030LineReader::DecodeKnownUtf16(size_t i, size_t stop,
                                                                         char* into, size_t* n) {
  const auto* const base = reinterpret_cast<const unsigned char*>(text_.data());
  const auto* p = base + i;
  const auto* const end = base + stop;
  const CodePoints& codePoints = *codePoints_;
  char* const start = into + *n;
  char* out = start;
  while (end - p >= 2) {
    const char32_t u = kLittleEndian ? char32_t{p[1]} << 8 | p[0] : char32_t{p[0]} << 8 | p[1];
    if (u < 0x80) {
      if (u <= '\r' && (u == 0 || u == '\r' || u == '\n')) break;
      *out++ = static_cast<char>(u);
    } else if (!codePoints.PutKnownTwoByte(u, out)) {  // a surrogate's entry is never filled
      break;
    }
    p += 2;
  }
  *n += static_cast<size_t>(out - start);
  return static_cast<size_t>(p - base);
}

[[gnu::always_inline]] inline size_t Gb18030LineReader::DecodeUtf8Line() {
  size_t i = pos_, n = 0;
  while (i < end_) {
    const size_t stop = std::min(end_, i + kUtf8Stretch);
    if (utf8Out_.size() < n + (stop - i) + kUtf8Slack)
      utf8Out_.resize(std::max(2 * utf8Out_.size(), n + (stop - i) + kUtf8Slack));
    i = DecodeKnownUtf8(i, stop, utf8Out_.data(), &n);
    if (i == stop) continue;
    if (text_[i] == '\r' || text_[i] == '\n') break;
    i = DecodeOneUtf8(i, &n);
  }
  decoded_ = std::string_view(utf8Out_.data(), n);
  return i;
}

[[gnu::always_inline]] inline size_t Gb18030LineReader::DecodeKnownUtf8(size_t i, size_t stop,
                                                                        char* into, size_t* n) {
  const auto* const base = reinterpret_cast<const unsigned char*>(text_.data());
  const auto* p = base + i;
  const auto* const end = base + stop;
  const uint16_t* const twoByte = codePoints_->TwoByte();
  char* const start = into + *n;
  char* out = start;
  const auto stopAt = [&](const unsigned char* at) {
    *n += static_cast<size_t>(out - start);
    return static_cast<size_t>(at - base);
  };
  for (;;) {
    // Four bytes read as one word while four are left: a three-byte sequence's lead and both
    // continuation bytes tested at once (the fourth is the next character's); then byte by byte.
    while (end - p >= 4) {
      const auto w = LoadLittle<uint32_t>(reinterpret_cast<const char*>(p));
      if (!IsThreeByteShape(w)) break;
      // Overlong forms (below U+0800) and surrogates need no test: no entry of theirs is filled.
      const uint16_t code = twoByte[ThreeByteCodePoint(w)];
      if (code == 0) [[unlikely]]
        return stopAt(p);
      std::memcpy(out, &code, 2);
      out += 2;
      p += 3;
    }
    if (p == end) break;
    const unsigned c = *p;
    if (c < 0x80) {
      if (c <= '\r' && (c == 0 || c == '\r' || c == '\n')) break;
      *out++ = static_cast<char>(c);
      ++p;
      continue;
    }
    if (c < 0xC2 || c > 0xDF || end - p < 2 || (p[1] & 0xC0) != 0x80 ||
        !codePoints_->PutKnownTwoByte(char32_t{c & 0x1Fu} << 6 | (p[1] & 0x3Fu), out))
      break;
    p += 2;
  }
  return stopAt(p);
}

size_t Gb18030LineReader::DecodeOneUtf8(size_t i, size_t* n) {
  char* out = utf8Out_.data() + *n;
  const auto put = [&](const char* bytes, size_t count) {
    std::memcpy(out, bytes, count);
    *n += count;
  };
  const auto c = static_cast<unsigned char>(text_[i]);
  if (c < 0x80) {
    if (c == 0) {
      put(kDamagedCharacter.data(), kDamagedCharacter.size());
      ++invalid_;
    } else {
      put(&text_[i], 1);
    }
    return i + 1;
  }
  char32_t cp;
  // A sequence never takes in a line end or a NUL (neither is a continuation byte).
  const std::string_view rest = text_.substr(i, end_ - i);
  if (size_t len = DecodeUtf8Quick(rest, &cp)) {
    const CodePoints::Code& code = codePoints_->Find(cp);
    put(code.bytes, code.length);
    return i + len;
  }
  put(kDamagedCharacter.data(), kDamagedCharacter.size());
  ++invalid_;
  return i + InvalidUtf8Length(rest);
}

size_t Gb18030LineReader::DecodeUtf16Line() {
  // One character at `i`, below `limit`: its code point and length; a lone surrogate or an odd
  // last byte is an invalid unit, read as U+FFFD.
  auto character = [&](size_t i, size_t limit, char32_t* cp) -> size_t {
    if (limit - i < 2) {
      ++invalid_;
      *cp = 0xFFFD;
      return limit - i;
    }
    const char32_t u = Unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && limit - i >= 4) {
      const char32_t low = Unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        *cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        return 4;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      ++invalid_;
      *cp = 0xFFFD;
      return 2;
    }
    *cp = u;
    return 2;
  };
  line_.clear();
  size_t i = pos_;
  char32_t cp = 0;
  while (i < end_) {
    const size_t len = character(i, end_, &cp);
    if (cp == '\r' || cp == '\n') break;
    if (cp == 0) {
      line_ += kDamagedCharacter;
      ++invalid_;
    } else if (cp < 0x80) {
      line_ += static_cast<char>(cp);
    } else {
      AppendCodePoint(cp);
    }
    i += len;
  }
  decoded_ = line_;
  return i;
}

}  // namespace quorvel

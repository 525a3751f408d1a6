// Text encodings of users' files. GB18030 is the encoding of the engine and of every list file:
// it holds every GBK text byte for byte, and its four-byte sequences reach every other Unicode
// character. Unicode sources are converted to GB18030 for the lookup and their results back to
// UTF-8. The converters are glibc's iconv "GB18030" and "UTF-8".
//
// One UTF-8 decoder serves the whole program, and it is strict: overlong forms, surrogates,
// code points past U+10FFFF and truncated sequences are not UTF-8. Conversions never fail: what
// the target encoding cannot hold is replaced as each function says. Every conversion takes time
// linear in its input, however many characters are replaced.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

// Stands for a damaged character (an invalid sequence of a Unicode source, a NUL byte): a valid
// double-byte code of the user-defined area that no table row and no dictionary key typed in the
// editors can have, so it reads "???" in its place.
inline constexpr std::string_view kDamagedCharacter = "\xA1\x40";

// Decodes the UTF-8 sequence at the start of `text`: returns its length and sets `*codePoint`,
// or returns 0 when the text is empty or does not start with a valid sequence.
size_t DecodeUtf8(std::string_view text, char32_t* codePoint);

// The length of the invalid sequence at the start of `text` (which DecodeUtf8 refused): a lead
// byte with the continuation bytes that still fit it (the longest start of a valid sequence), or
// one byte. A stray or damaged byte thus stands for one character, not one per byte.
size_t InvalidUtf8Length(std::string_view text);

bool IsValidUtf8(std::string_view text);

// A CJK ideograph: the unified blocks and their extensions, and the compatibility ideographs.
bool IsIdeograph(char32_t codePoint);

// What a text holds when it is read as UTF-8.
struct Utf8Census {
  size_t ideographs = 0;  // valid sequences that are CJK ideographs
  size_t invalid = 0;     // invalid sequences (InvalidUtf8Length each)
  size_t faults = 0;      // runs of invalid sequences with nothing valid between them
};
Utf8Census CensusUtf8(std::string_view text);
// The length of the GB18030 character at the start of `text` (which is not empty): 4 for a
// four-byte sequence (lead 0x81-0xFE, 0x30-0x39, 0x81-0xFE, 0x30-0x39), 2 for a lead byte with a
// double-byte trail (0x40-0x7E, 0x80-0xFE), 1 for everything else: an ASCII byte is always a
// character of its own, and so is a lead byte that nothing valid follows. The one rule by which
// names and keys are cut into characters.
inline size_t Gb18030CharLength(std::string_view text) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = b(0);
  if (lead < 0x81 || lead == 0xFF || text.size() < 2) return 1;
  const unsigned char second = b(1);
  if (second >= 0x40) return second != 0x7F && second != 0xFF ? 2 : 1;
  return second >= 0x30 && second <= 0x39 && text.size() >= 4 && b(2) >= 0x81 && b(2) <= 0xFE &&
                 b(3) >= 0x30 && b(3) <= 0x39
             ? 4
             : 1;
}
// The number of characters of a GB18030 text (Gb18030CharLength).
size_t Gb18030CharCount(std::string_view text);

// True when the text reads as GB18030 without a fault: ASCII bytes, double-byte and four-byte
// characters only.
bool IsValidGb18030(std::string_view text);
// True when the text contains a CJK ideograph encoded in UTF-8.
bool HasUtf8Ideograph(std::string_view text);
// True when every non-ASCII byte pairs into a GB2312 character (lead 0xA1-0xF7, trail 0xA1-0xFE):
// what a names file written in GBK nearly always is, and Unicode text almost never.
bool LooksLikeGb2312(std::string_view text);

// Invalid sequences (and the rare code point iconv cannot convert): kDamagedCharacter each;
// `*invalid` (if given) is increased by the number of invalid sequences.
std::string Utf8ToGb18030(std::string_view utf8, size_t* invalid = nullptr);
// Bad units (a lone surrogate, an odd last byte): U+FFFD each, counted in `*invalid` if given.
std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian, size_t* invalid = nullptr);
std::string Gb18030ToUtf8(std::string_view text);  // invalid bytes: "?"
// Appends Gb18030ToUtf8(gb18030) to `out`, the same bytes for many short texts (output lines):
// ASCII copied by runs, each double-byte character through a table filled as characters first
// appear (shared by all threads), and only what is neither (a four-byte character, a byte that
// starts none) through iconv.
void AppendGb18030AsUtf8(std::string& out, std::string_view gb18030);
// The length of the run of ASCII bytes `text` starts with (eight bytes at a time).
inline size_t AsciiLength(std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  // Where the first byte of p[at, at + 8) that is not ASCII lies, or 8.
  const auto firstOther = [p](size_t at) -> size_t {
    uint64_t word;
    std::memcpy(&word, p + at, 8);
    word &= 0x8080808080808080;
    if (word == 0) return 8;
    return static_cast<size_t>(std::endian::native == std::endian::little
                                   ? std::countr_zero(word)
                                   : std::countl_zero(word)) /
           8;
  };
  if (n < 8) {
    size_t i = 0;
    if (n >= 4) {  // the first and the last four bytes, most often all ASCII
      uint32_t first, last;
      std::memcpy(&first, p, 4);
      std::memcpy(&last, p + n - 4, 4);
      if (((first | last) & 0x80808080) == 0) return n;
    }
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80) ++i;
    return i;
  }
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    if (const size_t k = firstOther(i); k < 8) return i + k;
  if (i == n) return n;
  // The last eight bytes, of which those before `i` are ASCII already.
  const size_t k = firstOther(n - 8);
  return k < 8 ? n - 8 + k : n;
}
std::string Utf8ToGb18030Strict(std::string_view utf8,
                                bool* ok);  // ok=false if anything is unmappable

// ---- Names files ------------------------------------------------------------------------------

enum class SourceEncoding { kGb18030, kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };
const char* EncodingName(SourceEncoding encoding);

// How a names file is encoded. GB18030 (which GBK files are) is the default; a UTF-8 or UTF-16
// byte-order mark makes it Unicode. Without a mark:
// - UTF-16 when the text read as UTF-16 (one byte order) is ideographs, ASCII and CJK
//   punctuation with no control character but tab and line ends, mostly ideographs, and either
//   holds zero bytes (its ASCII characters, line ends included) or reads neither as UTF-8 nor as
//   GB18030;
// - UTF-8 when it holds UTF-8 ideographs, does not pair into GB2312 characters, and either is
//   valid UTF-8 or has faults (runs of invalid sequences: one damaged spot) that are rare,
//   kUtf8IdeographsPerFault ideographs or more for each, while it does not read as GB18030
//   without a fault either;
// - UTF-8 too when it pairs into GB2312 characters but is valid UTF-8 whose characters are all
//   common ideographs (GB2312's first level), while the pairs are not all of them: a short UTF-8
//   name can happen to pair into GB2312 characters, seldom into common ones only.
SourceEncoding DetectEncoding(std::string_view bytes);
inline constexpr size_t kUtf8IdeographsPerFault = 4;

// The GB18030 text of a names file in `encoding` (its byte-order mark dropped). `*invalid` (if
// given) is set to the number of damaged characters: invalid sequences of a Unicode source and
// NUL characters, each of which became kDamagedCharacter and reads "???". Other bytes of a
// GB18030 source are used as they are.
std::string SourceToGb18030(std::string_view source, SourceEncoding encoding,
                            size_t* invalid = nullptr);

// The lines of a names file as GB18030, one at a time, without converting the file whole: the
// same lines with the same bytes as ForEachLine (Files.h) over SourceToGb18030, and the same count
// of damaged characters. A Unicode line (or one holding a NUL) is decoded into a buffer of the
// reader's own, each code point through a table filled as code points first appear.
//
// Read from a descriptor, the reader holds one block and the line being read, never the file: a
// line of more than `longestLine` bytes raises Error naming its number and `name`.
// A block stays in the processor's cache from its reading to its last line (a run of 1M names:
// 26 ms against 27.5 with blocks of 1 MiB); a line may be longer than a block.
inline constexpr size_t kSourceBlockBytes = size_t{1} << 17;
inline constexpr size_t kLongestLineBytes = size_t{1} << 20;
class Gb18030LineReader {
  friend class Utf8ToGb18030Converter;

 public:
  Gb18030LineReader(std::string_view source, SourceEncoding encoding);
  // The text of `fd` (a regular file read from its start; the reader does not close it).
  Gb18030LineReader(int fd, SourceEncoding encoding, std::string name,
                    size_t blockBytes = kSourceBlockBytes, size_t longestLine = kLongestLineBytes);
  ~Gb18030LineReader();
  Gb18030LineReader(const Gb18030LineReader&) = delete;
  Gb18030LineReader& operator=(const Gb18030LineReader&) = delete;

  // The next line, valid until the next call; false after the last.
  bool Next(std::string_view* line) {
    if (encoding_ == SourceEncoding::kGb18030) return NextGb18030Line(line) || NextAnyLine(line);
    return NextKnownLine(line) || NextAnyLine(line);
  }
  // A GB18030 or UTF-8 source's text from the next line on, for a caller that takes many lines at
  // once (NameConverter::AppendLines): the lines that end before `*endsBefore` (bytes into the
  // view) are whole, with their line end and a CR's next byte in the view, and (GB18030) hold no
  // NUL, so they are the lines Next would give. Empty when Next must read first, or for UTF-16.
  // SkipLines then moves past the lines taken.
  std::string_view ByteWindow(size_t* endsBefore) const;
  // For a UTF-8 source: the GB18030 codes of the code points U+0800 to U+FFFF met so far whose
  // code takes two bytes, as KnownThreeByteCodes reads them; nullptr for any other source.
  const uint16_t* TwoByteCodes() const;
  void SkipLines(size_t bytes, size_t lines) {
    pos_ += bytes;
    lines_ += lines;
  }
  // The number of lines of the whole text (a scan of its own, in blocks from a descriptor; the
  // position stays).
  size_t CountLines() const;
  // The next lines, as Next reads them, appended to `lines` back to back after the last end in
  // `ends` (0 when empty), and where each ends added to `ends`, until `ends` holds `maxLines` or
  // the lines reach `maxBytes`; false once the text has ended. `lines` only grows: what lies past
  // the last end is scratch. Unicode lines of characters met before are decoded where they go.
  bool NextLines(std::string& lines, std::vector<size_t>& ends, size_t maxLines, size_t maxBytes);
  // Damaged characters (invalid sequences, NULs) of the lines read so far: final once Next (or
  // NextLines) has returned false.
  size_t InvalidSequences() const { return invalid_; }

 private:
  class CodePoints;
  // Each reads the line at pos_ up to its line end or the window's end, which it returns; the
  // Unicode ones decode it and point decoded_ at it.
  size_t ScanGb18030() const;
  // A Unicode line of ASCII and of characters met before that the window holds whole with its
  // line end, read as the decoders below and Next would (nothing to count, nothing more to read);
  // false, with nothing changed, for any other line.
  bool NextKnownLine(std::string_view* line);
  // The same line decoded at `out` (room for a stretch of kUtf8Stretch bytes and a little more):
  // its length, or kNotKnown with nothing changed.
  static constexpr size_t kNotKnown = ~size_t{0};
  size_t KnownLineInto(char* out);
  // A GB18030 line without a NUL that the window holds whole with its line end, read as Next
  // would; false, with nothing changed, for any other line.
  bool NextGb18030Line(std::string_view* line);
  size_t DecodeUtf8Line();
  // From `i`: the run before `stop` of ASCII and of two- and three-byte sequences whose two-byte
  // codes are known already (written after the `*n` bytes at `into`), and one character of any
  // kind (after the `*n` bytes of utf8Out_); each adds to `*n` and returns where it stopped.
  size_t DecodeKnownUtf8(size_t i, size_t stop, char* into, size_t* n);
  size_t DecodeOneUtf8(size_t i, size_t* n);
  // The same for UTF-16: the run of ASCII and of characters of U+0080 to U+FFFF known already.
  template <bool kLittleEndian>
  size_t DecodeKnownUtf16(size_t i, size_t stop, char* into, size_t* n);
  size_t DecodeUtf16Line();
  size_t PastLineEnd(size_t i) const;
  size_t PastByteLineEnd(size_t i) const;  // PastLineEnd of a line end the window holds, bytes
  // Read from a descriptor, whether the line that stops at `i` is longer than the limit or needs
  // more of the file to be told whole (its line end and the unit after it; units of `step` bytes).
  bool MustReadMore(size_t i, size_t step) const;
  bool NextAnyLine(std::string_view* line);
  void AppendCodePoint(char32_t cp);
  char32_t Unit(size_t at) const;
  bool Wide() const {
    return encoding_ == SourceEncoding::kUtf16Le || encoding_ == SourceEncoding::kUtf16Be;
  }
  void Refill();

  SourceEncoding encoding_;
  std::string_view text_;  // the source without its byte-order mark
  size_t end_ = 0;         // the text's size
  size_t nextNul_ = 0;     // the next NUL of a GB18030 source, or npos
  size_t pos_ = 0;
  bool done_ = false;
  size_t invalid_ = 0;
  std::string line_;
  std::string utf8Out_;       // the UTF-8 decoder's line buffer: grows only
  std::string_view decoded_;  // the line the Unicode decoders made (in utf8Out_ or line_)
  std::unique_ptr<CodePoints> codePoints_;
  // Read from a descriptor: the block window text_ points into.
  int fd_ = -1;
  std::string name_;
  std::string window_;
  size_t block_ = 0, longest_ = 0, lines_ = 0, markLength_ = 0;
  bool eof_ = true, started_ = false;
};

// The bytes at `p` as a number, the first in its lowest byte.
template <typename Word>
inline Word LoadLittle(const char* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) {
    if constexpr (sizeof w == 8) w = __builtin_bswap64(w);
    else w = __builtin_bswap32(w);
  }
  return w;
}

// A three-byte UTF-8 sequence read as a number, the first byte in its lowest: a lead E0-EF and
// two continuation bytes, overlong forms and surrogates included; and its code point.
inline bool IsThreeByteShape(uint32_t w) { return (w & 0xC0C0F0) == 0x8080E0; }
inline char32_t ThreeByteCodePoint(uint32_t w) {
  return (w & 0x0F) << 12 | (w >> 2 & 0xFC0) | (w >> 16 & 0x3F);
}

// The GB18030 bytes of `utf8` when it is three-byte sequences only, each of a code point whose
// two-byte code `twoByte` (Gb18030LineReader::TwoByteCodes) holds: written at `out` (two bytes a
// character), true; false otherwise. The byte after `utf8` is read (and ignored): there must be
// one.
[[gnu::always_inline]] inline bool KnownThreeByteCodes(std::string_view utf8,
                                                       const uint16_t* twoByte, char* out) {
  if (utf8.size() % 3 != 0) return false;
  for (size_t i = 0; i < utf8.size(); i += 3, out += 2) {
    // The sequence and the byte after it, which the tests below leave out.
    const auto w = LoadLittle<uint32_t>(utf8.data() + i);
    if (!IsThreeByteShape(w)) return false;
    // Overlong forms (below U+0800) and surrogates need no test: no entry of theirs is filled.
    const uint16_t code = twoByte[ThreeByteCodePoint(w)];
    if (code == 0) return false;
    std::memcpy(out, &code, 2);
  }
  return true;
}

// The line-end rule of a text seen a character (or byte) at a time, across blocks: a line ends at
// CR, LF or CR LF, and whatever follows the last end is a line too. `run` is the length of the
// line read so far.
struct LineCounter {
  size_t count = 0, run = 0;
  bool afterCr = false;
  void Feed(char32_t c) {
    const bool crLf = afterCr && c == '\n';
    afterCr = false;
    if (crLf) return;
    if (c == '\r' || c == '\n') {
      ++count;
      run = 0;
      afterCr = c == '\r';
    } else {
      ++run;
    }
  }
  size_t Total() const { return count + (run > 0 ? 1 : 0); }
};

// Raises Error: line `lineNumber` of `name` is longer than `limit` bytes.
[[noreturn]] void ThrowLineTooLong(size_t lineNumber, const std::string& name, size_t limit);

// DetectEncoding's answer for the regular file `fd`. A file of up to `wholeUpTo` bytes is read
// whole; a larger one is surveyed in blocks of `block` bytes (BOMs, GB2312 pairs, UTF-8 validity)
// where that settles the answer, and only otherwise seen whole (mapped, not read into memory).
// A line longer than a block has the whole seen, with the same answer.
SourceEncoding DetectFileEncoding(int fd, size_t wholeUpTo = size_t{4} << 20,
                                  size_t block = kSourceBlockBytes);

// Utf8ToGb18030 for many short texts (the name cells of a table): the same bytes, each code point
// worked out once, with no converter opened per text.
class Utf8ToGb18030Converter {
 public:
  Utf8ToGb18030Converter();
  ~Utf8ToGb18030Converter();
  Utf8ToGb18030Converter(const Utf8ToGb18030Converter&) = delete;
  Utf8ToGb18030Converter& operator=(const Utf8ToGb18030Converter&) = delete;
  // `gbk` = the text in GB18030; an invalid sequence gives kDamagedCharacter.
  void Convert(std::string_view utf8, std::string& gbk);

 private:
  std::unique_ptr<Gb18030LineReader::CodePoints> codePoints_;
};

}  // namespace quorvel

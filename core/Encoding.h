// Text encodings of users' files. GBK is the encoding of the engine and of every list file;
// Unicode sources are converted to GBK for the lookup and their results back to UTF-8.
//
// One UTF-8 decoder serves the whole program, and it is strict: overlong forms, surrogates,
// code points past U+10FFFF and truncated sequences are not UTF-8. Conversions never fail: what
// the target encoding cannot hold is replaced as each function says. Every conversion takes time
// linear in its input, however many characters are replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quorvel {

// Stands for a character that GBK cannot hold: a valid double-byte code (user-defined area) that
// no table row and no dictionary key typed in the editors can have, so it reads "???" and keeps
// the two-byte pieces of the name aligned.
inline constexpr std::string_view kUnmappableGbk = "\xA1\x40";

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
// True when the text reads as GBK without a fault: ASCII bytes and double-byte characters
// (lead 0x81-0xFE, trail 0x40-0x7E or 0x80-0xFE) only.
bool IsValidGbk(std::string_view text);
// True when the text contains a CJK ideograph encoded in UTF-8.
bool HasUtf8Ideograph(std::string_view text);
// True when every non-ASCII byte pairs into a GB2312 character (lead 0xA1-0xF7, trail 0xA1-0xFE):
// what a names file written in GBK nearly always is, and Unicode text almost never.
bool LooksLikeGb2312(std::string_view text);

// Unconvertible characters and invalid sequences: kUnmappableGbk each; `*invalid` (if given) is
// increased by the number of invalid sequences.
std::string Utf8ToGbk(std::string_view utf8, size_t* invalid = nullptr);
// Bad units (a lone surrogate, an odd last byte): U+FFFD each, counted in `*invalid` if given.
std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian, size_t* invalid = nullptr);
std::string GbkToUtf8(std::string_view gbk);                // invalid bytes: "?"
std::string Utf8ToGbkStrict(std::string_view utf8, bool* ok);  // ok=false if anything is unmappable

// ---- Names files ------------------------------------------------------------------------------

enum class SourceEncoding { kGbk, kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };
const char* EncodingName(SourceEncoding encoding);

// How a names file is encoded. GBK is the default; a UTF-8 or UTF-16 byte-order mark makes it
// Unicode, and so does text without a mark that holds UTF-8 ideographs, does not pair into
// GB2312 characters, and either is valid UTF-8 or has faults (runs of invalid sequences: one
// damaged spot) that are rare, kUtf8IdeographsPerFault ideographs or more for each, while it does
// not read as GBK without a fault either.
SourceEncoding DetectEncoding(std::string_view bytes);
inline constexpr size_t kUtf8IdeographsPerFault = 4;

// The GBK text of a names file in `encoding` (its byte-order mark dropped). `*invalid` (if given)
// is set to the number of invalid sequences of a Unicode source, each of which became one
// character that reads "???"; it is 0 for a GBK source, whose bytes are used as they are.
std::string SourceToGbk(std::string_view source, SourceEncoding encoding, size_t* invalid = nullptr);

// The lines of a names file as GBK, one at a time, without converting the file whole: the same
// lines with the same bytes as ForEachLine (Files.h) over SourceToGbk, and the same count of
// invalid sequences. A Unicode line is decoded into a buffer of the reader's own, each code point
// through a table filled as code points first appear.
class GbkLineReader {
  friend class Utf8ToGbkConverter;

 public:
  GbkLineReader(std::string_view source, SourceEncoding encoding);
  ~GbkLineReader();
  GbkLineReader(const GbkLineReader&) = delete;
  GbkLineReader& operator=(const GbkLineReader&) = delete;

  // The next line, valid until the next call; false after the last.
  bool Next(std::string_view* line);
  // The number of lines of the whole text (a scan of its own; the position stays).
  size_t CountLines() const;
  // Invalid sequences of the whole source, the bytes after a NUL included: final once Next has
  // returned false.
  size_t InvalidSequences() const { return invalid_; }

 private:
  class CodePoints;
  bool NextUtf8(std::string_view* line);
  bool NextUtf16(std::string_view* line);
  void AppendCodePoint(char32_t cp);
  char32_t Unit(size_t at) const;

  SourceEncoding encoding_;
  std::string_view text_;  // the source without its byte-order mark
  size_t end_ = 0;         // where the text ends: its size, or its first NUL
  size_t pos_ = 0;
  bool done_ = false;
  size_t invalid_ = 0;
  std::string line_;
  std::unique_ptr<CodePoints> codePoints_;
};

// Utf8ToGbk for many short texts (the name cells of a table): the same bytes, each code point
// worked out once, with no converter opened per text.
class Utf8ToGbkConverter {
 public:
  Utf8ToGbkConverter();
  ~Utf8ToGbkConverter();
  Utf8ToGbkConverter(const Utf8ToGbkConverter&) = delete;
  Utf8ToGbkConverter& operator=(const Utf8ToGbkConverter&) = delete;
  // `gbk` = the text in GBK; an invalid sequence gives kUnmappableGbk.
  void Convert(std::string_view utf8, std::string& gbk);

 private:
  std::unique_ptr<GbkLineReader::CodePoints> codePoints_;
};

}  // namespace quorvel

// Text encodings of users' files. GBK is the encoding of the engine and of every list file;
// Unicode sources are converted to GBK for the lookup and their results back to UTF-8.
//
// One UTF-8 decoder serves the whole program, and it is strict: overlong forms, surrogates,
// code points past U+10FFFF and truncated sequences are not UTF-8. Conversions never fail: what
// the target encoding cannot hold is replaced as each function says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Stands for a character that GBK cannot hold: a valid double-byte code (user-defined area) that
// no table row and no dictionary key typed in the editors can have, so it reads "???" and keeps
// the two-byte pieces of the name aligned.
inline constexpr std::string_view kUnmappableGbk = "\xA1\x40";

// Decodes the UTF-8 sequence at the start of `text`: returns its length and sets `*codePoint`,
// or returns 0 when the text is empty or does not start with a valid sequence.
size_t DecodeUtf8(std::string_view text, char32_t* codePoint);

bool IsValidUtf8(std::string_view text);
// True when the text contains a CJK ideograph encoded in UTF-8.
bool HasUtf8Ideograph(std::string_view text);
// True when every non-ASCII byte pairs into a GB2312 character (lead 0xA1-0xF7, trail 0xA1-0xFE):
// what a names file written in GBK nearly always is, and Unicode text almost never.
bool LooksLikeGb2312(std::string_view text);

std::string Utf8ToGbk(std::string_view utf8);               // unconvertible: kUnmappableGbk
std::string Utf16ToUtf8(std::string_view utf16, bool littleEndian);  // bad units: U+FFFD
std::string GbkToUtf8(std::string_view gbk);                // invalid bytes: "?"
std::string Utf8ToGbkStrict(std::string_view utf8, bool* ok);  // ok=false if anything is unmappable

// ---- Names files ------------------------------------------------------------------------------

enum class SourceEncoding { kGbk, kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };
const char* EncodingName(SourceEncoding encoding);

// How a names file is encoded. GBK is the default; a UTF-8 or UTF-16 byte-order mark, or text
// that is valid UTF-8 holding UTF-8 ideographs and does not pair into GB2312 characters, makes it
// Unicode.
SourceEncoding DetectEncoding(std::string_view bytes);

// The GBK text of a names file in `encoding` (its byte-order mark dropped).
std::string SourceToGbk(std::string_view source, SourceEncoding encoding);

}  // namespace quorvel

// Text encodings of users' files. GBK is the encoding of the engine and of every list file;
// Unicode sources are converted to GBK for the lookup and their results back to UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Stands for a character that GBK cannot hold: a valid double-byte code (user-defined area) that
// no table row and no dictionary key typed in the editors can have, so it reads "???" and keeps
// the two-byte pieces of the name aligned.
inline constexpr std::string_view kUnmappableGbk = "\xA1\x40";

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

}  // namespace quorvel

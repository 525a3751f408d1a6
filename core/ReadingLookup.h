// The reading of one key (a character or a two-character custom key): the built-in table's row,
// cut to its first reading or kept whole, in the surname position with the surname reading first,
// converted syllable by syllable to Wade-Giles through the mapping pair, and finally replaced
// verbatim by the custom dictionary of the current romanization when that knows the key.
//
// A key the table does not hold reads kNoReading ("???"). A mapping syllable or custom key found
// on a line whose partner list has no such line raises ListIndexError. The lookup reads the lists
// as the last ListFiles::Refresh() left them; it never reads a file itself.
#pragma once

#include <string>
#include <string_view>

#include "ListFiles.h"

namespace quorvel {

enum class Readings { kFirst, kAll };               // a polyphonic character: its first or all
enum class Romanization { kPinyin, kWadeGiles };

struct LookupOptions {
  Readings readings = Readings::kFirst;
  Romanization romanization = Romanization::kPinyin;
};

// Where a key stands in a name. In the surname position the character's surname reading comes
// first (单 as a surname reads shan); everywhere else the row is used as stored.
enum class KeyRole { kOther, kSurname };

inline constexpr std::string_view kNoReading = "???";

// Appends the reading of `key` to `out` (the hot path of the name romanization).
void AppendReading(std::string& out, const ListFiles& lists, std::string_view key,
                   const LookupOptions& options, KeyRole role = KeyRole::kOther);

// The same, as a string of its own.
std::string ReadingOf(const ListFiles& lists, std::string_view key, const LookupOptions& options,
                      KeyRole role = KeyRole::kOther);

}  // namespace quorvel

// Whole names the user taught: the third custom list (define_name_han.dll, define_name_py.dll),
// kept, locked and written like the two dictionaries (CustomDictionary, Kind::kWholeNames).
//
// An entry is a name of 2 to 6 GBK characters (the key, without any split mark) and one pinyin
// syllable per character (the reading): lower-case letters, ü written v, separated by single
// spaces, where a "|" in place of one space marks the end of the surname ("ou yang|xiu"). Without
// the mark the surname is two characters when the custom dictionary of the current romanization
// knows the name's first two, else one, as for any line.
//
// A line that equals a taught name once trimmed (TrimControls) is romanized from its syllables:
// each in the chosen ü spelling or through the Wade-Giles mapping, then laid out in the chosen
// format with the chosen separator (AppendLaidOutName). A stored reading that does not fit its
// name (edited outside the program) is passed over, and the line converts as usual.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CustomDictionary.h"
#include "NameRomanizer.h"

namespace quorvel {

inline constexpr std::size_t kMinTaughtNameChars = 2;
inline constexpr std::size_t kMaxTaughtNameChars = 6;

struct TaughtReading {
  std::vector<std::string> syllables;  // one per character
  std::size_t surnameSyllables = 0;    // 0: no mark, the usual surname split decides
  bool operator==(const TaughtReading&) const = default;
};

// The stored reading of a name of `characters` characters, or nullopt when it does not fit.
std::optional<TaughtReading> ParseTaughtReading(std::string_view reading, std::size_t characters);

// The entry to store for a name and its syllables typed as UTF-8 ("欧阳|修", "ou yang xiu"; the
// split may be marked in either). Error with the editors' wording when the name is not 2 to 6
// GBK Chinese characters, when the syllables are not letters or do not match the characters one
// for one, or when two marks disagree.
DictionaryEntry TaughtEntryFromUtf8(std::string_view name, std::string_view syllables);

// The name as the user writes it: the key with its split mark, if any ("欧阳|修").
std::string MarkedName(const DictionaryEntry& entry);

// When the trimmed `line` is a taught name whose reading fits, appends its romanized form and
// returns true; otherwise appends nothing. Reads the lists as the last Refresh left them.
bool AppendTaughtName(std::string& out, const ListFiles& lists, std::string_view line,
                      const ConversionOptions& options);

}  // namespace quorvel

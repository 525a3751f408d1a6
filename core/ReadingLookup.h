// The reading of one key (a character or a two-character custom key): the built-in table's row,
// cut to its first reading or kept whole, in the surname position with the surname reading first,
// in pinyin with the ü of lü, nü, lüe, nüe spelled as asked, or converted syllable by syllable to
// Wade-Giles through the mapping pair, and finally replaced verbatim by the custom dictionary of
// the current romanization when that knows the key. In all-readings mode a reading that the
// spelling or the conversion makes equal to an earlier one is given once, in its first place.
//
// A key the table does not hold reads kNoReading ("???"), unless it is a run of ASCII letters and
// digits, which reads as written (IsLatinWord). A mapping syllable or custom key found
// on a line whose partner list has no such line raises ListIndexError. The lookup reads the lists
// as the last ListFiles::Refresh() left them; it never reads a file itself.
//
// ReadingCache remembers the readings of two-byte keys for one set of options while the lists
// stay the same (ListFiles::Generation); it gives exactly what AppendReading gives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BuiltinTable.h"
#include "ListFiles.h"

namespace quorvel {

enum class Readings { kFirst, kAll };  // a polyphonic character: its first or all
enum class Romanization { kPinyin, kWadeGiles };

// How a pinyin reading of the built-in table writes the ü of lü, nü, lüe and nüe (the table keeps
// lv, nv, lue, nue): kV as stored (lv, nv, lue, nue), kYu as passports do (lyu, nyu, lue, nue),
// kU without the dots (lu, nu, lue, nue), kUmlaut with them (lü, nü, lüe, nüe; ü is the GBK
// character A8 B9, so a GBK target holds it). Wade-Giles readings and custom readings keep theirs.
enum class UmlautSpelling { kV, kYu, kU, kUmlaut };
inline constexpr int kUmlautSpellingCount = 4;
// The spellings as the command line names them, in enum order (ü in UTF-8).
inline constexpr const char* kUmlautSpellingNames[kUmlautSpellingCount] = {"v", "yu", "u",
                                                                           "\xC3\xBC"};

struct LookupOptions {
  Readings readings = Readings::kFirst;
  Romanization romanization = Romanization::kPinyin;
  UmlautSpelling umlaut = UmlautSpelling::kV;
};

// Where a key stands in a name. In the surname position the character's surname reading comes
// first (单 as a surname reads shan); in the given name (and in every part of a name that
// separating dots divide, which has no surname) the row is used as stored.
enum class KeyRole { kGivenName, kSurname };

inline constexpr std::string_view kNoReading = "???";

// ASCII letters and digits: a run of them in a name (李Anna) is one piece that reads as written.
inline bool IsLatinOrDigit(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
// True when `key` is such a run (not empty).
inline bool IsLatinWord(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key)
    if (!IsLatinOrDigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// Appends the reading of `key` to `out` (the hot path of the name romanization).
void AppendReading(std::string& out, const ListFiles& lists, std::string_view key,
                   const LookupOptions& options, KeyRole role = KeyRole::kGivenName);

// True when `key` certainly reads kNoReading: neither the table nor the custom dictionary of the
// romanization holds it (a cheap test before a lookup that is expected to miss).
bool CertainlyNoReading(const ListFiles& lists, std::string_view key, Romanization romanization);

// Appends one pinyin reading as the table's readings are given under `options`: in the chosen ü
// spelling, or converted to Wade-Giles through the mapping pair (whole names and the review's
// alternatives are pinyin syllables too). No custom dictionary takes part.
void AppendPinyinReading(std::string& out, const ListFiles& lists, std::string_view pinyin,
                         const LookupOptions& options);

// The same as AppendReading, as a string of its own.
std::string ReadingOf(const ListFiles& lists, std::string_view key, const LookupOptions& options,
                      KeyRole role = KeyRole::kGivenName);

// AppendReading for many keys with the same options against one ListFiles. The reading of every
// two-byte GBK key is worked out once per state of the lists; other keys are looked up each time.
// Errors are never remembered: a key whose lookup failed fails again.
class ReadingCache {
 public:
  ReadingCache(const ListFiles& lists, const LookupOptions& options);
  ~ReadingCache();
  ReadingCache(const ReadingCache&) = delete;
  ReadingCache& operator=(const ReadingCache&) = delete;

  // Forgets everything when the lists were reloaded or released since the last call. Call it
  // after every ListFiles::Refresh, before the next Reading.
  void Sync();
  // What AppendReading would append for `key`. The text stays valid until the next Sync or the
  // kReadingsKept-th call after this one, whichever comes first.
  std::string_view Reading(std::string_view key, KeyRole role = KeyRole::kGivenName) {
    // A reading worked out before: nothing but a look at its slot.
    if (const int slot = GbkSlot(key); slot >= 0) {
      const Entry& entry = entries_[2 * static_cast<size_t>(slot) + (role == KeyRole::kSurname)];
      if (entry.text) {
        sawQuestion_ |= entry.question;
        return {entry.text, entry.length};
      }
    }
    return WorkOut(key, role);
  }
  static constexpr int kReadingsKept = 8;

  // False when no key of the custom dictionary of the romanization that is longer than two bytes
  // starts with the two-byte character in GbkSlot `slot`: a name beginning with it has a one-
  // character surname, with no search for its first two.
  bool MayStartLongerKey(int slot) {
    if (!startsKnown_) FindLongerKeyStarts();
    return longerKeyStarts_[static_cast<size_t>(slot) / 64] >> (slot % 64) & 1;
  }

  // False when no key of the custom dictionary of the romanization is two double-byte characters
  // of which the second is the one in GbkSlot `slot`: a name whose first character
  // MayStartLongerKey and whose second is this one has a one-character surname all the same.
  bool MayEndPairKey(int slot) {
    if (!startsKnown_) FindLongerKeyStarts();
    return pairKeyEnds_[static_cast<size_t>(slot) / 64] >> (slot % 64) & 1;
  }

  // Whether a reading given since the last ClearQuestionMark held a "?" (a marker "???" can only
  // be in text that did); a cheap test before searching a line for the marker.
  bool SawQuestionMark() const { return sawQuestion_; }
  void ClearQuestionMark() { sawQuestion_ = false; }

 private:
  struct Entry {
    const char* text = nullptr;  // nullptr: not worked out yet
    uint32_t length = 0;
    bool question = false;  // the reading holds a "?"
  };
  std::string_view WorkOut(std::string_view key, KeyRole role);
  std::string_view Keep(std::string_view reading);
  void FindLongerKeyStarts();
  std::string& NextOther();

  const ListFiles& lists_;
  LookupOptions options_;
  uint64_t generation_;
  std::vector<Entry> entries_;                   // per GBK slot and role
  std::vector<std::unique_ptr<char[]>> blocks_;  // the readings; a block never moves
  size_t blockLeft_ = 0;
  char* blockNext_ = nullptr;
  std::string others_[kReadingsKept];  // readings of keys that are not cached, in turn
  int nextOther_ = 0;
  std::string scratch_;  // where a reading is worked out
  bool sawQuestion_ = false;
  std::vector<uint64_t> longerKeyStarts_;  // one bit per GBK slot, for MayStartLongerKey
  std::vector<uint64_t> pairKeyEnds_;      // one bit per GBK slot, for MayEndPairKey
  bool startsKnown_ = false;
};

}  // namespace quorvel

// The review rule: which name lines a person should check, and what to check in them.
//
// A romanized name that is wrong looks exactly like a right one; the rule points at the lines
// whose reading rests on a guess. A line is flagged for each of its characters that
//   - reads "???" (no reading: kNoReading);
//   - is a single-character surname with a second surname reading (乐 yue / le: kSurname);
//   - is a given-name character whose reading is ambiguous in names (kGiven): it has several
//     readings and is rare in given names, or its other readings are common in text.
// The characters and their reasons are the generated rows of ReviewRows.h (data/review_rows.tsv,
// made by data/gen_review_rows.py from Unihan, the table rows and given-name character counts;
// core/README.md gives the thresholds). A character the custom dictionary of the current
// romanization knows, and a line that is a taught whole name, are the user's choice and never
// flagged. The name is walked exactly as the romanization walks it (AppendRomanizedWith), so a
// surname, a compound surname and the given-name pieces are told apart as in the output.
//
// The flag text, UTF-8, says per flag the character, the reading used, the others, the reason and
// the whole name with each other reading, laid out as the output line is:
//   曾参 → Zeng Can ⚑ 参: can / cen / shen (rare in given names) — or Zeng Cen · Zeng Shen
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "CustomDictionary.h"
#include "NameRomanizer.h"

namespace quorvel {

struct ReviewFlag {
  enum class Kind { kNoReading, kSurname, kGiven };
  Kind kind = Kind::kGiven;
  std::string character;                  // GBK
  std::vector<std::string> readings;      // as the output writes them, the one used first
  std::string reason;                     // a few words, ASCII
  std::vector<std::string> alternatives;  // the output line with each other reading, GBK
  std::vector<std::string> pinyin;        // the readings in pinyin, in the order of `readings`
  std::size_t position = 0;               // which of the line's keys, in the order they are read
  bool operator==(const ReviewFlag&) const = default;
};

// A flagged line of a run, as the review window lists it: its number (from 1), the name line and
// the line written (both GBK), and the flags.
struct ReviewedLine {
  std::size_t number = 0;
  std::string name;
  std::string output;
  std::vector<ReviewFlag> flags;
};

// Reviews name lines converted with one set of options against the lists as the last Refresh
// left them (the batch conversion's state for that line).
class NameReviewer {
 public:
  NameReviewer(const ListFiles& lists, const ConversionOptions& options);

  // The flags of one name line (GBK), in the order of its characters; empty when there is
  // nothing to check. Most lines are cleared by one table read per character.
  std::vector<ReviewFlag> Review(std::string_view line) const {
    if (!MayBeFlagged(line)) return {};
    return ReviewCandidate(line);
  }

  // Whether anything in the line could be flagged: its first character (always the surname, or
  // its first half) with a surname row, a later one with a given-name row, a character the table
  // does not know, any other byte but a space (a letter, a digit, a control byte: "???"), or no
  // character at all (an empty surname). One bit per character; false clears the line.
  bool MayBeFlagged(std::string_view line) const {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const auto* end = p + line.size();
    uint8_t position = kSurnamePosition;
    for (; end - p >= 2; p += 2) {
      const unsigned lead = p[0] - 0x81u, trail = p[1] - 0x40u;
      if (lead >= 0x7E || trail >= 0xBF) {  // not a double-byte character: a space, or "???"
        if (*p != 0x20) return true;        // spaces are dropped from names
        --p;
        continue;
      }
      if (candidates_[lead * 191 + trail] & position) return true;
      position = kGivenPosition;
    }
    if (p < end && *p != 0x20) return true;
    return position == kSurnamePosition;
  }

 private:
  struct RowReadings {
    bool done = false;
    std::vector<std::string> written, pinyin;
  };
  const RowReadings& ReadingsOfRow(int row) const;
  std::vector<ReviewFlag> ReviewCandidate(std::string_view line) const;

  const ListFiles& lists_;
  ConversionOptions options_;
  // The quick test of every line: per GBK slot, whether the character may be flagged in the
  // surname position and in the given name.
  static constexpr uint8_t kSurnamePosition = 1, kGivenPosition = 2;
  const uint8_t* candidates_;
  std::unique_ptr<ReadingCache>
      readings_;                           // the readings of the keys of a line that may be flagged
  mutable std::vector<RowReadings> rows_;  // per review row, for the lists' generation below
  mutable uint64_t rowsGeneration_ = ~uint64_t{0};
};

// The whole-name entry (TaughtNames.h) that makes `line` read with alternative `alternative` of
// `flag` (an index into flag.alternatives), every other character as the table reads it in pinyin;
// nullopt where no entry can say so: a compound surname (two characters, one reading), a reading
// that is not one syllable of letters, a name not of 2 to 6 characters.
std::optional<DictionaryEntry> EntryForAlternative(const ListFiles& lists, std::string_view line,
                                                   const ReviewFlag& flag, std::size_t alternative);

// Replaces line `number` (from 1) of a converted target, whose lines end with CR LF, when it still
// reads `expected`; the file is replaced whole (a temporary renamed over it). Both texts in the
// target's encoding. Error when the file has no such line or the line was changed since, so an
// edit of the user's is never overwritten; InOutError when the file cannot be read or written.
void RewriteTargetLine(const std::string& path, std::size_t number, std::string_view expected,
                       std::string_view replacement);

// "参: can / cen / shen (rare in given names) — or Zeng Cen · Zeng Shen", the flags joined by
// " ⚑ "; UTF-8.
std::string FlagText(const std::vector<ReviewFlag>& flags);

// "曾参 → Zeng Can ⚑ " and the flag text: the trimmed name and the output (both GBK) in UTF-8.
std::string FlagLine(std::string_view name, std::string_view output,
                     const std::vector<ReviewFlag>& flags);

// Appends the row of a review file, UTF-8: LINE<TAB>NAME<TAB>OUTPUT<TAB>FLAG TEXT and a line feed,
// the name trimmed; a tab or line break inside the name or output becomes a space.
void AppendReviewRow(std::string& out, size_t number, std::string_view name,
                     std::string_view output, const std::vector<ReviewFlag>& flags);

}  // namespace quorvel

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
// surname, a compound surname and the given-name pieces are told apart as in the output; the
// review of a long run takes a shorter way to the same bytes for the usual name (two to seven
// double-byte characters), its characters' readings known once each and its alternatives laid out
// from them (AppendLaidOutReadings).
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
#include <cstring>
#include <deque>
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

// The lines of a batch run that the review may flag, for the run's line hook (LineHook::watch): a
// line of double-byte characters only when one of them may be flagged in its position, as the
// quick test of NameReviewer tells it (NameReviewer::MayBeFlagged). Reads the lists only.
class ReviewWatch final : public LineWatch {
 public:
  ReviewWatch(const ListFiles& lists, Romanization romanization)
      : lists_(lists), romanization_(romanization) {}
  bool Wants(std::string_view character, KeyRole role) const override;

 private:
  const ListFiles& lists_;
  Romanization romanization_;
};

// Reviews name lines converted with one set of options against the lists as the last Refresh
// left them (the batch conversion's state for that line).
class NameReviewer {
 public:
  NameReviewer(const ListFiles& lists, const ConversionOptions& options);
  ~NameReviewer();

  // The flags of one name line (GBK), in the order of its characters; empty when there is
  // nothing to check. Most lines are cleared by one table read per character.
  std::vector<ReviewFlag> Review(std::string_view line) const {
    if (!MayBeFlagged(line)) return {};
    return ReviewCandidate(line);
  }

  // Reviews a line and appends its review row (AppendReviewRow's, the same bytes) to `out` when
  // it is flagged; says whether it was. The review of a long run: most lines are cleared inline
  // by the quick test, and for the others no flag is built, the readings and reasons of a
  // character being worded once per state of the lists.
  bool AppendRow(std::string& out, size_t number, std::string_view line,
                 std::string_view output) const {
    if (candidatesGeneration_ == lists_.Generation() && !QuickTest(line)) return false;
    return AppendRowOfCandidate(out, number, line, output);
  }

  // Whether anything in the line could be flagged: its first character (always the surname, or
  // its first half) with a surname row, a later one with a given-name row, a character the table
  // does not know, any other byte but a space (a letter, a digit, a control byte: "???"), or no
  // character at all (an empty surname); a character the custom dictionary reads is none of
  // these. One table read per pair of bytes; false clears the line.
  bool MayBeFlagged(std::string_view line) const {
    if (candidatesGeneration_ != lists_.Generation()) SyncCandidates();
    return QuickTest(line);
  }

  // For the line hook of a batch run that calls AppendRow or Review: the lines that need not reach
  // it are those the quick test clears.
  const LineWatch& Watch() const { return watch_; }

 private:
  friend class ReviewWatch;
  // The quick test of every line: per pair of bytes (as one two-byte load reads them), whether it
  // is a character that may be flagged in the surname position, in the given name, or no
  // double-byte character.
  static constexpr uint8_t kSurnamePosition = 1, kGivenPosition = 2, kNotCharacter = 4;
  uint8_t PairBits(const unsigned char* p) const {
    uint16_t pair;  // the two bytes in one load, in the machine's byte order
    std::memcpy(&pair, p, sizeof pair);
    return candidates_[pair];
  }
  bool QuickTest(std::string_view line) const {
    const size_t size = line.size();
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    if ((size | 2) == 6) {
      // Two or three double-byte characters, the usual name: the pairs at 0, 2 and size - 2,
      // with no loop to leave at a place that differs from line to line. Anything that is no
      // double-byte character (a space too) sends the line on.
      const unsigned given = kGivenPosition | kNotCharacter;
      return ((PairBits(p) & (kSurnamePosition | kNotCharacter)) |
              ((PairBits(p + 2) | PairBits(p + size - 2)) & given)) != 0;
    }
    return QuickTestWalk(p, p + size);
  }
  // QuickTest of any line, pair by pair.
  bool QuickTestWalk(const unsigned char* p, const unsigned char* end) const {
    if (end - p < 2) return true;  // no character at all, or a lone byte
    const auto* last = end - 1;    // a pair starts before it
    // The first character in the surname position, every later one in the given name.
    for (; p < last; p += 2) {
      const uint8_t bits = PairBits(p);
      if (!(bits & (kSurnamePosition | kNotCharacter))) {
        for (p += 2; p < last; p += 2) {
          const uint8_t later = PairBits(p);
          if (later & (kGivenPosition | kNotCharacter)) {
            if (later != kNotCharacter || *p != 0x20) return true;
            --p;
          }
        }
        return p == last && *p != 0x20;
      }
      // Not a double-byte character: a space is dropped from names, anything else is "???".
      if (bits != kNotCharacter || *p != 0x20) return true;
      --p;
    }
    return true;  // no character at all
  }
  void SyncCandidates() const;  // the table for the lists as they are now

  struct RowReadings {
    std::vector<std::string> written, pinyin;
    std::string head;    // UTF-8: "参: can / cen / shen (rare in given names)"
    bool plain = false;  // the head holds no control byte, the readings are plain ASCII
  };
  struct KeyRead;
  struct Found;
  const RowReadings& ReadingsOfRow(int row, std::string_view key) const;
  // A row ReadingsOfRow worded.
  const RowReadings& WordedRow(int row) const {
    return rows_[rowIndex_[static_cast<size_t>(row)] - 1u];
  }
  // AppendRow of a line the quick test did not clear, or that met a change of the lists (out of
  // line: the test of every line needs few registers saved for it).
  bool AppendRowOfCandidate(std::string& out, size_t number, std::string_view line,
                            std::string_view output) const;
  // The short way of AppendRowOfCandidate for the usual name (see Review.cpp); kWalk leaves the
  // line to the walk.
  enum class ShortWay { kNotFlagged, kFlagged, kWalk };
  static constexpr size_t kMostKeys = 7;  // the walk reads no more pieces of a line
  struct Character;
  struct RowKeys;
  ShortWay AppendRowOfName(std::string& out, size_t number, std::string_view line,
                           std::string_view output) const;
  void AppendRowOfFlags(std::string& out, size_t number, std::string_view clean,
                        std::string_view output, RowKeys& keys) const;
  void AppendPlainRow(std::string& out, size_t number, std::string_view output,
                      RowKeys& keys) const;
  static char* PutRowStart(char* w, size_t number, const Character* const* characters, size_t count,
                           std::string_view output);
  void ForgetCharacters() const;
  size_t CharacterIndex(std::string_view key, size_t slot) const;
  size_t AddCharacter(std::string_view key, size_t slot) const;
  void AppendAlternatives(std::string& out, std::string_view* readings, size_t count, size_t key,
                          const RowReadings& row, bool plain) const;
  void SyncWalk() const;
  void SyncRows() const;
  // Reviews a line into keys_, found_ and alternatives_; false when nothing is flagged.
  bool Find(std::string_view line) const;
  void ReadKeys(std::string_view line) const;
  std::string_view ReadKey(std::string_view key, KeyRole role) const;
  void AddAlternatives(std::string_view line, size_t key, const RowReadings& readings,
                       size_t from) const;
  std::vector<ReviewFlag> ReviewCandidate(std::string_view line) const;

  const ListFiles& lists_;
  ConversionOptions options_;
  NameLayout layout_;
  ReviewWatch watch_;
  // The shared table, or this reviewer's copy without the characters the custom dictionary of
  // the romanization reads (the user's own readings), for the lists' generation below.
  mutable const uint8_t* candidates_;
  mutable std::vector<uint8_t> ownCandidates_;
  mutable uint64_t candidatesGeneration_ = ~uint64_t{0};
  LookupOptions lookup_;
  ListSlot dictionary_;  // the keys of the custom dictionary of the romanization
  // The readings of the keys of a line the walk reviews, made when the first one is.
  mutable std::unique_ptr<ReadingCache> readings_;
  // The review rows worded, for the lists' generation below: per row 1 + its index in rows_ (0: not
  // yet); a deque, whose elements stay where they are.
  mutable std::vector<uint16_t> rowIndex_;
  mutable std::deque<RowReadings> rows_;
  mutable uint64_t rowsGeneration_ = ~uint64_t{0};
  // The last line reviewed, kept from line to line so that no line allocates: its keys in the
  // order they were read, their readings end to end, its flags and their alternatives (GBK) end to
  // end.
  mutable std::vector<KeyRead> keys_;
  mutable std::string readingText_;
  mutable std::vector<Found> found_;
  mutable std::string alternatives_;
  mutable std::vector<size_t> alternativeEnds_;
  mutable std::string scratch_;
  // The characters of the usual names seen, for the lists' generation below: per GbkSlot, 1 + the
  // index of its Character (0: not seen yet); the Characters, with room for every slot so that
  // each stays where it is; their readings end to end.
  mutable std::vector<uint16_t> characterOf_;
  mutable std::vector<Character> characters_;
  mutable std::string shortText_;
  mutable std::string pairSurname_;  // the reading of a two-character surname of the usual name
  mutable bool anyTaught_ = false, anyDictionary_ = false;  // whole names taught; custom keys
  mutable uint64_t charactersGeneration_ = ~uint64_t{0};
  // The key whose first alternative scratch_ holds after ReadKeys.
  static constexpr size_t kNoKey = ~size_t{0}, kSeveralKeys = kNoKey - 1;
  mutable size_t laidOut_ = kNoKey;
};

// The whole-name entry (TaughtNames.h) that makes `line` read with alternative `alternative` of
// `flag` (an index into flag.alternatives), every other character as the table reads it in pinyin;
// nullopt where no entry can say so: a compound surname (two characters, one reading), a reading
// that is not one syllable of letters, a name not of 2 to 6 characters.
std::optional<DictionaryEntry> EntryForAlternative(const ListFiles& lists, std::string_view line,
                                                   const ReviewFlag& flag, std::size_t alternative);

// Replaces line `number` (from 1) of a converted target, whose lines end with CR LF, when it still
// reads `expected`; the file is replaced whole by the target rules (WriteTextTarget: a temporary
// renamed over it, its mode and a link to it kept). Both texts in the target's encoding. Error when
// the file has no such line or the line was changed since, so an edit of the user's is never
// overwritten; InOutError when the file cannot be read or written.
void RewriteTargetLine(const std::string& path, std::size_t number, std::string_view expected,
                       std::string_view replacement);

// "参: can / cen / shen (rare in given names) — or Zeng Cen · Zeng Shen", the flags joined by
// " ⚑ "; UTF-8.
std::string FlagText(const std::vector<ReviewFlag>& flags);

// "曾参 → Zeng Can ⚑ " and the flag text: the trimmed name and the output (both GBK) in UTF-8.
std::string FlagLine(std::string_view name, std::string_view output,
                     const std::vector<ReviewFlag>& flags);

// Appends the row of a review file, UTF-8: LINE<TAB>NAME<TAB>OUTPUT<TAB>FLAG TEXT and a line feed,
// the name trimmed; a tab or line break inside the name, the output or the flag text becomes a
// space.
void AppendReviewRow(std::string& out, size_t number, std::string_view name,
                     std::string_view output, const std::vector<ReviewFlag>& flags);

}  // namespace quorvel

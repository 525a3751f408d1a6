#include "Review.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <deque>

#include "BatchConversion.h"
#include "Encoding.h"
#include "Errors.h"
#include "FileReading.h"
#include "ReviewRows.h"
#include "TaughtNames.h"
#include "TextLines.h"

namespace quorvel {

// A slot without a review row.
constexpr uint16_t kNoRow = 0xFFFF;

namespace {

constexpr char kNoReadingReason[] = "no reading";

// The review row of a key in the surname position or in the given name, or -1.
int RowOf(std::string_view key, bool surname) {
  if (key.size() == 4) {  // outside GBK
    uint32_t code = 0;
    for (char c : key) code = code << 8 | static_cast<unsigned char>(c);
    const FourByteReview* end = kFourByteReviews + kFourByteReviewCount;
    const FourByteReview* at =
        std::lower_bound(kFourByteReviews, end, code,
                         [](const FourByteReview& row, uint32_t c) { return row.code < c; });
    if (at == end || at->code != code) return -1;
    const uint16_t row = surname ? at->surname : at->given;
    return row == kNoRow ? -1 : row;
  }
  const int slot = GbkSlot(key);
  if (slot < 0) return -1;
  const uint16_t row = (surname ? kSurnameReviewOfGbk : kGivenReviewOfGbk)[slot];
  return row == kNoRow ? -1 : row;
}

// One lookup the romanization made for a line, in its order.
struct KeyLookup {
  std::string key;
  KeyRole role;
  std::string reading;
};

// A deque: the walk keeps the readings it was handed until the line is laid out, so they must not
// move when more keys come.
// `cache`, when given, holds the readings for `options`.
std::deque<KeyLookup> KeysOf(const ListFiles& lists, std::string_view line,
                             const ConversionOptions& options, ReadingCache* cache = nullptr) {
  std::deque<KeyLookup> keys;
  const LookupOptions lookup = options.Lookup();
  std::string scratch;
  AppendRomanizedWith(
      scratch, lists, line, options, [&](std::string_view key, KeyRole role) -> std::string_view {
        keys.push_back(
            {std::string(key), role,
             cache ? std::string(cache->Reading(key, role)) : ReadingOf(lists, key, lookup, role)});
        return keys.back().reading;
      });
  return keys;
}

std::vector<std::string> Split(std::string_view readings) {
  std::vector<std::string> out;
  ForEachSlashPart(readings, [&](std::string_view part) { out.emplace_back(part); });
  return out;
}

// Whether `found` holds for a word of the text: eight bytes at a time, the last eight overlapping
// those before them; a text shorter than a word is padded with spaces, which no test looks for.
template <typename Test>
bool AnyWord(std::string_view text, Test found) {
  uint64_t word = 0x2020202020202020;
  const size_t n = text.size();
  if (n < 8) {
    std::memcpy(&word, text.data(), n);
    return found(word);
  }
  for (size_t at = 0; at + 8 < n; at += 8) {
    std::memcpy(&word, text.data() + at, sizeof word);
    if (found(word)) return true;
  }
  std::memcpy(&word, text.data() + n - 8, sizeof word);
  return found(word);
}

// A byte below 0x20 leaves its top bit set in (word - 0x20 each) & ~word (exact for every byte
// value: the lowest such byte borrows from none below it).
inline uint64_t ControlBits(uint64_t word) {
  return (word - 0x2020202020202020) & ~word & 0x8080808080808080;
}

// Whether an ASCII control byte is among the bytes of GBK text: no byte of a double- or four-byte
// character is below 0x30.
bool HoldsControl(std::string_view gbk) {
  return AnyWord(gbk, [](uint64_t word) { return ControlBits(word) != 0; });
}

// Whether every byte of the text is printable ASCII or DEL (0x20 to 0x7F): text that is the same
// bytes in UTF-8 and holds nothing that parts a field of a row.
bool IsPlainAscii(std::string_view text) {
  return !AnyWord(
      text, [](uint64_t word) { return ((word & 0x8080808080808080) | ControlBits(word)) != 0; });
}

// Appends GBK text as UTF-8 (AppendGb18030AsUtf8: ASCII as it is, double-byte characters through
// its table, the rest as iconv converts it). True when an ASCII control byte was among them.
bool AppendUtf8(std::string& out, std::string_view gbk) {
  AppendGb18030AsUtf8(out, gbk);
  return HoldsControl(gbk);
}

// The GBK text appended to `out` from `from` on, made UTF-8 (AppendUtf8's bytes); `scratch` is
// used on the way. Text laid out where it belongs is nearly always ASCII, which reads the same.
void MakeUtf8From(std::string& out, size_t from, std::string& scratch) {
  if (AsciiLength(std::string_view(out).substr(from)) == out.size() - from) return;
  scratch.assign(out, from);
  out.resize(from);
  AppendGb18030AsUtf8(out, scratch);
}

constexpr std::string_view kFlagSeparator = " \u2691 ";

// A flag's words before its alternatives: "参: can / cen / shen (rare in given names)", or
// "ㄅ: no reading" when there are no readings.
void AppendFlagHead(std::string& out, std::string_view character,
                    const std::vector<std::string>& readings, std::string_view reason) {
  AppendUtf8(out, character);
  out += ": ";
  for (size_t r = 0; r < readings.size(); ++r) {
    if (r > 0) out += " / ";
    AppendUtf8(out, readings[r]);
  }
  if (readings.empty()) out += reason;
  else out.append(" (").append(reason).append(")");
}

// What stands before alternative `index` of a flag: " — or Zeng Cen", then " · Zeng Shen".
constexpr std::string_view kFirstAlternative = " \u2014 or ", kLaterAlternative = " \u00B7 ";
void AppendAlternativeStart(std::string& out, size_t index) {
  out += index == 0 ? kFirstAlternative : kLaterAlternative;
}

// Alternative `index` of a flag (GBK).
void AppendAlternative(std::string& out, size_t index, std::string_view gbk) {
  AppendAlternativeStart(out, index);
  AppendUtf8(out, gbk);
}

void AppendFlagText(std::string& out, const std::vector<ReviewFlag>& flags) {
  for (size_t f = 0; f < flags.size(); ++f) {
    const ReviewFlag& flag = flags[f];
    if (f > 0) out += kFlagSeparator;
    AppendFlagHead(out, flag.character, flag.readings, flag.reason);
    for (size_t a = 0; a < flag.alternatives.size(); ++a)
      AppendAlternative(out, a, flag.alternatives[a]);
  }
}

// The text of `out` from `from` on as one field of a tab-separated row: a tab or line break
// inside would split the row (no byte of a character in UTF-8 is one).
void MakeOneField(std::string& out, size_t from) {
  if (!HoldsControl(std::string_view(out).substr(from))) return;
  for (size_t i = from; i < out.size(); ++i)
    if (out[i] == '\t' || out[i] == '\r' || out[i] == '\n') out[i] = ' ';
}

// GBK text as one field.
void AppendField(std::string& out, std::string_view gbk) {
  const size_t at = out.size();
  if (AsciiLength(gbk) == gbk.size()) out.append(gbk);  // the usual output line reads the same
  else AppendGb18030AsUtf8(out, gbk);
  MakeOneField(out, at);
}

// Ends a row whose flag text begins at `text`: the flag text as one field (a character or a
// reading may hold a tab), then a line feed.
void EndRow(std::string& out, size_t text) {
  MakeOneField(out, text);
  out += '\n';
}

// Writes `number` in decimal at `w` and returns the end; up to 24 bytes from `w` may be written.
// A number below 10^8 (any line number of a usual run) has its eight digits worked out together,
// two numbers of four digits in the halves of one word split into digits by multiplications; the
// digits before the first that is not zero are dropped.
inline char* PutNumber(char* w, size_t number) {
  if (std::endian::native != std::endian::little || number >= 100000000 || number == 0)
    return std::to_chars(w, w + 24, number).ptr;
  const uint64_t merged = number / 10000 | uint64_t{number % 10000} << 32;
  const uint64_t top = (merged * 10486 >> 20) & 0x0000007F0000007F;  // each half / 100
  const uint64_t hundreds = (merged - 100 * top) << 16 | top;        // two digits per 16 bits
  uint64_t digits = (hundreds * 103 >> 10) & 0x000F000F000F000F;     // each 16 bits / 10
  digits |= (hundreds - 10 * digits) << 8;                           // one digit per byte
  const int zeros = std::countr_zero(digits) / 8;  // the first digit in the lowest byte
  const uint64_t text = (digits + 0x3030303030303030) >> (8 * zeros);
  std::memcpy(w, &text, sizeof text);
  return w + 8 - zeros;
}

void AppendNumber(std::string& out, size_t number) {
  char digits[24];
  char* end = PutNumber(digits, number);
  *end++ = '\t';
  out.append(digits, end);
}

// A review row up to its flag text: "LINE<TAB>NAME<TAB>OUTPUT<TAB>".
void AppendRowStart(std::string& out, size_t number, std::string_view name,
                    std::string_view output) {
  AppendNumber(out, number);
  AppendField(out, TrimControls(name));
  out += '\t';
  AppendField(out, output);
  out += '\t';
}

// The UTF-8 of one double-byte character as AppendGb18030AsUtf8 writes it wherever it stands: the
// bytes in the low three bytes, their count in the high one; kNotOneCharacter when it does not
// write one character of two or three bytes for it (the text around it may then matter).
constexpr uint32_t kNotOneCharacter = 0xFF000000;
uint32_t CharacterUtf8(std::string_view character) {
  std::string utf8;
  AppendGb18030AsUtf8(utf8, character);
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[k]); };
  const bool follow = utf8.size() >= 2 && byte(1) >= 0x80 && byte(1) <= 0xBF &&
                      (utf8.size() == 2 || (byte(2) >= 0x80 && byte(2) <= 0xBF));
  const bool one = follow && ((utf8.size() == 2 && byte(0) >= 0xC2 && byte(0) <= 0xDF) ||
                              (utf8.size() == 3 && byte(0) >= 0xE0 && byte(0) <= 0xEF));
  if (!one) return kNotOneCharacter;
  uint32_t packed = static_cast<uint32_t>(utf8.size()) << 24;
  for (size_t k = 0; k < utf8.size(); ++k) packed |= uint32_t{byte(k)} << (8 * k);
  return packed;
}

// The bits of CandidatePairs for the double-byte character `lead` `trail` (both in range).
uint8_t CandidateBits(unsigned lead, unsigned trail) {
  const size_t slot = (lead - 0x81) * 191 + (trail - 0x40);
  const bool unknown = kBuiltinRowOfGbk[slot] == 0xFFFF;
  uint8_t bits = 0;
  if (unknown || kSurnameReviewOfGbk[slot] != kNoRow) bits |= 1;
  if (unknown || kGivenReviewOfGbk[slot] != kNoRow) bits |= 2;
  return bits;
}

}  // namespace

// Per pair of bytes (as one two-byte load reads them): kNotCharacter when the two bytes are no
// double-byte character, else bit kSurnamePosition and kGivenPosition: the character has a review
// row there, or no row in the built-in table (it may read "???"). 64 KiB, read once per character
// of a line.
std::vector<uint8_t> CandidatePairs() {
  std::vector<uint8_t> pairs(0x10000, 4);
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      const uint8_t bits = CandidateBits(lead, trail);
      uint16_t pair;
      const unsigned char bytes[2] = {static_cast<unsigned char>(lead),
                                      static_cast<unsigned char>(trail)};
      std::memcpy(&pair, bytes, sizeof pair);
      pairs[pair] = bits;
    }
  }
  return pairs;
}

const uint8_t* TheCandidates() {
  static const std::vector<uint8_t> candidates = CandidatePairs();
  return candidates.data();
}

namespace {

// Whether the custom dictionary of `romanization` decides the reading of the two-byte `key`: the
// reading the lookup takes for it has no "?" (one with a "?" may read "???").
bool UserReads(const ListFiles& lists, Romanization romanization, std::string_view key) {
  const bool wadeGiles = romanization == Romanization::kWadeGiles;
  const long at = lists.FindKey(wadeGiles ? kWadeGilesDictionaryKeys : kPinyinDictionaryKeys, key);
  if (at < 0) return false;
  const std::vector<std::string>& readings =
      lists.List(wadeGiles ? kWadeGilesDictionaryReadings : kPinyinDictionaryReadings);
  return static_cast<size_t>(at) < readings.size() &&
         readings[static_cast<size_t>(at)].find('?') == std::string::npos;
}

}  // namespace

// The quick test's bits of the character, read from the review rows themselves: the run's watch
// asks once per character and position, and needs no table of every pair made first.
bool ReviewWatch::Wants(std::string_view character, KeyRole role) const {
  const auto lead = static_cast<unsigned char>(character[0]);
  const auto trail = static_cast<unsigned char>(character[1]);
  if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE) return false;
  const uint8_t position =
      role == KeyRole::kSurname ? NameReviewer::kSurnamePosition : NameReviewer::kGivenPosition;
  return (CandidateBits(lead, trail) & position) && !UserReads(lists_, romanization_, character);
}

// One key the romanization read for a line, in its order: its reading (in readingText_), whether
// it reads "???", its review row in its position (-1: none, or the custom dictionary knows it),
// and the key itself when it may be flagged.
struct NameReviewer::KeyRead {
  KeyRole role = KeyRole::kGivenName;
  size_t at = 0, size = 0;
  bool noReading = false;
  int row = -1;
  std::string key;
};

// A flag of the last line: which key, and its alternatives (alternativeEnds_[from, to)).
struct NameReviewer::Found {
  ReviewFlag::Kind kind;
  size_t key;
  int row;
  size_t from, to;
};

// What the short way needs of a double-byte character, worked out the first time a usual name
// holds it and forgotten when the lists change, on one cache line: per position (the given name
// [0], the surname [1]) its reading, in the entry when it is short, else in shortText_; what
// ReadKey would make of it there (a review row, kUnread: "???", kNotFlagged: no row, or the user's
// own reading) and, once it was flagged there, the row's words; a bit per position set where a row
// may be written plain with it there (its reading plain ASCII and no "???", its UTF-8 known); its
// UTF-8 in a name (CharacterUtf8); and whether the short way takes it at all (a double-byte
// character that is no separating dot).
struct alignas(64) NameReviewer::Character {
  static constexpr int16_t kNotFlagged = -1, kUnread = -2;
  static constexpr size_t kMostText = size_t{1} << 30;  // shortText_ is begun again beyond it
  static constexpr size_t kShort = 8;
  char text[2][kShort];
  uint32_t at[2];
  uint32_t size[2];
  int16_t flag[2];
  uint32_t utf8;
  mutable const RowReadings* words[2];
  uint8_t plain;
  bool usual;
  std::string_view Reading(bool surname, const std::string& shortText) const {
    const size_t n = size[surname];
    return n <= kShort ? std::string_view(text[surname], n)
                       : std::string_view(shortText).substr(at[surname], n);
  }
};

NameReviewer::NameReviewer(const ListFiles& lists, const ConversionOptions& options)
    : lists_(lists),
      options_(options),
      layout_(options),
      watch_(lists, options.romanization),
      candidates_(nullptr),  // made by the first review (SyncCandidates), on its thread
      lookup_(options.Lookup()),
      dictionary_(options.romanization == Romanization::kWadeGiles ? kWadeGilesDictionaryKeys
                                                                   : kPinyinDictionaryKeys) {}

NameReviewer::~NameReviewer() = default;

void NameReviewer::SyncCandidates() const {
  candidatesGeneration_ = lists_.Generation();
  candidates_ = TheCandidates();
  ownCandidates_.clear();
  const ListSlot dictionary = options_.romanization == Romanization::kWadeGiles
                                  ? kWadeGilesDictionaryKeys
                                  : kPinyinDictionaryKeys;
  for (const std::string& key : lists_.List(dictionary)) {
    if (GbkSlot(key) < 0 || !UserReads(lists_, options_.romanization, key)) continue;
    if (ownCandidates_.empty()) ownCandidates_.assign(candidates_, candidates_ + 0x10000);
    uint16_t pair;
    std::memcpy(&pair, key.data(), sizeof pair);
    ownCandidates_[pair] &= static_cast<uint8_t>(~(kSurnamePosition | kGivenPosition));
  }
  if (!ownCandidates_.empty()) candidates_ = ownCandidates_.data();
}

// The readings of a row as the output writes them, and the flag's words before its alternatives
// (the same for every line until the lists change), worked out once.
const NameReviewer::RowReadings& NameReviewer::ReadingsOfRow(int row, std::string_view key) const {
  uint16_t& index = rowIndex_[static_cast<size_t>(row)];
  if (index != 0) return rows_[index - 1u];
  RowReadings& readings = rows_.emplace_back();
  for (std::string& pinyin : Split(kReviewReadings[row])) {
    std::string written;
    AppendPinyinReading(written, lists_, pinyin, options_.Lookup());
    if (std::find(readings.written.begin(), readings.written.end(), written) !=
        readings.written.end())
      continue;
    readings.written.push_back(std::move(written));
    readings.pinyin.push_back(std::move(pinyin));
  }
  AppendFlagHead(readings.head, key, readings.written, kReviewReasons[row]);
  readings.plain = !HoldsControl(readings.head);
  for (const std::string& written : readings.written)
    readings.plain = readings.plain && IsPlainAscii(written);
  index = static_cast<uint16_t>(rows_.size());
  return readings;
}

// The walk of the romanization over the line: every key it reads, with its reading. The walk
// lays the line out with the second reading of every key that may be flagged: where that is one
// key (nearly always), the line laid out is that key's first alternative, and one walk is saved.
void NameReviewer::ReadKeys(std::string_view line) const {
  keys_.clear();
  readingText_.clear();
  laidOut_ = kNoKey;
  scratch_.clear();
  AppendRomanizedWith(scratch_, lists_, line, options_,
                      [this](std::string_view key, KeyRole role) { return ReadKey(key, role); });
}

// One key of ReadKeys' walk: kept with its reading and row; the reading the walk lays out.
std::string_view NameReviewer::ReadKey(std::string_view key, KeyRole role) const {
  readings_->ClearQuestionMark();
  const std::string_view reading = readings_->Reading(key, role);
  KeyRead& read = keys_.emplace_back();
  read.role = role;
  read.at = readingText_.size();
  read.size = reading.size();
  readingText_.append(reading);
  read.noReading =
      readings_->SawQuestionMark() && reading.find(kNoReading) != std::string_view::npos;
  if (read.noReading) {
    read.key.assign(key);
    return reading;
  }
  read.row = RowOf(key, role == KeyRole::kSurname);
  if (read.row < 0) return reading;
  const ListSlot dictionary = options_.romanization == Romanization::kWadeGiles
                                  ? kWadeGilesDictionaryKeys
                                  : kPinyinDictionaryKeys;
  if (lists_.FindKey(dictionary, key) >= 0) {
    read.row = -1;  // the user's own reading
    return reading;
  }
  read.key.assign(key);
  const RowReadings& readings = ReadingsOfRow(read.row, key);
  if (readings.written.size() < 2) return reading;
  laidOut_ = laidOut_ == kNoKey ? keys_.size() - 1 : kSeveralKeys;
  return readings.written[1];
}

// The line once per other reading of key `k` from reading `from` on, every other key keeping the
// reading it had.
void NameReviewer::AddAlternatives(std::string_view line, size_t k, const RowReadings& readings,
                                   size_t from) const {
  struct Walk {  // one reference for the walk's reading function: small enough to need no heap
    const NameReviewer& reviewer;
    size_t k;
    std::string_view reading;
    size_t call;
  };
  for (size_t r = from; r < readings.written.size(); ++r) {
    Walk walk{*this, k, readings.written[r], 0};
    AppendRomanizedWith(
        alternatives_, lists_, line, options_,
        [&walk](std::string_view, KeyRole) -> std::string_view {
          const size_t at = walk.call++;
          if (at == walk.k) return walk.reading;
          const auto& keys = walk.reviewer.keys_;
          if (at >= keys.size()) return kNoReading;
          return std::string_view(walk.reviewer.readingText_).substr(keys[at].at, keys[at].size);
        });
    alternativeEnds_.push_back(alternatives_.size());
  }
}

// The readings of the walk and the words of the rows for the lists as they are now.
void NameReviewer::SyncWalk() const {
  if (!readings_) readings_ = std::make_unique<ReadingCache>(lists_, lookup_);
  readings_->Sync();
  SyncRows();
}

void NameReviewer::SyncRows() const {
  if (rowsGeneration_ != lists_.Generation()) {
    rowIndex_.assign(static_cast<size_t>(kReviewRowCount), 0);
    rows_.clear();
    rowsGeneration_ = lists_.Generation();
  }
}

bool NameReviewer::Find(std::string_view line) const {
  found_.clear();
  alternatives_.clear();
  alternativeEnds_.clear();
  if (!lists_.List(kTaughtNameKeys).empty() &&
      lists_.FindKey(kTaughtNameKeys, TrimControls(line)) >= 0)
    return false;  // taught: the user's choice
  SyncWalk();
  ReadKeys(line);
  size_t surname = keys_.size();  // the surname is the last key read in the surname position
  for (size_t k = 0; k < keys_.size(); ++k)
    if (keys_[k].role == KeyRole::kSurname) surname = k;
  for (size_t k = 0; k < keys_.size(); ++k) {
    const KeyRead& read = keys_[k];
    if (read.role == KeyRole::kSurname && k != surname) continue;  // the two-character probe
    if (read.noReading) {
      found_.push_back({ReviewFlag::Kind::kNoReading, k, -1, 0, 0});
      continue;
    }
    if (read.row < 0) continue;
    const size_t from = alternativeEnds_.size();
    const RowReadings& readings = WordedRow(read.row);
    if (k == laidOut_) {  // the walk above laid out the first alternative
      alternatives_.append(scratch_);
      alternativeEnds_.push_back(alternatives_.size());
      AddAlternatives(line, k, readings, 2);
    } else {
      AddAlternatives(line, k, readings, 1);
    }
    found_.push_back(
        {read.role == KeyRole::kSurname ? ReviewFlag::Kind::kSurname : ReviewFlag::Kind::kGiven, k,
         read.row, from, alternativeEnds_.size()});
  }
  return !found_.empty();
}

std::vector<ReviewFlag> NameReviewer::ReviewCandidate(std::string_view line) const {
  std::vector<ReviewFlag> flags;
  if (!Find(line)) return flags;
  for (const Found& found : found_) {
    ReviewFlag& flag = flags.emplace_back();
    flag.kind = found.kind;
    flag.character = keys_[found.key].key;
    flag.position = found.key;
    if (found.row < 0) {
      flag.reason = kNoReadingReason;
      continue;
    }
    const RowReadings& readings = WordedRow(found.row);
    flag.readings = readings.written;
    flag.pinyin = readings.pinyin;
    flag.reason = kReviewReasons[found.row];
    for (size_t a = found.from; a < found.to; ++a) {
      const size_t begin = a == 0 ? 0 : alternativeEnds_[a - 1];
      flag.alternatives.push_back(alternatives_.substr(begin, alternativeEnds_[a] - begin));
    }
  }
  return flags;
}

bool NameReviewer::AppendRowOfCandidate(std::string& out, size_t number, std::string_view line,
                                        std::string_view output) const {
  // AppendRow ran the quick test already where its table was the lists' current one; after a
  // change of the lists the table is brought up to date and the test run here.
  const bool tested = candidatesGeneration_ == lists_.Generation();
  if (!tested && !MayBeFlagged(line)) return false;
  switch (AppendRowOfName(out, number, line, output)) {
    case ShortWay::kNotFlagged: return false;
    case ShortWay::kFlagged: return true;
    case ShortWay::kWalk: break;
  }
  if (!Find(line)) return false;
  AppendRowStart(out, number, line, output);
  const size_t text = out.size();
  for (size_t f = 0; f < found_.size(); ++f) {
    const Found& found = found_[f];
    if (f > 0) out += kFlagSeparator;
    if (found.row < 0) {
      AppendFlagHead(out, keys_[found.key].key, {}, kNoReadingReason);
      continue;
    }
    out += WordedRow(found.row).head;
    for (size_t a = found.from; a < found.to; ++a) {
      const size_t begin = a == 0 ? 0 : alternativeEnds_[a - 1];
      AppendAlternative(out, a - found.from,
                        std::string_view(alternatives_).substr(begin, alternativeEnds_[a] - begin));
    }
  }
  EndRow(out, text);
  return true;
}

// The keys of a usual name as the layout takes them, each character a key, the surname first:
// per key its reading, its flag (a Character's) and, where it has a row, the row's words; and the
// name's characters. Where the custom dictionary reads the first two characters, they are one key,
// a surname that is never flagged (`pair`).
struct NameReviewer::RowKeys {
  const Character* characters[kMostKeys];
  std::string_view readings[kMostKeys];
  int flags[kMostKeys];
  const RowReadings* words[kMostKeys];
  size_t count = 0;
  bool pair = false;
  // Makes the first two characters the surname read `reading`; whether a key is still flagged.
  bool TakePairSurname(std::string_view reading) {
    pair = true;
    --count;
    readings[0] = reading;
    flags[0] = Character::kNotFlagged;
    bool flagged = false;
    for (size_t k = 1; k < count; ++k) {
      readings[k] = readings[k + 1];
      flags[k] = flags[k + 1];
      flagged = flagged || flags[k] != Character::kNotFlagged;
    }
    return flagged;
  }
  size_t CharacterOf(size_t key) const { return key == 0 ? 0 : key + pair; }
};

// The usual name is two to seven double-byte characters, with nothing but control bytes and
// spaces around them. The walk would read its keys in order, the surname first (the first two
// characters when the custom dictionary reads them), and lay out each alternative alike; here each
// key is known from its Character, and the alternatives are laid out from the readings with the
// flagged one swapped: the same bytes. Any other line (a taught whole name among the lists too)
// is left to the walk.
NameReviewer::ShortWay NameReviewer::AppendRowOfName(std::string& out, size_t number,
                                                     std::string_view line,
                                                     std::string_view output) const {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(line[at]); };
  const std::string_view clean =
      !line.empty() && byte(0) > 0x20 && byte(line.size() - 1) > 0x20 ? line : TrimControls(line);
  const size_t count = clean.size() / 2;
  if (clean.size() % 2 != 0 || count < 2 || count > kMostKeys) return ShortWay::kWalk;
  if (charactersGeneration_ != lists_.Generation() || shortText_.size() > Character::kMostText)
    ForgetCharacters();
  if (anyTaught_) return ShortWay::kWalk;
  RowKeys keys;
  bool flagged = false;
  for (size_t c = 0; c < count; ++c) {
    const std::string_view key(clean.data() + 2 * c, 2);
    const int slot = GbkSlot(key);
    if (slot < 0) return ShortWay::kWalk;  // no double-byte character
    const Character& character = characters_[CharacterIndex(key, static_cast<size_t>(slot))];
    if (!character.usual) return ShortWay::kWalk;  // nor here, or a dotted name
    keys.characters[c] = &character;
    keys.flags[c] = character.flag[c == 0];
    flagged = flagged || keys.flags[c] != Character::kNotFlagged;
  }
  keys.count = count;
  for (size_t c = 0; c < count; ++c)  // no reading is added to shortText_ from here on
    keys.readings[c] = keys.characters[c]->Reading(c == 0, shortText_);
  // The first two are the surname when the custom dictionary reads them (a reading with a "?",
  // which may be "???", is left to the walk).
  if (anyDictionary_ && lists_.FindKey(dictionary_, clean.substr(0, 4)) >= 0) {
    pairSurname_.clear();
    AppendReading(pairSurname_, lists_, clean.substr(0, 4), lookup_, KeyRole::kSurname);
    if (pairSurname_.find('?') != std::string::npos) return ShortWay::kWalk;
    flagged = keys.TakePairSurname(pairSurname_);
  }
  if (!flagged) return ShortWay::kNotFlagged;
  AppendRowOfFlags(out, number, clean, output, keys);
  return ShortWay::kFlagged;
}

// The row of a usual name that is flagged, its keys known. Its start is written in one piece where
// every text of the row is plain ASCII but for the name's characters (each of which has its UTF-8)
// and the flags' words (whose other bytes part no field): the usual row, which no conversion nor
// field rule changes.
void NameReviewer::AppendRowOfFlags(std::string& out, size_t number, std::string_view clean,
                                    std::string_view output, RowKeys& keys) const {
  bool plain = IsPlainAscii(output);
  if (keys.pair) {
    plain = plain && IsPlainAscii(pairSurname_) && keys.characters[0]->utf8 != kNotOneCharacter &&
            keys.characters[1]->utf8 != kNotOneCharacter;
  }
  for (size_t k = keys.pair; k < keys.count; ++k) {
    const size_t c = keys.CharacterOf(k);
    const Character& character = *keys.characters[c];
    const bool surname = c == 0;
    plain = plain && (character.plain >> surname & 1);
    const int flag = keys.flags[k];
    if (flag < 0) continue;
    if (!character.words[surname])
      character.words[surname] = &ReadingsOfRow(flag, clean.substr(2 * c, 2));
    keys.words[k] = character.words[surname];
    plain = plain && keys.words[k]->plain;
  }
  if (plain) return AppendPlainRow(out, number, output, keys);
  AppendRowStart(out, number, clean, output);
  const size_t text = out.size();
  bool first = true;
  for (size_t k = 0; k < keys.count; ++k) {
    if (keys.flags[k] == Character::kNotFlagged) continue;
    if (!first) out += kFlagSeparator;
    first = false;
    if (keys.flags[k] == Character::kUnread) {
      AppendFlagHead(out, clean.substr(2 * keys.CharacterOf(k), 2), {}, kNoReadingReason);
      continue;
    }
    out += keys.words[k]->head;
    AppendAlternatives(out, keys.readings, keys.count, k, *keys.words[k], false);
  }
  EndRow(out, text);
}

namespace {

char* Put(char* to, std::string_view text) {
  std::memcpy(to, text.data(), text.size());
  return to + text.size();
}

// The most PutRowStart writes for a name of `count` characters and an output of `outputSize`
// bytes: the number (24), a tab, three bytes a character, a tab, the output, a tab.
constexpr size_t RowStartRoom(size_t count, size_t outputSize) {
  return 24 + 1 + 3 * count + 1 + outputSize + 1;
}

}  // namespace

// The row of AppendRowOfFlags where it is plain: per flag, what stands before its words (the
// row's start, or the separator of flags), its words and the start of its first alternative in one
// piece, then its alternatives laid out. Inlined, as PutRowStart, into its one caller: two calls
// less per flagged row.
[[gnu::always_inline]] inline void NameReviewer::AppendPlainRow(std::string& out, size_t number,
                                                                std::string_view output,
                                                                RowKeys& keys) const {
  const size_t count = keys.count + keys.pair;  // the name's characters
  bool first = true;
  for (size_t k = 0; k < keys.count; ++k) {
    if (keys.flags[k] < 0) continue;
    const RowReadings& row = *keys.words[k];
    const size_t at = out.size();
    const size_t before = first ? RowStartRoom(count, output.size()) : kFlagSeparator.size();
    out.resize_and_overwrite(
        at + before + row.head.size() + kFirstAlternative.size(), [&](char* data, size_t) {
          char* w = first ? PutRowStart(data + at, number, keys.characters, count, output)
                          : Put(data + at, kFlagSeparator);
          w = Put(w, row.head);
          if (row.written.size() > 1) w = Put(w, kFirstAlternative);
          return static_cast<size_t>(w - data);
        });
    first = false;
    AppendAlternatives(out, keys.readings, keys.count, k, row, true);
  }
  out += '\n';
}

// AppendRowStart's bytes at `w` for a usual name whose output is plain ASCII and whose characters
// each have their UTF-8: "LINE<TAB>NAME<TAB>OUTPUT<TAB>", RowStartRoom bytes at most written;
// returns the end.
[[gnu::always_inline]] inline char* NameReviewer::PutRowStart(char* w, size_t number,
                                                              const Character* const* characters,
                                                              size_t count,
                                                              std::string_view output) {
  w = PutNumber(w, number);
  *w++ = '\t';
  for (size_t c = 0; c < count; ++c) {  // three bytes at most, the next ones written over the rest
    const uint32_t utf8 = characters[c]->utf8;
    w[0] = static_cast<char>(utf8);
    w[1] = static_cast<char>(utf8 >> 8);
    w[2] = static_cast<char>(utf8 >> 16);
    w += utf8 >> 24;
  }
  *w++ = '\t';
  w = Put(w, output);
  *w++ = '\t';
  return w;
}

void NameReviewer::ForgetCharacters() const {
  charactersGeneration_ = lists_.Generation();
  anyTaught_ = !lists_.List(kTaughtNameKeys).empty();
  anyDictionary_ = !lists_.List(dictionary_).empty();
  characterOf_.assign(kGbkSlots, 0);
  characters_.clear();
  characters_.reserve(kGbkSlots);
  shortText_.clear();
  SyncRows();
}

// The index of the Character of a double-byte key (in GbkSlot `slot`) in characters_.
inline size_t NameReviewer::CharacterIndex(std::string_view key, size_t slot) const {
  const uint16_t index = characterOf_[slot];
  return index != 0 ? index - 1u : AddCharacter(key, slot);
}

// The Character of a key seen for the first time (in GbkSlot `slot`), added to characters_.
size_t NameReviewer::AddCharacter(std::string_view key, size_t slot) const {
  Character character{};
  for (const bool surname : {false, true}) {
    const size_t at = shortText_.size();
    AppendReading(shortText_, lists_, key, lookup_,
                  surname ? KeyRole::kSurname : KeyRole::kGivenName);
    const std::string_view reading = std::string_view(shortText_).substr(at);
    int flag = Character::kUnread;
    if (reading.find(kNoReading) == std::string_view::npos) {  // as ReadKey decides
      flag = RowOf(key, surname);
      if (flag >= 0 && lists_.FindKey(dictionary_, key) >= 0) flag = Character::kNotFlagged;
    }
    character.at[surname] = static_cast<uint32_t>(at);
    character.size[surname] = static_cast<uint32_t>(reading.size());
    character.plain |=
        static_cast<uint8_t>((IsPlainAscii(reading) && flag != Character::kUnread) << surname);
    if (reading.size() <= Character::kShort) {
      std::memcpy(character.text[surname], reading.data(), reading.size());
      shortText_.resize(at);  // kept in the entry
    }
    character.flag[surname] = static_cast<int16_t>(flag);
  }
  character.utf8 = CharacterUtf8(key);
  if (character.utf8 == kNotOneCharacter) character.plain = 0;
  character.usual = Gb18030CharLength(key) == 2 && !IsNameSeparatingDot(key);
  characters_.push_back(character);
  characterOf_[slot] = static_cast<uint16_t>(characters_.size());
  return characters_.size() - 1;
}

// The alternatives of key `key` of a usual name whose keys read `readings`: the line laid out once
// per other reading of the row, that reading in the key's place. In a plain row the start of the
// first is written already and the lines laid out are plain ASCII. Inlined into both ways of a
// row: a call less per alternative.
[[gnu::always_inline]] inline void NameReviewer::AppendAlternatives(std::string& out,
                                                                    std::string_view* readings,
                                                                    size_t count, size_t key,
                                                                    const RowReadings& row,
                                                                    bool plain) const {
  const std::string_view used = readings[key];
  for (size_t r = 1; r < row.written.size(); ++r) {
    readings[key] = row.written[r];
    if (!plain || r > 1) AppendAlternativeStart(out, r - 1);
    const size_t from = out.size();
    AppendLaidOutReadings(out, layout_, readings[0], readings + 1, count - 1);
    if (!plain) MakeUtf8From(out, from, scratch_);
  }
  readings[key] = used;
}

std::optional<DictionaryEntry> EntryForAlternative(const ListFiles& lists, std::string_view line,
                                                   const ReviewFlag& flag,
                                                   std::size_t alternative) {
  if (alternative + 1 >= flag.pinyin.size()) return std::nullopt;
  ConversionOptions pinyin;  // first readings, Hanyu Pinyin, v: the syllables a whole name stores
  pinyin.format = NameFormat::kSurnameGiven;
  std::deque<KeyLookup> keys = KeysOf(lists, line, pinyin);
  if (flag.position >= keys.size()) return std::nullopt;
  keys[flag.position].reading = flag.pinyin[alternative + 1];
  std::string syllables;
  size_t surname = keys.size();
  for (size_t k = 0; k < keys.size(); ++k)
    if (keys[k].role == KeyRole::kSurname) surname = k;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (keys[k].role == KeyRole::kSurname && k != surname) continue;  // the two-character probe
    if (keys[k].key.size() != 2) return std::nullopt;
    if (!syllables.empty()) syllables += ' ';
    syllables += keys[k].reading;
  }
  try {
    return TaughtEntryFromUtf8(Gb18030ToUtf8(TrimControls(line)), syllables);
  } catch (const Error&) {
    return std::nullopt;
  }
}

void RewriteTargetLine(const std::string& path, std::size_t number, std::string_view expected,
                       std::string_view replacement) {
  const std::string text = ReadWholeFile(path);
  size_t start = 0;
  for (size_t n = 1; n < number && start != std::string::npos; ++n) {
    start = text.find("\r\n", start);
    if (start != std::string::npos) start += 2;
  }
  const size_t end = start == std::string::npos ? start : text.find("\r\n", start);
  if (number == 0 || end == std::string::npos)
    throw Error("目标文件没有第 " + std::to_string(number) + " 行，没有改写：" + path);
  if (std::string_view(text).substr(start, end - start) != expected)
    throw Error("目标文件第 " + std::to_string(number) + " 行已被改动，没有改写：" + path);
  std::string changed = text.substr(0, start);
  changed.append(replacement).append(text, end);
  WriteTextTarget(path, changed);  // as the run wrote it: its mode and the link to it kept
}

std::string FlagText(const std::vector<ReviewFlag>& flags) {
  std::string text;
  AppendFlagText(text, flags);
  return text;
}

std::string FlagLine(std::string_view name, std::string_view output,
                     const std::vector<ReviewFlag>& flags) {
  std::string line;
  AppendUtf8(line, TrimControls(name));
  line += " \u2192 ";
  AppendUtf8(line, output);
  line += kFlagSeparator;
  AppendFlagText(line, flags);
  return line;
}

void AppendReviewRow(std::string& out, size_t number, std::string_view name,
                     std::string_view output, const std::vector<ReviewFlag>& flags) {
  AppendRowStart(out, number, name, output);
  const size_t text = out.size();
  AppendFlagText(out, flags);
  EndRow(out, text);
}

}  // namespace quorvel

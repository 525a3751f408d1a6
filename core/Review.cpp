#include "Review.h"

#include <algorithm>
#include <array>
#include <deque>

#include "Encoding.h"
#include "Errors.h"
#include "FileReading.h"
#include "Files.h"
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
struct KeyRead {
  std::string key;
  KeyRole role;
  std::string reading;
};

// A deque: the walk keeps the readings it was handed until the line is laid out, so they must not
// move when more keys come.
// `cache`, when given, holds the readings for `options`.
std::deque<KeyRead> KeysOf(const ListFiles& lists, std::string_view line,
                           const ConversionOptions& options, ReadingCache* cache = nullptr) {
  std::deque<KeyRead> keys;
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

}  // namespace

// Per GBK slot, bit kSurnamePosition and kGivenPosition: the character has a review row there, or
// no row in the built-in table (it may read "???"). 24 KiB, read once per character of a line.
std::vector<uint8_t> CandidateSlots() {
  std::vector<uint8_t> slots(kGbkSlots);
  for (size_t slot = 0; slot < slots.size(); ++slot) {
    const bool unknown = kBuiltinRowOfGbk[slot] == 0xFFFF;
    if (unknown || kSurnameReviewOfGbk[slot] != kNoRow) slots[slot] |= 1;
    if (unknown || kGivenReviewOfGbk[slot] != kNoRow) slots[slot] |= 2;
  }
  return slots;
}

const uint8_t* TheCandidates() {
  static const std::vector<uint8_t> candidates = CandidateSlots();
  return candidates.data();
}

NameReviewer::NameReviewer(const ListFiles& lists, const ConversionOptions& options)
    : lists_(lists),
      options_(options),
      candidates_(TheCandidates()),
      readings_(std::make_unique<ReadingCache>(lists, options.Lookup())) {}

// The readings of a row as the output writes them (the same for every line until the lists
// change), worked out once.
const NameReviewer::RowReadings& NameReviewer::ReadingsOfRow(int row) const {
  if (rowsGeneration_ != lists_.Generation()) {
    rows_.assign(static_cast<size_t>(kReviewRowCount), {});
    rowsGeneration_ = lists_.Generation();
  }
  RowReadings& readings = rows_[static_cast<size_t>(row)];
  if (readings.done) return readings;
  for (std::string& pinyin : Split(kReviewReadings[row])) {
    std::string written;
    AppendPinyinReading(written, lists_, pinyin, options_.Lookup());
    if (std::find(readings.written.begin(), readings.written.end(), written) !=
        readings.written.end())
      continue;
    readings.written.push_back(std::move(written));
    readings.pinyin.push_back(std::move(pinyin));
  }
  readings.done = true;
  return readings;
}

std::vector<ReviewFlag> NameReviewer::ReviewCandidate(std::string_view line) const {
  if (lists_.FindKey(kTaughtNameKeys, TrimControls(line)) >= 0)
    return {};  // taught: the user's choice
  readings_->Sync();
  const std::deque<KeyRead> keys = KeysOf(lists_, line, options_, readings_.get());
  const ListSlot dictionary = options_.romanization == Romanization::kWadeGiles
                                  ? kWadeGilesDictionaryKeys
                                  : kPinyinDictionaryKeys;
  size_t surname = keys.size();  // the surname is the last key read in the surname position
  for (size_t k = 0; k < keys.size(); ++k)
    if (keys[k].role == KeyRole::kSurname) surname = k;

  std::vector<ReviewFlag> flags;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (keys[k].role == KeyRole::kSurname && k != surname) continue;  // the two-character probe
    const KeyRead& read = keys[k];
    if (read.reading.find(kNoReading) != std::string::npos) {
      flags.push_back({ReviewFlag::Kind::kNoReading, read.key, {}, kNoReadingReason, {}, {}, k});
      continue;
    }
    if (lists_.FindKey(dictionary, read.key) >= 0) continue;  // the user's own reading
    const bool isSurname = read.role == KeyRole::kSurname;
    const int row = RowOf(read.key, isSurname);
    if (row < 0) continue;
    const RowReadings& readings = ReadingsOfRow(row);
    ReviewFlag flag{isSurname ? ReviewFlag::Kind::kSurname : ReviewFlag::Kind::kGiven,
                    read.key,
                    readings.written,
                    kReviewReasons[row],
                    {},
                    readings.pinyin,
                    k};
    for (size_t r = 1; r < flag.readings.size(); ++r) {
      // The same walk again: every key keeps the reading it had, this one takes reading r.
      size_t call = 0;
      std::string alternative;
      AppendRomanizedWith(
          alternative, lists_, line, options_, [&](std::string_view, KeyRole) -> std::string_view {
            const size_t at = call++;
            if (at == k) return flag.readings[r];
            return at < keys.size() ? std::string_view(keys[at].reading) : kNoReading;
          });
      flag.alternatives.push_back(std::move(alternative));
    }
    flags.push_back(std::move(flag));
  }
  return flags;
}

std::optional<DictionaryEntry> EntryForAlternative(const ListFiles& lists, std::string_view line,
                                                   const ReviewFlag& flag,
                                                   std::size_t alternative) {
  if (alternative + 1 >= flag.pinyin.size()) return std::nullopt;
  ConversionOptions pinyin;  // first readings, Hanyu Pinyin, v: the syllables a whole name stores
  pinyin.format = NameFormat::kSurnameGiven;
  std::deque<KeyRead> keys = KeysOf(lists, line, pinyin);
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
  ReplaceFilesAtomically({{path, changed}});
}

namespace {

// Appends GBK text as UTF-8: ASCII as it is, each double-byte character through a table filled as
// characters first appear (a flag text is mostly ASCII with a few characters, and converting
// each piece with iconv would cost more than reviewing the name). A byte that starts no
// character becomes "?", as Gb18030ToUtf8 makes it.
void AppendUtf8(std::string& out, std::string_view gbk) {
  struct Utf8 {
    char bytes[4];
    uint8_t size = 0;  // 0: not converted yet
  };
  static std::vector<Utf8> table(kGbkSlots);
  for (size_t i = 0; i < gbk.size();) {
    size_t ascii = i;  // a run of ASCII bytes goes as it is
    while (ascii < gbk.size() && static_cast<unsigned char>(gbk[ascii]) < 0x80) ++ascii;
    if (ascii > i) {
      out.append(gbk.data() + i, ascii - i);
      i = ascii;
      continue;
    }
    if (Gb18030CharLength(gbk.substr(i)) == 4) {  // rare characters: converted as they come
      out += Gb18030ToUtf8(gbk.substr(i, 4));
      i += 4;
      continue;
    }
    const int slot = GbkSlot(gbk.substr(i, 2));
    if (static_cast<unsigned char>(gbk[i]) < 0x80 || slot < 0) {
      out += static_cast<unsigned char>(gbk[i]) < 0x80 ? gbk[i] : '?';
      ++i;
      continue;
    }
    Utf8& utf8 = table[static_cast<size_t>(slot)];
    if (utf8.size == 0) {
      const std::string converted = Gb18030ToUtf8(gbk.substr(i, 2));
      utf8.size = static_cast<uint8_t>(std::min<size_t>(converted.size(), sizeof utf8.bytes));
      std::copy_n(converted.data(), utf8.size, utf8.bytes);
    }
    out.append(utf8.bytes, utf8.size);
    i += 2;
  }
}

void AppendFlagText(std::string& out, const std::vector<ReviewFlag>& flags) {
  bool first = true;
  for (const ReviewFlag& flag : flags) {
    if (!first) out += " \u2691 ";
    first = false;
    AppendUtf8(out, flag.character);
    out += ": ";
    for (size_t r = 0; r < flag.readings.size(); ++r) {
      if (r > 0) out += " / ";
      AppendUtf8(out, flag.readings[r]);
    }
    if (flag.readings.empty()) out += flag.reason;
    else out.append(" (").append(flag.reason).append(")");
    for (size_t a = 0; a < flag.alternatives.size(); ++a) {
      out += a == 0 ? " \u2014 or " : " \u00B7 ";
      AppendUtf8(out, flag.alternatives[a]);
    }
  }
}

// A text as one field of a tab-separated row: a tab or line break inside would split the row (no
// GBK trail byte is one).
void AppendField(std::string& out, std::string_view gbk) {
  const size_t at = out.size();
  AppendUtf8(out, gbk);
  for (size_t i = at; i < out.size(); ++i)
    if (out[i] == '\t' || out[i] == '\r' || out[i] == '\n') out[i] = ' ';
}

}  // namespace

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
  line += " \u2691 ";
  AppendFlagText(line, flags);
  return line;
}

void AppendReviewRow(std::string& out, size_t number, std::string_view name,
                     std::string_view output, const std::vector<ReviewFlag>& flags) {
  out += std::to_string(number);
  out += '\t';
  AppendField(out, TrimControls(name));
  out += '\t';
  AppendField(out, output);
  out += '\t';
  AppendFlagText(out, flags);
  out += '\n';
}

}  // namespace quorvel

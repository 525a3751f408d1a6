#include "Review.h"

#include <algorithm>

#include "Encoding.h"
#include "Files.h"
#include "ReviewRows.h"

namespace quorvel {

namespace {

constexpr uint16_t kNoRow = 0xFFFF;
constexpr char kNoReadingReason[] = "no reading";

int RowOf(const uint16_t* index, std::string_view key) {
  const int slot = GbkSlot(key);
  if (slot < 0) return -1;
  return index[slot] == kNoRow ? -1 : index[slot];
}

// Whether anything in the line could be flagged: a "?" in the output, or a character with a row.
bool MayBeFlagged(std::string_view line, std::string_view output) {
  if (output.find('?') != std::string_view::npos) return true;
  for (size_t i = 0; i + 1 < line.size();) {
    if (static_cast<unsigned char>(line[i]) < 0x81) {
      ++i;
      continue;
    }
    const std::string_view key = line.substr(i, 2);
    if (RowOf(kGivenReviewOfGbk, key) >= 0 || RowOf(kSurnameReviewOfGbk, key) >= 0) return true;
    i += 2;
  }
  return false;
}

// One lookup the romanization made for a line, in its order.
struct KeyRead {
  std::string key;
  KeyRole role;
  std::string reading;
};

std::vector<KeyRead> KeysOf(const ListFiles& lists, std::string_view line, const ConversionOptions& options) {
  std::vector<KeyRead> keys;
  keys.reserve(8);
  const LookupOptions lookup = options.Lookup();
  std::string scratch;
  AppendRomanizedWith(scratch, lists, line, options, [&](std::string_view key, KeyRole role) -> std::string_view {
    keys.push_back({std::string(key), role, ReadingOf(lists, key, lookup, role)});
    return keys.back().reading;
  });
  return keys;
}

std::vector<std::string> Split(std::string_view readings) {
  std::vector<std::string> out;
  for (size_t pos = 0;;) {
    const size_t slash = readings.find('/', pos);
    out.emplace_back(readings.substr(pos, slash == std::string_view::npos ? slash : slash - pos));
    if (slash == std::string_view::npos) return out;
    pos = slash + 1;
  }
}

}  // namespace

NameReviewer::NameReviewer(const ListFiles& lists, const ConversionOptions& options)
    : lists_(lists), options_(options) {}

std::vector<ReviewFlag> NameReviewer::Review(std::string_view line, std::string_view output) const {
  if (!MayBeFlagged(line, output)) return {};
  if (lists_.FindKey(kDefineNameHanList, TrimControls(line)) >= 0) return {};  // taught: the user's choice
  const std::vector<KeyRead> keys = KeysOf(lists_, line, options_);
  const ListSlot dictionary = options_.romanization == Romanization::kWadeGiles ? kDefineWeiHanList : kDefineHanList;
  size_t surname = keys.size();  // the surname is the last key read in the surname position
  for (size_t k = 0; k < keys.size(); ++k)
    if (keys[k].role == KeyRole::kSurname) surname = k;

  std::vector<ReviewFlag> flags;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (keys[k].role == KeyRole::kSurname && k != surname) continue;  // the two-character probe
    const KeyRead& read = keys[k];
    if (read.reading.find(kNoReading) != std::string::npos) {
      flags.push_back({ReviewFlag::Kind::kNoReading, read.key, {}, kNoReadingReason, {}});
      continue;
    }
    if (lists_.FindKey(dictionary, read.key) >= 0) continue;  // the user's own reading
    const bool isSurname = read.role == KeyRole::kSurname;
    const int row = RowOf(isSurname ? kSurnameReviewOfGbk : kGivenReviewOfGbk, read.key);
    if (row < 0) continue;
    ReviewFlag flag{isSurname ? ReviewFlag::Kind::kSurname : ReviewFlag::Kind::kGiven, read.key, {},
                    kReviewReasons[row], {}};
    for (const std::string& pinyin : Split(kReviewReadings[row])) {
      std::string written;
      AppendPinyinReading(written, lists_, pinyin, options_.Lookup());
      if (std::find(flag.readings.begin(), flag.readings.end(), written) == flag.readings.end())
        flag.readings.push_back(std::move(written));
    }
    for (size_t r = 1; r < flag.readings.size(); ++r) {
      // The same walk, every key reading as before but this one.
      size_t call = 0;
      std::string alternative;
      AppendRomanizedWith(alternative, lists_, line, options_, [&](std::string_view, KeyRole) -> std::string_view {
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

std::string FlagText(const std::vector<ReviewFlag>& flags) {
  std::string text;
  for (const ReviewFlag& flag : flags) {
    if (!text.empty()) text += " \u2691 ";
    text += GbkToUtf8(flag.character) + ": ";
    for (size_t r = 0; r < flag.readings.size(); ++r) text += (r ? " / " : "") + GbkToUtf8(flag.readings[r]);
    text += flag.readings.empty() ? flag.reason : " (" + flag.reason + ")";
    for (size_t a = 0; a < flag.alternatives.size(); ++a)
      text += (a ? " \u00B7 " : " \u2014 or ") + GbkToUtf8(flag.alternatives[a]);
  }
  return text;
}

std::string FlagLine(std::string_view name, std::string_view output, const std::vector<ReviewFlag>& flags) {
  return GbkToUtf8(TrimControls(name)) + " \u2192 " + GbkToUtf8(output) + " \u2691 " + FlagText(flags);
}

}  // namespace quorvel

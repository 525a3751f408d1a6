#include "ReadingLookup.h"

#include <algorithm>
#include <vector>

#include "BuiltinTable.h"
#include "Errors.h"
#include "TextLines.h"

namespace quorvel {

namespace {

// Appends a pinyin reading string converted syllable by syllable through the mapping pair.
void AppendWadeGiles(std::string& out, const ListFiles& lists, std::string_view reading) {
  const auto& wei = lists.List(kMappingWadeGiles);
  bool first = true;
  ForEachSlashPart(reading, [&](std::string_view syllable) {
    if (!first) out += '/';
    first = false;
    if (long i = lists.FindKey(kMappingPinyin, syllable); i >= 0) {
      if (static_cast<size_t>(i) >= wei.size()) throw ListIndexError(i);
      out.append(wei[static_cast<size_t>(i)]);
    } else {
      out.append(syllable);  // a syllable the mapping does not know passes through
    }
  });
}

// The GBK bytes of ü.
constexpr std::string_view kGbkUmlaut = "\xA8\xB9";

// Appends one table syllable in the chosen ü spelling. The table writes ü only in lv, nv (lü, nü)
// and lue, nue (lüe, nüe); after j, q, x and y the u is ü anyway and is never marked.
void AppendPinyinSyllable(std::string& out, std::string_view syllable, UmlautSpelling umlaut) {
  const bool ln = syllable.size() >= 2 && (syllable[0] == 'l' || syllable[0] == 'n');
  if (umlaut == UmlautSpelling::kV || !ln ||
      (syllable.substr(1) != "v" && syllable.substr(1) != "ue")) {
    out.append(syllable);
    return;
  }
  out += syllable[0];
  if (syllable[1] == 'u') {  // lue, nue: only the dotted spelling marks them
    if (umlaut == UmlautSpelling::kUmlaut) out.append(kGbkUmlaut);
    else out += 'u';
    out += 'e';
    return;
  }
  switch (umlaut) {
    case UmlautSpelling::kYu: out.append("yu"); break;
    case UmlautSpelling::kU: out += 'u'; break;
    case UmlautSpelling::kUmlaut: out.append(kGbkUmlaut); break;
    case UmlautSpelling::kV: break;
  }
}

void AppendPinyin(std::string& out, std::string_view reading, UmlautSpelling umlaut) {
  if (umlaut == UmlautSpelling::kV) {
    out.append(reading);
    return;
  }
  bool first = true;
  ForEachSlashPart(reading, [&](std::string_view syllable) {
    if (!first) out += '/';
    first = false;
    AppendPinyinSyllable(out, syllable, umlaut);
  });
}

// Drops from the reading string out[start..] every reading equal to an earlier one, keeping the
// first in its place (chang/chang -> chang).
void DropRepeatedReadings(std::string& out, size_t start) {
  if (out.find('/', start) == std::string::npos) return;
  const std::string all = out.substr(start);
  std::vector<std::string_view> kept;
  ForEachSlashPart(all, [&](std::string_view reading) {
    if (std::find(kept.begin(), kept.end(), reading) == kept.end()) kept.push_back(reading);
  });
  out.resize(start);
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += '/';
    out.append(kept[i]);
  }
}

}  // namespace

void AppendPinyinReading(std::string& out, const ListFiles& lists, std::string_view pinyin,
                         const LookupOptions& options) {
  if (options.romanization == Romanization::kWadeGiles) AppendWadeGiles(out, lists, pinyin);
  else AppendPinyin(out, pinyin, options.umlaut);
}

void AppendReading(std::string& out, const ListFiles& lists, std::string_view key,
                   const LookupOptions& options, KeyRole role) {
  const size_t start = out.size();
  const bool all = options.readings == Readings::kAll;
  const bool wadeGiles = options.romanization == Romanization::kWadeGiles;
  if (int row = FindBuiltinRow(key); row >= 0) {
    std::string_view stored = BuiltinReading(row);
    std::string_view reading = stored;
    std::string composed;
    const char* surname = role == KeyRole::kSurname ? SurnameReading(key) : nullptr;
    if (surname && !all) {
      reading = surname;
    } else if (surname) {
      // The surname reading first, then the row's other readings in their stored order.
      composed = surname;
      ForEachSlashPart(stored, [&](std::string_view syllable) {
        if (syllable != surname) {
          composed += '/';
          composed += syllable;
        }
      });
      reading = composed;
    } else if (!all) {
      reading = stored.substr(0, stored.find('/'));
    }
    AppendPinyinReading(out, lists, reading, options);
    if (all) DropRepeatedReadings(out, start);
  } else if (IsLatinWord(key)) {
    out.append(key);
  } else {
    out.append(kNoReading);
  }
  // The custom dictionary of the current romanization overrides, verbatim.
  if (long i = lists.FindKey(wadeGiles ? kWadeGilesDictionaryKeys : kPinyinDictionaryKeys, key);
      i >= 0) {
    const auto& values =
        lists.List(wadeGiles ? kWadeGilesDictionaryReadings : kPinyinDictionaryReadings);
    if (static_cast<size_t>(i) >= values.size()) throw ListIndexError(i);
    out.resize(start);
    out.append(values[static_cast<size_t>(i)]);
  }
}

bool CertainlyNoReading(const ListFiles& lists, std::string_view key, Romanization romanization) {
  return FindBuiltinRow(key) < 0 && !IsLatinWord(key) &&
         lists.FindKey(romanization == Romanization::kWadeGiles ? kWadeGilesDictionaryKeys
                                                                : kPinyinDictionaryKeys,
                       key) < 0;
}

ReadingCache::ReadingCache(const ListFiles& lists, const LookupOptions& options)
    : lists_(lists),
      options_(options),
      generation_(lists.Generation()),
      entries_(2 * static_cast<size_t>(kGbkSlots)) {}

ReadingCache::~ReadingCache() = default;

void ReadingCache::Sync() {
  if (lists_.Generation() == generation_) return;
  generation_ = lists_.Generation();
  startsKnown_ = false;
  std::fill(entries_.begin(), entries_.end(), Entry{});
  blocks_.clear();
  blockLeft_ = 0;
  blockNext_ = nullptr;
}

void ReadingCache::FindLongerKeyStarts() {
  // The same test as the key index's own: the first two bytes of every longer key.
  longerKeyStarts_.assign((kGbkSlots + 63) / 64, 0);
  pairKeyEnds_.assign((kGbkSlots + 63) / 64, 0);
  auto set = [](std::vector<uint64_t>& bits, int slot) {
    bits[static_cast<size_t>(slot) / 64] |= uint64_t{1} << (slot % 64);
  };
  const bool wadeGiles = options_.romanization == Romanization::kWadeGiles;
  for (const std::string& key :
       lists_.List(wadeGiles ? kWadeGilesDictionaryKeys : kPinyinDictionaryKeys)) {
    if (key.size() <= 2) continue;
    const int first = GbkSlot(std::string_view(key).substr(0, 2));
    if (first < 0) continue;
    set(longerKeyStarts_, first);
    if (const int second = GbkSlot(std::string_view(key).substr(2)); second >= 0)
      set(pairKeyEnds_, second);
  }
  startsKnown_ = true;
}

std::string_view ReadingCache::Keep(std::string_view reading) {
  constexpr size_t kBlockBytes = 64 * 1024;
  if (reading.size() > blockLeft_) {
    const size_t size = std::max(kBlockBytes, reading.size());
    blocks_.push_back(std::make_unique<char[]>(size));
    blockNext_ = blocks_.back().get();
    blockLeft_ = size;
  }
  char* kept = blockNext_;
  reading.copy(kept, reading.size());
  blockNext_ += reading.size();
  blockLeft_ -= reading.size();
  return {kept, reading.size()};
}

std::string& ReadingCache::NextOther() {
  std::string& reading = others_[nextOther_];
  nextOther_ = (nextOther_ + 1) % kReadingsKept;
  return reading;
}

std::string_view ReadingCache::WorkOut(std::string_view key, KeyRole role) {
  const int slot = GbkSlot(key);
  if (slot >= 0) {
    Entry& entry = entries_[2 * static_cast<size_t>(slot) + (role == KeyRole::kSurname)];
    if (!entry.text) {
      scratch_.clear();
      AppendReading(scratch_, lists_, key, options_, role);
      if (scratch_.size() > UINT32_MAX) {  // never in practice; given like an uncached one
        std::string& reading = NextOther();
        reading.swap(scratch_);
        sawQuestion_ |= reading.find('?') != std::string::npos;
        return reading;
      }
      const std::string_view kept = Keep(scratch_);
      entry = {kept.data() ? kept.data() : "", static_cast<uint32_t>(kept.size()),
               kept.find('?') != std::string_view::npos};
    }
    sawQuestion_ |= entry.question;
    return {entry.text, entry.length};
  }
  std::string& reading = NextOther();
  reading.clear();
  AppendReading(reading, lists_, key, options_, role);
  sawQuestion_ |= reading.find('?') != std::string::npos;
  return reading;
}

std::string ReadingOf(const ListFiles& lists, std::string_view key, const LookupOptions& options,
                      KeyRole role) {
  std::string out;
  AppendReading(out, lists, key, options, role);
  return out;
}

}  // namespace quorvel

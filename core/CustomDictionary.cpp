#include "CustomDictionary.h"

#include <unistd.h>
#include <cerrno>

#include <unordered_map>
#include <utility>

#include "Encoding.h"
#include "Errors.h"
#include "TaughtNames.h"
#include "TextLines.h"

namespace quorvel {

bool FitsOnOneLine(std::string_view text) {
  return TrimControls(text).find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (; !utf8.empty(); ++count) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(utf8, &cp);
    utf8.remove_prefix(len == 0 ? 1 : len);
  }
  return count;
}

std::optional<std::string> FirstUnstorableChar(std::string_view utf8) {
  bool ok = true;
  Utf8ToGb18030Strict(utf8, &ok);
  if (ok) return std::nullopt;
  // Rare and short: find the culprit one character at a time.
  while (!utf8.empty()) {
    char32_t cp = 0;
    size_t len = DecodeUtf8(utf8, &cp);
    std::string_view ch = utf8.substr(0, len == 0 ? 1 : len);
    if (len == 0) return std::string(ch);
    Utf8ToGb18030Strict(ch, &ok);
    if (!ok) return std::string(ch);
    utf8.remove_prefix(len);
  }
  return std::nullopt;
}

std::string EntryLine(const DictionaryEntry& entry) { return entry.key + " " + entry.reading; }

CustomDictionary::CustomDictionary(ListFiles& lists, Kind kind)
    : lists_(lists),
      kind_(kind),
      keySlot_(kind == Kind::kStandard    ? kPinyinDictionaryKeys
               : kind == Kind::kWadeGiles ? kWadeGilesDictionaryKeys
                                          : kTaughtNameKeys),
      readingSlot_(kind == Kind::kStandard    ? kPinyinDictionaryReadings
                   : kind == Kind::kWadeGiles ? kWadeGilesDictionaryReadings
                                              : kTaughtNameSyllables) {}

std::vector<DictionaryEntry> CustomDictionary::Entries() const {
  const auto& keys = lists_.List(keySlot_);
  const auto& readings = lists_.List(readingSlot_);
  std::vector<DictionaryEntry> entries;
  entries.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i)
    entries.push_back({keys[i], i < readings.size() ? readings[i] : std::string()});
  return entries;
}

std::vector<std::string> CustomDictionary::Lines() const {
  std::vector<std::string> lines;
  for (const auto& entry : Entries()) lines.push_back(EntryLine(entry));
  return lines;
}

namespace {
const char kLineBreakRefused[] = "无法保存：汉字和拼音的中间不能有换行。";
}  // namespace

std::string DictionaryTextFromUtf8(std::string_view utf8) {
  if (auto bad = FirstUnstorableChar(utf8))
    throw Error("无法保存：GB18030 编码中没有“" + *bad + "”这个字符，转换时它永远不会被查到。");
  bool ok = true;
  return Utf8ToGb18030Strict(utf8, &ok);
}

std::string OneLineDictionaryText(std::string_view utf8) {
  std::string text = DictionaryTextFromUtf8(utf8);
  if (!FitsOnOneLine(text)) throw Error(kLineBreakRefused);
  return text;
}

DictionaryEntry CustomDictionary::EntryFromUtf8(std::string_view key,
                                                std::string_view reading) const {
  if (kind_ == Kind::kWholeNames) return TaughtEntryFromUtf8(key, reading);
  DictionaryEntry entry{std::string(TrimControls(OneLineDictionaryText(key))),
                        std::string(TrimControls(OneLineDictionaryText(reading)))};
  if (Gb18030CharCount(entry.key) > kMaxKeyCharacters && !Find(entry.key))
    throw Error("无法保存：支持单个汉字和复姓，最多两个汉字，“" + std::string(TrimControls(key)) +
                "”太长。");
  return entry;
}

std::size_t CustomDictionary::Apply(std::vector<DictionaryEntry>& all, std::string_view key,
                                    std::string_view reading) {
  std::optional<size_t> select;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].key == key) {
      all[i].reading = reading;
      select = i;  // no break: every equal key is updated, the last one is selected
    }
  }
  if (!select) {
    select = all.size();
    all.push_back({std::string(key), std::string(reading)});
  }
  return *select;
}

std::size_t CustomDictionary::AddOrUpdate(std::string_view key, std::string_view reading) {
  key = TrimControls(key);
  reading = TrimControls(reading);
  if (!FitsOnOneLine(key) || !FitsOnOneLine(reading)) throw Error(kLineBreakRefused);
  PairWriteLock lock(lists_);
  Refresh();  // never write from lists that miss a change made since they were loaded
  auto entries = Entries();
  size_t select = Apply(entries, key, reading);
  Write(lock, entries);
  return select;
}

namespace {

// Changes in order, one per key: where a key comes more than once its last reading stands, at the
// place of its first coming. Views into the caller's entries.
struct MergedChanges {
  std::vector<std::pair<std::string_view, std::string_view>> entries;  // trimmed key, reading
  std::unordered_map<std::string_view, std::size_t> indexOfKey;
};

MergedChanges MergeChanges(const std::vector<DictionaryEntry>& changes) {
  MergedChanges merged;
  merged.indexOfKey.reserve(changes.size());
  for (const auto& change : changes) {
    std::string_view key = TrimControls(change.key), reading = TrimControls(change.reading);
    auto [at, isNew] = merged.indexOfKey.try_emplace(key, merged.entries.size());
    if (isNew) merged.entries.emplace_back(key, reading);
    else merged.entries[at->second].second = reading;
  }
  return merged;
}

// What Apply does for each change in turn, in one pass: every entry of a changed key takes its
// last reading; the keys no entry has are appended in the order they first came.
void ApplyMerged(std::vector<DictionaryEntry>& all, const MergedChanges& merged) {
  std::vector<bool> present(merged.entries.size(), false);
  for (auto& entry : all) {
    auto found = merged.indexOfKey.find(entry.key);
    if (found == merged.indexOfKey.end()) continue;
    entry.reading = merged.entries[found->second].second;
    present[found->second] = true;
  }
  for (std::size_t i = 0; i < merged.entries.size(); ++i) {
    const auto& [key, reading] = merged.entries[i];
    if (!present[i]) all.push_back({std::string(key), std::string(reading)});
  }
}

}  // namespace

void CustomDictionary::AddOrUpdateAll(const std::vector<DictionaryEntry>& changes) {
  for (const auto& change : changes)
    if (!FitsOnOneLine(change.key) || !FitsOnOneLine(change.reading))
      throw Error(kLineBreakRefused);
  // Merged before the lock is taken: the lock covers only reading the pair, one linear pass over
  // it, the write and the reload, so readers wait for no more than that.
  const MergedChanges merged = MergeChanges(changes);
  PairWriteLock lock(lists_);
  Refresh();
  auto entries = Entries();
  ApplyMerged(entries, merged);
  Write(lock, entries);
}

std::size_t CustomDictionary::RemoveKey(std::string_view key) {
  key = TrimControls(key);
  PairWriteLock lock(lists_);
  Refresh();
  auto entries = Entries();
  size_t before = entries.size();
  std::erase_if(entries, [&](const DictionaryEntry& entry) { return entry.key == key; });
  size_t removed = before - entries.size();
  if (removed > 0) Write(lock, entries);
  return removed;
}

void CustomDictionary::DeleteAt(std::size_t index) {
  PairWriteLock lock(lists_);
  Refresh();
  auto entries = Entries();
  if (index >= entries.size()) throw ListIndexError(static_cast<long>(index));
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
  Write(lock, entries);
}

void CustomDictionary::Restore(const std::vector<DictionaryEntry>& entries) {
  PairWriteLock lock(lists_);
  Write(lock, entries);
}

void CustomDictionary::Clear() {
  PairWriteLock lock(lists_);
  Write(lock, {});
}

std::optional<std::size_t> CustomDictionary::Find(std::string_view key) const {
  // The lists' first-match index: an import checks every long key it is given here.
  long at = lists_.FindKey(keySlot_, TrimControls(key));
  if (at < 0) return std::nullopt;
  return static_cast<std::size_t>(at);
}

void CustomDictionary::Write(PairWriteLock& lock, const std::vector<DictionaryEntry>& entries) {
  std::vector<std::string> keys, readings;
  keys.reserve(entries.size());
  readings.reserve(entries.size());
  for (const auto& entry : entries) {
    keys.push_back(entry.key);
    readings.push_back(entry.reading);
  }
  // Both files in one replacement: a failure part way must never leave a new key file beside
  // an old reading file, which would pair every key with the wrong reading.
  lock.WritePair(keySlot_, ListFileText(keys), readingSlot_, ListFileText(readings));
  lists_.Load();
}

}  // namespace quorvel

// The pronunciation data and the reading lookup.
//
// CharTable: the built-in table of single characters (GBK keys) and their reading strings,
// generated at build time from data/char_rows.tsv. The first reading of a row is the one a name
// most likely has; the others follow in ascending byte order.
//
// PronunciationData: the table plus the six list files that lie in one data folder (the
// executable's folder in production). The lists are held in memory with a first-match index per
// key list and re-read only when one of the six files changed: a change completed before a lookup
// starts is seen by that lookup; a lookup with nothing changed reads no file. A list file that
// exists but cannot be read raises FileOpenError; a key found on a line whose partner list has no
// such line raises ListIndexError. Neither leaves the data half loaded: the failed reload is tried
// again by the next lookup.
//
// Everything here is single-threaded: one PronunciationData is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// ---- Built-in table ------------------------------------------------------------------------
extern const int CharTableSize;
extern const char* const CharHan[];     // two GBK bytes each
extern const char* const CharPinyin[];  // reading string: syllables joined by "/"

// Fills the table. The table is constant data, so this only makes sure its index exists;
// calling it again changes nothing.
void InitCharTable();

// Row of a key in the table, or -1. Only a two-byte key can match.
int FindCharRow(std::string_view key);

// The reading a character has as a surname, where it differs from the row's first reading
// (单 shan, 曾 zeng), or nullptr.
const char* SurnameReading(std::string_view key);

// ---- List files ----------------------------------------------------------------------------
enum ListSlot : int {
  kPinyinHanList,
  kPinyinWeiList,
  kDefineHanList,
  kDefinePyList,
  kDefineWeiHanList,
  kDefineWeiPyList,
  kListCount
};
extern const char* const kListFileNames[kListCount];  // "pinyin_han.dll", ...

// ---- Lookup --------------------------------------------------------------------------------
struct LookupOptions {
  bool allReadings = false;  // polyphone mode: false keeps the first reading only
  bool wadeGiles = false;
};

// Where a key stands in a name. In the surname position the character's surname reading comes
// first (单 as a surname reads shan); everywhere else the row is used as stored.
enum class KeyRole { kOther, kSurname };

inline constexpr std::string_view kNoReading = "???";

class PronunciationData {
 public:
  enum class ChangeWatch { kAuto, kCompareFiles };  // kCompareFiles: never use inotify

  explicit PronunciationData(std::string dataDir, ChangeWatch watch = ChangeWatch::kAuto);
  ~PronunciationData();
  PronunciationData(const PronunciationData&) = delete;
  PronunciationData& operator=(const PronunciationData&) = delete;

  const std::string& DataDir() const { return dataDir_; }
  std::string ListPath(ListSlot slot) const;

  // Re-reads all six files now (a missing file gives an empty list).
  void LoadPinyinLists();
  // The "check now" step: reloads the lists if any of the six files changed since they were
  // loaded (or a previous load failed). Lookups after it see the state it found.
  void Refresh();
  // Drops the lists (the main window does this when it closes). The next Refresh reloads.
  void Release();

  const std::vector<std::string>& List(ListSlot slot) const;

  // The reading of `key` under `options`: Refresh, then LookupCurrent.
  std::string LookupReading(std::string_view key, const LookupOptions& options,
                            KeyRole role = KeyRole::kOther);
  // The reading of `key` against the lists as the last Refresh left them.
  std::string LookupCurrent(std::string_view key, const LookupOptions& options,
                            KeyRole role = KeyRole::kOther) const;
  // Same as LookupCurrent, appending to `out` (the hot path of the name romanization).
  void AppendReading(std::string& out, std::string_view key, const LookupOptions& options,
                     KeyRole role = KeyRole::kOther) const;

  // Converts a pinyin reading string syllable by syllable through the mapping lists.
  std::string PinyinToWei(std::string_view reading) const;

  // Number of times the lists were (re)loaded, for tests and benchmarks.
  uint64_t LoadCount() const { return loadCount_; }
  bool UsesInotify() const;

 private:
  struct Lists;
  class Watcher;
  void AppendWei(std::string& out, std::string_view reading) const;

  std::string dataDir_;
  std::unique_ptr<Lists> lists_;
  std::unique_ptr<Watcher> watcher_;
  bool stale_ = true;
  uint64_t loadCount_ = 0;
};

// The text without any ASCII space (0x20); every other byte stays where it is.
std::string RemoveSpaces(std::string_view text);

}  // namespace quorvel

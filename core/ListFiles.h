// The list files: the pinyin -> Wade-Giles mapping pair, the two custom dictionary pairs and the
// whole-name pair.
// They lie in one data folder, except that the mapping pair may be read from a folder of its own
// (an installed program reads the shipped mapping while the dictionaries are the user's; see
// DataLocations.h). Each file is GBK text,
// one item a line, every line ended by CR LF when this program writes it.
//
// ListFiles holds the lists in memory with a first-match index per key list and re-reads
// them only when one of the files changed: a change completed before Refresh() is seen by it;
// a Refresh() with nothing changed reads no file (inotify on the folder where it works, else a
// comparison of the files' identities). A missing file gives an empty list; a file that exists
// but cannot be read raises FileOpenError and leaves the lists stale, so the next Refresh() tries
// again.
//
// Pairs written by Quorvel are never read mixed: a change of a pair goes through PairWriteLock
// and every Load reads under the folder's lock, completing a killed writer's record first (the
// protocol, its promises and its failures: PairWrite.h).
//
// Single-threaded: one ListFiles is used by one thread at a time, except that another thread may
// read the lists while this one refreshes them if a before-change call (SetBeforeChange) keeps
// it from reading them while they change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class ListWatcher;

// What each list file holds; its file name, in kListFileNames, follows in quotes.
enum ListSlot : int {
  kMappingPinyin,                // "pinyin_han.dll": the mapping's pinyin syllables
  kMappingWadeGiles,             // "pinyin_wei.dll": their Wade-Giles spellings, line for line
  kPinyinDictionaryKeys,         // "define_han.dll": custom dictionary (pinyin): keys
  kPinyinDictionaryReadings,     // "define_py.dll": its readings
  kWadeGilesDictionaryKeys,      // "define_wei_han.dll": custom dictionary (Wade-Giles): keys
  kWadeGilesDictionaryReadings,  // "define_wei_py.dll": its readings
  kTaughtNameKeys,               // "define_name_han.dll": taught whole names (2 to 6 characters)
  kTaughtNameSyllables,          // "define_name_py.dll": their pinyin syllables (TaughtNames.h)
  kListCount
};
// The one list of the list files' names, in slot order: a list joins here and in ListSlot.
extern const char* const kListFileNames[kListCount];  // "pinyin_han.dll", ...
std::vector<std::string> ListFileNames();             // the same as strings

// The bytes of a list file holding `lines`: each line followed by CR LF.
std::string ListFileText(const std::vector<std::string>& lines);

class ListFiles {
 public:
  enum class ChangeWatch { kAuto, kCompareFiles };  // kCompareFiles: never use inotify

  explicit ListFiles(std::string dataDir, ChangeWatch watch = ChangeWatch::kAuto);
  // The mapping pair from `mappingDir`, the four dictionary files from `dataDir`.
  ListFiles(std::string dataDir, std::string mappingDir, ChangeWatch watch = ChangeWatch::kAuto);
  ~ListFiles();
  ListFiles(const ListFiles&) = delete;
  ListFiles& operator=(const ListFiles&) = delete;

  const std::string& DataDir() const { return dataDir_; }        // the custom dictionaries
  const std::string& MappingDir() const { return mappingDir_; }  // the mapping pair
  std::string ListPath(ListSlot slot) const;

  // Re-reads all the files now.
  void Load();
  // The "check now" step: reloads the lists if any of the files changed since they were
  // loaded (or a previous load failed). What is read afterwards is the state it found.
  void Refresh();
  // Drops the lists (the main window does this when it closes). The next Refresh reloads.
  void Release();

  const std::vector<std::string>& List(ListSlot slot) const;
  // Position of the first line equal to `key` in one of the four key lists (kMappingPinyin,
  // kPinyinDictionaryKeys, kWadeGilesDictionaryKeys, kTaughtNameKeys), or -1.
  long FindKey(ListSlot keyList, std::string_view key) const;

  // Number of times the lists were (re)loaded, for tests and benchmarks.
  uint64_t LoadCount() const { return loadCount_; }
  // Changes whenever the lists in memory are replaced (a load or a release): what was derived
  // from them under another generation is out of date.
  uint64_t Generation() const { return generation_; }
  bool UsesInotify() const;

  // Called before the lists in memory are replaced (a load that found the files, a release), on
  // the thread that replaces them: a reader on another thread (the review of a run) finishes with
  // them and returns once it no longer reads them; it may throw, and then nothing is replaced.
  // An empty function: no one.
  void SetBeforeChange(std::function<void()> call) { beforeChange_ = std::move(call); }

 private:
  struct Lists;

  std::string dataDir_;
  std::string mappingDir_;
  std::unique_ptr<Lists> lists_;
  std::unique_ptr<ListWatcher> watcher_;
  bool stale_ = true;
  bool writeLocked_ = false;  // a PairWriteLock of this ListFiles holds the folder's lock
  friend class PairWriteLock;
  uint64_t loadCount_ = 0;
  uint64_t generation_ = 0;
  std::function<void()> beforeChange_;
};

}  // namespace quorvel

#include "ListFiles.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <unordered_map>

#include "Errors.h"
#include "FileReading.h"
#include "FolderLock.h"
#include "ListWatcher.h"
#include "PairWrite.h"
#include "Paths.h"
#include "TextLines.h"

namespace quorvel {

const char* const kListFileNames[kListCount] = {
    "pinyin_han.dll",     "pinyin_wei.dll",    "define_han.dll",      "define_py.dll",
    "define_wei_han.dll", "define_wei_py.dll", "define_name_han.dll", "define_name_py.dll"};

std::vector<std::string> ListFileNames() {
  return {std::begin(kListFileNames), std::end(kListFileNames)};
}

namespace {

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// First-match index of a key list: the position of the first line equal to a key. Two filters
// answer most misses without hashing: one bit per two-byte key, and one bit per first two bytes
// of the longer keys (a name's two-character surname probe, where custom dictionaries seldom hold
// any key longer than one character).
class KeyIndex {
 public:
  void Build(const std::vector<std::string>& items) {
    first_.clear();
    twoByte_.fill(0);
    longerPrefix_.fill(0);
    hasShort_ = false;
    first_.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      if (!first_.emplace(items[i], i).second) continue;
      const std::string& key = items[i];
      if (key.size() == 2) Set(twoByte_, TwoByteCode(key));
      else if (key.size() > 2) Set(longerPrefix_, TwoByteCode(key));
      else hasShort_ = true;
    }
  }

  // Position of the first equal line, or -1.
  long Find(std::string_view key) const {
    if (first_.empty()) return -1;
    if (key.size() == 2) {
      if (!Has(twoByte_, TwoByteCode(key))) return -1;  // most keys: no hash at all
    } else if (key.size() > 2) {
      if (!Has(longerPrefix_, TwoByteCode(key))) return -1;
    } else if (!hasShort_) {
      return -1;
    }
    auto it = first_.find(key);
    return it == first_.end() ? -1 : static_cast<long>(it->second);
  }

 private:
  using Bits = std::array<uint64_t, 1024>;  // one bit per value of the first two bytes
  static unsigned TwoByteCode(std::string_view s) {
    return static_cast<unsigned char>(s[0]) << 8 | static_cast<unsigned char>(s[1]);
  }
  static void Set(Bits& bits, unsigned code) { bits[code >> 6] |= uint64_t{1} << (code & 63); }
  static bool Has(const Bits& bits, unsigned code) { return bits[code >> 6] >> (code & 63) & 1; }
  std::unordered_map<std::string, size_t, StringHash, std::equal_to<>> first_;
  Bits twoByte_{};
  Bits longerPrefix_{};
  bool hasShort_ = false;  // a key of zero or one byte
};

}  // namespace

struct ListFiles::Lists {
  std::array<std::vector<std::string>, kListCount> items;
  KeyIndex mappingPinyin, pinyinKeys, wadeGilesKeys, taughtNames;
};

ListFiles::ListFiles(std::string dataDir, ChangeWatch watch) : ListFiles(dataDir, dataDir, watch) {}

ListFiles::ListFiles(std::string dataDir, std::string mappingDir, ChangeWatch watch)
    : dataDir_(std::move(dataDir)),
      mappingDir_(std::move(mappingDir)),
      lists_(std::make_unique<Lists>()) {
  std::array<std::string, kListCount> paths;
  for (int i = 0; i < kListCount; ++i) paths[i] = ListPath(static_cast<ListSlot>(i));
  watcher_ = std::make_unique<ListWatcher>(paths, watch == ChangeWatch::kAuto);
}

ListFiles::~ListFiles() = default;

bool ListFiles::UsesInotify() const { return watcher_->UsesInotify(); }

std::string ListFiles::ListPath(ListSlot slot) const {
  const bool mapping = slot == kMappingPinyin || slot == kMappingWadeGiles;
  return JoinPath(mapping ? mappingDir_ : dataDir_, kListFileNames[slot]);
}

void ListFiles::Load() {
  stale_ = true;  // stays set if a file cannot be read, so the next lookup tries again
  const std::unique_ptr<FolderLock> lock = LockForReading(dataDir_, writeLocked_);
  std::vector<std::string> paths(kListCount);
  std::vector<bool> removed(kListCount);
  for (int i = 0; i < kListCount; ++i) paths[i] = ListPath(static_cast<ListSlot>(i));
  FollowUnfinishedRecord(dataDir_, paths, removed);
  watcher_->NoteLoaded();
  auto fresh = std::make_unique<Lists>();
  for (int i = 0; i < kListCount; ++i) {
    if (removed[i]) continue;
    if (std::string problem = ForeignLinkProblem(paths[i]); !problem.empty()) throw Error(problem);
    bool missing = false;
    std::string text = ReadWholeFile(paths[i], &missing);
    if (!missing) fresh->items[i] = SplitLines(text);
  }
  fresh->mappingPinyin.Build(fresh->items[kMappingPinyin]);
  fresh->pinyinKeys.Build(fresh->items[kPinyinDictionaryKeys]);
  fresh->wadeGilesKeys.Build(fresh->items[kWadeGilesDictionaryKeys]);
  fresh->taughtNames.Build(fresh->items[kTaughtNameKeys]);
  if (beforeChange_) beforeChange_();
  lists_ = std::move(fresh);
  stale_ = false;
  ++loadCount_;
  ++generation_;
}

void ListFiles::Refresh() {
  // Drain the change queue first, even when a reload is due anyway, so events that a reload
  // has already covered do not cause a second one.
  bool changed = watcher_->Changed();
  if (changed || stale_) Load();
}

void ListFiles::Release() {
  if (beforeChange_) beforeChange_();
  lists_ = std::make_unique<Lists>();
  stale_ = true;
  ++generation_;
}

const std::vector<std::string>& ListFiles::List(ListSlot slot) const { return lists_->items[slot]; }

long ListFiles::FindKey(ListSlot keyList, std::string_view key) const {
  switch (keyList) {
    case kMappingPinyin: return lists_->mappingPinyin.Find(key);
    case kPinyinDictionaryKeys: return lists_->pinyinKeys.Find(key);
    case kWadeGilesDictionaryKeys: return lists_->wadeGilesKeys.Find(key);
    case kTaughtNameKeys: return lists_->taughtNames.Find(key);
    default: return -1;  // the reading lists are never searched
  }
}

std::string ListFileText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace quorvel

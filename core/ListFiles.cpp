#include "ListFiles.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <unordered_map>

#include "Errors.h"
#include "Files.h"

namespace quorvel {

const char* const kListFileNames[kListCount] = {
    "pinyin_han.dll", "pinyin_wei.dll",     "define_han.dll",
    "define_py.dll",  "define_wei_han.dll", "define_wei_py.dll"};

namespace {

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// First-match index of a key list: the position of the first line equal to a key.
class KeyIndex {
 public:
  void Build(const std::vector<std::string>& items) {
    first_.clear();
    twoByte_.fill(0);
    first_.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      if (first_.emplace(items[i], i).second && items[i].size() == 2) {
        unsigned code = TwoByteCode(items[i]);
        twoByte_[code >> 6] |= uint64_t{1} << (code & 63);
      }
    }
  }

  // Position of the first equal line, or -1.
  long Find(std::string_view key) const {
    if (first_.empty()) return -1;
    if (key.size() == 2) {
      unsigned code = TwoByteCode(key);
      if (!(twoByte_[code >> 6] >> (code & 63) & 1)) return -1;  // most keys: no hash at all
    }
    auto it = first_.find(key);
    return it == first_.end() ? -1 : static_cast<long>(it->second);
  }

 private:
  static unsigned TwoByteCode(std::string_view s) {
    return static_cast<unsigned char>(s[0]) << 8 | static_cast<unsigned char>(s[1]);
  }
  std::unordered_map<std::string, size_t, StringHash, std::equal_to<>> first_;
  std::array<uint64_t, 1024> twoByte_{};
};

struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  mode_t mode = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeSec = st.st_mtim.tv_sec;
  id.mtimeNsec = st.st_mtim.tv_nsec;
  id.ctimeSec = st.st_ctim.tv_sec;
  id.ctimeNsec = st.st_ctim.tv_nsec;
  id.mode = st.st_mode;
  return id;
}

}  // namespace

struct ListFiles::Lists {
  std::array<std::vector<std::string>, kListCount> items;
  KeyIndex pinyinHan, defineHan, defineWeiHan;
};

// Tells whether any of the six files may have changed since the last call.
// inotify on the data folder (and on the mapping pair's folder when that is another one) does it
// with one non-blocking read; events for other files in a watched folder (targets and settings
// are written there too) are ignored. Where inotify is not available, or a watched folder itself
// goes away, the files' identities are compared instead.
class ListFiles::Watcher {
 public:
  explicit Watcher(const std::array<std::string, kListCount>& paths, bool useInotify)
      : paths_(paths) {
    if (!useInotify) return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                               IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                               IN_ONLYDIR;
    for (int i = 0; i < kListCount; ++i) {
      const std::string dir = paths_[i].substr(0, paths_[i].find_last_of('/') + 1);
      // Watching a folder twice gives the same descriptor back.
      watches_[i] = ::inotify_add_watch(fd_, dir.empty() ? "." : dir.c_str(), kMask);
      if (watches_[i] < 0) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  bool UsesInotify() const { return fd_ >= 0; }

  // Called right before the files are read: what is read is at least as new as what is noted.
  void NoteLoaded() {
    if (fd_ >= 0) return;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    loadedAtNs_ = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    for (int i = 0; i < kListCount; ++i) ids_[i] = IdentityOf(paths_[i]);
  }

  bool Changed() {
    if (fd_ < 0) {
      for (int i = 0; i < kListCount; ++i) {
        FileIdentity id = IdentityOf(paths_[i]);
        if (!(id == ids_[i])) return true;
        // File times come from a coarse clock: a same-size write in the same tick as the load
        // would look unchanged. A file changed that close to the load is read again.
        if (id.exists && id.ctimeSec * 1'000'000'000LL + id.ctimeNsec + kRacyNs >= loadedAtNs_) return true;
      }
      return false;
    }
    bool changed = false;
    alignas(struct inotify_event) char buf[8192];
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        break;  // EAGAIN: nothing (more) queued
      }
      for (char* p = buf; p < buf + n;) {
        auto* ev = reinterpret_cast<struct inotify_event*>(p);
        p += sizeof(struct inotify_event) + ev->len;
        if (ev->mask & IN_Q_OVERFLOW) {
          changed = true;  // events were lost: reload all six
        } else if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
          // The folder itself is gone or moved: fall back to comparing the files.
          ::close(fd_);
          fd_ = -1;
          return true;
        } else if (ev->len > 0 && IsListFile(ev->wd, ev->name)) {
          changed = true;
        }
      }
    }
    return changed;
  }

 private:
  bool IsListFile(int watch, const char* name) const {
    for (int i = 0; i < kListCount; ++i)
      if (watches_[i] == watch && std::strcmp(name, kListFileNames[i]) == 0) return true;
    return false;
  }

  int fd_ = -1;
  std::array<std::string, kListCount> paths_;
  std::array<int, kListCount> watches_{};
  std::array<FileIdentity, kListCount> ids_;
  long long loadedAtNs_ = 0;
  static constexpr long long kRacyNs = 50'000'000;
};

ListFiles::ListFiles(std::string dataDir, ChangeWatch watch)
    : ListFiles(dataDir, dataDir, watch) {}

ListFiles::ListFiles(std::string dataDir, std::string mappingDir, ChangeWatch watch)
    : dataDir_(std::move(dataDir)), mappingDir_(std::move(mappingDir)),
      lists_(std::make_unique<Lists>()) {
  std::array<std::string, kListCount> paths;
  for (int i = 0; i < kListCount; ++i) paths[i] = ListPath(static_cast<ListSlot>(i));
  watcher_ = std::make_unique<Watcher>(paths, watch == ChangeWatch::kAuto);
}

ListFiles::~ListFiles() = default;

bool ListFiles::UsesInotify() const { return watcher_->UsesInotify(); }

std::string ListFiles::ListPath(ListSlot slot) const {
  const bool mapping = slot == kPinyinHanList || slot == kPinyinWeiList;
  return JoinPath(mapping ? mappingDir_ : dataDir_, kListFileNames[slot]);
}

void ListFiles::Load() {
  stale_ = true;  // stays set if a file cannot be read, so the next lookup tries again
  const std::string intentPath = JoinPath(dataDir_, kPairIntentFileName);
  std::unique_ptr<FolderLock> lock;
  if (!writeLocked_) {
    lock = std::make_unique<FolderLock>(dataDir_, FolderLock::Mode::kShared);
    if (lock->Held() && PathExists(intentPath)) {
      // A writer was stopped mid-pair: finish its renames before reading.
      lock->Change(FolderLock::Mode::kExclusive);
      try {
        RollForwardIntent(intentPath);
      } catch (const Error&) {
        // A read-only folder: read the pair from where the record sends it, below.
      }
      lock->Change(FolderLock::Mode::kShared);
    }
  }
  std::array<std::string, kListCount> paths;
  std::array<bool, kListCount> removed{};
  for (int i = 0; i < kListCount; ++i) paths[i] = ListPath(static_cast<ListSlot>(i));
  if (auto steps = ReadIntent(intentPath)) {
    for (const auto& step : *steps) {
      for (int i = 0; i < kListCount; ++i) {
        if (step.to != kListFileNames[i]) continue;
        if (step.kind == IntentStep::Kind::kRemove) {
          removed[i] = true;
        } else if (std::string from = JoinPath(dataDir_, step.from); PathExists(from)) {
          paths[i] = from;
        }
      }
    }
  }
  watcher_->NoteLoaded();
  auto fresh = std::make_unique<Lists>();
  for (int i = 0; i < kListCount; ++i) {
    if (removed[i]) continue;
    bool missing = false;
    std::string text = ReadWholeFile(paths[i], &missing);
    if (!missing) fresh->items[i] = SplitLines(text);
  }
  fresh->pinyinHan.Build(fresh->items[kPinyinHanList]);
  fresh->defineHan.Build(fresh->items[kDefineHanList]);
  fresh->defineWeiHan.Build(fresh->items[kDefineWeiHanList]);
  lists_ = std::move(fresh);
  stale_ = false;
  ++loadCount_;
}

ListFiles::WriteLock::WriteLock(ListFiles& lists)
    : lists_(lists), lock_(std::make_unique<FolderLock>(lists.dataDir_, FolderLock::Mode::kExclusive)) {
  if (!lock_->Held()) ThrowInOut(lock_->OpenError(), lock_->Path());
  const std::string intentPath = JoinPath(lists.dataDir_, kPairIntentFileName);
  RollForwardIntent(intentPath);
  // Under the exclusive lock every temporary or kept old file of a list file is a dead writer's.
  std::vector<std::string> names(std::begin(kListFileNames), std::end(kListFileNames));
  names.push_back(kPairIntentFileName);
  RemoveLeftovers(lists.dataDir_, names);
  lists_.writeLocked_ = true;
}

ListFiles::WriteLock::~WriteLock() { lists_.writeLocked_ = false; }

void ListFiles::WritePair(ListSlot keySlot, const std::string& keyText, ListSlot readingSlot,
                          const std::string& readingText) {
  if (!writeLocked_) throw std::logic_error("WritePair without a WriteLock");
  ReplaceFilesAtomically({{ListPath(keySlot), keyText}, {ListPath(readingSlot), readingText}},
                         JoinPath(dataDir_, kPairIntentFileName));
}

void ListFiles::Refresh() {
  // Drain the change queue first, even when a reload is due anyway, so events that a reload
  // has already covered do not cause a second one.
  bool changed = watcher_->Changed();
  if (changed || stale_) Load();
}

void ListFiles::Release() {
  lists_ = std::make_unique<Lists>();
  stale_ = true;
}

const std::vector<std::string>& ListFiles::List(ListSlot slot) const {
  return lists_->items[slot];
}

long ListFiles::FindKey(ListSlot keyList, std::string_view key) const {
  switch (keyList) {
    case kPinyinHanList: return lists_->pinyinHan.Find(key);
    case kDefineHanList: return lists_->defineHan.Find(key);
    case kDefineWeiHanList: return lists_->defineWeiHan.Find(key);
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

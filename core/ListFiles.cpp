#include "ListFiles.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <unordered_map>

#include "Errors.h"
#include "Files.h"
#include "PairWrite.h"

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
  KeyIndex pinyinHan, defineHan, defineWeiHan, defineName;
};

// Tells whether any of the list files may have changed since the last call.
// inotify on the folder of each list file (the data folder, and the mapping pair's folder when
// that is another one) does it with one non-blocking read; events for other files in a watched
// folder (targets and settings are written there too) are ignored. A list file that is a symbolic
// link is changed through its final file, elsewhere: the folders of every file along its chain of
// links are watched too, for those names only, and set up again at every load (a changed link is
// an event itself). Where inotify is not available, or a watched folder itself goes away, the
// files' identities are compared instead (stat follows the links to the final file); so are those
// of a linked list file whose far folder cannot be watched.
class ListFiles::Watcher {
 public:
  Watcher(const std::array<std::string, kListCount>& paths, bool useInotify) : paths_(paths) {
    if (!useInotify) return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    for (int i = 0; i < kListCount; ++i) {
      // Watching a folder twice gives the same descriptor back.
      watches_[i] = ::inotify_add_watch(fd_, FolderOf(paths_[i]).c_str(), kMask);
      if (watches_[i] < 0) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~Watcher() {
    if (fd_ >= 0) ::close(fd_);
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  bool UsesInotify() const { return fd_ >= 0; }

  // Called right before the files are read: what is read is at least as new as what is noted.
  void NoteLoaded() {
    compared_.fill(fd_ < 0);
    if (fd_ >= 0) WatchLinks();
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    loadedAtNs_ = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    for (int i = 0; i < kListCount; ++i)
      if (compared_[i]) ids_[i] = IdentityOf(paths_[i]);
  }

  bool Changed() {
    if (fd_ < 0) return CompareChanged();
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
        constexpr uint32_t kGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
        if (ev->mask & IN_Q_OVERFLOW) {
          changed = true;  // events were lost: reload them all
        } else if (IsFolderWatch(ev->wd) && (ev->mask & kGone)) {
          // A list folder itself is gone or moved: fall back to comparing the files.
          ::close(fd_);
          fd_ = -1;
          compared_.fill(true);
          return true;
        } else if (IsFolderWatch(ev->wd)) {
          changed |=
              ev->len > 0 && (IsListFile(ev->wd, ev->name) || IsLinkedName(ev->wd, ev->name));
        } else if (linkNames_.count(ev->wd)) {
          // A far folder of a link: its own end (the reload looks again) or a linked file.
          changed |= (ev->mask & kGone) || (ev->len > 0 && IsLinkedName(ev->wd, ev->name));
        }
        // Events of watches dropped at the last load are ignored.
      }
    }
    return changed || CompareChanged();
  }

 private:
  static constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                    IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                    IN_ONLYDIR;

  bool IsFolderWatch(int wd) const {
    for (int watch : watches_)
      if (watch == wd) return true;
    return false;
  }

  bool IsListFile(int wd, const char* name) const {
    for (int i = 0; i < kListCount; ++i)
      if (watches_[i] == wd && std::strcmp(name, kListFileNames[i]) == 0) return true;
    return false;
  }

  bool IsLinkedName(int wd, const char* name) const {
    auto it = linkNames_.find(wd);
    if (it == linkNames_.end()) return false;
    for (const std::string& linked : it->second)
      if (linked == name) return true;
    return false;
  }

  // Watches the folder of every file along each list file's chain of links.
  void WatchLinks() {
    for (const auto& [wd, names] : linkNames_)
      if (!IsFolderWatch(wd)) ::inotify_rm_watch(fd_, wd);
    linkNames_.clear();
    for (int i = 0; i < kListCount; ++i) {
      std::string current = paths_[i];
      for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string link(PATH_MAX, '\0');
        ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<size_t>(n) >= link.size()) {
          compared_[i] = true;
          break;
        }
        link.resize(static_cast<size_t>(n));
        current = link.front() == '/' ? link : JoinPath(FolderOf(current), link);
        // The same folder twice gives the same watch, and a list folder its own.
        int wd = ::inotify_add_watch(fd_, FolderOf(current).c_str(), kMask);
        if (wd < 0) {
          compared_[i] = true;  // e.g. a link into a folder that does not exist (yet)
          break;
        }
        size_t slash = current.find_last_of('/');
        linkNames_[wd].push_back(slash == std::string::npos ? current : current.substr(slash + 1));
      }
    }
  }

  bool CompareChanged() const {
    for (int i = 0; i < kListCount; ++i) {
      if (!compared_[i]) continue;
      FileIdentity id = IdentityOf(paths_[i]);
      if (!(id == ids_[i])) return true;
      // File times come from a coarse clock: a same-size write in the same tick as the load
      // would look unchanged. A file changed that close to the load is read again.
      if (id.exists && id.ctimeSec * 1'000'000'000LL + id.ctimeNsec + kRacyNs >= loadedAtNs_)
        return true;
    }
    return false;
  }

  int fd_ = -1;
  std::array<std::string, kListCount> paths_;
  std::array<int, kListCount> watches_{};
  std::unordered_map<int, std::vector<std::string>> linkNames_;  // watch -> linked file names
  std::array<bool, kListCount> compared_{};
  std::array<FileIdentity, kListCount> ids_;
  long long loadedAtNs_ = 0;
  static constexpr long long kRacyNs = 50'000'000;
};

ListFiles::ListFiles(std::string dataDir, ChangeWatch watch) : ListFiles(dataDir, dataDir, watch) {}

ListFiles::ListFiles(std::string dataDir, std::string mappingDir, ChangeWatch watch)
    : dataDir_(std::move(dataDir)),
      mappingDir_(std::move(mappingDir)),
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
  fresh->pinyinHan.Build(fresh->items[kPinyinHanList]);
  fresh->defineHan.Build(fresh->items[kDefineHanList]);
  fresh->defineWeiHan.Build(fresh->items[kDefineWeiHanList]);
  fresh->defineName.Build(fresh->items[kDefineNameHanList]);
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
  lists_ = std::make_unique<Lists>();
  stale_ = true;
  ++generation_;
}

const std::vector<std::string>& ListFiles::List(ListSlot slot) const { return lists_->items[slot]; }

long ListFiles::FindKey(ListSlot keyList, std::string_view key) const {
  switch (keyList) {
    case kPinyinHanList: return lists_->pinyinHan.Find(key);
    case kDefineHanList: return lists_->defineHan.Find(key);
    case kDefineWeiHanList: return lists_->defineWeiHan.Find(key);
    case kDefineNameHanList: return lists_->defineName.Find(key);
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

#include "untChDatabase.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <unordered_map>

#include "CharTableIndex.h"
#include "Errors.h"
#include "Files.h"

namespace quorvel {

const char* const kListFileNames[kListCount] = {
    "pinyin_han.dll", "pinyin_wei.dll",     "define_han.dll",
    "define_py.dll",  "define_wei_han.dll", "define_wei_py.dll"};

// ---- Built-in table ------------------------------------------------------------------------

void InitCharTable() {
  // The rows and their index are constant data compiled into the program: nothing to fill.
}

int FindCharRow(std::string_view key) {
  int slot = GbkSlot(key);
  if (slot < 0) return -1;
  uint16_t row = kCharRowOfGbk[slot];
  return row == 0xFFFF ? -1 : row;
}

const char* SurnameReading(std::string_view key) {
  int slot = GbkSlot(key);
  if (slot < 0) return nullptr;
  uint8_t i = kSurnameOfGbk[slot];
  return i == 0xFF ? nullptr : kSurnamePinyin[i];
}

std::string RemoveSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ') out.push_back(c);
  return out;
}

// ---- Lists ---------------------------------------------------------------------------------

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

struct PronunciationData::Lists {
  std::array<std::vector<std::string>, kListCount> items;
  KeyIndex pinyinHan, defineHan, defineWeiHan;
};

// Tells whether any of the six files may have changed since the last call.
// inotify on the data folder does it with one non-blocking read; events for other files in the
// folder (targets and settings are written there too) are ignored. Where inotify is not
// available, or the folder itself goes away, the files' identities are compared instead.
class PronunciationData::Watcher {
 public:
  Watcher(const std::string& dir, bool useInotify) : dir_(dir) {
    for (int i = 0; i < kListCount; ++i) paths_[i] = JoinPath(dir, kListFileNames[i]);
    if (!useInotify) return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                               IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                               IN_ONLYDIR;
    if (::inotify_add_watch(fd_, dir.c_str(), kMask) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Watcher() {
    if (fd_ >= 0) ::close(fd_);
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
        } else if (ev->len > 0 && IsListFile(ev->name)) {
          changed = true;
        }
      }
    }
    return changed;
  }

 private:
  static bool IsListFile(const char* name) {
    for (const char* listName : kListFileNames)
      if (std::strcmp(name, listName) == 0) return true;
    return false;
  }

  std::string dir_;
  int fd_ = -1;
  std::array<std::string, kListCount> paths_;
  std::array<FileIdentity, kListCount> ids_;
  long long loadedAtNs_ = 0;
  static constexpr long long kRacyNs = 50'000'000;
};

PronunciationData::PronunciationData(std::string dataDir, ChangeWatch watch)
    : dataDir_(std::move(dataDir)),
      lists_(std::make_unique<Lists>()),
      watcher_(std::make_unique<Watcher>(dataDir_, watch == ChangeWatch::kAuto)) {
  InitCharTable();
}

PronunciationData::~PronunciationData() = default;

bool PronunciationData::UsesInotify() const { return watcher_->UsesInotify(); }

std::string PronunciationData::ListPath(ListSlot slot) const {
  return JoinPath(dataDir_, kListFileNames[slot]);
}

void PronunciationData::LoadPinyinLists() {
  stale_ = true;  // stays set if a file cannot be read, so the next lookup tries again
  watcher_->NoteLoaded();
  auto fresh = std::make_unique<Lists>();
  for (int i = 0; i < kListCount; ++i) {
    bool missing = false;
    std::string text = ReadWholeFile(ListPath(static_cast<ListSlot>(i)), &missing);
    if (!missing) fresh->items[i] = SplitLines(text);
  }
  fresh->pinyinHan.Build(fresh->items[kPinyinHanList]);
  fresh->defineHan.Build(fresh->items[kDefineHanList]);
  fresh->defineWeiHan.Build(fresh->items[kDefineWeiHanList]);
  lists_ = std::move(fresh);
  stale_ = false;
  ++loadCount_;
}

void PronunciationData::Refresh() {
  // Drain the change queue first, even when a reload is due anyway, so events that a reload
  // has already covered do not cause a second one.
  bool changed = watcher_->Changed();
  if (changed || stale_) LoadPinyinLists();
}

void PronunciationData::Release() {
  lists_ = std::make_unique<Lists>();
  stale_ = true;
}

const std::vector<std::string>& PronunciationData::List(ListSlot slot) const {
  return lists_->items[slot];
}

std::string PronunciationData::LookupReading(std::string_view key, const LookupOptions& options,
                                             KeyRole role) {
  Refresh();
  return LookupCurrent(key, options, role);
}

std::string PronunciationData::LookupCurrent(std::string_view key, const LookupOptions& options,
                                             KeyRole role) const {
  std::string out;
  AppendReading(out, key, options, role);
  return out;
}

void PronunciationData::AppendReading(std::string& out, std::string_view key,
                                      const LookupOptions& options, KeyRole role) const {
  const size_t start = out.size();
  // Built-in table.
  if (int row = FindCharRow(key); row >= 0) {
    std::string_view stored = CharPinyin[row];
    std::string_view reading = stored;
    std::string composed;
    const char* surname = role == KeyRole::kSurname ? SurnameReading(key) : nullptr;
    if (surname && !options.allReadings) {
      reading = surname;
    } else if (surname) {
      // The surname reading first, then the row's other readings in their stored order.
      composed = surname;
      size_t pos = 0;
      while (pos <= stored.size()) {
        size_t slash = stored.find('/', pos);
        if (slash == std::string_view::npos) slash = stored.size();
        std::string_view syllable = stored.substr(pos, slash - pos);
        if (syllable != surname) {
          composed += '/';
          composed += syllable;
        }
        pos = slash + 1;
      }
      reading = composed;
    } else if (!options.allReadings) {
      reading = stored.substr(0, stored.find('/'));
    }
    if (options.wadeGiles)
      AppendWei(out, reading);
    else
      out.append(reading);
  } else {
    out.append(kNoReading);
  }
  // The custom dictionary of the current romanization overrides, verbatim.
  const KeyIndex& custom = options.wadeGiles ? lists_->defineWeiHan : lists_->defineHan;
  if (long i = custom.Find(key); i >= 0) {
    const auto& values = lists_->items[options.wadeGiles ? kDefineWeiPyList : kDefinePyList];
    if (static_cast<size_t>(i) >= values.size()) throw ListIndexError(i);
    out.resize(start);
    out.append(values[static_cast<size_t>(i)]);
  }
}

void PronunciationData::AppendWei(std::string& out, std::string_view reading) const {
  const auto& wei = lists_->items[kPinyinWeiList];
  size_t pos = 0;
  for (bool first = true;; first = false) {
    size_t slash = reading.find('/', pos);
    std::string_view syllable = reading.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
    if (!first) out += '/';
    if (long i = lists_->pinyinHan.Find(syllable); i >= 0) {
      if (static_cast<size_t>(i) >= wei.size()) throw ListIndexError(i);
      out.append(wei[static_cast<size_t>(i)]);
    } else {
      out.append(syllable);  // a syllable the mapping does not know passes through
    }
    if (slash == std::string_view::npos) break;
    pos = slash + 1;
  }
}

std::string PronunciationData::PinyinToWei(std::string_view reading) const {
  std::string out;
  AppendWei(out, reading);
  return out;
}

}  // namespace quorvel

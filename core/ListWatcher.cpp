#include "ListWatcher.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "Paths.h"

namespace quorvel {

namespace {

constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                           IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

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

ListWatcher::ListWatcher(const std::array<std::string, kListCount>& paths, bool useInotify)
    : paths_(paths) {
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

ListWatcher::~ListWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

void ListWatcher::NoteLoaded() {
  compared_.fill(fd_ < 0);
  if (fd_ >= 0) WatchLinks();
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  loadedAtNs_ = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
  for (int i = 0; i < kListCount; ++i)
    if (compared_[i]) ids_[i] = IdentityOf(paths_[i]);
}

bool ListWatcher::Changed() {
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
        changed |= ev->len > 0 && (IsListFile(ev->wd, ev->name) || IsLinkedName(ev->wd, ev->name));
      } else if (linkNames_.count(ev->wd)) {
        // A far folder of a link: its own end (the reload looks again) or a linked file.
        changed |= (ev->mask & kGone) || (ev->len > 0 && IsLinkedName(ev->wd, ev->name));
      }
      // Events of watches dropped at the last load are ignored.
    }
  }
  return changed || CompareChanged();
}

bool ListWatcher::IsFolderWatch(int wd) const {
  for (int watch : watches_)
    if (watch == wd) return true;
  return false;
}

bool ListWatcher::IsListFile(int wd, const char* name) const {
  for (int i = 0; i < kListCount; ++i)
    if (watches_[i] == wd && std::strcmp(name, kListFileNames[i]) == 0) return true;
  return false;
}

bool ListWatcher::IsLinkedName(int wd, const char* name) const {
  auto it = linkNames_.find(wd);
  if (it == linkNames_.end()) return false;
  for (const std::string& linked : it->second)
    if (linked == name) return true;
  return false;
}

void ListWatcher::WatchLinks() {
  for (const auto& [wd, names] : linkNames_)
    if (!IsFolderWatch(wd)) ::inotify_rm_watch(fd_, wd);
  linkNames_.clear();
  for (int i = 0; i < kListCount; ++i) {
    const LinkWalkEnd end = WalkLinks(paths_[i], [&](const std::string& next) {
      // The same folder twice gives the same watch, and a list folder its own.
      int wd = ::inotify_add_watch(fd_, FolderOf(next).c_str(), kMask);
      if (wd < 0) return false;  // e.g. a link into a folder that does not exist (yet)
      linkNames_[wd].push_back(NameOf(next));
      return true;
    });
    if (end == LinkWalkEnd::kUnreadable || end == LinkWalkEnd::kStopped) compared_[i] = true;
  }
}

bool ListWatcher::CompareChanged() const {
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

}  // namespace quorvel

// The change watch of the list files: tells whether any of them may have changed since the lists
// were last loaded, so that ListFiles::Refresh reads no file when nothing changed.
//
// inotify on the folder of each list file (the data folder, and the mapping pair's folder when
// that is another one) does it with one non-blocking read; events for other files in a watched
// folder (targets and settings are written there too) are ignored. A list file that is a symbolic
// link is changed through its final file, elsewhere: the folders of every file along its chain of
// links are watched too, for those names only, and set up again at every load (a changed link is
// an event itself). Where inotify is not available, or a watched folder itself goes away, the
// files' identities are compared instead (stat follows the links to the final file); so are those
// of a linked list file whose far folder cannot be watched; a file compared whose change time
// lies within 50 ms of the load counts as changed (file times come from a coarse clock). It never
// fails: what cannot be watched is compared.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ListFiles.h"

namespace quorvel {

// What a file's stat says of it; two equal identities: no change seen.
struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
  mode_t mode = 0;
  bool operator==(const FileIdentity&) const = default;
};

class ListWatcher {
 public:
  // Watches the files at `paths` (one per list slot); with `useInotify` false, only compares.
  ListWatcher(const std::array<std::string, kListCount>& paths, bool useInotify);
  ~ListWatcher();
  ListWatcher(const ListWatcher&) = delete;
  ListWatcher& operator=(const ListWatcher&) = delete;

  bool UsesInotify() const { return fd_ >= 0; }

  // Called right before the files are read: what is read is at least as new as what is noted.
  void NoteLoaded();
  // Whether any file may have changed since the last NoteLoaded (events read since then count).
  bool Changed();

 private:
  bool IsFolderWatch(int wd) const;
  bool IsListFile(int wd, const char* name) const;
  bool IsLinkedName(int wd, const char* name) const;
  // Watches the folder of every file along each list file's chain of links.
  void WatchLinks();
  bool CompareChanged() const;

  int fd_ = -1;
  std::array<std::string, kListCount> paths_;
  std::array<int, kListCount> watches_{};
  std::unordered_map<int, std::vector<std::string>> linkNames_;  // watch -> linked file names
  std::array<bool, kListCount> compared_{};
  std::array<FileIdentity, kListCount> ids_;
  long long loadedAtNs_ = 0;
  static constexpr long long kRacyNs = 50'000'000;
};

}  // namespace quorvel

// The lock of a folder: cooperating processes read a set of files under it shared and replace
// them under it exclusively; how long a waiter waits, and what it says while it waits.
#pragma once

#include <string>

namespace quorvel {

// The lock file of a folder: one per folder, it stays once made and never holds data.
inline constexpr char kLockFileName[] = ".quorvel.lock";

// An advisory flock on `dir`/.quorvel.lock, held until the object goes. Cooperating Quorvel
// processes (and threads with their own FolderLock) take it shared to read a set of files and
// exclusively to replace them; programs that take no lock are not held back. While another
// holder's mode conflicts, the constructor waits: after kLockNoticeSeconds (or the wait limit, if
// shorter), and every second after, it calls the lock-wait handler (SetLockWaitHandler), which
// decides whether to go on waiting; when it does not, LockWaitError is thrown. The default
// handler warns once ("waiting for ... held by process N", through Warn) and gives up after
// LockWaitLimit() seconds. When the lock file cannot be created or opened (a missing or read-only
// folder, something other than a file in its place), Held() is false and OpenError() tells why; a
// reader then goes on without the lock.
inline constexpr double kLockNoticeSeconds = 1.0;
inline constexpr double kDefaultLockWaitSeconds = 30.0;

struct LockWait {
  std::string lockPath;
  long holder = 0;           // the holding process, 0 when it cannot be told
  double waitedSeconds = 0;  // since the wait began
  int notice = 0;            // 1 at the first call of a wait, then 2, 3, ...
};
// Returns whether to go on waiting.
using LockWaitHandler = bool (*)(const LockWait& wait);
void SetLockWaitHandler(LockWaitHandler handler);  // nullptr: the default
void SetLockWaitLimit(double seconds);             // for the default handler
double LockWaitLimit();
// "waiting for "<lock file>" held by process N".
std::string LockWaitMessage(const LockWait& wait);
// The process holding a flock on the file open at `fd` (from /proc/locks), or 0.
long FlockHolder(int fd);

class FolderLock {
 public:
  enum class Mode { kShared, kExclusive };
  FolderLock(const std::string& dir, Mode mode);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool Held() const { return fd_ >= 0; }
  int OpenError() const { return openError_; }
  const std::string& Path() const { return path_; }
  // Changes the mode of a held lock, waiting as the constructor does. Not atomic: another holder
  // may come in between.
  void Change(Mode mode);

 private:
  std::string path_;
  int fd_ = -1;
  int openError_ = 0;
};

}  // namespace quorvel

// File helpers shared by the engine and the windows: where the program's files lie, reading a
// file whole, splitting text into lines and trimming them, and replacing files without ever
// leaving a torn one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// The folder of the running executable, with its trailing "/". Never the working directory.
std::string ExecutableDir();

// Joins a folder and a file name ("dir" + "/" + name, without doubling the slash).
std::string JoinPath(const std::string& dir, const std::string& name);
// The folder part of a path ("." when it has none, "/" for a file in the root) and its last part.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
// Makes the renames and creations in a folder durable (fsync of the folder); a folder that cannot
// be opened is left as it is, the files themselves are already synced.
void SyncFolder(const std::string& dir);

// The file a path finally names: the symbolic links of its last part followed, also one that
// points nowhere (a writer creates the file it points to), stopping early where `stopAt` says so.
// A loop gives the path back unchanged (opening it then fails with ELOOP).
std::string FinalPathOf(const std::string& path, const std::function<bool(const std::string&)>& stopAt = {});

bool IsExistingFile(const std::string& path);    // a regular file (a folder does not count)
bool PathExists(const std::string& path);        // anything at all, a dangling link excluded

// A folder other users may write: writable by its group or by all, or another user's (root's
// excepted).
bool IsSharedFolder(const std::string& dir);
// Why the file at `path` must not be used: it is a symbolic link that another user (not root)
// made in a shared folder, which could make this user's process read or write a file of its
// choosing. "" when nothing is wrong.
std::string ForeignLinkProblem(const std::string& path);

// Why something that is no regular file cannot be read as one ("Is a directory", "Is a named
// pipe (FIFO), not a file", "Is a device, not a file", ...); "" for a regular file.
std::string NotAFileReason(mode_t mode);

// Opens a regular file for reading without ever blocking (a pipe or device is refused, not
// waited on). Returns the descriptor, or -1 with errno set and `reason` in words (ErrnoWords, or
// NotAFileReason with errno EISDIR for a folder and EINVAL for anything else).
int OpenRegularFile(const std::string& path, std::string* reason);

// Reads a regular file whole (OpenRegularFile). Throws FileOpenError when something is there but
// cannot be opened or read (a folder, pipe or device in the file's place included); `*missing` is
// set instead of throwing when nothing is there at all.
std::string ReadWholeFile(const std::string& path, bool* missing = nullptr);

// Appends what an open file descriptor holds to `out`, reading on until its end or until `out`
// holds at least `maxBytes`. Returns 0, or the errno of a failed read. Does not close `fd`.
int ReadFromDescriptor(int fd, std::string& out, size_t maxBytes = static_cast<size_t>(-1));

// Splits text into lines: a line ends at CR LF, a lone CR or a lone LF; a terminator after the
// last line adds no line; an empty line is an empty item; a NUL byte ends the text.
// No trimming and no conversion.
std::vector<std::string> SplitLines(std::string_view text);

// Calls `line` for each line, with the same rules as SplitLines, without copying.
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& line) {
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  size_t start = 0;
  const size_t n = text.size();
  const char* p = text.data();
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (c == '\r' || c == '\n') {
      line(text.substr(start, i - start));
      if (c == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) line(text.substr(start));
}

// The text without the bytes 0x00 to 0x20 at either end: the one trim rule of names and
// dictionary entries. GBK bytes of a Chinese character are all above 0x3F and the full-width
// space is A1 A1, so neither is ever cut.
std::string_view TrimControls(std::string_view text);

// ---- Replacing files ------------------------------------------------------------------------
//
// A temporary file is created beside its target as target + ".tmp-" + 12 random letters and
// digits, opened O_CREAT | O_EXCL | O_NOFOLLOW with mode 0644 (less the umask): a name is never
// guessed in advance, and nothing already standing at it (a planted symlink, a file) is opened or
// followed. A hard link that keeps an old file for an undo is named target + ".old-" + random.
// Exactly these names, and the ".tmp-PID" / ".old-PID" names of earlier versions (digits only),
// are "leftovers" of a writer that died; nothing else beside a file is ever taken for one.
// RemoveLeftovers removes them, and may only be called while the folder's lock is held
// exclusively, since a live writer's temporary looks the same.
//
// A conversion's target is written through "." + the target's name (its first 64 bytes) +
// ".quorvel-" + 12 random letters and digits, on which the writer holds a flock while it lives;
// a later run in the folder removes those of dead writers (RemoveDeadTargetTemporaries).

// Makes a file-size limit (ulimit -f) fail a write with EFBIG, reported as any write failure,
// instead of killing the program with SIGXFSZ. Called by every writer of files; idempotent.
void IgnoreFileSizeSignal();

// Creates a new file named `stem` + 12 random letters and digits, opened O_CREAT | O_EXCL |
// O_NOFOLLOW | O_CLOEXEC for writing with `mode` (less the umask): a name taken, or anything
// standing there, is never opened or followed; another name is tried. Returns the descriptor with
// its path in `newPath`, or -1 with errno set.
int CreateNewFileNamed(const std::string& stem, mode_t mode, std::string& newPath);

// Creates a new temporary file beside `path` as described above and returns its descriptor
// (close-on-exec), with its path in `tempPath`; -1 with errno set on failure.
int CreateTempFileBeside(const std::string& path, std::string& tempPath);

// Whether `name` is a leftover of `file` (both file names, no folder), as described above.
bool IsLeftoverOf(std::string_view name, std::string_view file);
// Removes every leftover of the files `names` (file names, no folder) in `dir`. Best effort.
void RemoveLeftovers(const std::string& dir, const std::vector<std::string>& names);

// Whether `name` is a conversion temporary's name, as described above.
bool IsTargetTemporaryName(std::string_view name);
// Creates the temporary of a target called `name` in `folder` and takes its lock. Returns the
// descriptor with its path in `tempPath`, or -1 with errno set.
int CreateTargetTemporary(const std::string& folder, const std::string& name, std::string& tempPath);
// A conversion temporary is taken for a dead writer's once it has not been written for this long
// and nobody holds its lock.
inline constexpr long kDeadTemporarySeconds = 10;
// Removes from `folder` the conversion temporaries of dead writers: the user's own regular files
// of that name pattern whose lock is free and that were not written for kDeadTemporarySeconds.
void RemoveDeadTargetTemporaries(const std::string& folder);

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

// One step of an intent record: rename `from` to `to` when `from` is still there, or remove `to`.
// Both are names of files in the record's own folder.
struct IntentStep {
  enum class Kind { kRename, kRemove };
  Kind kind = Kind::kRename;
  std::string from;
  std::string to;
  bool operator==(const IntentStep&) const = default;
};

// The steps an intent record holds, or nullopt when there is no record or when it is to be
// ignored: a record this program did not write (ours are written whole through a temporary and a
// rename, so never torn), one that is no regular file or that belongs to another user (root
// excepted), or one with a step a pair writer never makes. A writer's steps rename one of its
// own temporaries or kept files (`file` + ".tmp-" / ".old-" + 12 letters and digits) onto one of
// `files`, or remove one of `files`. `whyIgnored` (when given) gets the warning for a record that
// is there but ignored, else "". Opens nothing that blocks and follows no link.
std::optional<std::vector<IntentStep>> ReadIntent(const std::string& intentPath, const std::vector<std::string>& files,
                                                  std::string* whyIgnored = nullptr);

// Completes what an intent record says, syncs the folder and removes the record. Every step may
// be repeated, so a roll forward cut short is simply done again. A record to be ignored (see
// ReadIntent) is never acted on: it is reported through Warn and removed where that is allowed.
// Returns whether there was a record to complete; InOutError when a step fails (the record then
// stays). Call it under the exclusive lock.
bool RollForwardIntent(const std::string& intentPath, const std::vector<std::string>& files);

// Replaces each file with its new content so that a failure leaves every old file whole (a new
// file never gets wider permissions than the one it replaces):
// all temporary files are written and synced first, then renamed over the old ones, then the
// folder is synced. On failure no temporary file is left behind and InOutError is thrown.
// All files must lie in one folder.
//
// With an `intentPath` (in the same folder, the caller holding the folder's lock exclusively),
// the renames are first recorded there and synced; from then on the replacement is decided and a
// writer killed at any point is completed by RollForwardIntent. A rename that fails is undone
// through a record of the undo, so a kill during the undo still ends in the old files. Without
// one, a process killed between two renames leaves the files mixed: fine for a single file.
void ReplaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files,
                            const std::string& intentPath = {});

// A single file replaced under its folder's lock (when the lock can be had), after removing the
// leftovers of earlier writers of that file. A symbolic link at `path` is written through: its
// final file is replaced, the link stays. For the settings files.
void ReplaceFileUnderFolderLock(const std::string& path, const std::string& content);

// Test hook: when set, ReplaceFilesAtomically fails with this errno at the given step
// (0 = none). Steps: 1 creating the first temporary, 2 writing the second temporary,
// 3 renaming the second file.
void SetReplaceFailureForTest(int step, int errnoValue);

// Test hook: called at each point of a replacement of n files: 0 temporaries written and synced,
// 1 renames recorded (or about to start without a record), 2 + i file i renamed, 2 + n done
// (record removed). A crash test stops the process there. nullptr removes it.
using ReplacePointHook = void (*)(int point);
void SetReplacePointHookForTest(ReplacePointHook hook);

}  // namespace quorvel

// Creating and replacing files without ever leaving a torn one: temporaries, leftovers of dead
// writers, a multi-file replacement (its intent record is the pair write's, PairWrite.h).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {
// Makes the renames and creations in a folder durable (fsync of the folder); a folder that cannot
// be opened is left as it is, the files themselves are already synced.
void SyncFolder(const std::string& dir);

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
int CreateUniqueFile(const std::string& stem, mode_t mode, std::string& newPath);

// Creates a new temporary file beside `path` as described above and returns its descriptor
// (close-on-exec), with its path in `tempPath`; -1 with errno set on failure.
int CreateTemporaryBeside(const std::string& path, std::string& tempPath);

// Writes all of `bytes` to `fd`, going on after a short write or an interruption. Returns false
// with errno set when a write fails.
bool WriteAllBytes(int fd, std::string_view bytes);

// Whether `name` is a temporary or kept old file of `file` as this version names them (".tmp-" or
// ".old-" and 12 letters and digits); IsLeftoverOf also takes the names of earlier versions.
bool IsOwnLeftoverOf(std::string_view name, std::string_view file);
// Whether `name` is a leftover of `file` (both file names, no folder), as described above.
bool IsLeftoverOf(std::string_view name, std::string_view file);
// Removes every leftover of the files `names` (file names, no folder) in `dir`. Best effort.
void RemoveLeftovers(const std::string& dir, const std::vector<std::string>& names);

// Whether `name` is a conversion temporary's name, as described above.
bool IsTargetTemporaryName(std::string_view name);
// Creates the temporary of a target called `name` in `folder` and takes its lock. Returns the
// descriptor with its path in `tempPath`, or -1 with errno set.
int CreateTargetTemporary(const std::string& folder, const std::string& name,
                          std::string& tempPath);
// A conversion temporary is taken for a dead writer's once it has not been written for this long
// and nobody holds its lock.
inline constexpr long kDeadTemporarySeconds = 10;
// Removes from `folder` the conversion temporaries of dead writers: the user's own regular files
// of that name pattern whose lock is free and that were not written for kDeadTemporarySeconds.
void RemoveDeadTargetTemporaries(const std::string& folder);

// Replaces each file with its new content so that a failure leaves every old file whole (a new
// file never gets wider permissions than the one it replaces):
// all temporary files are written and synced first, then renamed over the old ones, then the
// folder is synced. On failure no temporary file is left behind and InOutError is thrown.
// All files must lie in one folder.
//
// With an `intentPath` (in the same folder, the caller holding the folder's lock exclusively),
// the renames are first recorded there and synced (WriteIntent, PairWrite.h); from then on the
// replacement is decided and a writer killed at any point is completed by RollForwardIntent. A
// rename that fails is undone through a record of the undo, so a kill during the undo still ends in
// the old files. Without one, a process killed between two renames leaves the files mixed: fine for
// a single file.
void ReplaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files,
                            const std::string& intentPath = {});

// A single file replaced under its folder's lock (when the lock can be had), after removing the
// leftovers of earlier writers of that file. A symbolic link at `path` is written through: its
// final file is replaced, the link stays. For the settings files.
void ReplaceFileUnderFolderLock(const std::string& path, const std::string& content);

}  // namespace quorvel

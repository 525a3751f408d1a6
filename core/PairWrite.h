// The pair write: how the two files of a list pair (a dictionary's keys and readings, see
// ListFiles.h) are replaced together so that no Quorvel program ever reads them mixed.
//
// Promises. In the data folder, ".quorvel.lock" (an advisory flock, see FolderLock) is held
// exclusively by a pair write (PairWriteLock), from before it reads the lists it changes until it
// has reloaded them, and shared by every ListFiles::Load. A pair write records its renames in
// ".quorvel.intent" (the intent record) before it makes them; a writer killed at any instant
// leaves either no record (the old pair stands) or one that the next writer or Load completes
// (RollForwardIntent), so every Quorvel program that reads the pair afterwards sees the old or
// the new one. The next writer also removes what dead writers left (temporaries, kept old files;
// see RemoveLeftovers in Files.h).
//
// Failures. Load never fails for want of the lock: in a missing or read-only folder it reads
// without it, and where it cannot complete a record it reads each file of the pair from where the
// record says it is going. A writer that cannot make or open the lock file fails with InOutError
// naming the folder; a write that fails leaves both old files (InOutError). A record this program
// did not write, or one another user left, is never acted on: it is reported through Warn and
// removed where that is allowed, and where it cannot be removed the writer goes on without a
// record of its own. Programs that edit the files without taking the lock are seen as any
// outside change.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

class FolderLock;
class ListFiles;
enum ListSlot : int;

// The record of a pair write under way, in the data folder (the lock is FolderLock.h's
// kLockFileName).
inline constexpr char kPairIntentFileName[] = ".quorvel.intent";

// ---- The intent record ----------------------------------------------------------------------

// One step of an intent record: rename `from` to `to` when `from` is still there, or remove `to`.
// Both are names of files in the record's own folder.
struct IntentStep {
  enum class Kind { kRename, kRemove };
  Kind kind = Kind::kRename;
  std::string from;
  std::string to;
  bool operator==(const IntentStep&) const = default;
};

// Writes the record through a temporary and a rename, then syncs the folder: once this returns,
// the record survives a crash, and it is never seen half written. Returns false with errno set.
// ReplaceFilesAtomically (Files.h) calls it before its renames and again for an undo.
bool WriteIntent(const std::string& intentPath, const std::vector<IntentStep>& steps);

// The steps an intent record holds, or nullopt when there is no record or when it is to be
// ignored: a record this program did not write (ours are written whole through a temporary and a
// rename, so never torn), one that is no regular file or that belongs to another user (root
// excepted), or one with a step a pair writer never makes. A writer's steps rename one of its
// own temporaries or kept files (`file` + ".tmp-" / ".old-" + 12 letters and digits) onto one of
// `files`, or remove one of `files`. `whyIgnored` (when given) gets the warning for a record that
// is there but ignored, else "". Opens nothing that blocks and follows no link.
std::optional<std::vector<IntentStep>> ReadIntent(const std::string& intentPath,
                                                  const std::vector<std::string>& files,
                                                  std::string* whyIgnored = nullptr);

// Completes what an intent record says, syncs the folder and removes the record. Every step may
// be repeated, so a roll forward cut short is simply done again. A record to be ignored (see
// ReadIntent) is never acted on: it is reported through Warn and removed where that is allowed.
// Returns whether there was a record to complete; InOutError when a step fails (the record then
// stays). Call it under the exclusive lock.
bool RollForwardIntent(const std::string& intentPath, const std::vector<std::string>& files);

// ---- The writer -----------------------------------------------------------------------------

// Held by one change of a pair: takes the data folder's lock exclusively (InOutError when the
// lock file cannot be made or opened), completes a write that a killed writer left recorded and
// removes dead writers' leftovers. While it lives, Load and Refresh of its ListFiles read under
// it, so the change is made from the files as they are and no other Quorvel writer comes in
// between. Let it go only after the lists are reloaded.
class PairWriteLock {
 public:
  explicit PairWriteLock(ListFiles& lists);
  ~PairWriteLock();
  PairWriteLock(const PairWriteLock&) = delete;
  PairWriteLock& operator=(const PairWriteLock&) = delete;

  // Replaces the two files of a pair (key slot, reading slot) together, their renames recorded in
  // kPairIntentFileName. Does not reload. InOutError on failure, with both old files in place.
  void WritePair(ListSlot keySlot, const std::string& keyText, ListSlot readingSlot,
                 const std::string& readingText);

 private:
  ListFiles& lists_;
  std::unique_ptr<FolderLock> lock_;
  bool recordBlocked_ = false;  // a foreign record stands where a pair write records its renames
};

// ---- The reader -----------------------------------------------------------------------------

// The lock a load of the lists in `dataDir` reads under: the folder's lock taken shared (nullptr
// when the caller's own PairWriteLock holds it already, `writeLocked`). When a record stands, it
// is completed first, the lock taken exclusively for that moment; a record that cannot be
// completed (a read-only folder) is left for FollowUnfinishedRecord. Never fails for want of the
// lock (the returned lock then holds nothing).
std::unique_ptr<FolderLock> LockForReading(const std::string& dataDir, bool writeLocked);

// Where a record left standing says the list files are going: `paths` (one per list slot) of a
// file a step renames onto are pointed to the renamed file while it is still there, and
// `removed` is set for a file a step removes. Nothing changes without a record to follow.
void FollowUnfinishedRecord(const std::string& dataDir, std::vector<std::string>& paths,
                            std::vector<bool>& removed);

}  // namespace quorvel

#include "PairWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <string_view>

#include "Errors.h"
#include "FileReading.h"
#include "Files.h"
#include "FolderLock.h"
#include "ListFiles.h"
#include "Paths.h"
#include "TextLines.h"

namespace quorvel {

// ---- The intent record ----------------------------------------------------------------------

namespace {

constexpr char kIntentHeader[] = "quorvel intent 1";

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find_first_of(std::string_view("\t\r\n\0", 4)) == std::string_view::npos;
}

}  // namespace

bool WriteIntent(const std::string& intentPath, const std::vector<IntentStep>& steps) {
  std::string text = std::string(kIntentHeader) + "\n";
  for (const auto& step : steps) {
    if (step.kind == IntentStep::Kind::kRename)
      text += "rename\t" + step.from + "\t" + step.to + "\n";
    else text += "remove\t" + step.to + "\n";
  }
  text += "end\n";
  std::string temp;
  int fd = CreateTemporaryBeside(intentPath, temp);
  if (fd < 0) return false;
  bool ok = WriteAllBytes(fd, text) && ::fsync(fd) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && ::rename(temp.c_str(), intentPath.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = e;
    return false;
  }
  SyncFolder(FolderOf(intentPath));
  return true;
}

namespace {

// Whether a record's step stays within what a pair writer does: it renames one of its own
// temporaries or kept old files onto one of `files`, or removes one of `files`.
bool IsWritersStep(const IntentStep& step, const std::vector<std::string>& files) {
  for (const auto& file : files) {
    if (step.to != file) continue;
    if (step.kind == IntentStep::Kind::kRemove) return true;
    return IsOwnLeftoverOf(step.from, file);
  }
  return false;
}

// Parses a record's text; nullopt when it is none this program wrote (ours are written whole).
std::optional<std::vector<IntentStep>> ParseIntent(std::string_view text) {
  auto lines = SplitLines(text);
  if (lines.size() < 2 || lines.front() != kIntentHeader || lines.back() != "end")
    return std::nullopt;
  std::vector<IntentStep> steps;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    auto tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    std::string_view verb = line.substr(0, tab), rest = line.substr(tab + 1);
    IntentStep step;
    if (verb == "rename") {
      auto second = rest.find('\t');
      if (second == std::string_view::npos) return std::nullopt;
      step.from = rest.substr(0, second);
      step.to = rest.substr(second + 1);
      if (!IsPlainName(step.from)) return std::nullopt;
    } else if (verb == "remove") {
      step.kind = IntentStep::Kind::kRemove;
      step.to = rest;
    } else {
      return std::nullopt;
    }
    if (!IsPlainName(step.to)) return std::nullopt;
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace

std::optional<std::vector<IntentStep>> ReadIntent(const std::string& intentPath,
                                                  const std::vector<std::string>& files,
                                                  std::string* whyIgnored) {
  if (whyIgnored) whyIgnored->clear();
  auto ignore = [&](const std::string& why) -> std::optional<std::vector<IntentStep>> {
    if (whyIgnored)
      *whyIgnored =
          "the record of an unfinished dictionary write \"" + intentPath + "\" is ignored: " + why;
    return std::nullopt;
  };
  // Never blocks (a pipe planted at the name) and never follows a link.
  int fd = ::open(intentPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? std::nullopt : ignore(ErrnoWords(errno));
  struct stat st {};
  std::string text;
  int e = ::fstat(fd, &st) != 0 ? errno : 0;
  if (e == 0 && S_ISREG(st.st_mode)) e = ReadFromDescriptor(fd, text, 1 << 16);
  ::close(fd);
  if (e != 0) return ignore(ErrnoWords(e));
  if (!S_ISREG(st.st_mode)) return ignore("it is no regular file");
  // In a folder others may write, a record another user left could make this user's process
  // move files of theirs into place.
  if (st.st_uid != ::geteuid() && st.st_uid != 0) return ignore("it belongs to another user");
  auto steps = ParseIntent(text);
  if (!steps) return ignore("it is damaged");
  for (const auto& step : *steps)
    if (!IsWritersStep(step, files))
      return ignore("it names \"" + (step.kind == IntentStep::Kind::kRemove ? step.to : step.from) +
                    "\", which is no list file nor a temporary of one");
  return steps;
}

bool RollForwardIntent(const std::string& intentPath, const std::vector<std::string>& files) {
  std::string why;
  auto steps = ReadIntent(intentPath, files, &why);
  if (!steps) {
    // Either nothing is there, or something no Quorvel writer made: it is never acted on, and it
    // must not block every later write.
    if (!why.empty()) Warn(why);
    struct stat st {};
    if (::lstat(intentPath.c_str(), &st) != 0) return false;
    ::unlink(intentPath.c_str());
    return false;
  }
  const std::string dir = FolderOf(intentPath);
  for (const auto& step : *steps) {
    const std::string to = JoinPath(dir, step.to);
    if (step.kind == IntentStep::Kind::kRename) {
      const std::string from = JoinPath(dir, step.from);
      struct stat st {};
      if (::lstat(from.c_str(), &st) != 0) {
        if (errno == ENOENT) continue;  // renamed before the writer stopped
        ThrowInOut(errno, from);
      }
      if (::rename(from.c_str(), to.c_str()) != 0) ThrowInOut(errno, to);
    } else if (::unlink(to.c_str()) != 0 && errno != ENOENT) {
      ThrowInOut(errno, to);
    }
  }
  SyncFolder(dir);
  if (::unlink(intentPath.c_str()) != 0 && errno != ENOENT) ThrowInOut(errno, intentPath);
  SyncFolder(dir);
  return true;
}

// ---- The writer -----------------------------------------------------------------------------

PairWriteLock::PairWriteLock(ListFiles& lists)
    : lists_(lists),
      lock_(std::make_unique<FolderLock>(lists.DataDir(), FolderLock::Mode::kExclusive)) {
  // The folder is named: that is what the user may not write (or what is missing).
  if (!lock_->Held()) ThrowInOut(lock_->OpenError(), lists.DataDir());
  const std::string intentPath = JoinPath(lists.DataDir(), kPairIntentFileName);
  RollForwardIntent(intentPath, ListFileNames());
  // A record that was ignored and could not be removed (another user's, in a folder whose sticky
  // bit keeps it there) must not block every write: this one goes without a record of its own.
  struct stat st {};
  recordBlocked_ = ::lstat(intentPath.c_str(), &st) == 0;
  if (recordBlocked_)
    Warn("\"" + intentPath +
         "\" cannot be replaced; the dictionary is written without a record of its renames");
  // Under the exclusive lock every temporary or kept old file of a list file is a dead writer's.
  std::vector<std::string> names = ListFileNames();
  names.push_back(kPairIntentFileName);
  RemoveLeftovers(lists.DataDir(), names);
  lists_.writeLocked_ = true;
}

PairWriteLock::~PairWriteLock() { lists_.writeLocked_ = false; }

void PairWriteLock::WritePair(ListSlot keySlot, const std::string& keyText, ListSlot readingSlot,
                              const std::string& readingText) {
  for (ListSlot slot : {keySlot, readingSlot})
    if (std::string problem = ForeignLinkProblem(lists_.ListPath(slot)); !problem.empty())
      throw Error(problem);
  ReplaceFilesAtomically(
      {{lists_.ListPath(keySlot), keyText}, {lists_.ListPath(readingSlot), readingText}},
      recordBlocked_ ? std::string() : JoinPath(lists_.DataDir(), kPairIntentFileName));
}

// ---- The reader -----------------------------------------------------------------------------

std::unique_ptr<FolderLock> LockForReading(const std::string& dataDir, bool writeLocked) {
  if (writeLocked) return nullptr;
  const std::string intentPath = JoinPath(dataDir, kPairIntentFileName);
  auto lock = std::make_unique<FolderLock>(dataDir, FolderLock::Mode::kShared);
  if (lock->Held() && PathExists(intentPath)) {
    // A writer was stopped mid-pair: finish its renames before reading.
    lock->Change(FolderLock::Mode::kExclusive);
    try {
      RollForwardIntent(intentPath, ListFileNames());
    } catch (const Error&) {
      // A read-only folder: the reader follows the record instead (FollowUnfinishedRecord).
    }
    lock->Change(FolderLock::Mode::kShared);
  }
  return lock;
}

void FollowUnfinishedRecord(const std::string& dataDir, std::vector<std::string>& paths,
                            std::vector<bool>& removed) {
  auto steps = ReadIntent(JoinPath(dataDir, kPairIntentFileName), ListFileNames());
  if (!steps) return;
  for (const auto& step : *steps) {
    for (int i = 0; i < kListCount; ++i) {
      if (step.to != kListFileNames[i]) continue;
      if (step.kind == IntentStep::Kind::kRemove) {
        removed[i] = true;
      } else if (std::string from = JoinPath(dataDir, step.from); PathExists(from)) {
        paths[i] = from;
      }
    }
  }
}

}  // namespace quorvel

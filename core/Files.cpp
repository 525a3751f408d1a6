#include "Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>

#include "Errors.h"
#include "FileReading.h"
#include "FolderLock.h"
#include "PairWrite.h"
#include "Paths.h"
#include "ReplaceFaults.h"

namespace quorvel {

namespace {

// 12 letters and digits from the kernel's random source (a clock-and-pid mix where that fails).
std::string RandomSuffix() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    static unsigned long long counter = 0;
    unsigned long long x = static_cast<unsigned long long>(now.tv_nsec) ^
                           (static_cast<unsigned long long>(::getpid()) << 32) ^
                           (++counter * 0x9E3779B97F4A7C15ULL);
    for (auto& b : bytes) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      b = static_cast<unsigned char>(x);
    }
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix += kAlphabet[b % (sizeof kAlphabet - 1)];
  return suffix;
}

}  // namespace

bool WriteAllBytes(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  size_t size = bytes.size();
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& dir) {
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

void IgnoreFileSizeSignal() {
  static const bool done = [] {
    struct sigaction action {};
    if (::sigaction(SIGXFSZ, nullptr, &action) == 0 && action.sa_handler == SIG_DFL)
      ::signal(SIGXFSZ, SIG_IGN);
    return true;
  }();
  (void)done;
}

int CreateUniqueFile(const std::string& stem, mode_t mode, std::string& newPath) {
  IgnoreFileSizeSignal();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = stem + RandomSuffix();
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      newPath = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;  // errno is EEXIST
}

namespace {
// A new file named path + tag + random suffix, mode 0644.
int CreateUniqueFileBeside(const std::string& path, const char* tag, std::string& newPath) {
  return CreateUniqueFile(path + tag, 0644, newPath);
}

// A synced copy of `path` at path + ".old-" + random, for file systems without hard links.
// Returns the copy's path, or "" with errno set.
std::string CopyAside(const std::string& path) {
  std::string data;
  try {
    data = ReadWholeFile(path);
  } catch (const FileOpenError& e) {
    errno = e.Errno();
    return {};
  }
  std::string copy;
  int fd = CreateUniqueFileBeside(path, ".old-", copy);
  if (fd < 0) return {};
  bool ok = WriteAllBytes(fd, data) && ::fsync(fd) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok) return copy;
  ::unlink(copy.c_str());
  errno = e;
  return {};
}
}  // namespace

int CreateTemporaryBeside(const std::string& path, std::string& tempPath) {
  return CreateUniqueFileBeside(path, ".tmp-", tempPath);
}

namespace {
constexpr size_t kSuffixLength = 12;

// The random part of a name this program made: exactly 12 letters and digits.
bool IsRandomSuffix(std::string_view text) {
  if (text.size() != kSuffixLength) return false;
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// A process id, as writers of older releases named their temporaries: 1 to 10 digits.
bool IsProcessId(std::string_view text) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The names in `dir` for which `doomed` says yes.
std::vector<std::string> NamesIn(const std::string& dir,
                                 const std::function<bool(std::string_view)>& doomed) {
  std::vector<std::string> found;
  DIR* folder = ::opendir(dir.c_str());
  if (!folder) return found;
  while (const dirent* entry = ::readdir(folder))
    if (doomed(entry->d_name)) found.emplace_back(entry->d_name);
  ::closedir(folder);
  return found;
}
}  // namespace

namespace {
// The part of `name` after `file` + ".tmp-" or ".old-", or nullopt when it does not start so.
std::optional<std::string_view> LeftoverSuffix(std::string_view name, std::string_view file) {
  if (!name.starts_with(file)) return std::nullopt;
  name.remove_prefix(file.size());
  if (!name.starts_with(".tmp-") && !name.starts_with(".old-")) return std::nullopt;
  return name.substr(5);
}
}  // namespace

bool IsOwnLeftoverOf(std::string_view name, std::string_view file) {
  auto suffix = LeftoverSuffix(name, file);
  return suffix && IsRandomSuffix(*suffix);
}

bool IsLeftoverOf(std::string_view name, std::string_view file) {
  auto suffix = LeftoverSuffix(name, file);
  return suffix && (IsRandomSuffix(*suffix) || IsProcessId(*suffix));
}

void RemoveLeftovers(const std::string& dir, const std::vector<std::string>& names) {
  const auto doomed = NamesIn(dir, [&](std::string_view name) {
    for (const auto& file : names)
      if (IsLeftoverOf(name, file)) return true;
    return false;
  });
  for (const auto& name : doomed) ::unlink(JoinPath(dir, name).c_str());
}

bool IsTargetTemporaryName(std::string_view name) {
  constexpr std::string_view kTag = ".quorvel-";
  if (name.size() < 1 + 1 + kTag.size() + kSuffixLength || name.front() != '.') return false;
  const std::string_view stem = name.substr(0, name.size() - kSuffixLength);
  return stem.ends_with(kTag) && stem.size() - kTag.size() - 1 <= 64 &&
         IsRandomSuffix(name.substr(name.size() - kSuffixLength));
}

int CreateTargetTemporary(const std::string& folder, const std::string& name,
                          std::string& tempPath) {
  // Keep the name short enough for any file system whatever the target's name.
  int fd =
      CreateUniqueFile(JoinPath(folder, "." + name.substr(0, 64) + ".quorvel-"), 0666, tempPath);
  // Held until the descriptor closes: a later run tells a live writer's temporary from a dead
  // one's.
  if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

void RemoveDeadTargetTemporaries(const std::string& folder) {
  const auto candidates = NamesIn(folder, IsTargetTemporaryName);
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  for (const auto& name : candidates) {
    const std::string path = JoinPath(folder, name);
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // Only the user's own regular files, untouched for a while (a writer takes its lock right
    // after creating the file), whose lock nobody holds.
    const bool dead = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                      st.st_mtim.tv_sec + kDeadTemporarySeconds <= now.tv_sec &&
                      ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (dead) ::unlink(path.c_str());
    ::close(fd);
  }
}

namespace {

// Writes and syncs a temporary beside each file, never readable by more people than the file it
// replaces. On failure none is left and InOutError is thrown.
std::vector<std::string> WriteTemporaries(
    const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::string> temps;
  auto fail = [&](const std::string& path) {
    int e = errno;
    for (const auto& t : temps) ::unlink(t.c_str());
    ThrowInOut(e, path);
  };
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& [path, content] = files[i];
    std::string temp;
    int fd = i == 0 && ReplaceFaultAt(ReplaceStep::kCreateFirstTemporary)
                 ? -1
                 : CreateTemporaryBeside(path, temp);
    if (fd < 0) fail(path);
    temps.push_back(temp);
    if (struct stat old{}; ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
      struct stat fresh {};
      if (::fstat(fd, &fresh) == 0) ::fchmod(fd, fresh.st_mode & old.st_mode & 0777);
    }
    bool ok = !(i == 1 && ReplaceFaultAt(ReplaceStep::kWriteSecondTemporary)) &&
              WriteAllBytes(fd, content) && ::fsync(fd) == 0;
    int e = errno;
    if (::close(fd) != 0 && ok) {
      ok = false;
      e = errno;
    }
    if (!ok) {
      errno = e;
      fail(path);
    }
  }
  return temps;
}

// A hard link (or, where a file system has none, a copy) to each old file of a multi-file
// replacement, "" for a file not there yet; none for a single file. When one cannot be had, the
// temporaries and the backups made so far are removed and InOutError names the file.
std::vector<std::string> BackupsOf(const std::vector<std::pair<std::string, std::string>>& files,
                                   const std::vector<std::string>& temps) {
  std::vector<std::string> backups(files.size());
  if (files.size() < 2) return backups;
  for (size_t i = 0; i < files.size(); ++i) {
    int linkError = ENOENT;
    for (int attempt = 0; attempt < 100 && backups[i].empty(); ++attempt) {
      std::string backup = files[i].first + ".old-" + RandomSuffix();
      if (::link(files[i].first.c_str(), backup.c_str()) == 0) backups[i] = backup;
      else if ((linkError = errno) != EEXIST) break;
    }
    // No hard link to be had (a file system without them): a copy serves as well.
    if (backups[i].empty() && linkError != ENOENT) backups[i] = CopyAside(files[i].first);
    if (backups[i].empty() && linkError != ENOENT) {
      // Without an undo, a failed second rename would lose the old file: do not start.
      int e = errno;
      for (const auto& t : temps) ::unlink(t.c_str());
      for (const auto& b : backups)
        if (!b.empty()) ::unlink(b.c_str());
      ThrowInOut(e, files[i].first);
    }
  }
  return backups;
}

}  // namespace

void ReplaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files,
                            const std::string& intentPath) {
  // Write and sync every temporary before any rename: a failure part way must leave the old
  // files as they were, and a pair must never end up with one new and one old half.
  std::vector<std::string> temps = WriteTemporaries(files);
  auto cleanup = [&] {
    for (const auto& t : temps) ::unlink(t.c_str());
  };
  ReachReplacePoint(0);
  // With several files, keep a hard link to each old file until every rename has succeeded, so
  // a rename that fails part way can put back the files already replaced.
  std::vector<std::string> backups = BackupsOf(files, temps);
  auto dropBackups = [&] {
    for (const auto& b : backups)
      if (!b.empty()) ::unlink(b.c_str());
  };
  const std::string dir = files.empty() ? std::string(".") : FolderOf(files.front().first);
  if (!intentPath.empty()) {
    std::vector<IntentStep> steps;
    for (size_t i = 0; i < files.size(); ++i)
      steps.push_back({IntentStep::Kind::kRename, NameOf(temps[i]), NameOf(files[i].first)});
    if (!WriteIntent(intentPath, steps)) {
      int e = errno;
      cleanup();
      dropBackups();
      ThrowInOut(e, intentPath);
    }
  }
  ReachReplacePoint(1);
  for (size_t i = 0; i < files.size(); ++i) {
    if ((i == 1 && ReplaceFaultAt(ReplaceStep::kRenameSecondFile)) ||
        ::rename(temps[i].c_str(), files[i].first.c_str()) != 0) {
      int e = errno;
      // Undo the renames done so far. With a record, the undo is recorded first (replacing the
      // record of the renames), so a writer killed while undoing still ends in the old files.
      std::vector<IntentStep> undo;
      for (size_t j = 0; j < i; ++j) {
        if (!backups[j].empty())
          undo.push_back({IntentStep::Kind::kRename, NameOf(backups[j]), NameOf(files[j].first)});
        else undo.push_back({IntentStep::Kind::kRemove, {}, NameOf(files[j].first)});
      }
      if (!intentPath.empty() && !WriteIntent(intentPath, undo)) {
        // Not even the undo can be recorded (a full disk): leave the record of the renames, which
        // the next reader or writer completes, rather than risk mixed files.
        ThrowInOut(e, files[i].first);
      }
      for (const auto& step : undo) {
        const std::string to = JoinPath(dir, step.to);
        if (step.kind == IntentStep::Kind::kRename)
          ::rename(JoinPath(dir, step.from).c_str(), to.c_str());
        else ::unlink(to.c_str());
      }
      for (size_t j = i; j < temps.size(); ++j) ::unlink(temps[j].c_str());
      SyncFolder(dir);
      if (!intentPath.empty()) ::unlink(intentPath.c_str());
      dropBackups();
      ThrowInOut(e, files[i].first);
    }
    ReachReplacePoint(2 + static_cast<int>(i));
  }
  SyncFolder(dir);
  if (!intentPath.empty()) ::unlink(intentPath.c_str());
  ReachReplacePoint(2 + static_cast<int>(files.size()));
  dropBackups();
}

void ReplaceFileUnderFolderLock(const std::string& path, const std::string& content) {
  const std::string final = FinalPathOf(path);  // a link stays a link: its file is replaced
  const std::string dir = FolderOf(final);
  FolderLock lock(dir, FolderLock::Mode::kExclusive);
  if (lock.Held()) RemoveLeftovers(dir, {NameOf(final)});
  ReplaceFilesAtomically({{final, content}});
}

}  // namespace quorvel

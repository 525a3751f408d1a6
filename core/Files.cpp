#include "Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Errors.h"

namespace quorvel {

namespace {
int gFailStep = 0;
int gFailErrno = 0;

bool ShouldFail(int step) {
  if (gFailStep != step) return false;
  errno = gFailErrno;
  return true;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, size_t size) {
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
}  // namespace

std::string ExecutableDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsExistingFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string ReadWholeFile(const std::string& path, bool* missing) {
  if (missing) *missing = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    if (missing && e == ENOENT) {
      *missing = true;
      return {};
    }
    throw FileOpenError(path, e);
  }
  std::string data;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw FileOpenError(path, EISDIR);
  }
  if (st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  if (int e = ReadFromDescriptor(fd, data)) {
    ::close(fd);
    throw FileOpenError(path, e);
  }
  ::close(fd);
  return data;
}

int ReadFromDescriptor(int fd, std::string& out, size_t maxBytes) {
  char buf[1 << 16];
  while (out.size() < maxBytes) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  return 0;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  ForEachLine(text, [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  return text;
}

void SetReplaceFailureForTest(int step, int errnoValue) {
  gFailStep = step;
  gFailErrno = errnoValue;
}

void ReplaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<std::string> temps;
  auto cleanup = [&] {
    for (const auto& t : temps) ::unlink(t.c_str());
  };
  auto fail = [&](const std::string& path) {
    int e = errno;
    cleanup();
    ThrowInOut(e, path);
  };
  // Write and sync every temporary before any rename: a failure part way must leave the old
  // files as they were, and a pair must never end up with one new and one old half.
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& [path, content] = files[i];
    std::string temp = path + ".tmp-" + std::to_string(::getpid());
    int fd = ShouldFail(i == 0 ? 1 : -1) ? -1 : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail(path);
    temps.push_back(temp);
    bool ok = !(i == 1 && ShouldFail(2)) && WriteAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
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
  // Keep a hard link to each old file until every rename has succeeded, so a rename that
  // fails part way can put back the files already replaced.
  std::vector<std::string> backups(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    std::string backup = files[i].first + ".old-" + std::to_string(::getpid());
    ::unlink(backup.c_str());
    if (::link(files[i].first.c_str(), backup.c_str()) == 0) backups[i] = backup;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if ((i == 1 && ShouldFail(3)) || ::rename(temps[i].c_str(), files[i].first.c_str()) != 0) {
      int e = errno;
      for (size_t j = 0; j < i; ++j) {
        if (!backups[j].empty()) ::rename(backups[j].c_str(), files[j].first.c_str());
        else ::unlink(files[j].first.c_str());
      }
      for (size_t j = i; j < temps.size(); ++j) ::unlink(temps[j].c_str());
      for (const auto& b : backups) if (!b.empty()) ::unlink(b.c_str());
      ThrowInOut(e, files[i].first);
    }
  }
  for (const auto& b : backups) if (!b.empty()) ::unlink(b.c_str());
  if (!files.empty()) {
    int dfd = ::open(FolderOf(files.front().first).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
  }
}

}  // namespace quorvel

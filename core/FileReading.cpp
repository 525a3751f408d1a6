#include "FileReading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "Errors.h"

namespace quorvel {

std::string NotAFileReason(mode_t mode) {
  if (S_ISDIR(mode)) return "Is a directory";
  if (S_ISFIFO(mode)) return "Is a named pipe (FIFO), not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "Is a device, not a file";
  if (S_ISSOCK(mode)) return "Is a socket, not a file";
  return S_ISREG(mode) ? std::string() : "Is not a regular file";
}

int OpenRegularFile(const std::string& path, std::string* reason) {
  reason->clear();
  // O_NONBLOCK: opening a pipe or a device never waits; regular files ignore it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    *reason = ErrnoWords(e);
    errno = e;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    *reason = ErrnoWords(e);
    errno = e;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    *reason = NotAFileReason(st.st_mode);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  return fd;
}

std::string ReadWholeFile(const std::string& path, bool* missing) {
  if (missing) *missing = false;
  std::string reason;
  int fd = OpenRegularFile(path, &reason);
  if (fd < 0) {
    if (missing && errno == ENOENT) {
      *missing = true;
      return {};
    }
    throw FileOpenError(path, reason, errno);
  }
  std::string data;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
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

}  // namespace quorvel

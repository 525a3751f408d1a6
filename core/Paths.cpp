#include "Paths.h"

#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <functional>

namespace quorvel {

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

bool IsSharedFolder(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (st.st_uid != ::geteuid() && st.st_uid != 0);
}

std::string ForeignLinkProblem(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
  if (st.st_uid == ::geteuid() || st.st_uid == 0 || !IsSharedFolder(FolderOf(path))) return {};
  return "\"" + path + "\" is a symbolic link another user (" + std::to_string(st.st_uid) +
         ") made in a folder others may write; it is not followed. Remove it, or keep the lists in "
         "a folder of your own";
}

LinkWalkEnd WalkLinks(const std::string& path, const std::function<bool(const std::string&)>& hop) {
  std::string current = path;
  for (int hops = 0; hops < kMostLinkHops; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return LinkWalkEnd::kFinal;
    std::string link(PATH_MAX, '\0');
    ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return LinkWalkEnd::kUnreadable;
    link.resize(static_cast<size_t>(n));
    current = link.front() == '/' ? link : JoinPath(FolderOf(current), link);
    if (!hop(current)) return LinkWalkEnd::kStopped;
  }
  return LinkWalkEnd::kTooMany;
}

std::string FinalPathOf(const std::string& path,
                        const std::function<bool(const std::string&)>& stopAt) {
  if (stopAt && stopAt(path)) return path;
  std::string current = path;
  int hops = 0;
  const LinkWalkEnd end = WalkLinks(path, [&](const std::string& next) {
    current = next;
    // The last link's target is never tried: a chain that long is taken for a loop.
    return ++hops == kMostLinkHops || !(stopAt && stopAt(next));
  });
  return end == LinkWalkEnd::kTooMany ? path : current;
}

}  // namespace quorvel

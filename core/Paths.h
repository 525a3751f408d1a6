// Paths and links: where the program's files lie, joining and taking paths apart, following a
// file's symbolic links and telling a link another user planted.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

// The folder of the running executable, with its trailing "/". Never the working directory.
std::string ExecutableDir();

// Joins a folder and a file name ("dir" + "/" + name, without doubling the slash).
std::string JoinPath(const std::string& dir, const std::string& name);
// The folder part of a path ("." when it has none, "/" for a file in the root) and its last part.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

// The file a path finally names: the symbolic links of its last part followed, also one that
// points nowhere (a writer creates the file it points to), stopping early where `stopAt` says so.
// A loop gives the path back unchanged (opening it then fails with ELOOP).
std::string FinalPathOf(const std::string& path,
                        const std::function<bool(const std::string&)>& stopAt = {});

// How a walk along a chain of symbolic links ended.
enum class LinkWalkEnd {
  kFinal,       // at a path that is no symbolic link (or where nothing is)
  kStopped,     // `hop` said stop
  kUnreadable,  // at a link whose target cannot be read
  kTooMany,     // kMostLinkHops links followed: taken for a loop
};
inline constexpr int kMostLinkHops = 40;
// The one walk along a path's symbolic links: from `path`, calls `hop` with the path each link
// leads to (a relative target taken from the link's own folder), at most kMostLinkHops times;
// `hop` returning false stops the walk there.
LinkWalkEnd WalkLinks(const std::string& path, const std::function<bool(const std::string&)>& hop);

bool IsExistingFile(const std::string& path);  // a regular file (a folder does not count)
bool PathExists(const std::string& path);      // anything at all, a dangling link excluded

// A folder other users may write: writable by its group or by all, or another user's (root's
// excepted).
bool IsSharedFolder(const std::string& dir);
// Why the file at `path` must not be used: it is a symbolic link that another user (not root)
// made in a shared folder, which could make this user's process read or write a file of its
// choosing. "" when nothing is wrong.
std::string ForeignLinkProblem(const std::string& path);

}  // namespace quorvel

// Reading files: opening only regular files, never blocking, and reading them whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace quorvel {

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

}  // namespace quorvel

#include "Errors.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace quorvel {

std::string InOutMessage(int code) {
  switch (code) {
    case kFileNotFound: return "File not found";
    case kInvalidFilename: return "Invalid filename";
    case kTooManyOpenFiles: return "Too many open files";
    case kAccessDenied: return "File access denied";
    case kReadBeyondEnd: return "Read beyond end of file";
    case kDiskFull: return "Disk full";
    case kInvalidNumericInput: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
  }
}

InOutError::InOutError(int code) : Error(InOutMessage(code)), code_(code) {}

FileOpenError::FileOpenError(const std::string& path, int errnoValue)
    : Error("Cannot open file \"" + path + "\". " + std::strerror(errnoValue)) {}

ListIndexError::ListIndexError(long index)
    : Error("List index out of bounds (" + std::to_string(index) + ")") {}

ConvertError::ConvertError(const std::string& text)
    : Error("'" + text + "' is not a valid integer value") {}

ConversionCancelled::ConversionCancelled() : Error("Conversion cancelled") {}

static bool FolderOfPathExists(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;  // relative name in the working folder
  std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int InOutCodeFromErrno(int e, const std::string& path) {
  switch (e) {
    case ENOENT:
      return !path.empty() && !FolderOfPathExists(path) ? kInvalidFilename : kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
      return kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return kAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    default:
      return e;
  }
}

void ThrowInOut(int errnoValue, const std::string& path) {
  throw InOutError(InOutCodeFromErrno(errnoValue, path));
}

std::string WithFullStop(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) <= '.') return message;
  return message + ".";
}

}  // namespace quorvel

#include "Errors.h"

#include <sys/stat.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Paths.h"

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
    default:
      if (code >= kOsErrorBase)
        return "I/O error " + std::to_string(code - kOsErrorBase) + " (" +
               ErrnoWords(code - kOsErrorBase) + ")";
      return "I/O error " + std::to_string(code);
  }
}

std::string ErrnoWords(int e) {
  // The usual English wording, fixed here so that messages do not follow the locale (the
  // window sets one) and read the same on every machine.
  switch (e) {
    case EPERM: return "Operation not permitted";
    case ENOENT: return "No such file or directory";
    case EINTR: return "Interrupted system call";
    case EIO: return "Input/output error";
    case ENXIO: return "No such device or address";
    case EBADF: return "Bad file descriptor";
    case EAGAIN: return "Resource temporarily unavailable";
    case ENOMEM: return "Cannot allocate memory";
    case EACCES: return "Permission denied";
    case EFAULT: return "Bad address";
    case EBUSY: return "Device or resource busy";
    case EEXIST: return "File exists";
    case EXDEV: return "Invalid cross-device link";
    case ENODEV: return "No such device";
    case ENOTDIR: return "Not a directory";
    case EISDIR: return "Is a directory";
    case EINVAL: return "Invalid argument";
    case ENFILE: return "Too many open files in system";
    case EMFILE: return "Too many open files";
    case ENOTTY: return "Inappropriate ioctl for device";
    case ETXTBSY: return "Text file busy";
    case EFBIG: return "File too large";
    case ENOSPC: return "No space left on device";
    case ESPIPE: return "Illegal seek";
    case EROFS: return "Read-only file system";
    case EMLINK: return "Too many links";
    case EPIPE: return "Broken pipe";
    case ENAMETOOLONG: return "File name too long";
    case ENOLCK: return "No locks available";
    case ENOSYS: return "Function not implemented";
    case ENOTEMPTY: return "Directory not empty";
    case ELOOP: return "Too many levels of symbolic links";
    case ENODATA: return "No data available";
    case EOVERFLOW: return "Value too large for defined data type";
    case EILSEQ: return "Invalid or incomplete multibyte or wide character";
    case EOPNOTSUPP: return "Operation not supported";
    case ECONNRESET: return "Connection reset by peer";
    case ENOTCONN: return "Transport endpoint is not connected";
    case ETIMEDOUT: return "Connection timed out";
    case EHOSTDOWN: return "Host is down";
    case ESTALE: return "Stale file handle";
    case EUCLEAN: return "Structure needs cleaning";
    case EREMOTEIO: return "Remote I/O error";
    case EDQUOT: return "Disk quota exceeded";
    case ENOMEDIUM: return "No medium found";
    case ECANCELED: return "Operation canceled";
    case 0: return "Success";
    default: return "Unknown error " + std::to_string(e);
  }
}

namespace {
std::string InOutText(int code, const std::string& path, int errnoValue) {
  std::string text = InOutMessage(code);
  if (path.empty()) return text;
  // The code's message names the cause already for these, and an OS error carries its words.
  const bool causeShown = errnoValue == 0 || code == kFileNotFound || code == kTooManyOpenFiles ||
                          (code == kDiskFull && errnoValue == ENOSPC) || code >= kOsErrorBase;
  if (code == kInvalidFilename && errnoValue == ENOENT)
    text += " (a folder on the path does not exist)";
  else if (!causeShown) text += " (" + ErrnoWords(errnoValue) + ")";
  return text + ": \"" + path + "\"";
}
}  // namespace

InOutError::InOutError(int code, const std::string& path, int errnoValue)
    : Error(InOutText(code, path, errnoValue)), code_(code) {}

FileOpenError::FileOpenError(const std::string& path, int errnoValue)
    : Error("Cannot open file \"" + path + "\". " + ErrnoWords(errnoValue)), errno_(errnoValue) {}

FileOpenError::FileOpenError(const std::string& path, const std::string& reason, int errnoValue)
    : Error("Cannot open file \"" + path + "\". " + reason), errno_(errnoValue) {}

ListIndexError::ListIndexError(long index)
    : Error("List index out of bounds (" + std::to_string(index) + ")") {}

NumberFormatError::NumberFormatError(const std::string& text)
    : Error("'" + text + "' is not a valid integer value") {}

static std::string GaveUp(const std::string& waitMessage, double seconds) {
  char waited[32];
  std::snprintf(waited, sizeof waited, "%g", std::round(seconds * 10) / 10);  // "30", "1.5"
  return "Gave up " + waitMessage + " after " + waited + " s";
}

LockWaitError::LockWaitError(const std::string& waitMessage, double seconds)
    : Error(GaveUp(waitMessage, seconds)) {}

ConversionCancelled::ConversionCancelled() : Error("Conversion cancelled") {}

static bool FolderOfPathExists(const std::string& path) {
  if (path.find('/') == std::string::npos) return true;  // relative name in the working folder
  struct stat st {};
  return ::stat(FolderOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int InOutCodeFromErrno(int e, const std::string& path) {
  switch (e) {
    case ENOENT:
      return !path.empty() && !FolderOfPathExists(path) ? kInvalidFilename : kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP: return kInvalidFilename;
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return kAccessDenied;
    case ENOSPC:
    case EDQUOT: return kDiskFull;
    default: return kOsErrorBase + e;
  }
}

void ThrowInOut(int errnoValue, const std::string& path) {
  throw InOutError(InOutCodeFromErrno(errnoValue, path), path, errnoValue);
}

namespace {
WarningHandler gWarningHandler = nullptr;
}  // namespace

void SetWarningHandler(WarningHandler handler) { gWarningHandler = handler; }

void Warn(const std::string& message) {
  if (gWarningHandler) gWarningHandler(message);
  else std::fprintf(stderr, "quorvel: warning: %s\n", message.c_str());
}

std::string WithFullStop(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) <= '.') return message;
  return message + ".";
}

}  // namespace quorvel

// Errors raised by the engine. Each carries its final, user-facing message text;
// windows show it in the standard error box, the command-line converter prints it and exits 1.
// Nothing in core returns error codes: a failure ends the operation under way.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvel {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file operation failed; the message is the one for the system's input-output code
// ("File not found", "Disk full", ...) or, for an operating-system error the system has no code
// of its own for, "I/O error <errno> (<cause in words>)". With the file it was about, the message
// names it and, where the code's message leaves the cause open, the cause:
// File access denied (Is a directory): "/home/li/out.txt".
class InOutError : public Error {
 public:
  explicit InOutError(int code, const std::string& path = {}, int errnoValue = 0);
  int Code() const { return code_; }

 private:
  int code_;
};

// "Cannot open file "<path>". <reason>": a file that exists could not be opened or read.
class FileOpenError : public Error {
 public:
  FileOpenError(const std::string& path, int errnoValue);
  FileOpenError(const std::string& path, const std::string& reason, int errnoValue = 0);
  int Errno() const { return errno_; }

 private:
  int errno_;
};

// "List index out of bounds (<index>)": a key list line whose partner list has no such line.
class ListIndexError : public Error {
 public:
  explicit ListIndexError(long index);
};

// "'<text>' is not a valid integer value".
class NumberFormatError : public Error {
 public:
  explicit NumberFormatError(const std::string& text);
};

// A lock another process held was waited for until the waiting gave up: "Gave up <wait message>
// after N s".
class LockWaitError : public Error {
 public:
  LockWaitError(const std::string& waitMessage, double seconds);
};

// A run stopped at the user's request. Thrown by a progress callback (BatchConversion's
// ProgressFn) and passed through by the engine like any failure; the window words its own message.
class ConversionCancelled : public Error {
 public:
  ConversionCancelled();
};

// Input-output codes with fixed messages of their own.
enum InOutCode : int {
  kFileNotFound = 2,
  kInvalidFilename = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kReadBeyondEnd = 100,
  kDiskFull = 101,
  kInvalidNumericInput = 106,
};
// Codes from kOsErrorBase up stand for an errno value without an input-output code of its own
// (kOsErrorBase + errno), so an errno never reads as the input-output code of the same number
// (EIO is 5, kAccessDenied is 5 too and reads "File access denied").
inline constexpr int kOsErrorBase = 0x10000;
std::string InOutMessage(int code);

// The cause of an errno value in words, from a fixed table (not the locale's strerror):
// "Bad file descriptor", "Input/output error", ...
std::string ErrnoWords(int errnoValue);

// Maps an errno value to the system's input-output code by cause. `path` is the file the
// operation was about: ENOENT on a path whose folder is missing is "Invalid filename". An errno
// without a system code gives kOsErrorBase + errno.
int InOutCodeFromErrno(int errnoValue, const std::string& path = {});

// Throws the InOutError of an errno value, naming `path` (when given) and the cause.
[[noreturn]] void ThrowInOut(int errnoValue, const std::string& path = {});

// Warnings: something passed over that the user should hear of, the operation going on. By
// default each goes to standard error as "quorvel: warning: <message>"; a program may route them
// elsewhere (nullptr restores the default).
using WarningHandler = void (*)(const std::string& message);
void SetWarningHandler(WarningHandler handler);
void Warn(const std::string& message);

// The text shown in the error box: a full stop is appended unless the message's last byte
// sorts at or before "." (so "Disk full" becomes "Disk full.", "(3)" and "..." stay).
std::string WithFullStop(const std::string& message);

}  // namespace quorvel

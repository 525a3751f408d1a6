// The messages of operating-system errors: the fixed text of an input-output code where one
// exists, the cause in words for every other errno, never a bare number that reads as another code.
#include <gtest/gtest.h>

#include <cerrno>

#include "Errors.h"

using namespace quorvel;

TEST(Errors, EveryErrnoReadsAsItsCause) {
  struct Row {
    int errnoValue;
    const char* message;
    const char* why;
  } rows[] = {
      {ENOENT, "File not found", "a fixed message of the system"},
      {EACCES, "File access denied", "a fixed message of the system"},
      {EISDIR, "File access denied", "a folder where a file should be"},
      {ENOSPC, "Disk full", "a fixed message of the system"},
      {EFBIG, "I/O error 27 (File too large)", "past the file size limit"},
      {EMFILE, "Too many open files", "a fixed message of the system"},
      {ENAMETOOLONG, "Invalid filename", "a fixed message of the system"},
      {EBADF, "I/O error 9 (Bad file descriptor)", "a closed descriptor"},
      {EAGAIN, "I/O error 11 (Resource temporarily unavailable)",
       "non-blocking input with nothing ready"},
      {EIO, "I/O error 5 (Input/output error)",
       "errno 5 is not the system's code 5, access denied"},
      {EINTR, "I/O error 4 (Interrupted system call)", "errno 4 is not the system's code 4"},
      {ESTALE, "I/O error 116 (Stale file handle)", "a network file system"},
      {EPIPE, "I/O error 32 (Broken pipe)", "a reader gone"},
      {4095, "I/O error 4095 (Unknown error 4095)", "outside the table: still not a bare number"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(InOutError(InOutCodeFromErrno(row.errnoValue)).what(), std::string(row.message));
  }
  EXPECT_EQ(FileOpenError("/x", EACCES).what(),
            std::string("Cannot open file \"/x\". Permission denied"));
}

// With the file it was about, the message names the file and, where the system's message leaves
// it open, the cause.
TEST(Errors, AFileMessageNamesTheFileAndItsCause) {
  struct Row {
    int errnoValue;
    std::string path;
    const char* message;
  } rows[] = {
      {EISDIR, "/data/out.txt", "File access denied (Is a directory): \"/data/out.txt\""},
      {EACCES, "/data/out.txt", "File access denied (Permission denied): \"/data/out.txt\""},
      {EROFS, "/media/cd/out.txt",
       "File access denied (Read-only file system): \"/media/cd/out.txt\""},
      {ENOENT, "out.txt", "File not found: \"out.txt\""},
      {ENOENT, "/no/such/folder/out.txt",
       "Invalid filename (a folder on the path does not exist): \"/no/such/folder/out.txt\""},
      {ENOSPC, "/data/out.txt", "Disk full: \"/data/out.txt\""},
      {EDQUOT, "/data/out.txt", "Disk full (Disk quota exceeded): \"/data/out.txt\""},
      {EFBIG, "/data/out.txt", "I/O error 27 (File too large): \"/data/out.txt\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    try {
      ThrowInOut(row.errnoValue, row.path);
    } catch (const InOutError& e) {
      EXPECT_EQ(e.what(), std::string(row.message));
      EXPECT_EQ(e.Code(), InOutCodeFromErrno(row.errnoValue, row.path));
    }
  }
}

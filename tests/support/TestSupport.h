// Small helpers shared by the engine's tests: temporary data folders, file writing, and GBK text
// written as UTF-8 literals in the test source.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "CustomDictionary.h"
#include "ReadingLookup.h"

namespace quorvel {
// Dictionary entries in failure messages: key and reading as UTF-8.
void PrintTo(const DictionaryEntry& entry, std::ostream* out);
}  // namespace quorvel

namespace quorvel::test {

// GB18030 bytes of a UTF-8 literal ("单" -> "\xB5\xA5", as in GBK). Aborts the test program on text
// iconv cannot convert.
std::string G(std::string_view utf8);
// UTF-8 of GB18030 bytes, for readable failure messages.
std::string U(std::string_view gbk);

// A fresh folder under $TMPDIR, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);
// Where two texts of many lines first differ: "" when they are equal, else the line number (from
// 1) with both lines, shortened and escaped, and both line counts. For large outputs, whose whole
// diff would be unreadable and costly: EXPECT_EQ(FirstDifferentLine(actual, expected), "").
std::string FirstDifferentLine(std::string_view actual, std::string_view expected);
// Lines joined with CR LF, each terminated, as the system writes list files.
std::string CrLf(const std::vector<std::string>& lines);

// The names of what a folder holds. The data folder's lock file is left out unless asked for: it
// appears with the first load or write and stays, holding nothing.
enum class LockFile { kLeftOut, kListed };
std::set<std::string> FolderContents(const std::string& dir, LockFile lock = LockFile::kLeftOut);
// The folder holding the installed list files of this build (beside the programs).
std::string BuildBinDir();
// Copies the six installed list files of this build into `dir`.
void CopyInstalledLists(const std::string& dir);
// The source tree's root.
std::string SourceDir();

// Another process holding `dir`/.quorvel.lock exclusively, as a Quorvel writer does, from the
// constructor's return for `seconds` (or until the object goes, which ends the process).
class LockHolder {
 public:
  LockHolder(const std::string& dir, double seconds);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  int Pid() const { return pid_; }

 private:
  int pid_ = -1;
};

// Lookup options from two flags: all readings, Wade-Giles.
LookupOptions Options(bool all, bool wadeGiles);
// The reading of `key` right now: the lists refreshed, then looked up.
std::string ReadingNow(ListFiles& lists, std::string_view key, const LookupOptions& options = {},
                       KeyRole role = KeyRole::kGivenName);

}  // namespace quorvel::test

// File helpers shared by the engine and the windows: where the program's files lie, reading a
// file whole, splitting text into lines and trimming them, and replacing files without ever
// leaving a torn one.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// The folder of the running executable, with its trailing "/". Never the working directory.
std::string ExecutableDir();

// Joins a folder and a file name ("dir" + "/" + name, without doubling the slash).
std::string JoinPath(const std::string& dir, const std::string& name);

bool IsExistingFile(const std::string& path);    // a regular file (a folder does not count)
bool PathExists(const std::string& path);        // anything at all, a dangling link excluded

// Reads a file whole. Throws FileOpenError when the file exists but cannot be opened or read
// (a folder standing where the file should be included); `*missing` is set instead of throwing
// when nothing is there at all.
std::string ReadWholeFile(const std::string& path, bool* missing = nullptr);

// Appends what an open file descriptor holds to `out`, reading on until its end or until `out`
// holds at least `maxBytes`. Returns 0, or the errno of a failed read. Does not close `fd`.
int ReadFromDescriptor(int fd, std::string& out, size_t maxBytes = static_cast<size_t>(-1));

// Splits text into lines: a line ends at CR LF, a lone CR or a lone LF; a terminator after the
// last line adds no line; an empty line is an empty item; a NUL byte ends the text.
// No trimming and no conversion.
std::vector<std::string> SplitLines(std::string_view text);

// Calls `line` for each line, with the same rules as SplitLines, without copying.
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& line) {
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  size_t start = 0;
  const size_t n = text.size();
  const char* p = text.data();
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (c == '\r' || c == '\n') {
      line(text.substr(start, i - start));
      if (c == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) line(text.substr(start));
}

// The text without the bytes 0x00 to 0x20 at either end: the one trim rule of names and
// dictionary entries. GBK bytes of a Chinese character are all above 0x3F and the full-width
// space is A1 A1, so neither is ever cut.
std::string_view TrimControls(std::string_view text);

// Replaces each file with its new content so that a failure leaves every old file whole:
// all temporary files are written and synced first, then renamed over the old ones, then the
// folder is synced. On failure no temporary file is left behind and InOutError is thrown.
// All files must lie in one folder.
void ReplaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files);

// Test hook: when set, ReplaceFilesAtomically fails with this errno at the given step
// (0 = none). Steps: 1 creating the first temporary, 2 writing the second temporary,
// 3 renaming the second file.
void SetReplaceFailureForTest(int step, int errnoValue);

}  // namespace quorvel

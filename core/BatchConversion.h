// A names file in, a romanized file out, line for line.
//
// Either side may be "-" (kStandardStream): standard input, standard output. Every output line
// ends with CR LF. The source's encoding is detected (DetectEncoding); a Unicode source gives a
// UTF-8 target, a GB18030 (or GBK) one GB18030. The source is read a block at a time
// (Gb18030LineReader) while the target is written, so a run holds one source block, the line
// being read, one output block and little more, whatever the size and encoding; a line of more
// than kLongestLineBytes is an error naming its number. Standard input can be read only once: up
// to 4 MiB of it is held in memory, a longer one is copied into an unnamed scratch file first
// (deciding the encoding may need all of it), and a run of more than kLongestLineBytes bytes
// without a CR or LF ends it at once (an endless /dev/zero), before the target is touched.
//
// On one thread, the usual lines of a GB18030 or UTF-8 source (names written from pre-rendered
// forms) are taken many at a time, straight from the reader's block into the output, with the
// counts, checks and progress reports that one line at a time would give. A large UTF-16 source
// (1 MiB or more, on a machine of two cores or more) is converted on two threads: both convert a
// chunk of lines, then the calling thread writes them in order while the second reads the chunk
// after the next, so the output is the same byte for byte. Everything a caller sees happens on
// the calling thread, in line order, as on one: the progress callback, the line hook, the list
// files' checks (made while no other thread converts), the blocks written. The
// environment variable QUORVEL_THREADS=1 keeps a run on one thread, QUORVEL_THREADS=2 takes two
// whatever the size. A run with a LineWriter stays on one thread (the writer may hold state of its
// own).
//
// A target file is written whole: the run writes a new temporary file beside it (the final file
// of a symbolic link) and renames it over the target at the end, so a reader or a second run
// never sees a mix, and of two runs on one target the last to finish wins. A target that already
// existed keeps its permission bits (and, where allowed, its owner and group). A target that is
// no regular file after following its links (a device such as /dev/null, a pipe) is written in
// place, as a stream, and so is standard output; a path naming one of the program's own
// descriptors (/dev/stdout, /dev/fd/N, also through links) is written to that descriptor where it
// stands, so "> log" and ">> log" work as for "-".
//
// Failures: a source file that cannot be read raises FileOpenError ("Cannot open file ..."),
// standard input that cannot be read InOutError, a target that cannot be created InOutError, all
// before the target is touched. A failure while converting or writing a line raises too, and so
// does a cancel (ConversionCancelled from the progress callback). A failed or cancelled run never
// replaces a file that stood at the target (the source converted onto itself included); where no
// file stood, the whole lines converted before the failure are kept there. TargetLeft says which.
// No temporary file is left behind either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "Encoding.h"
#include "NameRomanizer.h"

struct stat;

namespace quorvel {

// The proposed target for a source: "_en" inserted before the first "." of the file name
// (names.old.txt -> names_en.old.txt; a hidden file's leading dot does not count); a name
// without "." gets "_en" appended. The folder part is never changed.
std::string ProposeTargetName(const std::string& sourcePath);

// Why `path` cannot be read as a names file, in words, or "" when it can: "No such file or
// directory" (then `*missing` is set), "Is a directory", "Is a named pipe (FIFO), not a file",
// "Is a device, not a file", "Permission denied", ... Opens nothing that blocks.
std::string SourceFileProblem(const std::string& path, bool* missing);

// Creates the one folder the target lies in, if missing; failure is ignored (as a rule it exists).
void CreateTargetFolder(const std::string& targetPath);

// Output is written in blocks: whenever the lines converted hold at least this many bytes, and
// at the end. A block stays in the processor's cache from its first line to its writing.
inline constexpr size_t kOutputBlockBytes = size_t{1} << 18;
// The list files are checked for changes before the first name, after every block written, at
// every progress report, and at least every kCheckEvery names: a dictionary edit finished before
// a block is written applies to every name written after that block.
inline constexpr size_t kCheckEvery = 4096;

// Lines done of lines total; called every 1024 lines during a run, and once at the end. It may
// throw (ConversionCancelled) to stop the run: the error passes through like any other failure.
using ProgressFn = std::function<void(size_t done, size_t total)>;

// Called for every line converted, in order: its number (from 1), the name line as read and the
// line written, both GBK and without a line end (the review of a run).
using LineFn = std::function<void(size_t number, std::string_view name, std::string_view output)>;

// A run's line hook and, if given, which lines it wants (the review's: NameReviewer::Watch):
// then the lines the watch certainly does not want are not handed to it, the rest are, in order
// with their numbers, on one thread as on two. Without a watch every line is.
struct LineHook {
  LineHook() = default;
  template <typename Fn, typename = std::enable_if_t<std::is_constructible_v<LineFn, Fn>>>
  LineHook(Fn&& call, const LineWatch* watch = nullptr)  // NOLINT: a LineFn is a LineHook
      : call(std::forward<Fn>(call)), watch(watch) {}
  LineFn call;
  const LineWatch* watch = nullptr;
};

struct BatchReport {
  size_t lines = 0;
  size_t linesWithMarker = 0;  // output lines holding "???": a character without a reading
  SourceEncoding encoding = SourceEncoding::kGb18030;
  // Damaged characters: invalid sequences of a Unicode source (a stray or damaged byte) and NUL
  // characters, each read as one character that gives "???".
  size_t invalidSequences = 0;
};

inline constexpr char kStandardStream[] = "-";

// What a run that failed or was cancelled left at its target.
struct TargetLeft {
  enum class Kind {
    kUntouched,    // nothing was written: the target is as it was (or absent)
    kEarlierKept,  // a file stood at the target and is kept unchanged
    kLinesKept,    // no file stood there; the target holds the first `lines` converted lines
    kStreamed,     // a stream (standard output, a device, a pipe) received `lines` lines
  };
  Kind kind = Kind::kUntouched;
  size_t lines = 0;
};

// For a program's main, before it opens any file: a standard descriptor (0, 1, 2) that is closed
// is opened on /dev/null, so no file opened later takes its number, and ConvertFile then refuses
// "-" for a closed stream with "Standard input is closed" / "Standard output is closed".
void GuardStandardStreams();

// A table source opened to be read a block at a time, as often as needed: the regular file, or
// standard input copied into an unnamed scratch file (a workbook is read out of order). A file
// that `targetPath` (if given) would write into where it is read, a descriptor of this process
// open on it, is copied aside first. A run of more than `longestLine` bytes (0: any length)
// without a line end in standard input ends the copy with the line's number. Returns the
// descriptor; `*isFile` tells whether `*fileStat` was filled in.
int OpenTableSource(const std::string& sourcePath, const std::string& targetPath,
                    struct stat* fileStat, bool* isFile, size_t longestLine = 0);
// Standard output's descriptor for a target "-"; Error "Standard output is closed" when it was.
int StandardOutput();

// Error, naming the files, when the mapping pair that Wade-Giles needs is missing, empty or
// damaged (one file holding more lines than the other). Refreshes the lists first.
void CheckWadeGilesMapping(ListFiles& lists);

// Writes one name line (GB18030) into `out` in place of the options' layout (the index forms).
using LineWriter = std::function<void(std::string& out, std::string_view line)>;

// Converts `sourcePath` into `targetPath`, each a file path or kStandardStream. A Wade-Giles run
// first checks the mapping pair (CheckWadeGilesMapping), before the target is touched. The caller
// has checked that a source path names a file (the window and the command line each word their own
// message otherwise) and created the target's folder (CreateTargetFolder). When the run fails,
// `left` (if given) says what the target holds before the error passes on. `writeLine` (if given)
// writes each line instead of the options' layout; `onLine` sees each line (that its watch may
// want) and its output.
BatchReport ConvertFile(ListFiles& lists, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress = {}, TargetLeft* left = nullptr,
                        const LineWriter& writeLine = {}, const LineHook& onLine = {});

// Writes `text` to a target by the same rules as a conversion's (links followed, a stream or
// device written in place, an earlier file replaced only whole, its mode kept; "-" standard
// output). InOutError on failure.
void WriteTextTarget(const std::string& targetPath, std::string_view text);

// The same for a text made while the target is written: `produce` is handed `write`, which takes
// whole lines and writes them out at once; the target is placed when `produce` returns. When it
// throws, nothing is placed (an earlier file stays as it was), and the error passes on.
using TextWrite = std::function<void(std::string_view lines)>;
void StreamTextTarget(const std::string& targetPath,
                      const std::function<void(const TextWrite& write)>& produce);

// How WriteTarget fills a target.
struct TargetWrite {
  // Writes the whole content to `fd` (named `name` in messages). `path` is the new temporary file
  // behind `fd` when there is one, empty when the target is written in place as a stream.
  std::function<void(int fd, const std::string& name, const std::string& path)> write;
};

// The target rules of a conversion for any other writer (tables): the target is whole or not
// written at all: a failure or a cancel leaves an earlier file as it was and no new file where
// none stood; a device, pipe or the program's own descriptor is written in place; a folder or a
// read-only file is refused with InOutError. `sourceStat` (when the source is a file) tells a
// target that is the source itself: it is synced before the rename. No temporary is left behind.
void WriteTarget(const std::string& targetPath, const struct stat* sourceStat,
                 const TargetWrite& how);

// Converts source bytes already in memory and writes the result to an open file descriptor
// (`targetName` names it in messages), as a stream; the descriptor stays open. On a failure the
// lines before it have been written, and no part of the failing line.
BatchReport ConvertBytes(ListFiles& lists, std::string_view source, int targetFd,
                         const std::string& targetName, const ConversionOptions& options,
                         const ProgressFn& progress = {}, const LineHook& onLine = {});

}  // namespace quorvel

#include "BatchConversion.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "Encoding.h"
#include "Errors.h"
#include "FileReading.h"
#include "Files.h"
#include "Paths.h"

namespace quorvel {

std::string ProposeTargetName(const std::string& sourcePath) {
  const size_t nameStart = sourcePath.size() - NameOf(sourcePath).size();
  // A hidden file's leading dot is part of its name, not the start of an extension.
  size_t searchFrom =
      nameStart < sourcePath.size() && sourcePath[nameStart] == '.' ? nameStart + 1 : nameStart;
  size_t dot = sourcePath.find('.', searchFrom);
  if (dot == std::string::npos) return sourcePath + "_en";
  return sourcePath.substr(0, dot) + "_en" + sourcePath.substr(dot);
}

std::string SourceFileProblem(const std::string& path, bool* missing) {
  std::string reason;
  const int fd = OpenRegularFile(path, &reason);
  *missing = fd < 0 && errno == ENOENT;
  if (fd >= 0) ::close(fd);
  return reason;
}

void CreateTargetFolder(const std::string& targetPath) {
  if (targetPath.find('/') == std::string::npos) return;  // in the working folder
  const std::string folder = FolderOf(targetPath);
  if (folder != "/") ::mkdir(folder.c_str(), 0777);  // failure ignored: as a rule it exists
}

namespace {

bool gStdinClosed = false;
bool gStdoutClosed = false;

class Output {
 public:
  Output(int fd, const std::string& name) : fd_(fd), name_(name) {
    buf_.reserve(kOutputBlockBytes + 4096);
  }

  std::string& Buffer() { return buf_; }
  int Descriptor() const { return fd_; }
  const std::string& Name() const { return name_; }

  // Bytes written so far up to the end of the last whole line among them.
  uint64_t WholeLineBytes() const { return wholeLineBytes_; }
  size_t WholeLines() const { return wholeLines_; }

  // Writes the buffer once it holds a whole block; true when it did.
  bool MaybeFlush() {
    if (buf_.size() < kOutputBlockBytes) return false;
    Flush();
    return true;
  }

  // Writes the buffer, which holds whole lines only.
  void Flush() {
    const char* p = buf_.data();
    size_t left = buf_.size();
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        int e = errno;
        size_t lastEnd =
            std::string_view(buf_.data(), static_cast<size_t>(p - buf_.data())).rfind('\n');
        if (lastEnd != std::string_view::npos) {
          wholeLineBytes_ += lastEnd + 1;
          wholeLines_ += LineCount(std::string_view(buf_.data(), lastEnd + 1));
        }
        buf_.clear();
        ThrowInOut(e, name_);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    wholeLineBytes_ += buf_.size();
    wholeLines_ += LineCount(buf_);
    buf_.clear();
  }

 private:
  int fd_;
  const std::string& name_;
  std::string buf_;
  uint64_t wholeLineBytes_ = 0;
  size_t wholeLines_ = 0;

  static size_t LineCount(std::string_view text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  }
};

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// A names source: bytes in memory, or a regular file read block by block.
struct Source {
  std::string bytes;
  int fd = -1;
  std::string name;
  Source() = default;
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source() {
    if (fd >= 0) ::close(fd);
  }
};

BatchReport ConvertInto(ListFiles& lists, const Source& source, Output& out,
                        const ConversionOptions& options, const ProgressFn& progress,
                        const LineWriter& writeLine = {}, const LineFn& onLine = {}) {
  BatchReport report;
  report.encoding = source.fd >= 0 ? DetectFileEncoding(source.fd) : DetectEncoding(source.bytes);
  const bool unicodeTarget = report.encoding != SourceEncoding::kGb18030;
  // A GB18030 source is used in place; a Unicode one is decoded a line at a time.
  std::optional<Gb18030LineReader> reader;
  if (source.fd >= 0) reader.emplace(source.fd, report.encoding, source.name);
  else reader.emplace(source.bytes, report.encoding);
  Gb18030LineReader& lines = *reader;

  const size_t total = progress ? lines.CountLines() : 0;
  constexpr size_t kProgressEvery = 1 << 10;  // often enough for a cancel to land at once
  NameConverter converter(lists, options);
  std::string& buf = out.Buffer();
  size_t lineStart = 0;
  size_t sinceCheck = 0;
  try {
    // The list files are checked for changes where anyone could tell: before the first name,
    // after every block written (output is invisible until then, so an edit finished before a
    // block went out applies to every name written after it), at every progress report, and at
    // least every kCheckEvery names. Each name is converted against one state of the lists.
    lists.Refresh();
    std::string_view line;
    while (lines.Next(&line)) {
      if (sinceCheck == kCheckEvery) {
        lists.Refresh();
        sinceCheck = 0;
      }
      lineStart = buf.size();
      if (writeLine) writeLine(buf, line);
      else converter.Append(buf, line);
      if ((writeLine || converter.MayHoldMarker()) &&
          std::string_view(buf).substr(lineStart).find(kNoReading) != std::string_view::npos)
        ++report.linesWithMarker;
      if (onLine) onLine(report.lines + 1, line, std::string_view(buf).substr(lineStart));
      if (unicodeTarget && !IsAscii(std::string_view(buf).substr(lineStart))) {
        std::string utf8 = Gb18030ToUtf8(std::string_view(buf).substr(lineStart));
        buf.resize(lineStart);
        buf += utf8;
      }
      buf += "\r\n";
      lineStart = buf.size();
      ++report.lines;
      ++sinceCheck;
      bool check = out.MaybeFlush();
      if (progress && report.lines % kProgressEvery == 0) {
        progress(report.lines, total);
        check = true;
      }
      if (check) {
        lists.Refresh();
        sinceCheck = 0;
      }
    }
  } catch (...) {
    // The lines converted before the failure are written; no part of the failing one.
    if (lineStart <= buf.size()) buf.resize(lineStart);
    try {
      out.Flush();
    } catch (...) {
    }
    throw;
  }
  out.Flush();
  report.invalidSequences = lines.InvalidSequences();
  if (progress) progress(report.lines, total);
  return report;
}

// A path that names one of this process's own descriptors: /dev/fd/N, /proc/self/fd/N or
// /proc/<own pid>/fd/N, also at the end of a chain of links (/dev/stdout is a link to
// /proc/self/fd/1). Returns N, or -1.
int OwnDescriptorNamed(const std::string& path) {
  const std::string pid = std::to_string(::getpid());
  const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                  "/proc/" + pid + "/fd/"};
  for (const std::string& prefix : prefixes) {
    if (!path.starts_with(prefix) || path.size() == prefix.size() ||
        path.size() > prefix.size() + 9)
      continue;
    int fd = 0;
    for (char c : std::string_view(path).substr(prefix.size())) {
      if (c < '0' || c > '9') return -1;
      fd = fd * 10 + (c - '0');
    }
    return fd;
  }
  return -1;
}

// Where a target path finally leads: its final file (FinalPathOf), or one of this process's
// descriptors (`*descriptor` >= 0) when the chain of links passes through one.
std::string FinalTargetOf(const std::string& path, int* descriptor) {
  *descriptor = -1;
  return FinalPathOf(path, [descriptor](const std::string& hop) {
    return (*descriptor = OwnDescriptorNamed(hop)) >= 0;
  });
}

// Writes a target's content into `out`; `tempPath` is the new file behind it when there is one,
// empty when the target is written as a stream.
using Producer = std::function<void(Output& out, const std::string& tempPath)>;

// Writes into an open descriptor as a stream; on a failure `left` tells how many lines went out.
void StreamInto(int fd, const std::string& name, const Producer& produce, TargetLeft* left) {
  IgnoreFileSizeSignal();
  Output out(fd, name);
  try {
    produce(out, {});
  } catch (...) {
    if (left) *left = {TargetLeft::Kind::kStreamed, out.WholeLines()};
    throw;
  }
}

// Writes to `path` in place, as a stream (devices, pipes, and the fallback below).
void WriteInPlace(const std::string& path, const Producer& produce, TargetLeft* left) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowInOut(errno, path);
  try {
    StreamInto(fd, path, produce, left);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) ThrowInOut(errno, path);
}

// An unnamed scratch file for a whole run: in the temporary folder where it can be made, else in
// memory. -1 with errno set when neither can.
int ScratchFile() {
  const char* tmp = std::getenv("TMPDIR");
  int fd = ::open(tmp && *tmp == '/' ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  return fd >= 0 ? fd : ::memfd_create("quorvel-target", MFD_CLOEXEC);
}

// A regular file that may be written but not replaced (its folder takes no new file): the run goes
// into a scratch file first, and only a run that succeeded is copied over the target, so a failed
// or cancelled one leaves it as it was.
void WriteOverWhenDone(const std::string& path, const Producer& produce, TargetLeft* left) {
  const int scratch = ScratchFile();
  if (scratch < 0) ThrowInOut(errno, path);
  Output out(scratch, path);
  try {
    produce(out, {});
  } catch (...) {
    ::close(scratch);
    if (left) *left = {TargetLeft::Kind::kEarlierKept, 0};
    throw;
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  int e = fd < 0 ? errno : 0;
  if (fd >= 0) {
    std::string block;
    ::lseek(scratch, 0, SEEK_SET);
    for (;;) {
      block.clear();
      if ((e = ReadFromDescriptor(scratch, block, kOutputBlockBytes)) != 0 || block.empty()) break;
      if (!WriteAllBytes(fd, block)) {
        e = errno;
        break;
      }
    }
    if (::close(fd) != 0 && e == 0) e = errno;
  }
  ::close(scratch);
  if (e != 0) ThrowInOut(e, path);
}

// Writes to a descriptor of this process that a target path named, where it stands: "> log"
// goes on at its offset, ">> log" appends.
void WriteToOwnDescriptor(int fd, const std::string& path, const Producer& produce,
                          TargetLeft* left) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) ThrowInOut(EBADF, path);
  if ((flags & O_ACCMODE) == O_RDONLY) ThrowInOut(EBADF, path);
  StreamInto(fd, path, produce, left);
}

// The identity of the source file, to tell when the target is the source itself.
struct SourceIdentity {
  bool known = false;
  dev_t dev = 0;
  ino_t ino = 0;
};

// A target written by the rules in BatchConversion.h: `produce` writes the content. Where no file
// stood, `keepPartial` keeps the whole lines written before a failure, else nothing is left.
void WriteTargetBy(const std::string& targetPath, const SourceIdentity& source,
                   const Producer& produce, TargetLeft* left, bool keepPartial = true) {
  int descriptor = -1;
  const std::string finalPath = FinalTargetOf(targetPath, &descriptor);
  if (descriptor >= 0) return WriteToOwnDescriptor(descriptor, targetPath, produce, left);
  struct stat targetStat {};
  const bool exists = ::stat(finalPath.c_str(), &targetStat) == 0;
  if (exists && S_ISDIR(targetStat.st_mode)) ThrowInOut(EISDIR, targetPath);
  if (exists && !S_ISREG(targetStat.st_mode)) return WriteInPlace(targetPath, produce, left);
  // A read-only target is refused, as writing it in place would be, not silently replaced.
  if (exists && ::faccessat(AT_FDCWD, finalPath.c_str(), W_OK, AT_EACCESS) != 0)
    ThrowInOut(errno, targetPath);
  const bool targetIsSource =
      exists && source.known && targetStat.st_dev == source.dev && targetStat.st_ino == source.ino;

  std::string tempPath;
  RemoveDeadTargetTemporaries(FolderOf(finalPath));
  const int fd = CreateTargetTemporary(FolderOf(finalPath), NameOf(finalPath), tempPath);
  if (fd < 0) {
    const int e = errno;
    // A writable file in a folder that takes no new file: written over once the run is done, as
    // it always could be; but never the source itself, whose names a failure part way would lose.
    if (exists && !targetIsSource && (e == EACCES || e == EPERM))
      return WriteOverWhenDone(targetPath, produce, left);
    ThrowInOut(e, targetPath);
  }
  if (exists) {
    if (targetStat.st_uid != ::geteuid() || targetStat.st_gid != ::getegid()) {
      if (::fchown(fd, targetStat.st_uid, targetStat.st_gid) != 0) {
        // Not allowed (an ordinary user may not give a file away): the run goes on, the new
        // file stays the user's.
      }
    }
    ::fchmod(fd, targetStat.st_mode & 07777);
  }

  Output out(fd, targetPath);
  try {
    produce(out, tempPath);
    // Replacing the source itself, the new text must be on the disk before the names go: a
    // power cut must not leave an empty file. Any other target can be made again from its
    // source, so a run does not wait for the disk there.
    if (targetIsSource && ::fsync(fd) != 0) ThrowInOut(errno, targetPath);
  } catch (...) {
    // An earlier file is never replaced by a part of the run (the source converted onto itself
    // keeps every name); where there was none, the whole lines converted before the failure are
    // kept, as a stream would have left them.
    bool placed = false;
    if (!exists && keepPartial && ::ftruncate(fd, static_cast<off_t>(out.WholeLineBytes())) == 0) {
      placed = ::close(fd) == 0 && ::rename(tempPath.c_str(), finalPath.c_str()) == 0;
    } else {
      ::close(fd);
    }
    if (!placed) ::unlink(tempPath.c_str());
    if (left) {
      *left = exists   ? TargetLeft{TargetLeft::Kind::kEarlierKept, 0}
              : placed ? TargetLeft{TargetLeft::Kind::kLinesKept, out.WholeLines()}
                       : TargetLeft{};
    }
    throw;
  }
  if (::close(fd) != 0 || ::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
    const int e = errno;
    ::unlink(tempPath.c_str());
    if (left) *left = exists ? TargetLeft{TargetLeft::Kind::kEarlierKept, 0} : TargetLeft{};
    ThrowInOut(e, targetPath);
  }
  // The rename is durable once the folder is synced; a failure here loses nothing already done.
  if (targetIsSource) SyncFolder(FolderOf(finalPath));
}

}  // namespace

void GuardStandardStreams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDIN_FILENO) gStdinClosed = true;
    if (fd == STDOUT_FILENO) gStdoutClosed = true;
    // Lowest free number first: this takes exactly `fd`, as the lower ones are open already.
    int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

BatchReport ConvertBytes(ListFiles& lists, std::string_view source, int targetFd,
                         const std::string& targetName, const ConversionOptions& options,
                         const ProgressFn& progress, const LineFn& onLine) {
  Output out(targetFd, targetName);
  Source bytes;
  bytes.bytes = source;
  return ConvertInto(lists, bytes, out, options, progress, {}, onLine);
}

void CheckWadeGilesMapping(ListFiles& lists) {
  lists.Refresh();
  const std::string keys = lists.ListPath(kMappingPinyin),
                    spellings = lists.ListPath(kMappingWadeGiles);
  const size_t keyCount = lists.List(kMappingPinyin).size(),
               spellingCount = lists.List(kMappingWadeGiles).size();
  for (const auto& [path, count] :
       {std::pair{keys, keyCount}, std::pair{spellings, spellingCount}}) {
    if (count == 0)
      throw Error("Wade-Giles needs the syllable mapping \"" + path +
                  "\", which is missing or empty");
  }
  if (keyCount != spellingCount)
    throw Error("The syllable mapping is damaged: \"" + keys + "\" holds " +
                std::to_string(keyCount) + " syllables, \"" + spellings + "\" " +
                std::to_string(spellingCount) + " spellings");
}

std::string ReadSource(const std::string& sourcePath, struct stat* fileStat, bool* isFile) {
  std::string source;
  *isFile = false;
  if (sourcePath == kStandardStream) {
    if (gStdinClosed) throw Error("Standard input is closed");
    if (int e = ReadFromDescriptor(STDIN_FILENO, source)) ThrowInOut(e);
  } else {
    source = ReadWholeFile(sourcePath);
    *isFile = ::stat(sourcePath.c_str(), fileStat) == 0;
  }
  return source;
}

namespace {

// Standard input: held in memory when it is short, else copied into a scratch file, as a pipe
// can be read only once and deciding its encoding may need all of it. A run of more than
// kLongestLineBytes bytes without a CR or LF byte is a line too long in every encoding: it ends
// the reading (an endless /dev/zero included) with the line's number.
constexpr size_t kStandardInputInMemory = size_t{4} << 20;

// Copies what is left of `from` (after `pending`, bytes already read from it) into an unnamed
// scratch file, which becomes the source. `check` sees every block read.
void SpoolToScratch(Source& source, int from, std::string& pending,
                    const std::function<void(std::string_view)>& check) {
  const int scratch = ScratchFile();
  if (scratch < 0) ThrowInOut(errno, source.name);
  auto fail = [&](int e) {
    ::close(scratch);
    ThrowInOut(e, source.name);
  };
  for (;;) {
    if (!WriteAllBytes(scratch, pending)) fail(errno);
    pending.clear();
    if (int e = ReadFromDescriptor(from, pending, kSourceBlockBytes)) fail(e);
    if (pending.empty()) break;
    if (check) check(pending);
  }
  std::string().swap(pending);
  if (::lseek(scratch, 0, SEEK_SET) != 0) fail(errno);
  if (source.fd >= 0) ::close(source.fd);
  source.fd = scratch;
}

void OpenStandardInput(Source& source) {
  if (gStdinClosed) throw Error("Standard input is closed");
  source.name = "standard input";
  LineCounter lines;
  auto guard = [&](std::string_view block) {
    for (char c : block) {
      lines.Feed(static_cast<unsigned char>(c));
      if (lines.run > kLongestLineBytes)
        ThrowLineTooLong(lines.count + 1, source.name, kLongestLineBytes);
    }
  };
  std::string& buf = source.bytes;
  for (;;) {
    const size_t before = buf.size();
    if (int e = ReadFromDescriptor(STDIN_FILENO, buf, before + (size_t{1} << 16))) ThrowInOut(e);
    guard(std::string_view(buf).substr(before));
    if (buf.size() == before) return;  // the end, in memory
    if (buf.size() >= kStandardInputInMemory) break;
  }
  SpoolToScratch(source, STDIN_FILENO, buf, guard);
}

// The source of a conversion, opened but not read: a regular file, or standard input.
void OpenSource(const std::string& sourcePath, Source& source, struct stat* fileStat,
                bool* isFile) {
  *isFile = false;
  if (sourcePath == kStandardStream) return OpenStandardInput(source);
  std::string reason;
  source.fd = OpenRegularFile(sourcePath, &reason);
  if (source.fd < 0) throw FileOpenError(sourcePath, reason, errno);
  source.name = sourcePath;
  *isFile = ::fstat(source.fd, fileStat) == 0;
}

// True when the target is a descriptor of this process open on the source file itself ("-" or
// /dev/stdout with ">> names.txt"): written in place, it would be read back as more names, so the
// source is copied aside first.
bool WrittenIntoSource(const std::string& targetPath, const struct stat& source) {
  int fd = STDOUT_FILENO;
  if (targetPath != kStandardStream) FinalTargetOf(targetPath, &fd);
  struct stat st {};
  return fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == source.st_dev &&
         st.st_ino == source.st_ino;
}

}  // namespace

int StandardOutput() {
  if (gStdoutClosed) throw Error("Standard output is closed");
  return STDOUT_FILENO;
}

BatchReport ConvertFile(ListFiles& lists, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress, TargetLeft* left, const LineWriter& writeLine,
                        const LineFn& onLine) {
  if (left) *left = {};
  // The source is opened before the target is touched. It is read a block at a time while the
  // target is written: a target file is a new file until the end, so the two may be one file.
  struct stat sourceStat {};
  bool sourceIsFile = false;
  Source source;
  OpenSource(sourcePath, source, &sourceStat, &sourceIsFile);
  if (sourceIsFile && WrittenIntoSource(targetPath, sourceStat)) {
    std::string none;
    SpoolToScratch(source, source.fd, none, {});
  }
  if (options.romanization == Romanization::kWadeGiles) CheckWadeGilesMapping(lists);
  BatchReport report;
  const Producer produce = [&](Output& out, const std::string&) {
    report = ConvertInto(lists, source, out, options, progress, writeLine, onLine);
  };
  if (targetPath == kStandardStream) {
    StreamInto(StandardOutput(), "standard output", produce, left);
  } else {
    const SourceIdentity sourceId{sourceIsFile, sourceStat.st_dev, sourceStat.st_ino};
    WriteTargetBy(targetPath, sourceId, produce, left);
  }
  return report;
}

void WriteTarget(const std::string& targetPath, const struct stat* sourceStat,
                 const TargetWrite& how) {
  const SourceIdentity sourceId{sourceStat != nullptr, sourceStat ? sourceStat->st_dev : 0,
                                sourceStat ? sourceStat->st_ino : 0};
  const Producer produce = [&](Output& out, const std::string& tempPath) {
    out.Flush();
    how.write(out.Descriptor(), out.Name(), tempPath);
  };
  WriteTargetBy(targetPath, sourceId, produce, nullptr, /*keepPartial=*/false);
}

void WriteTextTarget(const std::string& targetPath, std::string_view text) {
  const Producer produce = [&](Output& out, const std::string&) {
    out.Buffer().assign(text);
    out.Flush();
  };
  if (targetPath == kStandardStream) {
    if (gStdoutClosed) throw Error("Standard output is closed");
    StreamInto(STDOUT_FILENO, "standard output", produce, nullptr);
  } else {
    WriteTargetBy(targetPath, {}, produce, nullptr);
  }
}

}  // namespace quorvel

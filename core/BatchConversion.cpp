#include "BatchConversion.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Encoding.h"
#include "Errors.h"
#include "FileReading.h"
#include "Files.h"
#include "Paths.h"
#include "TextLines.h"

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
  // kReplacing: a file that will be renamed over an earlier one (ext4 then writes all its pages
  // at once, and waits); its blocks start for the disk as they are written. kNew: a file that
  // takes no one's place, left to the kernel's own writeback, which a second core does later.
  // kByKind: any regular file (standard output redirected into one) starts them too.
  enum class Writeback { kByKind, kReplacing, kNew };
  Output(int fd, const std::string& name, Writeback writeback = Writeback::kByKind)
      : fd_(fd), name_(name) {
    buf_.reserve(kOutputBlockBytes + 4096);
    struct stat st {};
    startWriteback_ = writeback != Writeback::kNew && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  }

  std::string& Buffer() { return buf_; }
  int Descriptor() const { return fd_; }
  const std::string& Name() const { return name_; }

  // Bytes written so far up to the end of the last whole line among them.
  uint64_t WholeLineBytes() const { return wholeLineBytes_; }
  size_t WholeLines() const { return wholeLines_; }

  // The batch run tells of every whole line it puts into the buffer, which spares Flush counting
  // them; a writer that does not is counted.
  void LineAppended(size_t lines = 1) {
    bufferLines_ += lines;
    linesTold_ = true;
  }

  // Writes the buffer once it holds a whole block; true when it did.
  bool MaybeFlush() {
    if (buf_.size() < kOutputBlockBytes) return false;
    Flush();
    return true;
  }

  // Writes the buffer, which holds whole lines only.
  [[gnu::noinline]] void Flush() {  // once a block: kept out of the per-line code
    WriteAll(buf_);
    wholeLines_ += linesTold_ ? bufferLines_ : CountLineFeeds(buf_);
    bufferLines_ = 0;
    buf_.clear();
  }

  // Writes whole lines from where they are, without the buffer (which must be empty). They are
  // not counted: WholeLines() then tells only where a failed write stopped.
  void WriteUncounted(std::string_view text) { WriteAll(text); }

 private:
  // Writes `text` (whole lines), counting the bytes written; after a failure, the whole lines
  // written are counted too, the buffer is emptied, and the error thrown.
  void WriteAll(std::string_view text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        int e = errno;
        size_t lastEnd = text.substr(0, static_cast<size_t>(p - text.data())).rfind('\n');
        if (lastEnd != std::string_view::npos) {
          wholeLineBytes_ += lastEnd + 1;
          wholeLines_ += CountLineFeeds(text.substr(0, lastEnd + 1));
        }
        buf_.clear();
        bufferLines_ = 0;
        ThrowInOut(e, name_);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    // The file's new pages go to the disk while the next blocks are made (see the constructor),
    // a MiB at a time.
    unstarted_ += text.size();
    if (startWriteback_ && unstarted_ >= kWritebackBytes) {
      ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
      unstarted_ = 0;
    }
    wholeLineBytes_ += text.size();
  }

  int fd_;
  const std::string& name_;
  std::string buf_;
  uint64_t wholeLineBytes_ = 0;
  size_t wholeLines_ = 0;
  size_t bufferLines_ = 0;  // whole lines in buf_, when the writer tells them
  bool linesTold_ = false;
  static constexpr size_t kWritebackBytes = size_t{1} << 20;
  bool startWriteback_ = false;  // a regular file
  size_t unstarted_ = 0;         // bytes written since the writeback was last started
};

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

// From this size of a UTF-16 source on, a second thread converts half the lines (below it,
// starting the thread costs more than it saves).
constexpr size_t kTwoThreadsFromBytes = size_t{1} << 20;

// The source's size in bytes, to decide whether a second thread pays.
size_t SourceBytes(const Source& source) {
  struct stat st {};
  if (source.fd < 0) return source.bytes.size();
  return ::fstat(source.fd, &st) == 0 && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
}

// How many threads convert a source of `bytes`: QUORVEL_THREADS=1 or 2 says so whatever the
// size; otherwise two where the machine has two cores and a UTF-16 source is large enough for a
// second thread to pay. A GB18030 or UTF-8 source keeps one: one thread takes its usual lines many
// at a time (BatchRun::TakeRun) faster than two take them one by one (bench/README.md). A line
// writer of the caller's keeps one thread (it may hold state).
int ThreadsFor(size_t bytes, SourceEncoding encoding, bool lineWriter) {
  if (lineWriter) return 1;
  if (const char* wanted = std::getenv("QUORVEL_THREADS"); wanted && *wanted && !wanted[1]) {
    if (*wanted == '1') return 1;
    if (*wanted == '2') return 2;
  }
  const bool pays =
      (encoding == SourceEncoding::kUtf16Le || encoding == SourceEncoding::kUtf16Be) &&
      bytes >= kTwoThreadsFromBytes;
  return pays && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// A second thread that runs one task at a time, handed over by the calling thread, which waits
// for it before it touches anything the task uses. The task must not throw.
class Helper {
 public:
  Helper() : thread_([this] { Loop(); }) {}
  ~Helper() {
    Finish();
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  void Start(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      task_ = std::move(task);
      busy_ = true;
    }
    wake_.notify_one();
  }
  // Waits for the task to end. A task the thread has not begun yet is taken back unrun (on a busy
  // machine the thread may not be given a core for a while, and nothing is then waited for): false
  // then, and the caller does the work itself.
  bool Finish() {
    std::unique_lock lock(mutex_);
    if (task_) {
      task_ = nullptr;
      busy_ = false;
      return false;
    }
    done_.wait(lock, [&] { return !busy_; });
    return true;
  }
  // True when the last task handed over has ended (or none was).
  bool Idle() {
    std::lock_guard lock(mutex_);
    return !busy_;
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return task_ || stop_; });
      if (!task_) return;
      std::function<void()> task = std::move(task_);
      task_ = nullptr;
      lock.unlock();
      task();
      lock.lock();
      busy_ = false;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::function<void()> task_;  // handed over and not begun
  bool busy_ = false, stop_ = false;
  std::thread thread_;  // last: it starts once the rest is set up
};

// Name lines taken from the reader, converted together: at most kChunkLines lines, and the
// line that passes kChunkBytes ends it.
constexpr size_t kChunkLines = 4 * kCheckEvery;
constexpr size_t kChunkBytes = size_t{1} << 20;
// Lines a thread takes at a time from the lines of a chunk not yet taken.
constexpr size_t kClaimLines = 64;

// What one thread wrote: the target bytes of its lines (each with its CR LF) back to back, and
// for a Unicode target that a line hook sees, their GB18030 form too.
struct Part {
  std::string out, gbk;
};

// What one thread converts with and into, on cache lines of its own: a line written by both
// threads (a reading cache's state beside the other thread's output string) would bounce between
// the cores at every reading and slow both down.
struct alignas(64) Worker {
  Worker(const ListFiles& lists, const ConversionOptions& options, const LineWatch* watch)
      : converter(lists, options, watch) {}
  NameConverter converter;
  Part part;
};

// Where a line's bytes lie in the Part of the thread that converted it.
struct LineResult {
  uint8_t part = 0;
  bool marked = false;  // the output holds kNoReading
  bool seen = false;    // the line hook is handed the line
  size_t begin = 0, end = 0, gbkBegin = 0, gbkEnd = 0;
};

// The lines one thread took at once (kClaimLines, or the rest of the chunk), all converted: their
// bytes follow one another in its Part.
struct ClaimResult {
  size_t begin = 0, end = 0;  // the bytes of its lines in the Part
  uint32_t marked = 0;        // lines holding kNoReading
  uint32_t seen = 0;          // lines the line hook is handed
};

// On cache lines of its own too: the calling thread reads the next chunk while the other thread
// looks into this one.
struct alignas(64) Chunk {
  std::string names;             // the lines (GB18030) back to back, then scratch
  std::vector<size_t> nameEnds;  // where each ends in `names`
  std::exception_ptr readError;  // the reading failed after these lines
  bool last = false;             // no line follows these
  std::vector<LineResult> results;
  // The first line whose conversion failed (npos: none) and its error.
  std::atomic<size_t> failedLine{std::string::npos};
  std::exception_ptr failure;
  std::mutex failureMutex;

  // The claims of the last conversion, by (first line - claimsFrom) / kClaimLines; one that a
  // failure stopped is left as it was.
  std::vector<ClaimResult> claims;
  size_t claimsFrom = 0;

  size_t Size() const { return nameEnds.size(); }
  std::string_view Name(size_t k) const {
    const size_t from = k == 0 ? 0 : nameEnds[k - 1];
    return std::string_view(names).substr(from, nameEnds[k] - from);
  }
  void Fail(size_t k, std::exception_ptr error) {
    std::lock_guard lock(failureMutex);
    if (k < failedLine.load()) {
      failedLine = k;
      failure = std::move(error);
    }
  }
};

// One run over a names source, on one thread or two, checking the list files for changes where
// anyone could tell: before the first name, after every block written (output is invisible until
// then, so an edit finished before a block went out applies to every name written after it), at
// every progress report, and at least every kCheckEvery names. Each name is converted against one
// state of the lists.
//
// On two threads the source is read a chunk of lines at a time, by one thread at a time; the lines
// of a chunk are converted by both threads, each with a NameConverter of its own; then the calling
// thread alone writes them in order, hands each to the line hook, reports progress and checks the
// list files at the lines where one thread would. Meanwhile the second thread reads the chunk
// after the next one (reading uses no list), and joins the conversion of the next chunk once it is
// read. A check that finds the lists changed has the rest of the chunk converted again, so every
// line is converted against the state of the lists that its place in the run gives it, as on one
// thread: the output is the same byte for byte.
class BatchRun {
 public:
  BatchRun(ListFiles& lists, Gb18030LineReader& reader, Output& out,
           const ConversionOptions& options, const ProgressFn& progress,
           const LineWriter& writeLine, const LineHook& onLine, bool unicodeTarget, int threads)
      : lists_(lists),
        reader_(reader),
        out_(out),
        progress_(progress),
        writeLine_(writeLine),
        onLine_(onLine.call),
        hooked_(static_cast<bool>(onLine.call)),
        watching_(onLine.watch && !writeLine),
        unicodeTarget_(unicodeTarget),
        workers_{std::optional<Worker>(std::in_place, lists, options,
                                       watching_ ? onLine.watch : nullptr),
                 std::nullopt} {
    if (threads > 1) {
      try {
        helper_.emplace();
        workers_[1].emplace(lists, options, watching_ ? onLine.watch : nullptr);
      } catch (const std::system_error&) {
        helper_.reset();  // no thread to be had: one does the work
      }
    }
  }

  void Run(BatchReport& report) {
    report_ = &report;
    std::string& buf = out_.Buffer();
    try {
      total_ = progress_ ? reader_.CountLines() : 0;
      lists_.Refresh();
      if (helper_) RunOnTwoThreads();
      else RunOnOneThread();
      out_.Flush();
      report.invalidSequences = reader_.InvalidSequences();
      if (progress_) progress_(report.lines, total_);
    } catch (...) {
      // The lines converted before the failure are written; no part of the failing one.
      if (lineStart_ <= buf.size()) buf.resize(lineStart_);
      try {
        out_.Flush();
      } catch (...) {
      }
      throw;
    }
  }

 private:
  static constexpr size_t kProgressEvery = 1 << 10;  // often enough for a cancel to land at once

  void RunOnOneThread() {
    std::string& buf = out_.Buffer();
    std::string gbk;
    std::string_view line;
    // GB18030 and UTF-8 lines written from forms go many at a time where no one looks at each.
    const bool inRuns = !writeLine_ && (!hooked_ || watching_);
    for (;;) {
      if (inRuns && TakeRun()) continue;
      if (!reader_.Next(&line)) break;
      if (sinceCheck_ == kCheckEvery) Check();
      lineStart_ = buf.size();
      gbk.clear();
      const bool marked = ConvertLine(workers_[0]->converter, buf, gbk, line);
      if (Seen(workers_[0]->converter)) {
        onLine_(report_->lines + 1, line,
                unicodeTarget_
                    ? std::string_view(gbk)
                    : std::string_view(buf).substr(lineStart_, buf.size() - 2 - lineStart_));
      }
      lineStart_ = buf.size();
      Written(marked);
    }
  }

  // Converts the lines at the reader's position that NameConverter::AppendLines takes, with the
  // checks, counts and progress that one line at a time would give them; false when it took none.
  bool TakeRun() {
    size_t endsBefore = 0;
    const std::string_view text = reader_.ByteWindow(&endsBefore);
    if (text.empty()) return false;
    size_t most = kCheckEvery - sinceCheck_;
    if (progress_) most = std::min(most, kProgressEvery - report_->lines % kProgressEvery);
    std::string& buf = out_.Buffer();
    NameConverter& converter = workers_[0]->converter;
    const NameConverter::Taken taken =
        unicodeTarget_
            ? converter.AppendUtf8Lines(buf, text, reader_.TwoByteCodes(), endsBefore, most,
                                        kOutputBlockBytes, watching_)
            : converter.AppendLines(buf, text, endsBefore, most, kOutputBlockBytes, watching_);
    if (taken.lines == 0) return false;
    reader_.SkipLines(taken.bytes, taken.lines);
    // Nothing is due after any line but the last, and no hook call changes what a line before
    // the next check is converted to: the hook sees its lines now, each counted as it would be
    // when converted alone (a hook that throws leaves the lines before its own).
    size_t counted = 0;
    for (const auto& line : std::span(taken.wantedLines, taken.wanted)) {
      Counted(line.line - counted, 0);
      counted = line.line;
      lineStart_ = line.at;
      onLine_(report_->lines + 1, line.name, std::string_view(buf).substr(line.at, line.size));
    }
    Counted(taken.lines - 1 - counted, 0);
    lineStart_ = buf.size();
    Written(1, 0);
    return true;
  }

  // Whether the line hook is handed the line that `converter` converted last.
  bool Seen(const NameConverter& converter) const {
    return hooked_ && (!watching_ || converter.Watched());
  }

  // Appends the target bytes of `line` with its CR LF to `buf`, and for a Unicode target that the
  // line hook sees, its GB18030 form to `gbk`. True when the output holds kNoReading.
  bool ConvertLine(NameConverter& converter, std::string& buf, std::string& gbk,
                   std::string_view line) const {
    const size_t start = buf.size();
    if (writeLine_) writeLine_(buf, line);
    else converter.Append(buf, line);
    const std::string_view written = std::string_view(buf).substr(start);
    const bool marked = (writeLine_ || converter.MayHoldMarker()) &&
                        written.find(kNoReading) != std::string_view::npos;
    if (unicodeTarget_ && Seen(converter)) gbk.append(written);
    // ASCII reads the same in UTF-8: only what follows the first other byte is converted.
    if (const size_t ascii = unicodeTarget_ ? start + AsciiLength(written) : buf.size();
        ascii < buf.size()) {
      const std::string rest = buf.substr(ascii);
      buf.resize(ascii);
      AppendGb18030AsUtf8(buf, rest);
    }
    buf += "\r\n";
    return marked;
  }

  // After a line went into the output buffer: counts, writes a whole block, reports progress and
  // checks the lists where that is due. True when the check found the lists changed.
  bool Written(bool marked) { return Written(1, marked ? 1 : 0); }

  // The same after `lines` lines (`marked` of them holding kNoReading) went in at once, of which
  // only the last may be one after which a block, a progress report or a check is due.
  bool Written(size_t lines, size_t marked) {
    Counted(lines, marked);
    return WrittenDue();
  }

  // Counts lines that went into the output buffer, after none of which anything is due.
  void Counted(size_t lines, size_t marked) {
    report_->linesWithMarker += marked;
    report_->lines += lines;
    sinceCheck_ += lines;
    out_.LineAppended(lines);
  }

  // What is due after the lines counted: a block written, a progress report, a check.
  bool WrittenDue() {
    bool check = out_.MaybeFlush();
    if (progress_ && report_->lines % kProgressEvery == 0) {
      progress_(report_->lines, total_);
      check = true;
    }
    return check && Check();
  }

  // Checks the list files; true when they changed, and with them the readings of what follows.
  bool Check() {
    sinceCheck_ = 0;
    const uint64_t before = lists_.Generation();
    lists_.Refresh();
    return lists_.Generation() != before;
  }

  // While the calling thread writes a chunk, the second thread reads the chunk after the next one
  // (reading touches no list), and goes on with it while the next one is converted, joining that
  // once it is done. A thread still reading the next chunk when the one before is converted (it
  // may have been kept off its core) is waited for only after that chunk is written.
  void RunOnTwoThreads() {
    size_t current = 0;
    ReadChunk(chunks_[current]);
    for (;;) {
      Chunk& chunk = chunks_[current];
      Chunk* next = chunk.last ? nullptr : &chunks_[(current + 1) % 3];
      Convert(chunk, 0, next && !nextRead_ ? next : nullptr);
      const bool readingNext = ahead_ != nullptr;
      if (!readingNext) ReadAhead(next, (current + 2) % 3);
      Write(chunk);
      if (readingNext) ReadAhead(next, (current + 2) % 3);
      if (chunk.readError) std::rethrow_exception(chunk.readError);
      if (!next) return;
      current = (current + 1) % 3;
    }
  }

  // Once `next` is read (waited for, or read here), hands the second thread chunk `after` to
  // read unless `next` is the last.
  void ReadAhead(Chunk* next, size_t after) {
    SettleReadAhead();
    nextRead_ = false;
    if (!next || next->last) return;
    Chunk* const chunk = &chunks_[after];
    ahead_ = chunk;
    nextRead_ = true;
    helper_->Start([this, chunk] {
      ReadChunk(*chunk);
      if (Conversion* open = open_.exchange(nullptr, std::memory_order_acq_rel))
        ConvertTaken(*open->chunk, *open->untaken, 1);
    });
  }

  // Waits for the chunk the second thread reads ahead, or reads it here if the thread had not
  // begun.
  void SettleReadAhead() {
    if (!ahead_) return;
    if (!helper_->Finish()) ReadChunk(*ahead_);
    ahead_ = nullptr;
  }

  void ReadChunk(Chunk& chunk) {
    chunk.nameEnds.clear();
    chunk.readError = nullptr;
    chunk.last = false;
    try {
      chunk.last = !reader_.NextLines(chunk.names, chunk.nameEnds, kChunkLines, kChunkBytes);
    } catch (...) {
      chunk.readError = std::current_exception();
      chunk.last = true;
    }
  }

  // Converts lines [from, end) of `chunk` on both threads; the calling thread reads `next` (if
  // given) before it takes its share. A second thread still reading ahead takes the offer of the
  // lines left (open_) once it is done, without waiting to be woken.
  void Convert(Chunk& chunk, size_t from, Chunk* next) {
    chunk.results.resize(chunk.Size());
    chunk.claims.resize((chunk.Size() - from + kClaimLines - 1) / kClaimLines);
    chunk.claimsFrom = from;
    chunk.failedLine = std::string::npos;
    chunk.failure = nullptr;
    alignas(64) std::atomic<size_t> untaken{from};  // a cache line of its own
    for (std::optional<Worker>& worker : workers_)
      worker->part.out.clear(), worker->part.gbk.clear();
    Conversion conversion{&chunk, &untaken};
    bool offered = false;
    if (ahead_) {
      open_.store(&conversion, std::memory_order_release);
      offered = true;
      // Done reading already: the offer was taken (and the lines are converted) or never will be.
      if (helper_->Idle()) ahead_ = nullptr, offered = !open_.exchange(nullptr);
    }
    const bool started = !ahead_ && !offered;
    if (started) helper_->Start([&] { ConvertTaken(chunk, untaken, 1); });
    if (next) ReadChunk(*next);
    ConvertTaken(chunk, untaken, 0);
    if (started) {
      helper_->Finish();
    } else if (offered && !open_.exchange(nullptr, std::memory_order_acq_rel)) {
      helper_->Finish();  // the offer was taken: the lines it claimed are converted once it ends
      ahead_ = nullptr;
    }
  }

  // Converts the lines of `chunk` that no thread has taken yet, kClaimLines at a time, as thread
  // `who`, until none is left or a line failed.
  void ConvertTaken(Chunk& chunk, std::atomic<size_t>& untaken, uint8_t who) {
    Part& part = workers_[who]->part;
    NameConverter& converter = workers_[who]->converter;
    const size_t size = chunk.Size();
    const bool hooked = hooked_, watching = watching_;  // kept in registers across the calls
    for (;;) {
      const size_t from = untaken.fetch_add(kClaimLines);
      if (from >= size || chunk.failedLine.load() < from) return;
      ClaimResult claim;
      claim.begin = part.out.size();
      for (size_t k = from; k < std::min(size, from + kClaimLines); ++k) {
        LineResult& result = chunk.results[k];
        result.part = who;
        result.begin = part.out.size();
        result.gbkBegin = part.gbk.size();
        try {
          result.marked = ConvertLine(converter, part.out, part.gbk, chunk.Name(k));
          if (hooked) result.seen = !watching || converter.Watched();  // else never set
        } catch (...) {
          chunk.Fail(k, std::current_exception());
          return;
        }
        result.end = part.out.size();
        result.gbkEnd = part.gbk.size();
        claim.marked += result.marked;
        claim.seen += result.seen;
      }
      claim.end = part.out.size();
      chunk.claims[(from - chunk.claimsFrom) / kClaimLines] = claim;
    }
  }

  // The lines of `chunk` written in order, with the checks, the hook and the progress of each:
  // a run of lines that one thread wrote back to back goes into the output at once, up to the
  // line after which a block, a progress report or a check is due, or before one the hook sees.
  void Write(Chunk& chunk) {
    std::string& buf = out_.Buffer();
    for (size_t k = 0; k < chunk.Size();) {
      if (sinceCheck_ == kCheckEvery && Check()) Convert(chunk, k, nullptr);
      if (chunk.failedLine == k) std::rethrow_exception(chunk.failure);
      const LineResult& r = chunk.results[k];
      const Part& part = workers_[r.part]->part;
      if (r.seen) {
        const std::string_view bytes = std::string_view(part.out).substr(r.begin, r.end - r.begin);
        onLine_(report_->lines + 1, chunk.Name(k),
                unicodeTarget_
                    ? std::string_view(part.gbk).substr(r.gbkBegin, r.gbkEnd - r.gbkBegin)
                    : bytes.substr(0, bytes.size() - 2));
      }
      size_t marked = 0;
      const size_t end = RunEnd(chunk, k, &marked);
      buf.append(part.out, r.begin, chunk.results[end - 1].end - r.begin);
      lineStart_ = buf.size();
      if (Written(end - k, marked) && end < chunk.Size()) Convert(chunk, end, nullptr);
      k = end;
    }
  }

  // The end of the run of lines from `k` (converted, and the hook handed line `k` if it sees it)
  // that go into the output together: the lines after `k` of the claim that holds it, up to the
  // first after which a block, a progress report or a check is due, and before one that failed or
  // that the hook sees. `*marked` counts those holding kNoReading. A whole claim in which none of
  // that happens is told by its ClaimResult, without a look at its lines.
  size_t RunEnd(const Chunk& chunk, size_t k, size_t* marked) const {
    const LineResult* const results = chunk.results.data();
    const size_t room = kOutputBlockBytes - std::min(out_.Buffer().size(), kOutputBlockBytes);
    const size_t claim = (k - chunk.claimsFrom) / kClaimLines;
    const size_t claimStart = chunk.claimsFrom + claim * kClaimLines;
    const size_t claimEnd = std::min(chunk.Size(), claimStart + kClaimLines);
    size_t last = std::min({claimEnd, chunk.failedLine.load(), k + kCheckEvery - sinceCheck_});
    if (progress_) last = std::min(last, k + kProgressEvery - report_->lines % kProgressEvery);
    if (k == claimStart && last == claimEnd) {  // whole, so none of its lines failed
      const ClaimResult& whole = chunk.claims[claim];
      if (whole.seen == results[k].seen && whole.end - whole.begin < room) {
        *marked = whole.marked;
        return last;
      }
    }
    const size_t begin = results[k].begin;
    size_t j = k;
    for (;;) {
      *marked += results[j].marked;
      if (++j == last || results[j - 1].end - begin >= room || results[j].seen) return j;
    }
  }

  ListFiles& lists_;
  Gb18030LineReader& reader_;
  Output& out_;
  const ProgressFn& progress_;
  const LineWriter& writeLine_;
  const LineFn& onLine_;
  const bool hooked_;    // there is a line hook
  const bool watching_;  // the hook has a watch, and the converters tell what it wants
  const bool unicodeTarget_;
  std::optional<Worker> workers_[2];  // the calling thread's, the helper's (two threads only)
  Chunk chunks_[3];  // the chunk converted and written, the next one, the one read ahead
  // The chunk the second thread was handed to read, until it is known read.
  Chunk* ahead_ = nullptr;
  // The lines being converted, offered to the second thread while it reads ahead: the thread that
  // takes the pointer (exchanging it for null) converts with the calling thread.
  struct Conversion {
    Chunk* chunk;
    std::atomic<size_t>* untaken;
  };
  std::atomic<Conversion*> open_{nullptr};
  bool nextRead_ = false;  // the next chunk was read ahead
  BatchReport* report_ = nullptr;
  size_t total_ = 0;
  size_t sinceCheck_ = 0;
  size_t lineStart_ = 0;          // where the line being written starts in the output buffer
  std::optional<Helper> helper_;  // last: it is stopped before the rest goes
};

BatchReport ConvertInto(ListFiles& lists, const Source& source, Output& out,
                        const ConversionOptions& options, const ProgressFn& progress,
                        const LineWriter& writeLine = {}, const LineHook& onLine = {}) {
  BatchReport report;
  report.encoding = source.fd >= 0 ? DetectFileEncoding(source.fd) : DetectEncoding(source.bytes);
  const bool unicodeTarget = report.encoding != SourceEncoding::kGb18030;
  // A GB18030 source is used in place; a Unicode one is decoded a line at a time.
  std::optional<Gb18030LineReader> reader;
  if (source.fd >= 0) reader.emplace(source.fd, report.encoding, source.name);
  else reader.emplace(source.bytes, report.encoding);
  const int threads =
      ThreadsFor(SourceBytes(source), report.encoding, static_cast<bool>(writeLine));
  BatchRun(lists, *reader, out, options, progress, writeLine, onLine, unicodeTarget, threads)
      .Run(report);
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

  Output out(fd, targetPath, exists ? Output::Writeback::kReplacing : Output::Writeback::kNew);
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
                         const ProgressFn& progress, const LineHook& onLine) {
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

// The check of standard input as it is read, block by block: a run of more than `longest` bytes
// without a CR or LF byte ends the reading with the line's number.
std::function<void(std::string_view)> LongLineGuard(const std::string& name, size_t longest) {
  return [lines = LineCounter{}, &name, longest](std::string_view block) mutable {
    for (char c : block) {
      lines.Feed(static_cast<unsigned char>(c));
      if (lines.run > longest) ThrowLineTooLong(lines.count + 1, name, longest);
    }
  };
}

void OpenStandardInput(Source& source) {
  if (gStdinClosed) throw Error("Standard input is closed");
  source.name = "standard input";
  const auto guard = LongLineGuard(source.name, kLongestLineBytes);
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

// Copies a source file aside when the target would write into it where it is read.
void CopyAsideIfWrittenInto(Source& source, const std::string& targetPath,
                            const struct stat& fileStat) {
  if (!WrittenIntoSource(targetPath, fileStat)) return;
  std::string none;
  SpoolToScratch(source, source.fd, none, {});
}

}  // namespace

int OpenTableSource(const std::string& sourcePath, const std::string& targetPath,
                    struct stat* fileStat, bool* isFile, size_t longestLine) {
  Source source;
  *isFile = false;
  if (sourcePath == kStandardStream) {
    if (gStdinClosed) throw Error("Standard input is closed");
    source.name = "standard input";
    std::string none;
    SpoolToScratch(source, STDIN_FILENO, none,
                   longestLine > 0 ? LongLineGuard(source.name, longestLine) : nullptr);
  } else {
    OpenSource(sourcePath, source, fileStat, isFile);
    if (*isFile && !targetPath.empty()) CopyAsideIfWrittenInto(source, targetPath, *fileStat);
  }
  return std::exchange(source.fd, -1);
}

int StandardOutput() {
  if (gStdoutClosed) throw Error("Standard output is closed");
  return STDOUT_FILENO;
}

BatchReport ConvertFile(ListFiles& lists, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress, TargetLeft* left, const LineWriter& writeLine,
                        const LineHook& onLine) {
  if (left) *left = {};
  // The source is opened before the target is touched. It is read a block at a time while the
  // target is written: a target file is a new file until the end, so the two may be one file.
  struct stat sourceStat {};
  bool sourceIsFile = false;
  Source source;
  OpenSource(sourcePath, source, &sourceStat, &sourceIsFile);
  if (sourceIsFile) CopyAsideIfWrittenInto(source, targetPath, sourceStat);
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

namespace {

// A text target whose lines `produceText` hands to its `write`; `keepPartial`: where no file
// stood, the whole lines written before a failure are placed.
void WriteText(const std::string& targetPath,
               const std::function<void(const TextWrite& write)>& produceText, bool keepPartial) {
  const Producer produce = [&](Output& out, const std::string&) {
    produceText([&out](std::string_view lines) { out.WriteUncounted(lines); });
  };
  if (targetPath == kStandardStream) {
    if (gStdoutClosed) throw Error("Standard output is closed");
    StreamInto(STDOUT_FILENO, "standard output", produce, nullptr);
  } else {
    WriteTargetBy(targetPath, {}, produce, nullptr, keepPartial);
  }
}

}  // namespace

void WriteTextTarget(const std::string& targetPath, std::string_view text) {
  WriteText(
      targetPath, [&](const TextWrite& write) { write(text); }, /*keepPartial=*/true);
}

void StreamTextTarget(const std::string& targetPath,
                      const std::function<void(const TextWrite& write)>& produce) {
  WriteText(targetPath, produce, /*keepPartial=*/false);
}

}  // namespace quorvel

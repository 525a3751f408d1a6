#include "BatchConversion.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Encoding.h"
#include "Errors.h"
#include "Files.h"

namespace quorvel {

std::string ProposeTargetName(const std::string& sourcePath) {
  size_t nameStart = sourcePath.find_last_of('/');
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  // A hidden file's leading dot is part of its name, not the start of an extension.
  size_t searchFrom = nameStart < sourcePath.size() && sourcePath[nameStart] == '.' ? nameStart + 1 : nameStart;
  size_t dot = sourcePath.find('.', searchFrom);
  if (dot == std::string::npos) return sourcePath + "_en";
  return sourcePath.substr(0, dot) + "_en" + sourcePath.substr(dot);
}

void CreateTargetFolder(const std::string& targetPath) {
  size_t slash = targetPath.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return;
  ::mkdir(targetPath.substr(0, slash).c_str(), 0777);  // failure ignored: as a rule it exists
}

namespace {

class Output {
 public:
  Output(int fd, const std::string& name) : fd_(fd), name_(name) { buf_.reserve(kFlushAt + 4096); }

  std::string& Buffer() { return buf_; }

  void MaybeFlush() {
    if (buf_.size() >= kFlushAt) Flush();
  }

  void Flush() {
    const char* p = buf_.data();
    size_t left = buf_.size();
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        int e = errno;
        buf_.clear();
        ThrowInOut(e, name_);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    buf_.clear();
  }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  int fd_;
  const std::string& name_;
  std::string buf_;
};

size_t CountLines(std::string_view text) {
  size_t count = 0;
  ForEachLine(text, [&](std::string_view) { ++count; });
  return count;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

BatchReport ConvertBytes(ListFiles& lists, std::string_view source, int targetFd,
                         const std::string& targetName, const ConversionOptions& options,
                         const ProgressFn& progress) {
  BatchReport report;
  report.encoding = DetectEncoding(source);
  const bool unicodeTarget = report.encoding != SourceEncoding::kGbk;
  std::string converted;
  std::string_view text = source;  // a GBK source is used in place, not copied
  if (unicodeTarget) text = converted = SourceToGbk(source, report.encoding);

  const size_t total = progress ? CountLines(text) : 0;
  constexpr size_t kProgressEvery = 1 << 10;  // often enough for a cancel to land at once
  Output out(targetFd, targetName);
  std::string& buf = out.Buffer();
  try {
    ForEachLine(text, [&](std::string_view line) {
      // One change check per name: all lookups of a name see one state of the list files.
      lists.Refresh();
      size_t start = buf.size();
      AppendRomanizedName(buf, lists, line, options);
      if (std::string_view(buf).substr(start).find("???") != std::string_view::npos) ++report.linesWithMarker;
      if (unicodeTarget && !IsAscii(std::string_view(buf).substr(start))) {
        std::string utf8 = GbkToUtf8(std::string_view(buf).substr(start));
        buf.resize(start);
        buf += utf8;
      }
      buf += "\r\n";
      ++report.lines;
      out.MaybeFlush();
      if (progress && report.lines % kProgressEvery == 0) progress(report.lines, total);
    });
  } catch (...) {
    // The lines converted before the failure stay in the target.
    try {
      out.Flush();
    } catch (...) {
    }
    throw;
  }
  out.Flush();
  if (progress) progress(report.lines, total);
  return report;
}

BatchReport ConvertFile(ListFiles& lists, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress) {
  // Read the source whole before the target is created or emptied: the two may be one file.
  std::string source;
  if (sourcePath == kStandardStream) {
    if (int e = ReadFromDescriptor(STDIN_FILENO, source)) ThrowInOut(e);
  } else {
    source = ReadWholeFile(sourcePath);
  }
  if (targetPath == kStandardStream)
    return ConvertBytes(lists, source, STDOUT_FILENO, "standard output", options, progress);
  int fd = ::open(targetPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowInOut(errno, targetPath);
  BatchReport report;
  try {
    report = ConvertBytes(lists, source, fd, targetPath, options, progress);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) ThrowInOut(errno, targetPath);
  return report;
}

}  // namespace quorvel

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

const char* EncodingName(SourceEncoding encoding) {
  switch (encoding) {
    case SourceEncoding::kGbk: return "GBK";
    case SourceEncoding::kUtf8: return "UTF-8";
    case SourceEncoding::kUtf8Bom: return "UTF-8 (byte-order mark)";
    case SourceEncoding::kUtf16Le: return "UTF-16LE";
    case SourceEncoding::kUtf16Be: return "UTF-16BE";
  }
  return "?";
}

SourceEncoding DetectEncoding(std::string_view bytes) {
  // EF BB BF also begins the GBK name 锘亏: a mark counts when UTF-8 really follows it.
  if (bytes.starts_with("\xEF\xBB\xBF") && (IsValidUtf8(bytes.substr(3)) || !LooksLikeGb2312(bytes)))
    return SourceEncoding::kUtf8Bom;
  if (bytes.starts_with("\xFF\xFE")) return SourceEncoding::kUtf16Le;
  if (bytes.starts_with("\xFE\xFF")) return SourceEncoding::kUtf16Be;
  // A short GBK name can happen to be valid UTF-8 too (three characters in six bytes); GBK text
  // pairs into GB2312 characters, Unicode text read as GBK practically never does.
  if (HasUtf8Ideograph(bytes) && IsValidUtf8(bytes) && !LooksLikeGb2312(bytes))
    return SourceEncoding::kUtf8;
  return SourceEncoding::kGbk;
}

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

BatchReport ConvertBytes(PronunciationData& data, std::string_view source, int targetFd,
                         const std::string& targetName, const ConversionOptions& options,
                         const ProgressFn& progress) {
  BatchReport report;
  report.encoding = DetectEncoding(source);
  std::string converted;
  std::string_view text = source;
  switch (report.encoding) {
    case SourceEncoding::kGbk: break;
    case SourceEncoding::kUtf8: converted = Utf8ToGbk(source); break;
    case SourceEncoding::kUtf8Bom: converted = Utf8ToGbk(source.substr(3)); break;
    case SourceEncoding::kUtf16Le: converted = Utf8ToGbk(Utf16ToUtf8(source.substr(2), true)); break;
    case SourceEncoding::kUtf16Be: converted = Utf8ToGbk(Utf16ToUtf8(source.substr(2), false)); break;
  }
  if (report.encoding != SourceEncoding::kGbk) text = converted;
  const bool unicodeTarget = report.encoding != SourceEncoding::kGbk;

  const size_t total = progress ? CountLines(text) : 0;
  constexpr size_t kProgressEvery = 1 << 16;
  Output out(targetFd, targetName);
  std::string& buf = out.Buffer();
  try {
    ForEachLine(text, [&](std::string_view line) {
      // One change check per name: all lookups of a name see one state of the list files.
      data.Refresh();
      size_t start = buf.size();
      AppendRomanizedName(buf, data, line, options);
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

BatchReport ConvertFile(PronunciationData& data, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress) {
  // Read the source whole before the target is created or emptied: the two may be one file.
  std::string source = ReadWholeFile(sourcePath);
  int fd = ::open(targetPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) ThrowInOut(errno, targetPath);
  BatchReport report;
  try {
    report = ConvertBytes(data, source, fd, targetPath, options, progress);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) ThrowInOut(errno, targetPath);
  return report;
}

}  // namespace quorvel

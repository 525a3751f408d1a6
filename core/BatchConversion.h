// A names file in, a romanized file out, line for line.
//
// The source is read whole before the target is created or emptied, so a target equal to the
// source ends up holding the converted lines. Every output line ends with CR LF. GBK is the
// default encoding; a source with a UTF-8 or UTF-16 byte-order mark, or a source that is valid
// UTF-8 holding UTF-8 ideographs, is read as Unicode and its target is written in UTF-8.
//
// Failures: a source that cannot be read raises FileOpenError ("Cannot open file ..."), a target
// that cannot be created raises InOutError, both before anything is written; a failure while
// converting or writing a line leaves the lines before it in the closed target and raises.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "NameRomanizer.h"

namespace quorvel {

enum class SourceEncoding { kGbk, kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };
const char* EncodingName(SourceEncoding encoding);

// Decides how a source is encoded (see above).
SourceEncoding DetectEncoding(std::string_view bytes);

// The proposed target for a source: "_en" inserted before the first "." of the file name
// (names.old.txt -> names_en.old.txt; a hidden file's leading dot does not count); a name
// without "." gets "_en" appended. The folder part is never changed.
std::string ProposeTargetName(const std::string& sourcePath);

// Creates the one folder the target lies in, if missing; failure is ignored (as a rule it exists).
void CreateTargetFolder(const std::string& targetPath);

// Lines done of lines total; called now and then during a run, and once at the end.
using ProgressFn = std::function<void(size_t done, size_t total)>;

struct BatchReport {
  size_t lines = 0;
  SourceEncoding encoding = SourceEncoding::kGbk;
};

// Converts `sourcePath` into `targetPath` (both plain file paths). The caller has checked that the
// source exists (the window shows its own message otherwise).
BatchReport ConvertFile(PronunciationData& data, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress = {});

// Converts source bytes already in memory and writes the result to an open file descriptor
// (`targetName` names it in messages). Used by the command-line converter for "-".
BatchReport ConvertBytes(PronunciationData& data, std::string_view source, int targetFd,
                         const std::string& targetName, const ConversionOptions& options,
                         const ProgressFn& progress = {});

}  // namespace quorvel

// A names file in, a romanized file out, line for line.
//
// Either side may be "-" (kStandardStream): standard input, standard output. The source is read
// whole before the target is created or emptied, so a target equal to the source ends up holding
// the converted lines. Every output line ends with CR LF. The source's encoding is detected
// (DetectEncoding); a Unicode source gives a UTF-8 target, a GBK one GBK.
//
// Failures: a source file that cannot be read raises FileOpenError ("Cannot open file ..."),
// standard input that cannot be read InOutError, a target that cannot be created InOutError, all
// before anything is written; a failure while converting or writing a line leaves the lines
// before it in the closed target and raises.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "Encoding.h"
#include "NameRomanizer.h"

namespace quorvel {

// The proposed target for a source: "_en" inserted before the first "." of the file name
// (names.old.txt -> names_en.old.txt; a hidden file's leading dot does not count); a name
// without "." gets "_en" appended. The folder part is never changed.
std::string ProposeTargetName(const std::string& sourcePath);

// Creates the one folder the target lies in, if missing; failure is ignored (as a rule it exists).
void CreateTargetFolder(const std::string& targetPath);

// Lines done of lines total; called every 1024 lines during a run, and once at the end. It may
// throw (ConversionCancelled) to stop the run: the error passes through like any other failure.
using ProgressFn = std::function<void(size_t done, size_t total)>;

struct BatchReport {
  size_t lines = 0;
  size_t linesWithMarker = 0;  // output lines holding "???": a character without a reading
  SourceEncoding encoding = SourceEncoding::kGbk;
};

inline constexpr char kStandardStream[] = "-";

// Converts `sourcePath` into `targetPath`, each a file path or kStandardStream. The caller has
// checked that a source path names a file (the window and the command line each word their own
// message otherwise) and created the target's folder (CreateTargetFolder).
BatchReport ConvertFile(ListFiles& lists, const std::string& sourcePath,
                        const std::string& targetPath, const ConversionOptions& options,
                        const ProgressFn& progress = {});

// Converts source bytes already in memory and writes the result to an open file descriptor
// (`targetName` names it in messages); the descriptor stays open.
BatchReport ConvertBytes(ListFiles& lists, std::string_view source, int targetFd,
                         const std::string& targetName, const ConversionOptions& options,
                         const ProgressFn& progress = {});

}  // namespace quorvel

// quorvel-cli: the command-line converter. Same engine and messages as the desktop program; it
// asks no question and opens nothing. Exit status: 0 done, 1 the conversion failed, 2 usage.
#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BatchConversion.h"
#include "CliSupport.h"
#include "DataLocations.h"
#include "DictCommand.h"
#include "Errors.h"
#include "ReviewThread.h"
#include "TableRun.h"
#include "Version.h"

namespace {

using quorvel::cli::DataDirProblem;
using quorvel::cli::Fail;
using quorvel::cli::UsageError;

constexpr const char* kUsage =
    "Usage: quorvel-cli [OPTIONS] SOURCE [TARGET]\n"
    "       quorvel-cli dict [OPTIONS] list|add|remove|clear|import|export ... (see 'quorvel-cli "
    "dict --help')\n"
    "Romanizes a file of Chinese names, one per line, into TARGET, line for line, or the name\n"
    "column of a table (.csv, .tsv, .xlsx) into the same table with the names beside it.\n"
    "\n"
    "  SOURCE                 names file, one per line (\"-\": standard input)\n"
    "  TARGET                 output file (\"-\": standard output); default: SOURCE with \"_en\"\n"
    "                         inserted before the first \".\" of its file name\n"
    "  -a, --all-readings     all readings of a polyphonic character, joined by \"/\";\n"
    "                         readings that come out alike are given once\n"
    "  -s, --separator=hyphen|space|none\n"
    "                         between given-name syllables (default hyphen)\n"
    "  -w, --wade-giles       Wade-Giles instead of Hanyu Pinyin\n"
    "  -f, --format=N|passport\n"
    "                         0..9, numbered as the main window's formats (default 1):\n"
    "                         0 dehua liu   1 Dehua Liu   2 dehua LIU   3 Dehua LIU   4 dehualiu\n"
    "                         5 liu dehua   6 Liu Dehua   7 LIU dehua   8 LIU Dehua   9 liudehua\n"
    "                         passport: LIU DEHUA, the given name joined, the ü written yu\n"
    "                         (吕小明 -> LYU XIAOMING)\n"
    "                         initials: Liu DH, Ouyang X (as medical and science indexes)\n"
    "                         citation: Liu, D.-H. (as author-date reference lists)\n"
    "      --umlaut=v|yu|u|ü  how Hanyu Pinyin writes the ü of lü, nü, lüe, nüe (default v):\n"
    "                         v lv nv lue nue, yu lyu nyu lue nue (as in passports),\n"
    "                         u lu nu lue nue, ü lü nü lüe nüe (GBK targets hold ü too;\n"
    "                         upper-cased it stays ü). Custom dictionary readings and\n"
    "                         Wade-Giles keep their own spelling.\n"
    "      --review=FILE      also writes FILE (UTF-8) with one line per name to check:\n"
    "                         LINE<TAB>NAME<TAB>OUTPUT<TAB>FLAG TEXT, LINE counted from 1 (for\n"
    "                         a table, the row in the sheet, the header row counted); a\n"
    "                         name is flagged for a character without a reading, a surname\n"
    "                         with two surname readings, or a given-name character whose\n"
    "                         reading in names is uncertain. The count goes to standard error\n"
    "      --data-dir=DIR     folder of the list files (default: see below)\n"
    "      --wait=SECONDS     how long to wait for the lists' folder while another Quorvel\n"
    "                         program holds it (default 30); after a second the holder is named\n"
    "\n"
    "Tables (CSV and TSV in UTF-8 or GBK, Excel .xlsx): every row comes back unchanged, the\n"
    "romanized name in a new column after the name column, headed \"<header> (Pinyin)\".\n"
    "      --table=csv|tsv|xlsx  the source's format (default: by its extension; needed for "
    "\"-\")\n"
    "      --sheet=NAME       the workbook's sheet to convert (default: the first)\n"
    "      --column=N|LETTER|HEADER\n"
    "                         the name column: number from 1, letter (B) or header text;\n"
    "                         default: the column headed 姓名, 名字, 中文名, 中文姓名 or name\n"
    "      --no-header        the first row holds names, not headers (default: a header row\n"
    "                         when the name column's first cell is not a name)\n"
    "      --add=surname,given,initials,citation,passport\n"
    "                         further columns after the romanized name, in this order;\n"
    "                         review: what to check in the name (--review's flag text)\n"
    "\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Sources in GB18030 (GBK), UTF-8 or UTF-16 are read; a Unicode source gives a UTF-8 target.\n"
    "A names file called \"dict\" is given as \"./dict\".\n";

// The lists of a run: the six files from one folder when --data-dir names it, else where the
// location rule puts them.
struct ListFolders {
  std::string dictionaries;
  std::string mapping;
  std::vector<std::string> warnings;
};

ListFolders FoldersInUse(const std::optional<std::string>& dataDir, quorvel::LocationSetup setup) {
  if (dataDir) return {*dataDir, *dataDir, {}};
  quorvel::DataLocations where =
      quorvel::FindDataLocations(quorvel::LocationInputsOfThisProgram(), setup);
  return {where.dictionaryDir, where.mappingDir, where.warnings};
}

void PrintHelp(const std::optional<std::string>& dataDir) {
  std::fputs(kUsage, stdout);
  const ListFolders folders = FoldersInUse(dataDir, quorvel::LocationSetup::kLookOnly);
  std::printf(
      "\nFolders in use:\n"
      "  custom dictionaries    %s\n"
      "  Wade-Giles mapping     %s\n",
      folders.dictionaries.c_str(), folders.mapping.c_str());
}

// Whether two paths name one file: the same text, or one existing file by any path ("-" is
// never a file).
bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {};
  struct stat sb {};
  return a != quorvel::kStandardStream && b != quorvel::kStandardStream &&
         ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The names of a run that a person should check, reviewed on a thread of their own as the run
// converts them (ReviewThread). Into a file they go out as they come, a block at a time (a run of
// any length holds no more), and the file is placed once the run succeeded; into a stream or
// device (/dev/stdout, a pipe) they are written whole at the end, after the run's own output.
class ReviewCollector {
 public:
  ReviewCollector(quorvel::ListFiles& lists, const quorvel::ConversionOptions& options,
                  size_t sourceBytes)
      : review_(lists, options, sourceBytes) {}

  // Sees only the lines the review may flag.
  quorvel::LineHook Hook() { return review_.Hook(); }

  // Runs `convert` (its status: 0 when it succeeded; it may throw) with the rows going to `path`
  // by the target rules: a file replaced whole (its mode and the link to it kept), a device or
  // pipe written in place, never replaced; nothing written when the run fails. Then the count.
  int Run(const std::string& path, const std::function<int()>& convert) {
    int status = 0;
    if (GoesOutAsItComes(path)) {
      struct Failed {};
      try {
        quorvel::StreamTextTarget(path, [&](const quorvel::TextWrite& write) {
          const quorvel::ReviewThread::Spill spill = write;
          struct Writing {  // the rows go to `write` while the run lasts, however it ends
            quorvel::ReviewThread& review;
            ~Writing() { review.SpillTo(nullptr); }
          } writing{review_};
          review_.SpillTo(&spill);
          status = convert();
          if (status != 0) throw Failed();
          review_.Finish();
          write(review_.Rows());
        });
      } catch (const Failed&) {
        return status;
      }
    } else {
      status = convert();
      if (status != 0) return status;
      review_.Finish();
      quorvel::WriteTextTarget(path, review_.Rows());
    }
    const size_t count = review_.Count();
    std::fprintf(stderr, "quorvel-cli: %zu name%s to check, listed in %s\n", count,
                 count == 1 ? "" : "s", path.c_str());
    return 0;
  }

 private:
  // A regular file, or none yet.
  static bool GoesOutAsItComes(const std::string& path) {
    struct stat st {};
    if (path == quorvel::kStandardStream) return false;
    return ::stat(path.c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT;
  }

  quorvel::ReviewThread review_;
};

// The size of a source file; 0 for standard input, a pipe or a device.
size_t SourceBytes(const std::string& source) {
  struct stat st {};
  if (source == quorvel::kStandardStream || ::stat(source.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode))
    return 0;
  return static_cast<size_t>(st.st_size);
}

// What a failed run left at its target, in words ("" when it did not get so far).
std::string TargetLeftText(const quorvel::TargetLeft& left, const std::string& target) {
  using Kind = quorvel::TargetLeft::Kind;
  const std::string names = std::to_string(left.lines) + (left.lines == 1 ? " name" : " names");
  switch (left.kind) {
    case Kind::kEarlierKept: return "the earlier file " + target + " is kept unchanged";
    case Kind::kLinesKept: return target + " holds the first " + names + " converted";
    case Kind::kStreamed:
      if (left.lines == 0) break;
      return names + " converted and written to " +
             (target == quorvel::kStandardStream ? "standard output" : target);
    case Kind::kUntouched: break;
  }
  return {};
}

void PrintWarning(const std::string& message) {
  std::fprintf(stderr, "quorvel-cli: warning: %s\n", message.c_str());
}

// What one run is to do, from its command line.
struct Run {
  quorvel::ConversionOptions options;
  std::optional<std::string> dataDir;     // none: the location rule decides
  std::optional<std::string> reviewPath;  // --review=FILE
  quorvel::TableOptions table;
  std::string source, target;
  bool tableRun = false;
};

enum { kDataDirOption = 1000, kVersionOption, kUmlautOption, kReviewOption, kWaitOption };

std::vector<option> LongOptions() {
  static const option baseOptions[] = {{"all-readings", no_argument, nullptr, 'a'},
                                       {"separator", required_argument, nullptr, 's'},
                                       {"wade-giles", no_argument, nullptr, 'w'},
                                       {"format", required_argument, nullptr, 'f'},
                                       {"umlaut", required_argument, nullptr, kUmlautOption},
                                       {"data-dir", required_argument, nullptr, kDataDirOption},
                                       {"review", required_argument, nullptr, kReviewOption},
                                       {"wait", required_argument, nullptr, kWaitOption},
                                       {"help", no_argument, nullptr, 'h'},
                                       {"version", no_argument, nullptr, kVersionOption}};
  std::vector<option> longOptions(std::begin(baseOptions), std::end(baseOptions));
  longOptions.insert(longOptions.end(), quorvel::cli::kTableOptions,
                     quorvel::cli::kTableOptions + quorvel::cli::kTableOptionCount);
  longOptions.push_back({nullptr, 0, nullptr, 0});
  return longOptions;
}

// The options that set how names are written: -s, -f and --umlaut. An exit status on a usage
// error, else nothing.
std::optional<int> ApplyFormOption(int c, const char* value, Run& run) {
  using quorvel::Separator;
  quorvel::ConversionOptions& options = run.options;
  if (c == 's') {
    if (std::strcmp(value, "hyphen") == 0) options.separator = Separator::kHyphen;
    else if (std::strcmp(value, "space") == 0) options.separator = Separator::kSpace;
    else if (std::strcmp(value, "none") == 0) options.separator = Separator::kNone;
    else
      return UsageError(std::string("invalid separator '") + value + "' (hyphen, space or none)");
  } else if (c == 'f') {
    if (std::strcmp(value, "passport") == 0) {
      options.format = quorvel::NameFormat::kPassport;
    } else if (const auto style = quorvel::NameStyleNamed(value)) {
      run.table.style = *style;
    } else if (std::strlen(value) != 1 || value[0] < '0' || value[0] > '9') {
      return UsageError(std::string("invalid format '") + value +
                        "' (0 to 9, passport, initials or citation)");
    } else {
      options.format = quorvel::NameFormatFromNumber(value[0] - '0');
    }
  } else {  // --umlaut
    int found = -1;
    for (int i = 0; i < quorvel::kUmlautSpellingCount; ++i)
      if (std::strcmp(value, quorvel::kUmlautSpellingNames[i]) == 0) found = i;
    if (found < 0)
      return UsageError(std::string("invalid umlaut spelling '") + value + "' (v, yu, u or ü)");
    options.umlaut = static_cast<quorvel::UmlautSpelling>(found);
  }
  return std::nullopt;
}

// One option of getopt_long's. An exit status when the program ends here (help, version, a
// usage error), else nothing.
std::optional<int> ApplyOption(int c, char** argv, Run& run) {
  switch (c) {
    case 'a': run.options.readings = quorvel::Readings::kAll; break;
    case 'w': run.options.romanization = quorvel::Romanization::kWadeGiles; break;
    case 's':
    case 'f':
    case kUmlautOption: return ApplyFormOption(c, optarg, run);
    case kDataDirOption:
      if (std::string problem = DataDirProblem(optarg); !problem.empty())
        return UsageError(problem);
      run.dataDir = optarg;
      break;
    case kReviewOption:
      if (*optarg == '\0') return UsageError("the review file name is empty (--review=\"\")");
      run.reviewPath = optarg;
      break;
    case kWaitOption:
      if (!quorvel::cli::SetWaitOption(optarg))
        return UsageError(std::string("invalid wait '") + optarg + "' (seconds, 0 or more)");
      break;
    case 'h': PrintHelp(run.dataDir); return 0;
    case kVersionOption: std::printf("quorvel-cli %s\n", quorvel::kVersion); return 0;
    case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
    default:
      if (!quorvel::cli::IsTableOption(c))
        return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
      if (std::string problem = quorvel::cli::ApplyTableOption(c, optarg, run.table);
          !problem.empty())
        return UsageError(problem);
  }
  return std::nullopt;
}

// Reads the command line into `run`. An exit status when the program ends here, else nothing.
std::optional<int> ParseArguments(int argc, char** argv, Run& run) {
  const std::vector<option> longOptions = LongOptions();
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":as:wf:h", longOptions.data(), nullptr)) != -1;)
    if (std::optional<int> status = ApplyOption(c, argv, run)) return status;
  if (optind >= argc) return UsageError("missing SOURCE");
  if (argc - optind > 2) return UsageError("too many arguments");
  run.source = argv[optind];
  run.tableRun = quorvel::cli::IsTableRun(run.source, run.table);
  if (std::string problem = quorvel::cli::PlainListProblem(run.table);
      !run.tableRun && !problem.empty())
    return UsageError(problem);
  run.target = optind + 1 < argc                        ? argv[optind + 1]
               : run.source == quorvel::kStandardStream ? run.source
                                                        : quorvel::ProposeTargetName(run.source);
  // The review file replaces whatever stands at its name: never the names or the result.
  if (run.reviewPath &&
      (SameFile(*run.reviewPath, run.source) || SameFile(*run.reviewPath, run.target)))
    return UsageError("the review file '" + *run.reviewPath + "' is the source or the target");
  return std::nullopt;
}

// The warnings a finished run owes its user: damaged characters, lines holding "???".
void WarnAboutMarkers(const Run& run, const quorvel::BatchReport& report) {
  const char* name = run.source == quorvel::kStandardStream ? "standard input" : run.source.c_str();
  if (report.invalidSequences > 0) {
    // The names around a damaged spot are converted; the spot itself reads "???".
    const bool utf16 = report.encoding == quorvel::SourceEncoding::kUtf16Le ||
                       report.encoding == quorvel::SourceEncoding::kUtf16Be;
    std::fprintf(stderr,
                 "quorvel-cli: warning: %s: %zu damaged character%s (invalid %s sequences, NUL "
                 "bytes), each read "
                 "as \"???\"\n",
                 name, report.invalidSequences, report.invalidSequences == 1 ? "" : "s",
                 utf16                                                  ? "UTF-16"
                 : report.encoding == quorvel::SourceEncoding::kGb18030 ? "GB18030"
                                                                        : "UTF-8");
  }
  if (report.linesWithMarker > 0) {
    std::fprintf(
        stderr,
        "quorvel-cli: warning: %s: %zu of %zu lines hold \"???\" (a character without a reading)\n",
        name, report.linesWithMarker, report.lines);
  }
}

// Converts the run's source into its target; the exit status.
int Convert(const Run& run) {
  quorvel::TargetLeft left;
  try {
    const ListFolders folders = FoldersInUse(run.dataDir, quorvel::LocationSetup::kCreate);
    for (const std::string& warning : folders.warnings)
      std::fprintf(stderr, "quorvel-cli: %s\n", quorvel::WithFullStop(warning).c_str());
    // One run checks the lists a few hundred times at most: comparing the files' identities
    // costs microseconds each time, where an inotify instance costs milliseconds to close.
    quorvel::ListFiles lists(folders.dictionaries, folders.mapping,
                             quorvel::ListFiles::ChangeWatch::kCompareFiles);
    lists.Load();
    if (run.target != quorvel::kStandardStream) quorvel::CreateTargetFolder(run.target);
    if (run.source != quorvel::kStandardStream) {
      bool missing = false;
      if (std::string problem = quorvel::SourceFileProblem(run.source, &missing); !problem.empty())
        return Fail(missing ? "没找到源文件,请选择 (" + run.source + ")"
                            : "Cannot convert \"" + run.source + "\": " + problem);
    }
    std::optional<ReviewCollector> review;  // its tables are made only for a review
    if (run.reviewPath) review.emplace(lists, run.options, SourceBytes(run.source));
    const quorvel::LineHook reviewHook = review ? review->Hook() : quorvel::LineHook();
    auto reviewed = [&](const std::function<int()>& convert) {
      return review ? review->Run(*run.reviewPath, convert) : convert();
    };
    if (run.tableRun) {
      return reviewed([&] {
        return quorvel::cli::RunTable(lists, run.source, run.target, run.options, run.table,
                                      reviewHook.call);
      });
    }
    if (std::string unread = quorvel::UnreadSpreadsheetMessage(run.source); !unread.empty())
      return Fail(unread);
    quorvel::BatchReport report;
    reviewed([&] {
      report = quorvel::ConvertFile(
          lists, run.source, run.target, run.options, {}, &left,
          quorvel::cli::IndexFormWriter(lists, run.options, run.table.style), reviewHook);
      return 0;
    });
    WarnAboutMarkers(run, report);
  } catch (const std::exception& e) {
    const int status = Fail(e.what());
    if (std::string what = TargetLeftText(left, run.target); !what.empty())
      std::fprintf(stderr, "quorvel-cli: %s\n", what.c_str());
    return status;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // First of all: a closed standard stream must not be taken over by a file opened later.
  quorvel::GuardStandardStreams();
  quorvel::SetWarningHandler(PrintWarning);
  // "quorvel-cli dict ...": the custom dictionaries (DictCommand.h). A names file called "dict"
  // is converted as "./dict".
  if (argc >= 2 && std::strcmp(argv[1], quorvel::cli::kDictCommand) == 0)
    return quorvel::cli::RunDictCommand(argc - 1, argv + 1);
  Run run;
  if (std::optional<int> status = ParseArguments(argc, argv, run)) return *status;
  return Convert(run);
}

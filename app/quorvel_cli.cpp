// quorvel-cli: the command-line converter. Same engine and messages as the desktop program; it
// asks no question and opens nothing. Exit status: 0 done, 1 the conversion failed, 2 usage.
#include <getopt.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "BatchConversion.h"
#include "DataLocations.h"
#include "DictCommand.h"
#include "Errors.h"
#include "Files.h"
#include "Version.h"

namespace {

constexpr const char* kUsage =
    "Usage: quorvel-cli [OPTIONS] SOURCE [TARGET]\n"
    "       quorvel-cli dict [OPTIONS] list|add|remove|clear|import|export ... (see 'quorvel-cli dict --help')\n"
    "Romanizes a file of Chinese names, one per line, into TARGET, line for line.\n"
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
    "      --umlaut=v|yu|u|ü  how Hanyu Pinyin writes the ü of lü, nü, lüe, nüe (default v):\n"
    "                         v lv nv lue nue, yu lyu nyu lue nue (as in passports),\n"
    "                         u lu nu lue nue, ü lü nü lüe nüe (GBK targets hold ü too;\n"
    "                         upper-cased it stays ü). Custom dictionary readings and\n"
    "                         Wade-Giles keep their own spelling.\n"
    "      --data-dir=DIR     folder of the six list files (default: see below)\n"
    "      --wait=SECONDS     how long to wait for the lists' folder while another Quorvel\n"
    "                         program holds it (default 30); after a second the holder is named\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Sources in GBK, UTF-8 or UTF-16 are read; a Unicode source gives a UTF-8 target.\n"
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
  quorvel::DataLocations where = quorvel::FindDataLocations(quorvel::LocationInputsOfThisProgram(), setup);
  return {where.dictionaryDir, where.mappingDir, where.warnings};
}

void PrintHelp(const std::optional<std::string>& dataDir) {
  std::fputs(kUsage, stdout);
  const ListFolders folders = FoldersInUse(dataDir, quorvel::LocationSetup::kLookOnly);
  std::printf("\nFolders in use:\n"
              "  custom dictionaries    %s\n"
              "  Wade-Giles mapping     %s\n",
              folders.dictionaries.c_str(), folders.mapping.c_str());
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quorvel-cli: %s\nTry 'quorvel-cli --help'.\n", message.c_str());
  return 2;
}

// Why `dir` cannot be the data folder, or "" when it can.
std::string DataDirProblem(const std::string& dir) {
  if (dir.empty()) return "the data folder name is empty (--data-dir=\"\")";
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return "data folder '" + dir + "' does not exist";
  if (!S_ISDIR(st.st_mode)) return "data folder '" + dir + "' is not a folder";
  return {};
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "quorvel-cli: %s\n", quorvel::WithFullStop(message).c_str());
  return 1;
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
      return names + " converted and written to " + (target == quorvel::kStandardStream ? "standard output" : target);
    case Kind::kUntouched: break;
  }
  return {};
}

void PrintWarning(const std::string& message) {
  std::fprintf(stderr, "quorvel-cli: warning: %s\n", message.c_str());
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
  using quorvel::Separator;
  quorvel::ConversionOptions options;
  std::optional<std::string> dataDir;  // none: the location rule decides
  enum { kDataDirOption = 1000, kVersionOption, kUmlautOption, kWaitOption };
  static const option longOptions[] = {
      {"all-readings", no_argument, nullptr, 'a'},
      {"separator", required_argument, nullptr, 's'},
      {"wade-giles", no_argument, nullptr, 'w'},
      {"format", required_argument, nullptr, 'f'},
      {"umlaut", required_argument, nullptr, kUmlautOption},
      {"data-dir", required_argument, nullptr, kDataDirOption},
      {"wait", required_argument, nullptr, kWaitOption},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersionOption},
      {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (;;) {
    int c = getopt_long(argc, argv, ":as:wf:h", longOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'a': options.readings = quorvel::Readings::kAll; break;
      case 'w': options.romanization = quorvel::Romanization::kWadeGiles; break;
      case 's':
        if (std::strcmp(optarg, "hyphen") == 0) options.separator = Separator::kHyphen;
        else if (std::strcmp(optarg, "space") == 0) options.separator = Separator::kSpace;
        else if (std::strcmp(optarg, "none") == 0) options.separator = Separator::kNone;
        else return UsageError(std::string("invalid separator '") + optarg + "' (hyphen, space or none)");
        break;
      case 'f':
        if (std::strcmp(optarg, "passport") == 0) {
          options.format = quorvel::NameFormat::kPassport;
          break;
        }
        if (std::strlen(optarg) != 1 || optarg[0] < '0' || optarg[0] > '9')
          return UsageError(std::string("invalid format '") + optarg + "' (0 to 9 or passport)");
        options.format = quorvel::NameFormatFromNumber(optarg[0] - '0');
        break;
      case kUmlautOption: {
        int found = -1;
        for (int i = 0; i < quorvel::kUmlautSpellingCount; ++i)
          if (std::strcmp(optarg, quorvel::kUmlautSpellingNames[i]) == 0) found = i;
        if (found < 0) return UsageError(std::string("invalid umlaut spelling '") + optarg + "' (v, yu, u or ü)");
        options.umlaut = static_cast<quorvel::UmlautSpelling>(found);
        break;
      }
      case kDataDirOption:
        if (std::string problem = DataDirProblem(optarg); !problem.empty()) return UsageError(problem);
        dataDir = optarg;
        break;
      case kWaitOption:
        if (!quorvel::cli::SetWaitOption(optarg)) return UsageError(std::string("invalid wait '") + optarg + "' (seconds, 0 or more)");
        break;
      case 'h': PrintHelp(dataDir); return 0;
      case kVersionOption: std::printf("quorvel-cli %s\n", quorvel::kVersion); return 0;
      case ':': return UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
      default: return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (optind >= argc) return UsageError("missing SOURCE");
  if (argc - optind > 2) return UsageError("too many arguments");
  const std::string source = argv[optind];
  const std::string target = optind + 1 < argc ? argv[optind + 1]
                             : source == quorvel::kStandardStream ? source
                             : quorvel::ProposeTargetName(source);

  quorvel::TargetLeft left;
  try {
    const ListFolders folders = FoldersInUse(dataDir, quorvel::LocationSetup::kCreate);
    for (const std::string& warning : folders.warnings)
      std::fprintf(stderr, "quorvel-cli: %s\n", quorvel::WithFullStop(warning).c_str());
    // One run checks the lists a few hundred times at most: comparing the six files' identities
    // costs microseconds each time, where an inotify instance costs milliseconds to close.
    quorvel::ListFiles lists(folders.dictionaries, folders.mapping, quorvel::ListFiles::ChangeWatch::kCompareFiles);
    lists.Load();
    if (target != quorvel::kStandardStream) quorvel::CreateTargetFolder(target);
    if (source != quorvel::kStandardStream) {
      bool missing = false;
      if (std::string problem = quorvel::SourceFileProblem(source, &missing); !problem.empty())
        return Fail(missing ? "没找到源文件,请选择 (" + source + ")" : "Cannot convert \"" + source + "\": " + problem);
    }
    const quorvel::BatchReport report = quorvel::ConvertFile(lists, source, target, options, {}, &left);
    if (report.invalidSequences > 0) {
      // The names around a damaged spot are converted; the spot itself reads "???".
      std::fprintf(stderr, "quorvel-cli: warning: %s: %zu invalid %s sequence%s, each read as \"???\"\n",
                   source == quorvel::kStandardStream ? "standard input" : source.c_str(),
                   report.invalidSequences,
                   report.encoding == quorvel::SourceEncoding::kUtf16Le ||
                           report.encoding == quorvel::SourceEncoding::kUtf16Be
                       ? "UTF-16"
                       : "UTF-8",
                   report.invalidSequences == 1 ? "" : "s");
    }
  } catch (const std::exception& e) {
    const int status = Fail(e.what());
    if (std::string what = TargetLeftText(left, target); !what.empty())
      std::fprintf(stderr, "quorvel-cli: %s\n", what.c_str());
    return status;
  }
  return 0;
}

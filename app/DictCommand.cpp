#include "DictCommand.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BatchConversion.h"
#include "CliSupport.h"
#include "CustomDictionary.h"
#include "DataLocations.h"
#include "Encoding.h"
#include "Errors.h"
#include "FileReading.h"
#include "FolderLock.h"
#include "ListFiles.h"
#include "TextLines.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "Usage: quorvel-cli dict [OPTIONS] list\n"
    "       quorvel-cli dict [OPTIONS] add KEY READING\n"
    "       quorvel-cli dict [OPTIONS] remove KEY\n"
    "       quorvel-cli dict [OPTIONS] clear\n"
    "       quorvel-cli dict [OPTIONS] import FILE\n"
    "       quorvel-cli dict [OPTIONS] export [FILE]\n"
    "Edits the custom pinyin dictionary, or with -w the Wade-Giles one, or with --names the "
    "taught\n"
    "whole names, as the editor windows do.\n"
    "\n"
    "  list                   prints every entry as KEY<TAB>READING, in UTF-8\n"
    "  add KEY READING        adds the entry, or gives an existing KEY the new READING\n"
    "  remove KEY             removes the entries of KEY\n"
    "  clear                  removes every entry (the dictionary stays empty; a shipped one is\n"
    "                         not copied in again)\n"
    "  import FILE            adds or updates the KEY<TAB>READING lines of FILE (UTF-8; \"-\":\n"
    "                         standard input); refused lines are reported with the reason, the\n"
    "                         others are imported, and the exit status is then 1\n"
    "  export [FILE]          writes the entries as KEY<TAB>READING lines to FILE (default and "
    "\"-\":\n"
    "                         standard output)\n"
    "  -w, --wade-giles       the Wade-Giles dictionary\n"
    "      --names            the whole names: KEY is a name of 2 to 6 characters (\"欧阳|修\": a\n"
    "                         \"|\" marks where the surname ends), READING its pinyin syllables,\n"
    "                         one per character (\"ou yang xiu\"); a names line equal to it takes\n"
    "                         those syllables in every format and in Wade-Giles\n"
    "      --data-dir=DIR     folder of the six list files (default: as for conversions)\n"
    "      --wait=SECONDS     how long to wait for the folder while another Quorvel program\n"
    "                         holds it (default 30)\n"
    "  -h, --help             show this help and exit\n"
    "\n"
    "Keys and readings are trimmed; a key holds at most two characters. The dictionary is stored "
    "in\n"
    "GB18030, which writes every GBK character as GBK does.\n";

int DictUsageError(const std::string& message) { return UsageError(message, "dict"); }

std::string EntriesText(const CustomDictionary& dict) {
  std::string text;
  for (const auto& entry : dict.Entries())
    text += Gb18030ToUtf8(entry.key) + "\t" + Gb18030ToUtf8(entry.reading) + "\n";
  return text;
}

// Writes to standard output and reports a failed write (a closed or full output) as failure.
void PrintOut(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    ThrowInOut(errno);
}

std::string ReadInput(const std::string& path) {
  if (path == "-") {
    std::string data;
    if (int e = ReadFromDescriptor(STDIN_FILENO, data)) ThrowInOut(e);
    return data;
  }
  bool missing = false;
  std::string data = ReadWholeFile(path, &missing);
  if (missing) throw FileOpenError(path, ENOENT);
  return data;
}

// Imports the KEY<TAB>READING lines of `path`. Returns the exit status.
int Import(CustomDictionary& dict, const std::string& path) {
  std::string text = ReadInput(path);
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<DictionaryEntry> accepted;
  size_t refused = 0, lineNumber = 0;
  ForEachLine(text, [&](std::string_view line) {
    ++lineNumber;
    if (TrimControls(line).empty()) return;  // blank lines separate nothing
    auto refuse = [&](const std::string& why) {
      ++refused;
      std::fprintf(stderr, "quorvel-cli: %s:%zu: %s\n", path.c_str(), lineNumber, why.c_str());
    };
    auto tab = line.find('\t');
    if (tab == std::string_view::npos) return refuse("no tab between key and reading");
    try {
      accepted.push_back(dict.EntryFromUtf8(line.substr(0, tab), line.substr(tab + 1)));
    } catch (const Error& e) {
      refuse(e.what());
    }
  });
  if (!accepted.empty()) dict.AddOrUpdateAll(accepted);
  if (refused == 0) return 0;
  std::fprintf(stderr, "quorvel-cli: %zu entries imported, %zu lines refused\n", accepted.size(),
               refused);
  return 1;
}

}  // namespace

bool SetWaitOption(const char* value) {
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(value, &end);
  if (end == value || *end != '\0' || errno != 0 || !(seconds >= 0) || seconds > 1e6) return false;
  SetLockWaitLimit(seconds);
  return true;
}

namespace {

// Carries out one action on the dictionary; the exit status. Errors of the files pass on.
int RunAction(CustomDictionary& dict, CustomDictionary::Kind kind, const std::string& action,
              const std::vector<std::string>& operands) {
  if (action == "list") {
    PrintOut(EntriesText(dict));
  } else if (action == "add") {
    DictionaryEntry entry;
    try {
      entry = dict.EntryFromUtf8(operands[0], operands[1]);
    } catch (const Error& e) {
      return Refuse(e.what());
    }
    dict.AddOrUpdate(entry.key, entry.reading);
  } else if (action == "remove") {
    bool encodable = true;
    std::string key = Utf8ToGb18030Strict(operands[0], &encodable);
    if (kind == CustomDictionary::Kind::kWholeNames)
      std::erase(key, '|');  // the split mark is no part of a name
    if (!encodable || dict.RemoveKey(key) == 0) return Refuse("没有找到：  " + operands[0]);
  } else if (action == "clear") {
    dict.Clear();
  } else if (action == "import") {
    return Import(dict, operands[0]);
  } else {
    // A file as a conversion writes its target: whole, through links, a device or pipe in place.
    WriteTextTarget(operands.empty() ? kStandardStream : operands[0], EntriesText(dict));
  }
  return 0;
}

}  // namespace

int RunDictCommand(int argc, char** argv) {
  auto kind = CustomDictionary::Kind::kStandard;
  std::optional<std::string> dataDir;  // none: the location rule decides
  enum { kDataDirOption = 1000, kNamesOption, kWaitOption };
  static const option longOptions[] = {{"wade-giles", no_argument, nullptr, 'w'},
                                       {"names", no_argument, nullptr, kNamesOption},
                                       {"data-dir", required_argument, nullptr, kDataDirOption},
                                       {"wait", required_argument, nullptr, kWaitOption},
                                       {"help", no_argument, nullptr, 'h'},
                                       {nullptr, 0, nullptr, 0}};
  opterr = 0;
  optind = 1;
  for (;;) {
    // "+": options come before the action; everything after it is an operand, so a key or a
    // reading may start with "-".
    int c = getopt_long(argc, argv, "+:wh", longOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'w': kind = CustomDictionary::Kind::kWadeGiles; break;
      case kNamesOption: kind = CustomDictionary::Kind::kWholeNames; break;
      case kDataDirOption: dataDir = optarg; break;
      case kWaitOption:
        if (!SetWaitOption(optarg))
          return DictUsageError(std::string("invalid wait '") + optarg + "' (seconds, 0 or more)");
        break;
      case 'h': std::fputs(kUsage, stdout); return 0;
      case ':':
        return DictUsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
      default: return DictUsageError(std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (optind >= argc)
    return DictUsageError("missing action (list, add, remove, clear, import or export)");
  const std::string action = argv[optind];
  std::vector<std::string> operands(argv + optind + 1, argv + argc);
  struct Arity {
    const char* action;
    size_t least, most;
  };
  static const Arity kArities[] = {{"list", 0, 0},  {"add", 2, 2},    {"remove", 1, 1},
                                   {"clear", 0, 0}, {"import", 1, 1}, {"export", 0, 1}};
  const Arity* arity = nullptr;
  for (const auto& a : kArities)
    if (action == a.action) arity = &a;
  if (!arity)
    return DictUsageError("unknown action '" + action +
                          "' (list, add, remove, clear, import or export)");
  if (operands.size() < arity->least)
    return DictUsageError("'" + action + "' needs more arguments");
  if (operands.size() > arity->most)
    return DictUsageError("too many arguments for '" + action + "'");
  // A missing folder would read as empty dictionaries and make a write fail half-explained.
  std::string dictionaryDir, mappingDir;
  if (dataDir) {
    if (std::string problem = DataDirProblem(*dataDir); !problem.empty())
      return DictUsageError(problem);
    dictionaryDir = mappingDir = *dataDir;
  } else {
    const DataLocations where = FindDataLocations(LocationInputsOfThisProgram());
    for (const std::string& warning : where.warnings)
      std::fprintf(stderr, "quorvel-cli: %s\n", warning.c_str());
    dictionaryDir = where.dictionaryDir;
    mappingDir = where.mappingDir;
  }

  try {
    ListFiles lists(dictionaryDir, mappingDir);
    lists.Load();
    CustomDictionary dict(lists, kind);
    return RunAction(dict, kind, action, operands);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

}  // namespace quorvel::cli

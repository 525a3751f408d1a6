#include "DataLocations.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "Errors.h"
#include "FileReading.h"
#include "Files.h"
#include "Paths.h"

#ifndef QUORVEL_SHIPPED_DATA_FROM_BIN
#define QUORVEL_SHIPPED_DATA_FROM_BIN "../share/quorvel"
#endif

namespace quorvel {

namespace {

constexpr char kAppFolder[] = "quorvel";
constexpr char kPortableMark[] = "pinyin_han.dll";
constexpr const char* kMappingPair[2] = {"pinyin_han.dll", "pinyin_wei.dll"};
constexpr const char* kDictionaryPairs[2][2] = {{"define_han.dll", "define_py.dll"},
                                                {"define_wei_han.dll", "define_wei_py.dll"}};

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::string Clean(const std::string& dir) {
  std::string clean = std::filesystem::path(dir).lexically_normal().string();
  while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
  return clean;
}

// An XDG base folder (or HOME) is only taken when it is an absolute path.
std::optional<std::string> Absolute(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->front() != '/') return std::nullopt;
  return value;
}

// `xdg` when usable, else `home` + `fallback`; nullopt when neither is usable.
std::optional<std::string> BaseFolder(const std::optional<std::string>& xdg,
                                      const std::optional<std::string>& home,
                                      const char* fallback) {
  if (auto dir = Absolute(xdg)) return Clean(*dir);
  if (auto dir = Absolute(home)) return Clean(JoinPath(*dir, fallback));
  return std::nullopt;
}

// Anything at the path, a dangling link included: a user's link is the user's file too.
bool Occupied(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Makes `dir` and any missing parent (mode 0700). Returns 0 or the errno of the step that failed.
int MakeFolders(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (const std::string parent = FolderOf(dir); parent != "." && parent != "/") {
    if (int e = MakeFolders(parent)) return e;
  }
  if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return 0;
  return errno;
}

std::string Reason(int errnoValue, const std::string& path) {
  return InOutMessage(InOutCodeFromErrno(errnoValue, path));
}

// Copies each shipped dictionary pair of which the user has neither file. Returns a warning, or "".
std::string CopyShippedPairs(const std::string& shippedDir, const std::string& userDir) {
  for (const auto& pair : kDictionaryPairs) {
    const std::string user[2] = {JoinPath(userDir, pair[0]), JoinPath(userDir, pair[1])};
    const std::string shipped[2] = {JoinPath(shippedDir, pair[0]), JoinPath(shippedDir, pair[1])};
    if (Occupied(user[0]) || Occupied(user[1])) continue;
    if (!IsExistingFile(shipped[0]) || !IsExistingFile(shipped[1])) continue;
    try {
      ReplaceFilesAtomically(
          {{user[0], ReadWholeFile(shipped[0])}, {user[1], ReadWholeFile(shipped[1])}});
    } catch (const Error& e) {
      return "Cannot copy the shipped dictionary " + std::string(pair[0]) + " into \"" + userDir +
             "\" (" + e.what() + ")";
    }
  }
  return {};
}

}  // namespace

LocationInputs LocationInputsOfThisProgram() { return LocationInputsFor(ExecutableDir()); }

LocationInputs LocationInputsFor(const std::string& executableDir) {
  LocationInputs inputs;
  inputs.executableDir = executableDir;
  inputs.shippedDir = Clean(JoinPath(inputs.executableDir, QUORVEL_SHIPPED_DATA_FROM_BIN));
  inputs.home = Env("HOME");
  inputs.xdgDataHome = Env("XDG_DATA_HOME");
  inputs.xdgConfigHome = Env("XDG_CONFIG_HOME");
  return inputs;
}

DataLocations FindDataLocations(const LocationInputs& inputs, LocationSetup setup) {
  DataLocations where;
  const std::string exeDir = Clean(inputs.executableDir);
  if (IsExistingFile(JoinPath(exeDir, kPortableMark)) && ::access(exeDir.c_str(), W_OK) == 0) {
    where.mode = DataMode::kPortable;
    where.dictionaryDir = where.mappingDir = where.settingsDir = exeDir;
    return where;
  }

  where.mode = DataMode::kInstalled;
  const std::string shippedDir = Clean(inputs.shippedDir);
  const bool create = setup == LocationSetup::kCreate;

  // The dictionaries.
  where.dictionaryDir = where.mappingDir = shippedDir;
  if (auto base = BaseFolder(inputs.xdgDataHome, inputs.home, ".local/share")) {
    const std::string userDir = JoinPath(*base, kAppFolder);
    if (int e = create ? MakeFolders(userDir) : 0) {
      where.warnings.push_back("Cannot create the folder \"" + userDir +
                               "\" for your dictionaries (" + Reason(e, userDir) +
                               "); the shipped lists in \"" + shippedDir +
                               "\" are used and changes to the dictionaries cannot be saved");
    } else {
      where.dictionaryDir = userDir;
      if (create) {
        if (std::string warning = CopyShippedPairs(shippedDir, userDir); !warning.empty())
          where.warnings.push_back(warning);
      }
      if (Occupied(JoinPath(userDir, kMappingPair[0])) ||
          Occupied(JoinPath(userDir, kMappingPair[1])))
        where.mappingDir = userDir;
    }
  } else {
    where.warnings.push_back(
        "HOME is not set, so there is no folder for your dictionaries (~/.local/share/quorvel); "
        "the shipped lists in \"" +
        shippedDir +
        "\" are used and changes to the dictionaries "
        "cannot be saved");
  }

  // The settings.
  if (auto base = BaseFolder(inputs.xdgConfigHome, inputs.home, ".config")) {
    const std::string settingsDir = JoinPath(*base, kAppFolder);
    if (int e = create ? MakeFolders(settingsDir) : 0) {
      where.warnings.push_back("Cannot create the folder \"" + settingsDir +
                               "\" for the settings (" + Reason(e, settingsDir) +
                               "); they are not kept");
    } else {
      where.settingsDir = settingsDir;
    }
  } else {
    where.warnings.push_back(
        "HOME is not set, so there is no folder for the settings (~/.config/quorvel); they are "
        "not kept");
  }
  return where;
}

}  // namespace quorvel

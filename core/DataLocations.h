// Where the program's files lie: the one rule both programs follow.
//
// Portable: when the executable's folder holds the mapping list "pinyin_han.dll" and the user may
// write there (a build tree, an unpacked folder), every list file and both settings files lie
// beside the executable.
//
// Installed: otherwise. The shipped lists lie read-only in `<prefix>/share/quorvel`; nothing is
// ever written there. The user's dictionaries lie in `$XDG_DATA_HOME/quorvel` (default
// `~/.local/share/quorvel`), the settings in `$XDG_CONFIG_HOME/quorvel` (default
// `~/.config/quorvel`); an XDG value that is empty or not an absolute path counts as unset, and so
// does a HOME that is not absolute. Setting up creates both folders (mode 0700 for each one it
// makes) and copies each shipped dictionary pair into the user's folder when neither file of that
// pair is there yet: a pair the user has, even half of one, is never overwritten. The mapping pair
// is read from the user's folder when the user has either of its files there (its two halves
// must come from one folder to stay line for line), else from the shipped folder.
//
// Nothing here throws. A folder that cannot be made (no HOME, no permission, a file in the way)
// gives a warning naming the folder, and the program goes on: without a dictionary folder it reads
// all six lists from the shipped folder; without a settings folder `settingsDir` is empty and the
// settings are not kept.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct LocationInputs {
  std::string executableDir;                 // the folder of the running program
  std::string shippedDir;                    // <prefix>/share/quorvel
  std::optional<std::string> home;           // $HOME; nullopt when unset
  std::optional<std::string> xdgDataHome;    // $XDG_DATA_HOME
  std::optional<std::string> xdgConfigHome;  // $XDG_CONFIG_HOME
};

// The inputs of a program in `executableDir`: the shipped folder found from it (the installed
// layout's path from the programs' folder to `share/quorvel`) and this process's environment.
LocationInputs LocationInputsFor(const std::string& executableDir);
// The same for the running program: LocationInputsFor(ExecutableDir()).
LocationInputs LocationInputsOfThisProgram();

enum class DataMode { kPortable, kInstalled };

struct DataLocations {
  DataMode mode = DataMode::kPortable;
  std::string dictionaryDir;          // the custom dictionary pairs: read, edited and watched here
  std::string mappingDir;             // the Wade-Giles mapping pair
  std::string settingsDir;            // config.db and config1.dll; empty: settings are not kept
  std::vector<std::string> warnings;  // one message per folder that could not be set up
};

enum class LocationSetup {
  kCreate,    // make the user's folders and copy the shipped pairs (a program starting)
  kLookOnly,  // only tell where things would lie (--help); nothing is created or copied
};

// The folders to use for `inputs`. Folders are given without a trailing "/", made lexically
// clean ("bin/../share" becomes "share").
DataLocations FindDataLocations(const LocationInputs& inputs,
                                LocationSetup setup = LocationSetup::kCreate);

}  // namespace quorvel

// "quorvel-cli dict": the custom dictionaries from scripts. Lists, adds, removes, imports and
// exports entries of the pinyin dictionary (or with -w the Wade-Giles one) through
// quorvel::CustomDictionary, so the rules are the editor windows' own: texts in GBK, trimmed, at
// most two characters a new key, no line break inside, the data folder's lock and recorded renames.
// Entries in and out are KEY<TAB>READING lines in UTF-8. Exit status as for a conversion: 0 done,
// 1 failed (or rows refused by an import), 2 usage.
#pragma once

namespace quorvel::cli {

// The name that selects the subcommand as the first argument. A names file of that name is still
// converted when written as a path ("./dict").
inline constexpr char kDictCommand[] = "dict";

// "--wait=SECONDS" of both commands: how long a lock another Quorvel program holds is waited for
// (quorvel::SetLockWaitLimit). False when `value` is no number of seconds, 0 or more.
bool SetWaitOption(const char* value);

// Runs the subcommand; argv[0] is "dict", the rest its options and operands.
int RunDictCommand(int argc, char** argv);

}  // namespace quorvel::cli

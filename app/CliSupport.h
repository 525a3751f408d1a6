// What both commands of quorvel-cli (the conversion and `dict`) say on the error stream, worded
// once: a usage error (status 2, pointing at the command's help), a failure (status 1), and why a
// folder given as the data folder cannot serve.
#pragma once

#include <string>

namespace quorvel::cli {

// Prints "quorvel-cli: MESSAGE" and the hint "Try 'quorvel-cli[ COMMAND] --help'."; returns 2.
// `command` is empty for the conversion, "dict" for the dictionary command.
int UsageError(const std::string& message, const std::string& command = {});

// Prints "quorvel-cli: MESSAGE" with its closing full stop (WithFullStop); returns 1.
int Fail(const std::string& message);

// Prints "quorvel-cli: MESSAGE" exactly as given (a message that is already a whole sentence, such
// as the dictionary editors' refusals); returns 1.
int Refuse(const std::string& message);

// Why `dir` cannot be the data folder (empty name, missing, not a folder), or "" when it can.
std::string DataDirProblem(const std::string& dir);

}  // namespace quorvel::cli

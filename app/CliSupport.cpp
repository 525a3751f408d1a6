#include "CliSupport.h"

#include <sys/stat.h>

#include <cstdio>

#include "Errors.h"

namespace quorvel::cli {

int UsageError(const std::string& message, const std::string& command) {
  const std::string help =
      command.empty() ? "quorvel-cli --help" : "quorvel-cli " + command + " --help";
  std::fprintf(stderr, "quorvel-cli: %s\nTry '%s'.\n", message.c_str(), help.c_str());
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "quorvel-cli: %s\n", WithFullStop(message).c_str());
  return 1;
}

int Refuse(const std::string& message) {
  std::fprintf(stderr, "quorvel-cli: %s\n", message.c_str());
  return 1;
}

std::string DataDirProblem(const std::string& dir) {
  if (dir.empty()) return "the data folder name is empty (--data-dir=\"\")";
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return "data folder '" + dir + "' does not exist";
  if (!S_ISDIR(st.st_mode)) return "data folder '" + dir + "' is not a folder";
  return {};
}

}  // namespace quorvel::cli

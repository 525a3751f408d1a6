// The list-file parser over arbitrary bytes: the streaming splitter and the copying one agree,
// no item holds a line end or NUL, and a loaded key list answers lookups without fault.
#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Errors.h"
#include "ListFiles.h"
#include "ReadingLookup.h"
#include "TextLines.h"

namespace {
// Never destroyed: the exit handler that removes the folder still needs its name.
const std::string& Dir() {
  static const std::string* dir = [] {
    char tmpl[] = "/tmp/quorvel-fuzz-XXXXXX";
    auto* made = new std::string(mkdtemp(tmpl));
    std::atexit([] { std::filesystem::remove_all(Dir()); });
    return made;
  }();
  return *dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(bytes), size);
  auto lines = quorvel::SplitLines(text);
  size_t count = 0;
  quorvel::ForEachLine(text, [&](std::string_view line) {
    if (count >= lines.size() || lines[count] != line) std::abort();
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) std::abort();
    ++count;
  });
  if (count != lines.size()) std::abort();

  // The same bytes as every list file: loading and looking up never fail but by the list error.
  static quorvel::ListFiles lists(Dir());
  for (const char* name : quorvel::kListFileNames) {
    int fd = ::open((Dir() + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    if (::write(fd, bytes, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(fd);
  }
  lists.Refresh();
  for (size_t i = 0; i < lines.size() && i < 8; ++i) {
    for (auto romanization : {quorvel::Romanization::kPinyin, quorvel::Romanization::kWadeGiles}) {
      try {
        (void)quorvel::ReadingOf(lists, lines[i], {quorvel::Readings::kAll, romanization});
      } catch (const quorvel::ListIndexError&) {
      }
    }
  }
  return 0;
}

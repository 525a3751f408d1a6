#include "TestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "Encoding.h"
#include "FolderLock.h"
#include "ListFiles.h"

namespace quorvel {
void PrintTo(const DictionaryEntry& entry, std::ostream* out) {
  *out << '{' << Gb18030ToUtf8(entry.key) << " | " << Gb18030ToUtf8(entry.reading) << '}';
}
}  // namespace quorvel

namespace quorvel::test {

std::string G(std::string_view utf8) {
  bool ok = false;
  std::string gbk = Utf8ToGb18030Strict(utf8, &ok);
  if (!ok) {
    std::fprintf(stderr, "test text not representable in GB18030: %.*s\n",
                 static_cast<int>(utf8.size()), utf8.data());
    std::abort();
  }
  return gbk;
}

std::string U(std::string_view gbk) { return Gb18030ToUtf8(gbk); }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorvel-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Permission tests may leave a folder without rights; give them back before removing.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

namespace {

std::string Shown(std::string_view line) {
  std::string out = "\"";
  for (size_t i = 0; i < line.size() && i < 120; ++i) {
    auto c = static_cast<unsigned char>(line[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + (line.size() > 120 ? "\"..." : "\"");
}

size_t LineCount(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n + (!text.empty() && text.back() != '\n');
}

}  // namespace

std::string FirstDifferentLine(std::string_view actual, std::string_view expected) {
  if (actual == expected) return "";
  size_t at = 0, number = 1;
  for (;;) {
    size_t a = actual.find('\n', at), e = expected.find('\n', at);
    std::string_view lineA =
        actual.substr(std::min(at, actual.size()),
                      a == std::string_view::npos ? std::string_view::npos : a + 1 - at);
    std::string_view lineE =
        expected.substr(std::min(at, expected.size()),
                        e == std::string_view::npos ? std::string_view::npos : e + 1 - at);
    if (lineA != lineE) {
      std::ostringstream s;
      s << "line " << number << " differs: actual "
        << (at >= actual.size() ? "(none)" : Shown(lineA)) << ", expected "
        << (at >= expected.size() ? "(none)" : Shown(lineE)) << "; " << LineCount(actual)
        << " lines against " << LineCount(expected);
      return s.str();
    }
    at += lineA.size();
    ++number;
  }
}

std::string CrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

std::string BuildBinDir() { return QUORVEL_TEST_BIN_DIR; }
void CopyInstalledLists(const std::string& dir) {
  for (const char* f : kListFileNames)
    std::filesystem::copy_file(BuildBinDir() + "/" + f, dir + "/" + f);
}

std::string SourceDir() { return QUORVEL_TEST_SOURCE_DIR; }

LookupOptions Options(bool all, bool wadeGiles) {
  return {all ? Readings::kAll : Readings::kFirst,
          wadeGiles ? Romanization::kWadeGiles : Romanization::kPinyin};
}

std::string ReadingNow(ListFiles& lists, std::string_view key, const LookupOptions& options,
                       KeyRole role) {
  lists.Refresh();
  return ReadingOf(lists, key, options, role);
}

std::set<std::string> FolderContents(const std::string& dir, LockFile lock) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  if (lock == LockFile::kLeftOut) names.erase(kLockFileName);
  return names;
}

}  // namespace quorvel::test

namespace quorvel::test {

LockHolder::LockHolder(const std::string& dir, double seconds) {
  int ready[2];
  if (::pipe(ready) != 0) std::abort();
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    int fd = ::open((dir + "/.quorvel.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
    if (::write(ready[1], "x", 1) != 1) ::_exit(1);
    struct timespec hold {
      static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<long>(seconds)) * 1e9)
    };
    ::nanosleep(&hold, nullptr);
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  if (::read(ready[0], &c, 1) != 1) std::abort();
  ::close(ready[0]);
}

LockHolder::~LockHolder() {
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

}  // namespace quorvel::test

#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "Encoding.h"
#include "ListFiles.h"

namespace quorvel {
void PrintTo(const DictionaryEntry& entry, std::ostream* out) {
  *out << '{' << GbkToUtf8(entry.key) << " | " << GbkToUtf8(entry.reading) << '}';
}
}  // namespace quorvel

namespace quorvel::test {

std::string G(std::string_view utf8) {
  bool ok = false;
  std::string gbk = Utf8ToGbkStrict(utf8, &ok);
  if (!ok) {
    std::fprintf(stderr, "test text not representable in GBK: %.*s\n", static_cast<int>(utf8.size()), utf8.data());
    std::abort();
  }
  return gbk;
}

std::string U(std::string_view gbk) { return GbkToUtf8(gbk); }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorvel-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Permission tests may leave a folder without rights; give them back before removing.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec); it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
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

std::string CrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

std::string BuildBinDir() { return QUORVEL_TEST_BIN_DIR; }
void CopyInstalledLists(const std::string& dir) {
  for (const char* f : kListFileNames) std::filesystem::copy_file(BuildBinDir() + "/" + f, dir + "/" + f);
}

std::string SourceDir() { return QUORVEL_TEST_SOURCE_DIR; }

LookupOptions Options(bool all, bool wadeGiles) {
  return {all ? Readings::kAll : Readings::kFirst, wadeGiles ? Romanization::kWadeGiles : Romanization::kPinyin};
}

std::string ReadingNow(ListFiles& lists, std::string_view key, const LookupOptions& options, KeyRole role) {
  lists.Refresh();
  return ReadingOf(lists, key, options, role);
}

}  // namespace quorvel::test

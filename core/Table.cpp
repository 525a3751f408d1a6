#include "Table.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Encoding.h"
#include "Errors.h"
#include "Paths.h"

namespace quorvel {

TableBytes::TableBytes(std::string bytes)
    : bytes_(std::move(bytes)), name_("the table"), size_(bytes_.size()) {}

TableBytes::TableBytes(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int e = errno;
    ::close(fd_);
    throw FileOpenError(name_, e);
  }
  size_ = static_cast<size_t>(std::max<off_t>(st.st_size, 0));
}

TableBytes::~TableBytes() {
  if (fd_ >= 0) ::close(fd_);
}

void TableBytes::AppendAt(size_t offset, size_t n, std::string& out) const {
  if (fd_ < 0) {
    out.append(bytes_, offset, n);
    return;
  }
  const size_t start = out.size();
  out.resize(start + n);
  for (size_t got = 0; got < n;) {
    const ssize_t r =
        ::pread(fd_, out.data() + start + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int e = errno;
      out.resize(start);
      throw FileOpenError(name_, e);
    }
    if (r == 0) {  // the rows read so far would stand for a table they are not the whole of
      out.resize(start);
      throw Error("\"" + name_ + "\" changed while it was read: it is shorter now");
    }
    got += static_cast<size_t>(r);
  }
}

std::optional<TableFormat> TableFormatNamed(std::string_view name) {
  if (name == "csv") return TableFormat::kCsv;
  if (name == "tsv") return TableFormat::kTsv;
  if (name == "xlsx") return TableFormat::kXlsx;
  return std::nullopt;
}

namespace {

// The file name's extension in lower case, or "".
std::string ExtensionOf(const std::string& path) {
  const std::string name = NameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return {};
  std::string extension = name.substr(dot + 1);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension;
}

}  // namespace

std::optional<TableFormat> TableFormatOfPath(const std::string& path) {
  return TableFormatNamed(ExtensionOf(path));
}

std::string UnreadSpreadsheetMessage(const std::string& path) {
  const std::string extension = ExtensionOf(path);
  for (const char* unread : {"xls", "xlsm", "xlsb", "ods", "et", "numbers"})
    if (extension == unread)
      return "Spreadsheets saved as ." + extension + " are not read; save it as .xlsx or .csv (" +
             path + ")";
  return {};
}

std::string CellUtf8(const Cell& cell, TextEncoding encoding) {
  return encoding == TextEncoding::kGb18030 ? Gb18030ToUtf8(cell.text) : cell.text;
}

}  // namespace quorvel

#include "Table.h"

#include "Encoding.h"
#include "Paths.h"

namespace quorvel {

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

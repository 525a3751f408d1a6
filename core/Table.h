// Tables of names: the rows and cells every table format reads into and writes from.
//
// A table is read a row at a time (RowReader) from its file a block at a time (TableBytes), so a
// run holds a block of the source, one row and the output block, however many rows there are.
// A cell is kept as the value it holds: text as text (a text that looks like a formula or a
// number included), a number as the digits it was stored with, so it comes back exactly. Text is
// in the table's own encoding (TextEncoding): the bytes of a GBK CSV stay GBK from reading to
// writing, and only the name cell is converted.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

enum class TableFormat { kCsv, kTsv, kXlsx };

// By the file name's extension (.csv, .tsv, .xlsx, in any case); nullopt for anything else.
std::optional<TableFormat> TableFormatOfPath(const std::string& path);
// For a spreadsheet format that is not read (.xls, .ods, .et, .numbers, by extension): the message
// that says so and what to save it as; "" for any other file.
std::string UnreadSpreadsheetMessage(const std::string& path);
// "csv", "tsv" or "xlsx"; nullopt for anything else.
std::optional<TableFormat> TableFormatNamed(std::string_view name);

enum class CellType {
  kEmpty,
  kText,
  kNumber,   // text holds the number as stored ("3.5", "1E-3")
  kBoolean,  // text "0" or "1"
  kError,    // text the error value ("#N/A"); written back as text
};

struct Cell {
  CellType type = CellType::kEmpty;
  std::string text;
  // A workbook number's display format: 0 General, 1-163 Excel's built-in formats (14 a date),
  // higher ones codes the source names (TableSource::NumberFormats).
  int numberFormat = 0;
  bool operator==(const Cell&) const = default;
};

using Row = std::vector<Cell>;

enum class TextEncoding { kUtf8, kGb18030 };

// The bytes of a table source, read where they are asked for: an open regular file, up to the
// size it had when opened, or bytes held in memory.
class TableBytes {
 public:
  explicit TableBytes(std::string bytes);
  // Takes `fd` (closed with this); `name` names the file in messages.
  TableBytes(int fd, std::string name);
  ~TableBytes();
  TableBytes(const TableBytes&) = delete;
  TableBytes& operator=(const TableBytes&) = delete;

  size_t Size() const { return size_; }
  const std::string& Name() const { return name_; }
  int Descriptor() const { return fd_; }  // -1 for bytes in memory
  std::string_view Memory() const { return bytes_; }
  // Appends the bytes [offset, offset + n) (within Size()) to `out`. Error when the file has
  // become shorter since it was opened; FileOpenError when it cannot be read.
  void AppendAt(size_t offset, size_t n, std::string& out) const;

 private:
  std::string bytes_;
  int fd_ = -1;
  std::string name_;
  size_t size_ = 0;
};

// The rows of one sheet, first to last. An empty row (an empty line, a row a workbook skips) is
// a row without cells.
class RowReader {
 public:
  virtual ~RowReader() = default;
  // The next row into `row` (its cells' storage reused); false after the last.
  virtual bool Next(Row& row) = 0;
  // How far the reading has come, for progress: in units of Size().
  virtual size_t Position() const = 0;
  virtual size_t Size() const = 0;
};

// A table source opened for reading: its sheets (one for CSV and TSV), each readable any number
// of times from its first row.
class TableSource {
 public:
  virtual ~TableSource() = default;
  virtual TextEncoding Encoding() const = 0;
  virtual std::vector<std::string> SheetNames() const = 0;  // UTF-8
  virtual std::unique_ptr<RowReader> Rows(size_t sheet) const = 0;
  // The format codes of the number formats 164 and up that the cells use ("yyyy/m/d").
  virtual std::map<int, std::string> NumberFormats() const { return {}; }
};

// A cell's text as UTF-8 (for headers, messages and the window's preview).
std::string CellUtf8(const Cell& cell, TextEncoding encoding);

}  // namespace quorvel

// A table in, the same table out with the romanized names beside the name column.
//
// Every row and every cell of the source comes back as it was; the romanized name stands in a
// new column directly after the name column, headed by that column's header and the kind
// ("姓名 (Pinyin)", "(Wade-Giles)", "(Passport)"), and the added columns follow it in the order of
// AddedColumn. A row too short to reach the name column is kept as it is; an empty name cell gives
// empty cells. The target has the source's format (CSV and TSV keep their encoding, byte-order
// mark, delimiter and line end; a workbook keeps every sheet's values, not their formatting).
//
// The target is written whole or not at all (WriteTarget without a partial keep): a failure or a
// cancel leaves an existing target as it was and no temporary behind.
//
// Failures: a sheet or column that cannot be found raises TableChoiceError (the command line's
// usage error), naming what there is; a source that cannot be read FileOpenError or Error, a
// target that cannot be written InOutError.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "BatchConversion.h"
#include "Errors.h"
#include "NameForms.h"
#include "Table.h"

namespace quorvel {

class TableChoiceError : public Error {
 public:
  using Error::Error;
};

// Whether the first row is a header: guessed, none, or certainly one (the window's tick).
enum class HeaderRow { kGuess, kNone, kPresent };

// Columns that may follow the romanized name, in this order. The review column holds the flag
// text of the name (Review.h), empty when there is nothing to check.
enum class AddedColumn { kSurname, kGiven, kInitials, kCitation, kPassport, kReview };
inline constexpr int kAddedColumnCount = 6;
inline constexpr const char* kAddedColumnNames[kAddedColumnCount] = {
    "surname", "given", "initials", "citation", "passport", "review"};
// A set of added columns: bit i stands for AddedColumn i.
using AddedColumns = unsigned;
inline constexpr AddedColumns Bit(AddedColumn column) { return 1u << static_cast<int>(column); }
// "surname,given,..." in any order, without repeats being an error; nullopt names an unknown word
// in `*unknown`.
std::optional<AddedColumns> ParseAddedColumns(std::string_view list, std::string* unknown);

// Header texts that mark the name column when none is given, in the order they are tried per
// column.
inline constexpr const char* kNameHeaders[] = {"姓名", "名字", "中文名", "中文姓名",
                                               "name", "Name", "NAME"};

struct TableOptions {
  std::optional<TableFormat> format;  // nullopt: by the source's extension
  std::string sheet;                  // UTF-8 sheet name; empty: the first sheet
  std::string column;                 // number, letter(s) or header text; empty: guessed
  HeaderRow header = HeaderRow::kGuess;
  AddedColumns added = 0;
  NameStyle style = NameStyle::kLayout;
};

struct ColumnChoice {
  size_t column = 0;  // from 0
  bool header = false;
};

// The name column and whether the first row is a header, from a table's first rows. A header row
// is assumed (unless HeaderRow::kNone) when the name column's first cell is not a name.
ColumnChoice ChooseNameColumn(const std::vector<Row>& firstRows, TextEncoding encoding,
                              const std::string& column, HeaderRow header);

// A cell that reads as a personal name: one to seven Chinese characters (a middle dot between
// them allowed), spaces aside.
bool LooksLikeName(const std::string& utf8);

// The spreadsheet letters of a column (0 -> "A", 26 -> "AA").
std::string ColumnLetters(size_t column);

struct TableReport {
  size_t rows = 0;            // data rows converted, the header row not counted
  size_t rowsWithMarker = 0;  // of those, rows whose name holds "???"
  ColumnChoice choice;
  TableFormat format = TableFormat::kCsv;
};

// Opens a table of `format` on its bytes, to be read where its rows are asked for.
std::unique_ptr<TableSource> OpenTable(std::shared_ptr<const TableBytes> bytes, TableFormat format);
// Opens the table `sourcePath` (a file, or kStandardStream) of `format` (OpenTableSource, with
// `targetPath` the run's target or empty); `*isFile` tells whether `*fileStat` was filled in.
std::unique_ptr<TableSource> OpenTableFile(const std::string& sourcePath,
                                           const std::string& targetPath, TableFormat format,
                                           struct stat* fileStat, bool* isFile);
// The sheet `name` names (empty: the first); TableChoiceError listing the sheets otherwise.
size_t FindSheet(const TableSource& table, const std::string& name);
// The format of a source: `options.format`, else its extension; Error when neither says.
TableFormat FormatOfSource(const std::string& sourcePath, const TableOptions& options);

// Converts the table `sourcePath` (a file, or kStandardStream with options.format) into
// `targetPath` (a file or kStandardStream). Progress counts in units of the source read. `onRow`
// sees each data row with a name: its row in the sheet (from 1, a header row counted), the name
// and the romanized name, both GBK.
TableReport ConvertTable(ListFiles& lists, const std::string& sourcePath,
                         const std::string& targetPath, const ConversionOptions& options,
                         const TableOptions& table, const ProgressFn& progress = {},
                         const LineFn& onRow = {});

// Where a run put the romanized name of one row: the target's format, its sheet (UTF-8; empty:
// the first), the source's name column (from 0; the romanized name stands in the next one) and
// the row in the sheet (from 1, a header row counted: ConvertTable's `onRow` number).
struct TableCellPlace {
  TableFormat format = TableFormat::kCsv;
  std::string sheet;
  size_t nameColumn = 0;
  size_t row = 0;
};

// Replaces the romanized name at `place` of a converted table with `replacement` when the cell
// still reads `expected` (both GBK romanized lines, as `onRow` gives them: the cell is written as
// the run writes it). The table is written whole again through the run's own writer (a temporary
// renamed over it): a CSV or TSV keeps its encoding, byte-order mark, delimiter and line ends, a
// workbook every sheet's values. Error when there is no such row or the cell was changed since
// (the file is left as it was); FileOpenError or InOutError when it cannot be read or written.
void RewriteTableName(const std::string& targetPath, const TableCellPlace& place,
                      std::string_view expected, std::string_view replacement);

// What the window shows before a run: the sheet's first rows (UTF-8) and the guessed choice
// (nullopt when no header names the column).
struct TablePreview {
  std::vector<std::vector<std::string>> rows;
  size_t columns = 0;  // the widest of those rows
  std::optional<ColumnChoice> guess;
};
TablePreview PreviewTable(const std::string& sourcePath, const TableOptions& options,
                          size_t rowCount);

}  // namespace quorvel

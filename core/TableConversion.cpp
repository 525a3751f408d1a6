#include "TableConversion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "Encoding.h"
#include "FileReading.h"
#include "Files.h"
#include "Paths.h"
#include "Review.h"
#include "TableCsv.h"
#include "TableXlsx.h"
#include "TextLines.h"

namespace quorvel {

namespace {

bool IsDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "AB" -> 27 (from 0); nullopt for anything but one to three letters.
std::optional<size_t> ColumnOfLetters(std::string_view s) {
  if (s.empty() || s.size() > 3) return std::nullopt;
  size_t column = 0;
  for (char c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return std::nullopt;
    column = column * 26 + static_cast<size_t>(c - 'A' + 1);
  }
  return column - 1;
}

std::string Trimmed(const std::string& text) { return std::string(TrimControls(text)); }

std::vector<std::string> FirstRowTexts(const std::vector<Row>& rows, TextEncoding encoding) {
  std::vector<std::string> texts;
  if (!rows.empty())
    for (const Cell& cell : rows.front()) texts.push_back(Trimmed(CellUtf8(cell, encoding)));
  return texts;
}

// "工号 (A), 姓名 (B)": what a message offers to choose from.
std::string HeaderList(const std::vector<std::string>& headers) {
  if (headers.empty()) return "the table has no header row";
  std::string list = "its headers are ";
  for (size_t i = 0; i < headers.size(); ++i) {
    if (i > 0) list += ", ";
    list +=
        (headers[i].empty() ? std::string("(empty)") : headers[i]) + " (" + ColumnLetters(i) + ")";
  }
  return list;
}

size_t Widest(const std::vector<Row>& rows) {
  size_t widest = 0;
  for (const Row& row : rows) widest = std::max(widest, row.size());
  return widest;
}

}  // namespace

std::optional<AddedColumns> ParseAddedColumns(std::string_view list, std::string* unknown) {
  AddedColumns added = 0;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view word = list.substr(0, comma);
    int found = -1;
    for (int i = 0; i < kAddedColumnCount; ++i)
      if (word == kAddedColumnNames[i]) found = i;
    if (found < 0) {
      *unknown = std::string(word);
      return std::nullopt;
    }
    added |= 1u << found;
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return added;
}

bool LooksLikeName(const std::string& utf8) {
  const std::string clean = RemoveSpaces(TrimControls(utf8));
  for (const char* header : kNameHeaders)
    if (clean == header) return false;
  size_t characters = 0;
  bool dots = false;
  bool lastWasDot = true;  // no dot first
  for (size_t i = 0; i < clean.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(std::string_view(clean).substr(i), &cp);
    if (len == 0) return false;
    i += len;
    const bool dot = cp == 0x00B7 || cp == 0x30FB || cp == 0x2022;  // 阿沛·阿旺晋美
    if (dot) {
      if (lastWasDot) return false;
      dots = true;
    } else if (IsIdeograph(cp)) {
      ++characters;
    } else {
      return false;
    }
    lastWasDot = dot;
  }
  return characters >= 1 && !lastWasDot && characters <= (dots ? 15u : 7u);
}

std::string ColumnLetters(size_t column) {
  std::string letters;
  for (size_t n = column + 1; n > 0; n = (n - 1) / 26)
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  return letters;
}

ColumnChoice ChooseNameColumn(const std::vector<Row>& firstRows, TextEncoding encoding,
                              const std::string& column, HeaderRow header) {
  const std::vector<std::string> headers =
      header == HeaderRow::kNone ? std::vector<std::string>() : FirstRowTexts(firstRows, encoding);
  const size_t widest = Widest(firstRows);
  auto headerOf = [&](size_t at) {
    if (header == HeaderRow::kNone || firstRows.empty()) return false;
    if (header == HeaderRow::kPresent) return true;
    const Row& first = firstRows.front();
    return at >= first.size() || !LooksLikeName(CellUtf8(first[at], encoding));
  };
  if (column.empty()) {
    for (size_t i = 0; i < headers.size(); ++i)
      for (const char* name : kNameHeaders)
        if (headers[i] == name) return {i, true};
    // One column and no header naming it: that column, a header row only if its first cell is none.
    if (widest <= 1) return {0, headerOf(0)};
    throw TableChoiceError(
        "No column is headed 姓名, 名字, 中文名, 中文姓名 or name; choose the name column with "
        "--column (" +
        HeaderList(headers) + ")");
  }
  std::optional<size_t> chosen;
  if (IsDigits(column)) {
    const unsigned long number = column.size() > 6 ? 0 : std::stoul(column);
    if (number == 0)
      throw TableChoiceError("Column numbers count from 1 (--column=" + column + ")");
    chosen = number - 1;
  } else {
    const std::string wanted = Trimmed(column);
    for (size_t i = 0; i < headers.size() && !chosen; ++i)
      if (headers[i] == wanted) return {i, true};
    chosen = ColumnOfLetters(wanted);
    if (!chosen)
      throw TableChoiceError("No column is headed \"" + column + "\"; " + HeaderList(headers));
  }
  if (*chosen >= widest && widest > 0)
    throw TableChoiceError("Column " + ColumnLetters(*chosen) + " (" + std::to_string(*chosen + 1) +
                           ") lies past the table's last column, " + ColumnLetters(widest - 1) +
                           " (" + std::to_string(widest) + ")");
  return {*chosen, headerOf(*chosen)};
}

std::unique_ptr<TableSource> OpenTable(std::shared_ptr<const TableBytes> bytes,
                                       TableFormat format) {
  switch (format) {
    case TableFormat::kCsv: return std::make_unique<DelimitedSource>(std::move(bytes), ',');
    case TableFormat::kTsv: return std::make_unique<DelimitedSource>(std::move(bytes), '\t');
    case TableFormat::kXlsx: return std::make_unique<XlsxSource>(std::move(bytes));
  }
  throw Error("Unknown table format");
}

std::unique_ptr<TableSource> OpenTableFile(const std::string& sourcePath,
                                           const std::string& targetPath, TableFormat format,
                                           struct stat* fileStat, bool* isFile) {
  // A record no longer than the longest a CSV reads: standard input stops at a longer line.
  const int fd = OpenTableSource(sourcePath, targetPath, fileStat, isFile,
                                 format == TableFormat::kXlsx ? 0 : kLongestRecordBytes);
  return OpenTable(std::make_shared<const TableBytes>(
                       fd, sourcePath == kStandardStream ? "standard input" : sourcePath),
                   format);
}

size_t FindSheet(const TableSource& table, const std::string& name) {
  const std::vector<std::string> sheets = table.SheetNames();
  if (name.empty()) return 0;
  if (sheets.size() == 1 && sheets[0].empty())
    throw TableChoiceError("A CSV or TSV table has no sheets to choose");
  for (size_t i = 0; i < sheets.size(); ++i)
    if (sheets[i] == name) return i;
  std::string list;
  for (const std::string& sheet : sheets) list += (list.empty() ? "" : ", ") + sheet;
  throw TableChoiceError("No sheet is named \"" + name + "\"; the sheets are " + list);
}

TableFormat FormatOfSource(const std::string& sourcePath, const TableOptions& options) {
  if (options.format) return *options.format;
  if (std::optional<TableFormat> format = TableFormatOfPath(sourcePath)) return *format;
  throw TableChoiceError("Cannot tell the table format of \"" + sourcePath +
                         "\" (--table=csv, tsv or xlsx)");
}

namespace {

// The first `count` rows of a sheet.
std::vector<Row> FirstRows(const TableSource& table, size_t sheet, size_t count) {
  std::vector<Row> rows;
  std::unique_ptr<RowReader> reader = table.Rows(sheet);
  Row row;
  while (rows.size() < count && reader->Next(row)) rows.push_back(row);
  return rows;
}

constexpr size_t kRowsForChoice = 20;

}  // namespace

TablePreview PreviewTable(const std::string& sourcePath, const TableOptions& options,
                          size_t rowCount) {
  const TableFormat format = FormatOfSource(sourcePath, options);
  struct stat unused {};
  bool isFile = false;
  std::unique_ptr<TableSource> table = OpenTableFile(sourcePath, {}, format, &unused, &isFile);
  const std::vector<Row> rows =
      FirstRows(*table, FindSheet(*table, options.sheet), std::max(rowCount, kRowsForChoice));
  TablePreview preview;
  for (size_t i = 0; i < rows.size() && i < rowCount; ++i) {
    std::vector<std::string> texts;
    for (const Cell& cell : rows[i]) texts.push_back(CellUtf8(cell, table->Encoding()));
    preview.rows.push_back(std::move(texts));
  }
  preview.columns = Widest(rows);
  try {
    preview.guess = ChooseNameColumn(rows, table->Encoding(), options.column, options.header);
  } catch (const TableChoiceError&) {
  }
  return preview;
}

namespace {

// A romanized form as a cell: without the space a layout puts beside an empty part (a name of
// one character gives " Liu" as a line, "Liu" as a cell), in the table's encoding.
Cell NameCell(std::string_view gbk, TextEncoding encoding) {
  std::string_view text = gbk;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  return {CellType::kText,
          encoding == TextEncoding::kUtf8 && !ascii ? Gb18030ToUtf8(text) : std::string(text)};
}

// The cells a row gains, for the header row and for each data row.
class RowConverter {
 public:
  RowConverter(const ListFiles& lists, const ConversionOptions& options, const TableOptions& table,
               ColumnChoice choice, TextEncoding encoding)
      : options_(options),
        table_(table),
        column_(choice.column),
        encoding_(encoding),
        names_(lists, options),
        passport_(lists, PassportOptions(options)),
        reviewer_(lists, options) {}

  void Header(const Row& in, Row& out) {
    const std::string header = column_ < in.size() ? in[column_].text : std::string();
    auto headed = [&](const char* kind) {
      return Cell{CellType::kText, header.empty() ? std::string(kind) : header + " (" + kind + ")"};
    };
    Insert(in, out, [&](std::vector<Cell>& cells) {
      cells.push_back(headed(options_.format == NameFormat::kPassport         ? "Passport"
                             : options_.romanization == Romanization::kPinyin ? "Pinyin"
                                                                              : "Wade-Giles"));
      static const char* const kHeaders[kAddedColumnCount] = {"Surname",  "Given name", "Initials",
                                                              "Citation", "Passport",   "Review"};
      for (int i = 0; i < kAddedColumnCount; ++i)
        if (table_.added & (1u << i)) cells.push_back(headed(kHeaders[i]));
    });
  }

  // True when the name holds "???". `number`: the row in the sheet, for `onRow`.
  bool Data(const Row& in, Row& out, size_t number, const LineFn& onRow) {
    bool marker = false;
    Insert(in, out, [&](std::vector<Cell>& cells) {
      const std::string& text = in[column_].text;
      const size_t count = 1 + static_cast<size_t>(__builtin_popcount(table_.added));
      if (TrimControls(text).empty()) {
        cells.resize(count);  // an empty name gives empty cells
        return;
      }
      const std::string* name = &text;
      if (encoding_ == TextEncoding::kUtf8) {
        toGbk_.Convert(text, gbk_);
        name = &gbk_;
      }
      const std::string& gbk = *name;
      std::string value;
      AppendNameInStyle(value, names_, parts_, gbk, table_.style, options_.separator);
      marker = value.find(kNoReading) != std::string::npos;
      if (onRow) onRow(number, gbk, value);
      cells.push_back(TextCell(value));
      constexpr AddedColumns kNeedParts = Bit(AddedColumn::kSurname) | Bit(AddedColumn::kGiven) |
                                          Bit(AddedColumn::kInitials) | Bit(AddedColumn::kCitation);
      if (table_.added & kNeedParts) names_.Split(parts_, gbk);
      for (int i = 0; i < kAddedColumnCount; ++i) {
        if (!(table_.added & (1u << i))) continue;
        value.clear();
        switch (static_cast<AddedColumn>(i)) {
          case AddedColumn::kSurname: AppendSurname(value, parts_); break;
          case AddedColumn::kGiven: AppendGivenName(value, parts_, options_.separator); break;
          case AddedColumn::kInitials: AppendInitials(value, parts_); break;
          case AddedColumn::kCitation: AppendCitation(value, parts_, options_.separator); break;
          case AddedColumn::kPassport: passport_.Append(value, gbk); break;
          case AddedColumn::kReview: cells.push_back(ReviewCell(gbk)); continue;
        }
        cells.push_back(TextCell(value));
      }
    });
    return marker;
  }

 private:
  static ConversionOptions PassportOptions(ConversionOptions options) {
    options.format = NameFormat::kPassport;
    return options;
  }

  Cell TextCell(const std::string& gbk) const { return NameCell(gbk, encoding_); }

  // The flag text of a name (UTF-8) in the table's encoding; empty when there is nothing to check.
  Cell ReviewCell(const std::string& gbk) const {
    const std::string text = FlagText(reviewer_.Review(gbk));
    return {CellType::kText,
            encoding_ == TextEncoding::kUtf8 || text.empty() ? text : Utf8ToGb18030(text)};
  }

  // `out` = `in` with the new cells after the name column; a row too short keeps its cells alone.
  template <typename Fill>
  void Insert(const Row& in, Row& out, Fill&& fill) {
    out.clear();
    if (in.size() <= column_) {
      out = in;
      return;
    }
    out.insert(out.end(), in.begin(), in.begin() + static_cast<long>(column_) + 1);
    newCells_.clear();
    fill(newCells_);
    out.insert(out.end(), newCells_.begin(), newCells_.end());
    out.insert(out.end(), in.begin() + static_cast<long>(column_) + 1, in.end());
  }

  const ConversionOptions options_;
  const TableOptions& table_;
  const size_t column_;
  const TextEncoding encoding_;
  NameConverter names_;
  NameConverter passport_;
  NameReviewer reviewer_;
  NameParts parts_;
  std::vector<Cell> newCells_;
  Utf8ToGb18030Converter toGbk_;
  std::string gbk_;
};

// Where the rows of a run go: sheet after sheet, row after row.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void BeginSheet(const std::string& name) = 0;
  virtual void Write(const Row& row) = 0;
  virtual void Finish() = 0;
};

void WriteAll(int fd, std::string_view bytes, const std::string& name) {
  if (!WriteAllBytes(fd, bytes)) ThrowInOut(errno, name);
}

class DelimitedSink : public RowSink {
 public:
  DelimitedSink(int fd, const std::string& name, const DelimitedLayout& layout)
      : fd_(fd), name_(name), layout_(layout) {
    if (layout.byteOrderMark) buf_ = "\xEF\xBB\xBF";
  }
  void BeginSheet(const std::string&) override {}
  void Write(const Row& row) override {
    AppendDelimitedRow(buf_, row, layout_);
    wroteRow_ = true;
    if (buf_.size() >= kOutputBlockBytes) {
      WriteAll(fd_, buf_, name_);
      buf_.clear();
    }
  }
  void Finish() override {
    // A source whose last record had no line end gives a target without one.
    if (wroteRow_ && !layout_.lastLineEnded) buf_.resize(buf_.size() - layout_.lineEnd.size());
    WriteAll(fd_, buf_, name_);
    buf_.clear();
  }

 private:
  int fd_;
  const std::string& name_;
  const DelimitedLayout& layout_;
  std::string buf_;
  bool wroteRow_ = false;
};

class XlsxSink : public RowSink {
 public:
  XlsxSink(const std::string& path, std::map<int, std::string> numberFormats)
      : writer_(path, std::move(numberFormats)) {}
  void BeginSheet(const std::string& name) override { writer_.AddSheet(name); }
  void Write(const Row& row) override { writer_.Write(row); }
  void Finish() override { writer_.Close(); }

 private:
  XlsxWriter writer_;
};

// Copies the file `path` to `fd` a block at a time.
void CopyFileInto(const std::string& path, int fd, const std::string& name) {
  std::string reason;
  const int from = OpenRegularFile(path, &reason);
  if (from < 0) throw FileOpenError(path, reason, errno);
  std::string block;
  for (;;) {
    block.clear();
    if (int e = ReadFromDescriptor(from, block, kOutputBlockBytes)) {
      ::close(from);
      throw FileOpenError(path, e);
    }
    if (block.empty()) break;
    if (!WriteAllBytes(fd, block)) {
      const int e = errno;
      ::close(from);
      ThrowInOut(e, name);
    }
  }
  ::close(from);
}

// A workbook for a stream is made in a private temporary file first, then copied.
void WriteWorkbookToStream(int fd, const std::string& name,
                           const std::map<int, std::string>& numberFormats,
                           const std::function<void(RowSink&)>& run) {
  std::string tempPath;
  const char* tmp = std::getenv("TMPDIR");
  const int temp =
      CreateUniqueFile(JoinPath(tmp && *tmp ? tmp : "/tmp", "quorvel-workbook-"), 0600, tempPath);
  if (temp < 0) ThrowInOut(errno, tempPath);
  ::close(temp);
  try {
    {
      XlsxSink sink(tempPath, numberFormats);
      run(sink);
    }
    CopyFileInto(tempPath, fd, name);
  } catch (...) {
    ::unlink(tempPath.c_str());
    throw;
  }
  ::unlink(tempPath.c_str());
}

// Writes a table of `format` to `targetPath` (a file or kStandardStream) by `run`, whole or not at
// all (WriteTarget without a partial keep); a delimited text takes the layout of `layoutOf`.
void WriteTable(const std::string& targetPath, const struct stat* sourceStat, TableFormat format,
                const TableSource& layoutOf, const std::function<void(RowSink&)>& run) {
  auto writeTo = [&](int fd, const std::string& name, const std::string& path) {
    if (format != TableFormat::kXlsx) {
      DelimitedSink sink(fd, name, static_cast<const DelimitedSource&>(layoutOf).Layout());
      run(sink);
    } else if (path.empty()) {
      WriteWorkbookToStream(fd, name, layoutOf.NumberFormats(), run);
    } else {
      XlsxSink sink(path, layoutOf.NumberFormats());
      run(sink);
    }
  };
  if (targetPath == kStandardStream) {
    writeTo(StandardOutput(), "standard output", {});
    return;
  }
  TargetWrite how;
  how.write = writeTo;  // no keepAfterFailure: the table is whole or not written at all
  WriteTarget(targetPath, sourceStat, how);
}

}  // namespace

TableReport ConvertTable(ListFiles& lists, const std::string& sourcePath,
                         const std::string& targetPath, const ConversionOptions& options,
                         const TableOptions& table, const ProgressFn& progress,
                         const LineFn& onRow) {
  TableReport report;
  report.format = FormatOfSource(sourcePath, table);
  struct stat sourceStat {};
  bool sourceIsFile = false;
  std::unique_ptr<TableSource> source =
      OpenTableFile(sourcePath, targetPath, report.format, &sourceStat, &sourceIsFile);
  const size_t sheet = FindSheet(*source, table.sheet);
  report.choice = ChooseNameColumn(FirstRows(*source, sheet, kRowsForChoice), source->Encoding(),
                                   table.column, table.header);

  auto run = [&](RowSink& sink) {
    report.rows = report.rowsWithMarker = 0;
    const std::vector<std::string> sheets = source->SheetNames();
    Row in, out;
    for (size_t s = 0; s < sheets.size(); ++s) {
      sink.BeginSheet(sheets[s]);
      std::unique_ptr<RowReader> rows = source->Rows(s);
      if (s != sheet) {  // every other sheet's values come along as they are
        for (size_t copied = 1; rows->Next(in); ++copied) {
          sink.Write(in);
          if (progress && copied % 1024 == 0)
            progress(rows->Position(), rows->Size());  // a cancel lands here too
        }
        continue;
      }
      RowConverter converter(lists, options, table, report.choice, source->Encoding());
      lists.Refresh();
      size_t number = 0;
      for (bool first = true; rows->Next(in); first = false) {
        ++number;
        if (first && report.choice.header) {
          converter.Header(in, out);
        } else {
          if (converter.Data(in, out, number, onRow)) ++report.rowsWithMarker;
          ++report.rows;
        }
        sink.Write(out);
        if (report.rows % 1024 == 0) {
          if (progress) progress(rows->Position(), rows->Size());
          lists.Refresh();
        }
      }
      if (progress) progress(rows->Size(), rows->Size());
    }
    sink.Finish();
  };
  WriteTable(targetPath, sourceIsFile ? &sourceStat : nullptr, report.format, *source, run);
  return report;
}

void RewriteTableName(const std::string& targetPath, const TableCellPlace& place,
                      std::string_view expected, std::string_view replacement) {
  struct stat targetStat {};
  bool isFile = false;
  const std::unique_ptr<TableSource> table =
      OpenTableFile(targetPath, targetPath, place.format, &targetStat, &isFile);
  const size_t sheet = FindSheet(*table, place.sheet);
  const size_t column = place.nameColumn + 1;  // the romanized name stands right after the name
  const Cell was = NameCell(expected, table->Encoding());
  const Cell now = NameCell(replacement, table->Encoding());
  const std::string where = "目标表格第 " + std::to_string(place.row) + " 行";
  {  // the cell must still read what the run wrote: an edit of the user's is never overwritten
    std::unique_ptr<RowReader> rows = table->Rows(sheet);
    Row row;
    size_t number = 0;
    while (number < place.row && rows->Next(row)) ++number;
    if (place.row == 0 || number < place.row)
      throw Error(where + "不存在，没有改写：" + targetPath);
    if (row.size() <= column || row[column].text != was.text)
      throw Error(where + "的译名已被改动，没有改写：" + targetPath);
  }
  auto run = [&](RowSink& sink) {
    const std::vector<std::string> sheets = table->SheetNames();
    Row row;
    for (size_t s = 0; s < sheets.size(); ++s) {
      sink.BeginSheet(sheets[s]);
      std::unique_ptr<RowReader> rows = table->Rows(s);
      for (size_t number = 1; rows->Next(row); ++number) {
        if (s == sheet && number == place.row) row[column] = now;
        sink.Write(row);
      }
    }
    sink.Finish();
  };
  WriteTable(targetPath, isFile ? &targetStat : nullptr, place.format, *table, run);
}

}  // namespace quorvel

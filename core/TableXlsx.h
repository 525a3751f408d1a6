// Excel workbooks (.xlsx): reading the values of every sheet, writing a new workbook of values.
//
// Reading (libzip, expat) takes the workbook's worksheets in their order with their names (chart
// sheets, which hold no cells, are left out); the archive is read from the file where its parts
// lie, and a sheet's rows are parsed as they are read, a block of XML at a time; the shared
// strings are held whole. Cells come as their values: shared
// and inline strings as text (Excel's _xHHHH_ escapes undone), numbers as the digits stored,
// booleans, error values; a formula gives the value last calculated. A number keeps the number
// format of its cell style (dates, times, percentages). Missing rows and cells (the
// file leaves out empty ones) come back as empty rows and cells.
//
// Writing (libxlsxwriter, its constant-memory mode) puts the rows down in order: text as text,
// whatever it looks like, numbers as numbers with their number format (a date stays a date),
// booleans as booleans, error values as their text. No other formatting, no formula, merged
// range, comment or picture is carried over.
//
// Failures: a file that is no workbook, or a damaged one, raises Error with a message; a
// workbook that cannot be written raises Error naming the cause.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Table.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace quorvel {

// A workbook's shared strings, held for the run: one text after another in one buffer, found by
// where each ends (a std::string each would take 32 bytes more per string).
class SharedStrings {
 public:
  void Add(std::string_view text) {
    text_.append(text);
    ends_.push_back(static_cast<uint32_t>(text_.size()));  // the reader holds at most 1 GiB
  }
  size_t Size() const { return ends_.size(); }
  std::string_view operator[](size_t i) const {
    const size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }

 private:
  std::string text_;
  std::vector<uint32_t> ends_;
};

class XlsxSource : public TableSource {
 public:
  explicit XlsxSource(std::string bytes);
  // Opens the archive where `bytes` lies: a file is read where its parts are asked for.
  explicit XlsxSource(std::shared_ptr<const TableBytes> bytes);
  ~XlsxSource() override;

  TextEncoding Encoding() const override { return TextEncoding::kUtf8; }
  std::vector<std::string> SheetNames() const override;
  std::unique_ptr<RowReader> Rows(size_t sheet) const override;
  std::map<int, std::string> NumberFormats() const override { return formatCodes_; }

  class Archive;  // the open zip file

 private:
  std::shared_ptr<const TableBytes> bytes_;
  std::unique_ptr<Archive> archive_;
  std::vector<std::string> names_;
  std::vector<std::string> paths_;  // of each sheet's XML inside the archive
  SharedStrings sharedStrings_;
  std::vector<int> cellFormats_;            // number format of each cell style (the s attribute)
  std::map<int, std::string> formatCodes_;  // of the number formats 164 and up
};

class XlsxWriter {
 public:
  // `numberFormats`: the codes of the number formats 164 and up that cells may name.
  explicit XlsxWriter(const std::string& path, std::map<int, std::string> numberFormats = {});
  ~XlsxWriter();
  XlsxWriter(const XlsxWriter&) = delete;
  XlsxWriter& operator=(const XlsxWriter&) = delete;

  void AddSheet(const std::string& name);  // empty: the default name
  void Write(const Row& row);              // the next row of the sheet added last
  void Close();                            // writes the file

 private:
  void Check(int error);
  lxw_format* NumberFormat(int id);
  lxw_workbook* book_ = nullptr;
  std::map<int, std::string> codes_;
  std::map<int, lxw_format*> formats_;
  lxw_worksheet* sheet_ = nullptr;
  unsigned row_ = 0;
};

}  // namespace quorvel

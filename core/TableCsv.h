// CSV and TSV tables: fields separated by a comma or a tab, RFC 4180 quoting.
//
// Reading is lenient where spreadsheet programs are: a quoted field may hold the delimiter,
// line breaks and doubled quotes (""); a quote inside an unquoted field is an ordinary character;
// text after a closing quote belongs to the same field; a record ends at CR LF, LF or a lone CR;
// an empty line is a row without cells; rows may have any number of fields. A quote left open
// runs to the end of the text (nothing is lost, the rest is one field), as long as that record
// stays within kLongestRecordBytes.
//
// The text is UTF-8 (with or without a byte-order mark) or GBK / GB18030, as DetectEncoding
// tells; the structure bytes (quote, comma, tab, CR, LF) never occur inside a GBK or GB18030
// character, so fields are cut without decoding anything. Writing keeps the source's encoding,
// byte-order mark, delimiter and line end; a field is quoted exactly when it holds the
// delimiter, a quote or a line break, or starts with the bytes of a UTF-8 byte-order mark. A UTF-16
// source is refused with a message.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Table.h"

namespace quorvel {

// How a delimited text is written: what the source showed.
struct DelimitedLayout {
  char delimiter = ',';
  TextEncoding encoding = TextEncoding::kUtf8;
  bool byteOrderMark = false;
  std::string lineEnd = "\r\n";  // the source's first record end; CR LF when it has none
  bool lastLineEnded = true;     // the source's last record ends with a line end
};

// Rows are read from the source a block at a time (kTableBlockBytes); a record may span blocks,
// and one longer than kLongestRecordBytes is refused with its row number, so the memory a run
// takes does not grow with the file.
inline constexpr size_t kTableBlockBytes = size_t{1} << 20;
inline constexpr size_t kLongestRecordBytes = size_t{16} << 20;

class DelimitedSource : public TableSource {
 public:
  // Takes the whole file's bytes. Throws Error for a UTF-16 text.
  DelimitedSource(std::string bytes, char delimiter);
  // Reads `bytes` where its rows are asked for, `block` bytes at a time.
  DelimitedSource(std::shared_ptr<const TableBytes> bytes, char delimiter,
                  size_t block = kTableBlockBytes, size_t longestRecord = kLongestRecordBytes);

  TextEncoding Encoding() const override { return layout_.encoding; }
  std::vector<std::string> SheetNames() const override { return {""}; }
  std::unique_ptr<RowReader> Rows(size_t sheet) const override;
  const DelimitedLayout& Layout() const { return layout_; }

 private:
  void FindLineEnd();
  std::shared_ptr<const TableBytes> bytes_;
  size_t textStart_ = 0;  // past the byte-order mark
  size_t block_, longestRecord_;
  DelimitedLayout layout_;
};

// Appends one row to `out` as a record of `layout`, its line end included.
void AppendDelimitedRow(std::string& out, const Row& row, const DelimitedLayout& layout);

// The rows of a delimited text (from `textStart`, past any byte-order mark), read one record at a
// time from a window of the source that holds the record being read and a block more.
class DelimitedReader : public RowReader {
 public:
  DelimitedReader(std::shared_ptr<const TableBytes> bytes, size_t textStart, char delimiter,
                  size_t block, size_t longestRecord);
  bool Next(Row& row) override;
  size_t Position() const override { return base_ + pos_ - textStart_; }
  size_t Size() const override { return bytes_->Size() - textStart_; }

 private:
  void ReadRecord(Row& row);
  void ReadField(Cell& cell);
  void Refill();
  std::shared_ptr<const TableBytes> bytes_;
  size_t textStart_;
  char delimiter_;
  size_t block_, longestRecord_;
  std::string window_;
  size_t base_;     // the source offset of the window's first byte
  size_t pos_ = 0;  // in the window
  bool eof_ = false;
  size_t records_ = 0;
};

}  // namespace quorvel

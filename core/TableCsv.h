// CSV and TSV tables: fields separated by a comma or a tab, RFC 4180 quoting.
//
// Reading is lenient where spreadsheet programs are: a quoted field may hold the delimiter,
// line breaks and doubled quotes (""); a quote inside an unquoted field is an ordinary character;
// text after a closing quote belongs to the same field; a record ends at CR LF, LF or a lone CR;
// an empty line is a row without cells; rows may have any number of fields. A quote left open
// runs to the end of the text (nothing is lost, the rest is one field).
//
// The text is UTF-8 (with or without a byte-order mark) or GBK / GB18030, as DetectEncoding
// tells; the structure bytes (quote, comma, tab, CR, LF) never occur inside a GBK or GB18030
// character, so fields are cut without decoding anything. Writing keeps the source's encoding,
// byte-order mark, delimiter and line end; a field is quoted exactly when it holds the
// delimiter, a quote or a line break, or starts with the bytes of a UTF-8 byte-order mark. A UTF-16
// source is refused with a message.
#pragma once

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

class DelimitedSource : public TableSource {
 public:
  // Takes the whole file's bytes. Throws Error for a UTF-16 text.
  DelimitedSource(std::string bytes, char delimiter);

  TextEncoding Encoding() const override { return layout_.encoding; }
  std::vector<std::string> SheetNames() const override { return {""}; }
  std::unique_ptr<RowReader> Rows(size_t sheet) const override;
  const DelimitedLayout& Layout() const { return layout_; }

 private:
  std::string bytes_;
  std::string_view text_;  // without the byte-order mark
  DelimitedLayout layout_;
};

// Appends one row to `out` as a record of `layout`, its line end included.
void AppendDelimitedRow(std::string& out, const Row& row, const DelimitedLayout& layout);

// The rows of a delimited text (no byte-order mark), read one record at a time.
class DelimitedReader : public RowReader {
 public:
  DelimitedReader(std::string_view text, char delimiter) : text_(text), delimiter_(delimiter) {}
  bool Next(Row& row) override;
  size_t Position() const override { return pos_; }
  size_t Size() const override { return text_.size(); }

 private:
  void ReadField(Cell& cell);
  std::string_view text_;
  char delimiter_;
  size_t pos_ = 0;
};

}  // namespace quorvel

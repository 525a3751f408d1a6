#include "TableCsv.h"

#include "Encoding.h"
#include "Errors.h"

namespace quorvel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

DelimitedSource::DelimitedSource(std::string bytes, char delimiter) : bytes_(std::move(bytes)) {
  layout_.delimiter = delimiter;
  const SourceEncoding encoding = DetectEncoding(bytes_);
  if (encoding == SourceEncoding::kUtf16Le || encoding == SourceEncoding::kUtf16Be)
    throw Error("This table is in UTF-16, which is not read; save it as CSV in UTF-8 or GBK");
  layout_.encoding =
      encoding == SourceEncoding::kGb18030 ? TextEncoding::kGb18030 : TextEncoding::kUtf8;
  text_ = bytes_;
  if (text_.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    layout_.byteOrderMark = true;
    text_.remove_prefix(kUtf8Bom.size());
  }
  // The first line end outside quotes is the one every record gets.
  bool quoted = false;
  for (size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] == '"') quoted = !quoted;
    if (!quoted && IsLineEnd(text_[i])) {
      layout_.lineEnd = text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n' ? "\r\n"
                        : text_[i] == '\r'                                               ? "\r"
                                                                                         : "\n";
      break;
    }
  }
  layout_.lastLineEnded = text_.empty() || IsLineEnd(text_.back());
}

std::unique_ptr<RowReader> DelimitedSource::Rows(size_t) const {
  return std::make_unique<DelimitedReader>(text_, layout_.delimiter);
}

void DelimitedReader::ReadField(Cell& cell) {
  cell.text.clear();
  const size_t n = text_.size();
  if (pos_ < n && text_[pos_] == '"') {
    ++pos_;
    for (;;) {
      const size_t quote = text_.find('"', pos_);
      if (quote == std::string_view::npos) {  // left open: the rest is this field
        cell.text.append(text_.substr(pos_));
        pos_ = n;
        break;
      }
      cell.text.append(text_.substr(pos_, quote - pos_));
      pos_ = quote + 1;
      if (pos_ < n && text_[pos_] == '"') {
        cell.text.push_back('"');
        ++pos_;
        continue;
      }
      break;
    }
  }
  // Unquoted text, or what follows a closing quote, up to the delimiter or the record's end.
  const size_t start = pos_;
  while (pos_ < n && text_[pos_] != delimiter_ && !IsLineEnd(text_[pos_])) ++pos_;
  cell.text.append(text_.substr(start, pos_ - start));
  cell.type = cell.text.empty() ? CellType::kEmpty : CellType::kText;
}

bool DelimitedReader::Next(Row& row) {
  const size_t n = text_.size();
  if (pos_ >= n) return false;
  size_t cells = 0;
  if (!IsLineEnd(text_[pos_])) {  // an empty line is a row without cells
    for (;;) {
      if (cells == row.size()) row.emplace_back();
      ReadField(row[cells++]);
      if (pos_ < n && text_[pos_] == delimiter_) {
        ++pos_;
        continue;
      }
      break;
    }
  }
  row.resize(cells);
  if (pos_ < n && text_[pos_] == '\r') {
    ++pos_;
    if (pos_ < n && text_[pos_] == '\n') ++pos_;
  } else if (pos_ < n && text_[pos_] == '\n') {
    ++pos_;
  }
  return true;
}

void AppendDelimitedRow(std::string& out, const Row& row, const DelimitedLayout& layout) {
  const char special[] = {layout.delimiter, '"', '\r', '\n', '\0'};
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) out.push_back(layout.delimiter);
    const std::string& text = row[i].text;
    // A field that starts with the byte-order mark's bytes is quoted too: at the start of the
    // text, a reader would take them for the mark and drop them.
    if (text.find_first_of(special, 0, 4) == std::string::npos &&
        !std::string_view(text).starts_with(kUtf8Bom)) {
      out += text;
      continue;
    }
    out.push_back('"');
    for (char c : text) {
      if (c == '"') out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  out += layout.lineEnd;
}

}  // namespace quorvel

#include "TableCsv.h"

#include <algorithm>

#include "Encoding.h"
#include "Errors.h"

namespace quorvel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

[[noreturn]] void ThrowRowTooLong(size_t row, const std::string& name, size_t limit) {
  throw Error("Row " + std::to_string(row) + " of \"" + name + "\" is longer than " +
              (limit % (size_t{1} << 20) == 0 ? std::to_string(limit >> 20) + " MiB"
                                              : std::to_string(limit) + " bytes"));
}

}  // namespace

DelimitedSource::DelimitedSource(std::string bytes, char delimiter)
    : DelimitedSource(std::make_shared<const TableBytes>(std::move(bytes)), delimiter) {}

DelimitedSource::DelimitedSource(std::shared_ptr<const TableBytes> bytes, char delimiter,
                                 size_t block, size_t longestRecord)
    : bytes_(std::move(bytes)), block_(std::max<size_t>(block, 1)), longestRecord_(longestRecord) {
  layout_.delimiter = delimiter;
  const SourceEncoding encoding = bytes_->Descriptor() >= 0
                                      ? DetectFileEncoding(bytes_->Descriptor())
                                      : DetectEncoding(bytes_->Memory());
  if (encoding == SourceEncoding::kUtf16Le || encoding == SourceEncoding::kUtf16Be)
    throw Error("This table is in UTF-16, which is not read; save it as CSV in UTF-8 or GBK");
  layout_.encoding =
      encoding == SourceEncoding::kGb18030 ? TextEncoding::kGb18030 : TextEncoding::kUtf8;
  const size_t size = bytes_->Size();
  std::string head;
  bytes_->AppendAt(0, std::min(size, kUtf8Bom.size()), head);
  if (head == kUtf8Bom) {
    layout_.byteOrderMark = true;
    textStart_ = kUtf8Bom.size();
  }
  FindLineEnd();
  std::string last;
  if (size > textStart_) bytes_->AppendAt(size - 1, 1, last);
  layout_.lastLineEnded = last.empty() || IsLineEnd(last[0]);
}

// The first line end outside quotes is the one every record gets.
void DelimitedSource::FindLineEnd() {
  bool quoted = false, afterCr = false;
  std::string block;
  for (size_t at = textStart_; at < bytes_->Size(); at += block.size()) {
    block.clear();
    bytes_->AppendAt(at, std::min(block_, bytes_->Size() - at), block);
    for (char c : block) {
      if (afterCr) {
        layout_.lineEnd = c == '\n' ? "\r\n" : "\r";
        return;
      }
      if (c == '"') quoted = !quoted;
      if (quoted || !IsLineEnd(c)) continue;
      if (c == '\n') {
        layout_.lineEnd = "\n";
        return;
      }
      afterCr = true;
    }
  }
  if (afterCr) layout_.lineEnd = "\r";
}

std::unique_ptr<RowReader> DelimitedSource::Rows(size_t) const {
  return std::make_unique<DelimitedReader>(bytes_, textStart_, layout_.delimiter, block_,
                                           longestRecord_);
}

DelimitedReader::DelimitedReader(std::shared_ptr<const TableBytes> bytes, size_t textStart,
                                 char delimiter, size_t block, size_t longestRecord)
    : bytes_(std::move(bytes)),
      textStart_(textStart),
      delimiter_(delimiter),
      block_(block),
      longestRecord_(longestRecord),
      base_(textStart) {
  eof_ = base_ >= bytes_->Size();
}

// The window from the record being read on, and the next block after it.
void DelimitedReader::Refill() {
  window_.erase(0, pos_);
  base_ += pos_;
  pos_ = 0;
  const size_t from = base_ + window_.size();
  const size_t n = std::min(block_, bytes_->Size() - from);
  bytes_->AppendAt(from, n, window_);
  eof_ = from + n >= bytes_->Size();
}

void DelimitedReader::ReadField(Cell& cell) {
  cell.text.clear();
  const std::string_view text = window_;
  const size_t n = text.size();
  if (pos_ < n && text[pos_] == '"') {
    ++pos_;
    for (;;) {
      const size_t quote = text.find('"', pos_);
      if (quote == std::string_view::npos) {  // left open: the rest is this field
        cell.text.append(text.substr(pos_));
        pos_ = n;
        break;
      }
      cell.text.append(text.substr(pos_, quote - pos_));
      pos_ = quote + 1;
      if (pos_ < n && text[pos_] == '"') {
        cell.text.push_back('"');
        ++pos_;
        continue;
      }
      break;
    }
  }
  // Unquoted text, or what follows a closing quote, up to the delimiter or the record's end.
  const size_t start = pos_;
  while (pos_ < n && text[pos_] != delimiter_ && !IsLineEnd(text[pos_])) ++pos_;
  cell.text.append(text.substr(start, pos_ - start));
  cell.type = cell.text.empty() ? CellType::kEmpty : CellType::kText;
}

// The fields of the record at pos_, up to its line end or the window's end.
void DelimitedReader::ReadRecord(Row& row) {
  const size_t n = window_.size();
  size_t cells = 0;
  if (!IsLineEnd(window_[pos_])) {  // an empty line is a row without cells
    for (;;) {
      if (cells == row.size()) row.emplace_back();
      ReadField(row[cells++]);
      if (pos_ < n && window_[pos_] == delimiter_) {
        ++pos_;
        continue;
      }
      break;
    }
  }
  row.resize(cells);
}

bool DelimitedReader::Next(Row& row) {
  for (;;) {
    // A record is read from the window once the window holds it and the byte after its end (an
    // LF after a CR), or the text's end: every decision looks at most one byte ahead.
    if (pos_ + 1 >= window_.size() && !eof_) Refill();
    if (pos_ >= window_.size()) return false;
    const size_t start = pos_;
    ReadRecord(row);
    // Read whole or not, the record is that long at least.
    if (pos_ - start > longestRecord_)
      ThrowRowTooLong(records_ + 1, bytes_->Name(), longestRecord_);
    if (pos_ + 1 < window_.size() || eof_) break;
    pos_ = start;  // the record goes on past the window: read again once it holds more
    Refill();
  }
  ++records_;
  const size_t n = window_.size();
  if (pos_ < n && window_[pos_] == '\r') {
    ++pos_;
    if (pos_ < n && window_[pos_] == '\n') ++pos_;
  } else if (pos_ < n && window_[pos_] == '\n') {
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

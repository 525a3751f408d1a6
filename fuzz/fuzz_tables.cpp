// The table readers over arbitrary bytes: a CSV or TSV reads without fault and what it reads is
// written back into a text that reads the same again; a workbook (the bytes as a zip) either reads
// or fails with the engine's Error, never worse.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Errors.h"
#include "Table.h"
#include "TableCsv.h"
#include "TableXlsx.h"

namespace {

std::vector<quorvel::Row> ReadAll(const quorvel::TableSource& table, size_t sheet) {
  std::vector<quorvel::Row> rows;
  std::unique_ptr<quorvel::RowReader> reader = table.Rows(sheet);
  quorvel::Row row;
  while (reader->Next(row)) rows.push_back(row);
  return rows;
}

void CheckDelimited(const std::string& bytes, char delimiter) {
  try {
    quorvel::DelimitedSource source(bytes, delimiter);
    const std::vector<quorvel::Row> rows = ReadAll(source, 0);
    std::string written;
    quorvel::DelimitedLayout layout = source.Layout();
    layout.byteOrderMark = false;
    for (const quorvel::Row& row : rows) quorvel::AppendDelimitedRow(written, row, layout);
    // A row of one empty cell is written as an empty line, which reads as no cells: alike.
    std::vector<quorvel::Row> again = ReadAll(quorvel::DelimitedSource(written, delimiter), 0);
    if (again.size() != rows.size()) std::abort();
    for (size_t i = 0; i < rows.size(); ++i) {
      const bool blank = rows[i].size() == 1 && rows[i][0].text.empty();
      if (!(again[i] == rows[i]) && !(blank && again[i].empty())) std::abort();
    }
  } catch (const quorvel::Error&) {
    // UTF-16 text is refused with a message.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckDelimited(bytes, ',');
  CheckDelimited(bytes, '\t');
  try {
    quorvel::XlsxSource book(bytes);
    for (size_t sheet = 0; sheet < book.SheetNames().size(); ++sheet) ReadAll(book, sheet);
  } catch (const quorvel::Error&) {
  }
  return 0;
}

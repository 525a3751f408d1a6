#include "TableRun.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace quorvel::cli {

namespace {

enum Code { kTable = kTableOptionCodes, kSheet, kColumn, kNoHeader, kAdd, kEnd };

}  // namespace

const option kTableOptions[] = {
    {"table", required_argument, nullptr, kTable},   {"sheet", required_argument, nullptr, kSheet},
    {"column", required_argument, nullptr, kColumn}, {"no-header", no_argument, nullptr, kNoHeader},
    {"add", required_argument, nullptr, kAdd},
};
const size_t kTableOptionCount = sizeof kTableOptions / sizeof kTableOptions[0];

bool IsTableOption(int code) { return code >= kTableOptionCodes && code < kEnd; }

std::string ApplyTableOption(int code, const char* value, TableOptions& table) {
  switch (code) {
    case kTable:
      table.format = TableFormatNamed(value);
      if (!table.format)
        return std::string("invalid table format '") + value + "' (csv, tsv or xlsx)";
      return {};
    case kSheet:
      if (!*value) return "the sheet name is empty (--sheet=\"\")";
      table.sheet = value;
      return {};
    case kColumn:
      if (!*value) return "the column is empty (--column=\"\")";
      table.column = value;
      return {};
    case kNoHeader: table.header = HeaderRow::kNone; return {};
    case kAdd: {
      std::string unknown;
      const std::optional<AddedColumns> added = ParseAddedColumns(value, &unknown);
      if (!added)
        return "invalid column to add '" + unknown +
               "' (surname, given, initials, citation, passport, review)";
      table.added = *added;
      return {};
    }
  }
  return "unknown table option";
}

bool IsTableRun(const std::string& source, const TableOptions& table) {
  return table.format || (source != kStandardStream && TableFormatOfPath(source));
}

std::string PlainListProblem(const TableOptions& table) {
  if (!table.sheet.empty() || !table.column.empty() || table.header == HeaderRow::kNone ||
      table.added != 0)
    return "--sheet, --column, --no-header and --add are for tables (.csv, .tsv, .xlsx or --table)";
  return {};
}

LineWriter IndexFormWriter(const ListFiles& lists, const ConversionOptions& options,
                           NameStyle style) {
  if (style == NameStyle::kLayout) return {};
  struct State {
    State(const ListFiles& lists, const ConversionOptions& options) : converter(lists, options) {}
    NameConverter converter;
    NameParts parts;
  };
  auto state = std::make_shared<State>(lists, options);
  return [state, style, separator = options.separator](std::string& out, std::string_view line) {
    AppendNameInStyle(out, state->converter, state->parts, line, style, separator);
  };
}

int RunTable(ListFiles& lists, const std::string& source, const std::string& target,
             const ConversionOptions& options, const TableOptions& table, const LineFn& onRow) {
  try {
    const TableReport report = ConvertTable(lists, source, target, options, table, {}, onRow);
    if (report.rowsWithMarker > 0)
      std::fprintf(
          stderr,
          "quorvel-cli: %zu of %zu rows hold a name with \"???\" (a character without a reading)\n",
          report.rowsWithMarker, report.rows);
    return 0;
  } catch (const TableChoiceError& e) {
    std::fprintf(stderr, "quorvel-cli: %s\n", WithFullStop(e.what()).c_str());
    return 2;
  }
}

}  // namespace quorvel::cli

// quorvel-cli's table options and table runs (CSV, TSV, Excel workbooks; TableConversion.h).
#pragma once

#include <getopt.h>

#include <string>
#include <vector>

#include "TableConversion.h"

namespace quorvel::cli {

// The long options of tables, with codes of their own (kTableOptionCodes and up).
inline constexpr int kTableOptionCodes = 2000;
extern const option kTableOptions[];
extern const size_t kTableOptionCount;
bool IsTableOption(int code);

// Applies a table option; returns "" or the usage error's text.
std::string ApplyTableOption(int code, const char* value, TableOptions& table);

// Whether a run converts a table: --table given, or a .csv/.tsv/.xlsx source.
bool IsTableRun(const std::string& source, const TableOptions& table);
// The usage error of table options given for a plain names file, or "".
std::string PlainListProblem(const TableOptions& table);

// For a plain names file with --format=initials or citation: the line writer of ConvertFile
// (empty for the ten layouts and the passport format).
LineWriter IndexFormWriter(const ListFiles& lists, const ConversionOptions& options,
                           NameStyle style);

// A table run: the summary line on standard error when rows hold "???"; `onRow` sees each name
// (ConvertTable). Returns the exit status: 0, 1 when the conversion failed, 2 when the sheet or
// column cannot be found.
int RunTable(ListFiles& lists, const std::string& source, const std::string& target,
             const ConversionOptions& options, const TableOptions& table, const LineFn& onRow = {});

}  // namespace quorvel::cli

// The figures the help window states about the data the program ships, counted from the data
// itself each time they are asked for, so that they always describe the table and the mapping
// in use.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvel {

struct DataFigures {
  size_t characters = 0;          // rows of the built-in table that have a reading
  size_t pinyinSyllables = 0;     // distinct syllables among the table's readings
  size_t wadeGilesSpellings = 0;  // distinct non-empty spellings in the Wade-Giles mapping
  size_t polyphonic = 0;          // rows with more than one reading
};

// `wadeGilesMapping`: the mapping's Wade-Giles list (ListFiles' kMappingWadeGiles), as loaded.
DataFigures CountDataFigures(const std::vector<std::string>& wadeGilesMapping);

}  // namespace quorvel

#include "DataFigures.h"

#include <set>
#include <string_view>

#include "BuiltinTable.h"

namespace quorvel {

DataFigures CountDataFigures(const std::vector<std::string>& wadeGilesMapping) {
  DataFigures figures;
  std::set<std::string_view> syllables;
  for (int row = 0; row < kBuiltinRowCount; ++row) {
    const std::string_view reading = BuiltinReading(row);
    if (reading.empty()) continue;
    ++figures.characters;
    size_t count = 0;
    for (size_t start = 0; start <= reading.size(); ++count) {
      size_t end = reading.find('/', start);
      if (end == std::string_view::npos) end = reading.size();
      if (end > start) syllables.insert(reading.substr(start, end - start));
      start = end + 1;
    }
    if (count > 1) ++figures.polyphonic;
  }
  figures.pinyinSyllables = syllables.size();
  std::set<std::string_view> spellings;
  for (const std::string& spelling : wadeGilesMapping)
    if (!spelling.empty()) spellings.insert(spelling);
  figures.wadeGilesSpellings = spellings.size();
  return figures;
}

}  // namespace quorvel

#include "DataFigures.h"

#include <set>
#include <string_view>

#include "BuiltinTable.h"
#include "TextLines.h"

namespace quorvel {

DataFigures CountDataFigures(const std::vector<std::string>& wadeGilesMapping) {
  DataFigures figures;
  std::set<std::string_view> syllables;
  for (int row = 0; row < kBuiltinRowCount; ++row) {
    const std::string_view reading = BuiltinReading(row);
    if (reading.empty()) continue;
    ++figures.characters;
    size_t count = 0;
    ForEachSlashPart(reading, [&](std::string_view syllable) {
      ++count;
      if (!syllable.empty()) syllables.insert(syllable);
    });
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

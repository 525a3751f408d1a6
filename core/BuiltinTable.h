// The built-in table: one row per character (two GBK bytes) with its reading string, and the
// surname readings, both generated at build time from data/char_rows.tsv and
// data/surname_rows.tsv into BuiltinTableData.cpp (constant data, nothing to initialise).
//
// A reading string is syllables joined by "/"; the first is the reading a name most likely has,
// the others follow in ascending byte order. Both tables are indexed by GBK code, so finding a
// key costs one array read; a key that is not exactly one double-byte character finds nothing.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

extern const int kBuiltinRowCount;
extern const char* const kBuiltinKeys[];      // two GBK bytes each
extern const char* const kBuiltinReadings[];  // reading string of the row

extern const int kSurnameCount;
extern const char* const kSurnameKeys[];      // two GBK bytes each
extern const char* const kSurnameReadings[];  // one syllable each

// Row of a key in the table, or -1 (defined below, with the index).
int FindBuiltinRow(std::string_view key);

// The reading a character has as a surname, where it differs from the row's first reading
// (单 shan, 曾 zeng), or nullptr.
const char* SurnameReading(std::string_view key);

// ---- The generated index ---------------------------------------------------------------------

inline constexpr int kGbkSlots = 126 * 191;  // lead 0x81..0xFE, trail 0x40..0xFE

// Slot of a two-byte GBK key, or -1 when the bytes cannot form a double-byte character.
inline int GbkSlot(std::string_view key) {
  if (key.size() != 2) return -1;
  auto lead = static_cast<unsigned char>(key[0]);
  auto trail = static_cast<unsigned char>(key[1]);
  if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE) return -1;
  return (lead - 0x81) * 191 + (trail - 0x40);
}

extern const uint16_t kBuiltinRowOfGbk[kGbkSlots];  // row, or 0xFFFF
extern const uint8_t kSurnameOfGbk[kGbkSlots];      // index into kSurnameReadings, or 0xFF

inline int FindBuiltinRow(std::string_view key) {
  const int slot = GbkSlot(key);
  if (slot < 0) return -1;
  const uint16_t row = kBuiltinRowOfGbk[slot];
  return row == 0xFFFF ? -1 : row;
}

}  // namespace quorvel

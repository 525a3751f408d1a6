// The built-in table: one row per character (two or four GB18030 bytes) with its reading string,
// and the surname readings, both generated at build time from data/char_rows.tsv and
// data/surname_rows.tsv into BuiltinTableData.cpp (constant data, nothing to initialise).
//
// A reading string is syllables joined by "/"; the first is the reading a name most likely has,
// the others follow in ascending byte order. A two-byte key (a GBK character) finds its row with
// one array read, a four-byte key with two (a page of 256 codes, then the row); a key that is not
// exactly one such character finds nothing. The surname readings are all of GBK characters.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

extern const int kBuiltinRowCount;
// The rows' keys and reading strings, each ending in a NUL, in one block of text: offsets, not
// pointers, so that the table needs no relocation when the program starts.
extern const char kBuiltinText[];
extern const uint32_t kBuiltinKeyAt[];      // two or four GB18030 bytes each
extern const uint32_t kBuiltinReadingAt[];  // reading string of the row
inline const char* BuiltinKey(int row) { return kBuiltinText + kBuiltinKeyAt[row]; }
inline const char* BuiltinReading(int row) { return kBuiltinText + kBuiltinReadingAt[row]; }

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

// Slot of a two-byte key, or -1 when the bytes cannot form a double-byte character.
inline int GbkSlot(std::string_view key) {
  if (key.size() != 2) return -1;
  auto lead = static_cast<unsigned char>(key[0]);
  auto trail = static_cast<unsigned char>(key[1]);
  if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE) return -1;
  return (lead - 0x81) * 191 + (trail - 0x40);
}

extern const uint16_t kBuiltinRowOfGbk[kGbkSlots];  // row, or 0xFFFF
extern const uint8_t kSurnameOfGbk[kGbkSlots];      // index into kSurnameReadings, or 0xFF

// Four-byte codes: bytes 0x81-0xFE, 0x30-0x39, 0x81-0xFE, 0x30-0x39.
inline constexpr int kFourByteSlots = 126 * 10 * 126 * 10;
inline constexpr int kFourBytePageSlots = 256;
inline constexpr int kFourBytePages = kFourByteSlots / kFourBytePageSlots + 1;

// Slot of a four-byte key, or -1 when the bytes cannot form a four-byte character.
inline int FourByteSlot(std::string_view key) {
  if (key.size() != 4) return -1;
  auto b = [&](size_t k) { return static_cast<unsigned char>(key[k]); };
  if (b(0) < 0x81 || b(0) > 0xFE || b(1) < 0x30 || b(1) > 0x39 || b(2) < 0x81 || b(2) > 0xFE ||
      b(3) < 0x30 || b(3) > 0x39)
    return -1;
  return (((b(0) - 0x81) * 10 + (b(1) - 0x30)) * 126 + (b(2) - 0x81)) * 10 + (b(3) - 0x30);
}

extern const uint16_t kFourBytePageOf[kFourBytePages];           // stored page, or 0xFFFF
extern const uint16_t kFourByteRowOfPage[][kFourBytePageSlots];  // row, or 0xFFFF

inline int FindBuiltinRow(std::string_view key) {
  if (key.size() == 2) {
    const int slot = GbkSlot(key);
    if (slot < 0) return -1;
    const uint16_t row = kBuiltinRowOfGbk[slot];
    return row == 0xFFFF ? -1 : row;
  }
  const int slot = FourByteSlot(key);
  if (slot < 0) return -1;
  const uint16_t page = kFourBytePageOf[slot / kFourBytePageSlots];
  if (page == 0xFFFF) return -1;
  const uint16_t row = kFourByteRowOfPage[page][slot % kFourBytePageSlots];
  return row == 0xFFFF ? -1 : row;
}

}  // namespace quorvel

// Internal: the generated index of the built-in table by GBK code.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

inline constexpr int kGbkSlots = 126 * 191;  // lead 0x81..0xFE, trail 0x40..0xFE

// Slot of a two-byte GBK key, or -1 when the bytes cannot form a double-byte character.
inline int GbkSlot(std::string_view key) {
  if (key.size() != 2) return -1;
  auto lead = static_cast<unsigned char>(key[0]);
  auto trail = static_cast<unsigned char>(key[1]);
  if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE) return -1;
  return (lead - 0x81) * 191 + (trail - 0x40);
}

extern const uint16_t kCharRowOfGbk[kGbkSlots];  // row, or 0xFFFF
extern const int SurnameTableSize;
extern const char* const SurnameHan[];           // two GBK bytes each
extern const char* const kSurnamePinyin[];
extern const uint8_t kSurnameOfGbk[kGbkSlots];   // index into kSurnamePinyin, or 0xFF

}  // namespace quorvel

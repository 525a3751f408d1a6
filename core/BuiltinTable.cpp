#include "BuiltinTable.h"

namespace quorvel {

int FindBuiltinRow(std::string_view key) {
  int slot = GbkSlot(key);
  if (slot < 0) return -1;
  uint16_t row = kBuiltinRowOfGbk[slot];
  return row == 0xFFFF ? -1 : row;
}

const char* SurnameReading(std::string_view key) {
  int slot = GbkSlot(key);
  if (slot < 0) return nullptr;
  uint8_t i = kSurnameOfGbk[slot];
  return i == 0xFF ? nullptr : kSurnameReadings[i];
}

}  // namespace quorvel

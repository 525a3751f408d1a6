#include "BuiltinTable.h"

namespace quorvel {

const char* SurnameReading(std::string_view key) {
  int slot = GbkSlot(key);
  if (slot < 0) return nullptr;
  uint8_t i = kSurnameOfGbk[slot];
  return i == 0xFF ? nullptr : kSurnameReadings[i];
}

}  // namespace quorvel

// One name line in, one romanized line out.
//
// The line is cleaned (bytes 0x00-0x20 trimmed at both ends, inner ASCII spaces removed), cut to
// its first seven characters, split into a one- or two-character surname (two when the custom
// dictionary of the current romanization knows the first two characters) and given-name pieces
// of two bytes, looked up, and laid out in one of ten formats. A missing reading shows as "???";
// nothing is rejected. Lookup errors (ListIndexError, FileOpenError) pass through.
#pragma once

#include <string>
#include <string_view>

#include "untChDatabase.h"

namespace quorvel {

// The four choices of the main window, as item indexes of its controls.
struct ConversionOptions {
  int polyphoneMode = 0;  // 0 first reading only, anything else all readings
  int separatorMode = 0;  // 0 "-", 1 " ", anything else none
  bool wadeGiles = false;
  int nameFormat = 1;     // 0..9; anything else (no item chosen) gives an empty line

  LookupOptions Lookup() const { return {polyphoneMode != 0, wadeGiles}; }
};

// The name formats in item order, as the main window spells them with 刘德华.
inline constexpr const char* kNameFormatCaptions[10] = {
    "dehua liu", "Dehua Liu", "dehua LIU", "Dehua LIU", "dehualiu",
    "liu dehua", "Liu Dehua", "LIU dehua", "LIU Dehua", "liudehua"};

// Romanizes one line. Checks the list files for changes once, then every lookup of the name sees
// that one state.
std::string RomanizeName(PronunciationData& data, std::string_view line, const ConversionOptions& options);

// Same, appending to `out`, against the state of the last Refresh (the batch conversion calls
// Refresh itself before each line).
void AppendRomanizedName(std::string& out, const PronunciationData& data, std::string_view line,
                         const ConversionOptions& options);

}  // namespace quorvel

#include "Settings.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdint>

#include <optional>

#include "Errors.h"
#include "FileReading.h"
#include "Files.h"

namespace quorvel {

namespace {

// Both files are a few bytes long; a huge file in their place is read no further than this,
// which still covers every line the program looks at.
constexpr size_t kMaxSettingsBytes = 1 << 16;

// Reads the start of the settings file at `path` into `text`. False when there is no file.
bool ReadSettingsFile(const std::string& path, std::string& text) {
  std::string reason;
  int fd = OpenRegularFile(path, &reason);  // never waits on a pipe planted there
  if (fd < 0) {
    if (errno == ENOENT || errno == EISDIR || errno == EINVAL)
      return false;  // no file stands there
    ThrowInOut(errno, path);
  }
  text.clear();
  if (int e = ReadFromDescriptor(fd, text, kMaxSettingsBytes)) {
    ::close(fd);
    ThrowInOut(e, path);
  }
  ::close(fd);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::vector<std::string> SettingsLines(std::string_view text, size_t count) {
  std::vector<std::string> lines;
  lines.reserve(count);
  size_t pos = 0;
  while (lines.size() < count && pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line;
    for (size_t i = pos; i < end; ++i) {
      if (text[i] != '\r') line.push_back(text[i]);
    }
    lines.push_back(std::move(line));
    pos = end + 1;
  }
  lines.resize(count);
  return lines;
}

int ParseSettingsInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) throw NumberFormatError(std::string(text));
  // The magnitude may reach 2^31 for a negative number; anything beyond is out of range.
  const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    int digit = HexDigit(text[i]);
    if (digit < 0 || digit >= base) throw NumberFormatError(std::string(text));
    value = value * base + digit;
    if (value > limit) throw NumberFormatError(std::string(text));
  }
  return static_cast<int>(negative ? -value : value);
}

UiLanguage ReadUiLanguage(const std::string& path) {
  std::string text;
  if (!ReadSettingsFile(path, text)) return UiLanguage::kChinese;
  return SettingsLines(text, 1).front() == "en" ? UiLanguage::kEnglish : UiLanguage::kChinese;
}

void WriteUiLanguage(const std::string& path, UiLanguage language) {
  ReplaceFileUnderFolderLock(path, language == UiLanguage::kEnglish ? "en\r\n" : "ch\r\n");
}

ConversionOptions OptionsFromControlIndexes(int polyphoneIndex, int separatorIndex, bool wadeGiles,
                                            int formatIndex, int umlautIndex) {
  ConversionOptions options;
  options.readings = polyphoneIndex == 0 ? Readings::kFirst : Readings::kAll;
  options.separator = separatorIndex == 0   ? Separator::kHyphen
                      : separatorIndex == 1 ? Separator::kSpace
                                            : Separator::kNone;
  options.romanization = wadeGiles ? Romanization::kWadeGiles : Romanization::kPinyin;
  options.format = NameFormatFromNumber(formatIndex);
  options.umlaut = umlautIndex >= 0 && umlautIndex < kUmlautSpellingCount
                       ? static_cast<UmlautSpelling>(umlautIndex)
                       : UmlautSpelling::kV;
  return options;
}

ControlIndexes ControlIndexesOf(const ConversionOptions& options) {
  return {options.readings == Readings::kFirst ? 0 : 1,
          options.separator == Separator::kHyphen  ? 0
          : options.separator == Separator::kSpace ? 1
                                                   : 2,
          options.romanization == Romanization::kWadeGiles, static_cast<int>(options.format),
          static_cast<int>(options.umlaut)};
}

std::string FormatConversionSettings(const ConversionOptions& options) {
  const ControlIndexes indexes = ControlIndexesOf(options);
  std::string text;
  for (int value : {indexes.polyphone, indexes.separator, indexes.wadeGiles ? 1 : 0, indexes.format,
                    indexes.umlaut}) {
    text += std::to_string(value);
    text += "\r\n";
  }
  return text;
}

void WriteConversionSettings(const std::string& path, const ConversionOptions& options) {
  ReplaceFileUnderFolderLock(path, FormatConversionSettings(options));
}

bool ReadConversionSettings(const std::string& path, ConversionOptions& options) {
  std::string text;
  if (!ReadSettingsFile(path, text)) return false;
  const std::vector<std::string> lines = SettingsLines(text, 5);
  ControlIndexes indexes = ControlIndexesOf(options);
  // Each line stands alone: a bad one leaves its own setting as it was and is reported once the
  // others are read.
  std::optional<NumberFormatError> firstError;
  auto apply = [&](int& setting, const std::string& line, int last) {
    try {
      int value = ParseSettingsInteger(line);
      if (value >= 0 && value <= last) setting = value;
    } catch (const NumberFormatError& e) {
      if (!firstError) firstError = e;
    }
  };
  apply(indexes.polyphone, lines[0], 1);
  apply(indexes.separator, lines[1], 2);
  indexes.wadeGiles = lines[2] == "1";
  apply(indexes.format, lines[3], kNameFormatCount - 1);
  // Files written before the ü spelling existed end here: they mean v.
  indexes.umlaut = 0;
  if (!lines[4].empty()) apply(indexes.umlaut, lines[4], kUmlautSpellingCount - 1);
  options = OptionsFromControlIndexes(indexes.polyphone, indexes.separator, indexes.wadeGiles,
                                      indexes.format, indexes.umlaut);
  if (firstError) throw *firstError;
  return true;
}

}  // namespace quorvel

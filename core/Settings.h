// The two settings files that lie beside the executable.
//
// config.db, the interface language: one line, "en" (English) or "ch" (Chinese), then CR LF.
// Only an exact "en" on the first line means English; anything else, or no file, means Chinese.
//
// config1.dll, the five conversion choices as item indexes of the main window's controls
// (ControlIndexes): one line each for the polyphone mode, the separator mode, the Wade-Giles flag
// ("1" ticked), the name format ("-1" stands for none, "10" the passport format) and the ü
// spelling (0 v, 1 yu, 2 u, 3 ü), every line a number and CR LF. The fifth line came later: a file
// of four lines reads as the spelling v, and a reader that knows four lines stops before it.
// Lines after the fifth are ignored.
//
// Reading either file: a line ends at LF, a CR is never part of a line (one before the LF ends
// the line with it, a lone one is dropped), and reading past the last line gives empty lines.
// A path where no regular file stands (nothing at all, or a folder) counts as no file. A file that
// exists but cannot be read raises InOutError.
//
// Writing replaces the file atomically (a temporary file of unpredictable name, fsync, rename;
// a symbolic link at the file's name is written through, to its final file, and stays),
// so a crash while writing never leaves a torn settings file; a failure raises InOutError and
// leaves the old file whole. It holds the folder's lock meanwhile and first removes temporaries
// that killed writers of the same file left (ReplaceFileUnderFolderLock).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "NameRomanizer.h"

namespace quorvel {

inline constexpr char kLanguageFileName[] = "config.db";
inline constexpr char kSettingsFileName[] = "config1.dll";

// The interface language. config.db spells it "en" or "ch" (ReadUiLanguage, WriteUiLanguage are
// the one mapping); anything else there reads as Chinese.
enum class UiLanguage : unsigned char { kChinese, kEnglish };

// The first `count` lines of `text` by the reading rules above, padded with empty lines.
std::vector<std::string> SettingsLines(std::string_view text, size_t count);

// A whole number as a settings line spells it: leading blanks (space or tab), an optional sign,
// then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow
// the digits. A value outside the 32-bit signed range is no number either. Raises NumberFormatError
// ("'<text>' is not a valid integer value") otherwise.
int ParseSettingsInteger(std::string_view text);

// The language stored in config.db at `path`.
UiLanguage ReadUiLanguage(const std::string& path);
// Records `language` in config.db ("en" for English, "ch" for Chinese).
void WriteUiLanguage(const std::string& path, UiLanguage language);

// The main window's five controls as item indexes, the form config1.dll stores them in.
struct ControlIndexes {
  int polyphone = 0;  // 0 first reading only, 1 all readings
  int separator = 0;  // 0 "-", 1 " ", 2 none
  bool wadeGiles = false;
  int format = 1;  // 0..9 as in kNameFormatCaptions, 10 passport; -1 no format chosen
  int umlaut = 0;  // UmlautSpelling: 0 v, 1 yu, 2 u, 3 ü
};

// The one mapping from control indexes to options: polyphone 0 first reading, any other index all
// readings; separator 0 hyphen, 1 space, any other none; format 0..10, any other number none;
// ü spelling 0..3, any other index v.
ConversionOptions OptionsFromControlIndexes(int polyphoneIndex, int separatorIndex, bool wadeGiles,
                                            int formatIndex, int umlautIndex = 0);
// The way back, for showing options in the controls and storing them.
ControlIndexes ControlIndexesOf(const ConversionOptions& options);

// The content of config1.dll for `options`.
std::string FormatConversionSettings(const ConversionOptions& options);
void WriteConversionSettings(const std::string& path, const ConversionOptions& options);

// Puts the choices stored in config1.dll at `path` into `options`. Returns false, changing
// nothing, when there is no file. Each line stands alone: a line that is no number leaves its own
// setting as it was, every other line is applied, and then NumberFormatError is raised for the
// first such line (the settings of all good lines already in `options`). A number outside its
// control's range (polyphone 0-1, separator 0-2, format 0-10, ü spelling 0-3) leaves that setting
// as it was, so that what the window saves next reads back cleanly. An empty or missing fifth line
// means the spelling v.
bool ReadConversionSettings(const std::string& path, ConversionOptions& options);

}  // namespace quorvel

#include "ReadingLookup.h"

#include "BuiltinTable.h"
#include "Errors.h"

namespace quorvel {

namespace {

// Appends a pinyin reading string converted syllable by syllable through the mapping pair.
void AppendWadeGiles(std::string& out, const ListFiles& lists, std::string_view reading) {
  const auto& wei = lists.List(kPinyinWeiList);
  size_t pos = 0;
  for (bool first = true;; first = false) {
    size_t slash = reading.find('/', pos);
    std::string_view syllable = reading.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
    if (!first) out += '/';
    if (long i = lists.FindKey(kPinyinHanList, syllable); i >= 0) {
      if (static_cast<size_t>(i) >= wei.size()) throw ListIndexError(i);
      out.append(wei[static_cast<size_t>(i)]);
    } else {
      out.append(syllable);  // a syllable the mapping does not know passes through
    }
    if (slash == std::string_view::npos) break;
    pos = slash + 1;
  }
}

}  // namespace

void AppendReading(std::string& out, const ListFiles& lists, std::string_view key,
                   const LookupOptions& options, KeyRole role) {
  const size_t start = out.size();
  const bool all = options.readings == Readings::kAll;
  const bool wadeGiles = options.romanization == Romanization::kWadeGiles;
  if (int row = FindBuiltinRow(key); row >= 0) {
    std::string_view stored = kBuiltinReadings[row];
    std::string_view reading = stored;
    std::string composed;
    const char* surname = role == KeyRole::kSurname ? SurnameReading(key) : nullptr;
    if (surname && !all) {
      reading = surname;
    } else if (surname) {
      // The surname reading first, then the row's other readings in their stored order.
      composed = surname;
      size_t pos = 0;
      while (pos <= stored.size()) {
        size_t slash = stored.find('/', pos);
        if (slash == std::string_view::npos) slash = stored.size();
        std::string_view syllable = stored.substr(pos, slash - pos);
        if (syllable != surname) {
          composed += '/';
          composed += syllable;
        }
        pos = slash + 1;
      }
      reading = composed;
    } else if (!all) {
      reading = stored.substr(0, stored.find('/'));
    }
    if (wadeGiles)
      AppendWadeGiles(out, lists, reading);
    else
      out.append(reading);
  } else {
    out.append(kNoReading);
  }
  // The custom dictionary of the current romanization overrides, verbatim.
  if (long i = lists.FindKey(wadeGiles ? kDefineWeiHanList : kDefineHanList, key); i >= 0) {
    const auto& values = lists.List(wadeGiles ? kDefineWeiPyList : kDefinePyList);
    if (static_cast<size_t>(i) >= values.size()) throw ListIndexError(i);
    out.resize(start);
    out.append(values[static_cast<size_t>(i)]);
  }
}

std::string ReadingOf(const ListFiles& lists, std::string_view key, const LookupOptions& options,
                      KeyRole role) {
  std::string out;
  AppendReading(out, lists, key, options, role);
  return out;
}

}  // namespace quorvel

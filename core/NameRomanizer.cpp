#include "NameRomanizer.h"

#include <array>
#include <cstring>

#include "Files.h"
#include "TaughtNames.h"

namespace quorvel {

namespace {

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Seven characters at most, the surname among them.
constexpr int kMaxGivenPieces = 6;

// Byte length of the first `count` characters of `text`: a lead byte 0x81-0xFE and the byte
// after it are one character, every other byte is one. A lead byte at the very end counts alone.
size_t PrefixBytes(std::string_view text, int count) {
  size_t i = 0;
  for (int k = 0; k < count && i < text.size(); ++k)
    i += IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
  return i;
}

// The first byte of [begin, end) upper-cased if it is a lower-case letter.
void Capitalise(char* begin, char* end) {
  if (begin < end && *begin >= 'a' && *begin <= 'z') *begin -= 'a' - 'A';
}

// The ASCII letters of [begin, end) upper-cased; the trail byte of a double-byte character (a
// custom reading in Chinese) may look like a letter and is left alone.
void UpperCase(char* begin, char* end) {
  for (char* c = begin; c < end; ++c) {
    const auto b = static_cast<unsigned char>(*c);
    if (IsLeadByte(b) && c + 1 < end) {
      ++c;
    } else if (b >= 'a' && b <= 'z') {
      *c = static_cast<char>(b - ('a' - 'A'));
    }
  }
}

// Copies `s` to `to` and returns the end; readings are short, so without a call for most.
char* Put(char* to, std::string_view s) {
  const char* from = s.data();
  const size_t n = s.size();
  if (n >= 8 && n <= 16) {
    char a[8], b[8];
    std::memcpy(a, from, 8);
    std::memcpy(b, from + n - 8, 8);
    std::memcpy(to, a, 8);
    std::memcpy(to + n - 8, b, 8);
  } else if (n >= 4 && n < 8) {
    char a[4], b[4];
    std::memcpy(a, from, 4);
    std::memcpy(b, from + n - 4, 4);
    std::memcpy(to, a, 4);
    std::memcpy(to + n - 4, b, 4);
  } else if (n > 0 && n < 4) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  } else if (n > 16) {
    std::memcpy(to, from, n);
  }
  return to + n;
}

// The one romanization of a line, over any way of looking readings up: `lookup(key, role)` gives
// the reading of a key, which stays valid until the line is written. All readings of the line
// are found first; then the line is written into `out` in one piece.
template <typename Lookup>
void Romanize(std::string& out, const ListFiles& lists, std::string_view line, const ConversionOptions& options,
              Lookup&& lookup) {
  // Clean: trim both ends, then drop every inner ASCII space.
  std::string_view trimmed = TrimControls(line);
  std::string cleanLong;
  std::string_view clean;
  if (trimmed.find(' ') == std::string_view::npos) {
    clean = trimmed;
  } else {
    cleanLong = RemoveSpaces(trimmed);
    clean = cleanLong;
  }

  // The first seven characters; anything after them is ignored.
  std::string_view p = clean.substr(0, PrefixBytes(clean, 7));
  const size_t n = p.size();

  // Surname: two characters when the current custom dictionary knows them, else one. The probe
  // of two characters nearly always misses, which needs no lookup at all.
  std::string_view surname;
  const std::string_view probe = p.substr(0, PrefixBytes(p, 2));
  bool twoCharacters = false;
  if (!CertainlyNoReading(lists, probe, options.romanization)) {
    surname = lookup(probe, KeyRole::kSurname);
    twoCharacters = surname != kNoReading;
  }
  size_t pieceStart = 4;
  long pieces = static_cast<long>(n / 2) - 2;
  if (!twoCharacters) {
    surname = lookup(p.substr(0, PrefixBytes(p, 1)), KeyRole::kSurname);
    pieceStart = 2;
    pieces = static_cast<long>(n / 2) - 1;
  }

  // Given name: two-byte pieces (at most six of seven characters), joined by the separator.
  const std::string_view separator = options.format == NameFormat::kPassport   ? ""
                                     : options.separator == Separator::kHyphen ? "-"
                                     : options.separator == Separator::kSpace ? " "
                                                                              : "";
  std::string_view given[kMaxGivenPieces];
  size_t givenBytes = 0;
  for (long k = 0; k < pieces; ++k) {
    given[k] = lookup(p.substr(pieceStart + 2 * static_cast<size_t>(k), 2), KeyRole::kOther);
    givenBytes += given[k].size() + (k > 0 ? separator.size() : 0);
  }

  enum Case { kAsIs, kCapitalised, kUpper };
  bool surnameFirst = true;
  std::string_view between = " ";
  Case surnameCase = kAsIs, givenCase = kAsIs;
  switch (options.format) {
    case NameFormat::kGivenSurname: surnameFirst = false; break;
    case NameFormat::kGivenSurnameCapitalised: surnameFirst = false; givenCase = surnameCase = kCapitalised; break;
    case NameFormat::kGivenSurnameUpper: surnameFirst = false; surnameCase = kUpper; break;
    case NameFormat::kGivenCapitalisedSurnameUpper: surnameFirst = false; givenCase = kCapitalised; surnameCase = kUpper; break;
    case NameFormat::kGivenSurnameJoined: surnameFirst = false; between = ""; break;
    case NameFormat::kSurnameGiven: break;
    case NameFormat::kSurnameGivenCapitalised: surnameCase = givenCase = kCapitalised; break;
    case NameFormat::kSurnameUpperGiven: surnameCase = kUpper; break;
    case NameFormat::kSurnameUpperGivenCapitalised: surnameCase = kUpper; givenCase = kCapitalised; break;
    case NameFormat::kSurnameGivenJoined: between = ""; break;
    case NameFormat::kPassport: surnameCase = givenCase = kUpper; break;
    case NameFormat::kNone: return;  // no format chosen: an empty line
  }

  const size_t at = out.size();
  out.resize(at + surname.size() + between.size() + givenBytes);
  char* w = out.data() + at;
  auto shape = [](char* begin, char* end, Case c) {
    if (c == kCapitalised) Capitalise(begin, end);
    else if (c == kUpper) UpperCase(begin, end);
  };
  auto putSurname = [&] {
    char* begin = w;
    w = Put(w, surname);
    shape(begin, w, surnameCase);
  };
  auto putGiven = [&] {
    char* begin = w;
    for (long k = 0; k < pieces; ++k) {
      if (k > 0) w = Put(w, separator);
      w = Put(w, given[k]);
    }
    shape(begin, w, givenCase);
  };
  if (surnameFirst) {
    putSurname();
    w = Put(w, between);
    putGiven();
  } else {
    putGiven();
    w = Put(w, between);
    putSurname();
  }
}

}  // namespace

NameFormat NameFormatFromNumber(int number) {
  return number >= 0 && number < kNameFormatCount ? static_cast<NameFormat>(number) : NameFormat::kNone;
}

std::string RemoveSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ') out.push_back(c);
  return out;
}

void AppendRomanizedName(std::string& out, const ListFiles& lists, std::string_view line,
                         const ConversionOptions& options) {
  if (AppendTaughtName(out, lists, line, options)) return;
  const LookupOptions lookup = options.Lookup();
  std::array<std::string, 2 + kMaxGivenPieces> readings;  // one per lookup of the line
  size_t used = 0;
  Romanize(out, lists, line, options, [&](std::string_view key, KeyRole role) -> std::string_view {
    std::string& reading = readings[used++];
    AppendReading(reading, lists, key, lookup, role);
    return reading;
  });
}

NameConverter::NameConverter(const ListFiles& lists, const ConversionOptions& options)
    : lists_(lists), options_(options), readings_(lists, options.Lookup()) {}

void NameConverter::Append(std::string& out, std::string_view line) {
  readings_.Sync();
  readings_.ClearQuestionMark();
  if (AppendTaughtName(out, lists_, line, options_)) return;
  Romanize(out, lists_, line, options_,
           [&](std::string_view key, KeyRole role) { return readings_.Reading(key, role); });
}

void AppendRomanizedWith(std::string& out, const ListFiles& lists, std::string_view line,
                         const ConversionOptions& options, const ReadingFn& reading) {
  Romanize(out, lists, line, options, reading);
}

void AppendLaidOutName(std::string& out, const ListFiles& lists, std::string_view surname,
                       const std::vector<std::string>& given, const ConversionOptions& options) {
  // The walk of a stand-in line, one character for the surname and one per syllable, hands the
  // readings out in order: the layout keeps its one home in Romanize. The two-character probe
  // reads "???", so the surname is always the first stand-in.
  const std::string_view kStandIn = "\xD2\xBB";  // 一
  std::string line;
  for (size_t k = 0; k <= given.size() && k <= kMaxGivenPieces; ++k) line += kStandIn;
  size_t next = 0;
  Romanize(out, lists, line, options, [&](std::string_view key, KeyRole role) -> std::string_view {
    if (role == KeyRole::kSurname) return key.size() == kStandIn.size() ? surname : kNoReading;
    return next < given.size() ? std::string_view(given[next++]) : std::string_view();
  });
}

std::string RomanizeName(ListFiles& lists, std::string_view line, const ConversionOptions& options) {
  lists.Refresh();
  std::string out;
  AppendRomanizedName(out, lists, line, options);
  return out;
}

}  // namespace quorvel

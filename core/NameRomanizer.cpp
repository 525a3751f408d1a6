#include "NameRomanizer.h"

#include "Files.h"

namespace quorvel {

namespace {

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Byte length of the first `count` characters of `text`: a lead byte 0x81-0xFE and the byte
// after it are one character, every other byte is one. A lead byte at the very end counts alone.
size_t PrefixBytes(std::string_view text, int count) {
  size_t i = 0;
  for (int k = 0; k < count && i < text.size(); ++k)
    i += IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
  return i;
}

// In place, from `from` on: the first byte upper-cased if it is a lower-case letter.
void Capitalise(std::string& out, size_t from) {
  if (from < out.size() && out[from] >= 'a' && out[from] <= 'z') out[from] -= 'a' - 'A';
}

// In place, from `from` on: the ASCII letters upper-cased; the trail byte of a double-byte
// character (a custom reading in Chinese) may look like a letter and is left alone.
void UpperCase(std::string& out, size_t from) {
  for (size_t i = from; i < out.size(); ++i) {
    auto c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c) && i + 1 < out.size()) {
      ++i;
    } else if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - ('a' - 'A'));
    }
  }
}

// The one romanization of a line, over any way of looking readings up: `lookup(out, key, role)`
// appends the reading of a key. The given name is written straight into `out`; only the surname,
// which the given-first formats put last, goes through `surname`.
template <typename Lookup>
void Romanize(std::string& out, std::string& surname, const ListFiles& lists, std::string_view line,
              const ConversionOptions& options, Lookup&& lookup) {
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
  surname.clear();
  const std::string_view probe = p.substr(0, PrefixBytes(p, 2));
  bool twoCharacters = false;
  if (!CertainlyNoReading(lists, probe, options.romanization)) {
    lookup(surname, probe, KeyRole::kSurname);
    twoCharacters = surname != kNoReading;
  }
  size_t pieceStart = 4;
  long pieces = static_cast<long>(n / 2) - 2;
  if (!twoCharacters) {
    surname.clear();
    lookup(surname, p.substr(0, PrefixBytes(p, 1)), KeyRole::kSurname);
    pieceStart = 2;
    pieces = static_cast<long>(n / 2) - 1;
  }

  const std::string_view separator = options.format == NameFormat::kPassport   ? ""
                          : options.separator == Separator::kHyphen ? "-"
                          : options.separator == Separator::kSpace ? " "
                                                                   : "";
  // Given name: two-byte pieces, joined by the separator.
  auto appendGiven = [&] {
    for (long k = 0; k < pieces; ++k) {
      if (k > 0) out += separator;
      lookup(out, p.substr(pieceStart + 2 * static_cast<size_t>(k), 2), KeyRole::kOther);
    }
  };

  enum Case { kAsIs, kCapitalised, kUpper };
  auto shape = [&](size_t from, Case c) {
    if (c == kCapitalised) Capitalise(out, from);
    else if (c == kUpper) UpperCase(out, from);
  };
  auto surnameFirst = [&](Case surnameCase, std::string_view between, Case givenCase) {
    size_t at = out.size();
    out += surname;
    shape(at, surnameCase);
    out += between;
    at = out.size();
    appendGiven();
    shape(at, givenCase);
  };
  auto givenFirst = [&](Case givenCase, std::string_view between, Case surnameCase) {
    size_t at = out.size();
    appendGiven();
    shape(at, givenCase);
    out += between;
    at = out.size();
    out += surname;
    shape(at, surnameCase);
  };
  switch (options.format) {
    case NameFormat::kGivenSurname: givenFirst(kAsIs, " ", kAsIs); break;
    case NameFormat::kGivenSurnameCapitalised: givenFirst(kCapitalised, " ", kCapitalised); break;
    case NameFormat::kGivenSurnameUpper: givenFirst(kAsIs, " ", kUpper); break;
    case NameFormat::kGivenCapitalisedSurnameUpper: givenFirst(kCapitalised, " ", kUpper); break;
    case NameFormat::kGivenSurnameJoined: givenFirst(kAsIs, "", kAsIs); break;
    case NameFormat::kSurnameGiven: surnameFirst(kAsIs, " ", kAsIs); break;
    case NameFormat::kSurnameGivenCapitalised: surnameFirst(kCapitalised, " ", kCapitalised); break;
    case NameFormat::kSurnameUpperGiven: surnameFirst(kUpper, " ", kAsIs); break;
    case NameFormat::kSurnameUpperGivenCapitalised: surnameFirst(kUpper, " ", kCapitalised); break;
    case NameFormat::kSurnameGivenJoined: surnameFirst(kAsIs, "", kAsIs); break;
    case NameFormat::kPassport: surnameFirst(kUpper, " ", kUpper); break;
    case NameFormat::kNone: break;  // no format chosen: an empty line
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
  const LookupOptions lookup = options.Lookup();
  std::string surname;
  Romanize(out, surname, lists, line, options, [&](std::string& to, std::string_view key, KeyRole role) {
    AppendReading(to, lists, key, lookup, role);
  });
}

NameConverter::NameConverter(const ListFiles& lists, const ConversionOptions& options)
    : lists_(lists), options_(options), readings_(lists, options.Lookup()) {}

void NameConverter::Append(std::string& out, std::string_view line) {
  readings_.Sync();
  readings_.ClearQuestionMark();
  Romanize(out, surname_, lists_, line, options_, [&](std::string& to, std::string_view key, KeyRole role) {
    readings_.Append(to, key, role);
  });
}

std::string RomanizeName(ListFiles& lists, std::string_view line, const ConversionOptions& options) {
  lists.Refresh();
  std::string out;
  AppendRomanizedName(out, lists, line, options);
  return out;
}

}  // namespace quorvel

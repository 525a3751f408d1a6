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

void AppendCapitalised(std::string& out, std::string_view s) {
  size_t start = out.size();
  out.append(s);
  if (start < out.size() && out[start] >= 'a' && out[start] <= 'z') out[start] -= 'a' - 'A';
}

// Upper-cases the ASCII letters; the trail byte of a double-byte character (a custom reading in
// Chinese) may look like a letter and is left alone.
void AppendUpperCased(std::string& out, std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (IsLeadByte(c) && i + 1 < s.size()) {
      out += s[i];
      out += s[++i];
    } else {
      out += c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : static_cast<char>(c);
    }
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
  const LookupOptions lookup = options.Lookup();

  // Surname: two characters when the current custom dictionary knows them, else one.
  std::string surname;
  AppendReading(surname, lists, p.substr(0, PrefixBytes(p, 2)), lookup, KeyRole::kSurname);
  size_t pieceStart = 4;
  long pieces = static_cast<long>(n / 2) - 2;
  if (surname == kNoReading) {
    surname.clear();
    AppendReading(surname, lists, p.substr(0, PrefixBytes(p, 1)), lookup, KeyRole::kSurname);
    pieceStart = 2;
    pieces = static_cast<long>(n / 2) - 1;
  }

  // Given name: two-byte pieces, joined by the separator.
  std::string given;
  const char* separator = options.format == NameFormat::kPassport   ? ""
                          : options.separator == Separator::kHyphen ? "-"
                          : options.separator == Separator::kSpace ? " "
                                                                   : "";
  for (long k = 0; k < pieces; ++k) {
    if (k > 0) given += separator;
    AppendReading(given, lists, p.substr(pieceStart + 2 * static_cast<size_t>(k), 2), lookup);
  }

  const std::string& s = surname;
  const std::string& g = given;
  switch (options.format) {
    case NameFormat::kGivenSurname: out += g; out += ' '; out += s; break;
    case NameFormat::kGivenSurnameCapitalised: AppendCapitalised(out, g); out += ' '; AppendCapitalised(out, s); break;
    case NameFormat::kGivenSurnameUpper: out += g; out += ' '; AppendUpperCased(out, s); break;
    case NameFormat::kGivenCapitalisedSurnameUpper: AppendCapitalised(out, g); out += ' '; AppendUpperCased(out, s); break;
    case NameFormat::kGivenSurnameJoined: out += g; out += s; break;
    case NameFormat::kSurnameGiven: out += s; out += ' '; out += g; break;
    case NameFormat::kSurnameGivenCapitalised: AppendCapitalised(out, s); out += ' '; AppendCapitalised(out, g); break;
    case NameFormat::kSurnameUpperGiven: AppendUpperCased(out, s); out += ' '; out += g; break;
    case NameFormat::kSurnameUpperGivenCapitalised: AppendUpperCased(out, s); out += ' '; AppendCapitalised(out, g); break;
    case NameFormat::kSurnameGivenJoined: out += s; out += g; break;
    case NameFormat::kPassport: AppendUpperCased(out, s); out += ' '; AppendUpperCased(out, g); break;
    case NameFormat::kNone: break;  // no format chosen: an empty line
  }
}

std::string RomanizeName(ListFiles& lists, std::string_view line, const ConversionOptions& options) {
  lists.Refresh();
  std::string out;
  AppendRomanizedName(out, lists, line, options);
  return out;
}

}  // namespace quorvel

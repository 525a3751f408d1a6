#include "NameRomanizer.h"

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

void AppendRomanizedName(std::string& out, const PronunciationData& data, std::string_view line,
                         const ConversionOptions& options) {
  // Clean: trim 0x00-0x20 at both ends, then drop every inner ASCII space.
  size_t b = 0, e = line.size();
  while (b < e && static_cast<unsigned char>(line[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(line[e - 1]) <= 0x20) --e;
  std::string_view trimmed = line.substr(b, e - b);
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
  data.AppendReading(surname, p.substr(0, PrefixBytes(p, 2)), lookup, KeyRole::kSurname);
  size_t pieceStart = 4;
  long pieces = static_cast<long>(n / 2) - 2;
  if (surname == kNoReading) {
    surname.clear();
    data.AppendReading(surname, p.substr(0, PrefixBytes(p, 1)), lookup, KeyRole::kSurname);
    pieceStart = 2;
    pieces = static_cast<long>(n / 2) - 1;
  }

  // Given name: two-byte pieces, joined by the separator.
  std::string given;
  const char* separator = options.separatorMode == 0 ? "-" : options.separatorMode == 1 ? " " : "";
  for (long k = 0; k < pieces; ++k) {
    if (k > 0) given += separator;
    data.AppendReading(given, p.substr(pieceStart + 2 * static_cast<size_t>(k), 2), lookup);
  }

  const std::string& s = surname;
  const std::string& g = given;
  switch (options.nameFormat) {
    case 0: out += g; out += ' '; out += s; break;
    case 1: AppendCapitalised(out, g); out += ' '; AppendCapitalised(out, s); break;
    case 2: out += g; out += ' '; AppendUpperCased(out, s); break;
    case 3: AppendCapitalised(out, g); out += ' '; AppendUpperCased(out, s); break;
    case 4: out += g; out += s; break;
    case 5: out += s; out += ' '; out += g; break;
    case 6: AppendCapitalised(out, s); out += ' '; AppendCapitalised(out, g); break;
    case 7: AppendUpperCased(out, s); out += ' '; out += g; break;
    case 8: AppendUpperCased(out, s); out += ' '; AppendCapitalised(out, g); break;
    case 9: out += s; out += g; break;
    default: break;  // no format chosen: an empty line
  }
}

std::string RomanizeName(PronunciationData& data, std::string_view line, const ConversionOptions& options) {
  data.Refresh();
  std::string out;
  AppendRomanizedName(out, data, line, options);
  return out;
}

}  // namespace quorvel

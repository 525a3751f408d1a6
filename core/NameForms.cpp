#include "NameForms.h"

namespace quorvel {

namespace {

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void AppendCapitalised(std::string& out, std::string_view reading) {
  if (reading.empty()) return;
  out.push_back(Upper(reading[0]));
  out.append(reading.substr(1));
}

// The first character of a reading upper-cased; "?" for a missing one.
void AppendInitial(std::string& out, std::string_view reading) {
  if (reading.empty()) return;
  if (reading == kNoReading) {
    out.push_back('?');
  } else if (IsLeadByte(static_cast<unsigned char>(reading[0])) && reading.size() > 1) {
    out.append(reading.substr(0, 2));
  } else {
    out.push_back(Upper(reading[0]));
  }
}

}  // namespace

std::optional<NameStyle> NameStyleNamed(std::string_view name) {
  if (name == "initials") return NameStyle::kInitials;
  if (name == "citation") return NameStyle::kCitation;
  return std::nullopt;
}

void AppendSurname(std::string& out, const NameParts& parts) {
  AppendCapitalised(out, parts.surname);
}

void AppendGivenName(std::string& out, const NameParts& parts, Separator separator) {
  const size_t start = out.size();
  for (size_t i = 0; i < parts.given.size(); ++i) {
    if (i > 0 && separator == Separator::kHyphen) out.push_back('-');
    if (i > 0 && separator == Separator::kSpace) out.push_back(' ');
    out.append(parts.given[i]);
  }
  if (out.size() > start) out[start] = Upper(out[start]);  // the whole given name's first letter
}

void AppendInitials(std::string& out, const NameParts& parts) {
  AppendSurname(out, parts);
  if (parts.given.empty()) return;
  out.push_back(' ');
  for (const std::string& syllable : parts.given) AppendInitial(out, syllable);
}

void AppendCitation(std::string& out, const NameParts& parts, Separator separator) {
  AppendSurname(out, parts);
  if (parts.given.empty()) return;
  out.append(", ");
  for (size_t i = 0; i < parts.given.size(); ++i) {
    if (i > 0) out.push_back(separator == Separator::kSpace ? ' ' : '-');
    AppendInitial(out, parts.given[i]);
    out.push_back('.');
  }
}

void AppendNameInStyle(std::string& out, NameConverter& converter, NameParts& parts,
                       std::string_view line, NameStyle style, Separator separator) {
  if (style == NameStyle::kLayout) {
    converter.Append(out, line);
    return;
  }
  converter.Split(parts, line);
  if (style == NameStyle::kInitials) AppendInitials(out, parts);
  else AppendCitation(out, parts, separator);
}

}  // namespace quorvel

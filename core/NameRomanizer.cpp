#include "NameRomanizer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "BuiltinTable.h"
#include "Encoding.h"
#include "TaughtNames.h"
#include "TextLines.h"

namespace quorvel {

namespace {

// Seven pieces at most, the surname among them.
constexpr int kMaxPieces = 7;
constexpr int kMaxGivenPieces = kMaxPieces - 1;

// The length of the piece of a name at the start of `text` (not empty): a run of ASCII letters
// and digits, which reads as written, or one GB18030 character.
inline size_t PieceLength(std::string_view text) {
  const auto first = static_cast<unsigned char>(text[0]);
  if (first >= 0x80) return Gb18030CharLength(text);
  if (!IsLatinOrDigit(first)) return 1;
  size_t n = 1;
  while (n < text.size() && IsLatinOrDigit(text[n])) ++n;
  return n;
}

// The dots that separate the parts of a name written in another script (买买提·艾力): · (also
// GBK's A1A4), •, ・, ‧, ．and ･, as GB18030 bytes.
constexpr std::string_view kSeparatingDots[] = {"\xA1\xA4",         "\x81\x36\xA6\x31",
                                                "\x81\x39\xA7\x39", "\x81\x36\xA6\x34",
                                                "\xA3\xAE",         "\x84\x31\x96\x31"};

bool IsSeparatingDotOf(std::string_view piece) {
  for (std::string_view dot : kSeparatingDots)
    if (piece == dot) return true;
  return false;
}

// The lead byte alone rules out nearly every piece, without a call.
inline bool IsSeparatingDot(std::string_view piece) {
  if (piece.size() < 2) return false;
  const auto lead = static_cast<unsigned char>(piece[0]);
  return (lead == 0xA1 || lead == 0xA3 || lead == 0x81 || lead == 0x84) && IsSeparatingDotOf(piece);
}

// True when a piece of `text` from `from` on is a separating dot.
bool HoldsSeparatingDot(std::string_view text, size_t from = 0) {
  for (size_t i = from; i < text.size();) {
    const size_t len = PieceLength(text.substr(i));
    if (IsSeparatingDot(text.substr(i, len))) return true;
    i += len;
  }
  return false;
}

// The first byte of [begin, end) upper-cased if it is a lower-case letter.
void Capitalise(char* begin, char* end) {
  if (begin < end && *begin >= 'a' && *begin <= 'z') *begin -= 'a' - 'A';
}

// The ASCII letters of [begin, end) upper-cased; the trail byte of a double-byte character (a
// custom reading in Chinese) may look like a letter and is left alone.
void UpperCase(char* begin, char* end) {
  for (char* c = begin; c < end;) {
    const auto b = static_cast<unsigned char>(*c);
    if (b >= 'a' && b <= 'z') *c = static_cast<char>(b - ('a' - 'A'));
    c += b < 0x80 ? 1 : Gb18030CharLength(std::string_view(c, static_cast<size_t>(end - c)));
  }
}

// Copies `s` to `to` and returns the end; readings are short, so without a call for most.
[[gnu::always_inline]] inline char* Put(char* to, std::string_view s) {
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

inline void Shape(char* begin, char* end, LetterCase c) {
  if (c == LetterCase::kCapitalised) Capitalise(begin, end);
  else if (c == LetterCase::kUpper) UpperCase(begin, end);
}

// The line without its control bytes at both ends and without any inner ASCII space; `keep`
// holds the text when it had to be copied.
inline std::string_view CleanLine(std::string_view line, std::string& keep) {
  std::string_view trimmed = TrimControls(line);
  if (trimmed.find(' ') == std::string_view::npos) return trimmed;
  keep = RemoveSpaces(trimmed);
  return keep;
}

// A name whose parts a separating dot divides has no surname: each part is one word of its
// pieces' readings joined, the words in written order with one space between them, capitalised
// in the mixed-case formats and upper-cased in the passport format. Every piece is read wherever
// it stands (no surname reading); a line of dots alone reads "???".
template <typename Lookup>
void RomanizeDotName(std::string& out, std::string_view clean, NameFormat format, Lookup&& lookup) {
  LetterCase wordCase = LetterCase::kCapitalised;
  switch (format) {
    case NameFormat::kGivenSurname:
    case NameFormat::kGivenSurnameJoined:
    case NameFormat::kSurnameGiven:
    case NameFormat::kSurnameGivenJoined: wordCase = LetterCase::kAsIs; break;
    case NameFormat::kPassport: wordCase = LetterCase::kUpper; break;
    case NameFormat::kNone: return;
    default: break;
  }
  const size_t start = out.size();
  size_t wordStart = std::string::npos;  // where the word being written began
  auto endWord = [&] {
    if (wordStart == std::string::npos) return;
    Shape(out.data() + wordStart, out.data() + out.size(), wordCase);
    wordStart = std::string::npos;
  };
  for (size_t i = 0; i < clean.size();) {
    const size_t len = PieceLength(clean.substr(i));
    const std::string_view piece = clean.substr(i, len);
    i += len;
    if (IsSeparatingDot(piece)) {
      endWord();
      continue;
    }
    if (wordStart == std::string::npos) {
      if (out.size() > start) out += ' ';
      wordStart = out.size();
    }
    out.append(lookup(piece, KeyRole::kGivenName));
  }
  endWord();
  if (out.size() == start) out.append(kNoReading);
}

// The first seven pieces of a clean line, piece k from starts[k] to starts[k + 1]; anything after
// them is ignored, but for a separating dot.
struct Pieces {
  size_t starts[kMaxPieces + 1];
  int count = 0;
  bool dotted = false;  // a separating dot anywhere in the line
};

inline __attribute__((always_inline)) Pieces CutPieces(std::string_view clean) {
  Pieces pieces;
  pieces.starts[0] = 0;
  int count = 0;
  bool dotted = false;
  size_t at = 0;
  for (; at < clean.size() && count < kMaxPieces; ++count) {
    const std::string_view rest(clean.data() + at,
                                clean.size() - at);  // no bounds check: at < size
    const size_t len = PieceLength(rest);
    dotted = dotted || IsSeparatingDot(rest.substr(0, len));
    at += len;
    pieces.starts[count + 1] = at;
  }
  pieces.count = count;
  pieces.dotted = dotted || (at < clean.size() && HoldsSeparatingDot(clean, at));
  return pieces;
}

// The surname's reading: two pieces when the current custom dictionary knows them, else one.
// `givenFrom` is set to the first piece of the given name. The probe of two nearly always misses,
// which needs no lookup at all.
template <typename Lookup>
inline __attribute__((always_inline)) std::string_view ReadSurname(
    const ListFiles& lists, std::string_view clean, const Pieces& pieces, Romanization romanization,
    Lookup& lookup, ReadingCache* cache, int& givenFrom) {
  const size_t* starts = pieces.starts;
  const int count = pieces.count;
  const std::string_view probe(clean.data(), starts[count > 1 ? 2 : count]);
  // Two pieces of which the first is a two-byte character are no table key nor a Latin word:
  // only the custom dictionary could know them.
  const int firstSlot =
      cache && count > 1 && starts[1] == 2 ? GbkSlot(std::string_view(clean.data(), 2)) : -1;
  const bool oneCertainly = (firstSlot >= 0 && !cache->MayStartLongerKey(firstSlot)) ||
                            CertainlyNoReading(lists, probe, romanization);
  if (!oneCertainly) {
    const std::string_view surname = lookup(probe, KeyRole::kSurname);
    if (surname != kNoReading) {
      givenFrom = 2;
      return surname;
    }
  }
  givenFrom = 1;
  return lookup(count > 0 ? std::string_view(clean.data(), starts[1]) : clean, KeyRole::kSurname);
}

// The readings of the given-name pieces, as pointers and sizes (an array of views would be set
// empty first), and the bytes they fill joined by the separator.
struct GivenReadings {
  const char* text[kMaxGivenPieces];
  size_t size[kMaxGivenPieces];
  int count = 0;
  size_t bytes = 0;
};

// Writes the line laid out into `out` in one piece: surname and given name in the layout's order
// and case, the given-name syllables joined by its separator.
inline __attribute__((always_inline)) void LayOut(std::string& out, const NameLayout& layout,
                                                  std::string_view surname,
                                                  const GivenReadings& given) {
  const std::string_view separator = layout.separator;
  const std::string_view between = layout.between;
  const size_t outAt = out.size();
  // Every byte of the new stretch is written below: it need not be cleared first. (The size the
  // operation is handed may be the capacity, with this libstdc++: the one wanted is returned.)
  const size_t size = outAt + surname.size() + between.size() + given.bytes;
  out.resize_and_overwrite(size, [size](char*, size_t) { return size; });
  char* w = out.data() + outAt;
  auto putSurname = [&]() __attribute__((always_inline)) {
    char* begin = w;
    w = Put(w, surname);
    Shape(begin, w, layout.surnameCase);
  };
  auto putGiven = [&]() __attribute__((always_inline)) {
    char* begin = w;
    for (int k = 0; k < given.count; ++k) {
      if (k > 0) w = Put(w, separator);
      w = Put(w, std::string_view(given.text[k], given.size[k]));
    }
    Shape(begin, w, layout.givenCase);
  };
  if (layout.surnameFirst) {
    putSurname();
    w = Put(w, between);
    putGiven();
  } else {
    putGiven();
    w = Put(w, between);
    putSurname();
  }
}

// The one romanization of a line, over any way of looking readings up: `lookup(key, role)` gives
// the reading of a key, which stays valid until the line is written. All readings of the line
// are found first; then the line is written into `out` in one piece.
template <typename Lookup>
void Romanize(std::string& out, const ListFiles& lists, std::string_view line,
              const NameLayout& layout, Lookup&& lookup, ReadingCache* cache = nullptr) {
  std::string cleanLong;
  const std::string_view clean = CleanLine(line, cleanLong);
  const Pieces pieces = CutPieces(clean);
  if (pieces.dotted) return RomanizeDotName(out, clean, layout.format, lookup);

  int givenFrom = 1;
  const std::string_view surname =
      ReadSurname(lists, clean, pieces, layout.romanization, lookup, cache, givenFrom);

  GivenReadings given;
  const int givenCount = std::max(0, pieces.count - givenFrom);
  size_t bytes = 0;
  const size_t separatorSize = layout.separator.size();
  for (int k = 0; k < givenCount; ++k) {
    const size_t from = pieces.starts[givenFrom + k];
    const std::string_view reading =
        lookup(std::string_view(clean.data() + from, pieces.starts[givenFrom + k + 1] - from),
               KeyRole::kGivenName);
    given.text[k] = reading.data();
    given.size[k] = reading.size();
    bytes += reading.size() + (k > 0 ? separatorSize : 0);
  }
  given.count = givenCount;
  given.bytes = bytes;

  if (layout.format == NameFormat::kNone) return;  // no format chosen: an empty line
  LayOut(out, layout, surname, given);
}

}  // namespace

NameLayout::NameLayout(const ConversionOptions& options)
    : format(options.format), romanization(options.romanization) {
  separator = format == NameFormat::kPassport           ? ""
              : options.separator == Separator::kHyphen ? "-"
              : options.separator == Separator::kSpace  ? " "
                                                        : "";
  using enum LetterCase;
  switch (format) {
    case NameFormat::kGivenSurname: surnameFirst = false; break;
    case NameFormat::kGivenSurnameCapitalised:
      surnameFirst = false;
      givenCase = surnameCase = kCapitalised;
      break;
    case NameFormat::kGivenSurnameUpper:
      surnameFirst = false;
      surnameCase = kUpper;
      break;
    case NameFormat::kGivenCapitalisedSurnameUpper:
      surnameFirst = false;
      givenCase = kCapitalised;
      surnameCase = kUpper;
      break;
    case NameFormat::kGivenSurnameJoined:
      surnameFirst = false;
      between = "";
      break;
    case NameFormat::kSurnameGiven: break;
    case NameFormat::kSurnameGivenCapitalised: surnameCase = givenCase = kCapitalised; break;
    case NameFormat::kSurnameUpperGiven: surnameCase = kUpper; break;
    case NameFormat::kSurnameUpperGivenCapitalised:
      surnameCase = kUpper;
      givenCase = kCapitalised;
      break;
    case NameFormat::kSurnameGivenJoined: between = ""; break;
    case NameFormat::kPassport: surnameCase = givenCase = kUpper; break;
    case NameFormat::kNone: break;
  }
}

NameFormat NameFormatFromNumber(int number) {
  return number >= 0 && number < kNameFormatCount ? static_cast<NameFormat>(number)
                                                  : NameFormat::kNone;
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
  Romanize(out, lists, line, NameLayout(options),
           [&](std::string_view key, KeyRole role) -> std::string_view {
             std::string& reading =
                 readings[used++ % readings.size()];  // a dotted name may have more
             reading.clear();
             AppendReading(reading, lists, key, lookup, role);
             return reading;
           });
}

NameConverter::NameConverter(const ListFiles& lists, const ConversionOptions& options,
                             const LineWatch* watch)
    : lists_(lists),
      options_(options),
      layout_(options),
      readings_(lists, options.Lookup()),
      generation_(lists.Generation()),
      anyTaught_(!lists.List(kTaughtNameKeys).empty()),
      watch_(watch),
      forms_(2 * static_cast<size_t>(kGbkSlots)) {
  ForgetForms();
}

void NameConverter::ForgetForms() {
  std::fill(forms_.begin(), forms_.end(), Form{});
  // A separating dot makes the line a dotted name, which only the walk writes.
  for (std::string_view dot : kSeparatingDots)
    if (const int slot = GbkSlot(dot); slot >= 0)
      forms_[2 * static_cast<size_t>(slot)].state =
          forms_[2 * static_cast<size_t>(slot) + 1].state = kDot;
  pairs_.clear();
  formText_.assign(kFormSlack, '\0');
}

[[gnu::noinline]] void NameConverter::Resync() {  // rare: kept out of the line loops
  readings_.Sync();
  generation_ = lists_.Generation();
  anyTaught_ = !lists_.List(kTaughtNameKeys).empty();
  ForgetForms();
}

namespace {

// True when the text's characters, walked as UpperCase walks them, end where the text ends
// whatever follows it: upper-casing it alone then gives the bytes that upper-casing it inside a
// longer text gives.
bool EndsOnWholeCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x81 || b == 0xFF) {
      ++i;
      continue;
    }
    const size_t length = Gb18030CharLength(text.substr(i));
    if (length == 1) return false;  // a lead byte whose character is cut short or broken
    i += length;
  }
  return true;
}

// A double-byte character's GbkSlot as the sum of one entry per byte: negative when the bytes make
// no double-byte character (a trail byte 0x7F included, which Gb18030CharLength does not pair).
constexpr int kNoPair = -(1 << 20);
constexpr std::array<int, 256> kSlotOfLead = [] {
  std::array<int, 256> part{};
  for (int b = 0; b < 256; ++b) part[b] = b >= 0x81 && b <= 0xFE ? (b - 0x81) * 191 : kNoPair;
  return part;
}();
constexpr std::array<int, 256> kSlotOfTrail = [] {
  std::array<int, 256> part{};
  for (int b = 0; b < 256; ++b) part[b] = b >= 0x40 && b <= 0xFE && b != 0x7F ? b - 0x40 : kNoPair;
  return part;
}();

// The GbkSlot of the `k`th double-byte character of a line of them, negative as above.
[[gnu::always_inline]] inline int SlotAt(std::string_view line, int k) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(line.data()) + 2 * k;
  return kSlotOfLead[bytes[0]] + kSlotOfTrail[bytes[1]];
}

// Copies n bytes and returns the end; up to `slack` bytes past both ends may be read and written.
template <size_t slack>
[[gnu::always_inline]] inline char* PutWithSlack(char* to, const char* from, size_t n) {
  if (n <= slack) {
    char chunk[slack];
    std::memcpy(chunk, from, slack);
    std::memcpy(to, chunk, slack);
  } else {
    std::memcpy(to, from, n);
  }
  return to + n;
}

}  // namespace

// Works out the form of the two-byte `key` in `role` the first time a line needs it.
void NameConverter::RenderForm(Form& form, std::string_view key, KeyRole role) {
  // A custom key might make the first two characters one surname: the walk's probe decides.
  if (role == KeyRole::kSurname && readings_.MayStartLongerKey(GbkSlot(key))) {
    form.state = kPairFirst;
    return;
  }
  Render(form, readings_.Reading(key, role), role, Wanted(key, role));
}

// `wanted`: the watch wants a line with the form's character (or two) there.
void NameConverter::Render(Form& form, std::string_view reading, KeyRole role, bool wanted) {
  const bool given = role == KeyRole::kGivenName;
  const std::string_view joint = given ? layout_.separator : layout_.between;
  const size_t n = reading.size(), bytes = 2 * n + joint.size();
  // An empty first syllable would pass the given name's capital on to the next one.
  if ((given && n == 0) || bytes > UINT16_MAX || formText_.size() + bytes > UINT32_MAX ||
      !EndsOnWholeCharacter(reading)) {
    form.state = kWholeWalk;
    return;
  }
  const size_t at = formText_.size() - kFormSlack;
  formText_.resize(at);
  if (given) {  // the first syllable, then the separator and any later syllable
    formText_.append(reading).append(joint).append(reading);
    char* text = formText_.data() + at;
    Shape(text, text + n, layout_.givenCase);
    if (layout_.givenCase == LetterCase::kUpper) UpperCase(text + n, text + bytes);
  } else {  // the surname with what stands between it and the given name, on its side
    if (!layout_.surnameFirst) formText_.append(joint);
    formText_.append(reading);
    if (layout_.surnameFirst) formText_.append(joint);
    char* text = formText_.data() + at + (layout_.surnameFirst ? 0 : joint.size());
    Shape(text, text + n, layout_.surnameCase);
  }
  formText_.append(kFormSlack, '\0');
  maxFormLength_ = std::max(maxFormLength_, bytes);
  const bool question = reading.find('?') != std::string_view::npos;
  const bool notAscii = AsciiLength(std::string_view(formText_).substr(at, bytes)) < bytes;
  form = {static_cast<uint32_t>(at), static_cast<uint16_t>(given ? n : n + joint.size()), kReady,
          static_cast<uint8_t>((question ? kQuestionMark : 0) | (wanted ? kWanted : 0) |
                               (notAscii ? kNotAscii : 0))};
}

// The surname of a line whose first character may start a two-character custom key: the first
// two characters' form when the walk's probe reads them as one surname, else the first one's, as
// the probe decided before for the same two characters; nullptr when too many pairs are kept.
NameConverter::PairSurname* NameConverter::FindPairSurname(std::string_view line) {
  const uint32_t key = static_cast<uint32_t>(GbkSlot(line.substr(0, 2))) * kGbkSlots +
                       static_cast<uint32_t>(GbkSlot(line.substr(2, 2)));
  if (auto it = pairs_.find(key); it != pairs_.end()) return &it->second;
  if (pairs_.size() >= kPairsKept) return nullptr;
  PairSurname pair;
  const std::string_view probe = line.substr(0, 4);
  if (!CertainlyNoReading(lists_, probe, options_.romanization)) {
    const std::string_view reading = readings_.Reading(probe, KeyRole::kSurname);
    pair.two = reading != kNoReading;
    // A surname the custom dictionary reads is not the watch's: its given name may be.
    if (pair.two) Render(pair.form, reading, KeyRole::kSurname, false);
  }
  // The first alone is the one-character surname.
  if (!pair.two)
    Render(pair.form, readings_.Reading(line.substr(0, 2), KeyRole::kSurname), KeyRole::kSurname,
           Wanted(line.substr(0, 2), KeyRole::kSurname));
  return &pairs_.emplace(key, pair).first->second;
}

// Works out the forms of a line's characters that no line needed before, in the walk's order of
// lookups (the surname, then the given name), so a lookup that fails fails as it would there;
// `surnameAt` becomes 1 when the first two characters are the surname (forms[1] then its form).
// False when the line needs the whole walk.
[[gnu::noinline]] bool NameConverter::RenderForms(Form** forms, std::string_view line,
                                                  int& surnameAt) {
  const size_t count = line.size() / 2;
  for (size_t k = 0; k < count; ++k)
    if (forms[k]->state == kDot) return false;
  Form& first = *forms[0];
  if (first.state == kUnknown) RenderForm(first, line.substr(0, 2), KeyRole::kSurname);
  if (first.state == kPairFirst || first.state == kPairFirstReady) {
    if (readings_.MayEndPairKey(GbkSlot(line.substr(2, 2)))) {
      PairSurname* pair = FindPairSurname(line);
      if (!pair) return false;
      surnameAt = pair->two ? 1 : 0;
      forms[surnameAt] = &pair->form;
    } else if (first.state == kPairFirst) {
      // No custom key can be these two characters: the first alone is the surname.
      Render(first, readings_.Reading(line.substr(0, 2), KeyRole::kSurname), KeyRole::kSurname,
             Wanted(line.substr(0, 2), KeyRole::kSurname));
      if (first.state == kReady) first.state = kPairFirstReady;
    }
  }
  for (size_t k = static_cast<size_t>(surnameAt); k < count; ++k) {
    if (forms[k]->state == kUnknown)
      RenderForm(*forms[k], line.substr(2 * k, 2), KeyRole::kGivenName);
    if (forms[k]->state != kReady && forms[k]->state != kPairFirstReady) return false;
  }
  return true;
}

// The line a forms line is, once trimmed (`*trimmed` then kWanted): two to seven double-byte
// characters, none of which is a separating dot (the walk would make each a piece, the first one
// or two the surname, the rest the given name). Empty for any other line. The characters' slots
// are checked as the line is written.
[[gnu::always_inline]] inline std::string_view NameConverter::FormsLine(std::string_view line,
                                                                        uint8_t* trimmed) const {
  if (!line.empty() && (static_cast<unsigned char>(line.front()) <= 0x20 ||
                        static_cast<unsigned char>(line.back()) <= 0x20)) {
    line = TrimControls(line);
    *trimmed = kWanted;
  }
  const size_t size = line.size();
  if (size < 4 || size > 2 * kMaxPieces || size % 2 != 0 || layout_.format == NameFormat::kNone)
    return {};
  return line;
}

// Room for any forms line with its slack: the most PutLine writes.
[[gnu::always_inline]] inline size_t NameConverter::LineRoom() const {
  return kMaxPieces * (maxFormLength_ + layout_.separator.size()) + kFormSlack;
}

// Writes the forms line `line` at `w` from the forms: `surname` (ready, which the caller checked)
// for its first `surnameChars` characters, the given-name forms of the rest; returns the end, or
// nullptr when a character has no slot or no ready form, or a form holds a mark of `stop` (what
// was written is then to be dropped). `*marks` gathers the forms' marks. Up to kFormSlack bytes
// past the end may be written; at most kMaxPieces * (maxFormLength_ + the separator) before it.
[[gnu::always_inline]] inline char* NameConverter::PutLine(char* w, std::string_view line,
                                                           const Form& surname, int surnameChars,
                                                           uint8_t stop, uint8_t* marks) const {
  const int count = static_cast<int>(line.size() / 2);
  const char* text = formText_.data();
  if (surname.marks & stop) return nullptr;
  uint8_t seen = surname.marks;
  auto putSurname = [&]() __attribute__((always_inline)) {
    w = PutWithSlack<kFormSlack>(w, text + surname.at, surname.length);
  };
  if (layout_.surnameFirst) putSurname();
  const size_t separatorSize = layout_.separator.size();
  for (int k = surnameChars; k < count; ++k) {
    const int slot = SlotAt(line, k);
    if (slot < 0) return nullptr;
    const Form& form = forms_[2 * static_cast<size_t>(slot)];
    if (form.state != kReady || (form.marks & stop)) return nullptr;
    seen |= form.marks;
    // The first syllable, or the separator and the syllable as any later one.
    w = k == surnameChars ? PutWithSlack<kFormSlack>(w, text + form.at, form.length)
                          : PutWithSlack<kFormSlack>(w, text + form.at + form.length,
                                                     form.length + separatorSize);
  }
  if (!layout_.surnameFirst) putSurname();
  *marks |= seen;
  return w;
}

// The ready surname form of a forms line (its first character at `first`) as far as the forms
// and pairs worked out so far tell it: the first character's, or the one kept in pairs_ for the
// first two (the walk's probe; `*surnameChars` 2 when it read them as one surname); nullptr when
// something is still to be worked out. Allocates nothing once the key starts are known.
[[gnu::always_inline]] inline const NameConverter::Form* NameConverter::KnownSurname(
    std::string_view line, int first, int* surnameChars) {
  const Form& form = forms_[2 * static_cast<size_t>(first) + 1];
  *surnameChars = 1;
  if (form.state == kReady) return &form;
  if (form.state != kPairFirst && form.state != kPairFirstReady) return nullptr;
  const int second = SlotAt(line, 1);
  if (second < 0) return nullptr;
  // The first alone, once worked out.
  if (!readings_.MayEndPairKey(second)) return form.state == kPairFirstReady ? &form : nullptr;
  const auto it =
      pairs_.find(static_cast<uint32_t>(first) * kGbkSlots + static_cast<uint32_t>(second));
  if (it == pairs_.end() || it->second.form.state != kReady) return nullptr;
  if (it->second.two) *surnameChars = 2;
  return &it->second.form;
}

// The forms line written with its forms worked out first where no line needed them before, in
// the walk's order of lookups; false (nothing written) when the line is not a forms line or
// needs the whole walk.
[[gnu::always_inline]] inline bool NameConverter::AppendPreRendered(std::string& out,
                                                                    std::string_view line) {
  uint8_t marks = 0;
  line = FormsLine(line, &marks);
  if (line.empty()) return false;
  const int first = SlotAt(line, 0);
  if (first < 0) return false;
  int surnameChars = 1;
  const Form* surname = KnownSurname(line, first, &surnameChars);
  const size_t start = out.size();
  char* end = nullptr;
  auto put = [&](char* base, size_t) __attribute__((always_inline)) {
    end = PutLine(base + start, line, *surname, surnameChars, 0, &marks);
    return end ? static_cast<size_t>(end - base) : start;
  };
  if (surname) out.resize_and_overwrite(start + LineRoom(), put);
  if (end) {
    lineMarks_ = marks;
    return true;
  }
  // A form no line needed before (or a character without a slot, or a separating dot).
  Form* forms[kMaxPieces];
  for (int k = 0; k < static_cast<int>(line.size() / 2); ++k) {
    const int slot = SlotAt(line, k);
    if (slot < 0) return false;
    forms[k] = &forms_[2 * static_cast<size_t>(slot) + (k == 0)];
  }
  int surnameAt = 0;
  if (!RenderForms(forms, line, surnameAt)) return false;
  surname = forms[surnameAt];
  surnameChars = surnameAt + 1;
  out.resize_and_overwrite(start + LineRoom(), put);
  if (!end) return false;
  lineMarks_ = marks;
  return true;
}

// Writes the line of `run` at `from` at `w` with its CR LF unless a form's marks hold one of
// `stop`: a forms line of GB18030, or (kFromUtf8) of three-byte UTF-8 sequences of code points
// `run.twoByte` knows, decoded into runLine_. The end, or nullptr; `*end`: where the line ends in
// `run.text`, `*next`: where the next line starts.
template <bool kFromUtf8, bool kTrimmedStops>
[[gnu::always_inline]] inline char* NameConverter::PutRunLine(char* w, const Run& run, size_t from,
                                                              uint8_t stop, uint8_t* marks,
                                                              size_t* end, size_t* next) {
  constexpr size_t kLongest = (kFromUtf8 ? 3 : 2) * kMaxPieces;  // of a forms line
  static_assert(sizeof runLine_ == 2 * kMaxPieces);
  const char* p = run.text.data();
  // The line end, looked for no further than a forms line may reach.
  const size_t scanEnd = std::min(run.endsBefore, from + kLongest + 1);
  const size_t i = FindLineEnd(p, from, scanEnd, run.text.size());
  if (i >= scanEnd) return nullptr;
  std::string_view line(p + from, i - from);
  if constexpr (kFromUtf8) {
    // No byte of a three-byte sequence is a control byte: nothing to trim. The line end follows
    // the line.
    if (line.size() < 6 || !KnownThreeByteCodes(line, run.twoByte, runLine_)) return nullptr;
    line = std::string_view(runLine_, line.size() / 3 * 2);
  } else {
    // kTrimmedStops: a line FormsLine would trim (which the watch always wants) is not written;
    // the trimmed line's mark is then never looked at. (The same test as FormsLine's: written
    // out here, where a shared helper made the compiler lay the loop out worse.)
    if (kTrimmedStops && !line.empty() &&
        (static_cast<unsigned char>(line.front()) <= 0x20 ||
         static_cast<unsigned char>(line.back()) <= 0x20))
      return nullptr;
    line = FormsLine(line, marks);
    if (line.empty() || (*marks & stop)) return nullptr;
  }
  const int first = SlotAt(line, 0);
  if (first < 0) return nullptr;
  int surnameChars = 1;
  const Form* surname = KnownSurname(line, first, &surnameChars);
  char* const written = surname ? PutLine(w, line, *surname, surnameChars, stop, marks) : nullptr;
  if (!written) return nullptr;
  std::memcpy(written, "\r\n", 2);
  *end = i;
  *next = i + (p[i] == '\r' && i + 1 < run.text.size() && p[i + 1] == '\n' ? 2 : 1);
  return written + 2;
}

// AppendLines from a GB18030 text, or (kFromUtf8) from a UTF-8 one whose lines are taken when
// made of three-byte sequences of code points `twoByte` knows, and written from ASCII forms;
// kWatched: `watched` (an instance each, so that the usual run tests nothing for it).
template <bool kFromUtf8, bool kWatched>
[[gnu::always_inline]] inline NameConverter::Taken NameConverter::TakeLines(
    std::string& out, std::string_view text, size_t endsBefore, size_t maxLines, size_t outLimit,
    const uint16_t* twoByte) {
  Taken taken;
  if (lists_.Generation() != generation_) Resync();
  // With whole names taught every line is searched first.
  const size_t start = out.size();
  if (anyTaught_ || layout_.format == NameFormat::kNone || start >= outLimit) return taken;
  const uint8_t stop = kQuestionMark | (kFromUtf8 ? kNotAscii : 0);
  const Run run{text, std::min(endsBefore, text.size()), twoByte};
  readings_.MayEndPairKey(0);  // the key starts worked out now: the writes below must not throw
  // One stretch of the output for the whole run: room up to the limit and for the line past it.
  size_t bytesTaken = 0, linesTaken = 0, wanted = 0;  // in registers until the run ends
  auto put = [&](char* base, size_t) __attribute__((always_inline)) {
    char* w = base + start;
    char* const full = base + outLimit;
    while (linesTaken < maxLines && w < full) {
      uint8_t marks = 0;
      const size_t from = bytesTaken;
      size_t lineEnd;
      // A watched run writes the lines no one wants as the usual run does; a line that stops it
      // is written again with the watch's marks let through and listed: written now, it was
      // stopped by them (the two writes differ in nothing else).
      char* end = PutRunLine<kFromUtf8, kWatched>(w, run, from, stop | (kWatched ? kWanted : 0),
                                                  &marks, &lineEnd, &bytesTaken);
      if constexpr (kWatched) {
        if (!end) {
          marks = 0;
          end = PutRunLine<kFromUtf8, false>(w, run, from, stop, &marks, &lineEnd, &bytesTaken);
          if (!end) break;
          WantedLine& line = wanted_[wanted];
          line.line = linesTaken;
          line.at = static_cast<size_t>(w - base);
          line.size = static_cast<size_t>(end - w) - 2;
          if constexpr (kFromUtf8) {
            std::memcpy(wantedText_[wanted], runLine_, sizeof runLine_);
            line.name = std::string_view(wantedText_[wanted], (lineEnd - from) / 3 * 2);
          } else {
            line.name = text.substr(from, lineEnd - from);
          }
          if (++wanted == kMostWanted) maxLines = linesTaken + 1;
        }
      }
      if (!end) break;
      w = end;
      ++linesTaken;
    }
    return static_cast<size_t>(w - base);
  };
  out.resize_and_overwrite(outLimit + LineRoom() + 2, put);
  taken.bytes = bytesTaken;
  taken.lines = linesTaken;
  taken.wanted = wanted;
  taken.wantedLines = wanted_;
  return taken;
}

[[gnu::flatten]] NameConverter::Taken NameConverter::AppendLines(std::string& out,
                                                                 std::string_view text,
                                                                 size_t endsBefore, size_t maxLines,
                                                                 size_t outLimit, bool watched) {
  return watched ? TakeLines<false, true>(out, text, endsBefore, maxLines, outLimit, nullptr)
                 : TakeLines<false, false>(out, text, endsBefore, maxLines, outLimit, nullptr);
}

[[gnu::flatten]] NameConverter::Taken NameConverter::AppendUtf8Lines(
    std::string& out, std::string_view text, const uint16_t* twoByte, size_t endsBefore,
    size_t maxLines, size_t outLimit, bool watched) {
  return watched ? TakeLines<true, true>(out, text, endsBefore, maxLines, outLimit, twoByte)
                 : TakeLines<true, false>(out, text, endsBefore, maxLines, outLimit, twoByte);
}

[[gnu::flatten]] void NameConverter::Append(std::string& out, std::string_view line) {
  if (lists_.Generation() != generation_) Resync();
  readings_.ClearQuestionMark();
  // Without whole names taught (the usual case) no line is one: no search for it.
  if (anyTaught_ && AppendTaughtName(out, lists_, line, options_)) {
    lineMarks_ = kWanted;  // no "?" from forms; the watch has no say in a taught name
    return;
  }
  if (AppendPreRendered(out, line)) return;
  lineMarks_ = kWanted;  // nor in a line the whole walk writes
  AppendByWalk(out, line);
}

// Out of line, so that the lines written from forms do not pay for the walk's stack frame.
[[gnu::noinline]] void NameConverter::AppendByWalk(std::string& out, std::string_view line) {
  Romanize(
      out, lists_, line, layout_,
      [&](std::string_view key, KeyRole role) { return readings_.Reading(key, role); }, &readings_);
}

void NameConverter::Split(NameParts& parts, std::string_view line) {
  readings_.Sync();
  readings_.ClearQuestionMark();
  parts.surname.clear();
  parts.given.clear();
  std::string unused;
  ConversionOptions noLayout = options_;
  noLayout.format = NameFormat::kNone;  // the readings are found, nothing is laid out
  Romanize(unused, lists_, line, NameLayout(noLayout), [&](std::string_view key, KeyRole role) {
    std::string_view reading = readings_.Reading(key, role);
    // The one-character surname, looked up after a two-character probe that missed, wins.
    if (role == KeyRole::kSurname) parts.surname.assign(reading);
    else parts.given.emplace_back(reading);
    return reading;
  });
}

void AppendRomanizedWith(std::string& out, const ListFiles& lists, std::string_view line,
                         const ConversionOptions& options, const ReadingFn& reading) {
  Romanize(out, lists, line, NameLayout(options), reading);
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
  Romanize(out, lists, line, NameLayout(options),
           [&](std::string_view key, KeyRole role) -> std::string_view {
             if (role == KeyRole::kSurname)
               return key.size() == kStandIn.size() ? surname : kNoReading;
             return next < given.size() ? std::string_view(given[next++]) : std::string_view();
           });
}

std::string RomanizeName(ListFiles& lists, std::string_view line,
                         const ConversionOptions& options) {
  lists.Refresh();
  std::string out;
  AppendRomanizedName(out, lists, line, options);
  return out;
}

void AppendLaidOutReadings(std::string& out, const NameLayout& layout, std::string_view surname,
                           const std::string_view* given, size_t count) {
  if (layout.format == NameFormat::kNone) return;  // no format chosen: an empty line
  GivenReadings readings;
  readings.count = static_cast<int>(std::min(count, static_cast<size_t>(kMaxGivenPieces)));
  for (int k = 0; k < readings.count; ++k) {
    readings.text[k] = given[k].data();
    readings.size[k] = given[k].size();
    readings.bytes += given[k].size() + (k > 0 ? layout.separator.size() : 0);
  }
  LayOut(out, layout, surname, readings);
}

bool IsNameSeparatingDot(std::string_view piece) { return IsSeparatingDot(piece); }

}  // namespace quorvel

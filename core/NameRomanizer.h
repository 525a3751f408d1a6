// One name line in, one romanized line out.
//
// The line is cleaned (TrimControls at both ends, inner ASCII spaces removed) and cut into pieces:
// GB18030 characters (Gb18030CharLength: an ASCII byte is always one), a run of ASCII letters
// and digits being one piece that reads as written. The first seven pieces are split into a one-
// or two-piece surname (two when the custom dictionary of the current romanization knows the
// first two) and given-name pieces, looked up, and laid out in one of ten formats or the
// passport format. A name holding a separating dot (· • ・ ‧ ． ･) has no surname: each part is
// one word of its pieces' readings joined, the words in written order with one space between
// them, capitalised in the mixed-case formats, upper-cased in the passport format, as they are in
// the all-lower formats. A missing reading shows as "???"; nothing is rejected. Lookup errors
// (ListIndexError, FileOpenError) pass through.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ReadingLookup.h"

namespace quorvel {

enum class Separator { kHyphen, kSpace, kNone };  // between given-name syllables

// The ten layouts, in the order the main window and the command line number them (0..9),
// spelled with 刘德华 in kNameFormatCaptions, and the passport layout (10): surname and given name
// upper-cased, the given name's syllables joined whatever the separator, the ü spelled yu
// (吕小明 -> LYU XIAOMING). kNone (no format chosen) gives an empty line.
enum class NameFormat {
  kNone = -1,
  kGivenSurname,                  // dehua liu
  kGivenSurnameCapitalised,       // Dehua Liu
  kGivenSurnameUpper,             // dehua LIU
  kGivenCapitalisedSurnameUpper,  // Dehua LIU
  kGivenSurnameJoined,            // dehualiu
  kSurnameGiven,                  // liu dehua
  kSurnameGivenCapitalised,       // Liu Dehua
  kSurnameUpperGiven,             // LIU dehua
  kSurnameUpperGivenCapitalised,  // LIU Dehua
  kSurnameGivenJoined,            // liudehua
  kPassport,                      // LIU DEHUA
};
inline constexpr int kNameFormatCount = 11;

inline constexpr const char* kNameFormatCaptions[kNameFormatCount] = {
    "dehua liu", "Dehua Liu", "dehua LIU", "Dehua LIU", "dehualiu", "liu dehua",
    "Liu Dehua", "LIU dehua", "LIU Dehua", "liudehua",  "LIU DEHUA"};

// The format numbered `number` (0..10); any other number is kNone.
NameFormat NameFormatFromNumber(int number);

struct ConversionOptions {
  Readings readings = Readings::kFirst;
  Separator separator = Separator::kHyphen;
  Romanization romanization = Romanization::kPinyin;
  NameFormat format = NameFormat::kGivenSurnameCapitalised;
  UmlautSpelling umlaut = UmlautSpelling::kV;  // the passport format always spells yu

  LookupOptions Lookup() const {
    return {readings, romanization, format == NameFormat::kPassport ? UmlautSpelling::kYu : umlaut};
  }
  bool operator==(const ConversionOptions&) const = default;
};

enum class LetterCase { kAsIs, kCapitalised, kUpper };

// What the options make of every name's layout, settled once for a run of names: which part
// comes first, what stands between the parts and between given-name syllables, and each part's
// case.
struct NameLayout {
  explicit NameLayout(const ConversionOptions& options);
  NameFormat format;
  Romanization romanization;  // whose custom dictionary decides a two-character surname
  bool surnameFirst = true;
  std::string_view between = " ";
  std::string_view separator;
  LetterCase surnameCase = LetterCase::kAsIs, givenCase = LetterCase::kAsIs;
};

// The text without any ASCII space (0x20); every other byte stays where it is.
std::string RemoveSpaces(std::string_view text);

// Romanizes one line. Checks the list files for changes once, then every lookup of the name sees
// that one state.
std::string RomanizeName(ListFiles& lists, std::string_view line, const ConversionOptions& options);

// Same, appending to `out`, against the state of the last Refresh.
void AppendRomanizedName(std::string& out, const ListFiles& lists, std::string_view line,
                         const ConversionOptions& options);

// The readings of a name line as the romanization splits it, before any layout or case change:
// the surname's reading and each given-name piece's reading in order ("???" where one is missing).
struct NameParts {
  std::string surname;
  std::vector<std::string> given;
};

// The reading of one key of a line, as the name romanization asks for it (`role`: the surname
// probe and the surname, or a given-name piece); the text must stay valid until the line is
// written.
using ReadingFn = std::function<std::string_view(std::string_view key, KeyRole role)>;

// Romanizes `line` by the same walk and layout as AppendRomanizedName, every reading taken from
// `reading`: the review records the keys a name is read by and lays out its alternatives so.
void AppendRomanizedWith(std::string& out, const ListFiles& lists, std::string_view line,
                         const ConversionOptions& options, const ReadingFn& reading);

// Lays out readings already found, a surname and at most six given-name syllables, as a name
// that read so would be laid out: format, separator and case as for any line (taught names).
void AppendLaidOutName(std::string& out, const ListFiles& lists, std::string_view surname,
                       const std::vector<std::string>& given, const ConversionOptions& options);

// Which lines an observer of a batch run wants to see (the review: the lines that may be
// flagged), told by their characters. Asked once per character, position and state of the lists,
// by converters on any thread at once: the answer must follow from the character, its position
// and the lists' current state alone.
class LineWatch {
 public:
  virtual ~LineWatch() = default;
  // Whether a line holding the double-byte `character` (two bytes) as its one-character surname
  // (KeyRole::kSurname) or in its given name (KeyRole::kGivenName) is wanted.
  virtual bool Wants(std::string_view character, KeyRole role) const = 0;
};

// AppendRomanizedName for many lines with the same options (the batch conversion): the readings
// of two-byte keys are worked out once per state of the lists (ReadingCache). The caller decides
// when the lists are refreshed; each line is romanized against their state when it starts.
//
// A line of two to seven GBK characters (the usual name) takes a shorter way to the same bytes:
// each character's slot is found once, and its reading as a surname and in a given name is kept
// already in the layout's case (in the run's romanization, reading mode and ü spelling), worked
// out the first time a line needs it and forgotten whenever the lists change; whether the first
// two characters are one surname is asked as the walk asks it, the answer kept per pair. A line
// the forms cannot write exactly as the walk would (ASCII, a four-byte character, a separating
// dot, one character or more than seven, an empty reading or one whose last character is cut
// short) goes the whole walk.
//
// One converter is used by one thread; several converters may share one const ListFiles.
class NameConverter {
 public:
  // `watch` (if given): Watched() tells the lines it wants.
  NameConverter(const ListFiles& lists, const ConversionOptions& options,
                const LineWatch* watch = nullptr);
  void Append(std::string& out, std::string_view line);
  // The parts of the line, split exactly as Append splits it (the table's added columns).
  void Split(NameParts& parts, std::string_view line);
  // Lines of a GB18030 text that the batch takes many at a time: each ending in CR, LF or CR LF
  // before `endsBefore` (with a CR's next byte in `text`), written as Append writes them, each
  // followed by CR LF, while each is a line written from forms already worked out whose marks
  // hold no kQuestionMark: at most `maxLines`, and none after the one that takes `out` to
  // `outLimit` bytes. With `watched`, the lines that Watched() would tell are listed in
  // Taken::wantedLines (at most kMostWanted; the run ends with the last the list holds). The first
  // line not taken is for Append.
  struct WantedLine {
    size_t line = 0;          // counted from 0 in the run
    size_t at = 0, size = 0;  // its output in `out`, without the CR LF
    std::string_view name;    // the line as the reader gave it
  };
  static constexpr size_t kMostWanted = 64;
  struct Taken {
    size_t bytes = 0, lines = 0;
    size_t wanted = 0;
    const WantedLine* wantedLines = nullptr;  // valid until the next call
  };
  Taken AppendLines(std::string& out, std::string_view text, size_t endsBefore, size_t maxLines,
                    size_t outLimit, bool watched);
  // The same from a UTF-8 text for a UTF-8 target: a line is taken when it is three-byte sequences
  // whose GB18030 codes `twoByte` (Gb18030LineReader::TwoByteCodes) knows, and its forms are
  // ASCII (the same bytes in either target); WantedLine::name is its GB18030 form.
  Taken AppendUtf8Lines(std::string& out, std::string_view text, const uint16_t* twoByte,
                        size_t endsBefore, size_t maxLines, size_t outLimit, bool watched);
  // False when the line last appended certainly holds no "???" (no reading in it had a "?").
  bool MayHoldMarker() const { return (lineMarks_ & kQuestionMark) || readings_.SawQuestionMark(); }
  // Whether the line last appended may be one the watch wants: a line written from forms when one
  // of its characters is wanted in its position (the first two read as one surname are never
  // the watch's; its given name may be), one whose ends were trimmed always; a line the whole
  // walk writes always.
  bool Watched() const { return lineMarks_ & kWanted; }

 private:
  // One key's reading as this converter writes it, in formText_ from `at`. As a surname: in the
  // surname's case, with what stands between surname and given name on its side (`length` counts
  // both). In a given name: as the first syllable, in the given name's case (`length` bytes), then
  // the separator and the syllable as any later one (upper-cased only when the given name is).
  struct Form {
    uint32_t at = 0;
    uint16_t length = 0;
    uint8_t state = kUnknown;
    uint8_t marks = 0;  // kQuestionMark, kWanted
  };
  // Form::marks: the reading holds a "?"; the watch wants a line holding the character there.
  // kNotAscii: the form's bytes are not all ASCII.
  static constexpr uint8_t kQuestionMark = 1, kWanted = 2, kNotAscii = 4;
  // kPairFirst: a surname whose character may start a two-character custom key, the one-character
  // form not yet worked out; kPairFirstReady: the same, with it. The second character decides
  // (ReadingCache::MayEndPairKey, then pairs_).
  // kDot: a separating dot (the line is a dotted name).
  enum : uint8_t { kUnknown, kReady, kWholeWalk, kPairFirst, kPairFirstReady, kDot };
  struct PairSurname {
    Form form;         // of the two characters, or of the first alone
    bool two = false;  // the two characters are the surname
  };
  static constexpr size_t kPairsKept = 1 << 16;

  void Resync();
  void ForgetForms();
  // A text whose lines are taken many at a time (AppendLines).
  struct Run {
    std::string_view text;
    size_t endsBefore;
    const uint16_t* twoByte;
  };
  template <bool kFromUtf8, bool kTrimmedStops>
  char* PutRunLine(char* w, const Run& run, size_t from, uint8_t stop, uint8_t* marks, size_t* end,
                   size_t* next);
  template <bool kFromUtf8, bool kWatched>
  Taken TakeLines(std::string& out, std::string_view text, size_t endsBefore, size_t maxLines,
                  size_t outLimit, const uint16_t* twoByte);
  std::string_view FormsLine(std::string_view line, uint8_t* trimmed) const;
  const Form* KnownSurname(std::string_view line, int first, int* surnameChars);
  char* PutLine(char* w, std::string_view line, const Form& surname, int surnameChars, uint8_t stop,
                uint8_t* marks) const;
  size_t LineRoom() const;
  bool AppendPreRendered(std::string& out, std::string_view line);
  void AppendByWalk(std::string& out, std::string_view line);
  bool RenderForms(Form** forms, std::string_view line, int& surnameAt);
  void RenderForm(Form& form, std::string_view key, KeyRole role);
  void Render(Form& form, std::string_view reading, KeyRole role, bool wanted);
  bool Wanted(std::string_view key, KeyRole role) const {
    return !watch_ || watch_->Wants(key, role);
  }
  PairSurname* FindPairSurname(std::string_view line);

  const ListFiles& lists_;
  ConversionOptions options_;
  NameLayout layout_;
  ReadingCache readings_;
  uint64_t generation_;     // the lists' state that forms_ and anyTaught_ hold
  bool anyTaught_ = false;  // a whole name is taught: every line is searched first
  // The marks of the line last written: kQuestionMark when a reading of it written from forms held
  // a "?", kWanted (Watched()).
  uint8_t lineMarks_ = kWanted;
  const LineWatch* watch_ = nullptr;
  std::vector<Form> forms_;  // [2 * slot] in a given name, [2 * slot + 1] as a surname
  std::unordered_map<uint32_t, PairSurname> pairs_;  // by the first two characters' slots
  std::string formText_;  // the forms, then kFormSlack bytes that copies may read past one
  char runLine_[14];      // a UTF-8 run's line in GB18030
  WantedLine wanted_[kMostWanted];
  char wantedText_[kMostWanted][sizeof runLine_];  // their names (no run line is longer)
  size_t maxFormLength_ = 0;  // the longest form's bytes (both parts of a given-name form)
  static constexpr size_t kFormSlack = 16;
};

// Lays out readings already found for a line that is no dotted name: the surname's reading and
// those of its given-name pieces (at most six), exactly as the romanization writes a line whose
// keys read so (nothing for NameFormat::kNone). The review lays out a flagged line once per other
// reading of a character with it, from the readings of one walk.
void AppendLaidOutReadings(std::string& out, const NameLayout& layout, std::string_view surname,
                           const std::string_view* given, size_t count);

// Whether a piece of a name line (one character) is a dot that parts the name into words
// (阿沛·阿旺): a line holding one is laid out without a surname.
bool IsNameSeparatingDot(std::string_view piece);

}  // namespace quorvel

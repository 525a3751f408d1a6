#include "TaughtNames.h"

#include "Encoding.h"
#include "Errors.h"
#include "TextLines.h"

namespace quorvel {

namespace {

constexpr char kSplitMark = '|';

// The number of characters of a name made of multi-byte GB18030 characters only, or 0.
std::size_t NameCharacters(std::string_view gbk) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < gbk.size(); ++count) {
    const std::size_t length = Gb18030CharLength(gbk.substr(i));
    if (length < 2) return 0;
    i += length;
  }
  return count;
}

bool IsSyllable(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < 'a' || c > 'z') return false;
  return true;
}

// Syllables typed by a person: letters in any case, ü for v, separated by any white space, one
// split mark anywhere between them. `split` gets the syllables before the mark (0: none).
std::vector<std::string> TypedSyllables(std::string_view utf8, std::size_t* split) {
  std::vector<std::string> syllables;
  std::string current;
  bool marked = false;
  auto finish = [&] {
    if (!current.empty()) syllables.push_back(std::move(current));
    current.clear();
  };
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (utf8.substr(i, 2) == "\xC3\xBC" || utf8.substr(i, 2) == "\xC3\x9C") {  // ü, Ü
      current += 'v';
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      current += static_cast<char>(c - 'A' + 'a');
    } else if (c == kSplitMark) {
      finish();
      if (marked || syllables.empty())
        throw Error("无法保存：姓与名之间只能有一个“|”，且前后都要有音节。");
      marked = true;
      *split = syllables.size();
    } else if (static_cast<unsigned char>(c) <= 0x20) {
      finish();
    } else {
      current += c;
    }
  }
  finish();
  if (marked && *split >= syllables.size())
    throw Error("无法保存：姓与名之间只能有一个“|”，且前后都要有音节。");
  for (const auto& s : syllables)
    if (!IsSyllable(s)) throw Error("无法保存：拼音只能由字母组成（ü 写作 v），“" + s + "”不行。");
  return syllables;
}

}  // namespace

std::optional<TaughtReading> ParseTaughtReading(std::string_view reading, std::size_t characters) {
  TaughtReading taught;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= reading.size(); ++i) {
    if (i < reading.size() && reading[i] != ' ' && reading[i] != kSplitMark) continue;
    std::string_view syllable = reading.substr(start, i - start);
    if (!IsSyllable(syllable)) return std::nullopt;
    taught.syllables.emplace_back(syllable);
    if (i < reading.size() && reading[i] == kSplitMark) {
      if (taught.surnameSyllables != 0) return std::nullopt;
      taught.surnameSyllables = taught.syllables.size();
    }
    start = i + 1;
  }
  if (taught.syllables.size() != characters || taught.surnameSyllables >= characters)
    return std::nullopt;
  return taught;
}

DictionaryEntry TaughtEntryFromUtf8(std::string_view name, std::string_view syllables) {
  std::string marked = DictionaryTextFromUtf8(TrimControls(name));
  std::size_t nameSplit = 0;
  if (auto mark = marked.find(kSplitMark); mark != std::string::npos) {
    marked.erase(mark, 1);
    nameSplit = mark % 2 == 0 ? mark / 2 : marked.size();  // an odd place splits no character
    if (nameSplit == 0 || marked.find(kSplitMark) != std::string::npos) nameSplit = marked.size();
  }
  const std::size_t characters = NameCharacters(marked);
  if (characters < kMinTaughtNameChars || characters > kMaxTaughtNameChars ||
      nameSplit >= characters)
    throw Error("无法保存：整名要 2 到 6 个汉字（可用一个“|”隔开姓和名），“" +
                std::string(TrimControls(name)) + "”不行。");
  std::size_t readingSplit = 0;
  std::vector<std::string> typed = TypedSyllables(syllables, &readingSplit);
  if (typed.size() != characters)
    throw Error("无法保存：“" + std::string(TrimControls(name)) + "”有 " +
                std::to_string(characters) + " 个汉字，拼音却有 " + std::to_string(typed.size()) +
                " 个音节。");
  if (nameSplit != 0 && readingSplit != 0 && nameSplit != readingSplit)
    throw Error("无法保存：汉字和拼音里的“|”不在同一处。");
  const std::size_t split = nameSplit != 0 ? nameSplit : readingSplit;
  DictionaryEntry entry{marked, {}};
  for (std::size_t k = 0; k < typed.size(); ++k) {
    if (k > 0) entry.reading += k == split ? kSplitMark : ' ';
    entry.reading += typed[k];
  }
  return entry;
}

std::string MarkedName(const DictionaryEntry& entry) {
  auto taught = ParseTaughtReading(entry.reading, NameCharacters(entry.key));
  if (!taught || taught->surnameSyllables == 0) return entry.key;
  std::string marked = entry.key;
  marked.insert(2 * taught->surnameSyllables, 1, kSplitMark);
  return marked;
}

bool AppendTaughtName(std::string& out, const ListFiles& lists, std::string_view line,
                      const ConversionOptions& options) {
  const std::string_view name = TrimControls(line);
  const long at = lists.FindKey(kTaughtNameKeys, name);
  if (at < 0) return false;
  const auto& readings = lists.List(kTaughtNameSyllables);
  if (static_cast<std::size_t>(at) >= readings.size()) throw ListIndexError(at);
  const auto taught =
      ParseTaughtReading(readings[static_cast<std::size_t>(at)], NameCharacters(name));
  if (!taught) return false;
  std::size_t surnameCount = taught->surnameSyllables;
  if (surnameCount == 0) {
    const ListSlot dictionary = options.romanization == Romanization::kWadeGiles
                                    ? kWadeGilesDictionaryKeys
                                    : kPinyinDictionaryKeys;
    surnameCount = lists.FindKey(dictionary, name.substr(0, 4)) >= 0 ? 2 : 1;
  }
  const LookupOptions lookup = options.Lookup();
  std::string surname;
  std::vector<std::string> given;
  for (std::size_t k = 0; k < taught->syllables.size(); ++k) {
    if (k >= surnameCount) given.emplace_back();
    AppendPinyinReading(k < surnameCount ? surname : given.back(), lists, taught->syllables[k],
                        lookup);
  }
  AppendLaidOutName(out, lists, surname, given, options);
  return true;
}

}  // namespace quorvel

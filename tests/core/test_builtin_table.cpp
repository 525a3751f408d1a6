// The built-in table: the rules of every reading string, the order that puts a name's reading
// first, the counts the generator reports, and the index against a plain scan.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "BuiltinTable.h"
#include "Encoding.h"
#include "TestSupport.h"
#include "TextLines.h"

using namespace quorvel;
using quorvel::test::G;

namespace {

std::vector<std::string> Syllables(const std::string& reading) {
  std::vector<std::string> out;
  std::stringstream s(reading);
  for (std::string part; std::getline(s, part, '/');) out.push_back(part);
  return out;
}

// The code point of every row of the committed rows file, in order.
std::vector<char32_t> RowCodePoints() {
  std::ifstream f(quorvel::test::SourceDir() + "/data/char_rows.tsv");
  std::vector<char32_t> out;
  for (std::string line; std::getline(f, line);)
    if (line.starts_with("U+"))
      out.push_back(static_cast<char32_t>(std::stoul(line.substr(2), nullptr, 16)));
  return out;
}

// "# rows=N syllables=N polyphonic=N" from the committed rows file.
std::map<std::string, int> GeneratorCounts() {
  std::ifstream f(quorvel::test::SourceDir() + "/data/char_rows.tsv");
  std::map<std::string, int> counts;
  const std::regex pair(R"((\w+)=(\d+))");
  for (std::string line; std::getline(f, line) && line.starts_with("#");) {
    for (auto it = std::sregex_iterator(line.begin(), line.end(), pair);
         it != std::sregex_iterator(); ++it)
      counts[(*it)[1]] = std::stoi((*it)[2]);
  }
  return counts;
}

}  // namespace

TEST(BuiltinTable, EveryRowFollowsTheReadingStringRules) {
  const std::regex syllable("[a-z]{1,6}");
  std::set<std::string> keys, allSyllables;
  int polyphonic = 0, twoByte = 0;
  const std::vector<char32_t> codePoints = RowCodePoints();
  ASSERT_EQ(codePoints.size(), static_cast<size_t>(kBuiltinRowCount));
  for (int i = 0; i < kBuiltinRowCount; ++i) {
    SCOPED_TRACE(testing::Message() << "row " << i << " " << quorvel::test::U(BuiltinKey(i)) << " "
                                    << BuiltinReading(i));
    std::string key = BuiltinKey(i);
    ASSERT_TRUE(key.size() == 2 || key.size() == 4);
    EXPECT_TRUE(keys.insert(key).second) << "key twice";
    // Every key is the engine's GB18030 code of its row's code point, which is an ideograph.
    const std::string utf8 = Gb18030ToUtf8(key);
    char32_t cp = 0;
    ASSERT_EQ(DecodeUtf8(utf8, &cp), utf8.size());
    ASSERT_EQ(static_cast<uint32_t>(cp), static_cast<uint32_t>(codePoints[static_cast<size_t>(i)]));
    EXPECT_EQ(Utf8ToGb18030(utf8), key);
    EXPECT_TRUE((cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                (cp >= 0x20000 && cp <= 0x323AF))
        << std::hex << static_cast<uint32_t>(cp);
    twoByte += key.size() == 2;

    auto parts = Syllables(BuiltinReading(i));
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(parts.size() > 1 ? std::string(BuiltinReading(i)).find("//") : std::string::npos,
              std::string::npos);
    for (const auto& s : parts) EXPECT_TRUE(std::regex_match(s, syllable)) << "'" << s << "'";
    // The first reading is the name reading; the rest follow in ascending byte order, no repeats.
    std::set<std::string> unique(parts.begin(), parts.end());
    EXPECT_EQ(unique.size(), parts.size());
    EXPECT_TRUE(std::is_sorted(parts.begin() + 1, parts.end()));
    if (parts.size() > 1) ++polyphonic;
    allSyllables.insert(parts.begin(), parts.end());
  }
  auto counts = GeneratorCounts();
  EXPECT_EQ(kBuiltinRowCount, counts["rows"]);
  EXPECT_EQ(static_cast<int>(allSyllables.size()), counts["syllables"]);
  EXPECT_EQ(polyphonic, counts["polyphonic"]);
  // The figures the generator reported for Unihan 15.0.
  EXPECT_EQ(kBuiltinRowCount, 42343);
  EXPECT_EQ(counts["syllables"], 423);
  EXPECT_EQ(counts["polyphonic"], 4763);
  EXPECT_EQ(twoByte, 20892 + 9 + 57)
      << "the unified ideographs of GBK, nine compatibility ideographs GBK holds, "
         "and 57 ideographs of Extensions A and B to which GB18030 gives the "
         "two-byte codes that GBK leaves to private use";
}

TEST(BuiltinTable, NameReadingComesFirst) {
  struct Row {
    const char* ch;
    const char* reading;
    const char* why;
  };
  const Row rows[] = {
      {"赵", "zhao", "a plain surname"},
      {"张", "zhang", "a plain row"},
      {"能", "neng", "kMandarin's reading before the alphabetical nai"},
      {"行", "xing/hang/heng", "xing first, the others in byte order"},
      {"重", "zhong/chong", "kMandarin first"},
      {"单", "dan/chan/shan", "the row keeps its general reading; the surname table knows shan"},
      {"沈", "shen/chen", "shen before chen"},
      {"地", "di/de", "a neutral particle reading never comes first"},
      {"长", "chang/zhang", "given names use chang"},
      {"阿", "a/e", "a first"},
      {"吕", "lv", "a surname character, its ü written with v"},
      {"冷", "leng", "leng exists"},
      {"女", "nv", "nv"},
      {"略", "lue", "lüe written lue"},
      {"儿", "er", "the erhua r is left out"},
      {"嗯", "n/ng", "interjections kept as such"},
      {"冀", "ji", "a surname character"},
      {"咗", "zuo", "a GBK extension character"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.ch) + ": " + r.why);
    int row = FindBuiltinRow(G(r.ch));
    ASSERT_GE(row, 0);
    EXPECT_STREQ(BuiltinReading(row), r.reading);
  }
}

TEST(BuiltinTable, IndexFindsExactlyWhatAScanFinds) {
  std::map<std::string, int> byKey;
  for (int i = 0; i < kBuiltinRowCount; ++i) byKey[BuiltinKey(i)] = i;
  // Every two-byte string: the index agrees with a plain search.
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      std::string key{static_cast<char>(a), static_cast<char>(b)};
      auto it = byKey.find(key);
      ASSERT_EQ(FindBuiltinRow(key), it == byKey.end() ? -1 : it->second) << a << "," << b;
    }
  // Every four-byte code too, and the four-byte strings next to their ranges.
  int fourByteRows = 0;
  std::string key(4, '\0');
  for (int b0 = 0x80; b0 <= 0xFF; ++b0)
    for (int b1 = 0x2F; b1 <= 0x3A; ++b1)
      for (int b2 = 0x80; b2 <= 0xFF; ++b2)
        for (int b3 = 0x2F; b3 <= 0x3A; ++b3) {
          key = {static_cast<char>(b0), static_cast<char>(b1), static_cast<char>(b2),
                 static_cast<char>(b3)};
          auto it = byKey.find(key);
          const int expected = it == byKey.end() ? -1 : it->second;
          if (FindBuiltinRow(key) != expected)
            FAIL() << std::hex << b0 << " " << b1 << " " << b2 << " " << b3;
          fourByteRows += expected >= 0;
        }
  EXPECT_GT(fourByteRows, 20000);
  EXPECT_EQ(FindBuiltinRow(""), -1);
  EXPECT_EQ(FindBuiltinRow(G("赵")[0] + std::string()), -1) << "one byte";
  EXPECT_EQ(FindBuiltinRow(G("欧阳")), -1) << "two characters never match a row";
}

TEST(BuiltinTable, SurnameReadingsBelongToCharactersOfTheTable) {
  for (int i = 0; i < kSurnameCount; ++i) {
    SCOPED_TRACE(quorvel::test::U(kSurnameKeys[i]));
    const char* surname = SurnameReading(kSurnameKeys[i]);
    ASSERT_NE(surname, nullptr);
    EXPECT_GE(FindBuiltinRow(kSurnameKeys[i]), 0);
  }
  EXPECT_STREQ(SurnameReading(G("单")), "shan");
  EXPECT_STREQ(SurnameReading(G("曾")), "zeng");
  EXPECT_EQ(SurnameReading(G("张")), nullptr);
  EXPECT_EQ(SurnameReading(G("洗")), nullptr) << "weak evidence is left out";
}

TEST(InstalledLists, TheMappingCoversEverySyllableOfTheTable) {
  const auto han =
      SplitLines(quorvel::test::ReadFile(quorvel::test::BuildBinDir() + "/pinyin_han.dll"));
  const auto wei =
      SplitLines(quorvel::test::ReadFile(quorvel::test::BuildBinDir() + "/pinyin_wei.dll"));
  ASSERT_EQ(han.size(), wei.size());
  std::set<std::string> mapped(han.begin(), han.end());
  EXPECT_EQ(mapped.size(), han.size()) << "each syllable once";
  for (int i = 0; i < kBuiltinRowCount; ++i)
    for (const auto& s : Syllables(BuiltinReading(i))) EXPECT_TRUE(mapped.count(s)) << s;
  // Spelled as names are written in Taiwan passports and the press: no apostrophes, no ü.
  for (const auto& w : wei) EXPECT_TRUE(std::regex_match(w, std::regex("[a-z]+(-[a-z]+)?"))) << w;
}

TEST(InstalledLists, TheDictionariesHoldCompoundSurnamesInLowerCase) {
  const std::string bin = quorvel::test::BuildBinDir();
  auto read = [&](const char* f) { return SplitLines(quorvel::test::ReadFile(bin + "/" + f)); };
  const auto keys = read("define_han.dll"), py = read("define_py.dll");
  const auto weiKeys = read("define_wei_han.dll"), wei = read("define_wei_py.dll");
  ASSERT_EQ(keys.size(), py.size());
  ASSERT_EQ(weiKeys, keys);
  ASSERT_EQ(wei.size(), keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].size(), 4u) << "two GBK characters";
    EXPECT_TRUE(std::regex_match(py[i], std::regex("[a-z]+"))) << py[i];
    EXPECT_TRUE(std::regex_match(wei[i], std::regex("[a-z]+-[a-z]+"))) << wei[i];
  }
  auto at = [&](const std::string& key) {
    return std::find(keys.begin(), keys.end(), key) - keys.begin();
  };
  EXPECT_EQ(py[at(G("欧阳"))], "ouyang");
  EXPECT_EQ(wei[at(G("司马"))], "ssu-ma");
  EXPECT_EQ(wei[at(G("诸葛"))], "chu-ko");
  EXPECT_EQ(at(G("张简")), static_cast<long>(keys.size()))
      << "Taiwan double surnames would swallow ordinary names";
}

// Whole names the user taught: the entries' rules, the names they give in every format and in
// Wade-Giles, and the list's safety against killed writers.
#include <gtest/gtest.h>

#include <set>

#include "BatchConversion.h"
#include "CustomDictionary.h"
#include "Errors.h"
#include "TaughtNames.h"
#include "TestSupport.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

class TaughtNamesTest : public testing::Test {
 protected:
  void SetUp() override { CopyInstalledLists(dir_.Path()); }
  void Teach(const char* name, const char* syllables) {
    const DictionaryEntry entry = names_.EntryFromUtf8(name, syllables);
    names_.AddOrUpdate(entry.key, entry.reading);
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
  CustomDictionary names_{lists_, CustomDictionary::Kind::kWholeNames};
};

TEST(TaughtEntries, NamesAndSyllablesTypedByAPersonAreStoredInOneForm) {
  struct Case {
    const char* why;
    const char* name;
    const char* syllables;
    const char* key;  // UTF-8; nullptr: refused
    const char* reading;
  };
  const Case cases[] = {
      {"plain", "曾参", "zeng shen", "曾参", "zeng shen"},
      {"any case and white space, ü for v, trimmed", " 吕小明\t", "  Lü  XIAO\tming ", "吕小明",
       "lv xiao ming"},
      {"the split marked in the name", "欧阳|修", "ou yang xiu", "欧阳修", "ou yang|xiu"},
      {"the split marked in the syllables", "欧阳修", "ou yang | xiu", "欧阳修", "ou yang|xiu"},
      {"marked in both, at one place", "欧阳|修", "ou yang|xiu", "欧阳修", "ou yang|xiu"},
      {"six characters", "爱新觉罗溥仪", "ai xin jue luo pu yi", "爱新觉罗溥仪",
       "ai xin jue luo pu yi"},
      {"one character is no whole name", "曾", "zeng", nullptr, nullptr},
      {"seven characters are too many", "爱新觉罗溥仪甲", "ai xin jue luo pu yi jia", nullptr,
       nullptr},
      {"letters are no Chinese characters", "Li Na", "li na", nullptr, nullptr},
      {"a syllable short", "曾参", "zeng", nullptr, nullptr},
      {"a syllable too many", "曾参", "zeng shen can", nullptr, nullptr},
      {"digits are no part of a syllable", "曾参", "zeng1 shen1", nullptr, nullptr},
      {"the marks disagree", "欧阳|修", "ou|yang xiu", nullptr, nullptr},
      {"a mark at the end splits nothing", "欧阳修|", "ou yang xiu", nullptr, nullptr},
      {"two marks", "欧|阳|修", "ou yang xiu", nullptr, nullptr},
      {"a mark before any syllable", "欧阳修", "| ou yang xiu", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.key) {
      const DictionaryEntry entry = TaughtEntryFromUtf8(c.name, c.syllables);
      EXPECT_EQ(entry, (DictionaryEntry{G(c.key), c.reading}));
      EXPECT_TRUE(ParseTaughtReading(entry.reading, entry.key.size() / 2))
          << "what is stored reads back";
    } else {
      EXPECT_THROW(TaughtEntryFromUtf8(c.name, c.syllables), Error);
    }
  }
  EXPECT_EQ(MarkedName({G("欧阳修"), "ou yang|xiu"}), G("欧阳|修"));
  EXPECT_EQ(MarkedName({G("曾参"), "zeng shen"}), G("曾参"));
}

TEST(TaughtEntries, AStoredReadingThatDoesNotFitItsNameIsNotUsed) {
  EXPECT_EQ(ParseTaughtReading("ou yang|xiu", 3), (TaughtReading{{"ou", "yang", "xiu"}, 2}));
  EXPECT_EQ(ParseTaughtReading("zeng shen", 2), (TaughtReading{{"zeng", "shen"}, 0}));
  for (const char* bad :
       {"zeng", "zeng  shen", "Zeng shen", "zeng|shen|x", "zeng shen|", "", "zeng\tshen"})
    EXPECT_FALSE(ParseTaughtReading(bad, bad == std::string("zeng|shen|x") ? 3 : 2)) << bad;
}

TEST_F(TaughtNamesTest, ATaughtNameReadsAsANameOfThoseSyllablesInEveryFormatAndRomanization) {
  Teach("曾参", "zeng shen");
  Teach("乐嘉", "le jia");
  Teach("吕小明", "lv xiao ming");
  Teach("欧阳|修", "ou yang xiu");
  Teach("王小|明", "wang xiao ming");
  Teach("乐黛云", "yue dai yun");
  // Each taught name beside an ordinary line that the table reads with the same syllables.
  const std::pair<const char*, const char*> twins[] = {{"曾参", "曾深"},
                                                       {"乐嘉", "勒嘉"},
                                                       {"吕小明", "吕小明"},
                                                       {"欧阳修", "欧阳修"},
                                                       {"乐黛云", "岳黛云"}};
  for (int format = 0; format <= 10; ++format) {
    for (auto separator : {Separator::kHyphen, Separator::kSpace, Separator::kNone}) {
      for (auto romanization : {Romanization::kPinyin, Romanization::kWadeGiles}) {
        for (auto umlaut : {UmlautSpelling::kV, UmlautSpelling::kUmlaut}) {
          ConversionOptions options;
          options.format = NameFormatFromNumber(format);
          options.separator = separator;
          options.romanization = romanization;
          options.umlaut = umlaut;
          for (const auto& [taught, twin] : twins) {
            SCOPED_TRACE(testing::Message() << taught << " format " << format << " separator "
                                            << static_cast<int>(separator) << " romanization "
                                            << static_cast<int>(romanization) << " umlaut "
                                            << static_cast<int>(umlaut));
            EXPECT_EQ(RomanizeName(lists_, G(taught), options),
                      RomanizeName(lists_, G(twin), options));
          }
        }
      }
    }
  }
  ConversionOptions surnameFirst;
  surnameFirst.format = NameFormat::kSurnameGivenCapitalised;
  EXPECT_EQ(RomanizeName(lists_, G("王小明"), surnameFirst), "Wangxiao Ming")
      << "the mark makes the split";
  surnameFirst.readings = Readings::kAll;
  EXPECT_EQ(RomanizeName(lists_, G("曾参"), surnameFirst), "Zeng Shen")
      << "a taught syllable is the one reading";
  surnameFirst.readings = Readings::kFirst;
  EXPECT_EQ(RomanizeName(lists_, G(" 曾参\r"), surnameFirst), "Zeng Shen") << "the line is trimmed";
  EXPECT_EQ(RomanizeName(lists_, G("曾 参"), surnameFirst), "Zeng Can")
      << "but not cleaned of inner spaces";
  EXPECT_EQ(RomanizeName(lists_, G("曾参参"), surnameFirst), "Zeng Can-can")
      << "only the whole name";
}

TEST_F(TaughtNamesTest, TheBatchConversionUsesTaughtNamesAndAnEntryThatDoesNotFitIsPassedOver) {
  Teach("曾参", "zeng shen");
  WriteFile(dir_.File("define_name_han.dll"), CrLf({G("曾参"), G("伍员")}));
  WriteFile(dir_.File("define_name_py.dll"),
            CrLf({"zeng shen", "wu"}));  // 伍员 edited badly by hand
  const std::string source = dir_.File("in.txt");
  WriteFile(source, G("曾参\r\n伍员\r\n曾参\r\n"));
  ConversionOptions options;
  options.format = NameFormat::kSurnameGiven;
  ConvertFile(lists_, source, dir_.File("out.txt"), options);
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "zeng shen\r\nwu yuan\r\nzeng shen\r\n");
}

TEST_F(TaughtNamesTest,
       AChangeMadeWhileAConversionRunsAppliesFromTheNextCheckAndClearEmptiesTheList) {
  ConversionOptions options;
  options.format = NameFormat::kSurnameGiven;
  EXPECT_EQ(RomanizeName(lists_, G("曾参"), options), "zeng can");
  // Another program teaches the name: the next refresh sees it.
  {
    ListFiles other(dir_.Path());
    CustomDictionary(other, CustomDictionary::Kind::kWholeNames)
        .AddOrUpdate(G("曾参"), "zeng shen");
  }
  EXPECT_EQ(RomanizeName(lists_, G("曾参"), options), "zeng shen");
  names_.Clear();
  EXPECT_EQ(ReadFile(dir_.File("define_name_han.dll")), "")
      << "cleared: an empty list, not a missing one";
  EXPECT_EQ(RomanizeName(lists_, G("曾参"), options), "zeng can");
}

}  // namespace

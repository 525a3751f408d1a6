// Name romanization: cleaning, the surname test, the given-name pieces, the separators and the
// ten formats, with the installed mapping and compound surnames.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <random>

#include "BatchConversion.h"
#include "NameRomanizer.h"
#include "Settings.h"
#include "TestSupport.h"

using namespace quorvel;
using namespace quorvel::test;

class Romanize : public testing::Test {
 protected:
  void SetUp() override { CopyInstalledLists(dir_.Path()); }
  // The options as the main window's control indexes, through the one mapping from them.
  std::string R(const std::string& gbkLine, int format, int sep = 0, bool all = false,
                bool wade = false, int umlaut = 0) {
    return RomanizeName(lists_, gbkLine,
                        OptionsFromControlIndexes(all ? 1 : 0, sep, wade, format, umlaut));
  }
  std::string Ru(const char* utf8Line, int format, int sep = 0, bool all = false, bool wade = false,
                 int umlaut = 0) {
    return R(G(utf8Line), format, sep, all, wade, umlaut);
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
};

TEST_F(Romanize, TenFormatsTimesThreeSeparators) {
  const char* expected[10][3] = {
      {"de-hua liu", "de hua liu", "dehua liu"}, {"De-hua Liu", "De hua Liu", "Dehua Liu"},
      {"de-hua LIU", "de hua LIU", "dehua LIU"}, {"De-hua LIU", "De hua LIU", "Dehua LIU"},
      {"de-hualiu", "de hualiu", "dehualiu"},    {"liu de-hua", "liu de hua", "liu dehua"},
      {"Liu De-hua", "Liu De hua", "Liu Dehua"}, {"LIU de-hua", "LIU de hua", "LIU dehua"},
      {"LIU De-hua", "LIU De hua", "LIU Dehua"}, {"liude-hua", "liude hua", "liudehua"},
  };
  for (int format = 0; format < 10; ++format) {
    for (int sep = 0; sep < 3; ++sep) {
      SCOPED_TRACE(testing::Message() << "format " << format << " separator " << sep);
      EXPECT_EQ(Ru("刘德华", format, sep), expected[format][sep]);
      // The caption of a format is the name it spells.
      if (sep == 2) {
        EXPECT_EQ(Ru("刘德华", format, sep), kNameFormatCaptions[format]);
      }
    }
  }
  EXPECT_EQ(Ru("刘德华", 3, 7), "Dehua LIU") << "any other separator index: none";
  EXPECT_EQ(Ru("刘德华", -1), "") << "no format chosen";
}

TEST_F(Romanize, SurnamesComeOutRight) {
  struct Case {
    const char* name;
    bool wade;
    const char* out;
    const char* why;
  };
  const Case cases[] = {
      {"单田芳", false, "Shan Tian-fang", "单 as a surname is shan"},
      {"曾国藩", false, "Zeng Guo-fan", "曾 as a surname is zeng"},
      {"曾国藩", true, "Tseng Kuo-fan", "the surname reading converted to Wade-Giles"},
      {"区志坚", false, "Ou Zhi-jian", ""},
      {"解缙", false, "Xie Jin", ""},
      {"仇英", false, "Qiu Ying", ""},
      {"查良镛", false, "Zha Liang-yong", ""},
      {"朴槿惠", false, "Piao Jin-hui", ""},
      {"曾乐乐", false, "Zeng Le-le", "given names keep the row's first reading"},
      {"欧阳修", false, "Ouyang Xiu", "a compound surname of the installed dictionary"},
      {"歐陽修", false, "Ouyang Xiu", "traditional characters are keys of their own"},
      {"孟賁", false, "Meng Ben", "traditional 賁 reads first as its simplified form 贲 does"},
      {"孟贲", false, "Meng Ben", ""},
      {"欧阳修", true, "Ou-yang Hsiu", "the Wade-Giles dictionary"},
      {"单于", false, "Chanyu ", "a compound surname alone: empty given name"},
      {"张三丰", true, "Chang San-feng", ""},
      {"徐志摩", true, "Hsu Chih-mo", ""},
      {"蔡英文", true, "Tsai Ying-wen", ""},
      {"吕布", true, "Lu Pu", "lv is lu in Wade-Giles"},
      {"吕布", false, "Lv Bu", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.why);
    EXPECT_EQ(Ru(c.name, 6, 0, false, c.wade), c.out);
  }
  EXPECT_EQ(Ru("单", 5, 0, true), "shan/dan/chan ") << "a one-character line is a surname";
  EXPECT_EQ(Ru("单", 0, 0, true), " shan/dan/chan");
  EXPECT_EQ(Ru("单单", 5, 0, true), "shan/dan/chan dan/chan/shan")
      << "given names use the row order";
}

TEST_F(Romanize, CleaningCuttingAndOddInput) {
  const std::string liu = G("刘"), de = G("德"), hua = G("华");
  struct Case {
    std::string line;
    int format;
    std::string out;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"", 1, " ???", "an empty line: no surname, empty given name"},
      {"", 4, "???", ""},
      {" \t \t", 1, " ???", "spaces and tabs only"},
      {G("赵"), 0, " zhao", "one character: the joining space stays"},
      {G("赵"), 5, "zhao ", ""},
      {"  " + liu + " " + de + "  " + hua + "\t", 5, "liu de-hua",
       "ASCII spaces anywhere are removed"},
      {liu + G("　") + de + hua, 5, "liu ???-de-hua", "a full-width space is a piece of its own"},
      {G("刘德华刘德华刘德华"), 5, "liu de-hua-liu-de-hua-liu",
       "characters after the seventh are dropped"},
      {G("欧阳德华刘德华刘德"), 5, "ouyang de-hua-liu-de-hua",
       "two-character surname: five given characters"},
      {G("。德华"), 8, "??? De-hua", "a surname without a reading"},
      {liu + de + hua + "a", 5, "liu de-hua-a",
       "an ASCII letter is a piece of its own, as written"},
      {liu + de + "\x81", 5, "liu de-???", "an incomplete character at the end reads as missing"},
      {liu + "a" + de + hua, 5, "liu a-de-hua", "a one-byte character shifts nothing"},
      {"a" + liu + de, 5, "a liu-de", "nor as the first piece"},
      {liu + "\t" + de + hua, 5, "liu ???-de-hua", "an inner tab is a piece without a reading"},
      {G("王小明") + "\t" + G("备注"), 1, "Xiao-ming-???-bei-zhu Wang",
       "no character that is not there"},
      {liu + "\x81" + "1" + de, 5, "liu ???-1-de",
       "a lead byte before an ASCII digit is a character alone"},
      {G("阿阿德"), 8, "A/E A/e-de", "all readings: capitalise the first letter, upper-case all"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    bool all = c.out.find('/') != std::string::npos;
    EXPECT_EQ(R(c.line, c.format, 0, all), c.out);
  }
}

// The ü spellings (control index 0 v, 1 yu, 2 u, 3 ü) through the formats. The results are GBK; the
// expected texts are written in UTF-8 and converted.
TEST_F(Romanize, UmlautSpellingsThroughTheFormats) {
  struct Case {
    const char* name;
    int format, umlaut, sep;
    bool all, wade;
    const char* out;
    const char* why;
  };
  const Case cases[] = {
      {"吕小明", 1, 0, 0, false, false, "Xiao-ming Lv", "v: the default umlaut setting"},
      {"吕小明", 1, 1, 0, false, false, "Xiao-ming Lyu", "yu"},
      {"吕小明", 1, 2, 0, false, false, "Xiao-ming Lu", "u"},
      {"吕小明", 1, 3, 0, false, false, "Xiao-ming Lü", "ü"},
      {"吕", 5, 3, 0, false, false, "lü ", "one character"},
      {"吕", 7, 1, 0, false, false, "LYU ", "upper-cased yu"},
      {"女", 2, 3, 0, false, false, " Nü", "GBK has no capital Ü: upper-casing keeps ü small"},
      {"吕略", 6, 3, 0, false, false, "Lü Lüe", "lüe takes the dots too"},
      {"吕略", 6, 1, 0, false, false, "Lyu Lue", "lüe is lue in the passport spelling"},
      {"吕略", 9, 2, 2, false, false, "lulue", "joined, no dots"},
      {"聂女女", 6, 3, 1, false, false, "Nie Nü nü", "in the given name, space separator"},
      {"欧阳女", 6, 1, 0, false, false, "Ouyang Nyu", "after a compound surname"},
      {"欧阳女", 4, 3, 0, false, false, "nüouyang", "joined format, compound surname"},
      {"吕小明", 1, 1, 0, false, true, "Hsiao-ming Lu", "Wade-Giles keeps its own spelling"},
      {"吕小明", 1, 3, 0, false, true, "Hsiao-ming Lu", ""},
      {"张绿", 5, 2, 0, true, false, "zhang lu", "lv/lu spelled u: given once"},
      {"张绿", 5, 3, 0, true, false, "zhang lü/lu", "spelled ü: both stay"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " format " + std::to_string(c.format) + " spelling " +
                 std::to_string(c.umlaut) + ": " + c.why);
    EXPECT_EQ(U(Ru(c.name, c.format, c.sep, c.all, c.wade, c.umlaut)), c.out);
  }
}

TEST_F(Romanize, PassportFormat) {
  struct Case {
    const char* name;
    int umlaut, sep;
    bool all, wade;
    const char* out;
    const char* why;
  };
  const Case cases[] = {
      {"吕小明", 0, 0, false, false, "LYU XIAOMING", "always the yu spelling, given name joined"},
      {"吕小明", 3, 1, false, false, "LYU XIAOMING", "whatever spelling and separator are chosen"},
      {"欧阳修", 0, 0, false, false, "OUYANG XIU", "compound surname"},
      {"单田芳", 0, 0, false, false, "SHAN TIANFANG", "surname reading"},
      {"刘德华", 0, 1, false, false, kNameFormatCaptions[10], "the caption is the name it spells"},
      {"略女", 0, 0, false, false, "LUE NYU", "lüe is LUE, nü is NYU"},
      {"女", 0, 0, false, false, "NYU ", "one character: the space stays"},
      {"。德华", 0, 0, false, false, "??? DEHUA", "no reading"},
      {"阿阿德", 0, 0, true, false, "A/E A/EDE", "all readings"},
      {"曾国藩", 0, 0, false, true, "TSENG KUOFAN", "Wade-Giles, joined too"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.why);
    EXPECT_EQ(U(Ru(c.name, 10, c.sep, c.all, c.wade, c.umlaut)), c.out);
  }
  // A custom reading is upper-cased but otherwise kept.
  WriteFile(dir_.File("define_han.dll"), CrLf({G("吕")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"Lv"}));
  EXPECT_EQ(Ru("吕小明", 10), "LV XIAOMING");
}

TEST_F(Romanize, AllReadingsGiveEachConvertedReadingOnce) {
  EXPECT_EQ(Ru("曾国藩", 1, 0, true, true), "Kuo-fan Tseng");
  EXPECT_EQ(Ru("曾国藩", 6, 1, true, true), "Tseng Kuo fan");
  EXPECT_EQ(Ru("长", 5, 0, true, true), "chang ") << "chang and zhang are both chang";
  EXPECT_EQ(Ru("刘查", 5, 0, true, true), "liu cha") << "cha and zha are both cha";
  EXPECT_EQ(Ru("刘长", 5, 0, true, false), "liu chang/zhang") << "pinyin keeps both";
}

TEST_F(Romanize, CustomReadingsKeepTheirCase) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("字"), G("德")}));
  const std::string trailLikeLetters =
      "\x81\x61\x81\x7a";  // two characters whose trail bytes are 'a' and 'z'
  WriteFile(dir_.File("define_py.dll"), CrLf({"Zi", trailLikeLetters}));
  EXPECT_EQ(Ru("字华", 0), "hua Zi");
  EXPECT_EQ(Ru("字华", 2), "hua ZI");
  // A Chinese custom reading: upper-casing leaves its bytes alone (a trail byte may look like a
  // letter).
  EXPECT_EQ(Ru("德德", 7), trailLikeLetters + " " + trailLikeLetters);
  EXPECT_EQ(Ru("德德", 8), trailLikeLetters + " " + trailLikeLetters);
}

// A name whose parts a separating dot divides: no surname, each part one word, the words in
// written order; the format decides only the case.
TEST_F(Romanize, DotSeparatedNamesInEveryFormat) {
  const char* dots[] = {"·", "•", "・", "‧", "．", "･"};
  for (const char* dot : dots) {
    const std::string name = std::string("买买提") + dot + "艾力";
    for (int format = 0; format <= 10; ++format) {
      SCOPED_TRACE(name + " format " + std::to_string(format));
      const bool lower = format == 0 || format == 4 || format == 5 || format == 9;
      EXPECT_EQ(Ru(name.c_str(), format, 0), format == 10 ? "MAIMAITI AILI"
                                             : lower      ? "maimaiti aili"
                                                          : "Maimaiti Aili");
    }
  }
  EXPECT_EQ(R(G("买买提") + "\xA1\xA4" + G("艾力"), 1), "Maimaiti Aili")
      << "GBK's A1A4 in a GBK file";

  struct Case {
    const char* name;
    int format, sep;
    bool all;
    const char* out;
    const char* why;
  };
  const Case cases[] = {
      {"阿沛·阿旺晋美", 1, 0, false, "Apei Awangjinmei", "syllables joined whatever the separator"},
      {"阿沛·阿旺晋美", 6, 1, false, "Apei Awangjinmei", ""},
      {"阿沛·阿旺", 1, 0, true, "A/epei A/ewang", "all readings, as usual"},
      {"单·曾", 1, 0, false, "Dan Ceng", "no part is a surname: rows are read as they stand"},
      {"阿卜杜热合曼尼·买买提", 1, 0, false, "Abudurehemanni Maimaiti",
       "a dot past the seventh character"},
      {"克里斯托弗·哥伦布·约翰", 10, 0, false, "KELISITUOFU GELUNBU YUEHAN",
       "three parts, nothing cut"},
      {" 买买提 · 艾力 ", 1, 0, false, "Maimaiti Aili", "spaces around the dot are removed"},
      {"·艾力··买买提·", 1, 0, false, "Aili Maimaiti", "empty parts give no word"},
      {"·", 1, 0, false, "???", "a dot alone"},
      {"Anna·李", 0, 0, false, "Anna li", "Latin letters as written"},
      {"玛丽·🙂", 1, 0, false, "Mali ???", "a character without a reading"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.why);
    EXPECT_EQ(Ru(c.name, c.format, c.sep, c.all), c.out);
  }
  // The custom dictionary first, as everywhere.
  WriteFile(dir_.File("define_han.dll"), CrLf({G("买")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"mae"}));
  EXPECT_EQ(Ru("买买提·艾力", 1), "Maemaeti Aili");
  EXPECT_EQ(Ru("买买提·艾力", 10), "MAEMAETI AILI");
}

// Latin letters and digits are kept as written, a run of them one piece; formats shape them as
// they shape readings (they never lower-case).
TEST_F(Romanize, LatinLettersAndDigitsAreKeptAsWritten) {
  struct Case {
    const char* name;
    int format, sep;
    const char* out;
  };
  const Case cases[] = {
      {"李Anna", 1, 0, "Anna Li"},
      {"李Anna", 0, 0, "Anna li"},
      {"李anna", 1, 0, "Anna Li"},
      {"李Anna", 10, 0, "LI ANNA"},
      {"李A明", 1, 0, "A-ming Li"},
      {"王2号", 6, 1, "Wang 2 hao"},
      {"李 Anna Maria", 5, 0, "li AnnaMaria"},
      {"Anna李", 1, 0, "Li Anna"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " format " + std::to_string(c.format));
    EXPECT_EQ(Ru(c.name, c.format, c.sep), c.out);
  }
}

// The batch conversion's cached path gives, line for line, what RomanizeName gives: random lines
// of GBK and four-byte characters, dots, Latin runs, tabs, lone lead bytes, a full-width space,
// with custom keys of four bytes and compound surnames, in every format and reading mode.
TEST_F(Romanize, TheBatchPathGivesWhatRomanizeNameGives) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("𠇔"), G("欧阳"), G("䶮刘"), "bc"}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"zu", "ouyang", "yanliu", "Bee"}));
  const std::vector<std::string> pool = {
      G("刘"), G("德"), G("单"), G("曾"), G("䶮"), G("𠀀"), G("𪚥"), G("𠇔"), G("欧"), G("阳"),
      G("·"),  G("•"),  "A",     "bc",    "1",     "\t",    "\x81",  G("　"), " "};
  std::mt19937 rng(5);
  std::string text;
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    for (int k = rng() % 10; k > 0; --k) line += pool[rng() % pool.size()];
    lines.push_back(line);
    text += line + "\r\n";
  }
  const std::string target = dir_.File("out.txt");
  for (int format = -1; format <= 10; ++format) {
    for (int mode = 0; mode < 4; ++mode) {
      SCOPED_TRACE(testing::Message() << "format " << format << " mode " << mode);
      const ConversionOptions options =
          OptionsFromControlIndexes(mode & 1, mode / 2, mode == 3, format, 0);
      std::string expected;
      for (const auto& line : lines) expected += RomanizeName(lists_, line, options) + "\r\n";
      const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ASSERT_GE(fd, 0);
      const BatchReport report = ConvertBytes(lists_, text, fd, target, options);
      ::close(fd);
      ASSERT_EQ(report.encoding, SourceEncoding::kGb18030);
      EXPECT_EQ(FirstDifferentLine(ReadFile(target), expected), "");
    }
  }
}

TEST(RemoveSpaces, RemovesOnlyAsciiSpaces) {
  EXPECT_EQ(RemoveSpaces(" a b\tc " + G("　") + " "), "ab\tc" + G("　"));
  EXPECT_EQ(RemoveSpaces(""), "");
}

// The settings-file formats: config.db (interface language) and config1.dll (conversion choices).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "Errors.h"
#include "FaultSeams.h"
#include "FolderLock.h"
#include "Settings.h"
#include "TestSupport.h"

namespace {

using quorvel::ControlIndexes;
using quorvel::ConversionOptions;

// Options as the window's controls show them.
ConversionOptions FromIndexes(const ControlIndexes& i) {
  return quorvel::OptionsFromControlIndexes(i.polyphone, i.separator, i.wadeGiles, i.format,
                                            i.umlaut);
}

class SettingsFiles : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir_.File(name); }
  void Write(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir_.Path().c_str());
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      // The folder's lock file stays once a write made it; it holds nothing.
      if (name != "." && name != ".." && name != quorvel::kLockFileName) names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  quorvel::test::TempDir dir_;
};

TEST(SettingsInteger, AcceptsBlanksSignsDecimalAndTheFiveHexPrefixes) {
  struct Row {
    const char* text;
    int value;
    const char* why;
  } rows[] = {
      {"0", 0, "one digit"},
      {"9", 9, "the largest format index"},
      {"   7", 7, "leading blanks are skipped"},
      {"\t3", 3, "a leading tab counts as a blank"},
      {"+2", 2, "plus sign"},
      {"-1", -1, "minus sign"},
      {"007", 7, "leading zeros"},
      {"$1F", 31, "Pascal hex prefix"},
      {"x1f", 31, "lower-case x prefix, lower-case digits"},
      {"X1F", 31, "upper-case X prefix"},
      {"0x10", 16, "C prefix"},
      {"0X10", 16, "C prefix, upper case"},
      {"-$A", -10, "sign before a hex prefix"},
      {" +0x1", 1, "blanks, sign and prefix together"},
      {"2147483647", 2147483647, "largest 32-bit value"},
      {"-2147483648", -2147483647 - 1, "smallest 32-bit value"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(quorvel::ParseSettingsInteger(row.text), row.value) << row.text;
  }
}

TEST(SettingsInteger, RejectsEverythingElseWithTheLineInTheMessage) {
  struct Row {
    const char* text;
    const char* why;
  } rows[] = {
      {"", "an empty line"},
      {"   ", "blanks only"},
      {"1 ", "a trailing blank"},
      {"1\t", "a trailing tab"},
      {"1a", "a letter after the digits"},
      {"a", "a letter"},
      {"+", "a sign without digits"},
      {"--1", "two signs"},
      {"$", "a hex prefix without digits"},
      {"0x", "a C prefix without digits"},
      {"0x 1", "a blank after the prefix"},
      {"0xg", "no hex digit"},
      {"1.0", "a decimal point"},
      {"2147483648", "past the 32-bit range"},
      {"$100000000", "hex past the 32-bit range"},
      {"true", "a word"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    try {
      quorvel::ParseSettingsInteger(row.text);
      ADD_FAILURE() << "accepted \"" << row.text << "\"";
    } catch (const quorvel::NumberFormatError& error) {
      EXPECT_EQ(error.what(), "'" + std::string(row.text) + "' is not a valid integer value");
    }
  }
}

TEST(SettingsLines, EndAtLineFeedAndNeverKeepACarriageReturn) {
  struct Row {
    std::string text;
    std::vector<std::string> lines;
    const char* why;
  } rows[] = {
      {"a\r\nb\r\n", {"a", "b", "", ""}, "CR LF, padded with empty lines"},
      {"a\nb", {"a", "b", "", ""}, "LF only, last line without a break"},
      {"a\rb\nc", {"ab", "c", "", ""}, "a lone CR is dropped, not a line end"},
      {"\r\n\r\n1", {"", "", "1", ""}, "empty lines stay lines"},
      {"1\n2\n3\n4\n5\n", {"1", "2", "3", "4"}, "lines past the fourth are not read"},
      {"", {"", "", "", ""}, "an empty file reads as empty lines"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(quorvel::SettingsLines(row.text, 4), row.lines);
  }
}

TEST(ControlIndexes, MapToOptionsInOnePlaceAndBack) {
  using quorvel::NameFormat;
  using quorvel::Readings;
  using quorvel::Romanization;
  using quorvel::Separator;
  struct Row {
    ControlIndexes indexes;
    ConversionOptions options;
    ControlIndexes back;
    const char* why;
  } rows[] = {
      {{0, 0, false, 1}, {}, {0, 0, false, 1}, "the initial choices are the default options"},
      {{1, 1, true, 0},
       {Readings::kAll, Separator::kSpace, Romanization::kWadeGiles, NameFormat::kGivenSurname},
       {1, 1, true, 0},
       "every control changed"},
      {{0, 2, false, 9},
       {Readings::kFirst, Separator::kNone, Romanization::kPinyin, NameFormat::kSurnameGivenJoined},
       {0, 2, false, 9},
       "the last items"},
      {{5, 7, false, 5},
       {Readings::kAll, Separator::kNone, Romanization::kPinyin, NameFormat::kSurnameGiven},
       {1, 2, false, 5},
       "any other polyphone index is all readings, any other separator none"},
      {{0, 0, false, -1},
       {Readings::kFirst, Separator::kHyphen, Romanization::kPinyin, NameFormat::kNone},
       {0, 0, false, -1},
       "no format chosen"},
      {{0, 0, false, 10},
       {Readings::kFirst, Separator::kHyphen, Romanization::kPinyin, NameFormat::kPassport},
       {0, 0, false, 10},
       "the eleventh format is the passport format"},
      {{0, 0, false, 11},
       {Readings::kFirst, Separator::kHyphen, Romanization::kPinyin, NameFormat::kNone},
       {0, 0, false, -1},
       "a format past the last is none"},
      {{0, 0, false, 1, 3},
       {Readings::kFirst, Separator::kHyphen, Romanization::kPinyin,
        NameFormat::kGivenSurnameCapitalised, quorvel::UmlautSpelling::kUmlaut},
       {0, 0, false, 1, 3},
       "the last ü spelling"},
      {{0, 0, false, 1, 4}, {}, {0, 0, false, 1, 0}, "a spelling past the last is v"},
      {{0, 0, false, 1, -1}, {}, {0, 0, false, 1, 0}, "a negative spelling is v"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const ConversionOptions options = FromIndexes(row.indexes);
    EXPECT_TRUE(options == row.options);
    const ControlIndexes back = quorvel::ControlIndexesOf(options);
    EXPECT_EQ(back.polyphone, row.back.polyphone);
    EXPECT_EQ(back.separator, row.back.separator);
    EXPECT_EQ(back.wadeGiles, row.back.wadeGiles);
    EXPECT_EQ(back.format, row.back.format);
    EXPECT_EQ(back.umlaut, row.back.umlaut);
  }
}

TEST_F(SettingsFiles, NoFormatChosenIsStoredAsMinusOneAndLeavesTheFormatWhenRead) {
  const std::string path = Path(quorvel::kSettingsFileName);
  quorvel::WriteConversionSettings(path, FromIndexes({1, 0, true, -1}));
  EXPECT_EQ(Read(path), "1\r\n0\r\n1\r\n-1\r\n0\r\n");
  ConversionOptions options;
  ASSERT_TRUE(quorvel::ReadConversionSettings(path, options));
  EXPECT_EQ(FormatConversionSettings(options), "1\r\n0\r\n1\r\n1\r\n0\r\n");
}

TEST_F(SettingsFiles, LanguageIsEnglishOnlyForAnExactEnOnTheFirstLine) {
  struct Row {
    std::optional<std::string> content;
    quorvel::UiLanguage language;
    const char* why;
  } rows[] = {
      {std::nullopt, quorvel::UiLanguage::kChinese, "no file"},
      {"en", quorvel::UiLanguage::kEnglish, "en without a line end"},
      {"en\r\n", quorvel::UiLanguage::kEnglish, "as written"},
      {"en\n", quorvel::UiLanguage::kEnglish, "LF only"},
      {"en\r", quorvel::UiLanguage::kEnglish, "a CR is never part of the line"},
      {"ch\r\n", quorvel::UiLanguage::kChinese, "as written for Chinese"},
      {"EN\r\n", quorvel::UiLanguage::kChinese, "case counts"},
      {"en \r\n", quorvel::UiLanguage::kChinese, "a trailing blank counts"},
      {" en\r\n", quorvel::UiLanguage::kChinese, "a leading blank counts"},
      {"ch\r\nen\r\n", quorvel::UiLanguage::kChinese, "only the first line counts"},
      {"", quorvel::UiLanguage::kChinese, "an empty file"},
  };
  const std::string path = Path(quorvel::kLanguageFileName);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ::unlink(path.c_str());
    if (row.content) Write(path, *row.content);
    EXPECT_EQ(quorvel::ReadUiLanguage(path), row.language);
  }
}

TEST_F(SettingsFiles, LanguageFileHoldsFourBytesAndAFolderInItsPlaceIsNoFile) {
  const std::string path = Path(quorvel::kLanguageFileName);
  quorvel::WriteUiLanguage(path, quorvel::UiLanguage::kEnglish);
  EXPECT_EQ(Read(path), "en\r\n");
  quorvel::WriteUiLanguage(path, quorvel::UiLanguage::kChinese);
  EXPECT_EQ(Read(path), "ch\r\n");

  ::unlink(path.c_str());
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  EXPECT_EQ(quorvel::ReadUiLanguage(path), quorvel::UiLanguage::kChinese);
  try {
    quorvel::WriteUiLanguage(path, quorvel::UiLanguage::kChinese);
    ADD_FAILURE() << "wrote over a folder";
  } catch (const quorvel::InOutError& error) {
    EXPECT_EQ(std::string(error.what()), "File access denied (Is a directory): \"" + path + "\"");
  }
  EXPECT_EQ(Entries(), std::vector<std::string>{"config.db"})
      << "no temporary file may stay behind";
}

TEST_F(SettingsFiles, ConversionSettingsAreFiveLinesAndReadBack) {
  const std::string path = Path(quorvel::kSettingsFileName);
  quorvel::WriteConversionSettings(path, ConversionOptions{});
  EXPECT_EQ(Read(path), std::string("0\r\n0\r\n0\r\n1\r\n0\r\n"));

  for (const ControlIndexes& indexes :
       {ControlIndexes{1, 2, true, 9, 0}, ControlIndexes{0, 1, false, 10, 2},
        ControlIndexes{1, 0, true, 5, 3}}) {
    const ConversionOptions chosen = FromIndexes(indexes);
    quorvel::WriteConversionSettings(path, chosen);
    SCOPED_TRACE(Read(path));
    ConversionOptions back;
    ASSERT_TRUE(quorvel::ReadConversionSettings(path, back));
    EXPECT_TRUE(back == chosen);
  }
  EXPECT_EQ(Read(path), "1\r\n0\r\n1\r\n5\r\n3\r\n");
}

// Files written before the fifth line existed keep working, and a reader that knows only four lines
// (lines after the fourth were always ignored) still finds its four settings in a new file.
TEST_F(SettingsFiles, FourLineFilesMeanTheSpellingVAndFiveLineFilesStillReadAsFour) {
  const std::string path = Path(quorvel::kSettingsFileName);
  Write(path, "1\r\n2\r\n1\r\n9\r\n");
  ConversionOptions options = FromIndexes({0, 0, false, 1, 1});
  ASSERT_TRUE(quorvel::ReadConversionSettings(path, options));
  EXPECT_TRUE(options == FromIndexes({1, 2, true, 9, 0})) << "a missing fifth line means v";

  quorvel::WriteConversionSettings(path, FromIndexes({1, 1, true, 6, 1}));
  const std::vector<std::string> firstFour = quorvel::SettingsLines(Read(path), 4);
  EXPECT_EQ(firstFour, (std::vector<std::string>{"1", "1", "1", "6"}));
  for (const std::string& line : firstFour) EXPECT_NO_THROW(quorvel::ParseSettingsInteger(line));
}

// Each line stands alone: a bad line leaves only its own setting as it was, and the first bad
// line is reported once every other line is applied.
TEST_F(SettingsFiles, EachLineStandsAloneAndTheFirstBadNumberIsReported) {
  struct Row {
    std::string content;
    ControlIndexes expected;  // starting from the initial choices 0, 0, unticked, 1
    std::optional<std::string> error;
    const char* why;
  } rows[] = {
      {"1\r\n2\r\n1\r\n9\r\n", {1, 2, true, 9}, std::nullopt, "all four restored"},
      {"1\r\n2\r\n1\r\n10\r\n1\r\n",
       {1, 2, true, 10, 1},
       std::nullopt,
       "passport format, spelling yu"},
      {"0\r\n0\r\n0\r\n1\r\n3\r\n", {0, 0, false, 1, 3}, std::nullopt, "the spelling ü"},
      {"0\r\n0\r\n0\r\n1\r\n4\r\n",
       {0, 0, false, 1, 0},
       std::nullopt,
       "a spelling out of range is v"},
      {"0\r\n0\r\n0\r\n1\r\n\r\n", {0, 0, false, 1, 0}, std::nullopt, "an empty fifth line is v"},
      {"0\r\n1\r\n0\r\n3\r\nyu\r\n",
       {0, 1, false, 3, 0},
       "'yu'",
       "the fifth line is an index like the others; the first four are restored"},
      {"1\n2\n1\n9\n", {1, 2, true, 9}, std::nullopt, "LF-only lines read the same"},
      {"1\r\n1\r\n0\r\n5\r\n", {1, 1, false, 5}, std::nullopt, "Wade-Giles 0"},
      {"0\r\n0\r\ntrue\r\n0\r\n", {0, 0, false, 0}, std::nullopt, "Wade-Giles only for exactly 1"},
      {"0\r\n0\r\n1 \r\n0\r\n", {0, 0, false, 0}, std::nullopt, "\"1 \" is not exactly 1"},
      {"0\r\n1\r\n1\r\n7\r\n2\r\nrubbish\r\n",
       {0, 1, true, 7, 2},
       std::nullopt,
       "lines after the fifth are ignored"},
      {" $1\r\n+0x2\r\n1\r\n x9\r\n", {1, 2, true, 9}, std::nullopt, "blanks, signs and hex"},
      {"1\r\n2\r\n1\r\n", {1, 2, true, 1}, "''", "three lines: the fourth reads empty"},
      {"1\r\nabc\r\n1\r\n9\r\n3\r\n",
       {1, 0, true, 9, 3},
       "'abc'",
       "a bad line 2: every other line restored"},
      {"x\r\n2\r\n1\r\n9\r\n", {0, 2, true, 9}, "'x'", "a bad line 1: the later lines restored"},
      {"x\r\ny\r\n1\r\n9\r\n", {0, 0, true, 9}, "'x'", "the first bad line is the one reported"},
      {"1\r\n2\r\n1\r\n9 \r\n3\r\n", {1, 2, true, 1, 3}, "'9 '", "a trailing blank is no number"},
      {"", {0, 0, false, 1}, "''", "an empty file"},
  };
  const std::string path = Path(quorvel::kSettingsFileName);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Write(path, row.content);
    ConversionOptions options;
    try {
      EXPECT_TRUE(quorvel::ReadConversionSettings(path, options));
      EXPECT_FALSE(row.error) << "expected an error";
    } catch (const quorvel::NumberFormatError& error) {
      ASSERT_TRUE(row.error) << error.what();
      EXPECT_EQ(error.what(), *row.error + " is not a valid integer value");
    }
    EXPECT_EQ(FormatConversionSettings(options),
              FormatConversionSettings(FromIndexes(row.expected)));
  }
}

TEST_F(SettingsFiles, OutOfRangeValuesLeaveTheirSettingAndTheNextSaveReadsBackCleanly) {
  const std::string path = Path(quorvel::kSettingsFileName);
  Write(path, "2\r\n3\r\n1\r\n11\r\n");
  ConversionOptions options;
  ASSERT_TRUE(quorvel::ReadConversionSettings(path, options));
  EXPECT_EQ(FormatConversionSettings(options), "0\r\n0\r\n1\r\n1\r\n0\r\n");

  Write(path, "-1\r\n-1\r\n1\r\n-1\r\n");
  options = FromIndexes({1, 2, false, 9});
  ASSERT_TRUE(quorvel::ReadConversionSettings(path, options));
  EXPECT_EQ(FormatConversionSettings(options), "1\r\n2\r\n1\r\n9\r\n0\r\n")
      << "negative values change nothing";

  quorvel::WriteConversionSettings(path, options);
  ConversionOptions back;
  ASSERT_TRUE(quorvel::ReadConversionSettings(path, back));
  EXPECT_EQ(FormatConversionSettings(back), FormatConversionSettings(options));
}

TEST_F(SettingsFiles, MissingFileOrFolderChangesNothingAndAFailedWriteKeepsTheOldFile) {
  const std::string path = Path(quorvel::kSettingsFileName);
  ConversionOptions options = FromIndexes({1, 1, true, 3});
  EXPECT_FALSE(quorvel::ReadConversionSettings(path, options));
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  EXPECT_FALSE(quorvel::ReadConversionSettings(path, options));
  EXPECT_EQ(FormatConversionSettings(options), "1\r\n1\r\n1\r\n3\r\n0\r\n");
  EXPECT_THROW(quorvel::WriteConversionSettings(path, options), quorvel::InOutError);
  ::rmdir(path.c_str());

  Write(path, "1\r\n2\r\n1\r\n9\r\n");
  quorvel::PlantReplaceFailure(1, ENOSPC);
  try {
    quorvel::WriteConversionSettings(path, ConversionOptions{});
    ADD_FAILURE() << "the write did not fail";
  } catch (const quorvel::InOutError& error) {
    EXPECT_EQ(std::string(error.what()), "Disk full: \"" + path + "\"");
  }
  quorvel::PlantReplaceFailure(0, 0);
  EXPECT_EQ(Read(path), "1\r\n2\r\n1\r\n9\r\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"config1.dll"});
}

TEST_F(SettingsFiles, WritesNeverFollowAPlantedLinkAndClearDeadWritersTemporaries) {
  Write(Path("victim"), "precious");
  // The temporary names earlier versions used (file + ".tmp-" + pid), planted for the next pids,
  // and what a killed writer of each file left.
  for (const char* name : {quorvel::kSettingsFileName, quorvel::kLanguageFileName}) {
    for (int next = 1; next <= 3; ++next)
      ASSERT_EQ(::symlink(Path("victim").c_str(),
                          (Path(name) + ".tmp-" + std::to_string(::getpid() + next)).c_str()),
                0);
    Write(Path(name) + ".tmp-Qx81zzT0aa1b", "dead writer's");
  }
  Write(Path("define_han.dll.tmp-5"), "not a settings file's");
  Write(Path("config1.dll.old-mysettings"), "the user's own copy");
  quorvel::WriteConversionSettings(Path(quorvel::kSettingsFileName), FromIndexes({1, 2, true, 9}));
  quorvel::WriteUiLanguage(Path(quorvel::kLanguageFileName), quorvel::UiLanguage::kEnglish);
  EXPECT_EQ(Read(Path("victim")), "precious");
  EXPECT_EQ(Read(Path(quorvel::kSettingsFileName)), "1\r\n2\r\n1\r\n9\r\n0\r\n");
  EXPECT_EQ(Read(Path(quorvel::kLanguageFileName)), "en\r\n");
  EXPECT_EQ(Entries(),
            (std::vector<std::string>{"config.db", "config1.dll", "config1.dll.old-mysettings",
                                      "define_han.dll.tmp-5", "victim"}));
}

// A symbolic link at a settings file (a user keeping the settings elsewhere) is written through:
// the link stays and its file gets the new content, with its permissions.
TEST_F(SettingsFiles, LinksAtTheSettingsFilesAreWrittenThrough) {
  std::filesystem::create_directory(Path("kept"));
  Write(Path("kept/settings"), "0\r\n0\r\n0\r\n1\r\n0\r\n");
  ASSERT_EQ(::chmod(Path("kept/settings").c_str(), 0600), 0);
  std::filesystem::create_symlink("kept/settings", Path(quorvel::kSettingsFileName));
  std::filesystem::create_symlink(Path("kept/language"),
                                  Path(quorvel::kLanguageFileName));  // points nowhere yet
  quorvel::WriteConversionSettings(Path(quorvel::kSettingsFileName), FromIndexes({1, 2, true, 9}));
  quorvel::WriteUiLanguage(Path(quorvel::kLanguageFileName), quorvel::UiLanguage::kEnglish);
  EXPECT_TRUE(std::filesystem::is_symlink(Path(quorvel::kSettingsFileName)));
  EXPECT_TRUE(std::filesystem::is_symlink(Path(quorvel::kLanguageFileName)));
  EXPECT_EQ(Read(Path("kept/settings")), "1\r\n2\r\n1\r\n9\r\n0\r\n");
  EXPECT_EQ(Read(Path("kept/language")), "en\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(Path("kept/settings").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsFiles, AnUnreadableFileIsAnInputOutputError) {
  if (::geteuid() == 0) GTEST_SKIP() << "file modes do not stop root";
  const std::string path = Path(quorvel::kSettingsFileName);
  Write(path, "1\r\n2\r\n1\r\n9\r\n");
  ::chmod(path.c_str(), 0);
  ConversionOptions options;
  try {
    quorvel::ReadConversionSettings(path, options);
    ADD_FAILURE() << "read an unreadable file";
  } catch (const quorvel::InOutError& error) {
    EXPECT_STREQ(error.what(), "File access denied");
  }
  EXPECT_EQ(FormatConversionSettings(options), "0\r\n0\r\n0\r\n1\r\n");
}

}  // namespace

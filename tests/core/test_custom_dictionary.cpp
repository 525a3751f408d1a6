// Editing a custom dictionary pair: what lands in the two files, what the lists show afterwards,
// and that a failed write or clear never costs the user the dictionary they had.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <filesystem>
#include <set>

#include "CustomDictionary.h"
#include "Errors.h"
#include "FaultSeams.h"
#include "NameRomanizer.h"
#include "Paths.h"
#include "TestSupport.h"

namespace quorvel {
namespace {

using test::CrLf;
using test::G;
using test::ReadFile;
using test::ReadingNow;
using test::TempDir;
using test::WriteFile;

using test::FolderContents;  // without the lock file (LockFileIsTheOnlyFileBesideThePair checks it)

class CustomDictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override { lists_.Load(); }
  void TearDown() override { PlantReplaceFailure(0, 0); }

  // Writes a pair as another program would and loads it.
  void Seed(const std::vector<std::string>& keys, const std::vector<std::string>& readings) {
    WriteFile(dict_.KeyPath(), CrLf(keys));
    WriteFile(dict_.ReadingPath(), CrLf(readings));
    lists_.Load();
  }
  std::string Keys() { return ReadFile(dict_.KeyPath()); }
  std::string Readings() { return ReadFile(dict_.ReadingPath()); }

  TempDir dir_;
  ListFiles lists_{dir_.Path()};
  CustomDictionary dict_{lists_, CustomDictionary::Kind::kStandard};
};

TEST_F(CustomDictionaryTest, AddingToAnEmptyDictionaryCreatesBothFilesWithOneCrLfLine) {
  ASSERT_FALSE(PathExists(dict_.KeyPath()));
  EXPECT_EQ(dict_.AddOrUpdate(G("字"), "Zi"), 0u);
  EXPECT_EQ(Keys(), G("字") + "\r\n");
  EXPECT_EQ(Readings(), "Zi\r\n");
  // The lists were reloaded: the entry is there without any further step.
  EXPECT_EQ(dict_.Entries(), (std::vector<DictionaryEntry>{{G("字"), "Zi"}}));
  EXPECT_EQ(dict_.Lines(), std::vector<std::string>{G("字") + " Zi"});
  // The other dictionary's files are not touched.
  EXPECT_EQ(FolderContents(dir_.Path()),
            (std::set<std::string>{"define_han.dll", "define_py.dll"}));
}

TEST_F(CustomDictionaryTest, WadeGilesDictionaryUsesItsOwnPair) {
  CustomDictionary wei(lists_, CustomDictionary::Kind::kWadeGiles);
  wei.AddOrUpdate(G("张"), "Cheung");
  EXPECT_EQ(ReadFile(dir_.File("define_wei_han.dll")), G("张") + "\r\n");
  EXPECT_EQ(ReadFile(dir_.File("define_wei_py.dll")), "Cheung\r\n");
  EXPECT_FALSE(PathExists(dict_.KeyPath()));
  EXPECT_TRUE(dict_.Entries().empty());
}

TEST_F(CustomDictionaryTest, AnExistingKeyIsUpdatedInPlaceAndANewKeyIsAppended) {
  Seed({G("张"), G("李"), G("王")}, {"zhang", "li", "wang"});

  EXPECT_EQ(dict_.AddOrUpdate(G("李"), "Lee"), 1u);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee", "wang"}));

  // Changing the key of a selected entry and adding leaves the old entry as it was.
  EXPECT_EQ(dict_.AddOrUpdate(G("黎"), "Lai"), 3u);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王"), G("黎")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee", "wang", "Lai"}));
}

TEST_F(CustomDictionaryTest, KeysAndReadingsAreStoredTrimmedOfControlBytesOnly) {
  struct Case {
    const char* why;
    std::string key, reading;
    std::string storedKey, storedReading;
  };
  const Case cases[] = {
      {"spaces around both", "  " + G("字") + " ", " Zi  ", G("字"), "Zi"},
      {"tabs, CR and other control bytes at the ends", "\t\x01" + G("字") + "\x1F", "\r zi\t",
       G("字"), "zi"},
      {"inner spaces stay", G("欧阳"), " ou yang ", G("欧阳"), "ou yang"},
      {"the full-width space is a character, not a space", G("　字　"), "Zi", G("　字　"), "Zi"},
      {"an empty reading is stored as an empty line", G("字"), "   ", G("字"), ""},
      {"case is kept, a key of ASCII letters is accepted", " ab ", "ZI", "ab", "ZI"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    dict_.Clear();
    EXPECT_EQ(dict_.AddOrUpdate(c.key, c.reading), 0u);
    EXPECT_EQ(Keys(), c.storedKey + "\r\n");
    EXPECT_EQ(Readings(), c.storedReading + "\r\n");
    EXPECT_EQ(dict_.Lines(), std::vector<std::string>{c.storedKey + " " + c.storedReading});
    // The same key typed with other spaces updates the entry instead of adding one.
    EXPECT_EQ(dict_.AddOrUpdate(" " + c.key + " ", "x"), 0u);
    EXPECT_EQ(dict_.Entries().size(), 1u);
  }
}

TEST_F(CustomDictionaryTest,
       TwoEntriesOfOneKeyAreBothUpdatedAndTheLaterIsSelectedButFindGivesTheEarlier) {
  Seed({G("单"), G("李"), G("单")}, {"dan", "li", "chan"});
  EXPECT_EQ(*dict_.Find(G("单")), 0u);
  EXPECT_EQ(dict_.AddOrUpdate(G("单"), "shan"), 2u);
  EXPECT_EQ(Readings(), CrLf({"shan", "li", "shan"}));
  EXPECT_EQ(Keys(), CrLf({G("单"), G("李"), G("单")}));
  EXPECT_EQ(*dict_.Find(G("单")), 0u);
}

TEST_F(CustomDictionaryTest, FindComparesTheTrimmedKeyByteForByte) {
  Seed({G("李"), "Li", "", G("欧阳")}, {"li", "x", "empty", "ouyang"});
  struct Case {
    const char* why;
    std::string key;
    std::optional<size_t> found;
  };
  const Case cases[] = {
      {"exact", G("李"), 0},
      {"spaces around are trimmed", "  " + G("欧阳") + "\t", 3},
      {"case counts", "li", std::nullopt},
      {"a prefix is no match", G("欧"), std::nullopt},
      {"an empty field finds the empty key", "   ", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(dict_.Find(c.key), c.found);
  }
}

TEST_F(CustomDictionaryTest, DeletingTheOnlyEntryOrClearingLeavesTwoEmptyFiles) {
  dict_.AddOrUpdate(G("字"), "Zi");
  dict_.DeleteAt(0);
  EXPECT_EQ(Keys(), "");
  EXPECT_EQ(Readings(), "");
  EXPECT_TRUE(dict_.Entries().empty());

  Seed({G("张"), G("李"), G("王")}, {"zhang", "li", "wang"});
  dict_.DeleteAt(1);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "wang"}));
  EXPECT_THROW(dict_.DeleteAt(2), ListIndexError);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("王")}));

  dict_.Clear();
  EXPECT_EQ(Keys(), "") << "an empty pair, not a missing one";
  EXPECT_EQ(Readings(), "");
  EXPECT_TRUE(dict_.Entries().empty());
  std::filesystem::remove(dict_.KeyPath());
  std::filesystem::remove(dict_.ReadingPath());
  dict_.Clear();  // nothing there: an empty pair all the same
  EXPECT_EQ(Keys(), "");

  EXPECT_EQ(dict_.AddOrUpdate(G("字"), "Zi"), 0u);
  EXPECT_EQ(Keys(), G("字") + "\r\n");
  EXPECT_EQ(Readings(), "Zi\r\n");
}

TEST_F(CustomDictionaryTest, AClearThatCannotWriteTheKeyFileSaysSoAndKeepsTheReadings) {
  Seed({G("张")}, {"zhang"});
  // A folder standing at the key file's place cannot be unlinked.
  std::filesystem::remove(dict_.KeyPath());
  std::filesystem::create_directory(dict_.KeyPath());
  WriteFile(dict_.KeyPath() + "/x", "x");
  try {
    dict_.Clear();
    FAIL() << "clear reported success";
  } catch (const InOutError& e) {
    EXPECT_EQ(e.Code(), kAccessDenied);
  }
  // The reading file must not go while its keys stay: every reading would turn empty.
  EXPECT_EQ(Readings(), "zhang\r\n");
}

TEST_F(CustomDictionaryTest, AShortReadingFileShowsEmptyReadingsAndTheNextWriteMakesThePairWhole) {
  Seed({G("张"), G("李"), G("王")}, {"zhang"});
  EXPECT_EQ(dict_.Entries(),
            (std::vector<DictionaryEntry>{{G("张"), "zhang"}, {G("李"), ""}, {G("王"), ""}}));
  EXPECT_EQ(dict_.Lines()[2], G("王") + " ");
  EXPECT_EQ(*dict_.Find(G("王")), 2u);

  EXPECT_EQ(dict_.AddOrUpdate(G("王"), "wong"), 2u);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "", "wong"}));

  // Deleting from a short pair also writes it whole.
  Seed({G("张"), G("李"), G("王")}, {"zhang"});
  dict_.DeleteAt(0);
  EXPECT_EQ(Keys(), CrLf({G("李"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"", ""}));

  // A reading file with lines beyond its keys loses them at the next write.
  Seed({G("张")}, {"zhang", "stray"});
  EXPECT_EQ(dict_.Entries().size(), 1u);
  dict_.AddOrUpdate(G("李"), "li");
  EXPECT_EQ(Readings(), CrLf({"zhang", "li"}));
}

TEST_F(CustomDictionaryTest, AFailedWriteLeavesTheOldPairAndTheListsWholeWithNoTemporaryFile) {
  struct Case {
    const char* why;
    int step;
    int error;
    std::string message;
  };
  const Case cases[] = {
      {"disk full creating the first temporary", 1, ENOSPC,
       "Disk full: \"" + dict_.KeyPath() + "\""},
      {"disk full writing the second temporary", 2, ENOSPC,
       "Disk full: \"" + dict_.ReadingPath() + "\""},
      {"read-only folder when the second rename is due", 3, EROFS,
       "File access denied (Read-only file system): \"" + dict_.ReadingPath() + "\""},
  };
  Seed({G("张"), G("李")}, {"zhang", "li"});
  const std::string keys = Keys(), readings = Readings();
  const auto entries = dict_.Entries();
  const auto before = FolderContents(dir_.Path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    for (auto action : {0, 1, 2}) {
      PlantReplaceFailure(c.step, c.error);
      try {
        if (action == 0) dict_.AddOrUpdate(G("李"), "Lee");   // update
        if (action == 1) dict_.AddOrUpdate(G("王"), "wang");  // append
        if (action == 2) dict_.DeleteAt(0);
        ADD_FAILURE() << "action " << action << " reported success";
      } catch (const InOutError& e) {
        EXPECT_EQ(e.what(), std::string(c.message));
      }
      PlantReplaceFailure(0, 0);
      EXPECT_EQ(Keys(), keys);
      EXPECT_EQ(Readings(), readings);
      EXPECT_EQ(FolderContents(dir_.Path()), before);
      EXPECT_EQ(dict_.Entries(), entries);
    }
  }
  // Nothing was left half done: the next write works.
  EXPECT_EQ(dict_.AddOrUpdate(G("李"), "Lee"), 1u);
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee"}));
}

TEST_F(CustomDictionaryTest, APairThatCannotBeReadIsNeverOverwrittenFromStaleLists) {
  // The lists were loaded while the folder was empty; since then the key file got an entry and a
  // folder stands where the reading file should be. Writing from the old lists would drop 张.
  WriteFile(dict_.KeyPath(), CrLf({G("张")}));
  std::filesystem::create_directory(dict_.ReadingPath());
  EXPECT_THROW(dict_.AddOrUpdate(G("李"), "li"), FileOpenError);
  EXPECT_THROW(dict_.DeleteAt(0), FileOpenError);
  EXPECT_EQ(Keys(), CrLf({G("张")}));
  EXPECT_EQ(FolderContents(dir_.Path()),
            (std::set<std::string>{"define_han.dll", "define_py.dll"}));

  std::filesystem::remove(dict_.ReadingPath());
  EXPECT_EQ(dict_.AddOrUpdate(G("李"), "li"), 1u);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李")}));
  EXPECT_EQ(Readings(), CrLf({"", "li"}));
}

TEST_F(CustomDictionaryTest, AReadOnlyFolderLeavesThePairAsItWas) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  Seed({G("张")}, {"zhang"});
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0555), 0);
  try {
    dict_.AddOrUpdate(G("李"), "li");
    ADD_FAILURE() << "write reported success";
  } catch (const InOutError& e) {
    EXPECT_EQ(e.Code(), kAccessDenied);
  }
  EXPECT_THROW(dict_.Clear(), InOutError);
  ::chmod(dir_.Path().c_str(), 0755);
  EXPECT_EQ(Keys(), CrLf({G("张")}));
  EXPECT_EQ(Readings(), CrLf({"zhang"}));
}

TEST_F(CustomDictionaryTest, LineBreaksInsideAKeyOrReadingAreRefusedBeforeAnythingIsWritten) {
  const std::pair<std::string, std::string> cases[] = {
      {G("张") + "\n" + G("李"), "x"}, {G("张"), "zh\rang"}, {G("张"), std::string("zh\0ang", 6)}};
  for (const auto& [key, reading] : cases) {
    EXPECT_THROW(dict_.AddOrUpdate(key, reading), Error);
    EXPECT_FALSE(PathExists(dict_.KeyPath()));
  }
}

TEST_F(CustomDictionaryTest, TheNextLookupSeesEveryChange) {
  LookupOptions standard;
  const std::string builtIn = ReadingNow(lists_, G("华"), standard);
  ASSERT_NE(builtIn, "hwa");
  dict_.AddOrUpdate(G("华"), "hwa");
  EXPECT_EQ(ReadingNow(lists_, G("华"), standard), "hwa");

  // A second reader of the same folder (the next start of the program, another window) sees it
  // through its change detection.
  ListFiles other(dir_.Path());
  EXPECT_EQ(ReadingNow(other, G("华"), standard), "hwa");
  dict_.DeleteAt(0);
  EXPECT_EQ(ReadingNow(other, G("华"), standard), builtIn);

  // A compound surname exists only through the dictionary; a name converted right after the add
  // uses it.
  ConversionOptions options;
  options.format = NameFormat::kSurnameGiven;  // "liu dehua"
  const std::string before = RomanizeName(lists_, G("司马光"), options);
  dict_.AddOrUpdate(G("司马"), "sima");
  EXPECT_NE(before, "sima guang");
  EXPECT_EQ(RomanizeName(lists_, G("司马光"), options), "sima guang");
  dict_.Clear();
  EXPECT_EQ(RomanizeName(lists_, G("司马光"), options), before);

  // The Wade-Giles dictionary's reading is the Wade-Giles result unchanged.
  CustomDictionary wei(lists_, CustomDictionary::Kind::kWadeGiles);
  wei.AddOrUpdate(G("张"), "Cheung");
  EXPECT_EQ(ReadingNow(lists_, G("张"), test::Options(false, true)), "Cheung");
  EXPECT_NE(ReadingNow(lists_, G("张"), standard), "Cheung");
}

TEST_F(CustomDictionaryTest, TextsTypedAsUtf8FollowTheEditorsRules) {
  Seed({G("司马光")}, {"stored by another program"});
  struct Case {
    const char* why;
    std::string key, reading;
    std::optional<DictionaryEntry> stored;  // nullopt: refused
  };
  const Case cases[] = {
      {"a compound surname, trimmed", " 欧阳\t", " Auyeung ",
       DictionaryEntry{G("欧阳"), "Auyeung"}},
      {"three characters are more than the key field takes", "欧阳修", "x", std::nullopt},
      {"unless the key is already there", "司马光", "Sima Guang",
       DictionaryEntry{G("司马光"), "Sima Guang"}},
      {"three ASCII letters are three characters", "abc", "x", std::nullopt},
      {"a character outside GBK is one character, in four bytes", "𠇔", "zu",
       DictionaryEntry{"\x95\x32\xB1\x34", "zu"}},
      {"with a second character it is a compound surname", "𠇔李", "x",
       DictionaryEntry{"\x95\x32\xB1\x34" + G("李"), "x"}},
      {"a character iconv cannot store", "\uE78D", "x", std::nullopt},
      {"nor in the reading", "张", "zh\uE78D", std::nullopt},
      {"a line break inside the key", "张\n李", "x", std::nullopt},
      {"a line break inside the reading", "张", "zh\rang", std::nullopt},
      {"an empty key, as the window allows", "", "x", DictionaryEntry{"", "x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.stored) EXPECT_EQ(dict_.EntryFromUtf8(c.key, c.reading), *c.stored);
    else EXPECT_THROW(dict_.EntryFromUtf8(c.key, c.reading), Error);
  }
}

TEST_F(CustomDictionaryTest, RemoveKeyTakesEveryEntryOfTheKeyAndAddOrUpdateAllWritesOnce) {
  Seed({G("单"), G("李"), G("单")}, {"dan", "li", "chan"});
  EXPECT_EQ(dict_.RemoveKey(" " + G("单") + " "), 2u);
  EXPECT_EQ(Keys(), CrLf({G("李")}));
  EXPECT_EQ(Readings(), CrLf({"li"}));
  EXPECT_EQ(dict_.RemoveKey(G("单")), 0u);
  EXPECT_EQ(Keys(), CrLf({G("李")}));

  const auto loads = lists_.LoadCount();
  dict_.AddOrUpdateAll({{G("王"), " wong"}, {G("李"), "Lee"}, {G("王"), "Wong"}});
  EXPECT_EQ(Keys(), CrLf({G("李"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"Lee", "Wong"}));
  EXPECT_LE(lists_.LoadCount() - loads, 2u) << "one write for all entries";
  EXPECT_THROW(dict_.AddOrUpdateAll({{G("张"), "ok"}, {G("赵"), "zh\nao"}}), Error);
  EXPECT_EQ(Keys(), CrLf({G("李"), G("王")})) << "nothing written when one entry is refused";
}

TEST(CustomDictionaryText, CharacterCountsAndCharactersThatCannotBeStored) {
  struct Case {
    const char* why;
    const char* utf8;
    size_t characters;
    std::optional<std::string> unstorable;
  };
  const Case cases[] = {
      {"ASCII is one character each", "Zi 1", 4, std::nullopt},
      {"two Chinese characters", "欧阳", 2, std::nullopt},
      {"an extension-B ideograph is one character, stored in four bytes", "𠇔", 1, std::nullopt},
      {"an emoji is a character too", "字😀a", 3, std::nullopt},
      {"a private-use code point iconv gives no GB18030 code", "字\uE78D", 2, "\uE78D"},
      {"the empty text", "", 0, std::nullopt},
      {"an overlong form is no UTF-8: each byte counts one", "\xE0\x80\x80", 3, "\xE0"},
      {"nor is a surrogate", "a\xED\xA0\x80", 4, "\xED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(CharacterCount(c.utf8), c.characters);
    EXPECT_EQ(FirstUnstorableChar(c.utf8), c.unstorable);
  }
}

}  // namespace
}  // namespace quorvel

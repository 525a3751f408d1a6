// The reading lookup: table, one or all readings, Wade-Giles through the mapping lists, the custom
// dictionary of the current romanization, the surname position, and the errors.
#include <gtest/gtest.h>

#include "Errors.h"
#include "ReadingLookup.h"
#include "TestSupport.h"

using namespace quorvel;
using namespace quorvel::test;
using Lines = std::vector<std::string>;

class Lookup : public testing::Test {
 protected:
  void SetUp() override {
    Put(kMappingPinyin, {"a", "ya", "e", "zhao", "shan", "dan", "chan", "zeng", "ceng"});
    Put(kMappingWadeGiles, {"A", "YA", "O", "chao", "shan", "tan", "chan", "tseng", "tseng"});
  }
  void Put(ListSlot slot, const Lines& lines) {
    WriteFile(dir_.File(kListFileNames[slot]), CrLf(lines));
  }
  std::string L(const std::string& key, bool all, bool wade, KeyRole role = KeyRole::kGivenName) {
    return ReadingNow(lists_, key, Options(all, wade), role);
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
};

TEST_F(Lookup, TableReadingsUnderTheFourOptionSets) {
  struct Case {
    const char* ch;
    bool all, wade;
    const char* reading;
    const char* why;
  };
  const Case cases[] = {
      {"阿", false, false, "a", "first reading only"},
      {"阿", true, false, "a/e", "all readings, stored order"},
      {"阿", false, true, "A", "one syllable converted"},
      {"阿", true, true, "A/O", "every syllable converted, in order"},
      {"吖", true, true, "YA/A", "the order of the row is kept"},
      {"赵", true, false, "zhao", "one reading"},
      {"行", true, true, "xing/hang/heng", "syllables the mapping lacks pass through"},
      {"单", true, true, "tan/chan/shan", "converted in place, unknown ones unchanged"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ch) + ": " + c.why);
    EXPECT_EQ(L(G(c.ch), c.all, c.wade), c.reading);
  }
  // A one-reading lookup leaves the table as it was.
  EXPECT_EQ(L(G("阿"), false, false), "a");
  EXPECT_EQ(L(G("阿"), true, false), "a/e");
}

TEST_F(Lookup, KeysTheTableDoesNotHold) {
  EXPECT_EQ(L(G("欧阳"), false, false), "???") << "two characters";
  EXPECT_EQ(L("!", false, false), "???") << "one byte";
  EXPECT_EQ(L("Anna2", true, true), "Anna2") << "ASCII letters and digits read as written";
  EXPECT_EQ(L("Ann a", false, false), "???") << "but nothing else ASCII";
  EXPECT_EQ(L("", false, false), "???") << "empty key";
  EXPECT_EQ(L(G("。"), false, false), "???") << "a GBK symbol";
  EXPECT_EQ(L(G("〇"), true, true), "???") << "not a unified ideograph";
}

TEST_F(Lookup, TheCustomDictionaryOfTheCurrentRomanizationOverridesVerbatim) {
  Put(kPinyinDictionaryKeys, {G("赵"), G("欧阳"), G("赵"), ""});
  Put(kPinyinDictionaryReadings, {"hua/huo", "OuYang", "second", "empty-key"});
  Put(kWadeGilesDictionaryKeys, {G("赵")});
  Put(kWadeGilesDictionaryReadings, {"zhao"});
  EXPECT_EQ(L(G("赵"), false, false), "hua/huo") << "not cut to its first reading";
  EXPECT_EQ(L(G("欧阳"), false, false), "OuYang") << "two-character key, case kept";
  EXPECT_EQ(L("", false, false), "empty-key") << "an empty line matches the empty key";
  EXPECT_EQ(L(G("赵"), false, true), "zhao") << "Wade-Giles custom reading is not mapped";
  EXPECT_EQ(L(G("欧阳"), false, true), "???") << "the standard dictionary is ignored in Wade-Giles";
  Put(kWadeGilesDictionaryKeys, {});
  EXPECT_EQ(L(G("赵"), false, true), "chao") << "no Wade-Giles entry: the table, converted";
}

TEST_F(Lookup, TheMappingComparesExactly) {
  Put(kMappingPinyin, {"Zhao", "zhao ", "a"});
  Put(kMappingWadeGiles, {"X", "Y", "A"});
  EXPECT_EQ(L(G("赵"), false, true), "zhao");
  EXPECT_EQ(L(G("阿"), true, true), "A/e");
  Put(kMappingPinyin, {});
  EXPECT_EQ(L(G("阿"), true, true), "a/e") << "no mapping: Wade-Giles gives pinyin";
}

TEST_F(Lookup, AKeyWithoutAPartnerLineRaisesTheListIndexError) {
  Put(kPinyinDictionaryKeys, {G("张"), G("赵")});
  Put(kPinyinDictionaryReadings, {"zhang"});
  EXPECT_EQ(L(G("张"), false, false), "zhang");
  try {
    L(G("赵"), false, false);
    FAIL() << "no error";
  } catch (const ListIndexError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  Put(kMappingWadeGiles, {"A"});
  EXPECT_EQ(L(G("阿"), false, true), "A");
  EXPECT_THROW(L(G("阿"), true, true), ListIndexError)
      << "e is on line 2 of the mapping, which has 1";
}

TEST_F(Lookup, TheSurnamePositionPutsTheSurnameReadingFirst) {
  struct Case {
    const char* ch;
    bool all, wade;
    KeyRole role;
    const char* reading;
  };
  const Case cases[] = {
      {"单", false, false, KeyRole::kSurname, "shan"},
      {"单", true, false, KeyRole::kSurname, "shan/dan/chan"},
      {"单", false, false, KeyRole::kGivenName, "dan"},
      {"单", false, true, KeyRole::kSurname, "shan"},
      {"曾", false, true, KeyRole::kSurname, "tseng"},
      {"曾", true, false, KeyRole::kSurname, "zeng/ceng"},
      {"张", true, false, KeyRole::kSurname, "zhang"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ch);
    EXPECT_EQ(L(G(c.ch), c.all, c.wade, c.role), c.reading);
  }
  Put(kPinyinDictionaryKeys, {G("单")});
  Put(kPinyinDictionaryReadings, {"Dan"});
  EXPECT_EQ(L(G("单"), false, false, KeyRole::kSurname), "Dan") << "a custom entry still wins";
}

TEST_F(Lookup, TheUmlautSpellingRewritesTableReadingsInPinyinOnly) {
  using Sp = UmlautSpelling;
  struct Case {
    const char* ch;
    Sp umlaut;
    bool all, wade;
    const char* reading;  // UTF-8; the lookup gives GBK
    const char* why;
  };
  const Case cases[] = {
      {"吕", Sp::kV, false, false, "lv", "as the table stores it"},
      {"吕", Sp::kYu, false, false, "lyu", "passport spelling"},
      {"吕", Sp::kU, false, false, "lu", "dots dropped"},
      {"吕", Sp::kUmlaut, false, false, "lü", "the GBK ü"},
      {"女", Sp::kYu, false, false, "nyu", ""},
      {"女", Sp::kUmlaut, false, false, "nü", ""},
      {"略", Sp::kV, false, false, "lue", "lüe is stored as lue"},
      {"略", Sp::kYu, false, false, "lue", "passports write lüe as lue"},
      {"虐", Sp::kU, false, false, "nue", ""},
      {"虐", Sp::kUmlaut, false, false, "nüe", ""},
      {"绿", Sp::kYu, true, false, "lyu/lu", "every reading of the row, in order"},
      {"绿", Sp::kUmlaut, true, false, "lü/lu", ""},
      {"绿", Sp::kU, true, false, "lu", "lv and lu both become lu: given once"},
      {"魯", Sp::kU, true, false, "lu", "the repeat dropped, the first kept in its place"},
      {"律", Sp::kUmlaut, false, true, "lv",
       "Wade-Giles ignores the spelling (lv passes the test mapping)"},
      {"旅", Sp::kYu, true, false, "lyu", ""},
      {"路", Sp::kUmlaut, false, false, "lu", "a plain lu has no ü"},
      {"努", Sp::kYu, false, false, "nu", "a plain nu has no ü"},
      {"学", Sp::kUmlaut, false, false, "xue", "after x the u is never marked"},
      {"论", Sp::kUmlaut, false, false, "lun", "lun is not lüe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ch) + " " + std::to_string(static_cast<int>(c.umlaut)) + ": " +
                 c.why);
    LookupOptions options = Options(c.all, c.wade);
    options.umlaut = c.umlaut;
    EXPECT_EQ(U(ReadingNow(lists_, G(c.ch), options)), c.reading);
  }
  // A custom reading stays as stored, whatever the spelling.
  Put(kPinyinDictionaryKeys, {G("吕")});
  Put(kPinyinDictionaryReadings, {"Lv"});
  LookupOptions options = Options(false, false);
  options.umlaut = UmlautSpelling::kYu;
  EXPECT_EQ(ReadingNow(lists_, G("吕"), options), "Lv");
}

TEST_F(Lookup, ReadingsEqualAfterConversionAreGivenOnceInTheirFirstPlace) {
  // The fixture's mapping sends zeng and ceng both to tseng.
  EXPECT_EQ(L(G("曾"), true, true, KeyRole::kSurname), "tseng");
  EXPECT_EQ(L(G("曾"), true, true), "tseng") << "ceng/zeng in the row's own order";
  EXPECT_EQ(L(G("曾"), true, false), "ceng/zeng") << "pinyin readings differ: both stay";
  Put(kMappingPinyin, {"chan", "dan", "shan"});
  Put(kMappingWadeGiles, {"tan", "tan", "shan"});
  EXPECT_EQ(L(G("单"), true, true), "tan/shan") << "the repeat removed from the middle";
  EXPECT_EQ(L(G("单"), true, true, KeyRole::kSurname), "shan/tan");
  // A custom reading is never de-duplicated.
  Put(kWadeGilesDictionaryKeys, {G("单")});
  Put(kWadeGilesDictionaryReadings, {"tan/tan"});
  EXPECT_EQ(L(G("单"), true, true), "tan/tan");
}

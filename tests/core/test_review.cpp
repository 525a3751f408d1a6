// The review rule: which lines are flagged and why, the flag text, and the batch conversion
// handing every line to it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "BatchConversion.h"
#include "CustomDictionary.h"
#include "Errors.h"
#include "Review.h"
#include "ReviewThread.h"
#include "Settings.h"
#include "TestSupport.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using Kind = ReviewFlag::Kind;

class ReviewTest : public testing::Test {
 protected:
  void SetUp() override {
    CopyInstalledLists(dir_.Path());
    lists_.Refresh();
  }
  static ConversionOptions Options(NameFormat format = NameFormat::kSurnameGivenCapitalised,
                                   Romanization romanization = Romanization::kPinyin) {
    ConversionOptions options;
    options.format = format;
    options.romanization = romanization;
    return options;
  }
  std::vector<ReviewFlag> Flags(const std::string& gbkName,
                                const ConversionOptions& options = Options()) {
    lists_.Refresh();
    return NameReviewer(lists_, options).Review(gbkName);
  }
  std::string Line(const char* utf8Name, const ConversionOptions& options = Options()) {
    const std::string name = G(utf8Name);
    lists_.Refresh();
    return FlagLine(name, RomanizeName(lists_, name, options), Flags(name, options));
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
};

TEST_F(ReviewTest, FlagsOnlyTheCharactersWhoseReadingIsAGuess) {
  struct Case {
    const char* why;
    const char* name;
    std::vector<Kind> kinds;  // the flags, in the order of the characters
    const char* reason;       // of the first flag
  };
  const Case cases[] = {
      {"a given-name character rare in names", "曾参", {Kind::kGiven}, "rare in given names"},
      {"another rare one with a classical reading", "伍员", {Kind::kGiven}, "rare in given names"},
      {"a common given-name character whose other reading is common in text",
       "李宗盛",
       {Kind::kGiven},
       "often read cheng"},
      {"a surname with a second surname reading", "乐嘉", {Kind::kSurname}, "two surname readings"},
      {"both in one name", "隗嚣", {Kind::kSurname, Kind::kGiven}, "two surname readings"},
      {"a character without a reading", "王ㄅ", {Kind::kNoReading}, "no reading"},
      {"a control byte inside a name reads \"???\"",
       "王小明\t备注",
       {Kind::kNoReading},
       "no reading"},
      {"an ordinary name", "刘德华", {}, nullptr},
      {"ordinary names with polyphonic but settled characters", "张朝阳", {}, nullptr},
      {"乐 in the given name has no second surname reading to check", "古天乐", {}, nullptr},
      {"a compound surname from the custom dictionary is not a single-character surname",
       "长孙无忌",
       {Kind::kGiven},
       "rare in given names"},
      {"an empty line", "", {Kind::kNoReading}, "no reading"},
      {"a four-byte given-name character with two readings",
       "王㐤",
       {Kind::kGiven},
       "rare in given names"},
      {"a four-byte given-name character with one reading", "王𠀀", {}, nullptr},
      {"a four-byte character without a reading", "王𠮷", {Kind::kNoReading}, "no reading"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.why) + ": " + c.name);
    const auto flags = Flags(G(c.name));
    std::vector<Kind> kinds;
    for (const auto& flag : flags) kinds.push_back(flag.kind);
    EXPECT_EQ(kinds, c.kinds);
    if (c.reason && !flags.empty()) {
      EXPECT_EQ(flags[0].reason, c.reason);
    }
  }
}

TEST_F(ReviewTest, TheFlagTextNamesTheReadingsTheReasonAndTheWholeNameWithEachAlternative) {
  EXPECT_EQ(
      Line("曾参"),
      "曾参 → Zeng Can ⚑ 参: can / cen / shen (rare in given names) — or Zeng Cen · Zeng Shen");
  EXPECT_EQ(Line("乐嘉"), "乐嘉 → Yue Jia ⚑ 乐: yue / le (two surname readings) — or Le Jia");
  EXPECT_EQ(Line("隗嚣"),
            "隗嚣 → Wei Xiao ⚑ 隗: wei / kui (two surname readings) — or Kui Xiao ⚑ "
            "嚣: xiao / ao (rare in given names) — or Wei Ao");
  EXPECT_EQ(Line("王ㄅ"), "王ㄅ → Wang ??? ⚑ ㄅ: no reading");
  EXPECT_EQ(Line("王㐤"), "王㐤 → Wang Dan ⚑ 㐤: dan / qiu (rare in given names) — or Wang Qiu");
  // The alternatives are laid out as the output is: format, separator, romanization.
  ConversionOptions options = Options(NameFormat::kGivenSurnameUpper);
  options.separator = Separator::kSpace;
  EXPECT_EQ(
      Line("郦食其", options),
      "郦食其 → shi qi LI ⚑ 食: shi / si / yi (rare in given names) — or si qi LI · yi qi LI");
  EXPECT_EQ(Line("曾参", Options(NameFormat::kSurnameGivenCapitalised, Romanization::kWadeGiles)),
            "曾参 → Tseng Tsan ⚑ 参: tsan / tsen / shen (rare in given names) — or Tseng Tsen · "
            "Tseng Shen");
}

TEST_F(ReviewTest, WhatTheUserDecidedIsNotFlagged) {
  NameReviewer reviewer(lists_, Options());
  EXPECT_TRUE(reviewer.MayBeFlagged(G("曾参")));
  CustomDictionary standard(lists_, CustomDictionary::Kind::kStandard);
  standard.AddOrUpdate(G("参"), "shen");
  EXPECT_TRUE(Flags(G("曾参")).empty()) << "the custom dictionary knows the character";
  lists_.Refresh();
  EXPECT_FALSE(reviewer.MayBeFlagged(G("曾参"))) << "so the quick test clears the line";
  EXPECT_TRUE(reviewer.MayBeFlagged(G("乐参"))) << "the other characters are still tested";
  standard.AddOrUpdate(G("嚣"), "x?");
  lists_.Refresh();
  EXPECT_TRUE(reviewer.MayBeFlagged(G("王嚣"))) << "a reading with a \"?\" may read \"???\"";
  standard.Clear();
  lists_.Refresh();
  EXPECT_TRUE(reviewer.MayBeFlagged(G("曾参"))) << "the lists changed again";
  standard.AddOrUpdate(G("参"), "shen");
  EXPECT_EQ(Flags(G("曾参"), Options(NameFormat::kSurnameGiven, Romanization::kWadeGiles)).size(),
            1u)
      << "the pinyin dictionary does not decide Wade-Giles";

  CustomDictionary names(lists_, CustomDictionary::Kind::kWholeNames);
  const auto entry = names.EntryFromUtf8("乐嘉", "le jia");
  names.AddOrUpdate(entry.key, entry.reading);
  EXPECT_TRUE(Flags(G("乐嘉")).empty()) << "a taught whole name";
  EXPECT_TRUE(Flags(G(" 乐嘉\t")).empty()) << "also once trimmed";
  EXPECT_EQ(Flags(G("乐毅")).size(), 1u) << "another name with the surname still is";
}

TEST_F(ReviewTest, TheRowOfALongRunIsTheRowOfItsFlags) {
  // The review of a run writes its rows without building flags, the usual name (two to seven
  // double-byte characters) by a shorter way than the walk: they must be the same bytes in every
  // layout, for compound surnames, custom readings that are no pinyin, hold a tab or may read
  // "???", and for the lines the shorter way leaves to the walk; every ü spelling (ü itself makes a
  // reading that is no ASCII); line numbers of any length (the row's first field).
  const char* const names[] = {
      "曾参", "乐嘉", "隗嚣", "王ㄅ", "王小明\t备注", "", "刘德华", "王㐤", "王𠮷", " 郦 食其 ",
      "长孙无忌", "阿沛·阿旺", "乐 嘉", "曾参ABC", "吕蒙", "曾参曾参曾参曾参", "李宗盛",
      // compound surnames: from the shipped custom dictionary, and (the second pass) one whose
      // two characters read "???" and one whose reading holds it
      "欧阳参", "欧阳", "欧阳ㄅ参", "乐正参", "东郭参",
      // custom readings in Chinese and with a tab (the second pass)
      "王参", "李参",
      // seven characters and eight, one, a trimmed line, a ü, a dotted name, a ü in an alternative
      // only, a character whose two readings are one in the u spelling (a flag with no alternative)
      "乐参参参参参参", "乐参参参参参参参", "参", "隗", "\t曾参 ", "女参", "曾参．乐嘉", "王率",
      "王绿"};
  std::vector<ConversionOptions> optionSets;
  for (int format = -1; format < kNameFormatCount; ++format) {
    for (Separator separator : {Separator::kHyphen, Separator::kSpace, Separator::kNone}) {
      for (Romanization romanization : {Romanization::kPinyin, Romanization::kWadeGiles}) {
        for (Readings readings : {Readings::kFirst, Readings::kAll}) {
          ConversionOptions options = Options(NameFormatFromNumber(format), romanization);
          options.separator = separator;
          options.readings = readings;
          options.umlaut = static_cast<UmlautSpelling>((format + 1) % kUmlautSpellingCount);
          optionSets.push_back(options);
        }
      }
    }
  }
  const size_t numbers[] = {7, 1, 10, 9999, 10000, 12345678, 99999999, 100000000, 1000000007};
  size_t rows = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {  // the lists change: what was worded for them is worded again
      for (auto kind : {CustomDictionary::Kind::kStandard, CustomDictionary::Kind::kWadeGiles}) {
        CustomDictionary dictionary(lists_, kind);
        dictionary.AddOrUpdate(G("嚣"), "ao");
        dictionary.AddOrUpdate(G("王"), G("汪"));      // a reading in Chinese
        dictionary.AddOrUpdate(G("李"), "li\tx");      // one with a tab
        dictionary.AddOrUpdate(G("乐正"), "???");      // two characters that are no surname
        dictionary.AddOrUpdate(G("东郭"), "dong???");  // a surname with no reading in it
      }
    }
    lists_.Refresh();
    for (const ConversionOptions& options : optionSets) {
      NameReviewer reviewer(lists_, options);
      for (size_t n = 0; n < std::size(names); ++n) {
        const char* utf8 = names[n];
        const size_t number = numbers[n % std::size(numbers)];
        SCOPED_TRACE(std::string(utf8) + " pass " + std::to_string(pass) + " format " +
                     std::to_string(static_cast<int>(options.format)) + " separator " +
                     std::to_string(static_cast<int>(options.separator)) +
                     (options.romanization == Romanization::kWadeGiles ? " Wade-Giles" : "") +
                     (options.readings == Readings::kAll ? " all readings" : ""));
        const std::string name = G(utf8);
        std::string output;
        AppendRomanizedName(output, lists_, name, options);
        std::string expected, row = "earlier rows\n";
        const auto flags = reviewer.Review(name);
        if (!flags.empty()) AppendReviewRow(expected, number, name, output, flags);
        const bool flagged = reviewer.AppendRow(row, number, name, output);
        EXPECT_EQ(flagged, !flags.empty());
        EXPECT_EQ(row, "earlier rows\n" + expected);
        if (flagged) {  // four fields on one line, whatever tab or line break the texts held
          const std::string added = row.substr(std::string("earlier rows\n").size());
          EXPECT_EQ(added.substr(0, added.find('\t')), std::to_string(number));
          EXPECT_EQ(std::count(added.begin(), added.end(), '\t'), 3);
          EXPECT_EQ(added.find('\n'), added.size() - 1);
        }
        rows += flagged;
      }
    }
  }
  EXPECT_GT(rows, 80u * optionSets.size() / 4) << "most of the names are flagged";
}

TEST_F(ReviewTest, TheBatchConversionHandsEveryLineToTheReviewWithItsNumber) {
  const std::string source = G("刘德华\r\n曾参\r\n\r\n乐嘉\r\n");
  const std::string target = dir_.File("out.txt");
  WriteFile(dir_.File("in.txt"), source);
  const ConversionOptions options = Options();
  NameReviewer reviewer(lists_, options);
  std::vector<std::string> seen;
  ConvertFile(lists_, dir_.File("in.txt"), target, options, {}, nullptr, {},
              [&](size_t number, std::string_view name, std::string_view output) {
                if (!reviewer.Review(name).empty())
                  seen.push_back(std::to_string(number) + " " + U(output));
              });
  EXPECT_EQ(seen, (std::vector<std::string>{"2 Zeng Can", "3 ??? ", "4 Yue Jia"}));
  EXPECT_EQ(ReadFile(target), "Liu De-hua\r\nZeng Can\r\n??? \r\nYue Jia\r\n");
}

// With the review's watch a run hands the review only the lines it may flag, and those hold every
// line it flags: the rows are those of a review that sees every line, on one thread and on two,
// while the custom dictionary, which reads a flagged character when the run starts, loses it part
// way through (the lines after that are flagged) and reads it again later. A surname of two
// characters that the dictionary reads is never the watch's (its given name may be); a first
// character that may start one but does not here is.
TEST_F(ReviewTest, TheWatchedRunReviewsWhatARunOfEveryLineReviewsAsTheListsChange) {
  const char* const names[] = {"曾参",   "刘德华", "乐嘉",   " 曾参\t", "王参参", "曾参ABC",
                               "李宗盛", "耶律参", "欧阳参", "欧阳修",  "乐文"};
  constexpr size_t kLines = 6 * kCheckEvery;
  std::string source;
  for (size_t i = 0; i < kLines; ++i) source += G(names[i % std::size(names)]) + "\r\n";
  WriteFile(dir_.File("in.txt"), source);
  const std::string keys = ReadFile(dir_.File("define_han.dll"));
  const std::string readings = ReadFile(dir_.File("define_py.dll"));
  auto readShen = [&](bool shen) {
    WriteFile(dir_.File("define_han.dll"), keys + (shen ? G("参") + "\r\n" : ""));
    WriteFile(dir_.File("define_py.dll"), readings + (shen ? "shen\r\n" : ""));
  };
  struct Review {
    std::string rows;
    size_t calls = 0;
    std::set<std::string> handed;  // the names
  };
  enum class Way { kEveryLine, kWatched, kOnItsThread };
  auto run = [&](const char* threads, Way way) {
    readShen(true);
    lists_.Refresh();
    const ConversionOptions options = Options();
    NameReviewer reviewer(lists_, options);
    std::optional<ReviewThread> onItsThread;
    // On two threads, as for a long source: the review's thread from the first lines.
    if (way == Way::kOnItsThread)
      onItsThread.emplace(lists_, options, threads ? size_t{1} << 30 : 0);
    const LineHook toItsThread = onItsThread ? onItsThread->Hook() : LineHook();
    Review review;
    const LineFn hook = [&](size_t number, std::string_view name, std::string_view output) {
      ++review.calls;
      review.handed.emplace(name);
      if (onItsThread) toItsThread.call(number, name, output);
      else reviewer.AppendRow(review.rows, number, name, output);
    };
    const ProgressFn progress = [&](size_t done, size_t) {
      if (done == 2048) readShen(false);  // 参 is the table's: its lines are flagged
      if (done == 3 * kCheckEvery + 1024) readShen(true);
    };
    if (threads) ::setenv("QUORVEL_THREADS", threads, 1);
    ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), options, progress, nullptr, {},
                way == Way::kEveryLine ? LineHook(hook)
                : onItsThread          ? LineHook(hook, toItsThread.watch)
                                       : LineHook(hook, &reviewer.Watch()));
    ::unsetenv("QUORVEL_THREADS");
    if (onItsThread) {
      onItsThread->Finish();
      review.rows = onItsThread->Rows();
    }
    return review;
  };
  const Review every = run("1", Way::kEveryLine);
  EXPECT_EQ(every.calls, kLines);
  auto flagged = [&](size_t number) {
    return every.rows.find("\n" + std::to_string(number) + "\t") != std::string::npos;
  };
  const size_t n = std::size(names);
  EXPECT_FALSE(flagged(1 + n * 150)) << "曾参 while the dictionary reads 参";
  EXPECT_TRUE(flagged(1 + n * 300)) << "曾参 once it no longer does";
  EXPECT_TRUE(flagged(9 + n * 300)) << "欧阳参 once it no longer does";
  EXPECT_TRUE(flagged(11 + n * 300)) << "乐文";
  EXPECT_FALSE(flagged(1 + n * 2000)) << "曾参 once it does again";
  // On a thread of its own (the run on one thread, the default here, or on two), each line is
  // reviewed against the lists it was converted with.
  using Threads = const char*;
  for (const auto& [threads, way] :
       {std::pair{Threads{"1"}, Way::kWatched}, std::pair{Threads{"2"}, Way::kWatched},
        std::pair{Threads{nullptr}, Way::kOnItsThread},
        std::pair{Threads{"2"}, Way::kOnItsThread}}) {
    SCOPED_TRACE(std::string(threads ? threads : "default") + " thread(s)" +
                 (way == Way::kOnItsThread ? ", reviewed on a thread of its own" : ""));
    const Review watched = run(threads, way);
    EXPECT_EQ(FirstDifferentLine(watched.rows, every.rows), "");
    EXPECT_EQ(watched.handed.count(G("刘德华")), 0u);
    EXPECT_EQ(watched.handed.count(G("欧阳修")), 0u) << "the surname is the dictionary's";
    EXPECT_EQ(watched.handed.count(G("乐文")), 1u) << "乐 alone, though it may start a surname";
  }
}

// The lines a run hands to the review's thread are all reviewed, in order, whether the thread took
// them before the run's end or the run's end finds them still waiting (the run ends at once after
// handing lines over, many times, so that both happen).
TEST_F(ReviewTest, EveryLineHandedToTheReviewsThreadIsReviewedInOrder) {
  const std::string zengCan = G("曾参");
  constexpr size_t kLines = 3000;  // some 80 KiB of lines: a few hand-overs
  for (int round = 0; round < 20; ++round) {
    ReviewThread review(lists_, Options(), size_t{1} << 30);  // a thread from the first lines
    const LineHook hook = review.Hook();
    for (size_t number = 1; number <= kLines; ++number) hook.call(number, zengCan, "Zeng Can");
    review.Finish();
    ASSERT_EQ(review.Count(), kLines) << "round " << round;
    size_t expected = 1;
    for (size_t at = 0; at < review.Rows().size(); at = review.Rows().find('\n', at) + 1)
      ASSERT_EQ(review.Rows().substr(at, review.Rows().find('\t', at) - at),
                std::to_string(expected++));
  }
}

// A review on a thread of its own whose rows cannot go out (a full disk) fails the run: a hand-over
// or the end of the run throws the failure; it is never lost. Rows spilled before it are whole.
TEST_F(ReviewTest, TheFailureOfAReviewOnAThreadOfItsOwnEndsTheRun) {
  const std::string zengCan = G("曾参"), output = "Zeng Can";
  for (const size_t lines : {size_t{10}, size_t{100000}}) {  // reviewed at the end; on the thread
    SCOPED_TRACE(std::to_string(lines) + " lines");
    ReviewThread review(lists_, Options());
    std::string spilled;
    int spills = 0;
    const ReviewThread::Spill spill = [&](std::string_view rows) {
      // Thrown on the review's thread (started after the first few thousand lines); the next
      // block would have room again.
      if (++spills == 4) throw Error("Disk full");
      spilled += rows;
    };
    review.SpillTo(&spill);
    const LineHook hook = review.Hook();
    std::string failure;
    try {
      for (size_t number = 1; number <= lines; ++number) hook.call(number, zengCan, output);
      review.Finish();
    } catch (const Error& e) {
      failure = e.what();
    }
    review.SpillTo(nullptr);
    EXPECT_EQ(failure, lines == 10 ? "" : "Disk full");
    EXPECT_EQ(review.Count() == lines, lines == 10);
    if (lines != 10) {
      EXPECT_EQ(spills, 4);
      EXPECT_GE(spilled.size(), ReviewThread::kSpillBytes);
      EXPECT_EQ(spilled.back(), '\n');
      EXPECT_EQ(spilled.substr(0, 2), "1\t");
    }
  }
}

TEST_F(ReviewTest, AChosenAlternativeRewritesItsLineOnlyWhereTheLineIsStillTheConvertedOne) {
  // The target reached through a link keeps the link and the file its mode.
  const std::string target = dir_.File("out.txt");
  WriteFile(dir_.File("real.txt"), "Liu De-hua\r\nZeng Can\r\nYue Jia\r\n");
  ::chmod(dir_.File("real.txt").c_str(), 0640);
  std::filesystem::create_symlink("real.txt", target);
  RewriteTargetLine(target, 2, "Zeng Can", "Zeng Shen");
  EXPECT_EQ(ReadFile(target), "Liu De-hua\r\nZeng Shen\r\nYue Jia\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(target));
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("real.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  RewriteTargetLine(target, 3, "Yue Jia", "Le Jia");
  EXPECT_EQ(ReadFile(target), "Liu De-hua\r\nZeng Shen\r\nLe Jia\r\n");
  struct Case {
    const char* why;
    size_t number;
    const char* expected;
  } refused[] = {
      {"the line was changed since", 2, "Zeng Can"}, {"no such line", 4, ""}, {"no line 0", 0, ""}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.why);
    EXPECT_THROW(RewriteTargetLine(target, c.number, c.expected, "x"), Error);
    EXPECT_EQ(ReadFile(target), "Liu De-hua\r\nZeng Shen\r\nLe Jia\r\n") << "the file is as it was";
  }
  const std::set<std::string> files = FolderContents(dir_.Path());
  EXPECT_EQ(files.count("out.txt") + files.count("real.txt"), 2u);
  for (const std::string& name : files) EXPECT_EQ(name.find(".quorvel-"), std::string::npos);
}

TEST_F(ReviewTest, TheEntryToRememberHoldsTheChosenReadingAndTheTablesOthers) {
  struct Case {
    const char* name;
    size_t flag, alternative;
    const char* key;  // nullptr: nothing to remember
    const char* reading;
  } cases[] = {
      {"曾参", 0, 1, "曾参", "zeng shen"},  {"曾参", 0, 0, "曾参", "zeng cen"},
      {"乐嘉", 0, 0, "乐嘉", "le jia"},     {"隗嚣", 1, 0, "隗嚣", "wei ao"},
      {"长孙无忌", 0, 0, nullptr, nullptr},  // a compound surname has one reading for two
                                             // characters
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto flags = Flags(G(c.name));
    ASSERT_GT(flags.size(), c.flag);
    const auto entry = EntryForAlternative(lists_, G(c.name), flags[c.flag], c.alternative);
    if (!c.key) {
      EXPECT_FALSE(entry);
      continue;
    }
    ASSERT_TRUE(entry);
    EXPECT_EQ(*entry, (DictionaryEntry{G(c.key), c.reading}));
  }
  EXPECT_FALSE(EntryForAlternative(lists_, G("曾参"), Flags(G("曾参"))[0], 2))
      << "no third alternative";
}

}  // namespace

// Batch conversion: the golden pair, the target rules, the failure paths, progress, and a
// dictionary edited during a run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "BatchConversion.h"
#include "Errors.h"
#include "Files.h"
#include "TestSupport.h"
#include "TextLines.h"

using namespace quorvel;
using namespace quorvel::test;

class Batch : public testing::Test {
 protected:
  void SetUp() override { CopyInstalledLists(dir_.Path()); }
  std::string Convert(const std::string& sourceBytes, const ConversionOptions& options = {}) {
    WriteFile(dir_.File("in.txt"), sourceBytes);
    ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), options);
    return ReadFile(dir_.File("out.txt"));
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
};

TEST_F(Batch, GoldenFile) {
  // Mixed CR, LF and CR LF, a blank line, nine characters, a full-width space, ASCII letters
  // inside a name, a line of spaces and tabs, and a NUL byte with names after it.
  const std::string in = SourceDir() + "/tests/data/batch.in";
  ConvertFile(lists_, in, dir_.File("out.txt"), {});
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), ReadFile(SourceDir() + "/tests/data/batch.expected"));
}

TEST_F(Batch, LinesAndTargets) {
  EXPECT_EQ(Convert(""), "") << "an empty source gives an empty target";
  EXPECT_EQ(Convert("\r\n"), " ???\r\n") << "a blank line gives a line";
  EXPECT_EQ(Convert(G("赵\r赵\n赵")), " Zhao\r\n Zhao\r\n Zhao\r\n");

  // An existing target is replaced; a target equal to the source ends up converted.
  WriteFile(dir_.File("out.txt"), "old content that is longer than the new one\r\n");
  EXPECT_EQ(Convert(G("赵")), " Zhao\r\n");
  WriteFile(dir_.File("same.txt"), G("刘德华\r\n"));
  ConvertFile(lists_, dir_.File("same.txt"), dir_.File("same.txt"), {});
  EXPECT_EQ(ReadFile(dir_.File("same.txt")), "De-hua Liu\r\n");
}

// ü is one GBK character (A8 B9): a GBK source gives a GBK target holding it, a UTF-8 or UTF-16
// source a UTF-8 target holding C3 BC.
TEST_F(Batch, TheUmlautSpellingWritesToGbkAndUtf8Targets) {
  ConversionOptions options;
  options.format = NameFormat::kSurnameGivenCapitalised;
  struct Row {
    std::string source;
    UmlautSpelling umlaut;
    std::string target;
    const char* why;
  } rows[] = {
      {G("吕小明\r\n虐女\r\n"), UmlautSpelling::kUmlaut,
       "L\xA8\xB9 Xiao-ming\r\nN\xA8\xB9"
       "e N\xA8\xB9\r\n",
       "GBK source: GBK target"},
      {"\xEF\xBB\xBF吕小明\r\n虐女\r\n", UmlautSpelling::kUmlaut,
       "L\xC3\xBC Xiao-ming\r\nN\xC3\xBC"
       "e N\xC3\xBC\r\n",
       "UTF-8 source with a BOM: UTF-8 target"},
      {"吕小明\n", UmlautSpelling::kUmlaut, "L\xC3\xBC Xiao-ming\r\n",
       "UTF-8 source without a BOM"},
      {std::string("\xFF\xFE\x15\x54\x0F\x5C\x0E\x66\n\0", 10), UmlautSpelling::kUmlaut,
       "L\xC3\xBC Xiao-ming\r\n", "UTF-16LE source"},
      {G("吕小明\r\n"), UmlautSpelling::kYu, "Lyu Xiao-ming\r\n", "ASCII spellings in GBK"},
      {"吕小明\n", UmlautSpelling::kU, "Lu Xiao-ming\r\n", "ASCII spellings in UTF-8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    options.umlaut = row.umlaut;
    EXPECT_EQ(Convert(row.source, options), row.target);
  }
  options.format = NameFormat::kPassport;
  EXPECT_EQ(Convert("吕小明\n欧阳修\n单田芳\n", options),
            "LYU XIAOMING\r\nOUYANG XIU\r\nSHAN TIANFANG\r\n");
}

TEST_F(Batch, FailuresLeaveNothingHalfDone) {
  WriteFile(dir_.File("in.txt"), G("刘德华\r\n"));
  struct Case {
    std::string source, target, message;
    const char* why;
  };
  std::filesystem::create_directory(dir_.File("folder"));
  const Case cases[] = {
      {dir_.File("in.txt"), dir_.File("folder"),
       "File access denied (Is a directory): \"" + dir_.File("folder") + "\"",
       "a folder as target"},
      {dir_.File("in.txt"), "/dev/full", "Disk full: \"/dev/full\"", "a full disk"},
      {dir_.File("in.txt"), dir_.File("missing/deeper/out.txt"),
       "Invalid filename (a folder on the path does not exist): \"" +
           dir_.File("missing/deeper/out.txt") + "\"",
       "a missing folder on the path"},
      {dir_.File("folder"), dir_.File("out2.txt"),
       "Cannot open file \"" + dir_.File("folder") + "\". Is a directory",
       "a source that cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    try {
      ConvertFile(lists_, c.source, c.target, {});
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("out2.txt")))
      << "the target is not touched when the source fails";
  EXPECT_FALSE(std::filesystem::exists(dir_.File("missing")));
}

TEST_F(Batch, ReadOnlyTargetFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "file modes do not stop root";
  WriteFile(dir_.File("in.txt"), G("刘德华\r\n"));
  std::filesystem::create_directory(dir_.File("ro"));
  ::chmod(dir_.File("ro").c_str(), 0555);
  EXPECT_THROW(
      {
        try {
          ConvertFile(lists_, dir_.File("in.txt"), dir_.File("ro/out.txt"), {});
        } catch (const InOutError& e) {
          EXPECT_STREQ(e.what(), "File access denied");
          throw;
        }
      },
      InOutError);
}

// Wade-Giles without its mapping pair, or with a damaged one, is an error naming the files,
// raised before the target is touched; Hanyu Pinyin needs no mapping.
TEST_F(Batch, WadeGilesWithoutAWholeMappingPairIsAnError) {
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  const std::string han = dir_.File("pinyin_han.dll"), wei = dir_.File("pinyin_wei.dll");
  const std::string shippedHan = ReadFile(han), shippedWei = ReadFile(wei);
  struct Row {
    const char* why;
    std::function<void()> damage;
    std::string message;
  } rows[] = {
      {"no mapping at all", [&] { std::filesystem::remove(han), std::filesystem::remove(wei); },
       "Wade-Giles needs the syllable mapping \"" + han + "\", which is missing or empty"},
      {"no spellings", [&] { std::filesystem::remove(wei); },
       "Wade-Giles needs the syllable mapping \"" + wei + "\", which is missing or empty"},
      {"an empty syllable file", [&] { WriteFile(han, ""); },
       "Wade-Giles needs the syllable mapping \"" + han + "\", which is missing or empty"},
      {"a spelling missing",
       [&] {
         WriteFile(wei, shippedWei.substr(0, shippedWei.rfind("\r\n", shippedWei.size() - 3) + 2));
       },
       "The syllable mapping is damaged: \"" + han + "\" holds " +
           std::to_string(SplitLines(shippedHan).size()) + " syllables, \"" + wei + "\" " +
           std::to_string(SplitLines(shippedHan).size() - 1) + " spellings"},
  };
  ConversionOptions wade;
  wade.romanization = Romanization::kWadeGiles;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    WriteFile(han, shippedHan);
    WriteFile(wei, shippedWei);
    row.damage();
    WriteFile(dir_.File("out.txt"), "earlier\r\n");
    TargetLeft left;
    try {
      ConvertFile(lists_, dir_.File("names.txt"), dir_.File("out.txt"), wade, {}, &left);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), row.message);
    }
    EXPECT_EQ(left.kind, TargetLeft::Kind::kUntouched);
    EXPECT_EQ(ReadFile(dir_.File("out.txt")), "earlier\r\n");
    EXPECT_EQ(Convert(G("刘德华\r\n")), "De-hua Liu\r\n") << "Hanyu Pinyin needs no mapping";
  }
}

TEST_F(Batch, AFailureMidRunKeepsTheLinesBeforeIt) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("欧阳"), G("赵")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"ouyang"}));  // 赵 has no partner line
  try {
    Convert(G("刘德华\r\n欧阳修\r\n赵四\r\n张三\r\n"));
    FAIL() << "no error";
  } catch (const ListIndexError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "De-hua Liu\r\nXiu Ouyang\r\n");
}

TEST_F(Batch, ADictionaryEditedDuringARunAppliesFromTheNextLine) {
  const size_t lines = 100000;  // progress comes every 1024 lines
  std::string source;
  for (size_t i = 0; i < lines; ++i) source += G("赵\r\n");
  WriteFile(dir_.File("in.txt"), source);
  std::vector<std::pair<size_t, size_t>> reports;
  ConversionOptions surnameFirst;
  surnameFirst.format = NameFormat::kSurnameGiven;
  ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), surnameFirst,
              [&](size_t done, size_t total) {
                reports.emplace_back(done, total);
                if (reports.size() == 1) {
                  WriteFile(dir_.File("define_han.dll"), CrLf({G("赵")}));
                  WriteFile(dir_.File("define_py.dll"), CrLf({"chiu"}));
                }
              });
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back(), std::make_pair(lines, lines));
  const size_t edited = reports.front().first;
  const std::string out = ReadFile(dir_.File("out.txt"));
  std::string expected;
  for (size_t i = 0; i < lines; ++i) expected += i < edited ? "zhao \r\n" : "chiu \r\n";
  EXPECT_EQ(FirstDifferentLine(out, expected), "");
}

// Output is invisible until a block of it is written, so that is when the list files must be
// checked: an edit finished while a block is being written applies to every name of the next
// block, from its first line on. A pipe makes the moment exact: a block is far larger than the
// pipe holds, so the run stays inside the write of block k until the reader takes it, and the
// reader edits the dictionary after taking the first bytes of block 1 and again of block 2.
TEST_F(Batch, AnEditMadeWhileABlockIsWrittenAppliesFromTheNextBlockOn) {
  const std::string a(100, 'a'), b(100, 'b'), c(100, 'c');  // three readings of equal length
  const size_t lineBytes = a.size() + 3;                    // "aaa... \r\n" (surname only)
  const size_t perBlock = (kOutputBlockBytes + lineBytes - 1) / lineBytes;
  const size_t lines = perBlock * 3 + perBlock / 2;
  std::string source;
  for (size_t i = 0; i < lines; ++i) source += G("赵\r\n");
  ConversionOptions surnameFirst;
  surnameFirst.format = NameFormat::kSurnameGiven;
  for (auto watch : {ListFiles::ChangeWatch::kAuto, ListFiles::ChangeWatch::kCompareFiles}) {
    SCOPED_TRACE(watch == ListFiles::ChangeWatch::kAuto ? "inotify" : "comparing files");
    auto setReading = [&](const std::string& reading) {
      WriteFile(dir_.File("define_han.dll"), CrLf({G("赵")}));
      WriteFile(dir_.File("define_py.dll"), CrLf({reading}));
    };
    setReading(a);
    ListFiles lists(dir_.Path(), watch);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::fcntl(pipeFds[1], F_SETPIPE_SZ, 65536);
    std::string out;
    std::thread reader([&] {
      char chunk[4096];
      bool editedOnce = false, editedTwice = false;
      for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
        out.append(chunk, static_cast<size_t>(n));
        if (!editedOnce) {
          setReading(b);  // block 1 is being written
          editedOnce = true;
        } else if (!editedTwice && out.size() > perBlock * lineBytes) {
          setReading(c);  // block 2 is being written
          editedTwice = true;
        }
      }
    });
    const BatchReport report = ConvertBytes(lists, source, pipeFds[1], "pipe", surnameFirst);
    ::close(pipeFds[1]);
    reader.join();
    ::close(pipeFds[0]);
    EXPECT_EQ(report.lines, lines);
    std::string expected;
    for (size_t i = 0; i < lines; ++i)
      expected += (i < perBlock ? a : i < 2 * perBlock ? b : c) + " \r\n";
    EXPECT_EQ(FirstDifferentLine(out, expected), "");
  }
}

// A progress callback stops a run by throwing ConversionCancelled: it comes often enough for a
// window's Cancel to land at once, and passes through as it was thrown.
TEST_F(Batch, AProgressCallbackThatThrowsStopsTheRun) {
  const size_t lines = 100000;
  std::string source;
  for (size_t i = 0; i < lines; ++i) source += G("刘德华\r\n");
  WriteFile(dir_.File("in.txt"), source);
  size_t lastDone = 0;
  size_t calls = 0;
  EXPECT_THROW(ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {},
                           [&](size_t done, size_t total) {
                             EXPECT_EQ(total, lines);
                             EXPECT_LE(done - lastDone, 1024u)
                                 << "progress too seldom to cancel at once";
                             lastDone = done;
                             if (++calls == 3) throw ConversionCancelled();
                           }),
               ConversionCancelled);
  EXPECT_EQ(calls, 3u);
  EXPECT_LT(lastDone, lines);
}

// The report counts the names written and those holding the "???" marker.
TEST_F(Batch, TheReportCountsLinesAndLinesWithTheMarker) {
  WriteFile(dir_.File("in.txt"), G("刘德华\r\n\r\n张三\r\n\r\n"));
  const BatchReport report = ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {});
  EXPECT_EQ(report.lines, 4u);
  const std::string out = ReadFile(dir_.File("out.txt"));
  size_t marked = 0;
  for (size_t at = 0, end; (end = out.find("\r\n", at)) != std::string::npos; at = end + 2)
    if (out.substr(at, end - at).find("???") != std::string::npos) ++marked;
  EXPECT_EQ(report.linesWithMarker, marked);
  EXPECT_EQ(marked, 2u) << out;  // a blank line has no surname: " ???"
}

// Names of everything in a folder, to see that no temporary file is left behind (the data
// folder's lock file, made by the first load, belongs there and is left out).
std::set<std::string> FolderListing(const std::string& dir) { return test::FolderContents(dir); }

// Runs `body` in a child process and returns its exit status (-1: killed by a signal).
int InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A list error on line 3 (赵 has a key line but no reading line) stops a run part way.
class BatchFailure : public Batch {
 protected:
  void SetUp() override {
    Batch::SetUp();
    WriteFile(dir_.File("define_han.dll"), CrLf({G("欧阳"), G("赵")}));
    WriteFile(dir_.File("define_py.dll"), CrLf({"ouyang"}));
  }
  const std::string names_ = G("刘德华\r\n欧阳修\r\n赵四\r\n张三\r\n李四\r\n");
};

TEST_F(BatchFailure, ASourceConvertedOntoItselfKeepsEveryNameWhenTheRunFails) {
  WriteFile(dir_.File("names.txt"), names_);
  const auto before = FolderListing(dir_.Path());
  EXPECT_THROW(ConvertFile(lists_, dir_.File("names.txt"), dir_.File("names.txt"), {}),
               ListIndexError);
  EXPECT_EQ(U(ReadFile(dir_.File("names.txt"))), U(names_));
  EXPECT_EQ(FolderListing(dir_.Path()), before) << "no temporary file left";

  // The same file reached through a symbolic link or a second hard link is still the source.
  std::filesystem::create_symlink(dir_.File("names.txt"), dir_.File("link.txt"));
  std::filesystem::create_hard_link(dir_.File("names.txt"), dir_.File("hard.txt"));
  EXPECT_THROW(ConvertFile(lists_, dir_.File("names.txt"), dir_.File("link.txt"), {}),
               ListIndexError);
  EXPECT_THROW(ConvertFile(lists_, dir_.File("hard.txt"), dir_.File("names.txt"), {}),
               ListIndexError);
  EXPECT_EQ(U(ReadFile(dir_.File("names.txt"))), U(names_));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.txt")));
}

// A failed or cancelled run never replaces a file that stood at the target; where none stood,
// the whole lines converted before the failure are kept, and TargetLeft says which.
TEST_F(BatchFailure, AnEarlierTargetIsKeptAndANewOneHoldsTheLinesBeforeTheFailure) {
  WriteFile(dir_.File("names.txt"), names_);
  WriteFile(dir_.File("out.txt"), "an older result\r\n");
  const auto before = FolderListing(dir_.Path());
  TargetLeft left;
  EXPECT_THROW(ConvertFile(lists_, dir_.File("names.txt"), dir_.File("out.txt"), {}, {}, &left),
               ListIndexError);
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "an older result\r\n");
  EXPECT_EQ(left.kind, TargetLeft::Kind::kEarlierKept);
  EXPECT_EQ(FolderListing(dir_.Path()), before) << "no temporary file left";

  EXPECT_THROW(ConvertFile(lists_, dir_.File("names.txt"), dir_.File("new.txt"), {}, {}, &left),
               ListIndexError);
  EXPECT_EQ(ReadFile(dir_.File("new.txt")), "De-hua Liu\r\nXiu Ouyang\r\n");
  EXPECT_EQ(left.kind, TargetLeft::Kind::kLinesKept);
  EXPECT_EQ(left.lines, 2u);

  // A stream gets the lines as they go.
  EXPECT_THROW(ConvertFile(lists_, dir_.File("names.txt"), "/dev/null", {}, {}, &left),
               ListIndexError);
  EXPECT_EQ(left.kind, TargetLeft::Kind::kStreamed);
  EXPECT_EQ(left.lines, 2u);

  // A source that cannot be read leaves the target untouched.
  EXPECT_THROW(ConvertFile(lists_, dir_.File("missing.txt"), dir_.File("out.txt"), {}, {}, &left),
               FileOpenError);
  EXPECT_EQ(left.kind, TargetLeft::Kind::kUntouched);
}

// A cancel is a failure like any other: the earlier file stays.
TEST_F(Batch, ACancelledRunKeepsTheEarlierTarget) {
  std::string names;
  for (int i = 0; i < 10000; ++i) names += G("刘德华\r\n");
  WriteFile(dir_.File("names.txt"), names);
  WriteFile(dir_.File("out.txt"), "the earlier output\r\n");
  TargetLeft left;
  EXPECT_THROW(ConvertFile(
                   lists_, dir_.File("names.txt"), dir_.File("out.txt"), {},
                   [](size_t done, size_t) {
                     if (done >= 2048) throw ConversionCancelled();
                   },
                   &left),
               ConversionCancelled);
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "the earlier output\r\n");
  EXPECT_EQ(left.kind, TargetLeft::Kind::kEarlierKept);
}

// A file size limit in a child process: the disk "fills" part way through a run. The limit's
// signal does not kill the run: it fails with a message.
TEST_F(Batch, AFileSizeLimitPartWayKeepsEveryEarlierFileOrTheWholeLinesBefore) {
  std::string names;
  for (int i = 0; i < 3750; ++i) names += G(i % 2 ? "刘德华\r\n" : "欧阳修\r\n");
  WriteFile(dir_.File("names.txt"), names);
  const auto before = FolderListing(dir_.Path());
  auto convertWithLimit = [&](const std::string& target) {
    return InChild([&] {
      struct rlimit limit {
        20000, 20000
      };
      ::setrlimit(RLIMIT_FSIZE, &limit);
      try {
        ConvertFile(lists_, dir_.File("names.txt"), target, {});
      } catch (const InOutError& e) {
        return std::string(e.what()).find("File too large") != std::string::npos ? 0 : 2;
      } catch (...) {
        return 3;
      }
      return 1;
    });
  };
  // The converted text is longer than the names, so the limit stops the self-conversion.
  ASSERT_GT(names.size(), 20000u - 10000u);
  EXPECT_EQ(convertWithLimit(dir_.File("names.txt")), 0);
  EXPECT_EQ(ReadFile(dir_.File("names.txt")), names) << "all 3,750 names are still there";
  EXPECT_EQ(FolderListing(dir_.Path()), before);

  EXPECT_EQ(convertWithLimit(dir_.File("out.txt")), 0);
  const std::string out = ReadFile(dir_.File("out.txt"));
  std::string full;
  for (int i = 0; i < 3750; ++i) full += i % 2 ? "De-hua Liu\r\n" : "Xiu Ouyang\r\n";
  EXPECT_GT(out.size(), 10000u);
  EXPECT_LE(out.size(), 20000u);
  EXPECT_EQ(full.substr(0, out.size()), out) << "the lines before the failure";
  EXPECT_TRUE(out.ends_with("\r\n")) << "and no piece of the line that failed";

  EXPECT_EQ(convertWithLimit(dir_.File("out.txt")), 0);
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), out)
      << "a second failed run keeps the first one's file";
}

TEST_F(Batch, TwoRunsOnOneTargetNeverMix) {
  // Big enough that the two runs overlap, with results of different lengths so that any mix
  // shows; each must come out whole, the last to finish winning.
  std::string a, b, expectedA, expectedB;
  for (int i = 0; i < 200000; ++i) {
    a += G("赵\r\n");
    expectedA += " Zhao\r\n";
    b += G("欧阳修\r\n");
    expectedB += "Xiu Ouyang\r\n";
  }
  WriteFile(dir_.File("a.txt"), a);
  WriteFile(dir_.File("b.txt"), b);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::fflush(nullptr);
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
      children[k] = ::fork();
      if (children[k] == 0) {
        ::close(start[1]);
        char c;
        if (::read(start[0], &c, 1) < 0) ::_exit(4);  // both start when the parent closes the pipe
        ListFiles lists(dir_.Path());
        try {
          ConvertFile(lists, dir_.File(k ? "b.txt" : "a.txt"), dir_.File("out.txt"), {});
        } catch (...) {
          ::_exit(1);
        }
        ::_exit(0);
      }
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t child : children) {
      int status = 0;
      ::waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string out = ReadFile(dir_.File("out.txt"));
    EXPECT_TRUE(out == expectedA || out == expectedB) << out.size() << " bytes, a mix";
  }
  for (const auto& name : FolderListing(dir_.Path()))
    EXPECT_EQ(name.find("quorvel-"), std::string::npos) << name;
}

// A run removes the temporaries that killed runs left in its target's folder: its own, of the
// exact pattern, that nobody holds locked. Others' files and a live run's temporary stay.
TEST_F(Batch, ARunRemovesTheTemporariesOfKilledRunsOnly) {
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  auto plant = [&](const std::string& name, long ageSeconds) {
    WriteFile(dir_.File(name), "partial");
    struct timespec times[2] = {{::time(nullptr) - ageSeconds, 0},
                                {::time(nullptr) - ageSeconds, 0}};
    ::utimensat(AT_FDCWD, dir_.File(name).c_str(), times, 0);
  };
  plant(".out.txt.quorvel-Ab3dE6gH9jK1", 60);  // a killed run's
  plant(".other.txt.quorvel-Zz9yY8xX7wW6",
        60);                                  // another target's killed run: same folder, same rule
  plant(".out.txt.quorvel-fresh0000000", 0);  // just made: its writer may not have locked it yet
  plant(".out.txt.quorvel-Ab3dE6gH9jK", 60);  // not the exact pattern
  plant("out.txt.quorvel-Ab3dE6gH9jK1", 60);
  plant(".out.txt.quorvel-mine", 60);
  plant(".held.txt.quorvel-Ab3dE6gH9jK1", 60);  // a live run's, locked
  int held = ::open(dir_.File(".held.txt.quorvel-Ab3dE6gH9jK1").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("out.txt"), {});
  ::close(held);
  EXPECT_EQ(
      FolderListing(dir_.Path()),
      (std::set<std::string>{
          "names.txt", "out.txt", ".out.txt.quorvel-fresh0000000", ".out.txt.quorvel-Ab3dE6gH9jK",
          "out.txt.quorvel-Ab3dE6gH9jK1", ".out.txt.quorvel-mine", ".held.txt.quorvel-Ab3dE6gH9jK1",
          "define_han.dll", "define_py.dll", "define_wei_han.dll", "define_wei_py.dll",
          "define_name_han.dll", "define_name_py.dll", "pinyin_han.dll", "pinyin_wei.dll"}));

  // A run killed part way leaves its temporary; the next run removes it once it is old enough.
  std::string many;
  for (int i = 0; i < 300000; ++i) many += G("刘德华\r\n");
  WriteFile(dir_.File("many.txt"), many);
  const std::set<std::string> before = FolderListing(dir_.Path());
  EXPECT_EQ(InChild([&] {
              ConvertFile(lists_, dir_.File("many.txt"), dir_.File("big.txt"), {},
                          [](size_t done, size_t) {
                            if (done >= 100000) ::raise(SIGKILL);
                          });
              return 0;
            }),
            -1);
  std::string left;
  for (const auto& name : FolderListing(dir_.Path()))
    if (!before.count(name)) left = name;
  ASSERT_TRUE(IsTargetTemporaryName(left)) << left;
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("out.txt"), {});
  EXPECT_TRUE(std::filesystem::exists(dir_.File(left))) << "too young to tell";
  struct timespec old[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
  ::utimensat(AT_FDCWD, dir_.File(left).c_str(), old, 0);
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("out.txt"), {});
  EXPECT_FALSE(std::filesystem::exists(dir_.File(left)));
}

TEST_F(Batch, AReplacedTargetKeepsItsModeAndALinkedTargetItsLink) {
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  WriteFile(dir_.File("private.txt"), "old\r\n");
  ::chmod(dir_.File("private.txt").c_str(), 0640);
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("private.txt"), {});
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("private.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(dir_.File("private.txt")), "De-hua Liu\r\n");

  // A new target gets the usual mode of a new file.
  const mode_t mask = ::umask(022);
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("new.txt"), {});
  ::umask(mask);
  ASSERT_EQ(::stat(dir_.File("new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  // A symbolic link (also one pointing nowhere yet) is followed to its final file, in another
  // folder; the link stays a link.
  std::filesystem::create_directory(dir_.File("elsewhere"));
  std::filesystem::create_symlink("elsewhere/final.txt", dir_.File("link.txt"));
  std::filesystem::create_symlink("link.txt", dir_.File("link2.txt"));
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("link2.txt"), {});
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link2.txt")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.txt")));
  EXPECT_EQ(ReadFile(dir_.File("elsewhere/final.txt")), "De-hua Liu\r\n");
  EXPECT_EQ(FolderListing(dir_.File("elsewhere")), std::set<std::string>{"final.txt"});

  // A device is written as a stream, never replaced.
  ConvertFile(lists_, dir_.File("names.txt"), "/dev/null", {});
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A target that names one of the program's own descriptors, also through links, is written to
// that descriptor where it stands: ">> log" appends, nothing replaces the file behind it. A pipe
// stays a pipe.
TEST_F(Batch, OwnDescriptorsAndPipesAreWrittenInPlace) {
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  std::filesystem::create_symlink("/dev/stdout", dir_.File("to-stdout"));
  struct Row {
    std::string target;
    int fd;
    const char* why;
  } rows[] = {
      {"/dev/stdout", STDOUT_FILENO, "standard output by its name"},
      {dir_.File("to-stdout"), STDOUT_FILENO, "a link to it"},
      {"/dev/fd/7", 7, "a descriptor by number"},
      {"/proc/self/fd/7", 7, "through /proc"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    WriteFile(dir_.File("log"), "earlier\r\n");
    EXPECT_EQ(InChild([&] {
                int log = ::open(dir_.File("log").c_str(), O_WRONLY | O_APPEND);
                if (log < 0 || ::dup2(log, row.fd) < 0) return 2;
                ConvertFile(lists_, dir_.File("names.txt"), row.target, {});
                return 0;
              }),
              0);
    EXPECT_EQ(ReadFile(dir_.File("log")), "earlier\r\nDe-hua Liu\r\n");
  }
  EXPECT_EQ(InChild([&] {
              ::close(9);
              try {
                ConvertFile(lists_, dir_.File("names.txt"), "/dev/fd/9", {});
              } catch (const InOutError&) {
                return 0;
              }
              return 1;
            }),
            0)
      << "a closed descriptor is an error, not a file created somewhere";

  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  std::string fromPipe;
  std::thread reader([&] { fromPipe = ReadFile(dir_.File("fifo")); });
  ConvertFile(lists_, dir_.File("names.txt"), dir_.File("fifo"), {});
  reader.join();
  EXPECT_EQ(fromPipe, "De-hua Liu\r\n");
  struct stat st {};
  ASSERT_EQ(::lstat(dir_.File("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// WriteTextTarget, the dictionary export's writer, follows the same rules.
TEST_F(Batch, ATextTargetFollowsTheConversionsRules) {
  std::filesystem::create_directory(dir_.File("elsewhere"));
  std::filesystem::create_symlink("elsewhere/final.txt", dir_.File("link.txt"));
  WriteTextTarget(dir_.File("link.txt"), "a\tb\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.txt")));
  EXPECT_EQ(ReadFile(dir_.File("elsewhere/final.txt")), "a\tb\n");
  WriteFile(dir_.File("private.txt"), "old");
  ::chmod(dir_.File("private.txt").c_str(), 0600);
  WriteTextTarget(dir_.File("private.txt"), "new");
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("private.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFile(dir_.File("private.txt")), "new");
  WriteTextTarget("/dev/null", "x");
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(Batch, AReadOnlyTargetIsRefusedNotReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "file modes do not stop root";
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  WriteFile(dir_.File("ro.txt"), "kept\r\n");
  ::chmod(dir_.File("ro.txt").c_str(), 0444);
  try {
    ConvertFile(lists_, dir_.File("names.txt"), dir_.File("ro.txt"), {});
    ADD_FAILURE() << "no error";
  } catch (const InOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
  EXPECT_EQ(ReadFile(dir_.File("ro.txt")), "kept\r\n");
}

// "-" stands for standard input as the source and standard output as the target.
TEST_F(Batch, DashReadsStandardInputAndWritesStandardOutput) {
  WriteFile(dir_.File("stdin.txt"), G("刘德华\r\n"));
  WriteFile(dir_.File("in.txt"), G("赵\r\n"));
  // Runs `convert` with standard input read from stdin.txt and standard output caught in
  // stdout.txt; returns what it wrote there.
  auto withStreams = [&](const std::function<void()>& convert) {
    const int savedIn = ::dup(STDIN_FILENO), savedOut = ::dup(STDOUT_FILENO);
    const int in = ::open(dir_.File("stdin.txt").c_str(), O_RDONLY);
    const int out = ::open(dir_.File("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::fflush(stdout);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    std::string failure;
    try {
      convert();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    ::dup2(savedIn, STDIN_FILENO);
    ::dup2(savedOut, STDOUT_FILENO);
    for (int fd : {savedIn, savedOut, in, out}) ::close(fd);
    EXPECT_EQ(failure, "");
    return ReadFile(dir_.File("stdout.txt"));
  };
  EXPECT_EQ(withStreams([&] { ConvertFile(lists_, "-", "-", {}); }), "De-hua Liu\r\n");
  EXPECT_EQ(withStreams([&] { ConvertFile(lists_, dir_.File("in.txt"), "-", {}); }), " Zhao\r\n");
  EXPECT_EQ(withStreams([&] { ConvertFile(lists_, "-", dir_.File("out.txt"), {}); }), "");
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "De-hua Liu\r\n");
}

// Runs in this scope see QUORVEL_THREADS set to `threads` ("1" or "2").
class ThreadCount {
 public:
  explicit ThreadCount(const char* threads) { ::setenv("QUORVEL_THREADS", threads, 1); }
  ~ThreadCount() { ::unsetenv("QUORVEL_THREADS"); }
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;
};

// What a run did: the target, the report, every call of the line hook and, when it stopped part
// way, the error and what it left at the target.
struct RunOutcome {
  std::string target, error;
  BatchReport report;
  std::vector<std::string> hooked;  // "number|name|output" of each call
  TargetLeft left;
  std::vector<std::string> seen;  // the same, where a test keeps two lists
};

// Two runs of one source that must agree: the same target, error, counts and lines left.
static void ExpectSameRun(const RunOutcome& got, const RunOutcome& want) {
  EXPECT_EQ(FirstDifferentLine(got.target, want.target), "");
  EXPECT_EQ(got.error, want.error);
  EXPECT_EQ(got.report.lines, want.report.lines);
  EXPECT_EQ(got.report.linesWithMarker, want.report.linesWithMarker);
  EXPECT_EQ(got.report.invalidSequences, want.report.invalidSequences);
  EXPECT_EQ(got.left.lines, want.left.lines);
}

// A large source converts on two threads exactly as on one: the same target bytes, report and
// line hook calls, in every encoding, and a run stopped part way (a cancel, a list error on a
// line, a line too long) leaves the same lines and the same error. The sources span several
// chunks of lines, and an edit of the dictionary lands in the middle of one: the lines after it
// read the new reading on either count of threads.
TEST_F(Batch, TwoThreadsWriteWhatOneWrites) {
  constexpr size_t kLines = 10 * kCheckEvery + 123;
  const std::vector<std::string> surnames = {"刘", "王", "赵", "欧阳", "单", "司马", "吕"};
  const std::vector<std::string> given = {"德", "华", "小", "明", "强", "丽", "乐", "长", "𪚥"};
  auto names = [&](size_t lines) {
    std::string utf8;
    for (size_t i = 0; i < lines; ++i) {
      if (i % 1009 == 0) utf8 += "买买提·艾力";
      else if (i % 997 != 0) utf8 += surnames[i % surnames.size()] + given[i * 7 % given.size()];
      if (i % 3 == 0) utf8 += given[i * 13 % given.size()];
      utf8 += i % 5 == 0 ? "\n" : "\r\n";
    }
    return utf8;
  };
  const std::string utf8 = names(kLines);
  auto utf16le = [](const std::string& text) {
    std::u16string units = u"\uFEFF";
    for (size_t i = 0; i < text.size();) {
      char32_t cp;
      const size_t n = DecodeUtf8(std::string_view(text).substr(i), &cp);
      i += n;
      if (cp >= 0x10000) {
        units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        units += static_cast<char16_t>(cp);
      }
    }
    std::string bytes;
    for (char16_t u : units) bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    return bytes;
  };
  std::string damagedUtf8 = utf8;
  for (size_t at = 1000; (at = damagedUtf8.find('\n', at)) != std::string::npos; at += 40000)
    damagedUtf8.insert(at + 1, "\xFF");  // at the start of a line
  std::string tooLong = G(names(20000));
  tooLong += std::string(kLongestLineBytes + 1, 'x') + "\r\n" + G(names(10));
  // Far enough in for the second thread to read it ahead while the first writes.
  const std::string tooLongLater =
      names(40000) + std::string(kLongestLineBytes + 1, 'x') + "\r\n" + names(10);

  enum class Twist { kNone, kEditAt2048, kCancelAt17408, kListErrorOnLine18000 };
  const struct {
    const char* what;
    std::string source;
    Twist twist;
    size_t longLine = 0;  // the number of a line too long, if any
  } cases[] = {
      {"GBK", G(utf8), Twist::kNone},
      {"UTF-8 with damaged bytes", damagedUtf8, Twist::kNone},
      {"UTF-16LE", utf16le(utf8), Twist::kNone},
      {"GBK, the dictionary edited after line 2048", G(utf8), Twist::kEditAt2048},
      {"UTF-8, cancelled after line 17408", utf8, Twist::kCancelAt17408},
      {"GBK, a list error on line 18000", G(names(17999) + "龘\r\n" + names(3000)),
       Twist::kListErrorOnLine18000},
      {"GBK, line 20001 too long", tooLong, Twist::kNone, 20001},
      {"UTF-8, line 40001 too long", tooLongLater, Twist::kNone, 40001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir_.File("in.txt"), c.source);
    auto run = [&](const char* threads) {
      const ThreadCount count(threads);
      WriteFile(dir_.File("define_han.dll"),
                CrLf(c.twist == Twist::kListErrorOnLine18000 ? std::vector{G("欧阳"), G("龘")}
                                                             : std::vector{G("欧阳")}));
      WriteFile(dir_.File("define_py.dll"), CrLf({"ouyang"}));
      ::unlink(dir_.File("out.txt").c_str());
      RunOutcome outcome;
      size_t reports = 0;
      const ProgressFn progress = [&](size_t done, size_t) {
        ++reports;
        if (c.twist == Twist::kEditAt2048 && done == 2048) {
          WriteFile(dir_.File("define_han.dll"), CrLf({G("欧阳"), G("赵")}));
          WriteFile(dir_.File("define_py.dll"), CrLf({"ouyang", "chiu"}));
        }
        if (c.twist == Twist::kCancelAt17408 && done == 17408) throw ConversionCancelled();
      };
      const LineFn hook = [&](size_t number, std::string_view name, std::string_view output) {
        outcome.hooked.push_back(std::to_string(number) + "|" + std::string(name) + "|" +
                                 std::string(output));
      };
      try {
        outcome.report = ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {},
                                     progress, &outcome.left, {}, hook);
      } catch (const std::exception& e) {
        outcome.error = e.what();
      }
      outcome.target = ReadFile(dir_.File("out.txt"));
      EXPECT_GT(reports, 2u);
      return outcome;
    };
    const RunOutcome one = run("1"), two = run("2");
    ExpectSameRun(two, one);
    EXPECT_EQ(two.report.encoding, one.report.encoding);
    EXPECT_EQ(two.left.kind, one.left.kind);
    ASSERT_EQ(two.hooked.size(), one.hooked.size());
    for (size_t k = 0; k < one.hooked.size(); ++k)
      ASSERT_EQ(two.hooked[k], one.hooked[k]) << "hook call " << k + 1;

    // What each twist must have done, on either count.
    const size_t written = std::count(one.target.begin(), one.target.end(), '\n');
    switch (c.twist) {
      case Twist::kNone:
        if (one.error.empty()) {
          EXPECT_EQ(written, kLines);
          EXPECT_GT(one.report.linesWithMarker, 0u);  // the lines of 𪚥 and the blank ones
        } else {
          EXPECT_EQ(one.error, "Line " + std::to_string(c.longLine) + " of \"" +
                                   dir_.File("in.txt") + "\" is longer than 1 MiB");
          EXPECT_EQ(written, c.longLine - 1);
        }
        break;
      case Twist::kEditAt2048: {
        EXPECT_EQ(written, kLines);
        // The 赵 lines just before and after the edit.
        size_t before = 2047, after = 2048;
        while (before % surnames.size() != 2) --before;
        while (after % surnames.size() != 2) ++after;
        EXPECT_NE(one.hooked[before].find("Zhao"), std::string::npos) << U(one.hooked[before]);
        EXPECT_NE(one.hooked[after].find("Chiu"), std::string::npos) << U(one.hooked[after]);
        break;
      }
      case Twist::kCancelAt17408:
        EXPECT_EQ(one.error, ConversionCancelled().what());
        EXPECT_EQ(one.left.kind, TargetLeft::Kind::kLinesKept);
        EXPECT_EQ(one.left.lines, 17408u);
        EXPECT_EQ(written, 17408u);
        break;
      case Twist::kListErrorOnLine18000:
        EXPECT_EQ(one.error, "List index out of bounds (1)");
        EXPECT_EQ(written, 17999u);
        break;
    }
  }
}

// One thread takes GB18030 and UTF-8 lines written from forms many at a time; every other line,
// and every line on two threads or with a hook that sees each, goes one at a time. Both ways give
// the same target, report and hook calls: across line ends of every kind (one CR LF split by the
// reader's block boundary), NULs and stray bytes, trimmed and blank lines, lines the walk writes,
// lines with "???", readings not in ASCII for a UTF-8 target, a watch that wants some lines, and
// a dictionary edit that the next check applies.
TEST_F(Batch, LinesTakenManyAtATimeAreTheLinesTakenOneAtATime) {
  const std::vector<std::string> plain = {"刘德华", "王小明", "张强", "李丽", "陈小明", "吕乐丽"};
  const std::vector<std::string> odd = {
      "欧阳修", "司马光",      "张、",     " 李四\t",        "",     "吕𪚥", "Li Si",
      "龘龘",   "买买提·艾力", "赵\x01明", "刘德华强丽明小", "王明", "赵",   "欧丽华",
      "欧明强", "李丽",        "张强 "};
  const char* const ends[] = {"\r\n", "\n", "\r", "\r\n", "\r\n"};
  // The names in `encode`d bytes.
  auto names = [&](std::string (*encode)(std::string_view)) {
    std::string source;
    for (size_t i = 0; source.size() < (size_t{5} << 19); ++i) {
      if (source.size() < kSourceBlockBytes && source.size() + 40 > kSourceBlockBytes) {
        // A name whose CR LF is split by the reader's first block boundary.
        const std::string name = encode("刘德华");
        source += std::string(kSourceBlockBytes - 3 - name.size() - source.size(), 'x');
        source += "\r\n" + name + "\r\n";
        continue;
      }
      const std::string& name = i % 41 == 0 ? odd[i / 41 % odd.size()] : plain[i % plain.size()];
      std::string bytes = encode(name);
      if (name == "王明") bytes.insert(bytes.size() / 2, "\xFF");  // a stray byte
      source += bytes;
      if (i % 4099 == 0) source += '\0';
      source += ends[i % 5];
    }
    EXPECT_EQ(source.substr(kSourceBlockBytes - 1, 2), "\r\n");
    return source;
  };
  const std::string gbk = names(&G),
                    utf8 = names([](std::string_view s) { return std::string(s); });
  ConversionOptions umlaut;
  umlaut.umlaut = UmlautSpelling::kUmlaut;  // 吕 is "Lü": not ASCII in a UTF-8 target

  struct Watch : LineWatch {
    bool Wants(std::string_view character, KeyRole role) const override {
      return role == KeyRole::kGivenName && character == G("华");
    }
  } watch;
  enum Way { kManyAtATime, kEveryLineHooked, kTwoThreads };
  // The dictionary is edited by the progress report after line 3072, or by the hook at the first
  // "De-hua" line after line 90,000 (past the first block written); or the hook throws there.
  enum Edit { kNoEdit, kByProgress, kByHook, kHookThrows };
  auto edited = [&] {
    WriteFile(dir_.File("define_han.dll"), CrLf({G("欧阳"), G("李丽"), G("刘")}));
    WriteFile(dir_.File("define_py.dll"), CrLf({"ouyang", "lili", "lau"}));
  };
  auto run = [&](Way way, bool watched, Edit edit, const ConversionOptions& options) {
    const ThreadCount count(way == kTwoThreads ? "2" : "1");
    // Custom pairs: 欧 may start one, 阳 and 丽 end one (欧丽 is no key: 欧 alone is the surname).
    WriteFile(dir_.File("define_han.dll"), CrLf({G("欧阳"), G("李丽")}));
    WriteFile(dir_.File("define_py.dll"), CrLf({"ouyang", "lili"}));
    ::unlink(dir_.File("out.txt").c_str());  // a failed run then keeps the lines before it
    RunOutcome outcome;
    bool hookEdited = false;
    LineHook hook;
    if (watched || way == kEveryLineHooked) {
      hook = LineHook(
          [&](size_t number, std::string_view name, std::string_view output) {
            outcome.seen.push_back(std::to_string(number) + "|" + U(name) + "|" + U(output));
            if (output.find("De-hua") == std::string_view::npos) return;
            if (edit == kByHook && number > 90000 && !hookEdited) {
              edited();
              hookEdited = true;
            }
            if (edit == kHookThrows && number > 90000) throw std::runtime_error("hook stopped");
            outcome.hooked.push_back(std::to_string(number) + "|" + U(name));
          },
          watched ? &watch : nullptr);
    }
    ProgressFn progress;
    if (edit == kByProgress) {
      progress = [&](size_t done, size_t) {
        if (done == 3072) edited();
      };
    }
    try {
      outcome.report = ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), options,
                                   progress, &outcome.left, {}, hook);
    } catch (const std::exception& e) {
      outcome.error = e.what();
    }
    outcome.target = ReadFile(dir_.File("out.txt"));
    return outcome;
  };
  const struct {
    const char* what;
    const std::string& source;
    ConversionOptions options;
  } sources[] = {{"GBK", gbk, {}}, {"UTF-8", utf8, {}}, {"UTF-8, ü", utf8, umlaut}};
  for (const auto& source : sources) {
    WriteFile(dir_.File("in.txt"), source.source);
    for (const Edit edit : {kNoEdit, kByProgress, kByHook, kHookThrows}) {
      SCOPED_TRACE(std::string(source.what) + ", edit " + std::to_string(edit));
      const RunOutcome base = run(kEveryLineHooked, false, edit, source.options);
      if (edit == kHookThrows) {
        // The lines before the one the hook threw at are kept, not one after it.
        EXPECT_EQ(base.error, "hook stopped");
        EXPECT_EQ(base.left.kind, TargetLeft::Kind::kLinesKept);
        ASSERT_FALSE(base.seen.empty());
        EXPECT_EQ(std::to_string(base.left.lines + 1) + "|",
                  base.seen.back().substr(0, base.seen.back().find('|') + 1));
      } else {
        EXPECT_GT(base.report.linesWithMarker, 0u);
        EXPECT_GT(base.report.invalidSequences, 0u);
        EXPECT_EQ(base.target.find("De-hua Lau") != std::string::npos, edit != kNoEdit);
      }
      EXPECT_GT(base.hooked.size(), 1000u);
      std::vector<std::string> seenWatched;  // every call of a watched hook: the same both ways
      for (const auto& [way, watched] : {std::pair{kManyAtATime, false},
                                         {kManyAtATime, true},
                                         {kTwoThreads, false},
                                         {kTwoThreads, true}}) {
        if ((edit == kByHook || edit == kHookThrows) && !watched) continue;  // no hook
        SCOPED_TRACE(std::string(way == kManyAtATime ? "one thread" : "two threads") +
                     (watched ? ", watched" : ""));
        const RunOutcome other = run(way, watched, edit, source.options);
        ExpectSameRun(other, base);
        if (watched) {
          EXPECT_EQ(other.hooked, base.hooked);
          EXPECT_GT(other.seen.size(), other.hooked.size());  // walk and trimmed lines too
          if (seenWatched.empty()) seenWatched = other.seen;
          else EXPECT_EQ(other.seen, seenWatched);
        }
      }
    }
  }
}

// Two threads write the output in the same blocks as one: a block goes out after the line that
// fills it, never a line later or earlier, whichever thread converted the lines around it (the
// list files are checked after every block, so where a block ends decides which names an edit
// reaches). The target is a descriptor of the test's own, whose size each progress report sees.
TEST_F(Batch, TwoThreadsWriteTheBlocksOneWrites) {
  std::string utf8;
  const char* const names[] = {"刘德华", "王小明", "欧阳修", "赵", "司马相如", "吕丽"};
  for (size_t i = 0; i < 3 * kOutputBlockBytes / 10; ++i) (utf8 += names[i * 7 % 6]) += "\r\n";
  WriteFile(dir_.File("in.txt"), utf8);
  auto flushedAtReports = [&](const char* threads) {
    const ThreadCount count(threads);
    const int fd = ::open(dir_.File("out.txt").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    std::vector<off_t> sizes;
    const ProgressFn progress = [&](size_t, size_t) {
      struct stat st {};
      ::fstat(fd, &st);
      sizes.push_back(st.st_size);
    };
    ConvertFile(lists_, dir_.File("in.txt"), "/dev/fd/" + std::to_string(fd), {}, progress);
    ::close(fd);
    return sizes;
  };
  const std::vector<off_t> one = flushedAtReports("1");
  ASSERT_GE(std::set<off_t>(one.begin(), one.end()).size(), 4u) << "three blocks and the rest";
  EXPECT_EQ(flushedAtReports("2"), one);
}

TEST(ProposeTargetName, InsertsBeforeTheFirstDotOfTheFileName) {
  struct Case {
    const char* source;
    const char* target;
  };
  const Case cases[] = {
      {"/home/ann/names.txt", "/home/ann/names_en.txt"},
      {"/home/ann/names.old.txt", "/home/ann/names_en.old.txt"},
      {"/home/ann.lee/names.txt", "/home/ann.lee/names_en.txt"},
      {"/home/ann.lee/names", "/home/ann.lee/names_en"},
      {"/home/ann/.names.txt", "/home/ann/.names_en.txt"},
      {"/home/ann/.names", "/home/ann/.names_en"},
      {"names.txt", "names_en.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProposeTargetName(c.source), c.target) << c.source;
}

TEST(CreateTargetFolder, CreatesTheOneFolderOfTheTarget) {
  TempDir dir;
  CreateTargetFolder(dir.File("new/out.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("new")));
  CreateTargetFolder(dir.File("a/b/out.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("a"))) << "a missing parent is not created";
}

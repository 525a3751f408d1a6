// A dictionary pair against killed writers, concurrent readers and a hostile folder: whatever
// instant a writer dies at, the next Quorvel reader sees the old pair or the new one, never a mix.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "CustomDictionary.h"
#include "Errors.h"
#include "FaultSeams.h"
#include "Files.h"
#include "FolderLock.h"
#include "ListFiles.h"
#include "PairWrite.h"
#include "Paths.h"
#include "TestSupport.h"

namespace quorvel {
namespace {

using test::CrLf;
using test::G;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Everything in a folder, the lock file included: these tests look at it too.
std::set<std::string> FolderContents(const std::string& dir) {
  return test::FolderContents(dir, test::LockFile::kListed);
}

// Runs `body` in a child process and returns its exit status (-1: killed by a signal).
template <typename Fn>
int InChild(Fn&& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 0;
    try {
      body();
    } catch (...) {
      code = 3;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int gStopAt = -1;
void StopHere(int point) {
  if (point == gStopAt) ::_exit(42);
}

// Generation g of a pair: g % 4 + 1 entries, key "k<g>-<i>" with reading "r<g>-<i>". Returns g
// for a consistent pair (both files of generation g, line for line), -1 for a mixed one.
std::vector<std::string> GenerationLines(const char* tag, int g) {
  std::vector<std::string> lines;
  for (int i = 0; i < g % 4 + 1; ++i)
    lines.push_back(tag + std::to_string(g) + "-" + std::to_string(i));
  return lines;
}
void WriteGeneration(ListFiles& lists, int g) {
  PairWriteLock lock(lists);
  lock.WritePair(kPinyinDictionaryKeys, ListFileText(GenerationLines("k", g)),
                 kPinyinDictionaryReadings, ListFileText(GenerationLines("r", g)));
}
int GenerationOf(const ListFiles& lists) {
  const auto& keys = lists.List(kPinyinDictionaryKeys);
  if (keys.empty() || keys[0].size() < 2 || keys[0][0] != 'k') return -1;
  int g = std::atoi(keys[0].c_str() + 1);
  return keys == GenerationLines("k", g) &&
                 lists.List(kPinyinDictionaryReadings) == GenerationLines("r", g)
             ? g
             : -1;
}

class PairSafety : public ::testing::Test {
 protected:
  void TearDown() override {
    SetReplacePointHook(nullptr);
    PlantReplaceFailure(0, 0);
  }
  TempDir dir_;
};

TEST_F(PairSafety, AWriterKilledAtAnyStepLeavesTheOldOrTheNewPairForTheNextReader) {
  struct Case {
    const char* why;
    int stopAt;
    bool seesNew;
  };
  // Points of a pair replacement: 0 temporaries synced, 1 renames recorded, 2 between the renames,
  // 3 after both, 4 record removed.
  const Case cases[] = {
      {"killed with both temporaries written, nothing recorded", 0, false},
      {"killed right after the renames were recorded", 1, true},
      {"killed between the two renames", 2, true},
      {"killed after both renames, the record still there", 3, true},
      {"killed after the record was removed, old files kept aside", 4, true},
  };
  const std::vector<std::string> oldKeys = {G("张"), G("上官"), G("司马")};
  const std::vector<std::string> oldReadings = {"zhang", "Shangguan", "Sima"};
  for (const auto& c : cases) {
    for (bool deleting : {false, true}) {
      SCOPED_TRACE(std::string(c.why) + (deleting ? ", deleting the first entry" : ", updating"));
      WriteFile(dir_.File("define_han.dll"), CrLf(oldKeys));
      WriteFile(dir_.File("define_py.dll"), CrLf(oldReadings));
      std::vector<DictionaryEntry> newPair = {
          {G("张"), "Cheung"}, {G("上官"), "Shangguan"}, {G("司马"), "Sima"}};
      if (deleting) newPair.erase(newPair.begin());

      int status = InChild([&] {
        gStopAt = c.stopAt;
        SetReplacePointHook(StopHere);
        ListFiles lists(dir_.Path());
        CustomDictionary dict(lists, CustomDictionary::Kind::kStandard);
        if (deleting) dict.DeleteAt(0);
        else dict.AddOrUpdate(G("张"), "Cheung");
      });
      ASSERT_EQ(status, 42) << "the writer did not stop where it was told";

      // A reader in another process, as the next conversion would be.
      ListFiles reader(dir_.Path());
      reader.Load();
      CustomDictionary seen(reader, CustomDictionary::Kind::kStandard);
      std::vector<DictionaryEntry> oldPair;
      for (size_t i = 0; i < oldKeys.size(); ++i) oldPair.push_back({oldKeys[i], oldReadings[i]});
      EXPECT_EQ(seen.Entries(), c.seesNew ? newPair : oldPair);
      EXPECT_FALSE(PathExists(dir_.File(kPairIntentFileName))) << "the reader completed the write";
      EXPECT_EQ(ReadFile(dir_.File("define_han.dll")).size(),
                CrLf(reader.List(kPinyinDictionaryKeys)).size());

      // The next writer starts from that pair and removes what the dead one left behind.
      seen.AddOrUpdate(G("李"), "Lee");
      EXPECT_EQ(FolderContents(dir_.Path()),
                (std::set<std::string>{kLockFileName, "define_han.dll", "define_py.dll"}));
      EXPECT_EQ(seen.Entries().back(), (DictionaryEntry{G("李"), "Lee"}));
      EXPECT_EQ(seen.Entries().size(), (c.seesNew ? newPair : oldPair).size() + 1);
    }
  }
}

TEST_F(PairSafety, AWriterWhoseListsWereLoadedBeforeAnotherDiedCompletesThatWriteFirst) {
  // A window loaded the pair; then another writer died mid-pair (deleting 张). The window's next
  // change reads the pair under its own write lock, where no Load completes the record for it:
  // the writer must, or it keeps the new key file beside the old reading file ({王 | zhang}).
  struct Case {
    const char* why;
    int stopAt;
  };
  const Case cases[] = {
      {"the other writer died with its renames recorded", 1},
      {"the other writer died between its two renames", 2},
      {"the other writer died after both renames, the record still there", 3},
  };
  for (auto watch : {ListFiles::ChangeWatch::kAuto, ListFiles::ChangeWatch::kCompareFiles}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.why) +
                   (watch == ListFiles::ChangeWatch::kAuto ? ", inotify" : ", comparing files"));
      WriteFile(dir_.File("define_han.dll"), CrLf({G("张"), G("王")}));
      WriteFile(dir_.File("define_py.dll"), CrLf({"zhang", "wang"}));
      ListFiles window(dir_.Path(), watch);
      window.Load();
      CustomDictionary dict(window, CustomDictionary::Kind::kStandard);
      ASSERT_EQ(dict.Entries().size(), 2u);

      ASSERT_EQ(InChild([&] {
                  gStopAt = c.stopAt;
                  SetReplacePointHook(StopHere);
                  ListFiles other(dir_.Path());
                  CustomDictionary(other, CustomDictionary::Kind::kStandard).DeleteAt(0);
                }),
                42);
      ASSERT_TRUE(PathExists(dir_.File(kPairIntentFileName)));

      dict.AddOrUpdate(G("李"), "li");
      EXPECT_EQ(ReadFile(dir_.File("define_han.dll")), CrLf({G("王"), G("李")}));
      EXPECT_EQ(ReadFile(dir_.File("define_py.dll")), CrLf({"wang", "li"}));
      EXPECT_EQ(dict.Entries(), (std::vector<DictionaryEntry>{{G("王"), "wang"}, {G("李"), "li"}}));
      EXPECT_EQ(FolderContents(dir_.Path()),
                (std::set<std::string>{kLockFileName, "define_han.dll", "define_py.dll"}));
    }
  }
}

TEST_F(PairSafety, AFirstWriteKilledMidwayLeavesNoDictionaryOrTheWholeOne) {
  for (int stopAt : {0, 1, 2, 3}) {
    SCOPED_TRACE(stopAt);
    std::filesystem::remove(dir_.File("define_han.dll"));
    std::filesystem::remove(dir_.File("define_py.dll"));
    int status = InChild([&] {
      gStopAt = stopAt;
      SetReplacePointHook(StopHere);
      ListFiles lists(dir_.Path());
      CustomDictionary(lists, CustomDictionary::Kind::kStandard).AddOrUpdate(G("欧阳"), "Auyeung");
    });
    ASSERT_EQ(status, 42);
    ListFiles reader(dir_.Path());
    reader.Load();
    const auto entries = CustomDictionary(reader, CustomDictionary::Kind::kStandard).Entries();
    if (stopAt == 0) EXPECT_TRUE(entries.empty());
    else EXPECT_EQ(entries, (std::vector<DictionaryEntry>{{G("欧阳"), "Auyeung"}}));
  }
}

TEST_F(PairSafety, AReaderThatCannotCompleteTheRecordReadsThePairItPromises) {
  // Killed between the renames, then the lock file is replaced by a symlink, so the reader gets
  // no lock and may not touch the files (as in a folder it cannot write): it must still read the
  // new pair, not the new key file beside the old reading file.
  WriteFile(dir_.File("define_han.dll"), CrLf({G("张"), G("王")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"zhang", "wang"}));
  ASSERT_EQ(InChild([&] {
              gStopAt = 2;
              SetReplacePointHook(StopHere);
              ListFiles lists(dir_.Path());
              CustomDictionary(lists, CustomDictionary::Kind::kStandard).DeleteAt(0);
            }),
            42);
  ASSERT_TRUE(PathExists(dir_.File(kPairIntentFileName)));
  EXPECT_EQ(ReadFile(dir_.File("define_han.dll")), CrLf({G("王")}))
      << "the key file is already new";
  EXPECT_EQ(ReadFile(dir_.File("define_py.dll")), CrLf({"zhang", "wang"}))
      << "the reading file still old";
  std::filesystem::remove(dir_.File(kLockFileName));
  std::filesystem::create_symlink("elsewhere", dir_.File(kLockFileName));

  ListFiles reader(dir_.Path());
  reader.Load();
  EXPECT_EQ(reader.List(kPinyinDictionaryKeys), std::vector<std::string>{G("王")});
  EXPECT_EQ(reader.List(kPinyinDictionaryReadings), std::vector<std::string>{"wang"});
  EXPECT_TRUE(PathExists(dir_.File(kPairIntentFileName))) << "nothing was renamed without the lock";
  EXPECT_FALSE(PathExists(dir_.File("elsewhere"))) << "the planted lock link was not followed";

  // A writer refuses to work without the lock rather than write unguarded.
  CustomDictionary dict(reader, CustomDictionary::Kind::kStandard);
  EXPECT_THROW(dict.AddOrUpdate(G("李"), "li"), InOutError);
  std::filesystem::remove(dir_.File(kLockFileName));
  dict.AddOrUpdate(G("李"), "li");
  EXPECT_EQ(dict.Entries(), (std::vector<DictionaryEntry>{{G("王"), "wang"}, {G("李"), "li"}}));
}

TEST_F(PairSafety, RandomKillsNeverLeaveAMixedPair) {
  ListFiles seed(dir_.Path());
  WriteGeneration(seed, 0);
  std::mt19937 rng(20240611);
  for (int round = 0; round < 40; ++round) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ListFiles lists(dir_.Path());
      for (int g = 1;; ++g) WriteGeneration(lists, round * 100000 + g);
    }
    struct timespec pause {
      0, static_cast<long>(rng() % 20'000'000)
    };
    ::nanosleep(&pause, nullptr);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ListFiles reader(dir_.Path());
    reader.Load();
    ASSERT_NE(GenerationOf(reader), -1) << "mixed pair after kill " << round;
  }
  // The next writer leaves nothing of the dead ones behind.
  WriteGeneration(seed, 1);
  EXPECT_EQ(FolderContents(dir_.Path()),
            (std::set<std::string>{kLockFileName, "define_han.dll", "define_py.dll"}));
}

TEST_F(PairSafety, AReaderBesideAWriterOnlyEverSeesWholePairsInOrder) {
  for (auto watch : {ListFiles::ChangeWatch::kAuto, ListFiles::ChangeWatch::kCompareFiles}) {
    SCOPED_TRACE(watch == ListFiles::ChangeWatch::kAuto ? "inotify" : "comparing files");
    ListFiles seed(dir_.Path());
    WriteGeneration(seed, 0);
    constexpr int kWrites = 60;
    pid_t writer = ::fork();
    if (writer == 0) {
      ListFiles lists(dir_.Path());
      for (int g = 1; g <= kWrites; ++g) WriteGeneration(lists, g);
      ::_exit(0);
    }
    ListFiles reader(dir_.Path(), watch);
    int last = 0, reads = 0, mixed = 0, backwards = 0;
    for (bool writerDone = false; !writerDone;) {
      writerDone = ::waitpid(writer, nullptr, WNOHANG) == writer;
      reader.Refresh();
      int g = GenerationOf(reader);
      ++reads;
      if (g < 0) ++mixed;
      else if (g < last) ++backwards;
      else last = g;
    }
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(last, kWrites) << "the last read after the writer ended sees its last write";
    EXPECT_GT(reader.LoadCount(), 2u) << "the reader saw the writer's changes while they happened";
  }
}

TEST_F(PairSafety, PlantedLinksAndLeftoversNeverRedirectAWriteAndTheNextWriterClearsThem) {
  WriteFile(dir_.File("victim"), "precious\n");
  WriteFile(dir_.File("define_han.dll"), CrLf({G("张")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"zhang"}));
  // The names earlier versions used, guessed from the next pid, and leftovers of dead writers.
  const pid_t next = ::getpid() + 1;
  for (const char* name : {"define_han.dll", "define_py.dll"}) {
    for (const char* kind : {".tmp-", ".old-"})
      std::filesystem::create_symlink(dir_.File("victim"),
                                      dir_.File(name + std::string(kind) + std::to_string(next)));
  }
  WriteFile(dir_.File("define_han.dll.tmp-Ab3dE6gH9jK1"), "dead writer's temporary");
  WriteFile(dir_.File("define_wei_py.dll.old-123"), "dead writer's kept file");
  WriteFile(dir_.File(std::string(kPairIntentFileName) + ".tmp-x2Yz3Ab4Cd5E"),
            "dead writer's record, never renamed");
  std::filesystem::create_symlink(dir_.File("victim"), dir_.File(kPairIntentFileName));
  // Not a list file: none of this is a dictionary writer's to remove.
  WriteFile(dir_.File("config1.dll.tmp-77"), "a settings writer's");
  WriteFile(dir_.File("names.txt.tmp-1"), "the user's");
  // Names like a leftover's, but not of the exact pattern: the user's own files.
  const std::set<std::string> users = {"define_han.dll.old-backup-2024",
                                       "define_py.dll.tmp-mine",
                                       "define_py.dll.tmp-Ab3dE6gH9jK1x",
                                       "define_py.dll.tmp-Ab3dE6gH9jK",
                                       std::string(kPairIntentFileName) + ".tmp-x",
                                       "define_py.dll.tmp-",
                                       "define_py.dllx.tmp-Ab3dE6gH9jK1",
                                       "define_py.dll.tmp-Ab3dE6gH9-K1"};
  for (const auto& name : users) WriteFile(dir_.File(name), "the user's");

  ASSERT_EQ(InChild([&] {
              ListFiles lists(dir_.Path());
              CustomDictionary(lists, CustomDictionary::Kind::kStandard).AddOrUpdate(G("李"), "li");
            }),
            0);
  EXPECT_EQ(ReadFile(dir_.File("victim")), "precious\n");
  EXPECT_EQ(ReadFile(dir_.File("define_han.dll")), CrLf({G("张"), G("李")}));
  EXPECT_EQ(ReadFile(dir_.File("define_py.dll")), CrLf({"zhang", "li"}));
  std::set<std::string> expected = {kLockFileName, "define_han.dll",     "define_py.dll",
                                    "victim",      "config1.dll.tmp-77", "names.txt.tmp-1"};
  expected.insert(users.begin(), users.end());
  EXPECT_EQ(FolderContents(dir_.Path()), expected);

  // Temporaries get fresh, unpredictable names, created new and never through a link.
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    std::string temp;
    int fd = CreateTemporaryBeside(dir_.File("define_han.dll"), temp);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_TRUE(temp.starts_with(dir_.File("define_han.dll.tmp-")));
    EXPECT_EQ(temp.size(), dir_.File("define_han.dll.tmp-").size() + 12);
    names.insert(temp);
  }
  EXPECT_EQ(names.size(), 20u);
}

TEST_F(PairSafety, ReadersLoadWhateverStandsAtTheLocksNameAndInAMissingFolder) {
  struct Case {
    const char* why;
    std::string dir;
    std::function<void(const std::string&)> plant;
  };
  const Case cases[] = {
      {"a folder that does not exist gives empty lists", dir_.File("missing"), nullptr},
      {"a folder standing at the lock's name", dir_.File("a"),
       [](const std::string& lock) { std::filesystem::create_directory(lock); }},
      {"a dangling link at the lock's name", dir_.File("b"),
       [](const std::string& lock) { std::filesystem::create_symlink("nowhere", lock); }},
      {"a plain folder", dir_.File("c"), [](const std::string&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.plant) {
      std::filesystem::create_directory(c.dir);
      WriteFile(JoinPath(c.dir, "define_han.dll"), CrLf({G("张")}));
      WriteFile(JoinPath(c.dir, "define_py.dll"), CrLf({"Cheung"}));
      c.plant(JoinPath(c.dir, kLockFileName));
    }
    ListFiles lists(c.dir);
    EXPECT_NO_THROW(lists.Load());
    EXPECT_EQ(lists.List(kPinyinDictionaryReadings),
              c.plant ? std::vector<std::string>{"Cheung"} : std::vector<std::string>{});
    EXPECT_FALSE(PathExists(JoinPath(c.dir, "nowhere")));
  }
}

TEST_F(PairSafety, TheWholeNamesListIsAsSafeAsADictionary) {
  const std::vector<DictionaryEntry> oldList = {{G("曾参"), "zeng shen"},
                                                {G("欧阳修"), "ou yang|xiu"}};
  for (int stopAt = 0; stopAt <= 4; ++stopAt) {
    for (bool removing : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "killed at point " << stopAt << (removing ? ", removing" : ", adding"));
      WriteFile(dir_.File("define_name_han.dll"), CrLf({oldList[0].key, oldList[1].key}));
      WriteFile(dir_.File("define_name_py.dll"), CrLf({oldList[0].reading, oldList[1].reading}));
      std::vector<DictionaryEntry> newList = oldList;
      if (removing) newList.erase(newList.begin());
      else newList.push_back({G("乐嘉"), "le jia"});

      ASSERT_EQ(InChild([&] {
                  gStopAt = stopAt;
                  SetReplacePointHook(StopHere);
                  ListFiles lists(dir_.Path());
                  CustomDictionary names(lists, CustomDictionary::Kind::kWholeNames);
                  if (removing) names.RemoveKey(G("曾参"));
                  else names.AddOrUpdate(G("乐嘉"), "le jia");
                }),
                42)
          << "the writer did not stop where it was told";

      ListFiles reader(dir_.Path());
      reader.Load();
      CustomDictionary seen(reader, CustomDictionary::Kind::kWholeNames);
      EXPECT_EQ(seen.Entries(), stopAt == 0 ? oldList : newList)
          << "recorded renames are completed";
      EXPECT_FALSE(PathExists(dir_.File(kPairIntentFileName)));

      seen.AddOrUpdate(G("伍员"), "wu yun");
      EXPECT_EQ(FolderContents(dir_.Path()),
                (std::set<std::string>{kLockFileName, "define_name_han.dll", "define_name_py.dll"}))
          << "nothing of the dead writer is left";
      EXPECT_EQ(seen.Entries().back(), (DictionaryEntry{G("伍员"), "wu yun"}));
    }
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

std::vector<std::string> gWarnings;
void KeepWarning(const std::string& message) { gWarnings.push_back(message); }

// An intent record is acted on only when it is one a pair writer makes: its own record, naming
// only the list files and the writer's own temporaries. Anything else is ignored with a warning,
// touches no file, and does not stop the next write.
TEST(IntentRecord, ARecordNamingAnythingElseIsIgnoredWithAWarning) {
  const std::string temp = "define_han.dll.tmp-Ab3dE6gH9jK1";
  struct Row {
    const char* why;
    std::string record;  // "" : a pipe stands at the record's name
    bool foreign;        // the record belongs to another user
    std::string warning;
  } rows[] = {
      {"remove a file that is no list", "remove\tnotes.txt\n", false, "it names \"notes.txt\""},
      {"rename a user's file onto a list", "rename\tnotes.txt\tdefine_han.dll\n", false,
       "it names \"notes.txt\""},
      {"rename a temporary onto a user's file", "rename\t" + temp + "\tnotes.txt\n", false,
       "it names \"" + temp + "\""},
      {"a temporary of another list", "rename\tdefine_py.dll.tmp-Ab3dE6gH9jK1\tdefine_han.dll\n",
       false, "it names \"define_py.dll.tmp-Ab3dE6gH9jK1\""},
      {"a temporary not of the writer's pattern",
       "rename\tdefine_han.dll.tmp-mine\tdefine_han.dll\n", false,
       "it names \"define_han.dll.tmp-mine\""},
      {"another user's record", "rename\t" + temp + "\tdefine_han.dll\n", true,
       "it belongs to another user"},
      {"a pipe at the record's name", "", false, "it is no regular file"},
  };
  SetWarningHandler(KeepWarning);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    TempDir dir;
    WriteFile(dir.File("notes.txt"), "the user's notes");
    WriteFile(dir.File("define_han.dll"), CrLf({G("张")}));
    WriteFile(dir.File("define_py.dll"), CrLf({"zhang"}));
    WriteFile(dir.File(temp), CrLf({G("李")}));
    WriteFile(dir.File("define_py.dll.tmp-Ab3dE6gH9jK1"), CrLf({"li"}));
    const std::string recordPath = dir.File(kPairIntentFileName);
    if (row.record.empty()) {
      ASSERT_EQ(::mkfifo(recordPath.c_str(), 0600), 0);
    } else {
      WriteFile(recordPath, "quorvel intent 1\n" + row.record + "end\n");
      if (row.foreign) {
        ASSERT_EQ(::chown(recordPath.c_str(), 65534, 65534), 0);
      }
    }
    gWarnings.clear();
    ListFiles lists(dir.Path());
    lists.Load();
    EXPECT_EQ(lists.List(kPinyinDictionaryKeys), std::vector<std::string>{G("张")})
        << "read where it stands";
    ASSERT_FALSE(gWarnings.empty());
    EXPECT_NE(gWarnings.front().find(row.warning), std::string::npos) << gWarnings.front();
    EXPECT_NE(gWarnings.front().find(recordPath), std::string::npos) << gWarnings.front();
    EXPECT_EQ(ReadFile(dir.File("notes.txt")), "the user's notes");
    EXPECT_EQ(ReadFile(dir.File(temp)), CrLf({G("李")})) << "nothing renamed";

    CustomDictionary(lists, CustomDictionary::Kind::kStandard).AddOrUpdate(G("王"), "wang");
    EXPECT_EQ(ReadFile(dir.File("define_han.dll")), CrLf({G("张"), G("王")}))
        << "the next write goes through";
    EXPECT_EQ(ReadFile(dir.File("notes.txt")), "the user's notes");
  }
  SetWarningHandler(nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A pair write never gives the new files wider permissions than the old ones had.
TEST(PairWrite, NeverWidensPermissions) {
  TempDir dir;
  WriteFile(dir.File("define_han.dll"), CrLf({G("张")}));
  WriteFile(dir.File("define_py.dll"), CrLf({"zhang"}));
  ASSERT_EQ(::chmod(dir.File("define_han.dll").c_str(), 0600), 0);
  ASSERT_EQ(::chmod(dir.File("define_py.dll").c_str(), 0640), 0);
  ListFiles lists(dir.Path());
  CustomDictionary(lists, CustomDictionary::Kind::kStandard).AddOrUpdate(G("李"), "li");
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("define_han.dll").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(dir.File("define_py.dll").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadFile(dir.File("define_py.dll")), CrLf({"zhang", "li"}));
}

}  // namespace
}  // namespace quorvel

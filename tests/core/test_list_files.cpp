// The six list files: loading from the data folder, and change detection that is
// exact (every completed change is seen by the next lookup) and cheap (nothing read otherwise).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "Errors.h"
#include "ListFiles.h"
#include "ReadingLookup.h"
#include "TestSupport.h"

// Not `using namespace quorvel`: the test suite is named after the class it tests.
using namespace quorvel::test;
using quorvel::FileOpenError;
using quorvel::kListCount;
using quorvel::kListFileNames;
using quorvel::kMappingPinyin;
using quorvel::kMappingWadeGiles;
using quorvel::kPinyinDictionaryKeys;
using quorvel::kPinyinDictionaryReadings;
using quorvel::kWadeGilesDictionaryKeys;
using quorvel::kWadeGilesDictionaryReadings;
using quorvel::ListIndexError;
using quorvel::ListSlot;
using Watch = quorvel::ListFiles::ChangeWatch;
using Lines = std::vector<std::string>;

class ListFiles : public testing::TestWithParam<Watch> {
 protected:
  void Put(ListSlot slot, const Lines& lines) {
    WriteFile(dir_.File(kListFileNames[slot]), CrLf(lines));
  }
  std::string Std(const char* ch, bool wade = false) {
    return ReadingNow(lists_, G(ch), Options(false, wade));
  }
  TempDir dir_;
  quorvel::ListFiles lists_{dir_.Path(), GetParam()};
};

TEST_P(ListFiles, NoFilesGiveEmptyListsSilently) {
  lists_.Load();
  for (int i = 0; i < kListCount; ++i) EXPECT_TRUE(lists_.List(static_cast<ListSlot>(i)).empty());
  EXPECT_EQ(Std("张"), "zhang");
}

TEST_P(ListFiles, LoadsEachFileIntoItsSlot) {
  for (int i = 0; i < kListCount; ++i)
    Put(static_cast<ListSlot>(i), {std::string("item") + char('0' + i), ""});
  lists_.Load();
  for (int i = 0; i < kListCount; ++i)
    EXPECT_EQ(lists_.List(static_cast<ListSlot>(i)),
              (Lines{std::string("item") + char('0' + i), ""}));
}

TEST_P(ListFiles, FoundInTheDataFolderNotTheWorkingDirectory) {
  Put(kPinyinDictionaryKeys, {G("张")});
  Put(kPinyinDictionaryReadings, {"from-data-dir"});
  TempDir elsewhere;
  WriteFile(elsewhere.File("define_han.dll"), CrLf({G("张")}));
  WriteFile(elsewhere.File("define_py.dll"), CrLf({"from-cwd"}));
  auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.Path());
  std::string reading = Std("张");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(reading, "from-data-dir");
}

TEST_P(ListFiles, EveryKindOfCompletedChangeIsSeenByTheNextLookup) {
  const std::string keys = dir_.File("define_han.dll"), values = dir_.File("define_py.dll");
  EXPECT_EQ(Std("张"), "zhang");

  WriteFile(keys, CrLf({G("张")}));
  WriteFile(values, CrLf({"created"}));
  EXPECT_EQ(Std("张"), "created");

  // Written in place, same size, within the same clock tick.
  WriteFile(values, CrLf({"written"}));
  EXPECT_EQ(Std("张"), "written");
  WriteFile(values, CrLf({"WRITTEN"}));
  EXPECT_EQ(Std("张"), "WRITTEN");

  // Replaced by rename, as an editor saves.
  WriteFile(dir_.File("new.tmp"), CrLf({"renamed"}));
  ASSERT_EQ(std::rename(dir_.File("new.tmp").c_str(), values.c_str()), 0);
  EXPECT_EQ(Std("张"), "renamed");

  // Truncated: the key now has no partner line.
  ASSERT_EQ(::truncate(values.c_str(), 0), 0);
  EXPECT_THROW(Std("张"), ListIndexError);
  WriteFile(values, CrLf({"back"}));
  EXPECT_EQ(Std("张"), "back");

  // Deleted.
  ASSERT_EQ(std::remove(keys.c_str()), 0);
  EXPECT_EQ(Std("张"), "zhang");
}

TEST_P(ListFiles, NothingIsReadWhileNothingChanged) {
  Put(kPinyinDictionaryKeys, {G("张")});
  Put(kPinyinDictionaryReadings, {"custom"});
  EXPECT_EQ(Std("张"), "custom");
  if (GetParam() == Watch::kCompareFiles) {
    // Files changed within a clock tick of the load are read again; let that window pass.
    usleep(120'000);
    (void)Std("张");
  }
  const auto loads = lists_.LoadCount();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(Std("张"), "custom");
  EXPECT_EQ(lists_.LoadCount(), loads);

  // Targets and settings are written in the same folder; they never cause a reload.
  WriteFile(dir_.File("names_en.txt"), "Zhang\r\n");
  WriteFile(dir_.File("config1.dll"), "0\r\n0\r\n0\r\n1\r\n");
  EXPECT_EQ(Std("张"), "custom");
  EXPECT_EQ(lists_.LoadCount(), loads);
}

// A folder, pipe or device where a list file should be cannot be read, even by root, and is never
// waited on: the error names the file and what stands there.
TEST_P(ListFiles, AFileThatCannotBeReadRaisesWithItsPathAndWhatItIs) {
  struct Row {
    const char* why;
    std::function<void(const std::string&)> make;
    std::string reason;
  } rows[] = {
      {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); },
       "Is a directory"},
      {"a pipe", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "Is a named pipe (FIFO), not a file"},
      {"a device, through a link",
       [](const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); },
       "Is a device, not a file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    row.make(dir_.File("define_py.dll"));
    try {
      lists_.Load();
      ADD_FAILURE() << "no error";
    } catch (const FileOpenError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot open file \"" + dir_.File("define_py.dll") + "\". " + row.reason);
    }
    // Every lookup raises until it is gone, then the data loads again.
    EXPECT_THROW(Std("张"), FileOpenError);
    EXPECT_THROW(Std("张"), FileOpenError);
    std::filesystem::remove(dir_.File("define_py.dll"));
    EXPECT_EQ(Std("张"), "zhang");
  }
}

TEST_P(ListFiles, AReloadDiscardsChangesMadeInMemory) {
  Put(kPinyinDictionaryKeys, {G("张")});
  Put(kPinyinDictionaryReadings, {"zhang1"});
  lists_.Load();
  const_cast<std::vector<std::string>&>(lists_.List(kPinyinDictionaryReadings))[0] = "changed";
  lists_.Load();
  EXPECT_EQ(lists_.List(kPinyinDictionaryReadings), Lines{"zhang1"});
}

TEST_P(ListFiles, MemoryStaysFlatOverManyReloads) {
  Put(kMappingPinyin, Lines(400, "zhang"));
  Put(kMappingWadeGiles, Lines(400, "chang"));
  Put(kPinyinDictionaryKeys, Lines(100, G("张")));
  Put(kPinyinDictionaryReadings, Lines(100, "custom"));
  for (int i = 0; i < 50; ++i) lists_.Load();
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 5000; ++i) lists_.Load();
  for (int i = 0; i < 200000; ++i) (void)ReadingNow(lists_, G("张"), Options(true, true));
  const size_t after = mallinfo2().uordblks;
  EXPECT_LT(after, before + 64 * 1024) << "before " << before << " after " << after;
}

// An installed program reads the shipped mapping pair from one folder and the user's dictionaries
// from another: each file is read, and watched, in its own folder only.
TEST_P(ListFiles, TheMappingPairComesFromAFolderOfItsOwn) {
  TempDir mapping;
  WriteFile(mapping.File("pinyin_han.dll"), CrLf({"zhang"}));
  WriteFile(mapping.File("pinyin_wei.dll"), CrLf({"chang"}));
  Put(kMappingPinyin, {"zhang"});
  Put(kMappingWadeGiles, {"not-this-one"});
  Put(kWadeGilesDictionaryKeys, {G("李")});
  Put(kWadeGilesDictionaryReadings, {"lee"});
  quorvel::ListFiles lists(dir_.Path(), mapping.Path(), GetParam());
  EXPECT_EQ(lists.ListPath(kMappingWadeGiles), mapping.File("pinyin_wei.dll"));
  EXPECT_EQ(lists.ListPath(kWadeGilesDictionaryReadings), dir_.File("define_wei_py.dll"));
  EXPECT_EQ(ReadingNow(lists, G("张"), Options(false, true)), "chang");
  EXPECT_EQ(ReadingNow(lists, G("李"), Options(false, true)), "lee");

  // A change in either folder is seen by the next lookup.
  WriteFile(mapping.File("pinyin_wei.dll"), CrLf({"chang2"}));
  EXPECT_EQ(ReadingNow(lists, G("张"), Options(false, true)), "chang2");
  WriteFile(dir_.File("define_wei_py.dll"), CrLf({"lee2"}));
  EXPECT_EQ(ReadingNow(lists, G("李"), Options(false, true)), "lee2");

  // The mapping files of the dictionary folder are not the program's: changing them reloads
  // nothing.
  if (GetParam() == Watch::kCompareFiles) {
    usleep(120'000);  // past the window in which a just-loaded file is read again
    (void)ReadingNow(lists, G("张"));
  }
  const auto loads = lists.LoadCount();
  Put(kMappingWadeGiles, {"still-not-this-one"});
  EXPECT_EQ(ReadingNow(lists, G("张"), Options(false, true)), "chang2");
  EXPECT_EQ(lists.LoadCount(), loads);
}

TEST_P(ListFiles, AChangeThroughASymbolicLinkIsSeen) {
  namespace fs = std::filesystem;
  // define_py.dll -> far/link.txt -> farther/py.txt, and define_han.dll -> keys.txt beside it.
  TempDir far, farther;
  WriteFile(farther.File("py.txt"), CrLf({"one"}));
  fs::create_symlink(farther.File("py.txt"), far.File("link.txt"));
  fs::create_symlink(far.File("link.txt"), dir_.File("define_py.dll"));
  WriteFile(dir_.File("keys.txt"), CrLf({G("张")}));
  fs::create_symlink("keys.txt", dir_.File("define_han.dll"));
  // Replaces `link` by a symbolic link to `to`, in one rename, as "ln -sf" would.
  auto relink = [](const std::string& link, const std::string& to) {
    fs::create_symlink(to, link + ".new");
    fs::rename(link + ".new", link);
  };
  struct Step {
    std::function<void()> change;
    std::string reading;
    const char* why;
  } steps[] = {
      {[] {}, "one", "first load"},
      {[&] { WriteFile(farther.File("py.txt"), CrLf({"two"})); }, "two",
       "the final file written in place"},
      {[&] {
         WriteFile(farther.File("new.tmp"), CrLf({"three"}));
         fs::rename(farther.File("new.tmp"), farther.File("py.txt"));
       },
       "three", "the final file replaced by rename"},
      {[&] {
         WriteFile(farther.File("other.txt"), CrLf({"four"}));
         relink(far.File("link.txt"), farther.File("other.txt"));
       },
       "four", "a link along the chain pointed elsewhere"},
      {[&] { WriteFile(farther.File("other.txt"), CrLf({"five"})); }, "five",
       "the new final file written"},
      {[&] {
         WriteFile(dir_.File("py2.txt"), CrLf({"six"}));
         relink(dir_.File("define_py.dll"), "py2.txt");
       },
       "six", "the list file's own link pointed elsewhere"},
      {[&] {
         WriteFile(dir_.File("keys.txt"), CrLf({G("李")}));
         WriteFile(dir_.File("py2.txt"), CrLf({"seven"}));
       },
       "zhang", "a file linked within the data folder written"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.why);
    step.change();
    EXPECT_EQ(Std("张"), step.reading);
  }
  EXPECT_EQ(Std("李"), "seven");
  if (GetParam() == Watch::kAuto) {
    const auto loads = lists_.LoadCount();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(Std("李"), "seven");
    EXPECT_EQ(lists_.LoadCount(), loads) << "the extra watches cause no reloads of their own";
    WriteFile(farther.File("py.txt"), CrLf({"unlinked now"}));
    EXPECT_EQ(Std("李"), "seven");
    EXPECT_EQ(lists_.LoadCount(), loads) << "a file no longer linked is no longer watched";
  }
}

INSTANTIATE_TEST_SUITE_P(Watch, ListFiles, testing::Values(Watch::kAuto, Watch::kCompareFiles),
                         [](const auto& info) {
                           return info.param == Watch::kAuto ? "Inotify" : "CompareFiles";
                         });

TEST(ListFilesWatch, UsesInotifyWhereItCan) {
  TempDir dir;
  quorvel::ListFiles lists(dir.Path());
  EXPECT_TRUE(lists.UsesInotify());
  quorvel::ListFiles missing(dir.File("no-such-folder"));
  EXPECT_FALSE(missing.UsesInotify());
  EXPECT_EQ(ReadingNow(missing, G("张")), "zhang");
}

TEST(ListFilesWatch, AFolderThatGoesAwayFallsBackToComparingFiles) {
  TempDir parent;
  const std::string dir = parent.File("data");
  std::filesystem::create_directory(dir);
  quorvel::ListFiles lists(dir);
  EXPECT_EQ(ReadingNow(lists, G("张")), "zhang");
  std::filesystem::rename(dir, parent.File("old"));
  std::filesystem::create_directory(dir);
  WriteFile(dir + "/define_han.dll", CrLf({G("张")}));
  WriteFile(dir + "/define_py.dll", CrLf({"new-folder"}));
  EXPECT_EQ(ReadingNow(lists, G("张")), "new-folder");
  EXPECT_FALSE(lists.UsesInotify());
  WriteFile(dir + "/define_py.dll", CrLf({"changed"}));
  EXPECT_EQ(ReadingNow(lists, G("张")), "changed");
}

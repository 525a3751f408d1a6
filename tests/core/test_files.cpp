// The file helpers: the line splitter, the one trim rule, the split of readings on "/", the walk
// along symbolic links, and replacing files so that a failure leaves every old file whole.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "Errors.h"
#include "FaultSeams.h"
#include "Files.h"
#include "FolderLock.h"
#include "Paths.h"
#include "TestSupport.h"
#include "TextLines.h"

using namespace quorvel;
using namespace quorvel::test;
using Lines = std::vector<std::string>;

TEST(SplitLines, FollowsTheLineRules) {
  struct Case {
    std::string text;
    Lines items;
    const char* why;
  };
  const Case cases[] = {
      {"", {}, "an empty file has no items"},
      {"zi", {"zi"}, "no terminator after the last line"},
      {"zi\r\n", {"zi"}, "a final terminator adds no item"},
      {"zi\r\n\r\n", {"zi", ""}, "two terminators end with an empty item"},
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}, "CR, LF and CR LF all end a line"},
      {"a\n\rb", {"a", "", "b"}, "LF then CR is two line ends"},
      {"\r\n", {""}, "one empty line"},
      {std::string("zhang\r\nli\0wang\r\nzhao", 20), {"zhang", "li"}, "a NUL byte ends the data"},
      {std::string("\0zhang", 6), {}, "a NUL first: nothing"},
      {" zi \t\r\n", {" zi \t"}, "no trimming"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(SplitLines(c.text), c.items);
  }
}

// Every place of an LF in a word of eight, and the bytes a word-wide test could take for one:
// the count is std::count's.
TEST(CountLineFeeds, CountsEveryLineFeedWhereverItStands) {
  const char pieces[] = {'\n', '\n', '\x0B', '\x8A', '\t', '\0', '\xFF', 'a', '\x80', '\x7F', '\r'};
  uint32_t seed = 1;
  for (int t = 0; t < 20000; ++t) {
    std::string text(t % 41, '\0');
    for (char& c : text) {
      seed = seed * 1103515245 + 12345;
      c = pieces[(seed >> 16) % std::size(pieces)];
    }
    ASSERT_EQ(CountLineFeeds(text), static_cast<size_t>(std::count(text.begin(), text.end(), '\n')))
        << testing::PrintToString(text);
  }
  EXPECT_EQ(CountLineFeeds(std::string(64, '\n')), 64u);
  EXPECT_EQ(CountLineFeeds(""), 0u);
}

TEST(TrimControls, RemovesOnlyBytesUpToSpace) {
  struct Case {
    const char* why;
    std::string in, out;
  };
  const Case cases[] = {
      {"ASCII spaces and controls", " \t\r\n\x01zi\x1f ", "zi"},
      {"zero bytes", std::string("\0zi\0", 4), "zi"},
      {"inner spaces stay", "  ou yang ", "ou yang"},
      {"full-width spaces stay", G("　字　"), G("　字　")},
      {"0x21 is kept", "!zi!", "!zi!"},
      {"nothing but spaces", " \t ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(TrimControls(c.in), c.out);
  }
}

TEST(ForEachSlashPart, GivesEveryPartInOrderEmptyOnesIncluded) {
  struct Case {
    std::string text;
    Lines parts;
  };
  const Case cases[] = {
      {"", {""}},        {"chang", {"chang"}}, {"chang/zhang", {"chang", "zhang"}},
      {"a/", {"a", ""}}, {"/a", {"", "a"}},    {"a//b", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    Lines parts;
    ForEachSlashPart(c.text, [&](std::string_view part) { parts.emplace_back(part); });
    EXPECT_EQ(parts, c.parts);
  }
}

TEST(FinalPathOf, FollowsLinksToTheEndStopsWhereToldAndGivesALoopBack) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("far"));
  WriteFile(dir.File("far/final.txt"), "x");
  std::filesystem::create_symlink("far/final.txt", dir.File("relative"));
  std::filesystem::create_symlink(dir.File("relative"), dir.File("absolute"));
  std::filesystem::create_symlink("nowhere/yet.txt", dir.File("dangling"));
  std::filesystem::create_symlink("loop-b", dir.File("loop-a"));
  std::filesystem::create_symlink("loop-a", dir.File("loop-b"));
  struct Case {
    const char* why;
    std::string path;
    std::string stopAt;  // "" never stops
    std::string final;
  };
  const Case cases[] = {
      {"a plain file is its own final file", dir.File("far/final.txt"), "",
       dir.File("far/final.txt")},
      {"a relative link is taken from its own folder", dir.File("relative"), "",
       dir.File("far/final.txt")},
      {"a chain of an absolute and a relative link", dir.File("absolute"), "",
       dir.File("far/final.txt")},
      {"a link that points nowhere gives where it points", dir.File("dangling"), "",
       dir.File("nowhere/yet.txt")},
      {"a loop gives the path back", dir.File("loop-a"), "", dir.File("loop-a")},
      {"the walk stops at the path named", dir.File("absolute"), dir.File("relative"),
       dir.File("relative")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const auto stop = [&](const std::string& hop) { return hop == c.stopAt; };
    EXPECT_EQ(FinalPathOf(c.path, stop), c.final);
  }
  // The walk itself says how it ended: at a file, or on a loop after the most links it follows.
  int hops = 0;
  EXPECT_EQ(WalkLinks(dir.File("absolute"), [&](const std::string&) { return ++hops > 0; }),
            LinkWalkEnd::kFinal);
  EXPECT_EQ(hops, 2);
  hops = 0;
  EXPECT_EQ(WalkLinks(dir.File("loop-a"), [&](const std::string&) { return ++hops > 0; }),
            LinkWalkEnd::kTooMany);
  EXPECT_EQ(hops, kMostLinkHops);
}

TEST(ReplaceFilesAtomically, WritesBothOrLeavesBothAsTheyWere) {
  TempDir dir;
  const std::string a = dir.File("define_han.dll"), b = dir.File("define_py.dll");
  WriteFile(a, "old-a\r\n");
  WriteFile(b, "old-b\r\n");
  for (int step : {1, 2, 3}) {
    SCOPED_TRACE(step);
    PlantReplaceFailure(step, ENOSPC);
    try {
      ReplaceFilesAtomically({{a, "new-a\r\n"}, {b, "new-b\r\n"}});
      ADD_FAILURE() << "no error";
    } catch (const InOutError& e) {
      // The file whose step failed is named.
      EXPECT_EQ(std::string(e.what()), "Disk full: \"" + (step == 1 ? a : b) + "\"");
    }
    PlantReplaceFailure(0, 0);
    EXPECT_EQ(ReadFile(a), "old-a\r\n");
    EXPECT_EQ(ReadFile(b), "old-b\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2)
        << "nothing left behind";
  }
  ReplaceFilesAtomically({{a, "new-a\r\n"}, {b, "new-b\r\n"}});
  EXPECT_EQ(ReadFile(a), "new-a\r\n");
  EXPECT_EQ(ReadFile(b), "new-b\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

namespace {
std::vector<LockWait> gWaits;
bool gKeepWaiting = false;
bool RecordWait(const LockWait& wait) {
  gWaits.push_back(wait);
  return gKeepWaiting;
}
}  // namespace

// A lock another process holds is waited for, never without end or word: after a second the
// handler hears who holds it and decides whether to go on.
TEST(FolderLock, AHeldLockIsWaitedForWithTheHolderNamedAndGivenUpOnRequest) {
  TempDir dir;
  const std::string lockPath = dir.File(kLockFileName);
  {
    LockHolder holder(dir.Path(), 60);
    SetLockWaitHandler(RecordWait);
    gWaits.clear();
    gKeepWaiting = false;
    try {
      FolderLock lock(dir.Path(), FolderLock::Mode::kShared);
      ADD_FAILURE() << "the lock was had";
    } catch (const LockWaitError& e) {
      EXPECT_EQ(std::string(e.what()), "Gave up waiting for \"" + lockPath + "\" held by process " +
                                           std::to_string(holder.Pid()) + " after 1 s");
    }
    ASSERT_EQ(gWaits.size(), 1u);
    EXPECT_EQ(gWaits[0].lockPath, lockPath);
    EXPECT_EQ(gWaits[0].holder, holder.Pid());
    EXPECT_EQ(gWaits[0].notice, 1);
    EXPECT_GE(gWaits[0].waitedSeconds, kLockNoticeSeconds);
  }
  {
    // Going on waiting: the lock is had once the holder lets it go.
    gWaits.clear();
    gKeepWaiting = true;
    LockHolder holder(dir.Path(), 1.5);
    FolderLock lock(dir.Path(), FolderLock::Mode::kExclusive);
    EXPECT_TRUE(lock.Held());
    EXPECT_EQ(gWaits.size(), 1u);
  }
  SetLockWaitHandler(nullptr);
  {
    // The default gives up after the limit.
    LockHolder holder(dir.Path(), 60);
    SetLockWaitLimit(0);
    EXPECT_THROW(FolderLock(dir.Path(), FolderLock::Mode::kExclusive), LockWaitError);
    SetLockWaitLimit(kDefaultLockWaitSeconds);
  }
  // A pipe at the lock file's name is never opened to wait on: no lock, no hang.
  std::filesystem::remove(lockPath);
  ASSERT_EQ(::mkfifo(lockPath.c_str(), 0600), 0);
  FolderLock lock(dir.Path(), FolderLock::Mode::kShared);
  EXPECT_FALSE(lock.Held());
}

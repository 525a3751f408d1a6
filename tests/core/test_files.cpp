// The file helpers: the line splitter, the one trim rule, and replacing files so that a failure
// leaves every old file whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "Errors.h"
#include "Files.h"
#include "TestSupport.h"

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


TEST(ReplaceFilesAtomically, WritesBothOrLeavesBothAsTheyWere) {
  TempDir dir;
  const std::string a = dir.File("define_han.dll"), b = dir.File("define_py.dll");
  WriteFile(a, "old-a\r\n");
  WriteFile(b, "old-b\r\n");
  for (int step : {1, 2, 3}) {
    SCOPED_TRACE(step);
    SetReplaceFailureForTest(step, ENOSPC);
    try {
      ReplaceFilesAtomically({{a, "new-a\r\n"}, {b, "new-b\r\n"}});
      ADD_FAILURE() << "no error";
    } catch (const InOutError& e) {
      EXPECT_STREQ(e.what(), "Disk full");
    }
    SetReplaceFailureForTest(0, 0);
    EXPECT_EQ(ReadFile(a), "old-a\r\n");
    EXPECT_EQ(ReadFile(b), "old-b\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2) << "nothing left behind";
  }
  ReplaceFilesAtomically({{a, "new-a\r\n"}, {b, "new-b\r\n"}});
  EXPECT_EQ(ReadFile(a), "new-a\r\n");
  EXPECT_EQ(ReadFile(b), "new-b\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

// quorvel-cli as a script sees it: arguments, exit status, messages, files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "Version.h"

using namespace quorvel::test;

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class Cli : public testing::Test {
 protected:
  // `redirections` come after the usual ones, so they win ("<&-" closes standard input).
  Outcome Call(const std::string& args, const std::string& stdinBytes = "", const std::string& redirections = "") {
    WriteFile(dir_.File("stdin"), stdinBytes);
    std::string cmd = std::string(QUORVEL_CLI) + " " + args + " <" + dir_.File("stdin") + " >" + dir_.File("stdout") +
                      " 2>" + dir_.File("stderr") + " " + redirections;
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(dir_.File("stdout")), ReadFile(dir_.File("stderr"))};
  }
  TempDir dir_;
};

TEST_F(Cli, ConvertsFilesAndStreams) {
  WriteFile(dir_.File("names.txt"), G("单田芳\r\n欧阳修\r\n"));
  Outcome r = Call(dir_.File("names.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadFile(dir_.File("names_en.txt")), "Tian-fang Shan\r\nXiu Ouyang\r\n") << "the proposed target";

  r = Call("-a -s space -w -f 6 - -", G("曾国藩\r\n行\r\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Tseng/tseng Kuo fan\r\nHsing/hang/heng \r\n");

  r = Call("--separator=none --format=9 " + dir_.File("names.txt") + " " + dir_.File("sub/out.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("sub/out.txt")), "shantianfang\r\nouyangxiu\r\n") << "the target's folder is created";

  r = Call("-", "刘德华\n");
  EXPECT_EQ(r.out, "De-hua Liu\r\n") << "UTF-8 on standard input";
}

TEST_F(Cli, TheDataDirectoryCanBeChosen) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("刘")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"Lau"}));
  Outcome r = Call("--data-dir=" + dir_.Path() + " - -", G("刘德华\r\n"));
  EXPECT_EQ(r.out, "De-hua Lau\r\n");
  r = Call("- -", G("刘德华\r\n"));
  EXPECT_EQ(r.out, "De-hua Liu\r\n") << "by default the files beside the program";
}

TEST_F(Cli, FailuresExitOneWithTheMessage) {
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  std::filesystem::create_directory(dir_.File("folder"));
  struct Case {
    std::string args, err;
  };
  const Case cases[] = {
      {dir_.File("none.txt"), "quorvel-cli: 没找到源文件,请选择 (" + dir_.File("none.txt") + ")\n"},
      {dir_.File("names.txt") + " /dev/full", "quorvel-cli: Disk full.\n"},
      {dir_.File("names.txt") + " " + dir_.File("folder"), "quorvel-cli: File access denied.\n"},
      {dir_.File("names.txt") + " " + dir_.File("a/b/c.txt"), "quorvel-cli: Invalid filename.\n"},
      {dir_.File("folder") + " -", "quorvel-cli: 没找到源文件,请选择 (" + dir_.File("folder") + ")\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Outcome r = Call(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none_en.txt")));
}

TEST_F(Cli, ADataDirectoryThatIsNoFolderIsAUsageError) {
  WriteFile(dir_.File("file.txt"), "");
  struct Case {
    std::string option, err;
  } cases[] = {
      {"--data-dir=" + dir_.File("missing"), "data folder '" + dir_.File("missing") + "' does not exist"},
      {"--data-dir=" + dir_.File("file.txt"), "data folder '" + dir_.File("file.txt") + "' is not a folder"},
      {"--data-dir=", "the data folder name is empty (--data-dir=\"\")"},
      {"--data-dir ''", "the data folder name is empty (--data-dir=\"\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    Outcome r = Call(c.option + " - -", G("刘德华\r\n"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "nothing converted";
    EXPECT_EQ(r.err, "quorvel-cli: " + c.err + "\nTry 'quorvel-cli --help'.\n");
  }
}

TEST_F(Cli, ClosedStandardStreamsAreNamed) {
  struct Case {
    std::string redirections, err;
  } cases[] = {
      {"<&-", "quorvel-cli: Standard input is closed.\n"},
      {">&-", "quorvel-cli: Standard output is closed.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.redirections);
    Outcome r = Call("- -", G("刘德华\r\n"), c.redirections);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  Outcome r = Call(dir_.File("names.txt") + " " + dir_.File("out.txt"), "", "<&- >&-");
  EXPECT_EQ(r.status, 0) << "closed streams matter only when used: " << r.err;
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "De-hua Liu\r\n");
}

TEST_F(Cli, AStrayByteInUtf8IsConvertedWithAWarning) {
  Outcome r = Call("- -", "刘德华\n单\xE7田芳\n张三\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "De-hua Liu\r\n???-tian-fang Shan\r\nSan Zhang\r\n");
  EXPECT_EQ(r.err, "quorvel-cli: warning: standard input: 1 invalid UTF-8 sequence, each read as \"???\"\n");
  WriteFile(dir_.File("names.txt"), "刘德华\n\x94\n单\xE7田芳\n张三\n欧阳修\n");
  r = Call(dir_.File("names.txt") + " -");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "quorvel-cli: warning: " + dir_.File("names.txt") +
                       ": 2 invalid UTF-8 sequences, each read as \"???\"\n");
}

TEST_F(Cli, UsageErrorsExitTwo) {
  for (const char* args : {"", "-s dash x.txt", "-f 10 x.txt", "--format=a x.txt", "--bogus x.txt", "a b c", "-f"}) {
    SCOPED_TRACE(args);
    Outcome r = Call(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Try 'quorvel-cli --help'"), std::string::npos) << r.err;
  }
  Outcome r = Call("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: quorvel-cli [OPTIONS] SOURCE [TARGET]"), std::string::npos);
  EXPECT_EQ(Call("--version").out, std::string("quorvel-cli ") + quorvel::kVersion + "\n");
}

}  // namespace

// quorvel-cli as a script sees it: arguments, exit status, messages, files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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
  // `redirections` come after the usual ones, so they win ("<&-" closes standard input); `cwd` is
  // the working folder of the run.
  Outcome Call(const std::string& args, const std::string& stdinBytes = "",
               const std::string& redirections = "", const std::string& cwd = "") {
    WriteFile(dir_.File("stdin"), stdinBytes);
    std::string cmd = (cwd.empty() ? "" : "cd " + cwd + " && ") + std::string(QUORVEL_CLI) + " " +
                      args + " <" + dir_.File("stdin") + " >" + dir_.File("stdout") + " 2>" +
                      dir_.File("stderr") + " " + redirections;
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFile(dir_.File("stdout")),
            ReadFile(dir_.File("stderr"))};
  }
  // One command of a sequence: its exit status, its exact output, a part of its standard error
  // ("": standard error is empty).
  struct Step {
    const char* why;
    std::string args, stdinText;
    int status;
    std::string out;
    std::string err;
  };
  void Run(const std::vector<Step>& steps) {
    for (const auto& step : steps) {
      SCOPED_TRACE(step.why);
      Outcome r = Call(step.args, step.stdinText);
      EXPECT_EQ(r.status, step.status) << r.err;
      EXPECT_EQ(r.out, step.out);
      if (step.err.empty()) EXPECT_EQ(r.err, "");
      else EXPECT_NE(r.err.find(step.err), std::string::npos) << r.err;
    }
  }
  TempDir dir_;
};

TEST_F(Cli, ConvertsFilesAndStreams) {
  WriteFile(dir_.File("names.txt"), G("单田芳\r\n欧阳修\r\n"));
  Outcome r = Call(dir_.File("names.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadFile(dir_.File("names_en.txt")), "Tian-fang Shan\r\nXiu Ouyang\r\n")
      << "the proposed target";

  r = Call("-a -s space -w -f 6 - -", G("曾国藩\r\n行\r\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Tseng Kuo fan\r\nHsing/hang/heng \r\n")
      << "zeng and ceng are both tseng: given once";

  r = Call("--separator=none --format=9 " + dir_.File("names.txt") + " " +
           dir_.File("sub/out.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("sub/out.txt")), "shantianfang\r\nouyangxiu\r\n")
      << "the target's folder is created";

  r = Call("-", "刘德华\n");
  EXPECT_EQ(r.out, "De-hua Liu\r\n") << "UTF-8 on standard input";
}

TEST_F(Cli, UmlautSpellingsAndThePassportFormat) {
  WriteFile(dir_.File("gbk.txt"), G("吕小明\r\n女\r\n"));
  WriteFile(dir_.File("utf8.txt"), "吕小明\n女\n");
  struct Row {
    std::string args;
    std::string out;
    const char* why;
  } rows[] = {
      {"-f 6", "Lv Xiao-ming\r\nNv \r\n", "default v"},
      {"--umlaut=v -f 6", "Lv Xiao-ming\r\nNv \r\n", ""},
      {"--umlaut=yu -f 6", "Lyu Xiao-ming\r\nNyu \r\n", ""},
      {"--umlaut u -f 6 -s none", "Lu Xiaoming\r\nNu \r\n", "the value as a separate argument"},
      {"--umlaut=ü -f 6", "L\xA8\xB9 Xiao-ming\r\nN\xA8\xB9 \r\n", "GBK source: ü in GBK"},
      {"--umlaut=ü -w -f 6", "Lu Hsiao-ming\r\nNu \r\n", "Wade-Giles keeps its own"},
      {"--format=passport", "LYU XIAOMING\r\nNYU \r\n", "passport"},
      {"--format=passport --umlaut=ü -s space", "LYU XIAOMING\r\nNYU \r\n",
       "passport always joins and writes yu"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args + ": " + row.why);
    Outcome r = Call(row.args + " " + dir_.File("gbk.txt") + " -");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, row.out);
  }
  Outcome r = Call("--umlaut=ü -f 6 " + dir_.File("utf8.txt") + " -");
  EXPECT_EQ(r.out, "Lü Xiao-ming\r\nNü \r\n") << "UTF-8 source: ü in UTF-8";
  r = Call("-a -w -f 1 -", G("曾国藩\r\n"));
  EXPECT_EQ(r.out, "Kuo-fan Tseng\r\n") << "each reading once";
}

TEST_F(Cli, TheDataDirectoryCanBeChosen) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("刘")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"Lau"}));
  Outcome r = Call("--data-dir=" + dir_.Path() + " - -", G("刘德华\r\n"));
  EXPECT_EQ(r.out, "De-hua Lau\r\n");
  r = Call("- -", G("刘德华\r\n"));
  EXPECT_EQ(r.out, "De-hua Liu\r\n") << "by default the files beside the program";

  // --help names the folders in use.
  const std::string bin = std::filesystem::path(QUORVEL_CLI).parent_path().string();
  r = Call("--help");
  EXPECT_NE(
      r.out.find("  custom dictionaries    " + bin + "\n  Wade-Giles mapping     " + bin + "\n"),
      std::string::npos)
      << r.out;
  r = Call("--data-dir=" + dir_.Path() + " --help");
  EXPECT_NE(r.out.find("  custom dictionaries    " + dir_.Path() + "\n  Wade-Giles mapping     " +
                       dir_.Path() + "\n"),
            std::string::npos)
      << r.out;
}

// Installed (no list files beside the program) and without HOME: each folder that cannot be set
// up is named on standard error, and the shipped lists still convert.
TEST_F(Cli, WithoutAHomeTheShippedListsConvert) {
  namespace fs = std::filesystem;
  const std::string bin = dir_.File("prefix/bin"), shipped = dir_.File("prefix/share/quorvel");
  fs::create_directories(bin);
  fs::create_directories(shipped);
  fs::copy_file(QUORVEL_CLI, bin + "/quorvel-cli");
  CopyInstalledLists(shipped);
  WriteFile(dir_.File("names.txt"), G("曾国藩\r\n欧阳修\r\n"));
  const std::string cmd = "env -u HOME -u XDG_DATA_HOME -u XDG_CONFIG_HOME " + bin +
                          "/quorvel-cli -w " + dir_.File("names.txt") + " " + dir_.File("out.txt") +
                          " 2>" + dir_.File("stderr");
  const int rc = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << ReadFile(dir_.File("stderr"));
  // Tseng through the shipped mapping, Ou-yang from the shipped Wade-Giles dictionary.
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "Kuo-fan Tseng\r\nHsiu Ou-yang\r\n");
  const std::string err = ReadFile(dir_.File("stderr"));
  EXPECT_NE(err.find("quorvel-cli: HOME is not set, so there is no folder for your dictionaries "
                     "(~/.local/share/quorvel); the shipped lists in \"" +
                     shipped + "\" are used"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("(~/.config/quorvel)"), std::string::npos) << err;
  EXPECT_EQ(fs::directory_iterator(bin)->path().filename(), "quorvel-cli")
      << "nothing written beside it";
}

TEST_F(Cli, FailuresExitOneWithTheMessage) {
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  std::filesystem::create_directory(dir_.File("folder"));
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  struct Case {
    std::string args, err;
  };
  const Case cases[] = {
      {dir_.File("none.txt"), "quorvel-cli: 没找到源文件,请选择 (" + dir_.File("none.txt") + ")\n"},
      {dir_.File("names.txt") + " /dev/full", "quorvel-cli: Disk full: \"/dev/full\"\n"},
      {dir_.File("names.txt") + " " + dir_.File("folder"),
       "quorvel-cli: File access denied (Is a directory): \"" + dir_.File("folder") + "\"\n"},
      {dir_.File("names.txt") + " " + dir_.File("a/b/c.txt"),
       "quorvel-cli: Invalid filename (a folder on the path does not exist): \"" +
           dir_.File("a/b/c.txt") + "\"\n"},
      // What stands at the source is named.
      {dir_.File("folder") + " -",
       "quorvel-cli: Cannot convert \"" + dir_.File("folder") + "\": Is a directory.\n"},
      {dir_.File("fifo") + " -", "quorvel-cli: Cannot convert \"" + dir_.File("fifo") +
                                     "\": Is a named pipe (FIFO), not a file.\n"},
      {"/dev/zero -", "quorvel-cli: Cannot convert \"/dev/zero\": Is a device, not a file.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Outcome r = Call(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none_en.txt")));
}

// A run that fails part way says what became of the target: an earlier file is kept unchanged, a
// new one holds the names converted before the failure. A file size limit is such a failure.
TEST_F(Cli, AFailedRunSaysWhatItLeftAtTheTarget) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("赵")}));  // a key without a reading line
  WriteFile(dir_.File("define_py.dll"), "");
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n李四\r\n赵四\r\n"));
  WriteFile(dir_.File("old.txt"), "earlier\r\n");
  const std::string run = "--data-dir=" + dir_.Path() + " " + dir_.File("names.txt") + " ";
  Outcome r = Call(run + dir_.File("old.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel-cli: List index out of bounds (0)\nquorvel-cli: the earlier file " +
                       dir_.File("old.txt") + " is kept unchanged\n");
  EXPECT_EQ(ReadFile(dir_.File("old.txt")), "earlier\r\n");
  r = Call(run + dir_.File("new.txt"));
  EXPECT_EQ(r.err, "quorvel-cli: List index out of bounds (0)\nquorvel-cli: " +
                       dir_.File("new.txt") + " holds the first 2 names converted\n");
  EXPECT_EQ(ReadFile(dir_.File("new.txt")), "De-hua Liu\r\nSi Li\r\n");
  r = Call(run + "-");
  EXPECT_EQ(r.err,
            "quorvel-cli: List index out of bounds (0)\nquorvel-cli: 2 names converted and written "
            "to standard output\n");

  std::string many;
  for (int i = 0; i < 2000; ++i) many += G("刘德华\r\n");
  WriteFile(dir_.File("many.txt"), many);
  const std::string limited = "ulimit -f 8 && " + std::string(QUORVEL_CLI) + " " +
                              dir_.File("many.txt") + " " + dir_.File("old.txt") + " 2>" +
                              dir_.File("stderr");
  const int rc = std::system(("sh -c '" + limited + "'").c_str());
  ASSERT_TRUE(WIFEXITED(rc)) << "killed by the file size limit's signal";
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_NE(
      ReadFile(dir_.File("stderr")).find("(File too large): \"" + dir_.File("old.txt") + "\""),
      std::string::npos)
      << ReadFile(dir_.File("stderr"));
  EXPECT_EQ(ReadFile(dir_.File("old.txt")), "earlier\r\n");

  // Standard output cut short inside a block (4,096 bytes of 12-byte lines): the count is of the
  // whole lines that went out, not of the block's lines nor of none.
  const std::string cut = "ulimit -f 8 && " + std::string(QUORVEL_CLI) + " " +
                          dir_.File("many.txt") + " - >" + dir_.File("cut.txt") + " 2>" +
                          dir_.File("stderr");
  ASSERT_TRUE(WIFEXITED(std::system(("sh -c '" + cut + "'").c_str())));
  EXPECT_NE(ReadFile(dir_.File("stderr"))
                .find("quorvel-cli: 341 names converted and written to standard output\n"),
            std::string::npos)
      << ReadFile(dir_.File("stderr"));
  EXPECT_EQ(ReadFile(dir_.File("cut.txt")).size(), 4096u);
}

// A lock another Quorvel program holds on the lists' folder: after a second the holder is named,
// and after --wait seconds the command gives up with exit status 1.
TEST_F(Cli, AHeldLockIsWaitedForWithTheHolderNamedThenGivenUp) {
  CopyInstalledLists(dir_.Path());
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  const std::string lock = "\"" + dir_.File(".quorvel.lock") + "\"";
  struct Row {
    std::string args;
  } rows[] = {{"--wait=1.5 --data-dir=" + dir_.Path() + " " + dir_.File("names.txt") + " -"},
              {"dict --wait=1.5 --data-dir=" + dir_.Path() + " add 张 zhang"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    LockHolder holder(dir_.Path(), 60);
    const std::string held = lock + " held by process " + std::to_string(holder.Pid());
    Outcome r = Call(row.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvel-cli: warning: waiting for " + held +
                         "\nquorvel-cli: Gave up waiting for " + held + " after 1.5 s.\n");
    EXPECT_EQ(r.out, "");
  }
  LockHolder briefly(dir_.Path(), 1.5);
  Outcome r = Call("--data-dir=" + dir_.Path() + " " + dir_.File("names.txt") + " -");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "De-hua Liu\r\n");
  EXPECT_EQ(r.err, "quorvel-cli: warning: waiting for " + lock + " held by process " +
                       std::to_string(briefly.Pid()) + "\n");
  EXPECT_EQ(Call("--wait=soon x").status, 2);
}

// A folder other users may write: a list file that another user made a symbolic link (here to a
// private file of the user running the command) is refused with a message, never followed.
TEST_F(Cli, AListFileLinkedByAnotherUserInASharedFolderIsRefused) {
  if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
    GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
  const std::string shared = dir_.File("shared");
  std::filesystem::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  WriteFile(dir_.File("private.txt"), "the user's secret\r\n");
  ASSERT_EQ(::chmod(dir_.File("private.txt").c_str(), 0600), 0);
  WriteFile(shared + "/define_han.dll", CrLf({G("李")}));
  const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";
  ASSERT_EQ(
      std::system((asNobody + "ln -s " + dir_.File("private.txt") + " " + shared + "/define_py.dll")
                      .c_str()),
      0);
  WriteFile(dir_.File("names.txt"), G("李四\r\n"));
  const std::string refused =
      "\"" + shared +
      "/define_py.dll\" is a symbolic link another user (65534) made in a folder "
      "others may write; it is not followed";
  for (const std::string& args : {"dict --data-dir=" + shared + " add 张 zhang",
                                  "--data-dir=" + shared + " " + dir_.File("names.txt") + " -"}) {
    SCOPED_TRACE(args);
    Outcome r = Call(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(ReadFile(dir_.File("private.txt")), "the user's secret\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(shared + "/define_py.dll"));
  EXPECT_EQ(ReadFile(shared + "/define_han.dll"), CrLf({G("李")}));
}

// Another user's folder that this user may read but not write: conversions read the lists, a
// dictionary change is refused naming the folder and the cause.
TEST_F(Cli, AReadOnlyDataFolderIsNamedWithTheCause) {
  if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
    GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
  const std::string data = dir_.File("data");
  std::filesystem::create_directory(data);
  CopyInstalledLists(data);
  WriteFile(dir_.File("names.txt"), G("刘德华\r\n"));
  ::chmod(dir_.File("names.txt").c_str(), 0644);
  const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";
  const std::string cli = asNobody + QUORVEL_CLI + " ";
  const std::string err = dir_.File("err");
  auto run = [&](const std::string& args) {
    const int rc = std::system((cli + args + " >" + dir_.File("out") + " 2>" + err).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  EXPECT_EQ(run("--data-dir=" + data + " " + dir_.File("names.txt") + " -"), 0) << ReadFile(err);
  EXPECT_EQ(ReadFile(dir_.File("out")), "De-hua Liu\r\n");
  EXPECT_EQ(run("dict --data-dir=" + data + " add 张 zhang"), 1);
  EXPECT_EQ(ReadFile(err),
            "quorvel-cli: File access denied (Permission denied): \"" + data + "\"\n");
}

// In a shared folder with the sticky bit, a record of an unfinished write that another user
// planted can neither be acted on nor removed; it is ignored with a warning and blocks no write.
TEST_F(Cli, AnotherUsersRecordInAStickyFolderIsIgnoredAndBlocksNothing) {
  if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
    GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
  const std::string shared = dir_.File("shared");
  std::filesystem::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string asOther = "setpriv --reuid=12345 --regid=12345 --clear-groups -- ";
  const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";
  ASSERT_EQ(
      std::system((asOther + "sh -c 'printf \"hers\" >" + shared +
                   "/define_py.dll.tmp-Ab3dE6gH9jK1 && printf " +
                   "\"quorvel intent "
                   "1\\nrename\\tdefine_py.dll.tmp-Ab3dE6gH9jK1\\tdefine_py.dll\\nend\\n\" >" +
                   shared + "/.quorvel.intent'")
                      .c_str()),
      0);
  const std::string err = dir_.File("err");
  const int rc = std::system(
      (asNobody + QUORVEL_CLI + " dict --data-dir=" + shared + " add 张 zhang 2>" + err).c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 0) << ReadFile(err);
  EXPECT_NE(ReadFile(err).find("is ignored: it belongs to another user"), std::string::npos)
      << ReadFile(err);
  EXPECT_EQ(ReadFile(shared + "/define_han.dll"), CrLf({G("张")}));
  EXPECT_EQ(ReadFile(shared + "/define_py.dll"), CrLf({"zhang"})) << "not the other user's file";
  EXPECT_EQ(ReadFile(shared + "/define_py.dll.tmp-Ab3dE6gH9jK1"), "hers");
}

// A file the user may write in a folder that takes no new file cannot be replaced whole: it is
// written over, but only by a run that succeeded; a failed one leaves it as it was.
TEST_F(Cli, AWritableTargetInAReadOnlyFolderIsWrittenOverOnlyBySuccess) {
  if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
    GTEST_SKIP() << "needs root and setpriv";
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
  WriteFile(dir_.File("define_han.dll"), CrLf({G("赵")}));  // a key without a reading line
  WriteFile(dir_.File("define_py.dll"), "");
  WriteFile(dir_.File("good.txt"), G("刘德华\r\n"));
  WriteFile(dir_.File("bad.txt"), G("刘德华\r\n赵四\r\n"));
  WriteFile(dir_.File("out.txt"), "earlier\r\n");
  ASSERT_EQ(::chown(dir_.File("out.txt").c_str(), 65534, 65534), 0);
  const std::string cli = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- " +
                          std::string(QUORVEL_CLI) + " --data-dir=" + dir_.Path() + " ";
  const std::string err = " 2>" + dir_.File("err");
  int rc = std::system((cli + dir_.File("bad.txt") + " " + dir_.File("out.txt") + err).c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "earlier\r\n");
  EXPECT_NE(ReadFile(dir_.File("err")).find("is kept unchanged"), std::string::npos)
      << ReadFile(dir_.File("err"));
  rc = std::system((cli + dir_.File("good.txt") + " " + dir_.File("out.txt") + err).c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 0) << ReadFile(dir_.File("err"));
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "De-hua Liu\r\n");
}

TEST_F(Cli, ADataDirectoryThatIsNotAFolderIsAUsageErrorOfEitherCommand) {
  WriteFile(dir_.File("file.txt"), "");
  struct Case {
    std::string option, err;
  } cases[] = {
      {"--data-dir=" + dir_.File("missing"),
       "data folder '" + dir_.File("missing") + "' does not exist"},
      {"--data-dir=" + dir_.File("file.txt"),
       "data folder '" + dir_.File("file.txt") + "' is not a folder"},
      {"--data-dir=", "the data folder name is empty (--data-dir=\"\")"},
      {"--data-dir ''", "the data folder name is empty (--data-dir=\"\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    Outcome r = Call(c.option + " - -", G("刘德华\r\n"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "nothing converted";
    EXPECT_EQ(r.err, "quorvel-cli: " + c.err + "\nTry 'quorvel-cli --help'.\n");
    // The dictionary command words the same folder alike, pointing at its own help.
    Outcome d = Call("dict " + c.option + " list");
    EXPECT_EQ(d.status, 2);
    EXPECT_EQ(d.err, "quorvel-cli: " + c.err + "\nTry 'quorvel-cli dict --help'.\n");
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

TEST_F(Cli, DamagedCharactersAndLinesWithoutAReadingAreConvertedWithAWarning) {
  auto warnDamaged = [](const char* count, const char* encoding) {
    return std::string("quorvel-cli: warning: standard input: ") + count + " (invalid " + encoding +
           " sequences, NUL bytes), each read as \"???\"\n";
  };
  auto warnMissing = [](const char* count) {
    return std::string("quorvel-cli: warning: standard input: ") + count +
           " lines hold \"???\" (a character without a reading)\n";
  };
  struct Row {
    const char* why;
    std::string in, out, err;
  } rows[] = {
      {"a stray byte in UTF-8", "刘德华\n单\xE7田芳\n张三\n",
       "De-hua Liu\r\n???-tian-fang Shan\r\nSan Zhang\r\n",
       warnDamaged("1 damaged character", "UTF-8") + warnMissing("1 of 3")},
      {"a NUL in GBK ends nothing", G("刘德华\r\n张") + '\0' + G("三\r\n李四\r\n"),
       "De-hua Liu\r\n???-san Zhang\r\nSi Li\r\n",
       warnDamaged("1 damaged character", "GB18030") + warnMissing("1 of 3")},
      {"NULs in UTF-8", std::string("刘德华\0\0\n李四\n", 19), "De-hua-???-??? Liu\r\nSi Li\r\n",
       warnDamaged("2 damaged characters", "UTF-8") + warnMissing("1 of 2")},
      {"a character without a reading", G("刘。\r\n李四\r\n"), "??? Liu\r\nSi Li\r\n",
       warnMissing("1 of 2")},
      {"nothing to say", G("刘德华\r\n"), "De-hua Liu\r\n", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Outcome r = Call("- -", row.in);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, row.err);
  }
  WriteFile(dir_.File("names.txt"), "刘德华\n\x94\n单\xE7田芳\n张三\n欧阳修\n");
  Outcome r = Call(dir_.File("names.txt") + " -");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.err,
      "quorvel-cli: warning: " + dir_.File("names.txt") +
          ": 2 damaged characters (invalid UTF-8 sequences, NUL bytes), each read as \"???\"\n"
          "quorvel-cli: warning: " +
          dir_.File("names.txt") + ": 2 of 5 lines hold \"???\" (a character without a reading)\n");
}

TEST_F(Cli, UsageErrorsExitTwo) {
  for (const char* args :
       {"", "-s dash x.txt", "-f 10 x.txt", "--format=a x.txt", "--format=Passport x.txt",
        "--umlaut=w x.txt", "--umlaut=V x.txt", "--umlaut x.txt", "--bogus x.txt", "a b c", "-f"}) {
    SCOPED_TRACE(args);
    Outcome r = Call(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Try 'quorvel-cli --help'"), std::string::npos) << r.err;
  }
  Outcome r = Call("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: quorvel-cli [OPTIONS] SOURCE [TARGET]"), std::string::npos);
  for (const char* option : {"--umlaut=v|yu|u|ü", "--format=N|passport", "LYU XIAOMING"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(Call("--version").out, std::string("quorvel-cli ") + quorvel::kVersion + "\n");
}

TEST_F(Cli, TablesComeBackWithTheNamesBesideTheirColumn) {
  WriteFile(dir_.File("staff.csv"),
            "工号,姓名,部门\r\n001,刘德华,\"销售, 北区\"\r\n002,\xEE\x80\x80,x\r\n");
  Outcome r = Call("--add=citation " + dir_.File("staff.csv"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("staff_en.csv")),
            "工号,姓名,姓名 (Pinyin),姓名 (Citation),部门\r\n001,刘德华,De-hua Liu,\"Liu, "
            "D.-H.\",\"销售, 北区\"\r\n"
            "002,\xEE\x80\x80,???,???,x\r\n");
  EXPECT_EQ(r.err,
            "quorvel-cli: 1 of 2 rows hold a name with \"???\" (a character without a reading)\n");

  r = Call("--table=tsv --column=1 --no-header -w - -", "欧阳修\t1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "欧阳修\tHsiu Ou-yang\t1\n") << "a table on the standard streams";

  r = Call("--table=csv --add=review - -", "姓名\n曾参\n王伟\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "姓名,姓名 (Pinyin),姓名 (Review)\n曾参,Can Zeng,参: can / cen / shen (rare in given "
            "names) — or "
            "Cen Zeng · Shen Zeng\n王伟,Wei Wang,\n")
      << "the review column: the flag text, empty when there is nothing to check";
  WriteFile(dir_.File("people.csv"), "姓名,部门\r\n王伟,x\r\n曾参,y\r\n");
  r = Call("--review=" + dir_.File("r.txt") + " " + dir_.File("people.csv"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("r.txt")),
            "3\t曾参\tCan Zeng\t参: can / cen / shen (rare in given names) — or Cen Zeng · "
            "Shen Zeng\n")
      << "a table's review file: LINE is the row in the sheet, the header row counted";
  EXPECT_NE(r.err.find("1 name to check"), std::string::npos) << r.err;

  WriteFile(dir_.File("names.txt"), G("刘德华\r\n欧阳修\r\n"));
  r = Call("--format=initials " + dir_.File("names.txt") + " -");
  EXPECT_EQ(r.out, "Liu DH\r\nOuyang X\r\n") << "the index forms for a plain list";

  // The column cannot be found: exit 2 with the headers; table options for a plain list: exit 2.
  r = Call("--column=Dept " + dir_.File("staff.csv"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("工号 (A), 姓名 (B), 部门 (C)"), std::string::npos) << r.err;
  for (const char* args : {"--column=2 names.txt", "--add=middle x.csv", "--table=ods x.csv"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Call(args).status, 2);
  }
  // An old Excel workbook is no names file: refused with what to do, no target written.
  WriteFile(dir_.File("old.XLS"), std::string("\xD0\xCF\x11\xE0 binary", 9));
  r = Call(dir_.File("old.XLS"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Spreadsheets saved as .xls are not read; save it as .xlsx or .csv"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("old_en.XLS")));
}

TEST_F(Cli, ATableIsReadInBlocksFromStreamsAndFromTheTargetsOwnFile) {
  std::string table = "工号,姓名\r\n";
  for (int i = 0; i < 300000; ++i)
    table += std::to_string(i) + (i % 2 ? ",欧阳修\r\n" : ",刘德华\r\n");
  WriteFile(dir_.File("staff.csv"), table);
  Outcome r = Call(dir_.File("staff.csv") + " " + dir_.File("expected.csv"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expected = ReadFile(dir_.File("expected.csv"));
  ASSERT_GT(expected.size(), table.size());

  r = Call("--table=csv - -", table);
  EXPECT_EQ(r.status, 0) << r.err;
  // (Compared whole: a diff of texts this long would not end.)
  EXPECT_TRUE(r.out == expected) << "standard input, copied aside, reads as the file does";
  // Standard output open on the source itself, read and written at its start: the source is
  // copied aside first, or the rows written would be read back.
  WriteFile(dir_.File("self.csv"), table);
  r = Call(dir_.File("self.csv") + " -", "", "1<>" + dir_.File("self.csv"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(dir_.File("self.csv")) == expected);

  WriteFile(dir_.File("out.csv"), "earlier\r\n");
  r = Call("--table=csv - " + dir_.File("out.csv"), "", "</dev/zero");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel-cli: Line 1 of \"standard input\" is longer than 16 MiB.\n");
  WriteFile(dir_.File("long.csv"), "姓名\r\n刘德华\r\n\"" + std::string(16 << 20, 'x') + "\"\r\n");
  r = Call(dir_.File("long.csv") + " " + dir_.File("out.csv"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quorvel-cli: Row 3 of \"" + dir_.File("long.csv") + "\" is longer than 16 MiB.\n");
  EXPECT_TRUE(ReadFile(dir_.File("out.csv")) == "earlier\r\n") << "a failed run leaves the target";
}

TEST_F(Cli, DictCommandsEditTheDictionariesByTheEditorsRules) {
  std::filesystem::create_directory(dir_.File("data"));
  const std::string dict = "dict --data-dir=" + dir_.File("data") + " ";
  std::filesystem::create_symlink("final.tsv", dir_.File("link.tsv"));
  WriteFile(dir_.File("log"), "earlier\n");
  Run({
      {"add a compound surname", dict + "add 欧阳 Auyeung", "", 0, "", ""},
      {"both texts are trimmed", dict + "add ' 上官 ' ' Shangguan '", "", 0, "", ""},
      {"an existing key gets the new reading in place", dict + "add 欧阳 Au-yeung", "", 0, "", ""},
      {"list prints KEY<TAB>READING in UTF-8", dict + "list", "", 0,
       "欧阳\tAu-yeung\n上官\tShangguan\n", ""},
      {"a new key of three characters is refused", dict + "add 司马光 x", "", 1, "",
       "quorvel-cli: 无法保存：支持单个汉字和复姓，最多两个汉字，“司马光”太长。\n"},
      {"a character outside GBK is a key like any other", dict + "add 𠇔 zu", "", 0, "", ""},
      {"and is listed as typed", dict + "list", "", 0, "欧阳\tAu-yeung\n上官\tShangguan\n𠇔\tzu\n",
       ""},
      {"and removed", dict + "remove 𠇔", "", 0, "", ""},
      {"a line break inside a text is refused", dict + "add 张 \"$(printf 'zh\\nang')\"", "", 1, "",
       "quorvel-cli: 无法保存：汉字和拼音的中间不能有换行。\n"},
      {"remove takes the key's entry away", dict + "remove 上官", "", 0, "", ""},
      {"removing a key that is not there fails", dict + "remove 上官", "", 1, "",
       "quorvel-cli: 没有找到：  上官\n"},
      {"-w chooses the Wade-Giles dictionary", dict + "-w add 张 Cheung", "", 0, "", ""},
      {"the pinyin dictionary did not change", dict + "export", "", 0, "欧阳\tAu-yeung\n", ""},
      {"import reports each refused line and takes the others", dict + "-w import -",
       "\xEF\xBB\xBF李\tLee\r\nno tab here\n\n司马光\tx\n王\t Wong \n张\tCheung2\n", 1, "",
       "quorvel-cli: -:2: no tab between key and reading\n"
       "quorvel-cli: -:4: 无法保存：支持单个汉字和复姓，最多两个汉字，“司马光”太长。\n"
       "quorvel-cli: 3 entries imported, 2 lines refused\n"},
      {"export writes a file", dict + "-w export " + dir_.File("out.tsv"), "", 0, "", ""},
      {"export through a link writes its final file", dict + "export " + dir_.File("link.tsv"), "",
       0, "", ""},
      {"import of a missing file fails", dict + "import " + dir_.File("none.tsv"), "", 1, "",
       "Cannot open file"},
      {"a key or reading may start with a dash after the action", dict + "add -x -y", "", 0, "",
       ""},
      {"remove it again", dict + "remove -x", "", 0, "", ""},
  });
  // Stored as the windows store them: GBK, CR LF, the pair line for line.
  EXPECT_EQ(ReadFile(dir_.File("data/define_han.dll")), CrLf({G("欧阳")}));
  EXPECT_EQ(ReadFile(dir_.File("data/define_py.dll")), CrLf({"Au-yeung"}));
  EXPECT_EQ(ReadFile(dir_.File("data/define_wei_han.dll")), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(ReadFile(dir_.File("data/define_wei_py.dll")), CrLf({"Cheung2", "Lee", "Wong"}));
  EXPECT_EQ(ReadFile(dir_.File("out.tsv")), "张\tCheung2\n李\tLee\n王\tWong\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.tsv")));
  EXPECT_EQ(Call(dict + "export /dev/stdout", "", ">>" + dir_.File("log")).status, 0)
      << "standard output appended to a log";
  EXPECT_EQ(ReadFile(dir_.File("final.tsv")), "欧阳\tAu-yeung\n");
  EXPECT_EQ(ReadFile(dir_.File("log")), "earlier\n欧阳\tAu-yeung\n");
  // The next conversion uses the change.
  EXPECT_EQ(Call("--data-dir=" + dir_.File("data") + " - -", G("欧阳修\r\n")).out,
            "Xiu Au-yeung\r\n");

  // clear leaves an empty pair.
  Outcome r = Call(dict + "clear");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Call(dict + "list").out, "");
  EXPECT_EQ(ReadFile(dir_.File("data/define_han.dll")), "");
  EXPECT_EQ(ReadFile(dir_.File("data/define_py.dll")), "");
  EXPECT_EQ(ReadFile(dir_.File("data/define_wei_py.dll")), CrLf({"Cheung2", "Lee", "Wong"}))
      << "the other stays";
}

TEST_F(Cli, DictUsageErrorsExitTwoAndANamesFileCalledDictIsConverted) {
  const std::string usageCases[] = {"dict",
                                    "dict frobnicate",
                                    "dict list extra",
                                    "dict add 张",
                                    "dict remove",
                                    "dict import",
                                    "dict export a b",
                                    "dict --bogus list",
                                    "dict --data-dir",
                                    "dict --data-dir= list",
                                    "dict --data-dir=/nonexistent/folder list",
                                    "dict --data-dir=" + std::string(QUORVEL_CLI) + " list"};
  for (const std::string& args : usageCases) {
    SCOPED_TRACE(args);
    Outcome r = Call(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Try 'quorvel-cli dict --help'"), std::string::npos) << r.err;
  }
  Outcome r = Call("dict --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("quorvel-cli dict [OPTIONS] import FILE"), std::string::npos);

  WriteFile(dir_.File("dict"), G("刘德华\r\n"));
  r = Call("./dict -", "", "", dir_.Path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "De-hua Liu\r\n");
}

TEST_F(Cli, ReviewWritesTheNamesToCheckWithTheirLineAndCountsThem) {
  WriteFile(dir_.File("names.txt"), "刘德华\n曾参\n\t乐嘉 \n张朝阳\n王ㄅ\n");
  Outcome r = Call("-f 6 --review=" + dir_.File("review.tsv") + " " + dir_.File("names.txt") + " " +
                   dir_.File("out.txt"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "quorvel-cli: 3 names to check, listed in " + dir_.File("review.tsv") + "\n" +
                       "quorvel-cli: warning: " + dir_.File("names.txt") +
                       ": 1 of 5 lines hold \"???\" (a character without a reading)\n");
  EXPECT_EQ(
      ReadFile(dir_.File("review.tsv")),
      "2\t曾参\tZeng Can\t参: can / cen / shen (rare in given names) — or Zeng Cen · Zeng Shen\n"
      "3\t乐嘉\tYue Jia\t乐: yue / le (two surname readings) — or Le Jia\n"
      "5\t王ㄅ\tWang ???\tㄅ: no reading\n");
  EXPECT_EQ(ReadFile(dir_.File("out.txt")),
            "Liu De-hua\r\nZeng Can\r\nYue Jia\r\nZhang Chao-yang\r\nWang ???\r\n");

  // Nothing to check: an empty file, replacing the old one; a failed run writes none.
  WriteFile(dir_.File("plain.txt"), G("刘德华\r\n"));
  r = Call("--review=" + dir_.File("review.tsv") + " " + dir_.File("plain.txt") + " -");
  EXPECT_EQ(r.err, "quorvel-cli: 0 names to check, listed in " + dir_.File("review.tsv") + "\n");
  EXPECT_EQ(ReadFile(dir_.File("review.tsv")), "");
  r = Call("--review=" + dir_.File("again.tsv") + " " + dir_.File("missing.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("again.tsv")));
  EXPECT_EQ(Call("--review= " + dir_.File("plain.txt")).status, 2) << "an empty file name";
  // A review file that is a pipe (or a device: /dev/null, /dev/stdout) is written into, never
  // replaced by a file of that name; a link stays a link to the file that takes the rows.
  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0600), 0);
  const int pipe = ::open(dir_.File("fifo").c_str(), O_RDWR | O_NONBLOCK);  // holds a reader
  ASSERT_GE(pipe, 0);
  std::filesystem::create_symlink("real.tsv", dir_.File("link.tsv"));
  WriteFile(dir_.File("review_me.txt"), "曾参\n");
  for (const std::string& into : {dir_.File("fifo"), dir_.File("link.tsv")}) {
    SCOPED_TRACE(into);
    r = Call("--review=" + into + " " + dir_.File("review_me.txt") + " -");
    EXPECT_EQ(r.status, 0) << r.err;
  }
  char got[512];
  const ssize_t n = ::read(pipe, got, sizeof got);
  ::close(pipe);
  const std::string row =
      "1\t曾参\tCan Zeng\t参: can / cen / shen (rare in given names) — or Cen Zeng · Shen Zeng\n";
  EXPECT_EQ(std::string(got, n > 0 ? static_cast<size_t>(n) : 0), row);
  EXPECT_TRUE(std::filesystem::is_fifo(dir_.File("fifo")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.tsv")));
  EXPECT_EQ(ReadFile(dir_.File("real.tsv")), row);

  // The review file never takes the place of the names or the result.
  for (const std::string& clash :
       {dir_.File("plain.txt"), dir_.File("./plain.txt"), dir_.File("plain_en.txt")}) {
    SCOPED_TRACE(clash);
    WriteFile(dir_.File("plain_en.txt"), "old result\r\n");
    r = Call("--review=" + clash + " " + dir_.File("plain.txt"));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("is the source or the target"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir_.File("plain.txt")), G("刘德华\r\n"));
    EXPECT_EQ(ReadFile(dir_.File("plain_en.txt")), "old result\r\n");
  }
}

// A review file goes out a block at a time as the run flags its names: a long review is the same
// file as one written whole, and a run that fails part way, with blocks of rows already out,
// places none (an earlier review file stays as it was, no temporary file is left).
TEST_F(Cli, AReviewWrittenAsTheRunGoesIsPlacedOnlyWhenTheRunSucceeds) {
  std::string names;
  for (int i = 0; i < 30000; ++i) names += G(i % 2 ? "曾参\r\n" : "刘德华\r\n");
  WriteFile(dir_.File("long.txt"), names + G("曾参\r\n"));
  WriteFile(dir_.File("broken.txt"), names + std::string((size_t{1} << 20) + 1, 'x') + "\r\n");
  const std::string review = " --review=" + dir_.File("review.tsv") + " ";

  Outcome r = Call(review + dir_.File("long.txt") + " " + dir_.File("out.txt"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "quorvel-cli: 15001 names to check, listed in " + dir_.File("review.tsv") + "\n");
  const std::string rows = ReadFile(dir_.File("review.tsv"));
  const std::string row =
      "\t曾参\tCan Zeng\t参: can / cen / shen (rare in given names) — or Cen Zeng · "
      "Shen Zeng\n";
  ASSERT_GT(rows.size(), size_t{1} << 20);
  EXPECT_EQ(rows.substr(0, 1 + row.size()), "2" + row);
  EXPECT_EQ(rows.substr(rows.size() - 5 - row.size()), "30001" + row);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 15001);

  for (const bool earlier : {true, false}) {
    SCOPED_TRACE(earlier ? "an earlier review file" : "none");
    if (earlier) WriteFile(dir_.File("review.tsv"), "earlier\n");
    else std::filesystem::remove(dir_.File("review.tsv"));
    r = Call(review + dir_.File("broken.txt") + " " + dir_.File("out.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Line 30001 of"), std::string::npos) << r.err;
    EXPECT_EQ(std::filesystem::exists(dir_.File("review.tsv")), earlier);
    if (earlier) {
      EXPECT_EQ(ReadFile(dir_.File("review.tsv")), "earlier\n");
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
      EXPECT_EQ(entry.path().filename().string().find(".review.tsv"), std::string::npos);
  }
}

TEST_F(Cli, DictNamesTeachesWholeNamesThatTheNextConversionUses) {
  std::filesystem::create_directory(dir_.File("data"));
  CopyInstalledLists(dir_.File("data"));
  const std::string names = "dict --names --data-dir=" + dir_.File("data") + " ";
  const std::string convert =
      "-f 6 --data-dir=" + dir_.File("data") + " --review=" + dir_.File("r.tsv") + " - -";
  EXPECT_EQ(Call(convert, G("曾参\r\n欧阳修\r\n")).out, "Zeng Can\r\nOuyang Xiu\r\n");

  Run({
      {"add a name", names + "add 曾参 'Zeng Shen'", "", 0, "", ""},
      {"the split marked in the name", names + "add '欧阳|修' 'ou yang xiu'", "", 0, "", ""},
      {"a name with too few syllables is refused", names + "add 乐嘉 le", "", 1, "",
       "有 2 个汉字，拼音却有 1 个音节"},
      {"list shows the syllables with the mark", names + "list", "", 0,
       "曾参\tzeng shen\n欧阳修\tou yang|xiu\n", ""},
      {"import takes KEY<TAB>SYLLABLES lines", names + "import -", "乐嘉\tle jia\n伍\twu\n", 1, "",
       "quorvel-cli: -:2: 无法保存：整名要 2 到 6 个汉字"},
      {"remove accepts the marked form", names + "remove '欧阳|修'", "", 0, "", ""},
      {"export", names + "export", "", 0, "曾参\tzeng shen\n乐嘉\tle jia\n", ""},
  });
  EXPECT_EQ(ReadFile(dir_.File("data/define_name_han.dll")), CrLf({G("曾参"), G("乐嘉")}));
  EXPECT_EQ(ReadFile(dir_.File("data/define_name_py.dll")), CrLf({"zeng shen", "le jia"}));
  Outcome r = Call(convert, G("曾参\r\n乐嘉\r\n乐毅\r\n"));
  EXPECT_EQ(r.out, "Zeng Shen\r\nLe Jia\r\nYue Yi\r\n");
  EXPECT_EQ(ReadFile(dir_.File("r.tsv")),
            "3\t乐毅\tYue Yi\t乐: yue / le (two surname readings) — or Le Yi\n")
      << "taught names are not flagged";
  EXPECT_EQ(Call("-w " + convert, G("曾参\r\n")).out, "Tseng Shen\r\n");

  r = Call(names + "clear");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Call(names + "list").out, "");
  EXPECT_EQ(Call(convert, G("曾参\r\n")).out, "Zeng Can\r\n");
  EXPECT_EQ(Call(names + "clear extra").status, 2);
}

}  // namespace

// A run checks the list files by comparing their identities, without an inotify instance (whose
// closing costs milliseconds at exit). While the converter waits for its standard input, after
// the lists are loaded, none of its descriptors is one.
TEST_F(Cli, ARunOpensNoInotifyInstance) {
  int toChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(toChild[0], STDIN_FILENO);
    ::close(toChild[0]);
    ::close(toChild[1]);
    const std::string dataDir = "--data-dir=" + BuildBinDir();
    const std::string target = dir_.File("out.txt");
    ::execl(QUORVEL_CLI, QUORVEL_CLI, dataDir.c_str(), "-", target.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(toChild[0]);
  // Loading comes before reading standard input; wait until the converter sleeps in that read.
  const std::string proc = "/proc/" + std::to_string(pid);
  bool waiting = false;
  for (int i = 0; i < 500 && !waiting; ++i) {
    ::usleep(10000);
    std::string stat = ReadFile(proc + "/stat");
    const size_t close = stat.rfind(')');
    const bool sleeping = close != std::string::npos && stat.substr(close + 2, 1) == "S";
    waiting = sleeping;
  }
  std::vector<std::string> inotify;
  int descriptors = 0;
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd")) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(fd.path(), ec);
    ++descriptors;
    if (target.string().find("inotify") != std::string::npos)
      inotify.push_back(fd.path().filename());
  }
  const std::string names = G("刘德华\n");
  ASSERT_EQ(::write(toChild[1], names.data(), names.size()), static_cast<ssize_t>(names.size()));
  ::close(toChild[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(waiting);
  EXPECT_GE(descriptors, 3);
  EXPECT_TRUE(inotify.empty()) << "inotify descriptors: " << inotify.size();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "De-hua Liu\r\n");
}

// A pipe is read once: short ones are held, long ones copied aside, and either converts as the
// same bytes in a file do, whatever the encoding. A line over 1 MiB ends the run with its number,
// from a file or from an endless /dev/zero, and an earlier target stays as it was.
std::string Utf8ToUtf16Le(std::string utf8) {
  iconv_t cd = ::iconv_open("UTF-16LE", "UTF-8");
  std::string out(utf8.size() * 2, '\0');
  char *in = utf8.data(), *to = out.data();
  size_t inLeft = utf8.size(), outLeft = out.size();
  EXPECT_NE(::iconv(cd, &in, &inLeft, &to, &outLeft), static_cast<size_t>(-1));
  ::iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

TEST_F(Cli, PipesConvertAsFilesDoAndAnEndlessLineIsAnError) {
  std::string names;
  for (int i = 0; i < 200000; ++i)
    names += i % 2 ? "欧阳修\r\n" : "刘德华\n";  // over 4 MiB as UTF-16
  const struct {
    const char* why;
    std::string bytes;
  } sources[] = {{"GBK, short", G("单田芳\r\n欧阳修\r\n")},
                 {"UTF-8, long", names},
                 {"UTF-16LE without a mark, long", Utf8ToUtf16Le(names)}};
  for (const auto& s : sources) {
    SCOPED_TRACE(s.why);
    WriteFile(dir_.File("in.txt"), s.bytes);
    ASSERT_EQ(Call(dir_.File("in.txt") + " " + dir_.File("from_file.txt")).status, 0);
    const std::string cmd =
        "cat " + dir_.File("in.txt") + " | " + QUORVEL_CLI + " - " + dir_.File("from_pipe.txt");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(ReadFile(dir_.File("from_pipe.txt")), ReadFile(dir_.File("from_file.txt")));
  }
  WriteFile(dir_.File("out.txt"), "earlier\r\n");
  Outcome r = Call("- " + dir_.File("out.txt"), "", "</dev/zero");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quorvel-cli: Line 1 of \"standard input\" is longer than 1 MiB.\n");
  WriteFile(dir_.File("long.txt"),
            G("单田芳\r\n欧阳修\r\n") + std::string((1 << 20) + 1, 'x') + "\r\n");
  r = Call(dir_.File("long.txt") + " " + dir_.File("out.txt"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Line 3 of \"" + dir_.File("long.txt") + "\" is longer than 1 MiB"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(dir_.File("out.txt")), "earlier\r\n");

  // The source appended to as the target: its names are read before the first block goes out.
  WriteFile(dir_.File("in.txt"), names);
  ASSERT_EQ(Call(dir_.File("in.txt") + " " + dir_.File("expected.txt")).status, 0);
  for (const char* target : {"-", "/dev/stdout"}) {
    WriteFile(dir_.File("self.txt"), names);
    r = Call(dir_.File("self.txt") + " " + target, "", ">>" + dir_.File("self.txt"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir_.File("self.txt")), names + ReadFile(dir_.File("expected.txt")))
        << target;
  }
}

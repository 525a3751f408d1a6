// Where the files lie: portable beside the program, or installed with the user's own folders.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>

#include "CustomDictionary.h"
#include "DataLocations.h"
#include "TestSupport.h"

using namespace quorvel::test;
using quorvel::DataMode;
using quorvel::FindDataLocations;
using quorvel::LocationInputs;
using quorvel::LocationSetup;
namespace fs = std::filesystem;

namespace {

constexpr const char* kNames[] = {"pinyin_han.dll", "pinyin_wei.dll",     "define_han.dll",
                                  "define_py.dll",  "define_wei_han.dll", "define_wei_py.dll"};

// Every file under `root` with its content: what a run may not change.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string();
    files[path] = entry.is_regular_file() ? ReadFile(path) : "<folder>";
  }
  return files;
}

// A fake installation: <root>/prefix/bin (the program) and <root>/prefix/share/quorvel (the
// shipped lists, each holding "shipped <name>"), and an empty home folder.
class DataLocationsTest : public testing::Test {
 protected:
  DataLocationsTest() {
    fs::create_directories(Bin());
    fs::create_directories(Shipped());
    fs::create_directories(Home());
    for (const char* name : kNames) WriteFile(Shipped() + "/" + name, Shipped(name));
  }
  std::string Prefix() const { return root_.Path() + "/prefix"; }
  std::string Bin() const { return Prefix() + "/bin"; }
  std::string Shipped() const { return Prefix() + "/share/quorvel"; }
  std::string Home() const { return root_.Path() + "/home"; }
  static std::string Shipped(const std::string& name) { return "shipped " + name + "\r\n"; }
  LocationInputs Inputs() const {
    LocationInputs inputs;
    inputs.executableDir = Bin() + "/";
    inputs.shippedDir = Bin() + "/../share/quorvel";
    inputs.home = Home();
    return inputs;
  }

  TempDir root_;
};

TEST_F(DataLocationsTest, TheRuleForEachSetting) {
  struct Row {
    const char* why = "";
    std::vector<const char*> inBin = {};                      // list files beside the program
    std::optional<std::string> home = "@home";                // "@home": the test's home folder
    std::optional<std::string> xdgData = {}, xdgConfig = {};  // "@root": the test folder
    std::map<std::string, std::string> userHas = {};          // already in the dictionary folder
    // Expected, "@..." replaced as above; "@shipped" the shipped folder, "@bin" the program's.
    DataMode mode = DataMode::kPortable;
    std::string dictionaryDir = {}, mappingDir = {}, settingsDir = {};
    std::vector<std::string> warningsMention = {};         // one entry per expected warning
    std::map<std::string, std::string> userHasAfter = {};  // expected in the dictionary folder
  };
  const std::string userData = "@home/.local/share/quorvel";
  const std::string userConfig = "@home/.config/quorvel";
  const std::map<std::string, std::string> allCopied = {
      {"define_han.dll", Shipped("define_han.dll")},
      {"define_py.dll", Shipped("define_py.dll")},
      {"define_wei_han.dll", Shipped("define_wei_han.dll")},
      {"define_wei_py.dll", Shipped("define_wei_py.dll")}};
  auto with = [](std::map<std::string, std::string> files,
                 std::map<std::string, std::string> more) {
    for (auto& [name, content] : more) files[name] = content;
    return files;
  };

  const Row rows[] = {
      {.why = "a build tree: the mapping list beside the program, which may write there",
       .inBin = {"pinyin_han.dll", "pinyin_wei.dll"},
       .mode = DataMode::kPortable,
       .dictionaryDir = "@bin",
       .mappingDir = "@bin",
       .settingsDir = "@bin"},
      {.why = "dictionaries beside the program without the mapping list do not make it portable",
       .inBin = {"define_han.dll", "define_py.dll"},
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .userHasAfter = allCopied},
      {.why = "installed, first start, XDG unset: the defaults under HOME, shipped pairs copied",
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .userHasAfter = allCopied},
      {.why = "XDG folders set: they are used, HOME is not",
       .xdgData = "@root/data",
       .xdgConfig = "@root/config/",
       .mode = DataMode::kInstalled,
       .dictionaryDir = "@root/data/quorvel",
       .mappingDir = "@shipped",
       .settingsDir = "@root/config/quorvel"},
      {.why = "relative XDG values are ignored",
       .xdgData = "data",
       .xdgConfig = "./config",
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .userHasAfter = allCopied},
      {.why = "empty XDG values count as unset",
       .xdgData = "",
       .xdgConfig = "",
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig},
      {.why = "no HOME: converting with the shipped lists, nothing kept, each folder named",
       .home = std::nullopt,
       .mode = DataMode::kInstalled,
       .dictionaryDir = "@shipped",
       .mappingDir = "@shipped",
       .settingsDir = "",
       .warningsMention = {"~/.local/share/quorvel", "~/.config/quorvel"}},
      {.why = "a relative HOME is no HOME",
       .home = "home",
       .mode = DataMode::kInstalled,
       .dictionaryDir = "@shipped",
       .mappingDir = "@shipped",
       .settingsDir = "",
       .warningsMention = {"~/.local/share/quorvel", "~/.config/quorvel"}},
      {.why = "no HOME, but both XDG folders set",
       .home = std::nullopt,
       .xdgData = "@root/data",
       .xdgConfig = "@root/config",
       .mode = DataMode::kInstalled,
       .dictionaryDir = "@root/data/quorvel",
       .mappingDir = "@shipped",
       .settingsDir = "@root/config/quorvel"},
      {.why = "a file where the folder should be: the folder is named, the shipped lists used",
       .xdgData = "@root/blocked",
       .mode = DataMode::kInstalled,
       .dictionaryDir = "@shipped",
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .warningsMention = {"\"@root/blocked/quorvel\""}},
      {.why = "the user's copy of the mapping pair is read instead of the shipped one",
       .userHas = {{"pinyin_han.dll", "mine\r\n"}, {"pinyin_wei.dll", "mine\r\n"}},
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = userData,
       .settingsDir = userConfig},
      {.why = "half a mapping pair is the user's too: its halves never come from two folders",
       .userHas = {{"pinyin_wei.dll", "mine\r\n"}},
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = userData,
       .settingsDir = userConfig},
      {.why = "a pair in the user's folder is never overwritten; the missing pair is copied",
       .userHas = {{"define_han.dll", "mine\r\n"}, {"define_py.dll", "mine too\r\n"}},
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .userHasAfter =
           with(allCopied, {{"define_han.dll", "mine\r\n"}, {"define_py.dll", "mine too\r\n"}})},
      {.why = "half a pair is left as it is, not filled up from the shipped pair",
       .userHas = {{"define_wei_py.dll", "half\r\n"}},
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .userHasAfter = {{"define_han.dll", Shipped("define_han.dll")},
                        {"define_py.dll", Shipped("define_py.dll")},
                        {"define_wei_py.dll", "half\r\n"}}},
      {.why = "an empty file is a pair half as well",
       .userHas = {{"define_han.dll", ""}},
       .mode = DataMode::kInstalled,
       .dictionaryDir = userData,
       .mappingDir = "@shipped",
       .settingsDir = userConfig,
       .userHasAfter = {{"define_han.dll", ""},
                        {"define_wei_han.dll", Shipped("define_wei_han.dll")},
                        {"define_wei_py.dll", Shipped("define_wei_py.dll")}}},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    fs::remove_all(Home());
    fs::create_directories(Home());
    for (const char* name : kNames) fs::remove(Bin() + "/" + name);
    for (const char* name : row.inBin) WriteFile(Bin() + "/" + name, "beside\r\n");
    fs::remove_all(root_.Path() + "/data");
    fs::remove_all(root_.Path() + "/config");
    WriteFile(root_.Path() + "/blocked", "a file, not a folder");

    auto expand = [&](std::string text) {
      for (auto [mark, value] : {std::pair{"@shipped", Shipped()},
                                 {"@home", Home()},
                                 {"@bin", Bin()},
                                 {"@root", root_.Path()}}) {
        for (size_t at; (at = text.find(mark)) != std::string::npos;)
          text.replace(at, std::string(mark).size(), value);
      }
      return text;
    };
    auto expandOpt = [&](const std::optional<std::string>& value) -> std::optional<std::string> {
      if (!value) return std::nullopt;
      return expand(*value);
    };

    const std::string dictionaryDir = expand(row.dictionaryDir);
    if (!row.userHas.empty()) {
      fs::create_directories(dictionaryDir);
      for (const auto& [name, content] : row.userHas)
        WriteFile(dictionaryDir + "/" + name, content);
    }
    LocationInputs inputs = Inputs();
    inputs.home = expandOpt(row.home);
    inputs.xdgDataHome = expandOpt(row.xdgData);
    inputs.xdgConfigHome = expandOpt(row.xdgConfig);
    const auto prefixBefore = Snapshot(Prefix());

    const auto where = FindDataLocations(inputs);

    EXPECT_EQ(where.mode, row.mode);
    EXPECT_EQ(where.dictionaryDir, dictionaryDir);
    EXPECT_EQ(where.mappingDir, expand(row.mappingDir));
    EXPECT_EQ(where.settingsDir, expand(row.settingsDir));
    ASSERT_EQ(where.warnings.size(), row.warningsMention.size())
        << (where.warnings.empty() ? "" : where.warnings.front());
    for (size_t i = 0; i < where.warnings.size(); ++i)
      EXPECT_NE(where.warnings[i].find(expand(row.warningsMention[i])), std::string::npos)
          << where.warnings[i];
    EXPECT_EQ(Snapshot(Prefix()), prefixBefore) << "nothing is written under the prefix";

    if (row.mode == DataMode::kPortable) {
      EXPECT_TRUE(fs::is_empty(Home())) << "a portable program leaves the home folder alone";
      continue;
    }
    for (const std::string& dir : {where.dictionaryDir, where.settingsDir}) {
      if (dir.empty() || dir == Shipped()) continue;
      struct stat st {};
      ASSERT_EQ(::stat(dir.c_str(), &st), 0) << dir << " was not created";
      EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    if (!row.userHasAfter.empty()) {
      std::map<std::string, std::string> after;
      for (const char* name : kNames) {
        const std::string path = where.dictionaryDir + "/" + name;
        if (fs::exists(path)) after[name] = ReadFile(path);
      }
      std::map<std::string, std::string> expected = row.userHasAfter;
      for (const auto& [name, content] : row.userHas) expected.emplace(name, content);
      EXPECT_EQ(after, expected);
    }
  }
}

TEST_F(DataLocationsTest, AStartAfterTheFirstKeepsWhatTheUserChanged) {
  const auto first = FindDataLocations(Inputs());
  ASSERT_EQ(first.dictionaryDir, Home() + "/.local/share/quorvel");
  WriteFile(first.dictionaryDir + "/define_han.dll", "edited\r\n");
  fs::remove(first.dictionaryDir + "/define_wei_han.dll");
  fs::remove(first.dictionaryDir + "/define_wei_py.dll");  // the user cleared one dictionary away
  const auto second = FindDataLocations(Inputs());
  EXPECT_EQ(second.dictionaryDir, first.dictionaryDir);
  EXPECT_TRUE(second.warnings.empty());
  EXPECT_EQ(ReadFile(first.dictionaryDir + "/define_han.dll"), "edited\r\n");
  // A pair deleted whole is a pair the user does not have: it comes back as shipped.
  EXPECT_EQ(ReadFile(first.dictionaryDir + "/define_wei_py.dll"), Shipped("define_wei_py.dll"));

  // A dictionary cleared in the program is an empty pair, which stays empty.
  quorvel::ListFiles lists(first.dictionaryDir, first.mappingDir);
  quorvel::CustomDictionary(lists, quorvel::CustomDictionary::Kind::kStandard).Clear();
  FindDataLocations(Inputs());
  EXPECT_EQ(ReadFile(first.dictionaryDir + "/define_han.dll"), "");
  EXPECT_EQ(ReadFile(first.dictionaryDir + "/define_py.dll"), "");
}

TEST_F(DataLocationsTest, LookingOnlyCreatesAndCopiesNothing) {
  LocationInputs inputs = Inputs();
  inputs.xdgConfigHome = root_.Path() + "/config";
  const auto where = FindDataLocations(inputs, LocationSetup::kLookOnly);
  EXPECT_EQ(where.mode, DataMode::kInstalled);
  EXPECT_EQ(where.dictionaryDir, Home() + "/.local/share/quorvel");
  EXPECT_EQ(where.mappingDir, Shipped());
  EXPECT_EQ(where.settingsDir, root_.Path() + "/config/quorvel");
  EXPECT_TRUE(where.warnings.empty());
  EXPECT_TRUE(fs::is_empty(Home()));
  EXPECT_FALSE(fs::exists(root_.Path() + "/config"));
}

TEST_F(DataLocationsTest, AFolderTheUserMayNotWriteIsNotPortable) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  WriteFile(Bin() + "/pinyin_han.dll", "beside\r\n");
  ASSERT_EQ(::chmod(Bin().c_str(), 0555), 0);
  const auto where = FindDataLocations(Inputs());
  ::chmod(Bin().c_str(), 0755);
  EXPECT_EQ(where.mode, DataMode::kInstalled);
  EXPECT_EQ(where.dictionaryDir, Home() + "/.local/share/quorvel");
}

TEST_F(DataLocationsTest, AHomeTheUserMayNotWriteIsNamedInTheWarning) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  ASSERT_EQ(::chmod(Home().c_str(), 0555), 0);
  const auto where = FindDataLocations(Inputs());
  ::chmod(Home().c_str(), 0755);
  EXPECT_EQ(where.dictionaryDir, Shipped());
  EXPECT_EQ(where.settingsDir, "");
  ASSERT_EQ(where.warnings.size(), 2u);
  EXPECT_NE(where.warnings[0].find("\"" + Home() +
                                   "/.local/share/quorvel\" for your dictionaries "
                                   "(File access denied)"),
            std::string::npos)
      << where.warnings[0];
}

}  // namespace

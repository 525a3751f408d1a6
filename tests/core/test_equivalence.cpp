// Whole runs pinned to a table of checksums: seeded names files in every source encoding, every
// combination of readings, romanization, format and separator (the ü spelling rotating through
// them), and data folders from the installed lists to broken pairs. The table was written by the
// engine as it stood before the batch conversion stopped checking the list files at every
// name, decoded Unicode sources line by line and cached readings; every output byte, every report
// figure and every error message must stay as it was.
//
// To rewrite the table on purpose (a deliberate change of output), run the test with
// QUORVEL_EQUIVALENCE_OUT=<file> and copy that file over tests/data/equivalence.sums.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "BatchConversion.h"
#include "BuiltinTable.h"
#include "Encoding.h"
#include "Errors.h"
#include "TestSupport.h"
#include "TextLines.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

class Fnv {
 public:
  void Add(std::string_view bytes) {
    for (unsigned char c : bytes) hash_ = (hash_ ^ c) * 0x100000001b3ULL;
    Add(bytes.size());
  }
  void Add(uint64_t n) {
    for (int i = 0; i < 8; ++i) hash_ = (hash_ ^ ((n >> (8 * i)) & 0xFF)) * 0x100000001b3ULL;
  }
  std::string Hex() const {
    char s[17];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(hash_));
    return s;
  }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ULL;
};

// A GBK names file: common names, compound surnames, polyphones and ü syllables, blank lines,
// spaces and tabs inside and around, ASCII, a full-width space, a lone lead byte, long lines,
// all three line ends, and a NUL with names after it.
std::string SeededGbkNames(uint32_t seed, int count) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  // The table's GBK characters of the unified block, in table order: the rows the table first had,
  // so the names stay the same as the table grows.
  static const std::vector<std::string> gbkRows = [] {
    std::vector<std::string> rows;
    for (int i = 0; i < kBuiltinRowCount; ++i) {
      const std::string key = BuiltinKey(i);
      char32_t cp = 0;
      if (key.size() == 2 && DecodeUtf8(Gb18030ToUtf8(key), &cp) == 3 && cp >= 0x4E00 &&
          cp <= 0x9FA5)
        rows.push_back(key);
    }
    return rows;
  }();
  auto anyChar = [&] { return gbkRows[pick(gbkRows.size())]; };
  const std::vector<std::string> special = {
      G("欧阳"), G("司马"), G("单于"), G("诸葛"), G("张三"), G("单"), G("曾"), G("吕"),
      G("女"),   G("略"),   G("虐"),   G("行"),   G("赵"),   G("李"), G("陈"), G("乐")};
  const std::vector<std::string> common = {G("王"), G("李"), G("张"), G("刘"), G("陈"), G("杨"),
                                           G("黄"), G("周"), G("孙"), G("吴"), G("徐"), G("马")};
  const char* ends[] = {"\r\n", "\n", "\r"};
  std::string out;
  for (int i = 0; i < count; ++i) {
    std::string line;
    switch (pick(10)) {
      case 0: break;  // blank
      case 1:
        for (size_t k = pick(10); k > 0; --k) line += anyChar();
        break;
      case 2:
        line = " \t" + special[pick(special.size())] + " " + anyChar() + "  " + anyChar() + "\t ";
        break;
      case 3: line = anyChar() + "ab" + anyChar() + "\xA1\xA1" + anyChar(); break;
      case 4:
        line = special[pick(special.size())] + anyChar() + "\x81";  // a lone lead byte at the end
        break;
      default:
        switch (pick(3)) {
          case 0: line = special[pick(special.size())]; break;
          case 1: line = kSurnameKeys[pick(static_cast<size_t>(kSurnameCount))]; break;
          default: line = common[pick(common.size())];
        }
        for (size_t k = 1 + pick(2); k > 0; --k)
          line += pick(4) ? anyChar() : special[pick(special.size())];
    }
    out += line + ends[pick(3)];
  }
  out += G("刘德华") + '\0' + G("张学友\r\n李四\r\n");
  return out;
}

std::string Utf16(std::string_view utf8, bool littleEndian) {
  std::string out;
  auto unit = [&](uint32_t u) {
    char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += littleEndian ? lo : hi;
    out += littleEndian ? hi : lo;
  };
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0xFFFD;
    size_t len = DecodeUtf8(utf8.substr(i), &cp);
    i += len ? len : 1;
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// The five sources: GBK; UTF-8 with characters GBK cannot hold and a few damaged bytes (one
// after the NUL); UTF-8 with a byte-order mark; UTF-16 either way round with lone surrogates and
// an odd last byte.
std::map<std::string, std::string> Sources() {
  const std::string gbk = SeededGbkNames(20261211, 700);
  std::string utf8 = Gb18030ToUtf8(gbk);
  std::string damaged;
  std::mt19937 rng(7);
  size_t lineNo = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    damaged += utf8[i];
    if (utf8[i] != '\n') continue;
    ++lineNo;
    if (rng() % 40 == 0) damaged += "\xF0\xAA\x9A\xA5";  // U+2A6A5, not in GBK
    if (rng() % 60 == 0) damaged += "\xE4\xB8";          // a truncated sequence
    if (rng() % 90 == 0) damaged += "\x80";              // a stray continuation byte
    if (rng() % 90 == 0) damaged += "\xED\xA0\x80";      // a surrogate, not UTF-8
  }
  damaged += "\xFF";  // after the NUL: still counted
  std::string clean = utf8;
  std::string le = "\xFF\xFE" + Utf16(clean.substr(0, clean.size() / 2) + "\xF0\xAA\x9A\xA5" +
                                          clean.substr(clean.size() / 2),
                                      true);
  le.insert(le.size() / 3 & ~size_t{1}, std::string("\x00\xD8", 2));  // a lone high surrogate
  le += "\x41";                                                       // an odd last byte
  std::string be = "\xFE\xFF" + Utf16(clean, false);
  be.insert(be.size() / 2 & ~size_t{1}, std::string("\xDC\x00", 2));  // a lone low surrogate
  be += std::string("\xD8\x01", 2);                                   // a high surrogate at the end
  return {{"gbk", gbk},
          {"utf8", damaged},
          {"utf8bom", "\xEF\xBB\xBF" + clean},
          {"utf16le", le},
          {"utf16be", be}};
}

struct Folder {
  std::string data, mapping;
};

// The five data folders: the installed lists; installed with custom entries (compound and
// four-byte keys, a repeated key, readings in Chinese and "???", an empty key); dictionaries
// beside a mapping pair of its own (capitalised and missing syllables); pairs of unequal length
// (the run stops at the first name that needs the missing line); no files at all.
std::map<std::string, Folder> Folders(const TempDir& root) {
  std::map<std::string, Folder> folders;
  auto make = [&](const std::string& name) {
    std::filesystem::create_directory(root.File(name));
    return root.File(name);
  };
  std::string installed = make("installed");
  CopyInstalledLists(installed);
  folders["installed"] = {installed, installed};

  std::string custom = make("custom");
  CopyInstalledLists(custom);
  WriteFile(custom + "/define_han.dll", CrLf({G("欧阳"), G("司马"), G("赵"), G("单"), G("吕"),
                                              G("赵"), G("张三"), "", G("乐")}));
  WriteFile(custom + "/define_py.dll",
            CrLf({"ouyang", "Sima", "Chiu", "???", G("吕"), "zhao2", "zhangsan", "wu", "yue/le"}));
  WriteFile(custom + "/define_wei_han.dll", CrLf({G("欧阳"), G("陈"), G("张三"), G("诸葛")}));
  WriteFile(custom + "/define_wei_py.dll", CrLf({"Au-yeung", "Chan", G("张三"), "Chu-ko"}));
  folders["custom"] = {custom, custom};

  std::string own = make("own-mapping-dicts");
  std::string mapping = make("own-mapping");
  WriteFile(own + "/define_han.dll", CrLf({G("诸葛")}));
  WriteFile(own + "/define_py.dll", CrLf({"zhuge"}));
  // The second half of the shipped pair, line for line, after four lines of its own.
  auto secondHalf = [](const std::string& file) {
    const auto lines = SplitLines(ReadFile(BuildBinDir() + "/" + file));
    return CrLf(
        std::vector<std::string>(lines.begin() + static_cast<long>(lines.size() / 2), lines.end()));
  };
  WriteFile(mapping + "/pinyin_han.dll",
            "Zhao\r\nliu\r\nzhang\r\nli \r\n" + secondHalf("pinyin_han.dll"));
  WriteFile(mapping + "/pinyin_wei.dll",
            "ZHAO\r\nLAU\r\nCHEUNG\r\nLEE\r\n" + secondHalf("pinyin_wei.dll"));
  folders["own-mapping"] = {own, mapping};

  std::string broken = make("broken");
  CopyInstalledLists(broken);
  WriteFile(broken + "/define_han.dll", CrLf({G("欧阳"), G("孙")}));
  WriteFile(broken + "/define_py.dll", CrLf({"ouyang"}));
  WriteFile(broken + "/define_wei_han.dll", CrLf({G("周"), G("司马")}));
  WriteFile(broken + "/define_wei_py.dll", CrLf({"Chow"}));
  folders["broken"] = {broken, broken};

  std::string empty = make("empty");
  folders["empty"] = {empty, empty};
  return folders;
}

// Every combination of readings, romanization, format (none, 0..9, passport) and separator.
std::vector<ConversionOptions> AllOptions() {
  std::vector<ConversionOptions> all;
  for (int readings = 0; readings < 2; ++readings)
    for (int wade = 0; wade < 2; ++wade)
      for (int format = -1; format <= 10; ++format)
        for (int separator = 0; separator < 3; ++separator) {
          ConversionOptions o;
          o.readings = readings ? Readings::kAll : Readings::kFirst;
          o.romanization = wade ? Romanization::kWadeGiles : Romanization::kPinyin;
          o.format = static_cast<NameFormat>(format);
          o.separator = static_cast<Separator>(separator);
          o.umlaut = static_cast<UmlautSpelling>(all.size() % kUmlautSpellingCount);
          all.push_back(o);
        }
  return all;
}

std::map<std::string, std::string> ExpectedSums() {
  std::map<std::string, std::string> sums;
  std::ifstream in(SourceDir() + "/tests/data/equivalence.sums");
  std::string source, folder, hash;
  while (in >> source >> folder >> hash) sums[source + " " + folder] = hash;
  return sums;
}

TEST(Equivalence, WholeRunsGiveTheOutputOfTheTable) {
  TempDir root;
  const auto sources = Sources();
  const auto folders = Folders(root);
  const auto options = AllOptions();
  ASSERT_EQ(options.size(), 144u);
  const auto expected = ExpectedSums();
  const char* rewrite = std::getenv("QUORVEL_EQUIVALENCE_OUT");
  if (!rewrite) {
    ASSERT_EQ(expected.size(), sources.size() * folders.size()) << "tests/data/equivalence.sums";
  }
  std::ostringstream table;
  size_t failures = 0, markers = 0, invalid = 0;
  const std::map<std::string, SourceEncoding> detected = {{"gbk", SourceEncoding::kGb18030},
                                                          {"utf8", SourceEncoding::kUtf8},
                                                          {"utf8bom", SourceEncoding::kUtf8Bom},
                                                          {"utf16le", SourceEncoding::kUtf16Le},
                                                          {"utf16be", SourceEncoding::kUtf16Be}};
  for (const auto& [sourceName, bytes] : sources) {
    EXPECT_EQ(DetectEncoding(bytes), detected.at(sourceName)) << sourceName;
    WriteFile(root.File("in.txt"), bytes);
    for (const auto& [folderName, folder] : folders) {
      ListFiles lists(folder.data, folder.mapping);
      Fnv fnv;
      for (const ConversionOptions& o : options) {
        std::filesystem::remove(root.File("out.txt"));
        try {
          BatchReport report = ConvertFile(lists, root.File("in.txt"), root.File("out.txt"), o);
          fnv.Add(std::string("ok ") + EncodingName(report.encoding));
          fnv.Add(report.lines);
          fnv.Add(report.linesWithMarker);
          fnv.Add(report.invalidSequences);
          markers += report.linesWithMarker;
          invalid += report.invalidSequences;
        } catch (const Error& e) {
          // Messages that name a file name it in this run's own temporary folder.
          std::string what = e.what();
          for (size_t at; (at = what.find(root.Path())) != std::string::npos;)
            what.replace(at, root.Path().size(), "<root>");
          fnv.Add("error " + what);
          ++failures;
        }
        // A run that fails before it writes leaves no file.
        fnv.Add(std::filesystem::exists(root.File("out.txt")) ? ReadFile(root.File("out.txt"))
                                                              : "<no file>");
      }
      const std::string key = sourceName + " " + folderName;
      table << key << " " << fnv.Hex() << "\n";
      auto it = expected.find(key);
      if (!rewrite) {
        EXPECT_TRUE(it != expected.end() && it->second == fnv.Hex())
            << key << ": output differs from the table (" << fnv.Hex() << ")";
      }
    }
  }
  if (rewrite) std::ofstream(rewrite) << table.str();
  // The runs went through the interesting paths, not just the easy ones.
  EXPECT_GT(failures, 100u);
  EXPECT_GT(markers, 1000u);
  EXPECT_GT(invalid, 100u);
}

}  // namespace

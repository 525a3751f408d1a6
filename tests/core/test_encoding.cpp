// The encodings users' files come in: byte-order marks, UTF-8 without a mark, and the proof that
// GBK names are never mistaken for UTF-8.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>
#include <filesystem>
#include <optional>
#include <random>

#include "BatchConversion.h"
#include "BuiltinTable.h"
#include "Encoding.h"
#include "Errors.h"
#include "TestSupport.h"
#include "TextLines.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::vector<std::string> Gb2312TableCharacters() {
  std::vector<std::string> out;
  for (int i = 0; i < kBuiltinRowCount; ++i) {
    auto lead = static_cast<unsigned char>(BuiltinKey(i)[0]),
         trail = static_cast<unsigned char>(BuiltinKey(i)[1]);
    if (lead >= 0xB0 && lead <= 0xF7 && trail >= 0xA1) out.push_back(BuiltinKey(i));
  }
  return out;
}

// The bytes of `text` in hex, for a failure message.
std::string Hex(std::string_view text) {
  std::string out;
  char byte[4];
  for (char c : text) {
    std::snprintf(byte, sizeof byte, "%02X ", static_cast<unsigned char>(c));
    out += byte;
  }
  return out;
}

// An unnamed file holding `bytes`, read from its start.
struct ScratchDescriptor {
  int fd;
  explicit ScratchDescriptor(std::string_view bytes) : fd(::memfd_create("names", MFD_CLOEXEC)) {
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::lseek(fd, 0, SEEK_SET);
  }
  ~ScratchDescriptor() { ::close(fd); }
};

std::string Utf16(const std::string& utf8, bool le) {
  std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
  auto unit = [&](char32_t u) {
    char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += le ? std::string{lo, hi} : std::string{hi, lo};
  };
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    i += DecodeUtf8(std::string_view(utf8).substr(i), &cp);
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// The lines of a whole GB18030 text.
std::vector<std::string> Lines(std::string_view gbk) {
  std::vector<std::string> out;
  ForEachLine(gbk, [&](std::string_view line) { out.emplace_back(line); });
  return out;
}

// The lines NextLines reads, in batches of at most `maxLines` lines that end once they hold
// `maxBytes` bytes, into one buffer reused from batch to batch (what lies past a batch's lines
// is left from the one before).
std::vector<std::string> LinesInBatches(Gb18030LineReader& reader, size_t maxLines,
                                        size_t maxBytes) {
  std::vector<std::string> lines;
  std::string buffer = "left from before";
  std::vector<size_t> ends;
  for (bool more = true; more;) {
    ends.clear();
    more = reader.NextLines(buffer, ends, maxLines, maxBytes);
    EXPECT_TRUE(!more || ends.size() == maxLines || ends.back() >= maxBytes)
        << "a batch ends early only at the end of the text";
    for (size_t k = 0, from = 0; k < ends.size(); from = ends[k++])
      lines.push_back(buffer.substr(from, ends[k] - from));
  }
  return lines;
}

}  // namespace

TEST(Encoding, TheUtf8DecoderIsStrict) {
  struct Row {
    std::string bytes;
    size_t length;
    char32_t codePoint;
    const char* why;
  } rows[] = {
      {"a", 1, U'a', "ASCII"},
      {"\xC3\xA9", 2, 0xE9, "two bytes"},
      {"\xE5\x88\x98", 3, 0x5218, "three bytes: 刘"},
      {"\xF0\xAA\x9A\xA5", 4, 0x2A6A5, "four bytes"},
      {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF, "the last code point"},
      {"", 0, 0, "nothing"},
      {"\xC0\x80", 0, 0, "overlong two-byte form"},
      {"\xE0\x80\x80", 0, 0, "overlong three-byte form"},
      {"\xF0\x80\x80\x80", 0, 0, "overlong four-byte form"},
      {"\xED\xA0\x80", 0, 0, "a surrogate"},
      {"\xF4\x90\x80\x80", 0, 0, "past U+10FFFF"},
      {"\xE5\x88", 0, 0, "cut short"},
      {"\x88", 0, 0, "a continuation byte first"},
      {"\xE5\x28\x98", 0, 0, "a continuation byte missing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(row.bytes, &cp), row.length);
    if (row.length > 0) {
      EXPECT_EQ(cp, row.codePoint);
      EXPECT_EQ(DecodeUtf8(row.bytes + "tail", &cp), row.length)
          << "only the first sequence is read";
    }
    EXPECT_EQ(IsValidUtf8(row.bytes), row.length == row.bytes.size());
  }
}

// The checks that read many bytes at once give the answers of a walk one sequence (or one GB2312
// pair) at a time, for random texts of ASCII runs, line ends, NULs, valid and invalid UTF-8 at
// its edges (overlong forms, surrogates, cut sequences), GB2312 pairs and bytes just outside
// them, at every offset from the start of a word; short texts and texts of several 32-byte
// blocks (the UTF-8 check of a long text takes 32 bytes at a time where the processor can),
// faults falling anywhere in a block and across its edges.
TEST(Encoding, TheQuickChecksAgreeWithAWalkBySequence) {
  // The pieces, '|' between them: ASCII and line ends; two-byte forms (one overlong); three
  // bytes, ideographs or not; E0 and ED at their edges; four bytes, the last code point and past
  // it; sequences cut short and stray bytes; GB2312 pairs and bytes just outside them.
  const std::string_view joined =
      "a|zhang san |\n|\r\n|xxxxxxxxxxxxxxxxxxx|\xC3\xA9|\xC2\x80|\xDF\xBF|\xC1\xBF|"
      "刘|华|㐀|\xE4\xB6\xBF|豈|\xEF\xAB\xBF|\xEF\xBF\xBF|"
      "\xE0\xA0\x80|\xE0\x9F\xBF|\xED\x9F\xBF|\xED\xA0\x80|"
      "\xF0\xA0\x80\x80|\xF0\x90\x80\x80|\xF0\x8F\xBF\xBF|\xF4\x8F\xBF\xBF|\xF4\x90\x80\x80|"
      "\xE5\x88|\xE5|\xF0\xAA\x9A|\x80|\xBF|\xFF|\xFE|"
      "\xA1\xA1|\xB0\xA1|\xF7\xFE|\xF8\xA1|\xA0\xA1|\xA1\xA0|\xA1\xFF|\xD6\xD0|\xE6\xB6\x93";
  std::vector<std::string> pieces = {std::string(1, '\0')};
  for (size_t at = 0; at <= joined.size();) {
    const size_t bar = std::min(joined.find('|', at), joined.size());
    pieces.emplace_back(joined.substr(at, bar - at));
    at = bar + 1;
  }
  auto walkUtf8 = [](std::string_view text, bool* valid, bool* ideograph) {
    Utf8Census census;
    *valid = true;
    std::optional<bool> firstIdeograph;  // before the first invalid sequence, if any
    bool inFault = false;
    for (size_t i = 0; i < text.size();) {
      char32_t cp;
      if (const size_t len = DecodeUtf8(text.substr(i), &cp)) {
        census.ideographs += IsIdeograph(cp);
        if (IsIdeograph(cp) && *valid && !firstIdeograph) firstIdeograph = true;
        inFault = false;
        i += len;
        continue;
      }
      *valid = false;
      ++census.invalid;
      census.faults += !inFault;
      inFault = true;
      i += InvalidUtf8Length(text.substr(i));
    }
    *ideograph = firstIdeograph.value_or(false);
    return census;
  };
  auto walkGb2312 = [](std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
      const auto lead = static_cast<unsigned char>(text[i]);
      if (lead < 0x80) continue;
      if (lead < 0xA1 || lead > 0xF7 || i + 1 == text.size()) return false;
      const auto trail = static_cast<unsigned char>(text[++i]);
      if (trail < 0xA1 || trail > 0xFE) return false;
    }
    return true;
  };
  std::mt19937 rng(1217);
  for (int round = 0; round < 200000; ++round) {
    std::string text(rng() % 8, ' ');  // the offset from the start of a word
    const size_t offset = text.size();
    // Pieces of all kinds, or of a few, as files are, so that long valid or paired runs come up.
    std::vector<const std::string*> drawn;
    for (const std::string& piece : pieces) drawn.push_back(&piece);
    if (round % 2) {
      std::shuffle(drawn.begin(), drawn.end(), rng);
      drawn.resize(1 + rng() % 4);
    }
    for (int k = rng() % 24; k > 0; --k) text += *drawn[rng() % drawn.size()];
    const std::string_view bytes = std::string_view(text).substr(offset);
    bool valid, ideograph;
    const Utf8Census expected = walkUtf8(bytes, &valid, &ideograph);
    const Utf8Census census = CensusUtf8(bytes);
    ASSERT_EQ(IsValidUtf8(bytes), valid) << Hex(bytes);
    ASSERT_EQ(HasUtf8Ideograph(bytes), ideograph) << Hex(bytes);
    ASSERT_EQ(census.ideographs, expected.ideographs) << Hex(bytes);
    ASSERT_EQ(census.invalid, expected.invalid) << Hex(bytes);
    ASSERT_EQ(census.faults, expected.faults) << Hex(bytes);
    ASSERT_EQ(LooksLikeGb2312(bytes), walkGb2312(bytes)) << Hex(bytes);
  }
}

TEST(Encoding, GbkNamesReadAsUtf8OnlyWhenTheyAreTheUtf8OfCommonCharacters) {
  const auto chars = Gb2312TableCharacters();
  ASSERT_GT(chars.size(), 6500u);
  for (const auto& a : chars) {
    ASSERT_EQ(DetectEncoding(a), SourceEncoding::kGb18030) << U(a);
    ASSERT_EQ(DetectEncoding(a + "\r\n"), SourceEncoding::kGb18030) << U(a);
  }
  std::string two(4, '\0');
  for (const auto& a : chars) {
    two[0] = a[0];
    two[1] = a[1];
    for (const auto& b : chars) {
      two[2] = b[0];
      two[3] = b[1];
      if (DetectEncoding(two) != SourceEncoding::kGb18030) FAIL() << U(two);
    }
  }
  // Three characters drawn at random from all of GB2312's (real names are not) can be valid UTF-8
  // too; a few of those are the UTF-8 of two common characters, and read so.
  std::mt19937 rng(7);
  std::string three(6, '\0');
  int validUtf8 = 0, readAsUtf8 = 0;
  for (int i = 0; i < 2'000'000; ++i) {
    for (int k = 0; k < 3; ++k) {
      const auto& c = chars[rng() % chars.size()];
      three[2 * k] = c[0];
      three[2 * k + 1] = c[1];
    }
    if (DetectEncoding(three) != SourceEncoding::kGb18030) {
      ++readAsUtf8;
      EXPECT_TRUE(IsValidUtf8(three)) << U(three);
    }
    validUtf8 += IsValidUtf8(three) && HasUtf8Ideograph(three);
  }
  EXPECT_GT(validUtf8, 0);
  EXPECT_LT(readAsUtf8, 20) << "of 2,000,000";
  std::printf("random GB2312 triples read as UTF-8: %d of 2,000,000\n", readAsUtf8);
}

// Files of one or two realistic names (surnames by frequency, common given-name characters, as
// bench/make_names.py draws them), with and without a last line break, in UTF-8 and in GBK: each
// is read in its own encoding but for a rare UTF-8 name whose bytes are also common GB2312
// characters. The rates are printed for the record.
TEST(Encoding, ShortFilesAreReadInTheirOwnEncoding) {
  const std::string surnames =
      "王李张刘陈杨黄赵吴周徐孙朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕"
      "丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严"
      "覃武戴莫孔向汤单区解仇查朴";
  const std::string given =
      "伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英华玉萍红娥玲芬芳燕彩春菊兰凤洁梅琳素云莲"
      "真环雪荣爱妹霞香月莺媛艳瑞凡佳嘉琼勤珍贞莉桂娣叶璧璐娅琦晶妍茜秋珊莎锦黛青倩婷姣婉娴瑾颖露瑶"
      "怡婵雁蓓纨仪荷丹蓉眉君琴蕊薇菁梦岚苑婕馨瑗琰韵融园艺咏卿聪澜纯毓悦昭冰爽琬茗羽希宁欣飘育滢馥"
      "筠柔竹霭凝晓欢霄枫芸菲寒伊亚宜可姬舒影荔枝思丽浩宇轩然泽睿子涵博文俊杰志强建国德华海波斌鹏辉"
      "健成家明永健世国栋良清飞彬富顺信子杰涛昌成康星光天达安岩中茂进林有坚和彪博诚先敬震振壮会思群"
      "豪心邦承乐绍功松善厚庆磊民友裕河哲江超浩亮政谦亨奇固之轮翰朗伯宏言若鸣朋斌梁栋维启克伦翔旭鹏"
      "泽晨辰士以建家致树炎德行时泰盛雄琛钧冠策腾楠榕风航弘";
  auto characters = [](const std::string& utf8) {
    std::vector<std::string> out;
    for (size_t i = 0; i < utf8.size();) {
      char32_t cp;
      const size_t len = DecodeUtf8(std::string_view(utf8).substr(i), &cp);
      out.push_back(utf8.substr(i, len));
      i += len;
    }
    return out;
  };
  const auto surnameChars = characters(surnames), givenChars = characters(given);
  std::mt19937 rng(20261210);
  auto name = [&] {
    // Zipf over the surnames: rank r with weight 1/(r+1).
    std::vector<double> weights;
    for (size_t r = 0; r < surnameChars.size(); ++r)
      weights.push_back(1.0 / static_cast<double>(r + 1));
    std::discrete_distribution<size_t> surname(weights.begin(), weights.end());
    std::string out = surnameChars[surname(rng)];
    for (int k = rng() % 10 < 3 ? 1 : 2; k > 0; --k) out += givenChars[rng() % givenChars.size()];
    return out;
  };
  constexpr int kFiles = 20000;
  for (int names : {1, 2}) {
    int utf8Wrong = 0, gbkWrong = 0;
    for (int file = 0; file < kFiles; ++file) {
      std::string text;
      for (int k = 0; k < names; ++k) text += (k ? "\r\n" : "") + name();
      if (file % 2) text += "\r\n";
      utf8Wrong += DetectEncoding(text) != SourceEncoding::kUtf8;
      gbkWrong += DetectEncoding(G(text)) != SourceEncoding::kGb18030;
    }
    std::printf("%d-name files: %d of %d UTF-8 and %d of %d GBK read in the wrong encoding\n",
                names, utf8Wrong, kFiles, gbkWrong, kFiles);
    EXPECT_EQ(gbkWrong, 0);
    EXPECT_LE(utf8Wrong, kFiles / 1000) << names;
  }
}

TEST(Encoding, DetectsUnicodeSources) {
  const std::string names = "刘德华\r\n张三\r\n";
  EXPECT_EQ(DetectEncoding(names), SourceEncoding::kUtf8);
  EXPECT_EQ(DetectEncoding("\xEF\xBB\xBF" + names), SourceEncoding::kUtf8Bom);
  EXPECT_EQ(DetectEncoding(Utf16(names, true)), SourceEncoding::kUtf16Le);
  EXPECT_EQ(DetectEncoding(Utf16(names, false)), SourceEncoding::kUtf16Be);
  EXPECT_EQ(DetectEncoding("zhang san\r\n"), SourceEncoding::kGb18030) << "no ideographs: GBK";
  EXPECT_EQ(DetectEncoding(G(names)), SourceEncoding::kGb18030);
  EXPECT_EQ(DetectEncoding("é\r\n"), SourceEncoding::kGb18030) << "valid UTF-8 without ideographs";
  EXPECT_EQ(DetectEncoding("Пётр Иванов\r\n"), SourceEncoding::kGb18030)
      << "nor when it does not pair into GB2312 characters";
}

class UnicodeBatch : public testing::Test {
 protected:
  void SetUp() override { CopyInstalledLists(dir_.Path()); }
  std::string Convert(const std::string& bytes) {
    WriteFile(dir_.File("in.txt"), bytes);
    ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {});
    return ReadFile(dir_.File("out.txt"));
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
};

TEST_F(UnicodeBatch, UnicodeSourcesConvertLikeGbkAndGiveUtf8) {
  const std::string names = "刘德华\r\n欧阳修\n歐陽修\r\n";
  const std::string expected = "De-hua Liu\r\nXiu Ouyang\r\nXiu Ouyang\r\n";
  EXPECT_EQ(Convert(G(names)), expected);
  EXPECT_EQ(Convert(names), expected);
  EXPECT_EQ(Convert("\xEF\xBB\xBF" + names), expected);
  EXPECT_EQ(Convert(Utf16(names, true)), expected);
  EXPECT_EQ(Convert(Utf16(names, false)), expected);
}

// Rare characters of every block, from UTF-8 and from GB18030 (which a GBK file is where it can
// hold them: 䶮 is FE 9F, a private-use code of GBK that GB18030 gives the character).
TEST_F(UnicodeBatch, CharactersOutsideGbkReadFromTheirRows) {
  struct Row {
    const char* name;
    const char* out;
    const char* why;
  } rows[] = {
      {"刘䶮", "Yan Liu", "Extension A, two bytes in GB18030"},
      {"王㐀", "Qiu Wang", "Extension A, four bytes"},
      {"李鿃", "Shan Li", "the unified block past GBK"},
      {"张𠀀𪚥", "He-zhe Zhang", "Extension B"},
      {"张𪞝", "Duo Zhang", "Extension C"},
      {"张𫞩", "Men Zhang", "Extension D"},
      {"张𫠥", "Lou Zhang", "Extension E"},
      {"张𭀖", "Li Zhang", "Extension F"},
      {"张𰻝", "Biang Zhang", "Extension G"},
      {"豈丽", "Li Qi", "compatibility ideographs read as their canonical equivalents 豈 and 丽"},
      {"𪚥德华", "De-hua Zhe", "a surname outside GBK"},
      {"张🙂明", "???-ming Zhang", "a character without a reading keeps its place"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(Convert(std::string(row.name) + "\r\n"), std::string(row.out) + "\r\n");
    EXPECT_EQ(Convert(G(row.name) + "\r\n"), std::string(row.out) + "\r\n") << "GB18030";
  }
  EXPECT_EQ(Convert("\xC1\xF5\xFE\x9F\r\n"), "Yan Liu\r\n") << "刘䶮 as a GBK file holds it";
}

TEST_F(UnicodeBatch, ChineseCustomReadingsComeOutInUtf8) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("华")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({G("华")}));
  EXPECT_EQ(Convert("刘华\r\n"), "华 Liu\r\n");
  EXPECT_EQ(Convert(G("刘华\r\n")), G("华") + " Liu\r\n") << "a GBK source gives GBK";
}

TEST_F(UnicodeBatch, ACustomKeyOutsideGbkIsFoundFromEverySource) {
  // 𠇔 (U+201D4): four bytes in GB18030.
  WriteFile(dir_.File("define_han.dll"), CrLf({G("𠇔"), G("𠇔李")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({"zu", "zuli"}));
  ASSERT_EQ(G("𠇔"), "\x95\x32\xB1\x34");
  struct Row {
    const char* why;
    std::string source, expected;
  } rows[] = {
      {"UTF-8", "𠇔明\r\n𠇔李明\r\n王𠇔\r\n", "Ming Zu\r\nMing Zuli\r\nZu Wang\r\n"},
      {"GB18030", G("𠇔明\r\n𠇔李明\r\n王𠇔\r\n"), "Ming Zu\r\nMing Zuli\r\nZu Wang\r\n"},
      {"UTF-16LE", Utf16("𠇔明\r\n", true), "Ming Zu\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(Convert(row.source), row.expected);
  }
}

// A NUL is a damaged character of its line: nothing after it is lost, and it is counted.
TEST_F(UnicodeBatch, ANulIsOneDamagedCharacterAndNothingAfterItIsLost) {
  std::string utf8;
  for (int i = 0; i < 1000; ++i) utf8 += "刘德华\r\n";
  utf8.insert(20, 1, '\0');  // byte 20: at the end of the second name
  struct Row {
    const char* why;
    std::string source;
  } rows[] = {{"GBK", G(utf8.substr(0, 20)) + '\0' + G(utf8.substr(21))},
              {"UTF-8", utf8},
              {"UTF-16LE", Utf16(utf8, true)},
              {"UTF-16BE without a mark", Utf16(utf8, false).substr(2)}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    WriteFile(dir_.File("in.txt"), row.source);
    const BatchReport report = ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {});
    EXPECT_EQ(report.lines, 1000u);
    EXPECT_EQ(report.invalidSequences, 1u);
    EXPECT_EQ(report.linesWithMarker, 1u);
    const std::string out = ReadFile(dir_.File("out.txt"));
    EXPECT_EQ(out.substr(0, 40), "De-hua Liu\r\nDe-hua-??? Liu\r\nDe-hua Liu\r\n");
    EXPECT_EQ(out.size(), 999 * 12 + 16);
  }
}

TEST(Encoding, Utf16WithoutAMarkIsRecognised) {
  const std::string names = "刘德华\r\n张三\r\n";
  struct Row {
    const char* why;
    std::string bytes;
    SourceEncoding encoding;
  } rows[] = {
      {"little-endian: zero bytes after the line ends", Utf16(names, true).substr(2),
       SourceEncoding::kUtf16Le},
      {"big-endian", Utf16(names, false).substr(2), SourceEncoding::kUtf16Be},
      {"one name without a line end that reads neither as UTF-8 nor as GB18030",
       Utf16("陈静", true).substr(2), SourceEncoding::kUtf16Le},
      {"one that reads as GB18030 too stays GB18030: nothing tells them apart",
       Utf16("马沫", true).substr(2), SourceEncoding::kGb18030},
      {"GBK with a NUL stays GBK", G("刘德华\r\n") + '\0' + G("张三\r\n"),
       SourceEncoding::kGb18030},
      {"UTF-8 with a NUL of even length stays UTF-8", std::string("刘德华\0\r\n", 12),
       SourceEncoding::kUtf8},
      {"ASCII with zero bytes is not taken for UTF-16", std::string("ab\0\0cd", 6),
       SourceEncoding::kGb18030},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(DetectEncoding(row.bytes), row.encoding);
  }
  // Short files of table characters with a line end, either byte order: all recognised.
  const auto chars = Gb2312TableCharacters();
  std::mt19937 rng(3);
  int wrong = 0;
  for (int file = 0; file < 400; ++file) {
    std::string name;
    for (int k = 2 + rng() % 2; k > 0; --k) name += U(chars[rng() % chars.size()]);
    const bool le = file % 2 == 0;
    wrong += DetectEncoding(Utf16(name + "\r\n", le).substr(2)) !=
             (le ? SourceEncoding::kUtf16Le : SourceEncoding::kUtf16Be);
  }
  EXPECT_EQ(wrong, 0);
}

TEST(Encoding, AnInvalidSequenceIsOneCharacterHowEverManyBytes) {
  struct Row {
    std::string bytes;
    size_t length;
    const char* why;
  } rows[] = {
      {"\xE7", 1, "a lead byte alone"},
      {"\xE7\x94", 2, "a three-byte sequence cut after two"},
      {"\xE7\x94"
       "a",
       2, "cut by ASCII"},
      {"\xF0\xAA\x9A"
       "a",
       3, "a four-byte sequence cut after three"},
      {"\x94\x94", 1, "a continuation byte stands alone"},
      {"\xE0\x80\x80", 1, "an overlong start is one byte"},
      {"\xED\xA0\x80", 1, "a surrogate start is one byte"},
      {"\xFF", 1, "never UTF-8"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    char32_t cp;
    ASSERT_EQ(DecodeUtf8(row.bytes, &cp), 0u);
    EXPECT_EQ(InvalidUtf8Length(row.bytes), row.length);
  }
}

// A stray or damaged byte in a UTF-8 file: still UTF-8, the damaged spot reads "???" and is
// counted; every other name comes out right.
TEST_F(UnicodeBatch, AStrayByteInUtf8GivesMissingForItsCharacterOnly) {
  struct Row {
    std::string source, expected;
    size_t invalid;
    const char* why;
  } rows[] = {
      {"刘德华\n单田芳\n\xE7", "De-hua Liu\r\nTian-fang Shan\r\n ???\r\n", 1,
       "a stray lead byte at the end"},
      {"刘德华\n单\xE7田芳\n", "De-hua Liu\r\n???-tian-fang Shan\r\n", 1,
       "a stray byte inside a name"},
      {"刘德华\n单\xE7\x94田芳\n张三\n", "De-hua Liu\r\n???-tian-fang Shan\r\nSan Zhang\r\n", 1,
       "a character cut short counts once"},
      {"刘德华\n\x94\x94\n单田芳\n张三\n",
       "De-hua Liu\r\n??? ???\r\nTian-fang Shan\r\nSan Zhang\r\n", 2,
       "two stray continuation bytes"},
      {"\xEF\xBB\xBF刘德华\n单\xE7田芳\n", "De-hua Liu\r\n???-tian-fang Shan\r\n", 1,
       "after a byte-order mark"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    WriteFile(dir_.File("in.txt"), row.source);
    const BatchReport report = ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {});
    EXPECT_NE(report.encoding, SourceEncoding::kGb18030);
    EXPECT_EQ(report.invalidSequences, row.invalid);
    EXPECT_EQ(ReadFile(dir_.File("out.txt")), row.expected);
  }
  WriteFile(dir_.File("in.txt"), G("刘德华\r\n"));
  EXPECT_EQ(ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {}).invalidSequences, 0u)
      << "a GBK source has none";
}

TEST(Encoding, GbkWithUtf8LookingRunsOrStrayBytesStaysGbk) {
  // GB2312 names that are valid UTF-8 as bytes, as the exhaustive test finds them.
  const auto chars = Gb2312TableCharacters();
  std::vector<std::string> utf8Looking;
  std::mt19937 rng(11);
  while (utf8Looking.size() < 20) {
    std::string name;
    for (int k = 0; k < 3; ++k) name += chars[rng() % chars.size()];
    if (IsValidUtf8(name) && HasUtf8Ideograph(name)) utf8Looking.push_back(name);
  }
  std::string many;
  for (const auto& name : utf8Looking) many += name + "\r\n";
  ASSERT_EQ(CensusUtf8(many).invalid, 0u);
  struct Row {
    std::string bytes;
    const char* why;
  } rows[] = {
      {many, "only UTF-8-looking GB2312 names"},
      {many + G("劉德華") + "\r\n",
       "plus a traditional name outside GB2312: one fault against 40 ideographs"},
      {G("劉") + many, "the traditional character first"},
      {many + "\x81\x40\r\n", "plus a GBK extension character"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(DetectEncoding(row.bytes), SourceEncoding::kGb18030);
  }

  // Realistic GBK files of every table character, GBK extensions included, with stray bytes:
  // the rare-fault rule never takes one for UTF-8 (the valid-UTF-8 rule alone decides those,
  // with no fault).
  std::vector<std::string> all;
  for (int i = 0; i < kBuiltinRowCount; ++i) all.push_back(BuiltinKey(i));
  int byFaultRule = 0;
  for (int file = 0; file < 50000; ++file) {
    std::string text;
    for (int line = 1 + rng() % 20; line > 0; --line) {
      for (int k = 1 + rng() % 3; k > 0; --k) text += all[rng() % all.size()];
      text += "\r\n";
    }
    if (file % 2) text.insert(rng() % (text.size() + 1), 1, static_cast<char>(0x80 + rng() % 0x80));
    if (CensusUtf8(text).invalid > 0 && DetectEncoding(text) != SourceEncoding::kGb18030)
      ++byFaultRule;
  }
  EXPECT_EQ(byFaultRule, 0);
}

TEST(Encoding, FaultsFirstAndIdeographsAfterAreWeighedWhole) {
  // Three damaged spots first, then UTF-8 ideographs: twelve outweigh the faults, eleven do not,
  // wherever in the file they stand.
  const std::string faults = "\x80\n\x80\n\x80\n";
  std::string eleven;
  for (int k = 0; k < 11; ++k) eleven += "华";
  const struct {
    std::string bytes;
    SourceEncoding expected;
  } rows[] = {
      {faults + eleven + "华\n", SourceEncoding::kUtf8},
      {faults + eleven + "\n", SourceEncoding::kGb18030},
      {faults + std::string(301, 'a') + eleven + "华", SourceEncoding::kUtf8},
      {eleven + "华" + faults, SourceEncoding::kUtf8},
      {faults + "\x80\n" + eleven + "华华华\n", SourceEncoding::kGb18030},
  };
  for (const auto& row : rows) {
    std::string bytes = row.bytes;
    if (bytes.size() % 2 == 0) bytes += 'a';  // an odd length never reads as UTF-16
    SCOPED_TRACE(bytes);
    EXPECT_EQ(DetectEncoding(bytes), row.expected);
  }
}

TEST(Encoding, ATextOfReplacementsConvertsWhole) {
  // An unconvertible character must not re-fill the rest of the buffer. Not a timing test: the
  // result must simply be right for a text that is nothing but replacements.
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "𪚥\xE7";
  size_t invalid = 0;
  const std::string gb18030 = Utf8ToGb18030(text, &invalid);
  EXPECT_EQ(invalid, 2000u);
  std::string expected;
  for (int i = 0; i < 2000; ++i) expected += "\x98\x35\xEE\x37" + std::string(kDamagedCharacter);
  EXPECT_EQ(gb18030, expected);
}

// The first byte that is not ASCII, in every place of texts shorter than, as long as and longer
// than the eight bytes read at once (the last word overlaps bytes already read).
TEST(Encoding, AsciiLengthStopsAtTheFirstOtherByteWhereverItIs) {
  for (size_t size = 0; size <= 19; ++size) {
    EXPECT_EQ(AsciiLength(std::string(size, '\x7F')), size);
    for (size_t at = 0; at < size; ++at) {
      std::string text(size, 'a');
      text[at] = '\x80';
      if (at + 1 < size) text[size - 1] = '\xFF';
      EXPECT_EQ(AsciiLength(text), at) << "size " << size;
    }
  }
}

// The table-driven conversion of output lines against iconv's conversion of the whole text: every
// double-byte code (alone and between other text, so a code iconv refuses shows how the rest is
// taken), and texts of four-byte characters, lone bytes and codes without a character.
TEST(Encoding, AppendingGb18030AsUtf8GivesTheBytesOfTheWholeConversion) {
  const struct {
    const char* why;
    std::string text;
  } rows[] = {
      {"empty", ""},
      {"ASCII longer than a word", "Dehua Liu, Xiaoming Wang ~!\x7F"},
      {"double-byte after ASCII", "Lu\xA8\xB9 li-xi"},
      {"a code of the user-defined area", "\xA1\x40x"},
      {"four-byte, in the BMP and beyond",
       "\x81\x39\xEE\x39"
       "a\x98\x35\xEE\x37\xA8\xB9"},
      {"0x80 and 0xFF start no character", "a\x80\xB5\xC2\xFF\xB5\xC2"},
      {"a lone lead byte at the end", "Liu \xB5"},
      {"a lead byte before ASCII", "\xB5 \xB5\x30z\xB5\x30\x81 \xB5\x7Fq"},
      {"a four-byte code without a character", "\x84\x31\xA5\x30\xA8\xB9\xE3\x32\x9A\x36"},
      {"a cut four-byte code", "\xA8\xB9\x81\x30\x81"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    std::string out = "kept";
    AppendGb18030AsUtf8(out, row.text);
    EXPECT_EQ(out, "kept" + Gb18030ToUtf8(row.text));
  }
  std::string out, expected;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFF; ++trail) {
      const std::string text = {'A', static_cast<char>(lead), static_cast<char>(trail), 'z'};
      out.clear();
      AppendGb18030AsUtf8(out, text);
      ASSERT_EQ(out, Gb18030ToUtf8(text)) << std::hex << lead << " " << trail;
    }
  }
}

// The line reader decodes a Unicode source a line at a time; the whole-text conversion is the
// reference. Random texts mix ASCII, line ends, NULs, ideographs, characters GBK cannot hold
// (U+FEFF, U+FFFE, U+0080, Extension B), characters GBK holds outside the ideographs, and
// damaged bytes or units: the same lines, the same bytes, the same count of invalid sequences.
TEST(Encoding, TheLineReaderGivesTheLinesOfTheWholeConversion) {
  std::mt19937 rng(1211);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const std::vector<std::string> pieces = {"a",
                                           " ",
                                           "\t",
                                           "\r",
                                           "\n",
                                           "\r\n",
                                           std::string(1, '\0'),
                                           "刘",
                                           "德",
                                           "華",
                                           "𪚥",
                                           "\xEF\xBB\xBF",
                                           "\xEF\xBF\xBE",
                                           "\xC2\x80",
                                           "·",
                                           "€",
                                           "—",
                                           "ü",
                                           "ō",
                                           "①",
                                           "\xEF\xBF\xBD"};
  const std::vector<std::string> damage = {"\x80",         "\xFF",     "\xE4\xB8",
                                           "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80"};
  int checked = 0;
  size_t invalidSeen = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string utf8;
    for (size_t k = pick(40); k > 0; --k) utf8 += pieces[pick(pieces.size())];
    std::string damaged = utf8;
    for (size_t k = pick(3); k > 0; --k)
      damaged.insert(pick(damaged.size() + 1), damage[pick(damage.size())]);
    // The text as each encoding of a names file carries it; UTF-16 damaged by single units.
    std::string le = Utf16(Gb18030ToUtf8(Utf8ToGb18030(utf8)), true),
                be = Utf16(Gb18030ToUtf8(Utf8ToGb18030(utf8)), false);
    if (pick(2)) le.insert(2 + 2 * pick((le.size() - 2) / 2 + 1), std::string("\x00\xD8", 2));
    if (pick(2)) be.insert(2 + 2 * pick((be.size() - 2) / 2 + 1), std::string("\xDC\x00", 2));
    if (pick(2)) le.insert(2 + 2 * pick((le.size() - 2) / 2 + 1), "\x69\xD8\xA5\xDE");  // U+2A6A5
    if (pick(2)) be.insert(2 + 2 * pick((be.size() - 2) / 2 + 1), "\xD8\x69\xDE\xA5");
    if (pick(3) == 0) le += "\x41";
    if (pick(3) == 0) be += std::string("\xD8\x3D", 2);
    const std::pair<SourceEncoding, std::string> sources[] = {
        {SourceEncoding::kUtf8, damaged},
        {SourceEncoding::kUtf8Bom, "\xEF\xBB\xBF" + damaged},
        {SourceEncoding::kUtf16Le, le},
        {SourceEncoding::kUtf16Be, be},
        {SourceEncoding::kGb18030, Utf8ToGb18030(utf8)}};
    for (const auto& [encoding, bytes] : sources) {
      size_t invalid = 0;
      const std::vector<std::string> expected = Lines(SourceToGb18030(bytes, encoding, &invalid));
      Gb18030LineReader reader(bytes, encoding);
      EXPECT_EQ(reader.CountLines(), expected.size());
      std::vector<std::string> actual;
      std::string_view line;
      while (reader.Next(&line)) actual.emplace_back(line);
      EXPECT_FALSE(reader.Next(&line));
      ASSERT_EQ(actual, expected) << EncodingName(encoding) << " round " << round;
      ASSERT_EQ(reader.InvalidSequences(), invalid) << EncodingName(encoding) << " round " << round;
      // Read from a file in blocks of a few bytes, every line end, four-byte character and
      // surrogate pair falls across a block edge somewhere: the same lines again.
      const size_t block = 1 + pick(7);
      const ScratchDescriptor file(bytes);
      Gb18030LineReader blocks(file.fd, encoding, "names.txt", block);
      EXPECT_EQ(blocks.CountLines(), expected.size())
          << EncodingName(encoding) << " block " << block;
      std::vector<std::string> streamed;
      while (blocks.Next(&line)) streamed.emplace_back(line);
      ASSERT_EQ(streamed, expected)
          << EncodingName(encoding) << " round " << round << " block " << block;
      ASSERT_EQ(blocks.InvalidSequences(), invalid) << EncodingName(encoding) << " round " << round;
      // Many lines at a time (a chunk of a run on two threads): the same lines again.
      Gb18030LineReader batches(bytes, encoding);
      const size_t maxLines = 1 + pick(6), maxBytes = 1 + pick(40);
      ASSERT_EQ(LinesInBatches(batches, maxLines, maxBytes), expected)
          << EncodingName(encoding) << " round " << round << " batches of " << maxLines
          << " lines, " << maxBytes << " bytes";
      ASSERT_EQ(batches.InvalidSequences(), invalid);
      invalidSeen += invalid;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 15000);
  EXPECT_GT(invalidSeen, 3000u);  // the damaged paths were taken
}

// The reader takes ASCII and the characters it has met before by a quick path of its own, and
// leaves the rest to the general rules: these texts put what it must leave right where it stops
// (the overlong or surrogate form of a character met before, damage or a NUL right after a run of
// known characters, a line of thousands of characters, met and new, with one across every edge of
// the stretches it decodes at a time), read whole and from files in blocks of every size.
TEST(Encoding, TheLineReaderTakesKnownCharactersByTheSameRules) {
  auto utf8 = [](char32_t cp) {
    return std::string{static_cast<char>(0xE0 | cp >> 12),
                       static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
  };
  std::string many;  // about 5,400 bytes; the first of each character comes before its repeats
  for (char32_t k = 0; k < 1800; ++k) many += utf8(0x4E00 + k * 7 % 311);
  const std::string met = "刘德華·€\n";
  const std::string texts[] = {
      met + "刘\xE0\x82\xB7德\n\xE0\x80\xAF\r\n",  // overlong forms of '·' and of '/'
      met + "德\xED\xA0\x80\xED\xBF\xBF刘\n",      // surrogates
      met + "刘德華刘德\xE5\x88\n刘德\xFF\xE5華\r\n華·" + std::string(1, '\0') + "€\r\r\n",
      met + many + "\n" + "a" + many + "\r\nab" + many,
      met + std::string(4095, 'x') + "刘" + std::string(4094, 'y') + "\xE5\x88華\n",
      met + many + "\xE5" + many + "\xF0\x9F\x98" + many + "\n",
  };
  for (const std::string& text : texts) {
    size_t invalid = 0;
    const std::vector<std::string> expected =
        Lines(SourceToGb18030(text, SourceEncoding::kUtf8, &invalid));
    Gb18030LineReader whole(text, SourceEncoding::kUtf8);
    std::vector<std::string> actual;
    std::string_view line;
    while (whole.Next(&line)) actual.emplace_back(line);
    ASSERT_EQ(actual, expected);
    EXPECT_EQ(whole.InvalidSequences(), invalid);
    Gb18030LineReader batches(text, SourceEncoding::kUtf8);
    ASSERT_EQ(LinesInBatches(batches, 2, 9000), expected) << "lines many at a time";
    EXPECT_EQ(batches.InvalidSequences(), invalid);
    for (const size_t block :
         {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{7}, size_t{4099}, kSourceBlockBytes}) {
      const ScratchDescriptor file(text);
      Gb18030LineReader blocks(file.fd, SourceEncoding::kUtf8, "names.txt", block);
      std::vector<std::string> streamed;
      while (blocks.Next(&line)) streamed.emplace_back(line);
      ASSERT_EQ(streamed, expected) << "block " << block;
      EXPECT_EQ(blocks.InvalidSequences(), invalid) << "block " << block;
      ASSERT_EQ(::lseek(file.fd, 0, SEEK_SET), 0);
      Gb18030LineReader fromFile(file.fd, SourceEncoding::kUtf8, "names.txt", block);
      ASSERT_EQ(LinesInBatches(fromFile, 3, 5000), expected) << "many at a time, block " << block;
    }
  }
}

// The same for UTF-16 in both byte orders: a unit of one order read in the other is often
// another known character ("N" is 00 4E, "一" 4E 00), and NULs, lone surrogates, pairs, units
// below U+0800 and a line longer than a stretch of the decoder stand among known characters.
TEST(Encoding, TheLineReaderTakesKnownUnitsByTheSameRules) {
  std::string many;
  for (int k = 0; k < 1500; ++k) many += k % 3 ? "一" : "N";
  const std::string nul(1, '\0');
  const struct {
    std::string before, after;  // a lone surrogate between them when `after` is not empty
  } texts[] = {
      {"一N丁\r\nN一\n丁N一\r", ""},
      {"刘德·€\n刘" + nul + "德·\r\n€" + nul + "\n", ""},
      {"刘德\n刘德", "德刘\r\n刘"},
      {"刘德𪚥\n刘𪚥德\r\n" + many + "\n" + many, ""},
  };
  for (const bool le : {true, false}) {
    for (const auto& text : texts) {
      std::string bytes = Utf16(text.before, le);
      if (!text.after.empty())
        bytes += std::string(le ? "\x00\xD8" : "\xD8\x00", 2) + Utf16(text.after, le).substr(2);
      const SourceEncoding encoding = le ? SourceEncoding::kUtf16Le : SourceEncoding::kUtf16Be;
      size_t invalid = 0;
      const std::vector<std::string> expected = Lines(SourceToGb18030(bytes, encoding, &invalid));
      Gb18030LineReader whole(bytes, encoding);
      std::vector<std::string> actual;
      std::string_view line;
      while (whole.Next(&line)) actual.emplace_back(line);
      ASSERT_EQ(actual, expected) << EncodingName(encoding);
      EXPECT_EQ(whole.InvalidSequences(), invalid);
      for (const size_t block : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{4099}}) {
        const ScratchDescriptor file(bytes);
        Gb18030LineReader blocks(file.fd, encoding, "names.txt", block);
        std::vector<std::string> streamed;
        while (blocks.Next(&line)) streamed.emplace_back(line);
        ASSERT_EQ(streamed, expected) << EncodingName(encoding) << " block " << block;
        EXPECT_EQ(blocks.InvalidSequences(), invalid) << "block " << block;
      }
    }
  }
}

// A line longer than the reader's limit ends the reading with its number and the file's name, in
// every encoding, whether its end is far away or never comes; lines up to the limit are read.
TEST(Encoding, ALineLongerThanTheLimitIsAnErrorNamingIt) {
  const std::string fine = "刘德华\r\n" + std::string(16, 'x') + "\n";  // 16 bytes: at the limit
  const std::string longLine = std::string(40, 'y');
  const struct {
    SourceEncoding encoding;
    std::string bytes;
    size_t limit;
  } cases[] = {
      {SourceEncoding::kGb18030, Utf8ToGb18030(fine) + longLine + "\r\nz\r\n", 16},
      {SourceEncoding::kGb18030, Utf8ToGb18030(fine) + longLine, 16},  // no end at all
      {SourceEncoding::kUtf8, fine + longLine + "\n", 16},
      {SourceEncoding::kUtf8Bom, "\xEF\xBB\xBF" + fine + longLine, 16},
      {SourceEncoding::kUtf16Le, Utf16(fine + longLine + "\r\n", true), 32},
      {SourceEncoding::kUtf16Be, Utf16(fine + longLine, false), 32},
  };
  for (const auto& c : cases) {
    const ScratchDescriptor file(c.bytes);
    Gb18030LineReader reader(file.fd, c.encoding, "/tmp/names.txt", 5, c.limit);
    std::string_view line;
    ASSERT_TRUE(reader.Next(&line));
    ASSERT_TRUE(reader.Next(&line)) << EncodingName(c.encoding);
    EXPECT_EQ(line, std::string(16, 'x'));
    try {
      reader.Next(&line);
      ADD_FAILURE() << EncodingName(c.encoding) << ": the long line was read";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), ("Line 3 of \"/tmp/names.txt\" is longer than " +
                                        std::to_string(c.limit) + " bytes"))
          << EncodingName(c.encoding);
    }
  }
}

// A large file's encoding comes from a survey in blocks where that settles it, and from the whole
// text otherwise: the answers are DetectEncoding's, whatever the block size, for each kind of
// names file and for the texts where only the whole decides (a zero byte, a stray byte, UTF-8
// that pairs into GB2312 too, a line longer than a block).
TEST(Encoding, AFileIsDetectedInBlocksAsWhole) {
  auto times = [](const std::string& unit, size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += unit;
    return out;
  };
  const std::string names = "刘德华\r\n欧阳修\n张三\r\nzhang san\n";
  const std::string big = times(names, 70000);
  const std::string gbk = Utf8ToGb18030(times(names, 100000));
  const std::string cases[] = {
      Utf8ToGb18030(big),
      big,
      "\xEF\xBB\xBF" + big,
      "\xEF\xBB\xBF" + Utf8ToGb18030(big),               // 锘亏 and GBK names after it
      "\xEF\xBB\xBF" + big + "\xB0",                     // a BOM, then UTF-8 with a fault
      times("zhang san\r\n", 70000),                     // ASCII: GBK
      times("José\n", 70000),                            // valid UTF-8 without ideographs
      times("Пётр Иванов\n", 70000),                     // and not GB2312 pairs either
      big + "\xFF\n" + big,                              // a stray byte in UTF-8
      Utf8ToGb18030(big) + "\xFF\n",                     // GBK beyond GB2312 pairs
      times("涓\n", 70000),                              // UTF-8 that is GB2312 pairs too
      Utf8ToGb18030(big) + '\0' + "\n",                  // a NUL
      Utf8ToGb18030("朱镕基\n" + big),                   // GBK beyond GB2312 from the start
      Utf8ToGb18030("朱镕基\n" + big) + '\0',            // and a NUL far after
      "\xEF\xBB\xBF" + Utf8ToGb18030("朱镕基\n" + big),  // a mark, then such GBK
      times("刘德华\xFF\xFE\n", 70000),                  // UTF-8 with a fault in every line
      times("\x81\x40\x81\x41\n", 70000),                // GBK that reads as no ideograph
      Utf16(big, true),
      Utf16(big, false),
      Utf16(big, true).substr(2),
      times("刘德华", 70000) + "\n",                  // one line longer than a block
      big + "\xFF\n",                                 // UTF-8 whose only fault is at the end
      big + Utf8ToGb18030(times(names, 140000)),      // UTF-8, then more names in GBK
      "\xEF\xBB\xBF" + big + '\0' + "\n",             // a mark, UTF-8, a NUL far after
      "\xEF\xBB\xBF" + big + times("刘德华", 70000),  // and a line longer than a block
      gbk,                                            // GBK past the size of one UTF-16 line
      gbk + '\0' + "\n",                              // and a NUL in its last block
      Utf8ToGb18030("锘亏\n") + gbk,                  // GBK whose first name starts like a mark
      Utf8ToGb18030("锘亏\n") + gbk + "\xFF\n",       // and pairs broken at the very end
      Utf8ToGb18030("锘亏\n") + gbk + '\0' + "\n",    // and a NUL at the end
  };
  for (size_t block : {size_t{16}, size_t{777}, size_t{1} << 16}) {
    for (const std::string& bytes : cases) {
      const ScratchDescriptor file(bytes);
      EXPECT_EQ(DetectFileEncoding(file.fd, 0, block), DetectEncoding(bytes))
          << "block " << block << ": " << bytes.substr(0, 12);
      EXPECT_EQ(DetectFileEncoding(file.fd), DetectEncoding(bytes));  // read whole
    }
  }
}

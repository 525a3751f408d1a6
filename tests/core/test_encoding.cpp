// The encodings users' files come in: byte-order marks, UTF-8 without a mark, and the proof that
// GBK names are never mistaken for UTF-8.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "BuiltinTable.h"
#include "BatchConversion.h"
#include "Encoding.h"
#include "TestSupport.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::vector<std::string> Gb2312TableCharacters() {
  std::vector<std::string> out;
  for (int i = 0; i < kBuiltinRowCount; ++i) {
    auto lead = static_cast<unsigned char>(kBuiltinKeys[i][0]), trail = static_cast<unsigned char>(kBuiltinKeys[i][1]);
    if (lead >= 0xB0 && lead <= 0xF7 && trail >= 0xA1) out.push_back(kBuiltinKeys[i]);
  }
  return out;
}

std::string Utf16(const std::string& utf8, bool le) {
  std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
  // The test texts are BMP characters only.
  for (size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    if (c < 0x80) { cp = c; i += 1; }
    else if (c < 0xE0) { cp = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F); i += 2; }
    else { cp = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F); i += 3; }
    char hi = static_cast<char>(cp >> 8), lo = static_cast<char>(cp & 0xFF);
    out += le ? std::string{lo, hi} : std::string{hi, lo};
  }
  return out;
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
      EXPECT_EQ(DecodeUtf8(row.bytes + "tail", &cp), row.length) << "only the first sequence is read";
    }
    EXPECT_EQ(IsValidUtf8(row.bytes), row.length == row.bytes.size());
  }
}

TEST(Encoding, GbkNamesAreNeverMistakenForUtf8) {
  const auto chars = Gb2312TableCharacters();
  ASSERT_GT(chars.size(), 6500u);
  for (const auto& a : chars) {
    ASSERT_EQ(DetectEncoding(a), SourceEncoding::kGbk) << U(a);
    ASSERT_EQ(DetectEncoding(a + "\r\n"), SourceEncoding::kGbk) << U(a);
  }
  std::string two(4, '\0');
  for (const auto& a : chars) {
    two[0] = a[0];
    two[1] = a[1];
    for (const auto& b : chars) {
      two[2] = b[0];
      two[3] = b[1];
      if (DetectEncoding(two) != SourceEncoding::kGbk) FAIL() << U(two);
    }
  }
  std::mt19937 rng(7);
  std::string three(6, '\0');
  int validUtf8 = 0;
  for (int i = 0; i < 2'000'000; ++i) {
    for (int k = 0; k < 3; ++k) {
      const auto& c = chars[rng() % chars.size()];
      three[2 * k] = c[0];
      three[2 * k + 1] = c[1];
    }
    if (DetectEncoding(three) != SourceEncoding::kGbk) FAIL() << U(three);
    validUtf8 += IsValidUtf8(three) && HasUtf8Ideograph(three);
  }
  // Some of these really are valid UTF-8 with ideographs: the GB2312 test is what keeps them GBK.
  EXPECT_GT(validUtf8, 0);
}

TEST(Encoding, DetectsUnicodeSources) {
  const std::string names = "刘德华\r\n张三\r\n";
  EXPECT_EQ(DetectEncoding(names), SourceEncoding::kUtf8);
  EXPECT_EQ(DetectEncoding("\xEF\xBB\xBF" + names), SourceEncoding::kUtf8Bom);
  EXPECT_EQ(DetectEncoding(Utf16(names, true)), SourceEncoding::kUtf16Le);
  EXPECT_EQ(DetectEncoding(Utf16(names, false)), SourceEncoding::kUtf16Be);
  EXPECT_EQ(DetectEncoding("zhang san\r\n"), SourceEncoding::kGbk) << "no ideographs: GBK";
  EXPECT_EQ(DetectEncoding(G(names)), SourceEncoding::kGbk);
  EXPECT_EQ(DetectEncoding("é\r\n"), SourceEncoding::kGbk) << "valid UTF-8 without ideographs";
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

TEST_F(UnicodeBatch, ACharacterGbkCannotHoldReadsAsMissingInItsPlace) {
  // 𪚥 (U+2A6A5) has no GBK code; the pieces after it stay aligned.
  EXPECT_EQ(Convert("刘𪚥华\r\n"), "???-hua Liu\r\n");
  EXPECT_EQ(Convert("𪚥德华\r\n"), "De-hua ???\r\n");
}

TEST_F(UnicodeBatch, ChineseCustomReadingsComeOutInUtf8) {
  WriteFile(dir_.File("define_han.dll"), CrLf({G("华")}));
  WriteFile(dir_.File("define_py.dll"), CrLf({G("华")}));
  EXPECT_EQ(Convert("刘华\r\n"), "华 Liu\r\n");
  EXPECT_EQ(Convert(G("刘华\r\n")), G("华") + " Liu\r\n") << "a GBK source gives GBK";
}

TEST(Encoding, AnInvalidSequenceIsOneCharacterHowEverManyBytes) {
  struct Row {
    std::string bytes;
    size_t length;
    const char* why;
  } rows[] = {
      {"\xE7", 1, "a lead byte alone"},
      {"\xE7\x94", 2, "a three-byte sequence cut after two"},
      {"\xE7\x94" "a", 2, "cut by ASCII"},
      {"\xF0\xAA\x9A" "a", 3, "a four-byte sequence cut after three"},
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
      {"刘德华\n单田芳\n\xE7", "De-hua Liu\r\nTian-fang Shan\r\n ???\r\n", 1, "a stray lead byte at the end"},
      {"刘德华\n单\xE7田芳\n", "De-hua Liu\r\n???-tian-fang Shan\r\n", 1, "a stray byte inside a name"},
      {"刘德华\n单\xE7\x94田芳\n张三\n", "De-hua Liu\r\n???-tian-fang Shan\r\nSan Zhang\r\n", 1,
       "a character cut short counts once"},
      {"刘德华\n\x94\x94\n单田芳\n张三\n", "De-hua Liu\r\n??? ???\r\nTian-fang Shan\r\nSan Zhang\r\n", 2,
       "two stray continuation bytes"},
      {"\xEF\xBB\xBF刘德华\n单\xE7田芳\n", "De-hua Liu\r\n???-tian-fang Shan\r\n", 1, "after a byte-order mark"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    WriteFile(dir_.File("in.txt"), row.source);
    const BatchReport report = ConvertFile(lists_, dir_.File("in.txt"), dir_.File("out.txt"), {});
    EXPECT_NE(report.encoding, SourceEncoding::kGbk);
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
      {many + G("劉德華") + "\r\n", "plus a traditional name outside GB2312: one fault against 40 ideographs"},
      {G("劉") + many, "the traditional character first"},
      {many + "\x81\x40\r\n", "plus a GBK extension character"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(DetectEncoding(row.bytes), SourceEncoding::kGbk);
  }

  // Realistic GBK files of every table character, GBK extensions included, with stray bytes:
  // the rare-fault rule never takes one for UTF-8 (the valid-UTF-8 rule alone decides those
  // without a fault, as before).
  std::vector<std::string> all(kBuiltinKeys, kBuiltinKeys + kBuiltinRowCount);
  int byFaultRule = 0;
  for (int file = 0; file < 50000; ++file) {
    std::string text;
    for (int line = 1 + rng() % 20; line > 0; --line) {
      for (int k = 1 + rng() % 3; k > 0; --k) text += all[rng() % all.size()];
      text += "\r\n";
    }
    if (file % 2) text.insert(rng() % (text.size() + 1), 1, static_cast<char>(0x80 + rng() % 0x80));
    if (CensusUtf8(text).invalid > 0 && DetectEncoding(text) != SourceEncoding::kGbk) ++byFaultRule;
  }
  EXPECT_EQ(byFaultRule, 0);
}

TEST(Encoding, ATextOfReplacementsConvertsWhole) {
  // Each unconvertible character used to re-fill the rest of the buffer. Not a timing test: the
  // result must simply be right for a text that is nothing but replacements.
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "𪚥\xE7";
  size_t invalid = 0;
  const std::string gbk = Utf8ToGbk(text, &invalid);
  EXPECT_EQ(invalid, 2000u);
  std::string expected;
  for (int i = 0; i < 4000; ++i) expected += kUnmappableGbk;
  EXPECT_EQ(gbk, expected);
}

// The line reader decodes a Unicode source a line at a time; the whole-text conversion is the
// reference. Random texts mix ASCII, line ends, NULs, ideographs, characters GBK cannot hold
// (U+FEFF, U+FFFE, U+0080, Extension B), characters GBK holds outside the ideographs, and
// damaged bytes or units: the same lines, the same bytes, the same count of invalid sequences.
TEST(Encoding, TheLineReaderGivesTheLinesOfTheWholeConversion) {
  std::mt19937 rng(1211);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const std::vector<std::string> pieces = {
      "a", " ", "\t", "\r", "\n", "\r\n", std::string(1, '\0'), "刘", "德", "華", "𪚥", "\xEF\xBB\xBF",
      "\xEF\xBF\xBE", "\xC2\x80", "·", "€", "—", "ü", "ō", "①", "\xEF\xBF\xBD"};
  const std::vector<std::string> damage = {"\x80", "\xFF", "\xE4\xB8", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80"};
  auto lines = [](std::string_view gbk) {
    std::vector<std::string> out;
    ForEachLine(gbk, [&](std::string_view line) { out.emplace_back(line); });
    return out;
  };
  int checked = 0;
  size_t invalidSeen = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string utf8;
    for (size_t k = pick(40); k > 0; --k) utf8 += pieces[pick(pieces.size())];
    std::string damaged = utf8;
    for (size_t k = pick(3); k > 0; --k) damaged.insert(pick(damaged.size() + 1), damage[pick(damage.size())]);
    // The text as each encoding of a names file carries it; UTF-16 damaged by single units.
    std::string le = Utf16(GbkToUtf8(Utf8ToGbk(utf8)), true), be = Utf16(GbkToUtf8(Utf8ToGbk(utf8)), false);
    if (pick(2)) le.insert(2 + 2 * pick((le.size() - 2) / 2 + 1), std::string("\x00\xD8", 2));
    if (pick(2)) be.insert(2 + 2 * pick((be.size() - 2) / 2 + 1), std::string("\xDC\x00", 2));
    if (pick(2)) le.insert(2 + 2 * pick((le.size() - 2) / 2 + 1), "\x69\xD8\xA5\xDE");  // U+2A6A5
    if (pick(2)) be.insert(2 + 2 * pick((be.size() - 2) / 2 + 1), "\xD8\x69\xDE\xA5");
    if (pick(3) == 0) le += "\x41";
    if (pick(3) == 0) be += std::string("\xD8\x3D", 2);
    const std::pair<SourceEncoding, std::string> sources[] = {
        {SourceEncoding::kUtf8, damaged}, {SourceEncoding::kUtf8Bom, "\xEF\xBB\xBF" + damaged},
        {SourceEncoding::kUtf16Le, le}, {SourceEncoding::kUtf16Be, be}, {SourceEncoding::kGbk, Utf8ToGbk(utf8)}};
    for (const auto& [encoding, bytes] : sources) {
      size_t invalid = 0;
      const std::vector<std::string> expected = lines(SourceToGbk(bytes, encoding, &invalid));
      GbkLineReader reader(bytes, encoding);
      EXPECT_EQ(reader.CountLines(), expected.size());
      std::vector<std::string> actual;
      std::string_view line;
      while (reader.Next(&line)) actual.emplace_back(line);
      EXPECT_FALSE(reader.Next(&line));
      ASSERT_EQ(actual, expected) << EncodingName(encoding) << " round " << round;
      ASSERT_EQ(reader.InvalidSequences(), invalid) << EncodingName(encoding) << " round " << round;
      invalidSeen += invalid;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 15000);
  EXPECT_GT(invalidSeen, 3000u);  // the damaged paths were taken
}

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

// The indexed engine with its change detection against a deliberately simple reference that
// re-reads all six files and scans every list linearly at each lookup, over seeded random keys,
// options and file edits between lookups: identical results and identical errors.
#include <gtest/gtest.h>

#include <algorithm>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>

#include "BuiltinTable.h"
#include "Errors.h"
#include "Files.h"
#include "TestSupport.h"
#include "ListFiles.h"
#include "ReadingLookup.h"

using namespace quorvel;
using namespace quorvel::test;
using Lines = std::vector<std::string>;

namespace {

class Reference {
 public:
  explicit Reference(std::string dir) : dir_(std::move(dir)) {}

  std::string Lookup(const std::string& key, const LookupOptions& opt, KeyRole role) const {
    std::array<Lines, kListCount> lists;
    for (int i = 0; i < kListCount; ++i) {
      bool missing = false;
      std::string text = ReadWholeFile(dir_ + "/" + kListFileNames[i], &missing);
      if (!missing) lists[i] = SplitLines(text);
    }
    // A run of ASCII letters and digits reads as written.
    const bool latin = !key.empty() && std::all_of(key.begin(), key.end(), [](unsigned char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    std::string result = latin ? key : "???";
    for (int i = 0; i < kBuiltinRowCount; ++i) {
      if (key != BuiltinKey(i)) continue;
      Lines readings = Split(BuiltinReading(i));
      if (role == KeyRole::kSurname) {
        for (int s = 0; s < kSurnameCount; ++s) {
          if (key != kSurnameKeys[s]) continue;
          Lines reordered{kSurnameReadings[s]};
          for (const auto& r : readings)
            if (r != kSurnameReadings[s]) reordered.push_back(r);
          readings = reordered;
        }
      }
      if (opt.readings == Readings::kFirst) readings.resize(1);
      if (opt.romanization == Romanization::kWadeGiles) {
        for (auto& syllable : readings) {
          for (size_t k = 0; k < lists[kPinyinHanList].size(); ++k) {
            if (lists[kPinyinHanList][k] != syllable) continue;
            if (k >= lists[kPinyinWeiList].size()) throw ListIndexError(static_cast<long>(k));
            syllable = lists[kPinyinWeiList][k];
            break;
          }
        }
      }
      result.clear();
      for (size_t k = 0; k < readings.size(); ++k) result += (k ? "/" : "") + readings[k];
      break;
    }
    const bool wadeGiles = opt.romanization == Romanization::kWadeGiles;
    const Lines& keys = lists[wadeGiles ? kDefineWeiHanList : kDefineHanList];
    const Lines& values = lists[wadeGiles ? kDefineWeiPyList : kDefinePyList];
    for (size_t k = 0; k < keys.size(); ++k) {
      if (keys[k] != key) continue;
      if (k >= values.size()) throw ListIndexError(static_cast<long>(k));
      result = values[k];
      break;
    }
    return result;
  }

 private:
  static Lines Split(const std::string& reading) {
    Lines out;
    size_t pos = 0;
    for (;;) {
      size_t slash = reading.find('/', pos);
      out.push_back(reading.substr(pos, slash == std::string::npos ? slash : slash - pos));
      if (slash == std::string::npos) return out;
      pos = slash + 1;
    }
  }
  std::string dir_;
};

std::string Outcome(const std::function<std::string()>& fn) {
  try {
    return "ok:" + fn();
  } catch (const ListIndexError& e) {
    return std::string("ListIndexError:") + e.what();
  } catch (const FileOpenError& e) {
    return std::string("FileOpenError:") + e.what();
  }
}

class Differential : public testing::TestWithParam<ListFiles::ChangeWatch> {};

TEST_P(Differential, EngineMatchesTheReferenceUnderRandomEdits) {
  TempDir dir;
  std::mt19937 rng(20261210);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };

  // Keys: table characters (surnames among them), compound surnames, non-characters.
  Lines keys;
  for (int i = 0; i < 40; ++i) keys.push_back(BuiltinKey(pick(kBuiltinRowCount)));
  for (int i = 0; i < kSurnameCount; i += 5) keys.push_back(kSurnameKeys[i]);
  for (const char* s : {"赵", "单", "曾", "阿", "行", "欧阳", "司马", "单于"}) keys.push_back(G(s));
  keys.insert(keys.end(), {"", "a", "\x81", "zhao", G("。")});
  Lines syllables = {"a", "e", "ya", "zhao", "shan", "dan", "chan", "zeng", "ceng", "xing", "hang",
                     "Zhao", "a ", ""};
  for (int i = 0; i < 30; ++i) {
    std::string r = BuiltinReading(pick(kBuiltinRowCount));
    syllables.push_back(r.substr(0, r.find('/')));
  }

  auto randomLines = [&](const Lines& pool, size_t maxCount) {
    Lines out(pick(maxCount + 1));
    for (auto& l : out) l = pool[pick(pool.size())];
    return out;
  };
  auto path = [&](int slot) { return dir.File(kListFileNames[slot]); };
  auto edit = [&] {
    int slot = static_cast<int>(pick(kListCount));
    bool keyList = slot % 2 == 0;
    const Lines& pool = slot < 2 ? syllables : keyList ? keys : syllables;
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(path(slot));
    switch (folder ? 7 : pick(8)) {
      case 0: case 1: case 2: {  // rewrite in place, sometimes without a final line end
        std::string text = CrLf(randomLines(pool, 12));
        if (!text.empty() && pick(3) == 0) text.resize(text.size() - 2);
        WriteFile(path(slot), text);
        break;
      }
      case 3:  // delete
        std::filesystem::remove(path(slot), ec);
        break;
      case 4: {  // replace by rename
        WriteFile(dir.File("x.tmp"), CrLf(randomLines(pool, 12)));
        std::filesystem::rename(dir.File("x.tmp"), path(slot), ec);
        break;
      }
      case 5:  // truncate
        if (std::filesystem::is_regular_file(path(slot))) std::filesystem::resize_file(path(slot), 0, ec);
        break;
      case 6: {  // append a line
        FILE* f = std::fopen(path(slot).c_str(), "ab");
        std::string line = pool[pick(pool.size())] + "\r\n";
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
        break;
      }
      case 7:  // a folder where the file should be (unreadable), or take it away again
        if (folder) {
          std::filesystem::remove(path(slot), ec);
        } else if (pick(4) == 0) {
          std::filesystem::remove(path(slot), ec);
          std::filesystem::create_directory(path(slot), ec);
        }
        break;
    }
    WriteFile(dir.File("names_en.txt"), "unrelated\r\n");  // other files in the folder change too
  };

  ListFiles engine(dir.Path(), GetParam());
  Reference reference(dir.Path());
  int errors = 0, custom = 0;
  for (int step = 0; step < 6000; ++step) {
    for (size_t e = pick(4); e > 0 && pick(3) == 0; --e) edit();
    const std::string& key = keys[pick(keys.size())];
    const bool all = pick(2) == 1, wade = pick(2) == 1;
    const LookupOptions opt = Options(all, wade);
    KeyRole role = pick(2) ? KeyRole::kSurname : KeyRole::kOther;
    std::string expected = Outcome([&] { return reference.Lookup(key, opt, role); });
    std::string actual = Outcome([&] { return ReadingNow(engine, key, opt, role); });
    ASSERT_EQ(actual, expected) << "step " << step << " key " << U(key) << " all " << all << " wade " << wade;
    errors += !expected.starts_with("ok:");
    custom += expected.starts_with("ok:") && expected != "ok:???" && FindBuiltinRow(key) < 0 && !IsLatinWord(key);
  }
  // The walk went through the interesting states, not just the easy ones.
  EXPECT_GT(errors, 100);
  EXPECT_GT(custom, 20);
}

INSTANTIATE_TEST_SUITE_P(Watch, Differential,
                         testing::Values(ListFiles::ChangeWatch::kAuto,
                                         ListFiles::ChangeWatch::kCompareFiles),
                         [](const auto& info) {
                           return info.param == ListFiles::ChangeWatch::kAuto ? "Inotify" : "CompareFiles";
                         });

}  // namespace

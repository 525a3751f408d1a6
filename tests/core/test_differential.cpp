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
#include "CustomDictionary.h"
#include "Errors.h"
#include "FileReading.h"
#include "ListFiles.h"
#include "NameRomanizer.h"
#include "ReadingLookup.h"
#include "TestSupport.h"
#include "TextLines.h"

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
          for (size_t k = 0; k < lists[kMappingPinyin].size(); ++k) {
            if (lists[kMappingPinyin][k] != syllable) continue;
            if (k >= lists[kMappingWadeGiles].size()) throw ListIndexError(static_cast<long>(k));
            syllable = lists[kMappingWadeGiles][k];
            break;
          }
        }
      }
      result.clear();
      for (size_t k = 0; k < readings.size(); ++k) result += (k ? "/" : "") + readings[k];
      break;
    }
    const bool wadeGiles = opt.romanization == Romanization::kWadeGiles;
    const Lines& keys = lists[wadeGiles ? kWadeGilesDictionaryKeys : kPinyinDictionaryKeys];
    const Lines& values =
        lists[wadeGiles ? kWadeGilesDictionaryReadings : kPinyinDictionaryReadings];
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
  Lines syllables = {"a",    "e",    "ya",   "zhao", "shan", "dan", "chan",
                     "zeng", "ceng", "xing", "hang", "Zhao", "a ",  ""};
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
    // The six pronunciation lists the reference models; the taught whole names are not read here.
    int slot = static_cast<int>(pick(6));
    bool keyList = slot % 2 == 0;
    const Lines& pool = slot < 2 ? syllables : keyList ? keys : syllables;
    std::error_code ec;
    const bool folder = std::filesystem::is_directory(path(slot));
    switch (folder ? 7 : pick(8)) {
      case 0:
      case 1:
      case 2: {  // rewrite in place, sometimes without a final line end
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
        if (std::filesystem::is_regular_file(path(slot)))
          std::filesystem::resize_file(path(slot), 0, ec);
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
    KeyRole role = pick(2) ? KeyRole::kSurname : KeyRole::kGivenName;
    std::string expected = Outcome([&] { return reference.Lookup(key, opt, role); });
    std::string actual = Outcome([&] { return ReadingNow(engine, key, opt, role); });
    ASSERT_EQ(actual, expected) << "step " << step << " key " << U(key) << " all " << all
                                << " wade " << wade;
    errors += !expected.starts_with("ok:");
    custom += expected.starts_with("ok:") && expected != "ok:???" && FindBuiltinRow(key) < 0 &&
              !IsLatinWord(key);
  }
  // The walk went through the interesting states, not just the easy ones.
  EXPECT_GT(errors, 100);
  EXPECT_GT(custom, 20);
}

// The batch path (NameConverter and its ReadingCache) against the one-name path, over names whose
// surname also stands in their given name: in one run a character read as a surname (单 shan,
// 曾 zeng) and as a given-name character (dan, ceng) keeps both readings apart.
TEST(CachedReadings, MatchTheOneNamePathWhereASurnameAlsoStandsInAGivenName) {
  TempDir dir;
  CopyInstalledLists(dir.Path());
  ListFiles lists(dir.Path());
  lists.Load();
  std::mt19937 rng(20261211);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };

  // Characters whose surname reading differs from their usual one, and some that have none.
  Lines twoRoles(kSurnameKeys, kSurnameKeys + kSurnameCount);
  Lines ordinary;
  for (const char* s : {"明", "华", "国", "小", "文", "东"}) ordinary.push_back(G(s));
  auto anyCharacter = [&] {
    return pick(3) ? twoRoles[pick(twoRoles.size())] : ordinary[pick(ordinary.size())];
  };
  Lines names;
  for (const auto& key : twoRoles) names.push_back(key + key);  // 单单: both roles in one name
  for (int i = 0; i < 600; ++i) {
    std::string surname = pick(8) ? twoRoles[pick(twoRoles.size())] : G("欧阳");
    names.push_back(surname + anyCharacter() + (pick(2) ? anyCharacter() : ""));
  }

  for (auto readings : {Readings::kFirst, Readings::kAll}) {
    for (auto romanization : {Romanization::kPinyin, Romanization::kWadeGiles}) {
      for (auto format : {NameFormat::kGivenSurnameCapitalised, NameFormat::kPassport}) {
        ConversionOptions options;
        options.readings = readings;
        options.romanization = romanization;
        options.format = format;
        options.umlaut = UmlautSpelling::kUmlaut;
        const std::string what =
            std::string(readings == Readings::kAll ? "all readings" : "first reading") +
            (romanization == Romanization::kWadeGiles ? ", Wade-Giles" : ", pinyin") +
            (format == NameFormat::kPassport ? ", passport" : "");
        SCOPED_TRACE(what);

        // Each key in both roles, in a random order, through one cache.
        ReadingCache cache(lists, options.Lookup());
        for (int i = 0; i < 2000; ++i) {
          const std::string& key = twoRoles[pick(twoRoles.size())];
          const KeyRole role = pick(2) ? KeyRole::kSurname : KeyRole::kGivenName;
          ASSERT_EQ(cache.Reading(key, role), ReadingOf(lists, key, options.Lookup(), role))
              << "key " << U(key)
              << (role == KeyRole::kSurname ? " as a surname" : " in a given name");
        }

        // Whole names through one converter, as a batch run converts them.
        NameConverter converter(lists, options);
        for (const auto& name : names) {
          std::string batch, single;
          converter.Append(batch, name);
          AppendRomanizedName(single, lists, name, options);
          ASSERT_EQ(batch, single) << "name " << U(name);
        }
      }
    }
  }
}

// A converter kept over changes of the custom dictionary: a two-character surname added while it
// runs is read as one at once, in the romanization whose dictionary holds it only, and a key
// starting with a one-byte character or a four-byte one is found like any other key.
TEST(CachedReadings, FollowTwoCharacterSurnamesAddedWhileAConverterRuns) {
  TempDir dir;
  CopyInstalledLists(dir.Path());
  ListFiles lists(dir.Path());
  lists.Load();
  const Lines names = {G("龙小明"), G("龙小"), G("龙"), "a" + G("小明"), G("䶮小明"), G("欧阳明")};
  const Lines keys = {G("龙小"), "a" + G("小"), G("䶮小")};
  for (auto romanization : {Romanization::kPinyin, Romanization::kWadeGiles}) {
    SCOPED_TRACE(romanization == Romanization::kWadeGiles ? "Wade-Giles" : "pinyin");
    ConversionOptions options;
    options.romanization = romanization;
    NameConverter converter(lists, options);
    CustomDictionary pinyin(lists, CustomDictionary::Kind::kStandard);
    auto compare = [&](const char* when) {
      for (const auto& name : names) {
        std::string batch, single;
        converter.Append(batch, name);
        AppendRomanizedName(single, lists, name, options);
        ASSERT_EQ(batch, single) << when << ", name " << U(name);
      }
    };
    compare("before");
    for (const auto& key : keys) pinyin.AddOrUpdate(key, "Zz");
    compare("added");
    std::string batch;
    converter.Append(batch, names[0]);
    EXPECT_EQ(batch.starts_with("Ming"), romanization == Romanization::kPinyin) << batch;
    for (const auto& key : keys) pinyin.RemoveKey(key);
    compare("removed");
  }
}

// A converter kept over edits of the custom dictionaries between two names, in every format,
// reading mode, romanization and separator: a reading it has already written in a layout's case
// is written anew after the Refresh that saw the edit, whether the key gains, changes or loses
// its entry, gains a two-character key in front of it (one that reads "???" is no surname), or
// reads empty, in Chinese, with a last byte that starts a character, or "???" (and then the line
// may hold the marker); names with a separating dot among them.
TEST(CachedReadings, FollowEveryEditOfTheCustomDictionariesInEveryLayout) {
  TempDir dir;
  CopyInstalledLists(dir.Path());
  ListFiles lists(dir.Path());
  lists.Load();
  const Lines names = {
      G("刘德华"), G("吕小明"), G("单单"),           G("刘德"),           G("华明小德"),
      G("张三"),   G("刘"),     " " + G("刘德华\t"), G("德华明小刘单吕"), G("德华明小刘单吕华"),
      G("小明"),   G("张德吕"), G("张明"),           G("张三丰"),         G("艾力·买买"),
      G("刘．德")};
  // The keys' entries in each state, the same in both dictionaries; the last state has none.
  const std::vector<std::vector<std::pair<std::string, std::string>>> states = {
      {},
      {{G("刘"), "lau"},
       {G("德"), ""},
       {G("华"), G("华")},
       {G("小"), "x\x81"},
       {G("明"), "???"},
       {G("张三"), "???"},
       {G("吕"), "lv/lyu"}},
      {{G("刘"), "lau"}, {G("德"), "Tak"}, {G("华"), "wa"}, {G("刘德"), "Laudak"}},
      {}};
  auto write = [&](int keySlot, int readingSlot, const auto& entries) {
    Lines keys, readings;
    for (const auto& [key, reading] : entries) {
      keys.push_back(key);
      readings.push_back(reading);
    }
    for (const auto& [slot, lines] : {std::pair{keySlot, keys}, std::pair{readingSlot, readings}}) {
      WriteFile(dir.File("x.tmp"), CrLf(lines));
      std::filesystem::rename(dir.File("x.tmp"), dir.File(kListFileNames[slot]));
    }
  };
  int changed = 0;
  for (int format = -1; format <= 10; ++format) {
    for (int all = 0; all < 2; ++all) {
      for (int wade = 0; wade < 2; ++wade) {
        for (int separator = 0; separator < 3; ++separator) {
          ConversionOptions options;
          options.format = static_cast<NameFormat>(format);
          options.readings = all ? Readings::kAll : Readings::kFirst;
          options.romanization = wade ? Romanization::kWadeGiles : Romanization::kPinyin;
          options.separator = static_cast<Separator>(separator);
          options.umlaut = static_cast<UmlautSpelling>((format + 1 + separator) % 4);
          SCOPED_TRACE("format " + std::to_string(format) + (all ? ", all readings" : "") +
                       (wade ? ", Wade-Giles" : "") + ", separator " + std::to_string(separator));
          NameConverter converter(lists, options);
          std::string first;  // 刘德华 in the state before
          for (size_t state = 0; state < states.size(); ++state) {
            write(kPinyinDictionaryKeys, kPinyinDictionaryReadings, states[state]);
            write(kWadeGilesDictionaryKeys, kWadeGilesDictionaryReadings, states[state]);
            lists.Refresh();
            for (const auto& name : names) {
              std::string batch, single;
              converter.Append(batch, name);
              AppendRomanizedName(single, lists, name, options);
              ASSERT_EQ(batch, single) << "state " << state << ", name " << U(name);
              if (batch.find(kNoReading) != std::string::npos) {
                EXPECT_TRUE(converter.MayHoldMarker()) << "state " << state << ", " << U(name);
              }
              if (name == names[0] && state > 0) changed += batch != first;
              if (name == names[0]) first = batch;
            }
          }
        }
      }
    }
  }
  // Every edit changed 刘德华 in every layout but the empty one.
  EXPECT_EQ(changed, 11 * 2 * 2 * 3 * 3);
}

// Many changes in one write (an import) against one AddOrUpdate per change: the same pair, over
// seeded changes whose keys repeat among themselves and among the entries already held, padded
// with spaces and tabs that the trim rule takes off.
TEST(ImportedEntries, GiveThePairThatOneChangeAtATimeGives) {
  std::mt19937 rng(20261212);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  Lines keys;
  for (const char* s : {"张", "王", "单", "曾", "欧阳", "司马", "李", "赵"}) keys.push_back(G(s));
  const Lines pads = {"", "", " ", "\t", " \t "};
  auto padded = [&](const std::string& text) {
    return pads[pick(pads.size())] + text + pads[pick(pads.size())];
  };
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Lines heldKeys(pick(6)), heldReadings;
    for (auto& key : heldKeys) key = keys[pick(keys.size())];
    for (size_t i = 0; i < heldKeys.size(); ++i) heldReadings.push_back("old" + std::to_string(i));
    if (!heldReadings.empty() && pick(4) == 0) heldReadings.pop_back();  // a short reading file
    std::vector<DictionaryEntry> changes(1 + pick(8));
    for (auto& change : changes)
      change = {padded(keys[pick(keys.size())]), padded("r" + std::to_string(pick(100)))};

    TempDir all, oneByOne;
    for (const TempDir* dir : {&all, &oneByOne}) {
      WriteFile(dir->File("define_han.dll"), CrLf(heldKeys));
      WriteFile(dir->File("define_py.dll"), CrLf(heldReadings));
    }
    ListFiles allLists(all.Path()), oneLists(oneByOne.Path());
    CustomDictionary allAtOnce(allLists, CustomDictionary::Kind::kStandard);
    CustomDictionary each(oneLists, CustomDictionary::Kind::kStandard);
    allAtOnce.AddOrUpdateAll(changes);
    for (const auto& change : changes) each.AddOrUpdate(change.key, change.reading);
    EXPECT_EQ(allAtOnce.Entries(), each.Entries());
    EXPECT_EQ(ReadFile(all.File("define_han.dll")), ReadFile(oneByOne.File("define_han.dll")));
    EXPECT_EQ(ReadFile(all.File("define_py.dll")), ReadFile(oneByOne.File("define_py.dll")));
  }
}

INSTANTIATE_TEST_SUITE_P(Watch, Differential,
                         testing::Values(ListFiles::ChangeWatch::kAuto,
                                         ListFiles::ChangeWatch::kCompareFiles),
                         [](const auto& info) {
                           return info.param == ListFiles::ChangeWatch::kAuto ? "Inotify"
                                                                              : "CompareFiles";
                         });

}  // namespace

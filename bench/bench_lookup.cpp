// Lookups per second with the change check on: files unchanged, and one file changed every
// 10,000 lookups; name romanization per name. Run: build/bin/bench_lookup
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BuiltinTable.h"
#include "ListFiles.h"
#include "NameRomanizer.h"
#include "ReadingLookup.h"

namespace {

// A data folder with the installed list files, removed at exit.
const std::string& DataDir() {
  static const std::string* dir = [] {  // never destroyed: the exit handler needs it
    char tmpl[] = "/tmp/quorvel-bench-XXXXXX";
    auto* d = new std::string(mkdtemp(tmpl));
    for (const char* f : quorvel::kListFileNames)
      std::filesystem::copy_file(std::string(QUORVEL_BENCH_DATA_DIR) + "/" + f, *d + "/" + f);
    std::atexit([] { std::filesystem::remove_all(DataDir()); });
    return d;
  }();
  return *dir;
}

std::vector<std::string> Keys() {
  std::vector<std::string> keys;
  for (int i = 0; i < quorvel::kBuiltinRowCount; i += 97) keys.push_back(quorvel::BuiltinKey(i));
  return keys;
}

void Touch(const std::string& path, int n) {
  std::ofstream f(path, std::ios::binary | std::ios::app);
  f << "x" << n << "\r\n";
}

template <quorvel::ListFiles::ChangeWatch kWatch>
void BM_LookupUnchanged(benchmark::State& state) {
  quorvel::ListFiles lists(DataDir(), kWatch);
  const auto keys = Keys();
  const quorvel::LookupOptions options{
      state.range(0) != 0 ? quorvel::Readings::kAll : quorvel::Readings::kFirst,
      state.range(1) != 0 ? quorvel::Romanization::kWadeGiles : quorvel::Romanization::kPinyin};
  size_t i = 0;
  for (auto _ : state) {
    lists.Refresh();
    auto r = quorvel::ReadingOf(lists, keys[i++ % keys.size()], options);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["reloads"] = static_cast<double>(lists.LoadCount());
}
BENCHMARK_TEMPLATE(BM_LookupUnchanged, quorvel::ListFiles::ChangeWatch::kAuto)
    ->ArgNames({"all", "wade"})
    ->Args({0, 0})
    ->Args({1, 1});
BENCHMARK_TEMPLATE(BM_LookupUnchanged, quorvel::ListFiles::ChangeWatch::kCompareFiles)
    ->ArgNames({"all", "wade"})
    ->Args({0, 0});

template <quorvel::ListFiles::ChangeWatch kWatch>
void BM_LookupFileChangedEvery10000(benchmark::State& state) {
  quorvel::ListFiles lists(DataDir(), kWatch);
  const auto keys = Keys();
  const std::string target = DataDir() + "/define_wei_han.dll";
  std::filesystem::copy_file(target, DataDir() + "/saved.dll",
                             std::filesystem::copy_options::overwrite_existing);
  size_t i = 0;
  int edits = 0;
  for (auto _ : state) {
    if (++i % 10000 == 0) Touch(target, ++edits);
    lists.Refresh();
    auto r = quorvel::ReadingOf(lists, keys[i % keys.size()], {});
    benchmark::DoNotOptimize(r);
  }
  std::filesystem::rename(DataDir() + "/saved.dll", target);
  state.SetItemsProcessed(state.iterations());
  state.counters["reloads"] = static_cast<double>(lists.LoadCount());
}
BENCHMARK_TEMPLATE(BM_LookupFileChangedEvery10000, quorvel::ListFiles::ChangeWatch::kAuto);

void BM_RomanizeName(benchmark::State& state) {
  quorvel::ListFiles lists(DataDir());
  const auto keys = Keys();
  std::vector<std::string> names;
  for (size_t i = 0; i + 2 < keys.size(); ++i) names.push_back(keys[i] + keys[i + 1] + keys[i + 2]);
  size_t i = 0;
  for (auto _ : state) {
    auto r = quorvel::RomanizeName(lists, names[i++ % names.size()], {});
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RomanizeName);

// The batch conversion's path: one NameConverter for the run, no change check per name (the run
// checks at blocks, progress reports and every 4,096 names).
void BM_NameConverter(benchmark::State& state) {
  quorvel::ListFiles lists(DataDir());
  lists.Refresh();
  const auto keys = Keys();
  std::vector<std::string> names;
  for (size_t i = 0; i + 2 < keys.size(); ++i) names.push_back(keys[i] + keys[i + 1] + keys[i + 2]);
  quorvel::NameConverter converter(lists, {});
  std::string out;
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    converter.Append(out, names[i++ % names.size()]);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NameConverter);

// One change check comparing the six files' identities (quorvel-cli's way), nothing changed.
// The table's index alone: two-byte keys (one array read) against four-byte keys (a page, then
// the row), every 7th row of each kind.
void BM_FindBuiltinRow(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<std::string> keys;
  for (int i = 0; i < quorvel::kBuiltinRowCount; ++i)
    if (std::string key = quorvel::BuiltinKey(i); key.size() == size && i % 7 == 0)
      keys.push_back(key);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quorvel::FindBuiltinRow(keys[i]));
    i = i + 1 == keys.size() ? 0 : i + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindBuiltinRow)->ArgName("bytes")->Arg(2)->Arg(4);

void BM_CompareFilesCheck(benchmark::State& state) {
  quorvel::ListFiles lists(DataDir(), quorvel::ListFiles::ChangeWatch::kCompareFiles);
  lists.Refresh();
  for (auto _ : state) lists.Refresh();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompareFilesCheck);

}  // namespace

BENCHMARK_MAIN();

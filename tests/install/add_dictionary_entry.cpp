// Test helper: adds one entry to a custom dictionary of the program installed in PROGRAM_DIR,
// through the same location rule and editor code the dictionary windows use, as that program's
// user would. Prints the folder the entry was written to.
// Usage: add_dictionary_entry PROGRAM_DIR standard|wade-giles KEY READING   (UTF-8 text)
#include <cstdio>
#include <cstring>
#include <exception>

#include "CustomDictionary.h"
#include "DataLocations.h"
#include "Encoding.h"
#include "ListFiles.h"

int main(int argc, char** argv) {
  if (argc != 5 ||
      (std::strcmp(argv[2], "standard") != 0 && std::strcmp(argv[2], "wade-giles") != 0)) {
    std::fputs("usage: add_dictionary_entry PROGRAM_DIR standard|wade-giles KEY READING\n", stderr);
    return 2;
  }
  try {
    const quorvel::DataLocations where =
        quorvel::FindDataLocations(quorvel::LocationInputsFor(argv[1]));
    for (const std::string& warning : where.warnings) std::fprintf(stderr, "%s\n", warning.c_str());
    quorvel::ListFiles lists(where.dictionaryDir, where.mappingDir);
    lists.Load();
    const auto kind = std::strcmp(argv[2], "standard") == 0
                          ? quorvel::CustomDictionary::Kind::kStandard
                          : quorvel::CustomDictionary::Kind::kWadeGiles;
    quorvel::CustomDictionary dictionary(lists, kind);
    dictionary.AddOrUpdate(quorvel::Utf8ToGb18030(argv[3]), quorvel::Utf8ToGb18030(argv[4]));
    std::printf("%s\n", where.dictionaryDir.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "add_dictionary_entry: %s\n", e.what());
    return 1;
  }
  return 0;
}

// Name romanization and the source splitter over arbitrary bytes, with the installed list files:
// every format, separator, reading mode and ü spelling; encodings detected and converted; never a
// fault.
#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "BatchConversion.h"
#include "Encoding.h"
#include "Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static quorvel::ListFiles lists(QUORVEL_FUZZ_DATA_DIR);
  static int devNull = ::open("/dev/null", O_WRONLY);
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(bytes + 1), size - 1);
  const uint8_t sel = bytes[0];
  // The options through the window's mapping, every index each control can give and more.
  // Format -1..14: none, the ten, passport, and past the last. The ü spelling from the separator
  // bits (0..3) so that every spelling meets every format.
  const quorvel::ConversionOptions options = quorvel::OptionsFromControlIndexes(
      sel & 1, (sel >> 1) & 3, ((sel >> 3) & 1) != 0, (sel >> 4) - 1, (sel >> 1) & 3);
  std::string line = quorvel::RomanizeName(lists, text, options);
  if (options.format == quorvel::NameFormat::kNone && !line.empty()) std::abort();  // an empty line
  quorvel::ConvertBytes(lists, text, devNull, "/dev/null", options);
  (void)quorvel::Gb18030ToUtf8(text);
  (void)quorvel::Utf8ToGb18030(text);
  return 0;
}

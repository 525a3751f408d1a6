// Name romanization and the source splitter over arbitrary bytes, with the installed list files:
// every format, separator and reading mode; encodings detected and converted; never a fault.
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "BatchConversion.h"
#include "Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static quorvel::PronunciationData data(QUORVEL_FUZZ_DATA_DIR);
  static int devNull = ::open("/dev/null", O_WRONLY);
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(bytes + 1), size - 1);
  const uint8_t sel = bytes[0];
  quorvel::ConversionOptions options{sel & 1, (sel >> 1) & 3, ((sel >> 3) & 1) != 0, (sel >> 4) % 11};
  std::string line = quorvel::RomanizeName(data, text, options);
  if (options.nameFormat == 10 && !line.empty()) std::abort();  // no format: an empty line
  quorvel::ConvertBytes(data, text, devNull, "/dev/null", options);
  (void)quorvel::GbkToUtf8(text);
  (void)quorvel::Utf8ToGbk(text);
  return 0;
}

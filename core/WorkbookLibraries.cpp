#include "WorkbookLibraries.h"

#include <dlfcn.h>

#include <string>

#include "Errors.h"

namespace quorvel {

namespace {

// The functions of the library `soname`, looked up by `fill` the first time (once per `Fill`, a
// lambda of its own at each caller); Error(`failing` and why) when it cannot be loaded or lacks
// one. The library stays loaded for the process.
template <typename Functions, typename Fill>
const Functions& Library(const char* soname, const char* failing, Fill fill) {
  struct Loaded {
    Functions functions;
    std::string failure;
  };
  static const Loaded library = [&] {
    Loaded loaded;
    void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      loaded.failure = why ? why : soname;
      return loaded;
    }
    fill(loaded.functions, [&](const char* name) {
      void* found = ::dlsym(handle, name);
      if (!found && loaded.failure.empty())
        loaded.failure = std::string(soname) + " has no " + name;
      return found;
    });
    return loaded;
  }();
  if (!library.failure.empty()) throw Error(failing + library.failure);
  return library.functions;
}

}  // namespace

#define QUORVEL_FIND(name) f.name = reinterpret_cast<decltype(f.name)>(find(#name));

const ZipFunctions& Zip() {
  return Library<ZipFunctions>(QUORVEL_LIBZIP_SONAME,
                               "Cannot read workbooks: ", [](ZipFunctions& f, auto find) {
                                 QUORVEL_ZIP_FUNCTIONS(QUORVEL_FIND)
                               });
}

const XlsxWriterFunctions& XlsxWriterLibrary() {
  return Library<XlsxWriterFunctions>(
      QUORVEL_LIBXLSXWRITER_SONAME, "Cannot write workbooks: ",
      [](XlsxWriterFunctions& f, auto find) { QUORVEL_XLSXWRITER_FUNCTIONS(QUORVEL_FIND) });
}

#undef QUORVEL_FIND

}  // namespace quorvel

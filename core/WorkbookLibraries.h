#pragma once

// libzip (reading workbooks) and libxlsxwriter (writing them), loaded the first time a workbook
// is read or written: a run that never touches one does not pay at every start for loading them
// and the libcrypto both bring (about a millisecond, a twentieth of converting a million names).
// Their functions are called through these tables, named as the libraries name them.

#include <xlsxwriter.h>
#include <zip.h>

namespace quorvel {

// clang-format off
#define QUORVEL_ZIP_FUNCTIONS(X)                                                   \
  X(zip_error_init) X(zip_error_fini) X(zip_source_buffer_create)                 \
  X(zip_source_filep_create) X(zip_source_free) X(zip_open_from_source)           \
  X(zip_discard) X(zip_stat) X(zip_fopen) X(zip_fread) X(zip_fclose)

#define QUORVEL_XLSXWRITER_FUNCTIONS(X)                                            \
  X(workbook_new_opt) X(lxw_workbook_free) X(lxw_strerror) X(workbook_add_worksheet) \
  X(worksheet_write_number) X(worksheet_write_boolean) X(worksheet_write_string)  \
  X(workbook_add_format) X(format_set_num_format_index) X(format_set_num_format)  \
  X(workbook_close)
// clang-format on

#define QUORVEL_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
struct ZipFunctions {
  QUORVEL_ZIP_FUNCTIONS(QUORVEL_FUNCTION_POINTER)
};
struct XlsxWriterFunctions {
  QUORVEL_XLSXWRITER_FUNCTIONS(QUORVEL_FUNCTION_POINTER)
};
#undef QUORVEL_FUNCTION_POINTER

// The loaded library's functions; Error ("Cannot read workbooks: …", "Cannot write workbooks:
// …") when it cannot be loaded. Loaded once per process, on any thread.
const ZipFunctions& Zip();
const XlsxWriterFunctions& XlsxWriterLibrary();

}  // namespace quorvel

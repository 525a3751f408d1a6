#include "TableXlsx.h"

#include <expat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <map>

#include "Errors.h"
#include "WorkbookLibraries.h"

namespace quorvel {

namespace {

const char kNotAWorkbook[] = "This file is not an Excel workbook (.xlsx), or it is damaged";

// An element's or attribute's name without its namespace (the parser puts "uri|" before it).
std::string_view LocalName(const XML_Char* name) {
  std::string_view s(name);
  const size_t bar = s.rfind('|');
  return bar == std::string_view::npos ? s : s.substr(bar + 1);
}

const char* Attribute(const XML_Char** attributes, std::string_view name) {
  for (int i = 0; attributes[i]; i += 2)
    if (LocalName(attributes[i]) == name) return attributes[i + 1];
  return nullptr;
}

// Excel writes characters XML cannot hold as _xHHHH_.
std::string UndoEscapes(std::string text) {
  if (text.find("_x") == std::string::npos) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "_x") == 0 && i + 7 <= text.size() && text[i + 6] == '_') {
      char* end = nullptr;
      const std::string hex = text.substr(i + 2, 4);
      const unsigned long cp = std::strtoul(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 4) {
        if (cp < 0x80) {
          out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
          out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
          out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
          out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
          out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
          out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        i += 6;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// An expat parser with namespaces split off, calling back into `Handler`. A handler's exception
// stops the parser and is thrown again from Feed, never through expat's own frames.
template <typename Handler>
class XmlParser {
 public:
  explicit XmlParser(Handler& handler)
      : handler_(handler), parser_(XML_ParserCreateNS(nullptr, '|')) {
    if (!parser_) throw std::bad_alloc();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(
        parser_,
        [](void* self, const XML_Char* name, const XML_Char** attributes) {
          static_cast<XmlParser*>(self)->Guard(
              [&](Handler& h) { h.Start(LocalName(name), attributes); });
        },
        [](void* self, const XML_Char* name) {
          static_cast<XmlParser*>(self)->Guard([&](Handler& h) { h.End(LocalName(name)); });
        });
    XML_SetCharacterDataHandler(parser_, [](void* self, const XML_Char* text, int length) {
      static_cast<XmlParser*>(self)->Guard(
          [&](Handler& h) { h.Text(std::string_view(text, static_cast<size_t>(length))); });
    });
  }
  ~XmlParser() { XML_ParserFree(parser_); }
  XmlParser(const XmlParser&) = delete;
  XmlParser& operator=(const XmlParser&) = delete;

  // Parses the next block of `file` (in expat's own buffer, so a pause may leave it half read), or
  // goes on where a pause (Pause) stopped. Returns the bytes read from the file; true in `*ended`
  // once the whole file has been parsed.
  size_t Feed(zip_file_t* file, bool* ended) {
    enum XML_Status status;
    size_t bytes = 0;
    if (paused_) {
      status = XML_ResumeParser(parser_);
    } else {
      constexpr int kBlock = 1 << 16;
      void* buffer = XML_GetBuffer(parser_, kBlock);
      if (!buffer) throw std::bad_alloc();
      const zip_int64_t n = Zip().zip_fread(file, buffer, kBlock);
      if (n < 0) throw Error(kNotAWorkbook);
      bytes = static_cast<size_t>(n);
      last_ = n == 0;
      status = XML_ParseBuffer(parser_, static_cast<int>(n), last_);
    }
    if (failure_) std::rethrow_exception(failure_);
    if (status == XML_STATUS_ERROR)
      throw Error(std::string(kNotAWorkbook) + " (" + XML_ErrorString(XML_GetErrorCode(parser_)) +
                  ")");
    paused_ = status == XML_STATUS_SUSPENDED;
    *ended = last_ && !paused_;
    return bytes;
  }
  // From a handler: stop after the current element, to go on at the next Feed.
  void Pause() { XML_StopParser(parser_, XML_TRUE); }

 private:
  template <typename Call>
  void Guard(Call&& call) {
    if (failure_) return;
    try {
      call(handler_);
    } catch (...) {
      failure_ = std::current_exception();
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  Handler& handler_;
  XML_Parser parser_;
  std::exception_ptr failure_;
  bool paused_ = false;
  bool last_ = false;
};

// Collects what one kind of element holds: the workbook's sheets, the relationships, strings.
struct WorkbookHandler {
  std::vector<std::pair<std::string, std::string>> sheets;  // name, relationship id
  void Start(std::string_view name, const XML_Char** attributes) {
    if (name != "sheet") return;
    const char* sheetName = Attribute(attributes, "name");
    const char* id = Attribute(attributes, "id");
    if (sheetName && id) sheets.emplace_back(sheetName, id);
  }
  void End(std::string_view) {}
  void Text(std::string_view) {}
};

struct RelationshipsHandler {
  std::map<std::string, std::string> targets;  // id -> target, of the worksheets
  std::string sharedStrings;
  std::string styles;
  void Start(std::string_view name, const XML_Char** attributes) {
    if (name != "Relationship") return;
    const char* id = Attribute(attributes, "Id");
    const char* target = Attribute(attributes, "Target");
    const char* type = Attribute(attributes, "Type");
    if (!id || !target) return;
    if (type && std::string_view(type).ends_with("/worksheet")) targets[id] = target;
    if (type && std::string_view(type).ends_with("/sharedStrings")) sharedStrings = target;
    if (type && std::string_view(type).ends_with("/styles")) styles = target;
  }
  void End(std::string_view) {}
  void Text(std::string_view) {}
};

// <si> items; the text of their <t> elements, a phonetic guide (<rPh>) left out.
struct SharedStringsHandler {
  explicit SharedStringsHandler(SharedStrings& into) : strings(into) {}
  static constexpr size_t kMaxBytes = size_t{1} << 30;
  SharedStrings& strings;
  size_t bytes = 0;
  std::string current;
  bool inText = false;
  int phonetic = 0;
  void Start(std::string_view name, const XML_Char**) {
    if (name == "si") current.clear();
    else if (name == "rPh") ++phonetic;
    else if (name == "t") inText = phonetic == 0;
  }
  void End(std::string_view name) {
    if (name == "si") {
      // The strings stay in memory for the run: a file that unpacks to more is refused.
      bytes += current.size() + sizeof(uint32_t);  // SharedStrings holds the text and its end
      if (bytes > kMaxBytes)
        throw Error("This workbook's texts take more than 1 GiB, which is not read");
      strings.Add(UndoEscapes(std::move(current)));
    } else if (name == "rPh") --phonetic;
    else if (name == "t") inText = false;
  }
  void Text(std::string_view text) {
    if (inText) current.append(text);
  }
};

// The number formats of the cell styles: <numFmts> codes, and <cellXfs> (not <cellStyleXfs>).
struct StylesHandler {
  std::vector<int>& cellFormats;
  std::map<int, std::string>& codes;
  bool inCellXfs = false;
  void Start(std::string_view name, const XML_Char** attributes) {
    if (name == "cellXfs") {
      inCellXfs = true;
    } else if (name == "numFmt") {
      const char* id = Attribute(attributes, "numFmtId");
      const char* code = Attribute(attributes, "formatCode");
      if (id && code) codes[std::atoi(id)] = code;
    } else if (name == "xf" && inCellXfs) {
      const char* id = Attribute(attributes, "numFmtId");
      cellFormats.push_back(id ? std::atoi(id) : 0);
    }
  }
  void End(std::string_view name) {
    if (name == "cellXfs") inCellXfs = false;
  }
  void Text(std::string_view) {}
};

// The column of a cell reference ("AB12" -> 27).
std::optional<size_t> ColumnOfReference(const char* reference) {
  size_t column = 0;
  const char* p = reference;
  for (; *p >= 'A' && *p <= 'Z'; ++p) {
    if (p - reference == 3) return SIZE_MAX;  // no sheet is that wide
    column = column * 26 + static_cast<size_t>(*p - 'A' + 1);
  }
  if (p == reference) return std::nullopt;
  return column - 1;
}

}  // namespace

namespace {

// A stream of its own on the file `fd` (a duplicate, closed with the stream); nullptr on failure.
FILE* OpenStream(int fd) {
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return nullptr;
  FILE* file = ::fdopen(own, "rb");
  if (!file) ::close(own);
  return file;
}

}  // namespace

class XlsxSource::Archive {
 public:
  // `bytes` must outlive the archive.
  explicit Archive(const TableBytes& bytes) {
    zip_error_t error;
    Zip().zip_error_init(&error);
    zip_source_t* source = nullptr;
    if (bytes.Descriptor() < 0) {
      source = Zip().zip_source_buffer_create(bytes.Memory().data(), bytes.Size(), 0, &error);
    } else if (FILE* file = OpenStream(bytes.Descriptor())) {
      // As long as the file was when opened: the parts lie where its directory says.
      source =
          Zip().zip_source_filep_create(file, 0, static_cast<zip_int64_t>(bytes.Size()), &error);
      if (!source) std::fclose(file);
    }
    if (source) zip_ = Zip().zip_open_from_source(source, ZIP_RDONLY, &error);
    if (source && !zip_) Zip().zip_source_free(source);
    Zip().zip_error_fini(&error);
    if (!zip_) throw Error(kNotAWorkbook);
  }
  ~Archive() { Zip().zip_discard(zip_); }

  // An entry opened for reading, or nullptr when the archive has none of that name.
  zip_file_t* Open(const std::string& name, zip_uint64_t* size) const {
    zip_stat_t st;
    if (Zip().zip_stat(zip_, name.c_str(), 0, &st) != 0) return nullptr;
    *size = st.size;
    return Zip().zip_fopen(zip_, name.c_str(), 0);
  }

  template <typename Handler>
  bool Parse(const std::string& name, Handler& handler) const {
    zip_uint64_t size = 0;
    zip_file_t* file = Open(name, &size);
    if (!file) return false;
    XmlParser<Handler> parser(handler);
    try {
      for (bool ended = false; !ended;) parser.Feed(file, &ended);
    } catch (...) {
      Zip().zip_fclose(file);
      throw;
    }
    Zip().zip_fclose(file);
    return true;
  }

 private:
  zip_t* zip_ = nullptr;
};

namespace {

// A path inside the archive from a relationship's target (relative to xl/, or absolute).
std::string PartPath(const std::string& target) {
  return target.starts_with("/") ? target.substr(1) : "xl/" + target;
}

// The rows of one sheet, parsed a block at a time as they are asked for.
class SheetReader : public RowReader {
 public:
  SheetReader(const XlsxSource::Archive& archive, const std::string& path,
              const SharedStrings& strings, const std::vector<int>& cellFormats)
      : strings_(strings), cellFormats_(cellFormats), parser_(*this) {
    file_ = archive.Open(path, &size_);
    if (!file_) throw Error(kNotAWorkbook);
  }
  ~SheetReader() override { Zip().zip_fclose(file_); }

  bool Next(Row& row) override {
    while (ready_.empty() && !done_) ReadBlock();
    if (ready_.empty()) return false;
    row.swap(ready_.front());
    ready_.pop_front();
    return true;
  }
  size_t Position() const override { return position_; }
  size_t Size() const override { return size_; }

  void Start(std::string_view name, const XML_Char** attributes) {
    if (name == "row") {
      const char* r = Attribute(attributes, "r");
      const size_t index = r ? std::strtoul(r, nullptr, 10) : nextRow_;
      if (index > kMaxRows) throw Error(std::string(kNotAWorkbook) + " (row " + r + ")");
      while (nextRow_ < index) {  // rows the file left out
        ready_.emplace_back();
        ++nextRow_;
      }
      row_.clear();
    } else if (name == "c") {
      const char* r = Attribute(attributes, "r");
      const char* t = Attribute(attributes, "t");
      const char* s = Attribute(attributes, "s");
      const size_t style = s ? std::strtoul(s, nullptr, 10) : 0;
      format_ = style < cellFormats_.size() ? cellFormats_[style] : 0;
      const std::optional<size_t> column = r ? ColumnOfReference(r) : std::nullopt;
      column_ = column ? *column : row_.size();
      if (column_ >= kMaxColumns)
        throw Error(std::string(kNotAWorkbook) + " (cell " + (r ? r : "") + ")");
      type_ = t ? t : "n";
      value_.clear();
    } else if (name == "v" || (name == "t" && phonetic_ == 0)) {
      collecting_ = true;
    } else if (name == "rPh") {
      ++phonetic_;
    }
  }

  void End(std::string_view name) {
    if (name == "v" || name == "t") {
      collecting_ = false;
    } else if (name == "rPh") {
      --phonetic_;
    } else if (name == "c") {
      if (row_.size() <= column_) row_.resize(column_ + 1);
      Cell& cell = row_[column_];
      cell = CellOf(type_, std::move(value_));
      if (cell.type == CellType::kNumber) cell.numberFormat = format_;
    } else if (name == "row") {
      ready_.push_back(std::move(row_));
      row_ = Row();
      ++nextRow_;
      // A few rows at a time: a block of the file may hold thousands of rows, each as wide as a
      // sheet can be.
      if (ready_.size() >= kRowsAhead) parser_.Pause();
    }
  }

  void Text(std::string_view text) {
    if (collecting_) value_.append(text);
  }

 private:
  Cell CellOf(const std::string& type, std::string value) const {
    if (type == "s") {
      const size_t index = std::strtoul(value.c_str(), nullptr, 10);
      if (value.empty() || index >= strings_.Size()) return {};
      return {CellType::kText, std::string(strings_[index])};
    }
    if (value.empty()) return {};
    if (type == "inlineStr" || type == "str" || type == "d")
      return {CellType::kText, UndoEscapes(std::move(value))};
    if (type == "b") return {CellType::kBoolean, value == "1" ? "1" : "0"};
    if (type == "e") return {CellType::kError, std::move(value)};
    return {CellType::kNumber, std::move(value)};
  }

  void ReadBlock() { position_ += parser_.Feed(file_, &done_); }

  static constexpr size_t kRowsAhead = 64;
  static constexpr size_t kMaxRows = 1048576, kMaxColumns = 16384;  // a sheet's size
  const SharedStrings& strings_;
  const std::vector<int>& cellFormats_;
  XmlParser<SheetReader> parser_;
  zip_file_t* file_ = nullptr;
  zip_uint64_t size_ = 0;
  size_t position_ = 0;
  bool done_ = false;
  std::deque<Row> ready_;
  Row row_;
  size_t nextRow_ = 1;
  size_t column_ = 0;
  int format_ = 0;
  std::string type_;
  std::string value_;
  bool collecting_ = false;
  int phonetic_ = 0;
};

}  // namespace

XlsxSource::XlsxSource(std::string bytes)
    : XlsxSource(std::make_shared<const TableBytes>(std::move(bytes))) {}

XlsxSource::XlsxSource(std::shared_ptr<const TableBytes> bytes)
    : bytes_(std::move(bytes)), archive_(std::make_unique<Archive>(*bytes_)) {
  WorkbookHandler workbook;
  RelationshipsHandler relationships;
  if (!archive_->Parse("xl/workbook.xml", workbook) ||
      !archive_->Parse("xl/_rels/workbook.xml.rels", relationships))
    throw Error(kNotAWorkbook);
  for (const auto& [name, id] : workbook.sheets) {
    const auto target = relationships.targets.find(id);
    if (target == relationships.targets.end())
      continue;  // a chart sheet, or a broken link: no rows
    names_.push_back(name);
    paths_.push_back(PartPath(target->second));
  }
  if (names_.empty()) throw Error(kNotAWorkbook);
  if (!relationships.sharedStrings.empty()) {
    SharedStringsHandler strings(sharedStrings_);
    archive_->Parse(PartPath(relationships.sharedStrings), strings);
  }
  if (!relationships.styles.empty()) {
    StylesHandler styles{cellFormats_, formatCodes_};
    archive_->Parse(PartPath(relationships.styles), styles);
  }
}

XlsxSource::~XlsxSource() = default;

std::vector<std::string> XlsxSource::SheetNames() const { return names_; }

std::unique_ptr<RowReader> XlsxSource::Rows(size_t sheet) const {
  return std::make_unique<SheetReader>(*archive_, paths_.at(sheet), sharedStrings_, cellFormats_);
}

XlsxWriter::XlsxWriter(const std::string& path, std::map<int, std::string> numberFormats)
    : codes_(std::move(numberFormats)) {
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;  // rows go to the file as they come
  book_ = XlsxWriterLibrary().workbook_new_opt(path.c_str(), &options);
  if (!book_) throw Error("Cannot create the workbook \"" + path + "\"");
}

XlsxWriter::~XlsxWriter() {
  if (book_) XlsxWriterLibrary().lxw_workbook_free(book_);
}

void XlsxWriter::Check(int error) {
  if (error != LXW_NO_ERROR)
    throw Error(std::string("Cannot write the workbook: ") +
                XlsxWriterLibrary().lxw_strerror(static_cast<lxw_error>(error)));
}

void XlsxWriter::AddSheet(const std::string& name) {
  sheet_ = XlsxWriterLibrary().workbook_add_worksheet(book_, name.empty() ? nullptr : name.c_str());
  if (!sheet_) throw Error("Cannot write the workbook: sheet \"" + name + "\" cannot be added");
  row_ = 0;
}

void XlsxWriter::Write(const Row& row) {
  if (row_ >= LXW_ROW_MAX) Check(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE);
  if (row.size() > LXW_COL_MAX)
    throw Error("Cannot write the workbook: a row of " + std::to_string(row.size()) +
                " cells is wider than " + std::to_string(LXW_COL_MAX) + " columns");
  for (size_t i = 0; i < row.size(); ++i) {
    const Cell& cell = row[i];
    const auto column = static_cast<lxw_col_t>(i);
    switch (cell.type) {
      case CellType::kEmpty: break;
      case CellType::kNumber:
        Check(XlsxWriterLibrary().worksheet_write_number(sheet_, row_, column,
                                                         std::strtod(cell.text.c_str(), nullptr),
                                                         NumberFormat(cell.numberFormat)));
        break;
      case CellType::kBoolean:
        Check(XlsxWriterLibrary().worksheet_write_boolean(sheet_, row_, column, cell.text == "1",
                                                          nullptr));
        break;
      case CellType::kText:
      case CellType::kError:
        if (!cell.text.empty())
          Check(XlsxWriterLibrary().worksheet_write_string(sheet_, row_, column, cell.text.c_str(),
                                                           nullptr));
        break;
    }
  }
  ++row_;
}

// The workbook's format for a number format, made once; nullptr for General or an unknown code.
lxw_format* XlsxWriter::NumberFormat(int id) {
  if (id <= 0) return nullptr;
  if (auto known = formats_.find(id); known != formats_.end()) return known->second;
  lxw_format* format = nullptr;
  const auto code = codes_.find(id);
  if (id < 164 || code != codes_.end()) {
    format = XlsxWriterLibrary().workbook_add_format(book_);
    if (id < 164) XlsxWriterLibrary().format_set_num_format_index(format, static_cast<uint8_t>(id));
    else XlsxWriterLibrary().format_set_num_format(format, code->second.c_str());
  }
  formats_[id] = format;
  return format;
}

void XlsxWriter::Close() {
  lxw_workbook* book = book_;
  book_ = nullptr;
  Check(XlsxWriterLibrary().workbook_close(book));
}

}  // namespace quorvel

// Tables: the CSV/TSV reader and writer, workbooks read and written, the name column's choice,
// the added name forms, and a table converted whole or not at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <fstream>

#include "Encoding.h"
#include "Errors.h"
#include "Paths.h"
#include "TableConversion.h"
#include "TableCsv.h"
#include "TableXlsx.h"
#include "TestSupport.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

Cell T(const std::string& text) {
  return {text.empty() ? CellType::kEmpty : CellType::kText, text};
}
Cell N(const std::string& digits) { return {CellType::kNumber, digits}; }

std::vector<Row> ReadAll(const TableSource& table, size_t sheet = 0) {
  std::vector<Row> rows;
  std::unique_ptr<RowReader> reader = table.Rows(sheet);
  Row row;
  while (reader->Next(row)) rows.push_back(row);
  return rows;
}

std::string Show(const std::vector<Row>& rows) {
  std::string s;
  for (const Row& row : rows) {
    s += "[";
    for (const Cell& cell : row) s += "<" + cell.text + ">";
    s += "]";
  }
  return s;
}

}  // namespace

TEST(Csv, ReadsRecordsAsSpreadsheetProgramsWriteThem) {
  struct Case {
    const char* why;
    std::string text;
    std::vector<Row> rows;
  } cases[] = {
      {"plain fields, CR LF", "a,b\r\nc,d\r\n", {{T("a"), T("b")}, {T("c"), T("d")}}},
      {"LF and a lone CR end records too; no end after the last",
       "a\nb\rc",
       {{T("a")}, {T("b")}, {T("c")}}},
      {"a quoted comma, quote and line break",
       "\"x,y\",\"say \"\"hi\"\"\",\"two\r\nlines\"\n",
       {{T("x,y"), T("say \"hi\""), T("two\r\nlines")}}},
      {"empty fields keep their places", ",a,,\n", {{T(""), T("a"), T(""), T("")}}},
      {"an empty line is a row without cells", "a\n\nb\n", {{T("a")}, {}, {T("b")}}},
      {"ragged rows", "a,b,c\nd\ne,f\n", {{T("a"), T("b"), T("c")}, {T("d")}, {T("e"), T("f")}}},
      {"a quote inside an unquoted field is a character", "ab\"c,d\n", {{T("ab\"c"), T("d")}}},
      {"text after a closing quote stays in the field", "\"ab\"cd,e\n", {{T("abcd"), T("e")}}},
      {"a quote left open runs to the end", "a,\"b\nc", {{T("a"), T("b\nc")}}},
      {"a formula-looking text is text", "=1+2,+A1,@x\n", {{T("=1+2"), T("+A1"), T("@x")}}},
      {"an empty text has no rows", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Show(ReadAll(DelimitedSource(c.text, ','))), Show(c.rows));
  }
  EXPECT_EQ(Show(ReadAll(DelimitedSource("a,b\tc\n", '\t'))), "[<a,b><c>]")
      << "TSV splits at tabs only";
}

TEST(Csv, WritesWhatReadsBackAndKeepsTheSourcesLayout) {
  const Row row = {T("plain"), T("com,ma"), T("qu\"ote"), T("line\nbreak"), T(""), T("=SUM(A1)")};
  DelimitedLayout layout;
  std::string out;
  AppendDelimitedRow(out, row, layout);
  EXPECT_EQ(out, "plain,\"com,ma\",\"qu\"\"ote\",\"line\nbreak\",,=SUM(A1)\r\n");
  EXPECT_EQ(Show(ReadAll(DelimitedSource(out, ','))), Show({row}));

  layout.delimiter = '\t';
  layout.lineEnd = "\n";
  out.clear();
  AppendDelimitedRow(out, {T("a,b"), T("c\td")}, layout);
  EXPECT_EQ(out, "a,b\t\"c\td\"\n") << "TSV quotes tabs, not commas";
  out.clear();
  AppendDelimitedRow(out, {T("\xEF\xBB\xBFx")}, layout);
  EXPECT_EQ(out, "\"\xEF\xBB\xBFx\"\n")
      << "a field starting with a byte-order mark is quoted, or a reader drops it";

  struct Case {
    const char* why;
    std::string bytes;
    TextEncoding encoding;
    bool bom;
    std::string lineEnd;
    bool lastEnded;
  } cases[] = {
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF姓名\r\n刘德华\r\n", TextEncoding::kUtf8, true,
       "\r\n", true},
      {"UTF-8 without one, LF", "姓名\n刘德华", TextEncoding::kUtf8, false, "\n", false},
      {"GBK, as spreadsheet programs in China save it", G("姓名\r\n刘德华\r\n"),
       TextEncoding::kGb18030, false, "\r\n", true},
      {"a line break inside quotes is not the line end (ASCII reads as GBK alike)",
       "\"a\nb\",c\r\n", TextEncoding::kGb18030, false, "\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    DelimitedSource source(c.bytes, ',');
    EXPECT_EQ(source.Layout().encoding, c.encoding);
    EXPECT_EQ(source.Layout().byteOrderMark, c.bom);
    EXPECT_EQ(source.Layout().lineEnd, c.lineEnd);
    EXPECT_EQ(source.Layout().lastLineEnded, c.lastEnded);
  }
  EXPECT_THROW(DelimitedSource(std::string("\xFF\xFE"
                                           "a\0,\0b\0",
                                           8),
                               ','),
               Error)
      << "UTF-16 is refused";
}

namespace {

// The delimited text of the file `path`, read `block` bytes at a time.
DelimitedSource FromFile(const std::string& path, size_t block,
                         size_t longestRecord = kLongestRecordBytes, char delimiter = ',') {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("cannot open " + path);
  return DelimitedSource(std::make_shared<const TableBytes>(fd, path), delimiter, block,
                         longestRecord);
}

}  // namespace

TEST(Csv, AFileReadInSmallBlocksGivesTheRowsAndLayoutOfTheWholeText) {
  const std::string longRow = "\"" + std::string(40, 'q') + "\"\"x\"\"\r\n" + std::string(30, 'y');
  const struct {
    std::string text;
    std::string lineEnd;  // the layout's
  } cases[] = {
      {"a,b\r\nc,d\r\n", "\r\n"},
      {"\xEF\xBB\xBF姓名,部门\r\n刘德华,\"销售\r\n二部\"\r\n单田芳,\"a\"\"b\"\r\n\r\n", "\r\n"},
      {G("姓名\r\n刘德华\r\n欧阳修"), "\r\n"},
      {"\"x,y\",\"say \"\"hi\"\"\",\"two\r\nlines\"\n\n\"\"\n,\n", "\n"},
      {"a\nb\rc\r\r\n\r", "\n"},                   // LF, lone CR, CR LF, a lone CR last
      {"\"quoted\nfirst\",line\rsecond\n", "\r"},  // the first line end outside quotes
      {"only\r", "\r"},
      {"ab\"c,d\n\"ab\"cd,e\r\n", "\r\n"},  // the line end looks at every quote
      {"a,\"b\nc", "\r\n"},                 // a quote left open runs to the end; no line end: CR LF
      {longRow + ",z\r\n" + longRow, "\r\n"},  // a row longer than many blocks
      {"", "\r\n"},
  };
  TempDir dir;
  for (const auto& [text, lineEnd] : cases) {
    SCOPED_TRACE(text);
    WriteFile(dir.File("t.csv"), text);
    const DelimitedSource whole(text, ',');
    const std::string expected = Show(ReadAll(whole));
    for (size_t block : {1, 2, 3, 4, 5, 7, 16, 64}) {
      SCOPED_TRACE(block);
      const DelimitedSource source = FromFile(dir.File("t.csv"), block);
      EXPECT_EQ(source.Layout().encoding, whole.Layout().encoding);
      EXPECT_EQ(source.Layout().byteOrderMark, whole.Layout().byteOrderMark);
      EXPECT_EQ(source.Layout().lineEnd, lineEnd);
      EXPECT_EQ(source.Layout().lastLineEnded, whole.Layout().lastLineEnded);
      EXPECT_EQ(Show(ReadAll(source)), expected);
      std::unique_ptr<RowReader> again = source.Rows(0);
      Row row;
      while (again->Next(row)) {
      }
      EXPECT_EQ(again->Position(), again->Size()) << "read again from the start, to the end";
    }
  }
}

TEST(Csv, ARowOverTheLimitAndAFileThatShrinksAreErrors) {
  TempDir dir;
  const std::string path = dir.File("t.csv");
  // 10 bytes at most: "0123456789" is a whole row, one more byte is over, and a quoted line
  // break makes a record of two lines that counts whole.
  WriteFile(path, "a\n0123456789\n\"01234\n56789x\"\nb\n");
  std::unique_ptr<RowReader> rows = FromFile(path, 4, 10).Rows(0);
  Row row;
  ASSERT_TRUE(rows->Next(row));
  ASSERT_TRUE(rows->Next(row));
  EXPECT_EQ(row, Row{T("0123456789")});
  try {
    rows->Next(row);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "Row 3 of \"" + path + "\" is longer than 10 bytes");
  }

  // Grown after it was opened: read as it was; shorter: an error, not a table cut short.
  std::string text;
  for (int i = 0; i < 100; ++i) text += "刘德华," + std::to_string(i) + "\r\n";
  WriteFile(path, text);
  const DelimitedSource source = FromFile(path, 16);
  WriteFile(path + ".more", text + "王伟,100\r\n");
  ASSERT_EQ(::rename((path + ".more").c_str(), path.c_str()), 0);  // a new file: the old one read
  EXPECT_EQ(ReadAll(source).size(), 100u);
  const DelimitedSource grown = FromFile(path, 16);
  std::ofstream(path, std::ios::app) << "单田芳,101\r\n";
  EXPECT_EQ(ReadAll(grown).size(), 101u);
  ASSERT_EQ(::truncate(path.c_str(), 200), 0);
  try {
    ReadAll(grown);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "\"" + path + "\" changed while it was read: it is shorter now");
  }
}

TEST(Table, ColumnChoice) {
  const std::vector<Row> staff = {{T("工号"), T("姓名"), T("部门")},
                                  {T("001"), T("刘德华"), T("销售")}};
  const std::vector<Row> english = {{T("ID"), T("Name")}, {T("1"), T("刘德华")}};
  const std::vector<Row> bare = {{T("001"), T("刘德华")}, {T("002"), T("单田芳")}};
  const std::vector<Row> oneColumn = {{T("刘德华")}, {T("单田芳")}};
  struct Case {
    const char* why;
    const std::vector<Row>& rows;
    std::string column;
    HeaderRow header;
    size_t expectColumn;
    bool expectHeader;
  } cases[] = {
      {"guessed from the header 姓名", staff, "", HeaderRow::kGuess, 1, true},
      {"guessed from the header Name", english, "", HeaderRow::kGuess, 1, true},
      {"by number", staff, "2", HeaderRow::kGuess, 1, true},
      {"by letter, either case", staff, "b", HeaderRow::kGuess, 1, true},
      {"by header text", staff, "部门", HeaderRow::kGuess, 2, true},
      {"a name in the first cell: no header row", bare, "B", HeaderRow::kGuess, 1, false},
      {"a header word in the first cell is a header", staff, "2", HeaderRow::kGuess, 1, true},
      {"--no-header", staff, "2", HeaderRow::kNone, 1, false},
      {"one column of names needs no header", oneColumn, "", HeaderRow::kGuess, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const ColumnChoice choice = ChooseNameColumn(c.rows, TextEncoding::kUtf8, c.column, c.header);
    EXPECT_EQ(choice.column, c.expectColumn);
    EXPECT_EQ(choice.header, c.expectHeader);
  }
  struct Refused {
    const char* why;
    const std::vector<Row>& rows;
    std::string column;
    std::string message;
  } refused[] = {
      {"no name header: the headers are listed", bare, "", "(A), 刘德华 (B)"},
      {"an unknown header", staff, "Dept", "its headers are 工号 (A), 姓名 (B), 部门 (C)"},
      {"past the last column", staff, "D", "lies past the table's last column, C (3)"},
      {"column 0", staff, "0", "count from 1"},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.why);
    try {
      ChooseNameColumn(r.rows, TextEncoding::kUtf8, r.column, HeaderRow::kGuess);
      ADD_FAILURE() << "no error";
    } catch (const TableChoiceError& e) {
      EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ColumnLetters(0) + ColumnLetters(25) + ColumnLetters(26) + ColumnLetters(701),
            "AZAAZZ");
  for (const char* name : {"刘德华", "单 田芳", "阿沛·阿旺晋美", "欧阳"})
    EXPECT_TRUE(LooksLikeName(name)) << name;
  for (const char* name : {"姓名", "Name", "", "刘德华1", "·刘", "刘德华刘德华刘德华"})
    EXPECT_FALSE(LooksLikeName(name)) << name;
}

class TableRun : public testing::Test {
 protected:
  void SetUp() override { CopyInstalledLists(dir_.Path()); }
  std::string Convert(const std::string& bytes, const TableOptions& table = {},
                      const ConversionOptions& options = {}, const std::string& name = "in.csv") {
    WriteFile(dir_.File(name), bytes);
    report_ = ConvertTable(lists_, dir_.File(name), dir_.File("out.csv"), options, table);
    return ReadFile(dir_.File("out.csv"));
  }
  TempDir dir_;
  ListFiles lists_{dir_.Path()};
  TableReport report_;
};

TEST_F(TableRun, EveryCellComesBackWithTheNameBesideItsColumn) {
  const std::string source =
      "\xEF\xBB\xBF工号,姓名,部门\r\n001,刘德华,\"销售, "
      "北区\"\r\n002,,\"多\r\n行\"\r\n003\r\n\r\n004,单田芳,=1+2,x\r\n";
  EXPECT_EQ(Convert(source),
            "\xEF\xBB\xBF工号,姓名,姓名 (Pinyin),部门\r\n001,刘德华,De-hua Liu,\"销售, 北区\"\r\n"
            "002,,,\"多\r\n行\"\r\n003\r\n\r\n004,单田芳,Tian-fang Shan,=1+2,x\r\n");
  EXPECT_EQ(report_.rows, 5u) << "the header is not counted";
  EXPECT_EQ(report_.rowsWithMarker, 0u);

  // GBK stays GBK, LF stays LF, a missing last line end stays missing, "???" rows are counted.
  ConversionOptions wadeGiles;
  wadeGiles.romanization = Romanization::kWadeGiles;
  EXPECT_EQ(U(Convert(G("姓名\n曾国藩\n"), {}, wadeGiles)),
            "姓名,姓名 (Wade-Giles)\n曾国藩,Kuo-fan Tseng\n");
  // A GB18030 four-byte character in another cell is carried byte for byte.
  const std::string fourBytes = "\x95\x32\x82\x36";
  EXPECT_EQ(Convert(G("姓名,备注\r\n刘德华,") + fourBytes + "\r\n"),
            G("姓名,姓名 (Pinyin),备注\r\n刘德华,De-hua Liu,") + fourBytes + "\r\n");
  TableOptions byLetter;
  byLetter.column = "A";
  EXPECT_EQ(Convert("刘德华\tx\n\xEE\x80\x80\xEE\x80\x80\ty", byLetter, {}, "in.tsv"),
            "刘德华\tDe-hua Liu\tx\n\xEE\x80\x80\xEE\x80\x80\t??? ???\ty");
  EXPECT_EQ(report_.rowsWithMarker, 1u);
  EXPECT_FALSE(report_.choice.header);
}

TEST_F(TableRun, AddedColumnsAndIndexForms) {
  TableOptions table;
  std::string unknown;
  table.added = *ParseAddedColumns("passport,citation,initials,given,surname", &unknown);
  const std::string out = Convert("name\n刘\n王伟\n单田芳\n欧阳修\n诸葛孔明\n吕小明\n", table);
  EXPECT_EQ(out,
            "name,name (Pinyin),name (Surname),name (Given name),name (Initials),name "
            "(Citation),name (Passport)\n"
            "刘,Liu,Liu,,Liu,Liu,LIU\n"
            "王伟,Wei Wang,Wang,Wei,Wang W,\"Wang, W.\",WANG WEI\n"
            "单田芳,Tian-fang Shan,Shan,Tian-fang,Shan TF,\"Shan, T.-F.\",SHAN TIANFANG\n"
            "欧阳修,Xiu Ouyang,Ouyang,Xiu,Ouyang X,\"Ouyang, X.\",OUYANG XIU\n"
            "诸葛孔明,Kong-ming Zhuge,Zhuge,Kong-ming,Zhuge KM,\"Zhuge, K.-M.\",ZHUGE KONGMING\n"
            "吕小明,Xiao-ming Lv,Lv,Xiao-ming,Lv XM,\"Lv, X.-M.\",LYU XIAOMING\n")
      << "one-, two- and three-character names, compound surnames, the columns in their fixed "
         "order";
  EXPECT_FALSE(ParseAddedColumns("surname,middle", &unknown));
  EXPECT_EQ(unknown, "middle");

  ConversionOptions wadeGiles;
  wadeGiles.romanization = Romanization::kWadeGiles;
  wadeGiles.separator = Separator::kSpace;
  table.added = Bit(AddedColumn::kInitials);
  table.style = NameStyle::kCitation;
  EXPECT_EQ(Convert("姓名\n曾国藩\n", table, wadeGiles),
            "姓名,姓名 (Wade-Giles),姓名 (Initials)\n曾国藩,\"Tseng, K. F.\",Tseng KF\n");
}

TEST_F(TableRun, ReviewColumnHoldsTheFlagTextInTheTablesEncoding) {
  TableOptions table;
  table.added = Bit(AddedColumn::kReview) | Bit(AddedColumn::kSurname);
  const std::string flag = "参: can / cen / shen (rare in given names) — or Cen Zeng · Shen Zeng";
  EXPECT_EQ(Convert("姓名,备注\n曾参,x\n王伟,y\n,z\n", table),
            "姓名,姓名 (Pinyin),姓名 (Surname),姓名 (Review),备注\n曾参,Can Zeng,Zeng," + flag +
                ",x\n王伟,Wei Wang,Wang,,y\n,,,,z\n")
      << "after the other added columns; empty for a name with nothing to check and for an empty "
         "cell";
  EXPECT_EQ(Convert(G("姓名\r\n曾参\r\n"), table),
            G("姓名,姓名 (Pinyin),姓名 (Surname),姓名 (Review)\r\n曾参,Can Zeng,Zeng,") + G(flag) +
                "\r\n")
      << "a GBK table gets the flag text in GB18030";
}

TEST_F(TableRun, ATargetIsWholeOrNotWritten) {
  WriteFile(dir_.File("in.csv"), "姓名\n刘德华\n单田芳\n");
  WriteFile(dir_.File("out.csv"), "the old table\n");
  // A cancel at the first progress report, and a column that is not there.
  EXPECT_THROW(ConvertTable(lists_, dir_.File("in.csv"), dir_.File("out.csv"), {}, {},
                            [](size_t, size_t) { throw ConversionCancelled(); }),
               ConversionCancelled);
  TableOptions missing;
  missing.column = "Z";
  EXPECT_THROW(ConvertTable(lists_, dir_.File("in.csv"), dir_.File("out.csv"), {}, missing),
               TableChoiceError);
  EXPECT_EQ(ReadFile(dir_.File("out.csv")), "the old table\n");
  EXPECT_EQ(FolderContents(dir_.Path()).size(), static_cast<size_t>(kListCount) + 2)
      << "the lists, the source and the old target: no temporary";

  ConvertTable(lists_, dir_.File("in.csv"), dir_.File("in.csv"), {}, {});
  EXPECT_EQ(ReadFile(dir_.File("in.csv")),
            "姓名,姓名 (Pinyin)\n刘德华,De-hua Liu\n单田芳,Tian-fang Shan\n")
      << "a table converted onto itself";
}

TEST_F(TableRun, WorkbooksKeepValuesAndEverySheet) {
  {
    XlsxWriter book(dir_.File("staff.xlsx"));
    book.AddSheet("名单");
    book.Write({T("工号"), T("姓名"), T("入职"), T("在职")});
    book.Write({N("1001"), T("刘德华"), N("45123.5"), {CellType::kBoolean, "1"}});
    book.Write({});
    book.Write({N("1002"), T(""), T("=A2*2")});
    book.Write({N("0.125"), T("单田芳"), {CellType::kError, "#N/A"}});
    book.AddSheet("Notes");
    book.Write({T("x"), T(""), N("-3E-7")});
    book.Close();
  }
  XlsxSource source(ReadFile(dir_.File("staff.xlsx")));
  ASSERT_EQ(source.SheetNames(), (std::vector<std::string>{"名单", "Notes"}));
  const std::vector<Row> rows = ReadAll(source);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1], (Row{N("1001"), T("刘德华"), N("45123.5"), {CellType::kBoolean, "1"}}));
  EXPECT_EQ(rows[2], Row{}) << "an empty row stays a row";
  EXPECT_EQ(rows[3], (Row{N("1002"), {}, T("=A2*2")})) << "formula-looking text stays text";
  EXPECT_EQ(rows[4][2], T("#N/A")) << "an error value comes back as its text";
  EXPECT_EQ(ReadAll(source, 1), (std::vector<Row>{{T("x"), {}, N("-3E-07")}}));

  TableOptions table;
  table.added = Bit(AddedColumn::kInitials);
  report_ = ConvertTable(lists_, dir_.File("staff.xlsx"), dir_.File("staff_en.xlsx"), {}, table);
  EXPECT_EQ(report_.rows, 4u);
  XlsxSource result(ReadFile(dir_.File("staff_en.xlsx")));
  EXPECT_EQ(result.SheetNames(), source.SheetNames());
  const std::vector<Row> converted = ReadAll(result);
  ASSERT_EQ(converted.size(), 5u);
  EXPECT_EQ(converted[0], (Row{T("工号"), T("姓名"), T("姓名 (Pinyin)"), T("姓名 (Initials)"),
                               T("入职"), T("在职")}));
  EXPECT_EQ(converted[1], (Row{N("1001"),
                               T("刘德华"),
                               T("De-hua Liu"),
                               T("Liu DH"),
                               N("45123.5"),
                               {CellType::kBoolean, "1"}}));
  EXPECT_EQ(converted[3], (Row{N("1002"), {}, {}, {}, T("=A2*2")}));
  EXPECT_EQ(ReadAll(result, 1), ReadAll(source, 1)) << "the other sheet's values";

  table.sheet = "Notes";
  table.column = "A";
  EXPECT_NO_THROW(
      ConvertTable(lists_, dir_.File("staff.xlsx"), dir_.File("notes.xlsx"), {}, table));
  table.sheet = "Missing";
  try {
    ConvertTable(lists_, dir_.File("staff.xlsx"), dir_.File("x.xlsx"), {}, table);
    ADD_FAILURE();
  } catch (const TableChoiceError& e) {
    EXPECT_NE(std::string(e.what()).find("the sheets are 名单, Notes"), std::string::npos)
        << e.what();
  }
  WriteFile(dir_.File("bad.xlsx"), "not a zip");
  EXPECT_THROW(ConvertTable(lists_, dir_.File("bad.xlsx"), dir_.File("x.xlsx"), {}, {}), Error);
  EXPECT_FALSE(PathExists(dir_.File("x.xlsx")));
}

TEST_F(TableRun, AWorkbookFromStandardInputIntoADescriptorIsTheOneFilesGive) {
  // Numbers of 15 random digits, so the workbook made for the stream is several copy blocks long.
  {
    XlsxWriter book(dir_.File("big.xlsx"));
    book.AddSheet("名单");
    book.Write({T("姓名"), T("a"), T("b"), T("c"), T("d")});
    uint64_t x = 88172645463325252u;
    auto digits = [&] {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      return N(std::to_string(100000000000000u + x % 900000000000000u));
    };
    for (int i = 0; i < 40000; ++i)
      book.Write({T(i % 2 ? "刘德华" : "欧阳修"), digits(), digits(), digits(), digits()});
    book.Close();
  }
  TableOptions table;
  table.format = TableFormat::kXlsx;
  ConvertTable(lists_, dir_.File("big.xlsx"), dir_.File("files.xlsx"), {}, table);

  const int savedInput = ::dup(STDIN_FILENO);
  const int input = ::open(dir_.File("big.xlsx").c_str(), O_RDONLY);
  ASSERT_EQ(::dup2(input, STDIN_FILENO), STDIN_FILENO);
  ::close(input);
  const int out = ::open(dir_.File("streamed.xlsx").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  EXPECT_NO_THROW(
      ConvertTable(lists_, kStandardStream, "/dev/fd/" + std::to_string(out), {}, table));
  ::dup2(savedInput, STDIN_FILENO);
  ::close(savedInput);
  ::close(out);
  ASSERT_GT(ReadFile(dir_.File("streamed.xlsx")).size(), 2 * kOutputBlockBytes);
  const std::vector<Row> rows = ReadAll(XlsxSource(ReadFile(dir_.File("streamed.xlsx"))));
  EXPECT_EQ(rows.size(), 40001u);
  EXPECT_TRUE(rows == ReadAll(XlsxSource(ReadFile(dir_.File("files.xlsx")))));
}

TEST_F(TableRun, AChosenAlternativeRewritesTheRowsRomanizedCellOnly) {
  // The run hands each flagged row's number, name and output over; the rewrite finds that cell.
  struct Case {
    const char* why;
    std::string source, name;
    TableFormat format;
    const char* expected;  // the output as the run gave it, GBK
    const char* replacement;
  } cases[] = {
      {"UTF-8 with a byte-order mark, LF, a quoted cell, no last line end",
       "\xEF\xBB\xBF工号,姓名,部门\n001,刘德华,\"销售, 北区\"\n002,曾参,研发", "in.csv",
       TableFormat::kCsv, "Can Zeng", "Shen Zeng"},
      {"GBK, tabs, CR LF", G("姓名\t备注\r\n曾参\tx\r\n乐嘉\ty\r\n"), "in.tsv", TableFormat::kTsv,
       "Can Zeng", "Shen Zeng"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    WriteFile(dir_.File(c.name), c.source);
    std::vector<std::pair<size_t, std::string>> seen;
    report_ = ConvertTable(lists_, dir_.File(c.name), dir_.File(c.name + ".out"), {}, {}, {},
                           [&](size_t number, std::string_view, std::string_view output) {
                             seen.emplace_back(number, std::string(output));
                           });
    const std::string before = ReadFile(dir_.File(c.name + ".out"));
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(seen[1].first, 3u) << "the row in the sheet, the header counted";
    const size_t row = seen[0].second == c.expected ? seen[0].first : seen[1].first;
    TableCellPlace place{c.format, "", report_.choice.column, row};
    RewriteTableName(dir_.File(c.name + ".out"), place, c.expected, c.replacement);
    std::string after = before;
    after.replace(after.find(c.expected), std::string_view(c.expected).size(), c.replacement);
    EXPECT_EQ(ReadFile(dir_.File(c.name + ".out")), after) << "only that cell changed";

    // Refused, the table left as it was: the cell reads something else now, or no such row.
    EXPECT_THROW(RewriteTableName(dir_.File(c.name + ".out"), place, c.expected, "x"), Error);
    place.row = 99;
    EXPECT_THROW(RewriteTableName(dir_.File(c.name + ".out"), place, c.replacement, "x"), Error);
    EXPECT_EQ(ReadFile(dir_.File(c.name + ".out")), after);
  }

  {
    XlsxWriter book(dir_.File("staff.xlsx"));
    book.AddSheet("Notes");
    book.Write({T("x"), N("2.5")});
    book.AddSheet("名单");
    book.Write({T("工号"), T("姓名"), T("入职")});
    book.Write({N("1001"), T("曾参"), N("45123.5")});
    book.Close();
  }
  TableOptions second;
  second.sheet = "名单";
  report_ = ConvertTable(lists_, dir_.File("staff.xlsx"), dir_.File("staff_en.xlsx"), {}, second);
  RewriteTableName(dir_.File("staff_en.xlsx"),
                   {TableFormat::kXlsx, "名单", report_.choice.column, 2}, "Can Zeng", "Shen Zeng");
  XlsxSource result(ReadFile(dir_.File("staff_en.xlsx")));
  EXPECT_EQ(result.SheetNames(), (std::vector<std::string>{"Notes", "名单"}));
  EXPECT_EQ(ReadAll(result, 1),
            (std::vector<Row>{{T("工号"), T("姓名"), T("姓名 (Pinyin)"), T("入职")},
                              {N("1001"), T("曾参"), T("Shen Zeng"), N("45123.5")}}));
  EXPECT_EQ(ReadAll(result, 0), (std::vector<Row>{{T("x"), N("2.5")}})) << "the other sheet";
}

TEST(Table, NameCellsConvertToGbkAsWholeTextsDo) {
  Utf8ToGb18030Converter converter;
  std::string gbk;
  for (std::string text :
       {"刘德华", "ab 欧阳·修", "\xF0\xAA\x9A\xA5x", "bad \xE5\x88 byte", "\xFF\xFE", "", "ü"}) {
    converter.Convert(text, gbk);
    EXPECT_EQ(gbk, Utf8ToGb18030(text)) << text;
  }
}

namespace {

// A workbook of one sheet "S" made from its XML parts, as other programs write them.
void MakeWorkbook(const std::string& path, const std::string& sheetData,
                  const std::string& sharedStrings, const std::string& styles = "") {
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::vector<std::pair<std::string, std::string>> parts = {
      {"xl/workbook.xml",
       "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
           "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"" +
           rel +
           "/worksheet\" Target=\"/xl/worksheets/s.xml\"/>"
           "<Relationship Id=\"rId2\" Type=\"" +
           rel +
           "/sharedStrings\" Target=\"strings.xml\"/>"
           "<Relationship Id=\"rId3\" Type=\"" +
           rel + "/styles\" Target=\"styles.xml\"/></Relationships>"},
      {"xl/styles.xml", "<styleSheet xmlns=\"" + main + "\">" + styles + "</styleSheet>"},
      {"xl/worksheets/s.xml",
       "<worksheet xmlns=\"" + main + "\"><sheetData>" + sheetData + "</sheetData></worksheet>"},
      {"xl/strings.xml", "<sst xmlns=\"" + main + "\">" + sharedStrings + "</sst>"},
  };
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_TRUE(zip);
  for (const auto& [name, text] : parts) {
    zip_source_t* source = zip_source_buffer(zip, text.data(), text.size(), 0);
    ASSERT_GE(zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0);
  }
  ASSERT_EQ(zip_close(zip), 0);
}

}  // namespace

TEST(Xlsx, ReadsWhatOtherProgramsWrite) {
  TempDir dir;
  const std::string path = dir.File("w.xlsx");
  // Rich text runs joined, a phonetic guide left out, Excel's _xHHHH_ escapes undone, rows and
  // cells the file leaves out filled in, a formula's last value kept, inline strings, booleans.
  MakeWorkbook(
      path,
      "<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c><c r=\"D2\" t=\"s\"><v>1</v></c></row>"
      "<row r=\"4\"><c r=\"A4\"><f>1+1</f><v>2</v></c><c t=\"inlineStr\"><is><t>行内</t></is></c>"
      "<c t=\"b\"><v>1</v></c><c t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c></row>",
      "<si><r><t>刘</t></r><r><t xml:space=\"preserve\">德华 </t></r><rPh><t>リュウ</t></rPh></si>"
      "<si><t>a_x000D_b_x005F_</t></si>");
  const std::vector<Row> rows = ReadAll(XlsxSource(ReadFile(path)));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], Row{});
  EXPECT_EQ(rows[1], (Row{{}, T("刘德华 "), {}, T("a\rb_")}));
  EXPECT_EQ(rows[2], Row{});
  EXPECT_EQ(rows[3], (Row{N("2"), T("行内"), {CellType::kBoolean, "1"}, T("ab")}));

  struct Bad {
    const char* why;
    std::string sheet;
    std::string message;
  } bad[] = {
      {"a row past the last a sheet has", "<row r=\"1048577\"><c><v>1</v></c></row>",
       "(row 1048577)"},
      {"a cell past the last column", "<row><c r=\"AAAA1\"><v>1</v></c></row>", "(cell AAAA1)"},
      {"broken XML", "<row><c><v>1</c></row>", "mismatched tag"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.why);
    MakeWorkbook(path, b.sheet, "");
    try {
      ReadAll(XlsxSource(ReadFile(path)));
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
    }
  }
}

TEST(Xlsx, NumbersKeepTheirNumberFormats) {
  TempDir dir;
  // Style 1 a built-in date format, style 2 a format of the file's own; the xf of cellStyleXfs
  // is no cell style.
  MakeWorkbook(
      dir.File("d.xlsx"),
      "<row><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"1\"><v>45123</v></c>"
      "<c r=\"C1\" s=\"2\"><v>0.25</v></c><c r=\"D1\"><v>7</v></c></row>",
      "<si><t>刘德华</t></si>",
      "<numFmts count=\"1\"><numFmt numFmtId=\"170\" formatCode=\"0.0%\"/></numFmts>"
      "<cellStyleXfs><xf numFmtId=\"99\"/></cellStyleXfs>"
      "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"170\"/></cellXfs>");
  const XlsxSource source(ReadFile(dir.File("d.xlsx")));
  const std::vector<Row> rows = ReadAll(source);
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 4u);
  EXPECT_EQ(rows[0][1].numberFormat, 14);
  EXPECT_EQ(rows[0][2].numberFormat, 170);
  EXPECT_EQ(rows[0][3].numberFormat, 0);
  EXPECT_EQ(source.NumberFormats().at(170), "0.0%");

  TempDir data;
  CopyInstalledLists(data.Path());
  ListFiles lists(data.Path());
  TableOptions table;
  table.column = "A";
  ConvertTable(lists, dir.File("d.xlsx"), dir.File("d_en.xlsx"), {}, table);
  const XlsxSource result(ReadFile(dir.File("d_en.xlsx")));
  const std::vector<Row> converted = ReadAll(result);
  ASSERT_EQ(converted.size(), 1u);
  ASSERT_EQ(converted[0].size(), 5u);
  EXPECT_EQ(converted[0][1], T("De-hua Liu"));
  EXPECT_EQ(converted[0][2].numberFormat, 14) << "a date stays a date";
  const int percent = converted[0][3].numberFormat;
  ASSERT_GE(percent, 164);
  EXPECT_EQ(result.NumberFormats().at(percent), "0.0%");
  EXPECT_EQ(converted[0][4], N("7"));
}

// The two dictionary editor windows, driven headless through their controls, with the platform
// dialogs replaced by a recording fake.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "DictionaryEditor.h"
#include "FakeDialogs.h"
#include "FaultSeams.h"
#include "NameRomanizer.h"
#include "Paths.h"
#include "ReadingLookup.h"
#include "TestSupport.h"

namespace {

using quorvel::ListFiles;
using quorvel::test::CrLf;
using quorvel::test::G;
using quorvel::test::ReadFile;
using quorvel::test::TempDir;
using quorvel::test::WriteFile;
using Kind = RecordingDialogs::Kind;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

using quorvel::test::FolderContents;

struct WindowKind {
  const char* name;
  quorvel::CustomDictionary::Kind kind;
  const char* keyFile;
  const char* readingFile;
};

const WindowKind kWindows[] = {
    {"pinyin", quorvel::CustomDictionary::Kind::kStandard, "define_han.dll", "define_py.dll"},
    {"Wade-Giles", quorvel::CustomDictionary::Kind::kWadeGiles, "define_wei_han.dll",
     "define_wei_py.dll"},
};

class DictionaryEditorTest : public ::testing::Test {
 protected:
  void SetUp() override { data_.Load(); }
  void TearDown() override {
    quorvel::PlantReplaceFailure(0, 0);
    EXPECT_TRUE(dialogs_.Take().empty()) << "dialogs left unchecked";
  }

  // Creates the window as the program does (after the lists are loaded) and shows it.
  DictionaryEditor& Open(const WindowKind& kind = kWindows[0]) {
    kind_ = &kind;
    window_ = std::make_unique<DictionaryEditor>(data_, kind.kind);
    window_->show();
    return *window_;
  }
  const DictionaryEditorControls& C() { return window_->Controls(); }

  void Seed(const std::vector<std::string>& keys, const std::vector<std::string>& readings) {
    WriteFile(KeyPath(), CrLf(keys));
    WriteFile(ReadingPath(), CrLf(readings));
    data_.Load();
  }
  std::string KeyPath() const { return dir_.File(kind_->keyFile); }
  std::string ReadingPath() const { return dir_.File(kind_->readingFile); }
  std::string Keys() const { return ReadFile(KeyPath()); }
  std::string Readings() const { return ReadFile(ReadingPath()); }

  QStringList ListLines() {
    QStringList lines;
    for (int i = 0; i < C().entryList->count(); ++i) lines << C().entryList->item(i)->text();
    return lines;
  }
  int Selected() {
    auto items = C().entryList->selectedItems();
    return items.isEmpty() ? -1 : C().entryList->row(items.front());
  }
  void Fill(const QString& key, const QString& reading) {
    C().keyEdit->setText(key);
    C().readingEdit->setText(reading);
  }
  // Selects a line with the mouse, as the user does.
  void ClickLine(int line) {
    QListWidget* list = C().entryList;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(line)).center());
  }

  TempDir dir_;
  ListFiles data_{dir_.Path()};
  RecordingDialogs dialogs_;
  const WindowKind* kind_ = &kWindows[0];
  std::unique_ptr<DictionaryEditor> window_;
};

TEST_F(DictionaryEditorTest, AddingToAnEmptyDictionaryCreatesBothFilesAndSelectsTheLine) {
  for (const auto& kind : kWindows) {
    SCOPED_TRACE(kind.name);
    Open(kind);
    // The example stands in the fields as placeholder text only: Enter and the button store
    // nothing while they are empty.
    EXPECT_EQ(C().keyEdit->text(), QString());
    EXPECT_EQ(C().readingEdit->text(), QString());
    EXPECT_EQ(C().keyEdit->placeholderText(), Q("字"));
    EXPECT_EQ(C().readingEdit->placeholderText(), Q("Zi"));
    QTest::keyClick(C().keyEdit, Qt::Key_Return);
    QTest::keyClick(C().readingEdit, Qt::Key_Return);
    C().readingEdit->setText(Q("Zi"));
    QTest::keyClick(C().readingEdit, Qt::Key_Return);
    C().keyEdit->setText(Q("  "));
    C().addButton->click();
    EXPECT_EQ(C().entryList->count(), 0);
    EXPECT_FALSE(quorvel::PathExists(KeyPath()));
    EXPECT_FALSE(quorvel::PathExists(ReadingPath()));

    Fill(Q("字"), Q("Zi"));
    C().addButton->click();
    EXPECT_EQ(Keys(), G("字") + "\r\n");
    EXPECT_EQ(Readings(), "Zi\r\n");
    EXPECT_EQ(ListLines(), QStringList{Q("字 Zi")});
    EXPECT_EQ(Selected(), 0);
    // Selecting the new line does not count as the user's click: the fields stay as typed.
    EXPECT_EQ(C().readingEdit->text(), Q("Zi"));
  }
  // Each window wrote its own pair only.
  EXPECT_EQ(FolderContents(dir_.Path()),
            (std::set<std::string>{"define_han.dll", "define_py.dll", "define_wei_han.dll",
                                   "define_wei_py.dll"}));
}

TEST_F(DictionaryEditorTest, ClickingALineFillsBothFieldsAndTypingAKeyEmptiesTheReading) {
  Seed({G("张"), G("欧阳")}, {"Cheung", "Au-Yeung"});
  Open();
  EXPECT_EQ(ListLines(), (QStringList{Q("张 Cheung"), Q("欧阳 Au-Yeung")}));
  ClickLine(1);
  EXPECT_EQ(C().keyEdit->text(), Q("欧阳"));
  EXPECT_EQ(C().readingEdit->text(), Q("Au-Yeung"));
  // The keyboard moves the selection the same way.
  QTest::keyClick(C().entryList, Qt::Key_Up);
  EXPECT_EQ(C().keyEdit->text(), Q("张"));
  EXPECT_EQ(C().readingEdit->text(), Q("Cheung"));

  QTest::keyClick(C().keyEdit, Qt::Key_End);
  QTest::keyClick(C().keyEdit, Qt::Key_Backspace);
  EXPECT_EQ(C().readingEdit->text(), QString());

  // Clicking the line already selected brings its entry back.
  C().readingEdit->setText("x");
  ClickLine(0);
  EXPECT_EQ(C().keyEdit->text(), Q("张"));
  EXPECT_EQ(C().readingEdit->text(), Q("Cheung"));
}

TEST_F(DictionaryEditorTest, AnExistingKeyIsUpdatedInPlaceAndAChangedKeyIsAppended) {
  Seed({G("张"), G("李"), G("王")}, {"zhang", "li", "wang"});
  Open();
  ClickLine(1);
  C().readingEdit->setText("Lee");
  C().addButton->click();
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee", "wang"}));
  EXPECT_EQ(ListLines(), (QStringList{Q("张 zhang"), Q("李 Lee"), Q("王 wang")}));
  EXPECT_EQ(Selected(), 1);

  // Changing the key of the selected entry adds a new one; the old one stays as it was.
  C().keyEdit->setText(Q("黎"));
  C().readingEdit->setText("Lai");
  C().addButton->click();
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王"), G("黎")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee", "wang", "Lai"}));
  EXPECT_EQ(Selected(), 3);
}

TEST_F(DictionaryEditorTest, StoredTextIsTrimmedWhileTheFieldsKeepTheirSpaces) {
  struct Case {
    const char* why;
    const char* key;
    const char* reading;
    std::string storedReading;
    const char* line;
  };
  const Case cases[] = {
      {"spaces around key and reading", " 字 ", "  Zi  ", "Zi", "字 Zi"},
      {"an empty reading, confirmed: the line is the key and one space", "字", "   ", "", "字 "},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Fill(Q(c.key), Q(c.reading));
    if (c.storedReading.empty()) dialogs_.AnswerConfirm(true);
    C().addButton->click();
    if (c.storedReading.empty()) {
      EXPECT_EQ(dialogs_.Take(), (std::vector<RecordingDialogs::Call>{
                                     {Kind::kConfirm, Q("拼音是空的。确认要保存没有拼音的“字”吗？"),
                                      PlatformDialogs::Answer::kNo}}));
    }
    EXPECT_EQ(Keys(), G("字") + "\r\n");
    EXPECT_EQ(Readings(), c.storedReading + "\r\n");
    EXPECT_EQ(ListLines(), QStringList{Q(c.line)});
    EXPECT_EQ(C().keyEdit->text(), Q(c.key));
    EXPECT_EQ(C().readingEdit->text(), Q(c.reading));
  }
}

TEST_F(DictionaryEditorTest, DeletingAsksFirstAndTheOnlyEntryLeavesTwoEmptyFiles) {
  Seed({G("字")}, {"Zi"});
  Open();
  // Nothing selected: nothing asked, nothing done.
  C().deleteButton->click();
  EXPECT_TRUE(dialogs_.Take().empty());

  ClickLine(0);
  dialogs_.AnswerConfirm(false);
  C().deleteButton->click();
  const std::vector<RecordingDialogs::Call> question{
      {Kind::kConfirm, Q("确认要删除  字 Zi  吗？"), PlatformDialogs::Answer::kNo}};
  EXPECT_EQ(dialogs_.Take(), question);
  EXPECT_EQ(Keys(), G("字") + "\r\n");
  EXPECT_EQ(ListLines().size(), 1);

  dialogs_.AnswerConfirm(true);
  C().deleteButton->click();
  EXPECT_EQ(dialogs_.Take(), question);
  EXPECT_EQ(Keys(), "");
  EXPECT_EQ(Readings(), "");
  EXPECT_TRUE(ListLines().isEmpty());
  EXPECT_EQ(C().keyEdit->text(), Q("字"));  // the fields keep their text
  EXPECT_EQ(C().readingEdit->text(), Q("Zi"));
}

TEST_F(DictionaryEditorTest, ClearingEmptiesBothFilesAfterConfirmationAndTheNextAddFillsThem) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  const RecordingDialogs::Call question{Kind::kConfirm, Q("确认要清空所有自定义拼音吗？"),
                                        PlatformDialogs::Answer::kNo};
  dialogs_.AnswerConfirm(false);
  C().clearButton->click();
  EXPECT_EQ(dialogs_.Take(), std::vector{question});
  EXPECT_EQ(ListLines().size(), 2);
  EXPECT_TRUE(quorvel::PathExists(KeyPath()));

  dialogs_.AnswerConfirm(true);
  C().clearButton->click();
  EXPECT_EQ(dialogs_.Take(), std::vector{question});
  EXPECT_EQ(Keys(), "") << "an empty pair: a cleared dictionary stays cleared";
  EXPECT_EQ(Readings(), "");
  EXPECT_TRUE(ListLines().isEmpty());

  Fill(Q("字"), Q("Zi"));
  C().addButton->click();
  EXPECT_EQ(Keys(), G("字") + "\r\n");
  EXPECT_EQ(Readings(), "Zi\r\n");
}

TEST_F(DictionaryEditorTest, SearchTrimsTheKeyAndTheFirstEntryWins) {
  Seed({G("单"), G("李"), G("单")}, {"dan", "li", "chan"});
  Open();
  C().keyEdit->setText(Q(" 单 "));
  C().searchButton->click();
  EXPECT_EQ(Selected(), 0);
  EXPECT_EQ(C().readingEdit->text(), Q("dan"));
  EXPECT_EQ(C().keyEdit->text(), Q(" 单 "));  // selecting by search is no click on the line

  // Add updates every entry of the key and selects the later one.
  C().readingEdit->setText("shan");
  C().addButton->click();
  EXPECT_EQ(Readings(), CrLf({"shan", "li", "shan"}));
  EXPECT_EQ(Selected(), 2);
  C().searchButton->click();
  EXPECT_EQ(Selected(), 0);

  // Not found: the message carries the field's text as typed, spaces included.
  C().keyEdit->setText(Q(" 王"));
  C().readingEdit->setText("wang");
  C().searchButton->click();
  EXPECT_EQ(dialogs_.Take(),
            (std::vector<RecordingDialogs::Call>{{Kind::kMessage, Q("没有找到：   王")}}));
  EXPECT_EQ(C().readingEdit->text(), QString());
}

TEST_F(DictionaryEditorTest, ResizingChangesOnlyTheListHeight) {
  for (const auto& kind : kWindows) {
    SCOPED_TRACE(kind.name);
    DictionaryEditor& w = Open(kind);
    QCoreApplication::processEvents();
    std::map<QString, QRect> before;
    QListWidget* list = C().entryList;
    QList<QWidget*> controls;
    for (auto* child : w.findChildren<QWidget*>())
      if ((child == list || !list->isAncestorOf(child)) && !child->objectName().startsWith("qt_") &&
          !child->isWindow())
        controls << child;
    QStringList names;
    for (auto* child : controls) names << child->objectName();
    // 4 labels, group box, 2 fields, 4 buttons, list, the menu bar
    ASSERT_EQ(controls.size(), 13) << names.join(' ').toStdString();
    for (auto* child : controls) before[child->objectName()] = child->geometry();
    EXPECT_EQ(list->geometry().bottom() + 1, w.height() - 16)
        << "list bottom 16 px above the client edge";

    w.resize(w.width() + 40, w.height() + 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(list->geometry().bottom() + 1, w.height() - 16);
    for (auto* child : controls) {
      if (child == list) continue;
      if (child->objectName() == "menuBar") {  // spans the window's width
        EXPECT_EQ(child->geometry(), QRect(0, 0, w.width(), before["menuBar"].height()));
        continue;
      }
      EXPECT_EQ(child->geometry(), before[child->objectName()])
          << child->objectName().toStdString();
    }
    EXPECT_EQ(list->pos(), before[list->objectName()].topLeft());
    EXPECT_EQ(list->width(), before[list->objectName()].width());
  }
}

TEST_F(DictionaryEditorTest, TheNextConversionUsesAReadingAddedInTheWindow) {
  quorvel::ConversionOptions options;
  options.format = quorvel::NameFormat::kSurnameGiven;  // "liu dehua"
  const std::string before = quorvel::RomanizeName(data_, G("司马光"), options);
  Open();
  Fill(Q("司马"), "sima");
  C().addButton->click();
  EXPECT_NE(before, "sima guang");
  EXPECT_EQ(quorvel::RomanizeName(data_, G("司马光"), options), "sima guang");

  // A character outside GBK: four bytes in the file, shown as typed, used at once.
  Fill(Q("𠇔"), "zu");
  C().addButton->click();
  EXPECT_EQ(Keys(), CrLf({G("司马"), "\x95\x32\xB1\x34"}));
  EXPECT_EQ(ListLines().last(), Q("𠇔 zu"));
  EXPECT_EQ(quorvel::RomanizeName(data_, G("𠇔明"), options), "zu ming");

  Open(kWindows[1]);
  Fill(Q("张"), "Cheung");
  C().addButton->click();
  data_.Refresh();
  EXPECT_EQ(quorvel::ReadingOf(data_, G("张"),
                               {quorvel::Readings::kFirst, quorvel::Romanization::kWadeGiles}),
            "Cheung");
}

TEST_F(DictionaryEditorTest, TheKeyFieldTakesAtMostTwoCharactersTypedOrPasted) {
  Open();
  QLineEdit* han = C().keyEdit;
  struct Case {
    const char* why;
    const char* start;
    int cursor;
    const char* pasted;
    const char* result;
  };
  const Case cases[] = {
      {"a long paste keeps the characters that fit", "", 0, "张三李四", "张三"},
      {"ASCII letters are characters too", "", 0, "ab张三", "ab"},
      {"a character outside the BMP (two UTF-16 units) is one", "张", 1, "𠇔李", "张𠇔"},
      {"pasting into the middle cuts the pasted text, not the old", "张三", 1, "李", "张三"},
      {"pasting into the middle where it fits", "张", 0, "李a", "李张"},
      {"a paste that starts like the old text", "张", 0, "张李四", "张张"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    han->setText(Q(c.start));
    han->setCursorPosition(c.cursor);
    QGuiApplication::clipboard()->setText(Q(c.pasted));
    han->paste();
    EXPECT_EQ(han->text(), Q(c.result));
  }

  han->clear();
  QTest::keyClicks(han, "abcdef");
  EXPECT_EQ(han->text(), Q("ab"));

  // A longer key stored by another program is shown whole when its line is clicked, and can be
  // shortened but not lengthened.
  Seed({G("诸葛亮")}, {"zhugeliang"});
  window_->hide();
  window_->show();
  ClickLine(0);
  EXPECT_EQ(han->text(), Q("诸葛亮"));
  QTest::keyClick(han, Qt::Key_End);
  QTest::keyClicks(han, "x");
  EXPECT_EQ(han->text(), Q("诸葛亮"));
  EXPECT_EQ(C().readingEdit->text(), Q("zhugeliang")) << "a refused key is no change of the text";
  QTest::keyClick(han, Qt::Key_Backspace);
  EXPECT_EQ(han->text(), Q("诸葛"));
}

TEST_F(DictionaryEditorTest, TextThatCannotBeStoredIsRefusedWithAMessage) {
  struct Case {
    const char* why;
    const char* key;
    const char* reading;
    const char* named;  // what the message must point at
  };
  const Case cases[] = {
      {"a key iconv gives no GB18030 code", "\uE78D", "Zi", "\uE78D"},
      {"nor a reading", "字", "Zi\uE78D", "\uE78D"},
      {"a pasted reading of two lines", "字", "zhang\nli", "换行"},
      {"a pasted key of two lines", "a\rb", "Zi", "换行"},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Fill(Q(c.key), Q(c.reading));
    C().addButton->click();
    auto shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::kMessage);
    EXPECT_TRUE(shown[0].text.contains(Q(c.named))) << shown[0].text.toStdString();
  }
  EXPECT_TRUE(FolderContents(dir_.Path()).empty());

  // Line breaks at the ends, as a cell copied from a spreadsheet brings them, are only trimmed.
  Fill(Q("字"), "Zi\r\n");
  C().addButton->click();
  EXPECT_EQ(Readings(), "Zi\r\n");
}

TEST_F(DictionaryEditorTest, AFailedWriteShowsTheErrorAndLeavesFilesAndListAsTheyWere) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  ClickLine(1);
  const QStringList lines = ListLines();
  const auto folder = FolderContents(dir_.Path());

  struct Case {
    const char* why;
    int step;
    int error;
    std::string shown;
    std::function<void()> act;
  };
  const std::string keyFile = "\"" + KeyPath() + "\"", readingFile = "\"" + ReadingPath() + "\"";
  const Case cases[] = {
      {"update, disk full on the second temporary", 2, ENOSPC, "Disk full: " + readingFile,
       [&] {
         Fill(Q("李"), "Lee");
         C().addButton->click();
       }},
      {"append, read-only when renaming", 3, EROFS,
       "File access denied (Read-only file system): " + readingFile,
       [&] {
         Fill(Q("王"), "wang");
         C().addButton->click();
       }},
      {"delete, disk full on the first temporary", 1, ENOSPC, "Disk full: " + keyFile,
       [&] {
         dialogs_.AnswerConfirm(true);
         C().deleteButton->click();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    quorvel::PlantReplaceFailure(c.step, c.error);
    c.act();
    quorvel::PlantReplaceFailure(0, 0);
    auto shown = dialogs_.Take();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(),
              (RecordingDialogs::Call{Kind::kError, QString::fromStdString(c.shown)}));
    EXPECT_EQ(Keys(), CrLf({G("张"), G("李")}));
    EXPECT_EQ(Readings(), CrLf({"zhang", "li"}));
    EXPECT_EQ(FolderContents(dir_.Path()), folder);
    EXPECT_EQ(ListLines(), lines);
    EXPECT_EQ(Selected(), 1);
  }
}

TEST_F(DictionaryEditorTest, AShortReadingFileShowsEmptyReadingsAndTheNextWriteHealsIt) {
  Seed({G("张"), G("李"), G("王")}, {"zhang"});
  Open();
  EXPECT_EQ(ListLines(), (QStringList{Q("张 zhang"), Q("李 "), Q("王 ")}));
  ClickLine(2);
  EXPECT_EQ(C().keyEdit->text(), Q("王"));
  EXPECT_EQ(C().readingEdit->text(), QString());
  C().readingEdit->setText("wong");
  C().addButton->click();
  EXPECT_EQ(Readings(), CrLf({"zhang", "", "wong"}));
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(Selected(), 2);
}

TEST_F(DictionaryEditorTest, FilesChangedByAnotherProgramAreShownBeforeTheWindowActsOnThem) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  ClickLine(1);
  // Another program rewrites the pair while the window is open.
  WriteFile(KeyPath(), CrLf({G("王"), G("张"), G("李")}));
  WriteFile(ReadingPath(), CrLf({"wang", "zhang", "li"}));

  // Line 1 was 李; in the files it is now 张. Deleting it must not hit the wrong entry: the list
  // is brought up to date, the selection goes, and the delete says it did nothing.
  C().deleteButton->click();
  EXPECT_EQ(
      dialogs_.Take(),
      (std::vector<RecordingDialogs::Call>{
          {Kind::kMessage,
           Q("字库文件已被其他程序修改，列表已更新。“李 li”没有删除，请重新选择要删除的条目。")}}));
  EXPECT_EQ(ListLines(), (QStringList{Q("王 wang"), Q("张 zhang"), Q("李 li")}));
  EXPECT_EQ(Selected(), -1);
  EXPECT_EQ(Keys(), CrLf({G("王"), G("张"), G("李")}));

  // An add keeps the other program's entries.
  Fill(Q("赵"), "zhao");
  C().addButton->click();
  EXPECT_EQ(Keys(), CrLf({G("王"), G("张"), G("李"), G("赵")}));
  EXPECT_EQ(Selected(), 3);

  // Reopening after a change shows it too.
  window_->hide();
  WriteFile(KeyPath(), CrLf({G("周")}));
  WriteFile(ReadingPath(), CrLf({"zhou"}));
  window_->show();
  EXPECT_EQ(ListLines(), QStringList{Q("周 zhou")});
}

// An empty reading makes a name lose a syllable ("李小龙" becomes "Xiao-long "): it is stored only
// when the user says so, and No is what Enter gives.
TEST_F(DictionaryEditorTest, AnEmptyReadingIsStoredOnlyAfterAsking) {
  Seed({G("李")}, {"li"});
  Open();
  Fill(Q("李"), " ");
  dialogs_.AnswerConfirm(false);
  C().addButton->click();
  EXPECT_EQ(dialogs_.Take(), (std::vector<RecordingDialogs::Call>{
                                 {Kind::kConfirm, Q("拼音是空的。确认要保存没有拼音的“李”吗？"),
                                  PlatformDialogs::Answer::kNo}}));
  EXPECT_EQ(Readings(), "li\r\n");
  EXPECT_EQ(ListLines(), QStringList{Q("李 li")});
}

// The Edit menu's undo, or Ctrl+Z in the list, takes back add/update, delete and clear, one after
// the other, while the window is open; in a text field Ctrl+Z undoes the typing.
TEST_F(DictionaryEditorTest, UndoInTheListTakesBackChangesAndInAFieldTheTyping) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  QApplication::setActiveWindow(window_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  const std::string keys = Keys(), readings = Readings();
  auto* undoItem = window_->findChild<QAction*>("undoAction");
  ASSERT_NE(undoItem, nullptr);
  EXPECT_FALSE(undoItem->isEnabled()) << "nothing to take back yet";

  Fill(Q("李"), "Lee");
  C().addButton->click();  // update
  Fill(Q("王"), "wang");
  C().addButton->click();  // add
  ClickLine(0);
  dialogs_.AnswerConfirm(true);
  C().deleteButton->click();
  dialogs_.AnswerConfirm(true);
  C().clearButton->click();
  dialogs_.Take();
  EXPECT_EQ(Keys() + Readings(), "") << "cleared: an empty pair";
  EXPECT_TRUE(undoItem->isEnabled());

  // Typing in a field, then Ctrl+Z there: the typing goes, the dictionary stays cleared.
  C().readingEdit->clear();
  C().readingEdit->setFocus();
  QTest::keyClicks(C().readingEdit, "zhou");
  QTest::keyClick(C().readingEdit, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_NE(C().readingEdit->text(), QString("zhou")) << "the field's own undo";
  EXPECT_TRUE(Keys() + Readings() == "");

  struct Step {
    const char* why;
    bool fromMenu;
    std::vector<std::string> keys, readings;
  } steps[] = {
      {"the clear, Ctrl+Z in the list", false, {G("李"), G("王")}, {"Lee", "wang"}},
      {"the delete, Ctrl+Z in the list",
       false,
       {G("张"), G("李"), G("王")},
       {"zhang", "Lee", "wang"}},
      {"the add, from the menu", true, {G("张"), G("李")}, {"zhang", "Lee"}},
      {"the update, from the menu", true, {G("张"), G("李")}, {"zhang", "li"}},
  };
  C().entryList->setFocus();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.why);
    if (step.fromMenu) {
      undoItem->trigger();
    } else {
      QTest::keyClick(C().entryList, Qt::Key_Z, Qt::ControlModifier);
    }
    EXPECT_EQ(Keys(), CrLf(step.keys));
    EXPECT_EQ(Readings(), CrLf(step.readings));
    EXPECT_EQ(ListLines().size(), static_cast<qsizetype>(step.keys.size()));
  }
  EXPECT_EQ(Keys(), keys);
  EXPECT_EQ(Readings(), readings);
  EXPECT_FALSE(undoItem->isEnabled());

  // Closing the window ends what can be taken back.
  Fill(Q("赵"), "zhao");
  C().addButton->click();
  window_->hide();
  window_->show();
  QApplication::setActiveWindow(window_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QTest::keyClick(C().entryList, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("赵")}));

  // A change made outside after the last change in the window is never undone.
  Fill(Q("钱"), "qian");
  C().addButton->click();
  WriteFile(KeyPath(), CrLf({G("孙")}));
  WriteFile(ReadingPath(), CrLf({"sun"}));
  QTest::keyClick(C().entryList, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(dialogs_.Take(),
            (std::vector<RecordingDialogs::Call>{
                {Kind::kMessage, Q("字库文件已被其他程序修改，无法撤销之前的修改。")}}));
  EXPECT_EQ(Keys(), CrLf({G("孙")}));
  EXPECT_EQ(ListLines(), QStringList{Q("孙 sun")});
}

// An add to a dictionary without files, undone, leaves it empty: an empty pair, as a clear does.
TEST_F(DictionaryEditorTest, UndoingTheFirstAddEmptiesTheDictionaryAgain) {
  Open();
  Fill(Q("字"), Q("Zi"));
  C().addButton->click();
  ASSERT_FALSE(FolderContents(dir_.Path()).empty());
  window_->undo();
  EXPECT_EQ(Keys() + Readings(), "");
  EXPECT_TRUE(ListLines().isEmpty());
}

TEST_F(DictionaryEditorTest, EnterInAFieldAddsAndTheDeleteKeyDeletes) {
  Seed({G("张")}, {"zhang"});
  Open();
  struct Row {
    const char* why;
    QLineEdit* field;
  } rows[] = {{"Enter in the key field", C().keyEdit},
              {"Enter in the reading field", C().readingEdit}};
  int added = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Fill(added == 0 ? Q("李") : Q("王"), added == 0 ? "li" : "wang");
    QTest::keyClick(row.field, Qt::Key_Return);
    ++added;
    EXPECT_EQ(ListLines().size(), 1 + added);
    EXPECT_EQ(Selected(), added);
  }
  EXPECT_EQ(Readings(), CrLf({"zhang", "li", "wang"}));

  ClickLine(1);
  dialogs_.AnswerConfirm(true);
  QTest::keyClick(C().entryList, Qt::Key_Delete);
  EXPECT_EQ(dialogs_.Take(),
            (std::vector<RecordingDialogs::Call>{
                {Kind::kConfirm, Q("确认要删除  李 li  吗？"), PlatformDialogs::Answer::kNo}}));
  EXPECT_EQ(Keys(), CrLf({G("张"), G("王")}));
  // The Delete key in a field deletes a character, not an entry.
  C().keyEdit->setText(Q("张"));
  C().keyEdit->setCursorPosition(0);
  QTest::keyClick(C().keyEdit, Qt::Key_Delete);
  EXPECT_EQ(C().keyEdit->text(), QString());
  EXPECT_EQ(Keys(), CrLf({G("张"), G("王")}));
}

// While the window is open, a change another program makes to the files shows by itself.
TEST_F(DictionaryEditorTest, TheListFollowsChangesMadeOutside) {
  Seed({G("张")}, {"zhang"});
  Open();
  struct Row {
    const char* why;
    std::function<void()> change;
    QStringList lines;
  } rows[] = {
      {"rewritten in place",
       [&] {
         WriteFile(KeyPath(), CrLf({G("张"), G("李")}));
         WriteFile(ReadingPath(), CrLf({"zhang", "li"}));
       },
       {Q("张 zhang"), Q("李 li")}},
      {"replaced by a rename",
       [&] {
         WriteFile(KeyPath() + ".new", CrLf({G("王")}));
         WriteFile(ReadingPath() + ".new", CrLf({"wang"}));
         std::filesystem::rename(KeyPath() + ".new", KeyPath());
         std::filesystem::rename(ReadingPath() + ".new", ReadingPath());
       },
       {Q("王 wang")}},
      {"deleted",
       [&] {
         std::filesystem::remove(KeyPath());
         std::filesystem::remove(ReadingPath());
       },
       {}},
      {"created again",
       [&] {
         WriteFile(KeyPath(), CrLf({G("赵")}));
         WriteFile(ReadingPath(), CrLf({"zhao"}));
       },
       {Q("赵 zhao")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    row.change();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ListLines() == row.lines; }, 5000))
        << ListLines().join('|').toStdString();
  }
}

// Tab goes through the controls as they stand, top to bottom and left to right, and each label
// names its control.
TEST_F(DictionaryEditorTest, TabFollowsTheControlsAsTheyStand) {
  for (const auto& kind : kWindows) {
    SCOPED_TRACE(kind.name);
    Open(kind);
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    C().keyEdit->setFocus();
    QStringList order{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 7; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order, QStringList({"keyEdit", "readingEdit", "addButton", "searchButton",
                                  "deleteButton", "clearButton", "entryList", "keyEdit"}));
    for (auto [label, buddy] : {std::pair{"keyLabel", C().keyEdit},
                                {"readingLabel", C().readingEdit},
                                {"listLabel", static_cast<QLineEdit*>(nullptr)}}) {
      auto* found = window_->findChild<QLabel*>(QLatin1String(label));
      ASSERT_NE(found, nullptr) << label;
      EXPECT_EQ(found->buddy(), buddy ? static_cast<QWidget*>(buddy) : C().entryList) << label;
    }
  }
}

TEST_F(DictionaryEditorTest, BothEditorsStartHiddenWithTheirOwnCaptionsAndDictionaries) {
  Seed({G("张")}, {"zhang"});
  QWidget main;
  // As the program creates them: Wade-Giles first, both owned beside the main window.
  DictionaryEditor wadeGiles(data_, quorvel::CustomDictionary::Kind::kWadeGiles, &main);
  DictionaryEditor pinyin(data_, quorvel::CustomDictionary::Kind::kStandard, &main);
  EXPECT_FALSE(pinyin.isVisible());
  EXPECT_FALSE(wadeGiles.isVisible());
  EXPECT_EQ(pinyin.windowTitle(), Q("自定义标准拼音"));
  EXPECT_EQ(wadeGiles.windowTitle(), Q("自定义韦氏港台拼音"));
  EXPECT_EQ(pinyin.Controls().entryList->count(), 1);
  EXPECT_EQ(wadeGiles.Controls().entryList->count(), 0);
  EXPECT_EQ(pinyin.parentWidget(), &main);
}

}  // namespace

// The two dictionary editor windows, driven headless through their controls, with the platform
// dialogs replaced by a recording fake.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
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

#include "FakeDialogs.h"
#include "Files.h"
#include "NameRomanizer.h"
#include "TestSupport.h"
#include "Unt_han.h"
#include "Unt_wei_han.h"

namespace {

using quorvel::PronunciationData;
using quorvel::test::CrLf;
using quorvel::test::G;
using quorvel::test::ReadFile;
using quorvel::test::TempDir;
using quorvel::test::WriteFile;
using Kind = RecordingDialogs::Kind;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

std::set<std::string> FolderContents(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

struct WindowKind {
  const char* name;
  std::function<DictEditor*(PronunciationData&)> make;
  const char* keyFile;
  const char* readingFile;
};

const WindowKind kWindows[] = {
    {"TfrmHan", [](PronunciationData& d) -> DictEditor* { return new TfrmHan(d); }, "define_han.dll", "define_py.dll"},
    {"TfrmWeiHan", [](PronunciationData& d) -> DictEditor* { return new TfrmWeiHan(d); }, "define_wei_han.dll",
     "define_wei_py.dll"},
};

class DictEditorTest : public ::testing::Test {
 protected:
  void SetUp() override { data_.LoadPinyinLists(); }
  void TearDown() override {
    quorvel::SetReplaceFailureForTest(0, 0);
    EXPECT_TRUE(dialogs_.Take().empty()) << "dialogs left unchecked";
  }

  // Creates the window as the program does (after the lists are loaded) and shows it.
  DictEditor& Open(const WindowKind& kind = kWindows[0]) {
    kind_ = &kind;
    window_.reset(kind.make(data_));
    window_->show();
    return *window_;
  }
  const DictEditorControls& C() { return window_->Controls(); }

  void Seed(const std::vector<std::string>& keys, const std::vector<std::string>& readings) {
    WriteFile(KeyPath(), CrLf(keys));
    WriteFile(ReadingPath(), CrLf(readings));
    data_.LoadPinyinLists();
  }
  std::string KeyPath() const { return dir_.File(kind_->keyFile); }
  std::string ReadingPath() const { return dir_.File(kind_->readingFile); }
  std::string Keys() const { return ReadFile(KeyPath()); }
  std::string Readings() const { return ReadFile(ReadingPath()); }

  QStringList ListLines() {
    QStringList lines;
    for (int i = 0; i < C().ListBox_define_han->count(); ++i) lines << C().ListBox_define_han->item(i)->text();
    return lines;
  }
  int Selected() {
    auto items = C().ListBox_define_han->selectedItems();
    return items.isEmpty() ? -1 : C().ListBox_define_han->row(items.front());
  }
  void Fill(const QString& key, const QString& reading) {
    C().edt_han->setText(key);
    C().edt_pinyin->setText(reading);
  }
  // Selects a line with the mouse, as the user does.
  void ClickLine(int line) {
    QListWidget* list = C().ListBox_define_han;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(line)).center());
  }

  TempDir dir_;
  PronunciationData data_{dir_.Path()};
  RecordingDialogs dialogs_;
  const WindowKind* kind_ = &kWindows[0];
  std::unique_ptr<DictEditor> window_;
};

TEST_F(DictEditorTest, AddingToAnEmptyDictionaryCreatesBothFilesAndSelectsTheLine) {
  for (const auto& kind : kWindows) {
    SCOPED_TRACE(kind.name);
    Open(kind);
    EXPECT_EQ(C().edt_han->text(), Q("字"));
    EXPECT_EQ(C().edt_pinyin->text(), Q("Zi"));
    EXPECT_EQ(C().ListBox_define_han->count(), 0);

    C().btn_add->click();
    EXPECT_EQ(Keys(), G("字") + "\r\n");
    EXPECT_EQ(Readings(), "Zi\r\n");
    EXPECT_EQ(ListLines(), QStringList{Q("字 Zi")});
    EXPECT_EQ(Selected(), 0);
    // Selecting the new line does not count as the user's click: the fields stay as typed.
    EXPECT_EQ(C().edt_pinyin->text(), Q("Zi"));
  }
  // Each window wrote its own pair only.
  EXPECT_EQ(FolderContents(dir_.Path()),
            (std::set<std::string>{"define_han.dll", "define_py.dll", "define_wei_han.dll", "define_wei_py.dll"}));
}

TEST_F(DictEditorTest, ClickingALineFillsBothFieldsAndTypingAKeyEmptiesTheReading) {
  Seed({G("张"), G("欧阳")}, {"Cheung", "Au-Yeung"});
  Open();
  EXPECT_EQ(ListLines(), (QStringList{Q("张 Cheung"), Q("欧阳 Au-Yeung")}));
  ClickLine(1);
  EXPECT_EQ(C().edt_han->text(), Q("欧阳"));
  EXPECT_EQ(C().edt_pinyin->text(), Q("Au-Yeung"));
  // The keyboard moves the selection the same way.
  QTest::keyClick(C().ListBox_define_han, Qt::Key_Up);
  EXPECT_EQ(C().edt_han->text(), Q("张"));
  EXPECT_EQ(C().edt_pinyin->text(), Q("Cheung"));

  QTest::keyClick(C().edt_han, Qt::Key_End);
  QTest::keyClick(C().edt_han, Qt::Key_Backspace);
  EXPECT_EQ(C().edt_pinyin->text(), QString());

  // Clicking the line already selected brings its entry back.
  C().edt_pinyin->setText("x");
  ClickLine(0);
  EXPECT_EQ(C().edt_han->text(), Q("张"));
  EXPECT_EQ(C().edt_pinyin->text(), Q("Cheung"));
}

TEST_F(DictEditorTest, AnExistingKeyIsUpdatedInPlaceAndAChangedKeyIsAppended) {
  Seed({G("张"), G("李"), G("王")}, {"zhang", "li", "wang"});
  Open();
  ClickLine(1);
  C().edt_pinyin->setText("Lee");
  C().btn_add->click();
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee", "wang"}));
  EXPECT_EQ(ListLines(), (QStringList{Q("张 zhang"), Q("李 Lee"), Q("王 wang")}));
  EXPECT_EQ(Selected(), 1);

  // Changing the key of the selected entry adds a new one; the old one stays as it was.
  C().edt_han->setText(Q("黎"));
  C().edt_pinyin->setText("Lai");
  C().btn_add->click();
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王"), G("黎")}));
  EXPECT_EQ(Readings(), CrLf({"zhang", "Lee", "wang", "Lai"}));
  EXPECT_EQ(Selected(), 3);
}

TEST_F(DictEditorTest, StoredTextIsTrimmedWhileTheFieldsKeepTheirSpaces) {
  struct Case {
    const char* why;
    const char* key;
    const char* reading;
    std::string storedReading;
    const char* line;
  };
  const Case cases[] = {
      {"spaces around key and reading", " 字 ", "  Zi  ", "Zi", "字 Zi"},
      {"an empty reading: the line is the key and one space", "字", "   ", "", "字 "},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Fill(Q(c.key), Q(c.reading));
    C().btn_add->click();
    EXPECT_EQ(Keys(), G("字") + "\r\n");
    EXPECT_EQ(Readings(), c.storedReading + "\r\n");
    EXPECT_EQ(ListLines(), QStringList{Q(c.line)});
    EXPECT_EQ(C().edt_han->text(), Q(c.key));
    EXPECT_EQ(C().edt_pinyin->text(), Q(c.reading));
  }
}

TEST_F(DictEditorTest, DeletingAsksFirstAndTheOnlyEntryLeavesTwoEmptyFiles) {
  Seed({G("字")}, {"Zi"});
  Open();
  // Nothing selected: nothing asked, nothing done.
  C().btn_del->click();
  EXPECT_TRUE(dialogs_.Take().empty());

  ClickLine(0);
  dialogs_.AnswerConfirm(false);
  C().btn_del->click();
  const std::vector<RecordingDialogs::Call> question{{Kind::kConfirm, Q("确认要删除  字 Zi  吗？")}};
  EXPECT_EQ(dialogs_.Take(), question);
  EXPECT_EQ(Keys(), G("字") + "\r\n");
  EXPECT_EQ(ListLines().size(), 1);

  dialogs_.AnswerConfirm(true);
  C().btn_del->click();
  EXPECT_EQ(dialogs_.Take(), question);
  EXPECT_EQ(Keys(), "");
  EXPECT_EQ(Readings(), "");
  EXPECT_TRUE(ListLines().isEmpty());
  EXPECT_EQ(C().edt_han->text(), Q("字"));  // the fields keep their text
  EXPECT_EQ(C().edt_pinyin->text(), Q("Zi"));
}

TEST_F(DictEditorTest, ClearingRemovesBothFilesAfterConfirmationAndTheNextAddRecreatesThem) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  const RecordingDialogs::Call question{Kind::kConfirm, Q("确认要清空所有自定义拼音吗？")};
  dialogs_.AnswerConfirm(false);
  C().btn_clear->click();
  EXPECT_EQ(dialogs_.Take(), std::vector{question});
  EXPECT_EQ(ListLines().size(), 2);
  EXPECT_TRUE(quorvel::PathExists(KeyPath()));

  dialogs_.AnswerConfirm(true);
  C().btn_clear->click();
  EXPECT_EQ(dialogs_.Take(), std::vector{question});
  EXPECT_TRUE(FolderContents(dir_.Path()).empty());
  EXPECT_TRUE(ListLines().isEmpty());

  C().btn_add->click();
  EXPECT_EQ(Keys(), G("字") + "\r\n");
  EXPECT_EQ(Readings(), "Zi\r\n");
}

TEST_F(DictEditorTest, SearchTrimsTheKeyAndTheFirstEntryWins) {
  Seed({G("单"), G("李"), G("单")}, {"dan", "li", "chan"});
  Open();
  C().edt_han->setText(Q(" 单 "));
  C().btn_search->click();
  EXPECT_EQ(Selected(), 0);
  EXPECT_EQ(C().edt_pinyin->text(), Q("dan"));
  EXPECT_EQ(C().edt_han->text(), Q(" 单 "));  // selecting by search is no click on the line

  // Add updates every entry of the key and selects the later one.
  C().edt_pinyin->setText("shan");
  C().btn_add->click();
  EXPECT_EQ(Readings(), CrLf({"shan", "li", "shan"}));
  EXPECT_EQ(Selected(), 2);
  C().btn_search->click();
  EXPECT_EQ(Selected(), 0);

  // Not found: the message carries the field's text as typed, spaces included.
  C().edt_han->setText(Q(" 王"));
  C().edt_pinyin->setText("wang");
  C().btn_search->click();
  EXPECT_EQ(dialogs_.Take(), (std::vector<RecordingDialogs::Call>{{Kind::kMessage, Q("没有找到：   王")}}));
  EXPECT_EQ(C().edt_pinyin->text(), QString());
}

TEST_F(DictEditorTest, ResizingChangesOnlyTheListHeight) {
  for (const auto& kind : kWindows) {
    SCOPED_TRACE(kind.name);
    DictEditor& w = Open(kind);
    QCoreApplication::processEvents();
    std::map<QString, QRect> before;
    QListWidget* list = C().ListBox_define_han;
    QList<QWidget*> controls;
    for (auto* child : w.findChildren<QWidget*>())
      if ((child == list || !list->isAncestorOf(child)) && !child->objectName().startsWith("qt_")) controls << child;
    QStringList names;
    for (auto* child : controls) names << child->objectName();
    ASSERT_EQ(controls.size(), 12) << names.join(' ').toStdString();  // 4 labels, group box, 2 fields, 4 buttons, list
    for (auto* child : controls) before[child->objectName()] = child->geometry();
    EXPECT_EQ(list->geometry().bottom() + 1, w.height() - 16) << "list bottom 16 px above the client edge";

    w.resize(w.width() + 40, w.height() + 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(list->height(), w.height() - 210);
    for (auto* child : controls) {
      if (child == list) continue;
      EXPECT_EQ(child->geometry(), before[child->objectName()]) << child->objectName().toStdString();
    }
    EXPECT_EQ(list->pos(), before[list->objectName()].topLeft());
    EXPECT_EQ(list->width(), before[list->objectName()].width());
  }
}

TEST_F(DictEditorTest, TheNextConversionUsesAReadingAddedInTheWindow) {
  quorvel::ConversionOptions options;
  options.nameFormat = 5;  // "liu dehua"
  const std::string before = quorvel::RomanizeName(data_, G("司马光"), options);
  Open();
  Fill(Q("司马"), "sima");
  C().btn_add->click();
  EXPECT_NE(before, "sima guang");
  EXPECT_EQ(quorvel::RomanizeName(data_, G("司马光"), options), "sima guang");

  Open(kWindows[1]);
  Fill(Q("张"), "Cheung");
  C().btn_add->click();
  EXPECT_EQ(data_.LookupReading(G("张"), {false, true}), "Cheung");
}

TEST_F(DictEditorTest, TheKeyFieldTakesAtMostFourBytesOfGbkTypedOrPasted) {
  Open();
  QLineEdit* han = C().edt_han;
  struct Case {
    const char* why;
    const char* start;
    int cursor;
    const char* pasted;
    const char* result;
  };
  const Case cases[] = {
      {"a long paste keeps the characters that fit", "", 0, "张三李四", "张三"},
      {"ASCII counts one byte", "", 0, "ab张三", "ab张"},
      {"an odd byte left over takes no half character", "abc", 3, "张", "abc"},
      {"pasting into the middle cuts the pasted text, not the old", "张三", 1, "李", "张三"},
      {"pasting into the middle where it fits", "张", 0, "李a", "李张"},
      {"a paste that starts like the old text", "张", 0, "张李四", "张张"},
      {"the euro sign is a single byte", "张a", 2, "€€", "张a€"},
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
  EXPECT_EQ(han->text(), Q("abcd"));

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
  EXPECT_EQ(C().edt_pinyin->text(), Q("zhugeliang")) << "a refused key is no change of the text";
  QTest::keyClick(han, Qt::Key_Backspace);
  EXPECT_EQ(han->text(), Q("诸葛"));
}

TEST_F(DictEditorTest, TextThatCannotBeStoredIsRefusedWithAMessage) {
  struct Case {
    const char* why;
    const char* key;
    const char* reading;
    const char* named;  // what the message must point at
  };
  const Case cases[] = {
      {"a key GBK cannot hold", "😀", "Zi", "😀"},
      {"a reading GBK cannot hold", "字", "Zi😀", "😀"},
      {"a pasted reading of two lines", "字", "zhang\nli", "换行"},
      {"a pasted key of two lines", "a\rb", "Zi", "换行"},
  };
  Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Fill(Q(c.key), Q(c.reading));
    C().btn_add->click();
    auto shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::kMessage);
    EXPECT_TRUE(shown[0].text.contains(Q(c.named))) << shown[0].text.toStdString();
  }
  EXPECT_TRUE(FolderContents(dir_.Path()).empty());

  // Line breaks at the ends, as a cell copied from a spreadsheet brings them, are only trimmed.
  Fill(Q("字"), "Zi\r\n");
  C().btn_add->click();
  EXPECT_EQ(Readings(), "Zi\r\n");
}

TEST_F(DictEditorTest, AFailedWriteShowsTheErrorAndLeavesFilesAndListAsTheyWere) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  ClickLine(1);
  const QStringList lines = ListLines();
  const auto folder = FolderContents(dir_.Path());

  struct Case {
    const char* why;
    int step;
    int error;
    const char* shown;
    std::function<void()> act;
  };
  const Case cases[] = {
      {"update, disk full on the second temporary", 2, ENOSPC, "Disk full.",
       [&] { Fill(Q("李"), "Lee"); C().btn_add->click(); }},
      {"append, read-only when renaming", 3, EROFS, "File access denied.",
       [&] { Fill(Q("王"), "wang"); C().btn_add->click(); }},
      {"delete, disk full on the first temporary", 1, ENOSPC, "Disk full.",
       [&] { dialogs_.AnswerConfirm(true); C().btn_del->click(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    quorvel::SetReplaceFailureForTest(c.step, c.error);
    c.act();
    quorvel::SetReplaceFailureForTest(0, 0);
    auto shown = dialogs_.Take();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), (RecordingDialogs::Call{Kind::kError, Q(c.shown)}));
    EXPECT_EQ(Keys(), CrLf({G("张"), G("李")}));
    EXPECT_EQ(Readings(), CrLf({"zhang", "li"}));
    EXPECT_EQ(FolderContents(dir_.Path()), folder);
    EXPECT_EQ(ListLines(), lines);
    EXPECT_EQ(Selected(), 1);
  }
}

TEST_F(DictEditorTest, AShortReadingFileShowsEmptyReadingsAndTheNextWriteHealsIt) {
  Seed({G("张"), G("李"), G("王")}, {"zhang"});
  Open();
  EXPECT_EQ(ListLines(), (QStringList{Q("张 zhang"), Q("李 "), Q("王 ")}));
  ClickLine(2);
  EXPECT_EQ(C().edt_han->text(), Q("王"));
  EXPECT_EQ(C().edt_pinyin->text(), QString());
  C().edt_pinyin->setText("wong");
  C().btn_add->click();
  EXPECT_EQ(Readings(), CrLf({"zhang", "", "wong"}));
  EXPECT_EQ(Keys(), CrLf({G("张"), G("李"), G("王")}));
  EXPECT_EQ(Selected(), 2);
}

TEST_F(DictEditorTest, FilesChangedByAnotherProgramAreShownBeforeTheWindowActsOnThem) {
  Seed({G("张"), G("李")}, {"zhang", "li"});
  Open();
  ClickLine(1);
  // Another program rewrites the pair while the window is open.
  WriteFile(KeyPath(), CrLf({G("王"), G("张"), G("李")}));
  WriteFile(ReadingPath(), CrLf({"wang", "zhang", "li"}));

  // Line 1 was 李; in the files it is now 张. Deleting it must not hit the wrong entry: the list
  // is brought up to date, the selection goes, and the delete does nothing.
  C().btn_del->click();
  EXPECT_TRUE(dialogs_.Take().empty());
  EXPECT_EQ(ListLines(), (QStringList{Q("王 wang"), Q("张 zhang"), Q("李 li")}));
  EXPECT_EQ(Selected(), -1);
  EXPECT_EQ(Keys(), CrLf({G("王"), G("张"), G("李")}));

  // An add keeps the other program's entries.
  Fill(Q("赵"), "zhao");
  C().btn_add->click();
  EXPECT_EQ(Keys(), CrLf({G("王"), G("张"), G("李"), G("赵")}));
  EXPECT_EQ(Selected(), 3);

  // Reopening after a change shows it too.
  window_->hide();
  WriteFile(KeyPath(), CrLf({G("周")}));
  WriteFile(ReadingPath(), CrLf({"zhou"}));
  window_->show();
  EXPECT_EQ(ListLines(), QStringList{Q("周 zhou")});
}

TEST_F(DictEditorTest, CreateDictEditorsMakesBothWindowsHiddenWithTheirOwnDictionaries) {
  Seed({G("张")}, {"zhang"});
  QWidget main;
  DictEditorWindows windows = CreateDictEditors(data_, &main);
  EXPECT_EQ(windows.standard, frmHan);
  EXPECT_EQ(windows.wadeGiles, frmWeiHan);
  EXPECT_FALSE(frmHan->isVisible());
  EXPECT_EQ(frmHan->windowTitle(), Q("自定义标准拼音"));
  EXPECT_EQ(frmWeiHan->windowTitle(), Q("自定义韦氏港台拼音"));
  EXPECT_EQ(frmHan->Controls().ListBox_define_han->count(), 1);
  EXPECT_EQ(frmWeiHan->Controls().ListBox_define_han->count(), 0);
  EXPECT_EQ(frmHan->parentWidget(), &main);
  frmHan = nullptr;  // destroyed with `main`
  frmWeiHan = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // Headless unless told otherwise, also while the test list is discovered at build time.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

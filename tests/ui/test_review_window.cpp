// The review list after a conversion ("N 个姓名需要核对"), choosing an alternative and remembering
// it, and the whole names' editor.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "CustomDictionary.h"
#include "ReviewWindow.h"
#include "TableColumnChooser.h"
#include "TestSupport.h"
#include "WholeNamesEditor.h"
#include "WindowTestSupport.h"

namespace {

using Kind = RecordingDialogs::Kind;

class ReviewWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    CopyListFiles();
    window_ = Open();
    Write("names.txt", QStringLiteral("刘德华\n曾参\n乐嘉\n隗嚣\n").toUtf8());
    dialogs_.AnswerFile(PathOf("names.txt"));
    window_->openSource();
    dialogs_.Take();
  }
  void TearDown() override {
    window_.reset();
    WindowTest::TearDown();
  }
  void Convert() {
    dialogs_.AnswerConfirm(false);  // the completion question: leave the file unopened
    window_->convert();
    dialogs_.Take();
  }
  // The review list the button opens, looked at while it is shown modally, then closed.
  void WithReviewList(const std::function<void(ReviewWindow&)>& look) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* list = qobject_cast<ReviewWindow*>(QApplication::activeModalWidget());
      ASSERT_NE(list, nullptr) << "no review list shown";
      look(*list);
      seen = true;
      list->accept();
    });
    Get<QPushButton>(*window_, "reviewButton")->click();
    EXPECT_TRUE(seen);
  }
  static QString Cell(ReviewWindow& list, int row, int column) {
    return Get<QTableWidget>(list, "reviewTable")->item(row, column)->text();
  }
  std::unique_ptr<MainWindow> window_;
};

TEST_F(ReviewWindowTest, ARunWithNamesToCheckShowsTheButtonAndTheListNamesThem) {
  auto* button = Get<QPushButton>(*window_, "reviewButton");
  EXPECT_FALSE(button->isVisibleTo(window_.get())) << "no run yet";
  Convert();
  EXPECT_TRUE(button->isVisibleTo(window_.get()));
  EXPECT_EQ(button->text(), QStringLiteral("3 个姓名需要核对"));
  WithReviewList([&](ReviewWindow& list) {
    auto* table = Get<QTableWidget>(list, "reviewTable");
    ASSERT_EQ(table->rowCount(), 3);
    const QStringList row0 = {Cell(list, 0, 0), Cell(list, 0, 1), Cell(list, 0, 2),
                              Cell(list, 0, 3)};
    EXPECT_EQ(row0,
              (QStringList{QStringLiteral("2"), QStringLiteral("曾参"), QStringLiteral("Can Zeng"),
                           QStringLiteral("参: can / cen / shen (rare in given names)")}));
    EXPECT_EQ(Get<QPushButton>(list, "alternative-0-0-0")->text(), QStringLiteral("Cen Zeng"));
    EXPECT_EQ(Get<QPushButton>(list, "alternative-0-0-1")->text(), QStringLiteral("Shen Zeng"));
    EXPECT_EQ(Get<QPushButton>(list, "alternative-2-1-0")->text(), QStringLiteral("Ao Wei"))
        << "隗嚣's given name";
  });

  // A run without names to check hides it again.
  Write("names.txt", QStringLiteral("刘德华\n").toUtf8());
  Convert();
  EXPECT_FALSE(button->isVisibleTo(window_.get()));
}

TEST_F(ReviewWindowTest, ChoosingAnAlternativeRewritesTheLineAndRememberTeachesTheName) {
  Convert();
  WithReviewList([&](ReviewWindow& list) {
    Get<QPushButton>(list, "alternative-0-0-1")->click();  // 曾参: Shen Zeng
    EXPECT_EQ(Cell(list, 0, 2), QStringLiteral("Shen Zeng"));
    Get<QCheckBox>(list, "rememberCheck")->setChecked(true);
    Get<QPushButton>(list, "alternative-1-0-0")->click();  // 乐嘉: Jia Le, remembered
  });
  EXPECT_EQ(Read("names_en.txt"), QByteArray("De-hua Liu\r\nShen Zeng\r\nJia Le\r\nXiao Wei\r\n"));
  EXPECT_EQ(dialogs_.Take(), std::vector<RecordingDialogs::Call>{});
  quorvel::CustomDictionary names(*data_, quorvel::CustomDictionary::Kind::kWholeNames);
  names.Refresh();
  EXPECT_EQ(names.Entries(),
            (std::vector<quorvel::DictionaryEntry>{{quorvel::test::G("乐嘉"), "le jia"}}));

  // The next run reads the remembered name so and no longer lists it; the chosen line shown again
  // is the one in the file.
  Convert();
  EXPECT_EQ(Read("names_en.txt"), QByteArray("De-hua Liu\r\nCan Zeng\r\nJia Le\r\nXiao Wei\r\n"));
  EXPECT_EQ(Get<QPushButton>(*window_, "reviewButton")->text(), QStringLiteral("2 个姓名需要核对"));
}

TEST_F(ReviewWindowTest, ALineChangedSinceTheRunIsNotOverwritten) {
  Convert();
  Write("names_en.txt", QByteArray("De-hua Liu\r\nZeng Shen (checked)\r\nJia Yue\r\nXiao Wei\r\n"));
  WithReviewList([&](ReviewWindow& list) {
    Get<QPushButton>(list, "alternative-0-0-0")->click();
    const auto shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::kError);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("第 2 行已被改动，没有改写")))
        << shown[0].text.toStdString();
    EXPECT_EQ(Cell(list, 0, 2), QStringLiteral("Can Zeng"));
  });
  EXPECT_EQ(Read("names_en.txt"),
            QByteArray("De-hua Liu\r\nZeng Shen (checked)\r\nJia Yue\r\nXiao Wei\r\n"));
}

TEST_F(ReviewWindowTest, AfterATableRunTheListNamesRowsAndRewritesTheirRomanizedCells) {
  Write("staff.csv",
        QStringLiteral("\xFEFF工号,姓名,部门\n001,刘德华,\"销售, 北区\"\n002,曾参,研发\n003,乐嘉,x")
            .toUtf8());
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("staff.csv")));
  auto* chooser = window_->findChild<TableColumnChooser*>();
  ASSERT_TRUE(chooser);
  chooser->accept();  // the guessed column, 姓名
  Convert();
  EXPECT_EQ(Get<QPushButton>(*window_, "reviewButton")->text(), QStringLiteral("2 个姓名需要核对"));
  const QByteArray converted = QStringLiteral(
                                   "\xFEFF工号,姓名,姓名 (Pinyin),部门\n001,刘德华,De-hua Liu,"
                                   "\"销售, 北区\"\n002,曾参,Can Zeng,研发\n003,乐嘉,Jia Yue,x")
                                   .toUtf8();
  ASSERT_EQ(Read("staff_en.csv"), converted);
  WithReviewList([&](ReviewWindow& list) {
    EXPECT_TRUE(Get<QLabel>(list, "summaryLabel")->text().contains(QStringLiteral("目标表格")));
    ASSERT_EQ(Get<QTableWidget>(list, "reviewTable")->rowCount(), 2);
    EXPECT_EQ(Cell(list, 0, 0), QStringLiteral("3")) << "the row in the sheet, header counted";
    EXPECT_EQ(Cell(list, 1, 0), QStringLiteral("4"));
    Get<QPushButton>(list, "alternative-0-0-1")->click();  // 曾参: Shen Zeng
    EXPECT_EQ(Cell(list, 0, 2), QStringLiteral("Shen Zeng"));
    Get<QCheckBox>(list, "rememberCheck")->setChecked(true);
    Get<QPushButton>(list, "alternative-1-0-0")->click();  // 乐嘉: Jia Le, remembered
    EXPECT_EQ(Cell(list, 1, 2), QStringLiteral("Jia Le"));
  });
  EXPECT_EQ(dialogs_.Take(), std::vector<RecordingDialogs::Call>{});
  QByteArray rewritten = converted;
  rewritten.replace(QStringLiteral("Can Zeng").toUtf8(), QByteArray("Shen Zeng"));
  rewritten.replace(QStringLiteral("Jia Yue").toUtf8(), QByteArray("Jia Le"));
  EXPECT_EQ(Read("staff_en.csv"), rewritten) << "the byte-order mark, LF, quotes, no last line end";
  quorvel::CustomDictionary names(*data_, quorvel::CustomDictionary::Kind::kWholeNames);
  names.Refresh();
  EXPECT_EQ(names.Entries(),
            (std::vector<quorvel::DictionaryEntry>{{quorvel::test::G("乐嘉"), "le jia"}}));

  // A cell the user changed since is not overwritten.
  Write("staff_en.csv", QByteArray(rewritten).replace("Shen Zeng", "Zeng Shen (checked)"));
  WithReviewList([&](ReviewWindow& list) {
    Get<QPushButton>(list, "alternative-0-0-0")->click();
    const auto shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::kError);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("第 3 行的译名已被改动，没有改写")))
        << shown[0].text.toStdString();
    EXPECT_EQ(Cell(list, 0, 2), QStringLiteral("Shen Zeng"));
  });
  EXPECT_EQ(Read("staff_en.csv"),
            QByteArray(rewritten).replace("Shen Zeng", "Zeng Shen (checked)"));
}

TEST_F(WindowTest, TheWholeNamesEditorAddsDeletesAndClears) {
  CopyListFiles();
  auto window = Open();
  WholeNamesEditor editor(*data_);
  auto* name = Get<QLineEdit>(editor, "nameEdit");
  auto* syllables = Get<QLineEdit>(editor, "syllablesEdit");
  auto* list = Get<QListWidget>(editor, "entryList");
  auto add = [&](const QString& n, const QString& s) {
    name->setText(n);
    syllables->setText(s);
    Get<QPushButton>(editor, "addButton")->click();
  };
  add(QStringLiteral("欧阳|修"), QStringLiteral("ou yang xiu"));
  add(QStringLiteral("曾参"), QStringLiteral("Zeng Shen"));
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("欧阳|修 ou yang xiu"));
  EXPECT_EQ(list->item(1)->text(), QStringLiteral("曾参 zeng shen"));
  EXPECT_EQ(list->currentRow(), 1);

  add(QStringLiteral("曾参"), QStringLiteral("zeng"));
  auto shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Kind::kError) << "one syllable for two characters";
  EXPECT_EQ(list->count(), 2);

  list->setCurrentRow(0);
  EXPECT_EQ(name->text(), QStringLiteral("欧阳|修"));
  dialogs_.AnswerConfirm(true);
  Get<QPushButton>(editor, "deleteButton")->click();
  shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QStringLiteral("确认要删除  欧阳|修 ou yang xiu  吗？"));
  EXPECT_EQ(shown[0].preselected, PlatformDialogs::Answer::kNo);
  ASSERT_EQ(list->count(), 1);

  // The main window's conversion reads the taught name.
  EXPECT_EQ(quorvel::RomanizeName(*data_, quorvel::test::G("曾参"), window->CurrentOptions()),
            "Shen Zeng");
  dialogs_.AnswerConfirm(true);
  Get<QPushButton>(editor, "clearButton")->click();
  dialogs_.Take();
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(Read("define_name_han.dll"), QByteArray()) << "cleared: an empty list";
}

}  // namespace

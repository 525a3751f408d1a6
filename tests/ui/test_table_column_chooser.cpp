// Tables in the main window: opening one asks for its name column, and the run converts it into
// the same kind of table.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "TableColumnChooser.h"
#include "WindowTestSupport.h"

namespace {

using Kind = RecordingDialogs::Kind;

class TableWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    window_ = Open();
  }
  void TearDown() override {
    window_.reset();
    WindowTest::TearDown();
  }
  std::unique_ptr<MainWindow> window_;
};

TEST_F(TableWindowTest, AnOpenedCsvAsksForItsColumnAndConvertsIntoACsv) {
  Write("staff.csv",
        QStringLiteral("工号,姓名,部门\r\n001,刘德华,\"销售, 北区\"\r\n002,单田芳,研发\r\n")
            .toUtf8());
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("staff.csv")));
  auto* chooser = window_->findChild<TableColumnChooser*>();
  ASSERT_TRUE(chooser);
  EXPECT_TRUE(chooser->isVisible());
  auto* columns = Get<QComboBox>(*chooser, "columnCombo");
  ASSERT_EQ(columns->count(), 3);
  EXPECT_EQ(columns->currentText(), QStringLiteral("B  姓名"))
      << "the guessed column is preselected";
  EXPECT_TRUE(Get<QCheckBox>(*chooser, "headerCheck")->isChecked());
  auto* preview = Get<QTableWidget>(*chooser, "previewTable");
  ASSERT_EQ(preview->rowCount(), 3);
  EXPECT_EQ(preview->item(1, 2)->text(), QStringLiteral("销售, 北区"));

  Get<QCheckBox>(*chooser, "initialsCheck")->setChecked(true);
  Get<QDialogButtonBox>(*chooser, "buttons")->button(QDialogButtonBox::Ok)->click();
  EXPECT_FALSE(chooser->isVisible());

  dialogs_.AnswerConfirm(false);
  Get<QPushButton>(*window_, "convertButton")->click();
  const std::vector<RecordingDialogs::Call> shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Kind::kConfirm);
  EXPECT_TRUE(shown[0].text.contains(PathOf("staff_en.csv"))) << shown[0].text.toStdString();
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral("共转换 2 行，其中 0 行的姓名含有“???”")))
      << shown[0].text.toStdString();
  EXPECT_EQ(Read("staff_en.csv"),
            QStringLiteral("工号,姓名,姓名 (Pinyin),姓名 (Initials),部门\r\n001,刘德华,De-hua "
                           "Liu,Liu DH,\"销售, 北区\"\r\n"
                           "002,单田芳,Tian-fang Shan,Shan TF,研发\r\n")
                .toUtf8());

  // Another column chosen; then a names file converts line for line as ever.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(window_->findChild<TableColumnChooser*>()) << "a closed chooser goes";
  Write("staff.csv", QStringLiteral("刘德华,单田芳\r\n").toUtf8());
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("staff.csv")));
  chooser = window_->findChild<TableColumnChooser*>();
  ASSERT_TRUE(chooser);
  Get<QComboBox>(*chooser, "columnCombo")->setCurrentIndex(1);
  EXPECT_FALSE(Get<QCheckBox>(*chooser, "headerCheck")->isChecked())
      << "a name in the first row: no header";
  chooser->accept();
  dialogs_.AnswerConfirm(false);
  Get<QPushButton>(*window_, "convertButton")->click();
  dialogs_.Take();
  EXPECT_EQ(Read("staff_en.csv"), QStringLiteral("刘德华,单田芳,Tian-fang Shan\r\n").toUtf8());

  // No column guessed and the chooser closed: the run asks again instead of converting.
  Write("ids.csv", QStringLiteral("工号,部门\r\n1,x\r\n").toUtf8());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("ids.csv")));
  chooser = window_->findChild<TableColumnChooser*>();
  ASSERT_TRUE(chooser);
  EXPECT_EQ(Get<QComboBox>(*chooser, "columnCombo")->currentIndex(), -1);
  EXPECT_FALSE(
      Get<QDialogButtonBox>(*chooser, "buttons")->button(QDialogButtonBox::Ok)->isEnabled());
  chooser->reject();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  Get<QPushButton>(*window_, "convertButton")->click();
  EXPECT_TRUE(window_->findChild<TableColumnChooser*>());
  EXPECT_EQ(Read("ids_en.csv"), QByteArray("<missing>"));
  EXPECT_TRUE(dialogs_.Take().empty());

  Write("names.txt", QStringLiteral("刘德华\r\n").toUtf8());
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("names.txt")));
  dialogs_.AnswerConfirm(false);
  Get<QPushButton>(*window_, "convertButton")->click();
  dialogs_.Take();
  EXPECT_EQ(Read("names_en.txt"), QByteArray("De-hua Liu\r\n"));
}

TEST_F(TableWindowTest, AnOldExcelWorkbookIsNotTaken) {
  Write("roll.xls", "\xD0\xCF\x11\xE0");
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("roll.xls")));
  const std::vector<RecordingDialogs::Call> shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Kind::kMessage);
  EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("Spreadsheets saved as .xls are not read")))
      << shown[0].text.toStdString();
  EXPECT_TRUE(Get<QLineEdit>(*window_, "sourcePathEdit")->text().isEmpty());
}

TEST_F(TableWindowTest, ADamagedWorkbookIsReportedAndAskedNothing) {
  Write("roll.xlsx", "not a workbook");
  ASSERT_TRUE(window_->OpenSourceFile(PathOf("roll.xlsx")));
  EXPECT_FALSE(window_->findChild<TableColumnChooser*>());
  const std::vector<RecordingDialogs::Call> shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Kind::kError);
  EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("This file is not an Excel workbook")))
      << shown[0].text.toStdString();
}

}  // namespace

// The real dialogs behind the dialog interface, answered by clicking them as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <functional>

#include "AppInfo.h"
#include "QtPlatformDialogs.h"

namespace {

// Runs `answer` on the modal dialog that `show` opens.
template <typename Dialog>
void Answer(const std::function<void()>& show, const std::function<void(Dialog*)>& answer) {
  bool answered = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr) << "no dialog of the expected kind";
    answered = true;
    answer(dialog);
  });
  show();
  EXPECT_TRUE(answered);
}

TEST(QtPlatformDialogs, ErrorBoxHasTheTitleAnErrorIconAndOk) {
  QtPlatformDialogs dialogs;
  Answer<QMessageBox>([&] { dialogs.ShowError(nullptr, QStringLiteral("File access denied.")); },
                      [](QMessageBox* box) {
                        EXPECT_EQ(box->windowTitle(), QStringLiteral("Quorvel"));
                        EXPECT_EQ(box->icon(), QMessageBox::Critical);
                        EXPECT_EQ(box->text(), QStringLiteral("File access denied."));
                        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
                        box->button(QMessageBox::Ok)->click();
                      });
}

TEST(QtPlatformDialogs, ConfirmationShowsCarriageReturnsAsLineBreaksAndIsTrueOnlyForYes) {
  QtPlatformDialogs dialogs;
  for (auto [button, expected] : {std::pair{QMessageBox::Yes, true}, std::pair{QMessageBox::No, false}}) {
    bool result = !expected;
    Answer<QMessageBox>(
        [&] { result = dialogs.Confirm(nullptr, QStringLiteral("转换完成，是否打开文件\r\r/tmp/a_en.txt")); },
        [button = button](QMessageBox* box) {
          EXPECT_EQ(box->text(), QStringLiteral("转换完成，是否打开文件\n\n/tmp/a_en.txt"));
          EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
          box->button(button)->click();
        });
    EXPECT_EQ(result, expected);
  }
}

TEST(QtPlatformDialogs, FileDialogsOfferTheTwoFiltersAndRunTheHandlerBeforeClosing) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("names.txt"));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();

  QtPlatformDialogs dialogs;
  for (bool save : {false, true}) {
    SCOPED_TRACE(save ? "save" : "open");
    QString accepted;
    bool openWhileHandled = false;
    bool confirmed = false;
    QFileDialog* seen = nullptr;
    auto handler = [&](const QString& chosen) {
      accepted = chosen;
      openWhileHandled = seen && seen->isVisible();
    };
    Answer<QFileDialog>(
        [&] { confirmed = save ? dialogs.ChooseSaveFile(nullptr, handler) : dialogs.ChooseOpenFile(nullptr, handler); },
        [&](QFileDialog* dialog) {
          seen = dialog;
          EXPECT_EQ(dialog->nameFilters(), QStringList({"Text file (*.txt)", "All (*)"}));
          EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("Text file (*.txt)"));
          dialog->setOption(QFileDialog::DontConfirmOverwrite);
          dialog->selectFile(path);
          static_cast<QDialog*>(dialog)->accept();  // the dialog's own confirmation
        });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(accepted, path);
    EXPECT_TRUE(openWhileHandled);
  }
  // Cancelling runs no handler.
  bool called = false;
  bool confirmed = true;
  Answer<QFileDialog>([&] { confirmed = dialogs.ChooseOpenFile(nullptr, [&](const QString&) { called = true; }); },
                      [](QFileDialog* dialog) { dialog->reject(); });
  EXPECT_FALSE(confirmed);
  EXPECT_FALSE(called);
}

TEST(QtPlatformDialogs, DesktopOpensFilesByPathAndPagesByAddress) {
  struct Row {
    QString given;
    QUrl url;
    const char* why;
  } rows[] = {
      {"https://quorvel.example/help/", QUrl("https://quorvel.example/help/"), "a web page"},
      {"/tmp/names_en.txt", QUrl::fromLocalFile("/tmp/names_en.txt"), "a file"},
      {"/tmp/my names/a b#1.txt", QUrl::fromLocalFile("/tmp/my names/a b#1.txt"), "blanks and # in a file name"},
      {"/tmp/x:y/list.txt", QUrl::fromLocalFile("/tmp/x:y/list.txt"), "a colon in a folder name"},
      {QStringLiteral("/tmp/名单_en.txt"), QUrl::fromLocalFile(QStringLiteral("/tmp/名单_en.txt")), "Chinese file name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(QtPlatformDialogs::DesktopUrl(row.given), row.url);
  }
}

// The confirmation's buttons follow the interface language through Qt's own translations.
TEST(QtPlatformDialogs, QtsOwnTextsFollowTheInterfaceLanguage) {
  struct Row {
    const char* why;
    QByteArray configDb;  // empty: no config.db
    bool translated;
    QString yes, no;
  };
  const Row rows[] = {
      {"no config.db: the interface is Chinese", {}, true, QStringLiteral("是(&Y)"),
       QStringLiteral("否(&N)")},
      {"Chinese", "ch\r\n", true, QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")},
      {"English", "en\r\n", false, QStringLiteral("&Yes"), QStringLiteral("&No")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    if (!row.configDb.isEmpty()) {
      QFile file(settings.filePath(QStringLiteral("config.db")));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(row.configDb);
    }
    QTranslator translator;  // removed from the application again when it goes
    ASSERT_EQ(InstallQtTranslations(translator, settings.path().toStdString()), row.translated)
        << "Qt's translations come with the package qt6-translations-l10n";
    QtPlatformDialogs dialogs;
    Answer<QMessageBox>([&] { dialogs.Confirm(nullptr, QStringLiteral("?")); },
                        [&](QMessageBox* box) {
                          EXPECT_EQ(box->button(QMessageBox::Yes)->text(), row.yes);
                          EXPECT_EQ(box->button(QMessageBox::No)->text(), row.no);
                          box->button(QMessageBox::No)->click();
                        });
  }
}

}  // namespace

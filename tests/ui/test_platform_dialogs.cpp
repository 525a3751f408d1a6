// The real dialogs behind the dialog interface, answered by clicking them as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <QStandardPaths>
#include <functional>
#include <map>
#include <optional>

#include "AppInfo.h"
#include "QtPlatformDialogs.h"
#include "Settings.h"

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
  for (auto [button, expected] :
       {std::pair{QMessageBox::Yes, true}, std::pair{QMessageBox::No, false}}) {
    bool result = !expected;
    Answer<QMessageBox>(
        [&] {
          result =
              dialogs.Confirm(nullptr, QStringLiteral("转换完成，是否打开文件\r\r/tmp/a_en.txt"));
        },
        [button = button](QMessageBox* box) {
          EXPECT_EQ(box->text(), QStringLiteral("转换完成，是否打开文件\n\n/tmp/a_en.txt"));
          EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
          box->button(button)->click();
        });
    EXPECT_EQ(result, expected);
  }
}

// Enter presses the preselected button: a question whose Yes destroys something preselects No.
TEST(QtPlatformDialogs, EnterGivesThePreselectedAnswer) {
  QtPlatformDialogs dialogs;
  struct Row {
    PlatformDialogs::Answer preselected;
    bool expected;
    const char* why;
  } rows[] = {
      {PlatformDialogs::Answer::kYes, true, "the completion question"},
      {PlatformDialogs::Answer::kNo, false, "clear and delete"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    bool result = !row.expected;
    Answer<QMessageBox>(
        [&] {
          result = dialogs.Confirm(nullptr, QStringLiteral("确认要清空所有自定义拼音吗？"),
                                   row.preselected);
        },
        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(result, row.expected);
  }
}

// A damaged settings file can hold a line of thousands of bytes without a blank: the box wraps it,
// stays inside the screen and keeps the whole text selectable in its details.
TEST(QtPlatformDialogs, LongTextsAreWrappedKeptOnScreenAndSelectable) {
  QtPlatformDialogs dialogs;
  const QString longRun = QStringLiteral("'") + QString(5000, QLatin1Char('x')) +
                          QStringLiteral("' is not a valid integer value.");
  const QString manyLines = QStringLiteral("line\r").repeated(200);
  struct Row {
    QString text;
    bool cut;
    const char* why;
  } rows[] = {
      {QStringLiteral("File access denied."), false, "a short text shows as it is"},
      {longRun, true, "one line of 5000 characters"},
      {manyLines, true, "two hundred lines"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Answer<QMessageBox>(
        [&] { dialogs.ShowError(nullptr, row.text); },
        [&](QMessageBox* box) {
          const QRect screen = box->screen()->availableGeometry();
          EXPECT_TRUE(screen.contains(box->frameGeometry()))
              << box->frameGeometry().width() << "x" << box->frameGeometry().height();
          auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
          ASSERT_NE(label, nullptr);
          EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
          if (row.cut) {
            QString full = row.text;
            full.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            EXPECT_EQ(box->detailedText(), full);
            EXPECT_LE(box->text().count(QLatin1Char('\n')), QtPlatformDialogs::kShownLines);
          } else {
            EXPECT_EQ(box->text(), row.text);
            EXPECT_TRUE(box->detailedText().isEmpty());
          }
          box->button(QMessageBox::Ok)->click();
        });
  }
  // Wrapping never splits a character made of two UTF-16 units.
  const QString emoji = QString::fromUtf8("😀").repeated(100);
  for (const QString& line : QtPlatformDialogs::ShownText(emoji).split(QLatin1Char('\n'))) {
    ASSERT_FALSE(line.isEmpty());
    EXPECT_FALSE(line.front().isLowSurrogate());
    EXPECT_FALSE(line.back().isHighSurrogate());
  }
}

// While the main window starts it is not shown yet; its errors appear where it will appear.
TEST(QtPlatformDialogs, ABoxOfAWindowNotYetShownIsCentredOnIt) {
  QWidget parent;
  const QRect area = parent.screen()->availableGeometry();
  parent.setGeometry(
      QRect(area.left() + area.width() / 4, area.top() + area.height() / 4, 400, 300));
  QtPlatformDialogs dialogs;
  Answer<QMessageBox>([&] { dialogs.ShowError(&parent, QStringLiteral("File access denied.")); },
                      [&](QMessageBox* box) {
                        const QPoint offset = box->geometry().center() - parent.geometry().center();
                        EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
                        box->button(QMessageBox::Ok)->click();
                      });
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
    const QString start = save ? dir.filePath(QStringLiteral("names_en.txt")) : dir.path();
    auto handler = [&](const QString& chosen) {
      accepted = chosen;
      openWhileHandled = seen && seen->isVisible();
    };
    Answer<QFileDialog>(
        [&] {
          confirmed = save ? dialogs.ChooseSaveFile(nullptr, start, handler)
                           : dialogs.ChooseOpenFile(nullptr, start, handler);
        },
        [&](QFileDialog* dialog) {
          seen = dialog;
          // It starts in the folder asked for; the save dialog with the proposed name filled in.
          EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
          if (save) {
            EXPECT_EQ(dialog->selectedFiles().value(0),
                      dir.filePath(QStringLiteral("names_en.txt")));
          }
          EXPECT_EQ(dialog->nameFilters(),
                    QStringList({"Text file (*.txt)", "Table (*.csv *.tsv *.xlsx)", "All (*)"}));
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
  Answer<QFileDialog>(
      [&] {
        confirmed = dialogs.ChooseOpenFile(nullptr, {}, [&](const QString&) { called = true; });
      },
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
      {"/tmp/my names/a b#1.txt", QUrl::fromLocalFile("/tmp/my names/a b#1.txt"),
       "blanks and # in a file name"},
      {"/tmp/x:y/list.txt", QUrl::fromLocalFile("/tmp/x:y/list.txt"), "a colon in a folder name"},
      {QStringLiteral("/tmp/名单_en.txt"), QUrl::fromLocalFile(QStringLiteral("/tmp/名单_en.txt")),
       "Chinese file name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(QtPlatformDialogs::DesktopUrl(row.given), row.url);
  }
}

// The program the desktop opens a file with is asked of xdg-mime, as xdg-open asks it: a
// default that runs this very program (by its desktop entry's Exec line) counts as itself.
TEST(QtPlatformDialogs, TellsWhetherTheDesktopWouldOpenAFileWithThisProgram) {
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
    GTEST_FAIL() << "xdg-mime not found: install xdg-utils (scripts/deps.sh)";
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  QDir(home.path()).mkpath(QStringLiteral("config"));
  QDir(home.path()).mkpath(QStringLiteral("data/applications"));
  auto write = [&](const QString& name, const QByteArray& bytes) {
    QFile file(home.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  };
  write(QStringLiteral("names_en.txt"), "De-hua Liu\r\n");
  const QByteArray self = QCoreApplication::applicationFilePath().toUtf8();
  struct Row {
    const char* why;
    QByteArray exec;  // of the desktop entry that mimeapps.list makes the default for text/plain
    bool itself;
  } rows[] = {
      {"an editor", "/bin/cat %f", false},
      {"this program, by its path", self + " %f", true},
      {"this program, with options before the file", self + " --some-option %F", true},
  };
  const QByteArray names[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS",
                              "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP"};
  std::map<QByteArray, std::optional<QByteArray>> saved;
  for (const QByteArray& name : names)
    saved[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
  // The system's folders stay for the MIME database; the user's defaults come first.
  qputenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(home.filePath(QStringLiteral("none"))));
  qunsetenv("XDG_CURRENT_DESKTOP");
  QtPlatformDialogs dialogs;
  EXPECT_FALSE(dialogs.OpensWithThisProgram(home.filePath(QStringLiteral("names_en.txt"))))
      << "the system's default, if any";
  write(QStringLiteral("config/mimeapps.list"),
        "[Default Applications]\ntext/plain=test-handler.desktop\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    write(QStringLiteral("data/applications/test-handler.desktop"),
          "[Desktop Entry]\nType=Application\nName=Handler\nExec=" + row.exec + "\n");
    EXPECT_EQ(dialogs.OpensWithThisProgram(home.filePath(QStringLiteral("names_en.txt"))),
              row.itself);
  }
  for (const auto& [name, value] : saved) {
    if (value) {
      qputenv(name, *value);
    } else {
      qunsetenv(name);
    }
  }
}

// The confirmation's buttons follow the interface language through Qt's own translations, and
// change with it at once.
TEST(QtPlatformDialogs, QtsOwnTextsFollowTheInterfaceLanguage) {
  struct Row {
    const char* why;
    quorvel::UiLanguage language;
    bool translated;
    QString yes, no;
  };
  const Row rows[] = {
      {"Chinese", quorvel::UiLanguage::kChinese, true, QStringLiteral("是(&Y)"),
       QStringLiteral("否(&N)")},
      {"switched to English", quorvel::UiLanguage::kEnglish, false, QStringLiteral("&Yes"),
       QStringLiteral("&No")},
      {"back to Chinese", quorvel::UiLanguage::kChinese, true, QStringLiteral("是(&Y)"),
       QStringLiteral("否(&N)")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ASSERT_EQ(ApplyQtTranslations(row.language), row.translated)
        << "Qt's translations come with the package qt6-translations-l10n";
    QtPlatformDialogs dialogs;
    Answer<QMessageBox>([&] { dialogs.Confirm(nullptr, QStringLiteral("?")); },
                        [&](QMessageBox* box) {
                          EXPECT_EQ(box->button(QMessageBox::Yes)->text(), row.yes);
                          EXPECT_EQ(box->button(QMessageBox::No)->text(), row.no);
                          box->button(QMessageBox::No)->click();
                        });
  }
  ApplyQtTranslations(quorvel::UiLanguage::kEnglish);
}

}  // namespace

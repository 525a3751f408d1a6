// Every window on the available screen area, at the scale the desktop uses. The same tests run
// again on a 1440 x 900 and on a 1366 x 768 screen scaled 2x (QT_SCALE_FACTOR=2, see
// CMakeLists.txt): 720 x 450 and 683 x 384 logical pixels, less than the dictionary editor's usual
// height and the file dialogs' own.
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QTimer>

#include <functional>
#include <utility>

#include "AboutWindow.h"
#include "DictionaryEditor.h"
#include "HelpWindow.h"
#include "QtPlatformDialogs.h"
#include "WindowTestSupport.h"

namespace {

class ScreenFitTest : public WindowTest {
 protected:
  static void ExpectOnScreen(const QWidget& window) {
    const QRect area = window.screen()->availableGeometry();
    EXPECT_TRUE(area.contains(window.frameGeometry()))
        << window.metaObject()->className() << " at " << window.frameGeometry().x() << ","
        << window.frameGeometry().y() << " " << window.frameGeometry().width() << "x"
        << window.frameGeometry().height() << " on " << area.width() << "x" << area.height()
        << " geometry " << window.geometry().y() << "+" << window.geometry().height() << " min "
        << window.minimumHeight();
  }
};

TEST_F(ScreenFitTest, EveryWindowLiesWithinTheAvailableScreenArea) {
  auto window = Open();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  ExpectOnScreen(*window);

  HelpWindow help(*data_, {}, window.get());
  window->SetHelpWindow(&help);
  help.ShowOrRaise();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
  ExpectOnScreen(help);
  help.hide();

  for (auto kind :
       {quorvel::CustomDictionary::Kind::kStandard, quorvel::CustomDictionary::Kind::kWadeGiles}) {
    SCOPED_TRACE(kind == quorvel::CustomDictionary::Kind::kStandard ? "pinyin editor"
                                                                    : "Wade-Giles editor");
    DictionaryEditor editor(*data_, kind, window.get());
    bool checked = false;
    QTimer::singleShot(0, [&] {
      ExpectOnScreen(editor);
      // The list shrinks with the window; it keeps its bottom margin and room for some lines.
      QListWidget* list = editor.Controls().entryList;
      EXPECT_EQ(list->geometry().bottom() + 1, editor.height() - 16);
      EXPECT_GE(list->height(), 44);
      checked = true;
      editor.reject();
    });
    editor.exec();
    EXPECT_TRUE(checked);
  }

  AboutWindow about(window.get());
  QTimer::singleShot(0, [&] {
    ExpectOnScreen(about);
    about.reject();
  });
  about.exec();
}

// The file dialogs, message boxes and questions of the real dialog interface, as the user sees
// them.
TEST_F(ScreenFitTest, FileDialogsAndMessageBoxesLieWithinTheAvailableScreenArea) {
  auto window = Open();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QtPlatformDialogs dialogs;
  const std::function<void(const QString&)> ignore = [](const QString&) {};
  const std::pair<const char*, std::function<void()>> shows[] = {
      {"open dialog", [&] { dialogs.ChooseOpenFile(window.get(), dir_.path(), ignore); }},
      {"save dialog",
       [&] { dialogs.ChooseSaveFile(window.get(), PathOf("names_en.txt"), ignore); }},
      {"question",
       [&] { dialogs.Confirm(window.get(), QString(40, QLatin1Char('x')).repeated(30)); }},
  };
  for (const auto& [what, show] : shows) {
    SCOPED_TRACE(what);
    bool checked = false;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      ExpectOnScreen(*dialog);
      checked = true;
      static_cast<QDialog*>(dialog)->reject();
    });
    show();
    EXPECT_TRUE(checked);
  }
}

// The sample-name picture is drawn for the screen's pixels: twice the pixels at 2x, the same
// size on screen.
TEST_F(ScreenFitTest, PicturesHaveThePixelsOfTheScreen) {
  auto window = Open();
  const QPixmap picture = Get<QLabel>(*window, "sampleNameImage")->pixmap();
  EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(164, 21));
  const qreal ratio = window->devicePixelRatioF();
  EXPECT_EQ(picture.devicePixelRatio(), ratio > 1.0 ? 2.0 : 1.0);
  EXPECT_EQ(picture.size(), ratio > 1.0 ? QSize(328, 42) : QSize(164, 21));
}

}  // namespace

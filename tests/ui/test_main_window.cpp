// The main window: its controls, the interface language, the conversion settings, the
// conversion run, the closing and the banner.
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>

#include <sys/stat.h>
#include <unistd.h>
#include <map>
#include <optional>

#include "Encoding.h"
#include "HelpWindow.h"
#include "NameRomanizer.h"
#include "Settings.h"
#include "TestSupport.h"
#include "Version.h"
#include "WebBanner.h"
#include "WindowTestSupport.h"

namespace {

using Kind = RecordingDialogs::Kind;
using Call = RecordingDialogs::Call;

const QString kNoSource = QStringLiteral("没找到源文件,请选择");
const QString kDone = QStringLiteral("转换完成，是否打开文件\r\r");

QString TextOf(const QWidget* widget) {
  if (auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
  return widget->property("text").toString();
}

// ---- Controls ----------------------------------------------------------------------------------

TEST_F(WindowTest, ControlsHaveTheirPlacesTextsAndVisibility) {
  auto window = Open();
  struct Row {
    const char* name;
    QRect place;  // in the client area below the menu; height -1: the control's own height
    const char* text;
    bool visible;
  } rows[] = {
      {"banner", {8, 5, 500, 70}, "", true},
      {"readingsLabel", {8, 90, 42, 17}, "多音字", true},
      {"readingsCombo", {55, 85, 127, -1}, "给出一个常用发音", true},
      {"separatorLabel", {204, 90, 74, 17}, "名字分隔符", true},
      {"separatorCombo", {280, 85, 76, -1}, "\"－\"分隔", true},
      {"chineseInterfaceImage", {356, 84, 73, 25}, "", false},
      {"wadeGilesCheck", {390, 88, 119, 17}, "韦氏/港台拼音", true},
      {"englishInterfaceImage", {432, 84, 73, 25}, "", false},
      {"sampleNameImage", {6, 115, 169, 25}, "", true},
      {"formatGroup", {8, 143, 500, 80}, "English Name Format", true},
      {"sourceLabel", {9, 235, 86, 17}, "中文姓名文件", true},
      {"sourcePathEdit", {95, 233, 330, 21}, "", true},
      {"openButton", {440, 230, 60, 25}, "打开", true},
      {"targetLabel", {9, 268, 85, 17}, "拼音姓名文件", true},
      {"targetPathEdit", {95, 265, 330, 21}, "", true},
      {"convertButton", {440, 262, 60, 25}, "转换", true},
  };
  QWidget* client = window->centralWidget();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto* widget = Get<QWidget>(*window, row.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), client);
    QRect expected = row.place;
    if (expected.height() < 0) expected.setHeight(widget->height());
    EXPECT_EQ(widget->geometry(), expected);
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      EXPECT_EQ(combo->currentText(), QString::fromUtf8(row.text));
    } else if (row.name != std::string_view("banner")) {
      EXPECT_EQ(TextOf(widget), QString::fromUtf8(row.text));  // pictures: no text
    }
    EXPECT_EQ(widget->isVisibleTo(window.get()), row.visible);
  }
  // The pictures at their natural sizes.
  EXPECT_EQ(Get<QLabel>(*window, "sampleNameImage")->pixmap().size(), QSize(164, 21));
  EXPECT_EQ(Get<QLabel>(*window, "chineseInterfaceImage")->pixmap().size(), QSize(68, 19));
  EXPECT_EQ(Get<QLabel>(*window, "englishInterfaceImage")->pixmap().size(), QSize(70, 18));
}

// The window and task-bar icon is the menu entry's: from the desktop's icon theme, or, where the
// theme lacks it, the same pictures built into the program, at every size the menu has.
TEST_F(WindowTest, TheWindowIconIsTheMenuEntrysIcon) {
  const QString id = QStringLiteral("io.github.quorvel.Quorvel");
  const QString shipped =
      QStringLiteral(QUORVEL_SOURCE_DIR "/dist/icons/hicolor/%1x%1/apps/") + id + ".png";
  {
    auto window = Open();
    for (int size : {16, 32, 48, 256}) {
      SCOPED_TRACE(size);
      const QImage expected =
          QImage(shipped.arg(size)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
      ASSERT_FALSE(expected.isNull());
      EXPECT_EQ(window->windowIcon()
                    .pixmap(QSize(size, size), 1.0)
                    .toImage()
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                expected);
    }
  }
  // An icon theme that holds the icon, as the installed package puts it there.
  QTemporaryDir themes;
  ASSERT_TRUE(themes.isValid());
  QDir(themes.path()).mkpath(QStringLiteral("hicolor/48x48/apps"));
  QFile::copy(shipped.arg(48),
              themes.filePath(QStringLiteral("hicolor/48x48/apps/") + id + ".png"));
  QFile index(themes.filePath(QStringLiteral("hicolor/index.theme")));
  ASSERT_TRUE(index.open(QIODevice::WriteOnly));
  index.write(
      "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
  index.close();
  const QStringList oldPaths = QIcon::themeSearchPaths();
  const QString oldTheme = QIcon::themeName();
  QIcon::setThemeSearchPaths({themes.path()});
  QIcon::setThemeName(QStringLiteral("hicolor"));
  auto window = Open();
  EXPECT_EQ(window->windowIcon().name(), id) << "taken from the icon theme";
  QIcon::setThemeSearchPaths(oldPaths);
  QIcon::setThemeName(oldTheme);
}

TEST_F(WindowTest, ItemsAndInitialChoices) {
  auto window = Open();
  auto items = [](QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
  };
  EXPECT_EQ(items(Get<QComboBox>(*window, "readingsCombo")),
            QStringList({QStringLiteral("给出一个常用发音"), QStringLiteral("给出所有发音")}));
  EXPECT_EQ(items(Get<QComboBox>(*window, "separatorCombo")),
            QStringList({QStringLiteral("\"－\"分隔"), QStringLiteral("空格分隔"),
                         QStringLiteral("不分隔")}));
  EXPECT_EQ(items(Get<QComboBox>(*window, "umlautCombo")),
            QStringList({QStringLiteral("v"), QStringLiteral("yu"), QStringLiteral("u"),
                         QStringLiteral("ü")}));
  EXPECT_EQ(Get<QLabel>(*window, "umlautLabel")->text(), QStringLiteral("ü 写作"));
  EXPECT_EQ(Get<QCheckBox>(*window, "passportCheck")->text(), QStringLiteral("护照格式"));
  EXPECT_FALSE(Get<QCheckBox>(*window, "passportCheck")->isChecked());
  for (const char* name : {"readingsCombo", "separatorCombo", "umlautCombo"})
    EXPECT_FALSE(Get<QComboBox>(*window, name)->isEditable()) << name;
  // The spelling sits under the separator, the passport tick under the Wade-Giles tick.
  EXPECT_EQ(Get<QWidget>(*window, "umlautCombo")->x(),
            Get<QWidget>(*window, "separatorCombo")->x());
  EXPECT_GT(Get<QWidget>(*window, "umlautCombo")->y(),
            Get<QWidget>(*window, "separatorCombo")->geometry().bottom());
  EXPECT_EQ(Get<QWidget>(*window, "passportCheck")->x(),
            Get<QWidget>(*window, "wadeGilesCheck")->x());
  EXPECT_LT(Get<QWidget>(*window, "passportCheck")->geometry().bottom(),
            Get<QWidget>(*window, "formatGroup")->y());

  // Ten formats in five columns of two, filled column by column.
  const QStringList formats = {"dehua liu", "Dehua Liu", "dehua LIU", "Dehua LIU", "dehualiu",
                               "liu dehua", "Liu Dehua", "LIU dehua", "LIU Dehua", "liudehua"};
  auto* group = Get<QGroupBox>(*window, "formatGroup");
  QList<QRadioButton*> buttons;
  for (int i = 0; i < 10; ++i) {
    auto* button = group->findChild<QRadioButton*>(QStringLiteral("formatButton%1").arg(i));
    ASSERT_NE(button, nullptr) << i;
    EXPECT_EQ(button->text(), formats[i]);
    EXPECT_EQ(button->isChecked(), i == 1) << i;
    buttons << button;
  }
  for (int column = 0; column < 5; ++column) {
    QRadioButton* top = buttons[2 * column];
    QRadioButton* bottom = buttons[2 * column + 1];
    EXPECT_EQ(top->x(), bottom->x()) << column;
    EXPECT_LT(top->y(), bottom->y()) << column;
    if (column > 0) {
      EXPECT_GT(top->x(), buttons[2 * column - 2]->x() + top->width() / 2);
    }
  }

  const quorvel::ConversionOptions options = window->CurrentOptions();
  EXPECT_EQ(options, quorvel::ConversionOptions{})
      << "first reading, hyphen, pinyin, \"Dehua Liu\"";
  for (const char* name : {"sourcePathEdit", "targetPathEdit"}) {
    EXPECT_TRUE(Get<QLineEdit>(*window, name)->isReadOnly()) << name;
    EXPECT_TRUE(Get<QLineEdit>(*window, name)->text().isEmpty()) << name;
  }
  EXPECT_TRUE(Get<QPushButton>(*window, "convertButton")->isDefault());
  EXPECT_TRUE(Get<QPushButton>(*window, "convertButton")->isEnabled());
  // The editors are plugged in later; until then their items are there but disabled.
  EXPECT_FALSE(Get<QAction>(*window, "pinyinDictionaryAction")->isEnabled());
  EXPECT_FALSE(Get<QAction>(*window, "wadeGilesDictionaryAction")->isEnabled());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(WindowTest, MenuBarReadsFileDictionariesHelpLanguageWebsiteWithMnemonicsAndShortcuts) {
  auto window = Open();
  auto* bar = window->menuBar();
  QStringList top;
  for (QAction* action : bar->actions())
    top << (action->menu() ? action->menu()->objectName() : action->objectName());
  EXPECT_EQ(top, QStringList(
                     {"fileMenu", "dictionaryMenu", "helpMenu", "languageMenu", "websiteAction"}));
  auto names = [](QMenu* menu) {
    QStringList list;
    for (QAction* action : menu->actions())
      list << (action->isSeparator() ? QStringLiteral("-") + action->objectName()
                                     : action->objectName());
    return list;
  };
  EXPECT_EQ(
      names(Get<QMenu>(*window, "fileMenu")),
      QStringList({"openSourceAction", "chooseTargetAction", "-fileMenuSeparator", "exitAction"}));
  EXPECT_EQ(names(Get<QMenu>(*window, "dictionaryMenu")),
            QStringList({"pinyinDictionaryAction", "wadeGilesDictionaryAction"}));
  EXPECT_EQ(names(Get<QMenu>(*window, "helpMenu")),
            QStringList({"helpAction", "onlineHelpAction", "-helpMenuSeparator", "aboutAction"}));
  EXPECT_EQ(names(Get<QMenu>(*window, "languageMenu")),
            QStringList({"chineseLanguageAction", "englishLanguageAction"}));
  EXPECT_EQ(Get<QMenu>(*window, "dictionaryMenu")->title(), QStringLiteral("字库(&D)"));
  EXPECT_EQ(Get<QAction>(*window, "pinyinDictionaryAction")->text(),
            QStringLiteral("自定义标准拼音(&P)"));
  EXPECT_EQ(Get<QAction>(*window, "wadeGilesDictionaryAction")->text(),
            QStringLiteral("自定义韦氏港台拼音(&W)"));
  EXPECT_EQ(Get<QAction>(*window, "chineseLanguageAction")->text(), QStringLiteral("中文(&C)"));
  EXPECT_EQ(Get<QAction>(*window, "englishLanguageAction")->text(), QStringLiteral("&English"));

  const std::map<QString, QKeySequence> shortcuts = {
      {"openSourceAction", QKeySequence("Ctrl+O")},
      {"chooseTargetAction", QKeySequence("Ctrl+S")},
      {"exitAction", QKeySequence("Ctrl+Q")},
      {"helpAction", QKeySequence("F1")},
      {"pinyinDictionaryAction", QKeySequence("Ctrl+1")},
      {"wadeGilesDictionaryAction", QKeySequence("Ctrl+2")},
      {"convertAction", QKeySequence("Ctrl+Return")}};
  for (QAction* action : window->findChildren<QAction*>()) {
    const QString name = action->objectName();
    SCOPED_TRACE(name.toStdString());
    if (action->isSeparator() || name.isEmpty()) continue;  // the menus' own actions
    EXPECT_EQ(action->shortcut(), shortcuts.count(name) ? shortcuts.at(name) : QKeySequence());
    // Every item of the menus has its mnemonic, each letter once per menu.
    if (name != "convertAction") {
      EXPECT_EQ(action->text().count(QLatin1Char('&')), 1);
    }
  }
  for (QMenu* menu : {bar->findChild<QMenu*>("fileMenu"), bar->findChild<QMenu*>("dictionaryMenu"),
                      bar->findChild<QMenu*>("helpMenu"), bar->findChild<QMenu*>("languageMenu")}) {
    ASSERT_NE(menu, nullptr);
    QSet<QChar> letters;
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      const QChar letter =
          action->text().at(action->text().indexOf(QLatin1Char('&')) + 1).toUpper();
      EXPECT_FALSE(letters.contains(letter))
          << menu->objectName().toStdString() << " " << QString(letter).toStdString();
      letters.insert(letter);
    }
  }
  QSet<QChar> barLetters;
  for (QAction* action : bar->actions()) {
    const QString text = action->menu() ? action->menu()->title() : action->text();
    ASSERT_EQ(text.count(QLatin1Char('&')), 1) << text.toStdString();
    EXPECT_FALSE(barLetters.contains(text.at(text.indexOf(QLatin1Char('&')) + 1).toUpper()))
        << text.toStdString();
    barLetters.insert(text.at(text.indexOf(QLatin1Char('&')) + 1).toUpper());
  }
}

// The texts must fit their fixed boxes in the fonts the window uses.
TEST_F(WindowTest, NoTextIsClippedByItsBox) {
  auto window = Open();
  window->show();
  auto inkFits = [](const QWidget* widget, const QString& text, int width) {
    const QFontMetrics metrics(widget->font());
    EXPECT_LE(metrics.horizontalAdvance(text), width) << text.toStdString();
    EXPECT_LE(metrics.tightBoundingRect(text).height(), widget->height()) << text.toStdString();
  };
  for (const char* name : {"sourceLabel", "targetLabel", "separatorLabel", "readingsLabel"}) {
    auto* label = Get<QLabel>(*window, name);
    inkFits(label, label->text(), label->contentsRect().width());
  }
  for (QAbstractButton* button : window->centralWidget()->findChildren<QAbstractButton*>()) {
    SCOPED_TRACE(button->objectName().toStdString());
    if (qobject_cast<QPushButton*>(button)) {
      const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
      inkFits(button, button->text(), button->width() - margin);
    } else {
      EXPECT_LE(button->sizeHint().width(), button->width());
      inkFits(button, button->text(), button->width());
    }
  }
  for (QComboBox* combo : window->centralWidget()->findChildren<QComboBox*>()) {
    SCOPED_TRACE(combo->objectName().toStdString());
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.rect = combo->rect();
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    for (int i = 0; i < combo->count(); ++i) inkFits(combo, combo->itemText(i), field.width() - 2);
  }
  auto* group = Get<QGroupBox>(*window, "formatGroup");
  EXPECT_LE(QFontMetrics(group->font()).horizontalAdvance(group->title()), group->width());
  for (QRadioButton* button : group->findChildren<QRadioButton*>())
    EXPECT_TRUE(group->rect().contains(button->geometry())) << button->objectName().toStdString();
  // Everything lies inside the client area of the window as it opens.
  for (QWidget* child : window->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(window->centralWidget()->rect().contains(child->geometry()))
        << child->objectName().toStdString();
}

TEST_F(WindowTest, TabFollowsTheControlsAsTheyStandAndEnterPressesConvert) {
  Write("banner.html", "<!DOCTYPE html><html><body>banner</body></html>");
  auto window = Open(QUrl::fromLocalFile(PathOf("banner.html")));
  QSignalSpy adjusted(window.get(), &MainWindow::bannerAdjusted);
  window->show();
  QApplication::setActiveWindow(window.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  ASSERT_TRUE(adjusted.wait(60000));

  auto current = [&] {
    // The banner's keyboard focus lies on a widget inside the web view.
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
      if (w->parentWidget() == window->centralWidget() || qobject_cast<QRadioButton*>(w))
        return w->objectName();
    return QStringLiteral("?");
  };
  QStringList order{current()};
  for (int i = 0; i < 10; ++i) {
    const QString before = current();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    // The web page answers a key from another process: wait for the focus to move on.
    (void)QTest::qWaitFor([&] { return current() != before; }, 5000);
    order << current();
  }
  // Top to bottom, left to right, from the name formats where the focus starts; the banner is
  // passed over.
  EXPECT_EQ(order,
            QStringList({"formatButton1", "sourcePathEdit", "openButton", "targetPathEdit",
                         "convertButton", "readingsCombo", "separatorCombo", "wadeGilesCheck",
                         "umlautCombo", "passportCheck", "formatButton1"}));
  // Each label names the control it stands for.
  for (auto [label, buddy] : {std::pair{"readingsLabel", "readingsCombo"},
                              {"separatorLabel", "separatorCombo"},
                              {"umlautLabel", "umlautCombo"},
                              {"sourceLabel", "sourcePathEdit"},
                              {"targetLabel", "targetPathEdit"}})
    EXPECT_EQ(Get<QLabel>(*window, label)->buddy(), Get<QWidget>(*window, buddy)) << label;

  // Enter on any control but the open button starts the conversion (here: no source yet).
  for (const char* name : {"formatButton1", "sourcePathEdit", "wadeGilesCheck", "separatorCombo"}) {
    SCOPED_TRACE(name);
    Get<QWidget>(*window, name)->setFocus();
    dialogs_.AnswerFile(std::nullopt);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(dialogs_.Take(),
              (std::vector<Call>{{Kind::kMessage, kNoSource}, {Kind::kOpenDialog, {}}}));
    dialogs_.AnswerFile(std::nullopt);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(dialogs_.Take(),
              (std::vector<Call>{{Kind::kMessage, kNoSource}, {Kind::kOpenDialog, {}}}));
  }
  Get<QWidget>(*window, "openButton")->setFocus();
  dialogs_.AnswerFile(std::nullopt);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kOpenDialog, {}}}));
}

// ---- Interface language ------------------------------------------------------------------------

struct Captions {
  const char* openButton;
  const char* convertButton;
  const char* fileMenu;
  const char* openSourceAction;
  const char* chooseTargetAction;
  const char* exitAction;
  const char* helpMenu;
  const char* helpAction;
  const char* onlineHelpAction;
  const char* aboutAction;
  const char* websiteAction;
};
// Menu captions with their mnemonics: "文件(&F)" shows as "文件(F)" with the F underlined.
const Captions kChinese = {
    "打开",     "转换",     "文件(&F)",     "打开中文姓名文件(&O)", "英文姓名文件保存为(&S)",
    "退出(&X)", "帮助(&H)", "使用说明(&C)", "在线帮助(&O)",         "关于(&A)",
    "官网(&W)"};
const Captions kEnglish = {"Open",  "Start",    "&File",        "&Open",  "&Save as", "E&xit",
                           "&Help", "&Content", "&Online help", "&About", "&Website"};

void ExpectCaptions(const MainWindow& window, const Captions& c) {
  auto action = [&](const char* name) { return WindowTest::Get<QAction>(window, name)->text(); };
  auto menu = [&](const char* name) { return WindowTest::Get<QMenu>(window, name)->title(); };
  EXPECT_EQ(WindowTest::Get<QPushButton>(window, "openButton")->text(),
            QString::fromUtf8(c.openButton));
  EXPECT_EQ(WindowTest::Get<QPushButton>(window, "convertButton")->text(),
            QString::fromUtf8(c.convertButton));
  EXPECT_EQ(menu("fileMenu"), QString::fromUtf8(c.fileMenu));
  EXPECT_EQ(action("openSourceAction"), QString::fromUtf8(c.openSourceAction));
  EXPECT_EQ(action("chooseTargetAction"), QString::fromUtf8(c.chooseTargetAction));
  EXPECT_EQ(action("exitAction"), QString::fromUtf8(c.exitAction));
  EXPECT_EQ(menu("helpMenu"), QString::fromUtf8(c.helpMenu));
  EXPECT_EQ(action("helpAction"), QString::fromUtf8(c.helpAction));
  EXPECT_EQ(action("onlineHelpAction"), QString::fromUtf8(c.onlineHelpAction));
  EXPECT_EQ(action("aboutAction"), QString::fromUtf8(c.aboutAction));
  EXPECT_EQ(action("websiteAction"), QString::fromUtf8(c.websiteAction));
  // Both languages show the program's own version.
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvel v") + QLatin1String(quorvel::kVersion));
  const bool english = c.convertButton == std::string_view("Start");
  EXPECT_EQ(WindowTest::Get<QMenu>(window, "languageMenu")->title(),
            english ? QStringLiteral("&Language") : QStringLiteral("语言(&L)"));
  EXPECT_EQ(WindowTest::Get<QAction>(window, "englishLanguageAction")->isChecked(), english);
  EXPECT_EQ(WindowTest::Get<QAction>(window, "chineseLanguageAction")->isChecked(), !english);
  // Qt's own texts (standard buttons, file dialogs) follow at once.
  QDialogButtonBox buttons(QDialogButtonBox::Yes);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text(),
            english ? QStringLiteral("&Yes") : QStringLiteral("是(&Y)"));
  // Everything else keeps its Chinese text.
  EXPECT_EQ(WindowTest::Get<QMenu>(window, "dictionaryMenu")->title(), QStringLiteral("字库(&D)"));
  EXPECT_EQ(WindowTest::Get<QLabel>(window, "sourceLabel")->text(), QStringLiteral("中文姓名文件"));
  EXPECT_EQ(WindowTest::Get<QCheckBox>(window, "wadeGilesCheck")->text(),
            QStringLiteral("韦氏/港台拼音"));
  EXPECT_EQ(WindowTest::Get<QComboBox>(window, "readingsCombo")->itemText(1),
            QStringLiteral("给出所有发音"));
}

TEST_F(WindowTest, LanguageComesFromConfigDbAndIsWrittenBackAtEveryStart) {
  struct Row {
    std::optional<QByteArray> content;
    bool english;
    const char* why;
  } rows[] = {
      {std::nullopt, false, "no file: Chinese"},
      {"en", true, "en without a line end"},
      {"en\r\n", true, "en as written"},
      {"EN\r\n", false, "case counts"},
      {"en \r\n", false, "a trailing blank counts"},
      {"fr\r\nen\r\n", false, "en on the second line"},
      {"ch\r\n", false, "ch as written"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QFile::remove(PathOf("config.db"));
    if (row.content) Write("config.db", *row.content);
    auto window = Open();
    EXPECT_EQ(window->UiLanguage(),
              row.english ? quorvel::UiLanguage::kEnglish : quorvel::UiLanguage::kChinese);
    ExpectCaptions(*window, row.english ? kEnglish : kChinese);
    EXPECT_EQ(Read("config.db"), row.english ? QByteArray("en\r\n") : QByteArray("ch\r\n"));
    EXPECT_TRUE(dialogs_.Take().empty());
  }
}

TEST_F(WindowTest, TheLanguageMenuSwitchesTheCaptionsAtOnceAndRecordsTheChoice) {
  auto window = Open();
  Get<QAction>(*window, "englishLanguageAction")->trigger();
  EXPECT_EQ(window->UiLanguage(), quorvel::UiLanguage::kEnglish);
  ExpectCaptions(*window, kEnglish);
  EXPECT_EQ(Read("config.db"), QByteArray("en\r\n"));
  Get<QAction>(*window, "chineseLanguageAction")->trigger();
  EXPECT_EQ(window->UiLanguage(), quorvel::UiLanguage::kChinese);
  ExpectCaptions(*window, kChinese);
  EXPECT_EQ(Read("config.db"), QByteArray("ch\r\n"));
  // The next start comes up in the language chosen last.
  Get<QAction>(*window, "englishLanguageAction")->trigger();
  window->close();
  auto next = Open();
  ExpectCaptions(*next, kEnglish);
  EXPECT_TRUE(dialogs_.Take().empty());
}

TEST_F(WindowTest, HiddenLanguageSwitchesApplyAndRecordTheLanguage) {
  auto window = Open();
  window->switchToEnglish();
  EXPECT_EQ(window->UiLanguage(), quorvel::UiLanguage::kEnglish);
  ExpectCaptions(*window, kEnglish);
  EXPECT_EQ(Read("config.db"), QByteArray("en\r\n"));
  window->switchToChinese();
  EXPECT_EQ(window->UiLanguage(), quorvel::UiLanguage::kChinese);
  ExpectCaptions(*window, kChinese);
  EXPECT_EQ(Read("config.db"), QByteArray("ch\r\n"));
}

QString CannotRead(const QString& path, const char* why) {
  return QStringLiteral("无法读取设置文件“%1”：%2").arg(path, QLatin1String(why));
}
QString CannotWrite(const QString& path, const char* why) {
  return QStringLiteral("无法写入设置文件“%1”：%2").arg(path, QLatin1String(why));
}

// A file that exists and opens but whose reading fails, as a damaged disk gives it, even for root.
void MakeUnreadable(const QString& path) {
  QFile::remove(path);
  ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), path));
}
bool IsStillUnreadable(const QString& path) {
  return QFileInfo(path).symLinkTarget() == "/proc/self/mem";
}

// A failure with one settings file never keeps the other from loading, is reported with the
// file's path, and never lets the initial values overwrite a file that could not be read.
TEST_F(WindowTest, SettingsFailuresNameTheFileAndLoseNothing) {
  CopyListFiles();
  const QByteArray restored = "1\r\n2\r\n1\r\n9\r\n0\r\n";
  struct Row {
    const char* why;
    std::function<void()> prepare;
    std::function<QString()> error;
    bool english;
    bool settingsRestored;
    std::function<void(MainWindow&)> change;  // what the user does before closing
    std::function<void()> afterClose;
  };
  auto path = [this](const char* name) { return PathOf(QLatin1String(name)); };
  const Row rows[] = {
      {"config.db a folder: cannot be written; config1.dll still loads",
       [&]() {
         ASSERT_EQ(::mkdir(QFile::encodeName(path("config.db")).constData(), 0755), 0);
         Write("config1.dll", restored);
       },
       [&]() { return CannotWrite(path("config.db"), "File access denied (Is a directory)"); },
       false,
       true,
       {},
       [&]() {
         EXPECT_TRUE(QFileInfo(path("config.db")).isDir());
         EXPECT_EQ(Read("config1.dll"), restored);
       }},
      {"config.db unreadable: Chinese, config1.dll loads, config.db is not overwritten",
       [&]() {
         MakeUnreadable(path("config.db"));
         Write("config1.dll", restored);
       },
       [&]() { return CannotRead(path("config.db"), "I/O error 5 (Input/output error)"); },
       false,
       true,
       {},
       [&]() {
         EXPECT_TRUE(IsStillUnreadable(path("config.db")));
         EXPECT_EQ(Read("config1.dll"), restored);
       }},
      {"config1.dll unreadable: the language loads, config1.dll is not overwritten",
       [&]() {
         Write("config.db", "en\r\n");
         MakeUnreadable(path("config1.dll"));
       },
       [&]() { return CannotRead(path("config1.dll"), "I/O error 5 (Input/output error)"); },
       true,
       false,
       {},
       [&]() { EXPECT_TRUE(IsStillUnreadable(path("config1.dll"))); }},
      // A link that leads nowhere but to itself cannot be written through: it is replaced.
      {"config1.dll unreadable, but the user changes a choice: that choice is saved",
       [&]() { ASSERT_TRUE(QFile::link(QStringLiteral("config1.dll"), path("config1.dll"))); },
       [&]() { return CannotRead(path("config1.dll"), "Invalid filename"); }, false, false,
       [](MainWindow& w) { WindowTest::Get<QCheckBox>(w, "wadeGilesCheck")->setChecked(true); },
       [&]() { EXPECT_EQ(Read("config1.dll"), QByteArray("0\r\n0\r\n1\r\n1\r\n0\r\n")); }},
      {"a list file unreadable: both settings files still load",
       [&]() {
         MakeUnreadable(path("pinyin_han.dll"));
         Write("config.db", "en\r\n");
         Write("config1.dll", restored);
       },
       [&]() { return QStringLiteral("Cannot open file \"%1\"").arg(path("pinyin_han.dll")); },
       true,
       true,
       {},
       [&]() { EXPECT_EQ(Read("config1.dll"), restored); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QTemporaryDir fresh;
    dir_.swap(fresh);
    data_.reset();
    CopyListFiles();
    row.prepare();
    auto window = Open();
    const std::vector<Call> shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::kError);
    EXPECT_TRUE(shown[0].text.startsWith(row.error())) << shown[0].text.toStdString();
    ExpectCaptions(*window, row.english ? kEnglish : kChinese);
    EXPECT_EQ(quorvel::FormatConversionSettings(window->CurrentOptions()),
              row.settingsRestored ? restored.toStdString() : "0\r\n0\r\n0\r\n1\r\n0\r\n");
    if (row.change) row.change(*window);
    window->close();
    EXPECT_TRUE(dialogs_.Take().empty());
    row.afterClose();
  }
}

// ---- Conversion settings -----------------------------------------------------------------------

TEST_F(WindowTest, SettingsAreRestoredAtStartUpWithTheirFailures) {
  struct Row {
    std::optional<QByteArray> content;
    quorvel::ControlIndexes expected;
    const char* error;
    const char* why;
  } rows[] = {
      {std::nullopt, {0, 0, false, 1}, nullptr, "no file: the initial choices"},
      {"1\r\n2\r\n1\r\n9\r\n",
       {1, 2, true, 9},
       nullptr,
       "all readings, no separator, Wade-Giles, liudehua"},
      {"1\n1\n0\n5\n", {1, 1, false, 5}, nullptr, "LF only"},
      {"0\r\n0\r\n1 \r\n0\r\n", {0, 0, false, 0}, nullptr, "Wade-Giles only for exactly 1"},
      {"1\r\n2\r\n1\r\n",
       {1, 2, true, 1},
       "'' is not a valid integer value.",
       "three lines: three restored, the format stays Dehua Liu"},
      {"1\r\nabc\r\n1\r\n9\r\n3\r\n",
       {1, 0, true, 9, 3},
       "'abc' is not a valid integer value.",
       "a bad second line: each other line is restored"},
      {"5\r\n9\r\n1\r\n-3\r\n",
       {0, 0, true, 1},
       nullptr,
       "out of range: those controls keep their initial values"},
      {"0\r\n1\r\n0\r\n6\r\n3\r\n", {0, 1, false, 6, 3}, nullptr, "the fifth line: the spelling ü"},
      {"0\r\n0\r\n0\r\n10\r\n2\r\n", {0, 0, false, 10, 2}, nullptr, "the passport format"},
      {"0\r\n0\r\n0\r\n1\r\n9\r\n", {0, 0, false, 1, 0}, nullptr, "a spelling out of range is v"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QFile::remove(PathOf("config1.dll"));
    if (row.content) Write("config1.dll", *row.content);
    auto window = Open();
    const quorvel::ConversionOptions got = window->CurrentOptions();
    const quorvel::ControlIndexes expected = row.expected;
    EXPECT_EQ(quorvel::FormatConversionSettings(got),
              quorvel::FormatConversionSettings(quorvel::OptionsFromControlIndexes(
                  expected.polyphone, expected.separator, expected.wadeGiles, expected.format,
                  expected.umlaut)));
    EXPECT_EQ(Get<QCheckBox>(*window, "passportCheck")->isChecked(), expected.format == 10);
    EXPECT_EQ(Get<QWidget>(*window, "formatGroup")->isEnabled(), expected.format != 10);
    EXPECT_EQ(Get<QWidget>(*window, "umlautCombo")->isEnabled(), expected.format != 10);
    std::vector<Call> expectedCalls;
    if (row.error)
      expectedCalls.push_back({Kind::kError, CannotRead(PathOf("config1.dll"), row.error)});
    EXPECT_EQ(dialogs_.Take(), expectedCalls);
    if (row.content) {
      EXPECT_EQ(Read("config1.dll"), *row.content) << "start-up never writes it";
    }
  }
}

TEST_F(WindowTest, EveryWayOfClosingReleasesTheListsAndSavesTheChoices) {
  CopyListFiles();
  struct Row {
    const char* why;
    std::function<void(MainWindow&)> close;
  } rows[] = {
      {"menu item Exit",
       [](MainWindow& w) { WindowTest::Get<QAction>(w, "exitAction")->trigger(); }},
      {"title bar or keyboard close (a close request from the desktop)",
       [](MainWindow& w) {
         QCloseEvent event;
         QApplication::sendEvent(w.windowHandle(), &event);
       }},
      {"closing the widget", [](MainWindow& w) { w.close(); }},
  };
  int format = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QFile::remove(PathOf("config1.dll"));
    auto window = Open();
    window->show();
    ASSERT_FALSE(data_->List(quorvel::kMappingPinyin).empty());
    Get<QComboBox>(*window, "readingsCombo")->setCurrentIndex(1);
    Get<QComboBox>(*window, "separatorCombo")->setCurrentIndex(2);
    Get<QCheckBox>(*window, "wadeGilesCheck")->setChecked(true);
    Get<QRadioButton>(*window, QStringLiteral("formatButton%1").arg(format).toLatin1().constData())
        ->setChecked(true);
    Get<QComboBox>(*window, "umlautCombo")->setCurrentIndex(format + 1);
    row.close(*window);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(data_->List(quorvel::kMappingPinyin).empty()) << "lists released";
    EXPECT_EQ(Read("config1.dll"),
              QStringLiteral("1\r\n2\r\n1\r\n%1\r\n%2\r\n").arg(format).arg(format + 1).toLatin1());
    ++format;
  }
  EXPECT_TRUE(dialogs_.Take().empty());
}

TEST_F(WindowTest, InitialChoicesSaveAsFiveLinesAndOddFilesAreRewrittenCleanly) {
  {
    auto window = Open();
    window->close();
    EXPECT_EQ(Read("config1.dll"), QByteArray("0\r\n0\r\n0\r\n1\r\n0\r\n", 15));
  }
  Write("config1.dll", "1\r\n7\r\n1\r\n-1\r\n8\r\nextra\r\n");
  {
    auto window = Open();
    window->close();
    EXPECT_EQ(Read("config1.dll"), QByteArray("1\r\n7\r\n1\r\n-1\r\n8\r\nextra\r\n"))
        << "nothing changed: nothing written";
  }
  {
    auto window = Open();
    Get<QComboBox>(*window, "separatorCombo")->setCurrentIndex(1);
    window->close();
    EXPECT_EQ(Read("config1.dll"), QByteArray("1\r\n1\r\n1\r\n1\r\n0\r\n"))
        << "a change: written whole";
  }
  // The passport tick is saved as the eleventh format; unticked, the format buttons' choice is
  // back.
  {
    auto window = Open();
    Get<QRadioButton>(*window, "formatButton6")->setChecked(true);
    Get<QCheckBox>(*window, "passportCheck")->setChecked(true);
    EXPECT_FALSE(Get<QWidget>(*window, "formatGroup")->isEnabled());
    EXPECT_EQ(window->CurrentOptions().format, quorvel::NameFormat::kPassport);
    Get<QCheckBox>(*window, "passportCheck")->setChecked(false);
    EXPECT_EQ(window->CurrentOptions().format, quorvel::NameFormat::kSurnameGivenCapitalised);
    Get<QCheckBox>(*window, "passportCheck")->setChecked(true);
    window->close();
    EXPECT_EQ(Read("config1.dll"), QByteArray("1\r\n1\r\n1\r\n10\r\n0\r\n"));
  }
  Write("config1.dll", "1\r\n0\r\n1\r\n1\r\n");
  auto window = Open();
  EXPECT_EQ(quorvel::FormatConversionSettings(window->CurrentOptions()),
            "1\r\n0\r\n1\r\n1\r\n0\r\n")
      << "a four-line file reads with the spelling v";
  // A damaged line no longer costs the later choices at the next close.
  window.reset();
  Write("config1.dll", "1\r\nabc\r\n1\r\n7\r\n3\r\n");
  window = Open();
  dialogs_.Take();
  window->close();
  EXPECT_EQ(Read("config1.dll"), QByteArray("1\r\nabc\r\n1\r\n7\r\n3\r\n"))
      << "kept until a choice changes";
  EXPECT_TRUE(dialogs_.Take().empty());
}

TEST_F(WindowTest, AFailedSaveIsReportedAndTheWindowStillCloses) {
  auto window = Open();
  window->show();
  ASSERT_EQ(::mkdir(QFile::encodeName(PathOf("config1.dll")).constData(), 0755), 0);
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(
      dialogs_.Take(),
      (std::vector<Call>{{Kind::kError, CannotWrite(PathOf("config1.dll"),
                                                    ("File access denied (Is a directory): \"" +
                                                     PathOf("config1.dll").toStdString() + "\"")
                                                        .c_str())}}));
}

// ---- Files and conversion ----------------------------------------------------------------------

class ConversionTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    window_ = Open();
  }
  void TearDown() override {
    window_.reset();
    WindowTest::TearDown();
  }
  QString Source() const { return Get<QLineEdit>(*window_, "sourcePathEdit")->text(); }
  QString Target() const { return Get<QLineEdit>(*window_, "targetPathEdit")->text(); }
  void Choose(const QString& path) {
    dialogs_.AnswerFile(path);
    window_->openSource();
    EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kOpenDialog, {}}}));
  }

  std::unique_ptr<MainWindow> window_;
};

TEST_F(ConversionTest, ChoosingTheSourceProposesTheTargetAndSaveAsReplacesIt) {
  Choose(PathOf("names.old.txt"));
  EXPECT_EQ(Source(), PathOf("names.old.txt"));
  EXPECT_EQ(Target(), PathOf("names_en.old.txt"));

  dialogs_.AnswerFile(PathOf("elsewhere.txt"));
  Get<QAction>(*window_, "chooseTargetAction")->trigger();
  EXPECT_EQ(Target(), PathOf("elsewhere.txt"));
  // Cancelling either dialog changes nothing.
  dialogs_.AnswerFile(std::nullopt);
  Get<QAction>(*window_, "chooseTargetAction")->trigger();
  dialogs_.AnswerFile(std::nullopt);
  Get<QAction>(*window_, "openSourceAction")->trigger();
  EXPECT_EQ(Source(), PathOf("names.old.txt"));
  EXPECT_EQ(Target(), PathOf("elsewhere.txt"));
  EXPECT_EQ(dialogs_.Take(),
            (std::vector<Call>{
                {Kind::kSaveDialog, {}}, {Kind::kSaveDialog, {}}, {Kind::kOpenDialog, {}}}));
  // A new source proposes its own target again.
  Choose(PathOf("list.txt"));
  EXPECT_EQ(Target(), PathOf("list_en.txt"));
}

// The completion question ends with what the run did: "共写入 3 个姓名，其中 1 个含有“???”，用时
// 0.0 秒。"
QRegularExpression Summary(int names, int withMarker) {
  return QRegularExpression(QRegularExpression::anchoredPattern(
      QStringLiteral("共写入 %1 个姓名，其中 %2 个含有“\\?\\?\\?”，用时 \\d+\\.\\d 秒。")
          .arg(names)
          .arg(withMarker)));
}

TEST_F(ConversionTest, YesOpensTheFinishedTargetAndNoLeavesIt) {
  Write("names.txt", QStringLiteral("刘德华\r\n\r\n刘德华").toUtf8());
  Choose(PathOf("names.txt"));
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    QFile::remove(PathOf("names_en.txt"));
    dialogs_.AnswerConfirm(yes);
    Get<QPushButton>(*window_, "convertButton")->click();
    std::vector<Call> shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), yes ? 2u : 1u);
    EXPECT_EQ(shown[0].kind, Kind::kConfirm);
    EXPECT_EQ(shown[0].preselected, PlatformDialogs::Answer::kYes);
    const QString head = kDone + PathOf("names_en.txt") + QStringLiteral("\r\r");
    ASSERT_TRUE(shown[0].text.startsWith(head)) << shown[0].text.toStdString();
    EXPECT_TRUE(Summary(3, 1).match(shown[0].text.mid(head.size())).hasMatch())
        << shown[0].text.toStdString();
    if (yes) {
      EXPECT_EQ(shown[1], (Call{Kind::kDesktop, PathOf("names_en.txt")}));
    }
    // The first separator item joins the syllables with "-"; a blank line has the surname "???".
    EXPECT_EQ(Read("names_en.txt"), QByteArray("De-hua Liu\r\n ???\r\nDe-hua Liu\r\n"));
  }
}

// A UTF-8 source with a stray byte is still read as UTF-8, and the completion question says how
// many damaged places became "???".
TEST_F(ConversionTest, TheSummaryCountsDamagedPlacesOfAUnicodeSource) {
  Write("names.txt", QStringLiteral("刘德华\n单田芳\n张学友\n").toUtf8().insert(13, '\xe7'));
  Choose(PathOf("names.txt"));
  dialogs_.AnswerConfirm(false);
  window_->convert();
  std::vector<Call> shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.endsWith(QStringLiteral("\r源文件有 1 处无效的编码，每处写作“???”。")))
      << shown[0].text.toStdString();
  EXPECT_EQ(Read("names_en.txt"),
            QByteArray("De-hua Liu\r\n???-tian-fang Shan\r\nXue-you Zhang\r\n"));
}

// Without a program for the file (no desktop launcher at all, as on a bare server), Yes must not
// end in silence.
TEST_F(ConversionTest, AFinishedFileThatCannotBeOpenedIsNamedInAMessage) {
  Write("names.txt", QStringLiteral("刘德华\n").toUtf8());
  Choose(PathOf("names.txt"));
  dialogs_.AnswerConfirm(true);
  dialogs_.AnswerDesktop(false);
  window_->convert();
  std::vector<Call> shown = dialogs_.Take();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[1], (Call{Kind::kDesktop, PathOf("names_en.txt")}));
  EXPECT_EQ(shown[2],
            (Call{Kind::kMessage, QStringLiteral("无法打开文件：桌面上没有可以打开它的程序。\r\r") +
                                      PathOf("names_en.txt")}));
}

// When the desktop would open the result with Quorvel itself, a second Quorvel with the result as
// its names file is never started: the message says so and offers the folder instead.
TEST_F(ConversionTest, AResultThatWouldOpenInQuorvelItselfOffersItsFolder) {
  Write("names.txt", QStringLiteral("刘德华\n").toUtf8());
  Choose(PathOf("names.txt"));
  dialogs_.AnswerOpensWithThisProgram(true);
  const QString offer = QStringLiteral(
                            "桌面设定用 Quorvel 本身打开这种文件，打开它只会再启动一个 Quorvel。"
                            "\r是否打开它所在的文件夹？\r\r") +
                        dir_.path();
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "Yes: the folder opens" : "No: nothing opens");
    dialogs_.AnswerConfirm(true);
    dialogs_.AnswerConfirm(yes);
    window_->convert();
    std::vector<Call> shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), yes ? 3u : 2u);
    EXPECT_TRUE(shown[0].text.startsWith(kDone));
    EXPECT_EQ(shown[1], (Call{Kind::kConfirm, offer}));
    if (yes) {
      EXPECT_EQ(shown[2], (Call{Kind::kDesktop, dir_.path()}));
    }
  }
}

// Open starts in the folder last used (at first the home folder, never the working folder); Save as
// in the source's folder with the proposed name filled in.
TEST_F(ConversionTest, FileDialogsStartWhereTheFilesAre) {
  dialogs_.AnswerFile(std::nullopt);
  window_->openSource();
  dialogs_.AnswerFile(std::nullopt);
  window_->chooseTarget();
  EXPECT_EQ(dialogs_.Starts(), (std::vector<QString>{QDir::homePath(), QDir::homePath()}));
  dialogs_.Take();

  ASSERT_TRUE(QDir(dir_.path()).mkpath("in"));
  Choose(PathOf("in/names.txt"));
  dialogs_.AnswerFile(std::nullopt);
  window_->chooseTarget();
  dialogs_.AnswerFile(std::nullopt);
  window_->openSource();
  EXPECT_EQ(dialogs_.Starts(),
            (std::vector<QString>{QDir::homePath(), PathOf("in/names_en.txt"), PathOf("in")}));

  // A target chosen elsewhere: Save as starts at it, and Open in its folder, the last one used.
  dialogs_.AnswerFile(PathOf("out.txt"));
  window_->chooseTarget();
  dialogs_.AnswerFile(std::nullopt);
  window_->chooseTarget();
  dialogs_.AnswerFile(std::nullopt);
  window_->openSource();
  EXPECT_EQ(dialogs_.Starts(),
            (std::vector<QString>{PathOf("in/names_en.txt"), PathOf("out.txt"), dir_.path()}));
  dialogs_.Take();
}

// A file dropped on the window, or given as the program's argument, is taken as the open dialog
// takes one: the source and the proposed target.
TEST_F(ConversionTest, ADroppedFileOrTheProgramArgumentFillsSourceAndTarget) {
  Write("names.txt", "x");
  Write("other.txt", "x");
  ASSERT_TRUE(QDir(dir_.path()).mkpath("folder"));
  window_->show();
  auto drag = [&](const QList<QUrl>& urls, QWidget* over) {
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    const QPoint at = over->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(over, &enter);
    bool accepted = enter.isAccepted();
    if (accepted) {
      QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(over, &drop);
    }
    delete mime;
    return accepted;
  };
  struct Row {
    QList<QUrl> urls;
    const char* over;
    bool accepted;
    QString source;
    const char* why;
  } rows[] = {
      {{QUrl::fromLocalFile(PathOf("names.txt"))},
       "sourcePathEdit",
       true,
       PathOf("names.txt"),
       "on the source field"},
      {{QUrl::fromLocalFile(PathOf("other.txt"))},
       "formatGroup",
       true,
       PathOf("other.txt"),
       "on the name formats"},
      {{QUrl::fromLocalFile(PathOf("names.txt")), QUrl::fromLocalFile(PathOf("other.txt"))},
       "sourcePathEdit",
       false,
       PathOf("other.txt"),
       "two files: which one is meant?"},
      {{QUrl::fromLocalFile(PathOf("folder"))},
       "sourcePathEdit",
       false,
       PathOf("other.txt"),
       "a folder"},
      {{QUrl(QStringLiteral("https://quorvel.example/names.txt"))},
       "sourcePathEdit",
       false,
       PathOf("other.txt"),
       "a web address"},
      {{QUrl::fromLocalFile(PathOf("names.txt"))},
       "banner",
       true,
       PathOf("names.txt"),
       "on the built-in banner"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(drag(row.urls, Get<QWidget>(*window_, row.over)), row.accepted);
    EXPECT_EQ(Source(), row.source);
    EXPECT_EQ(Target(), QString(row.source).replace(".txt", "_en.txt"));
  }

  // The argument, relative to the working folder as a shell gives it.
  const QString workingFolder = QDir::currentPath();
  QDir::setCurrent(dir_.path());
  EXPECT_TRUE(window_->OpenSourceFile(QStringLiteral("names.txt")));
  QDir::setCurrent(workingFolder);
  EXPECT_EQ(Source(), PathOf("names.txt"));
  EXPECT_EQ(Target(), PathOf("names_en.txt"));
  EXPECT_TRUE(dialogs_.Take().empty());
  // A name that is no file leaves the fields alone and says so.
  EXPECT_FALSE(window_->OpenSourceFile(PathOf("gone.txt")));
  EXPECT_FALSE(window_->OpenSourceFile(PathOf("folder")));
  EXPECT_EQ(
      dialogs_.Take(),
      (std::vector<Call>{{Kind::kMessage, QStringLiteral("找不到文件：") + PathOf("gone.txt")},
                         {Kind::kMessage, QStringLiteral("这不是一个文件：") + PathOf("folder")}}));
  EXPECT_EQ(Source(), PathOf("names.txt"));
}

// The keys of the menu items and of the convert button, pressed on the shown window.
TEST_F(ConversionTest, KeyboardShortcutsReachTheirCommands) {
  Write("names.txt", QStringLiteral("刘德华\n").toUtf8());
  HelpWindow help(*data_, {}, window_.get());
  window_->SetHelpWindow(&help);
  QDialog pinyin(window_.get()), wadeGiles(window_.get());
  pinyin.setObjectName("pinyin");
  wadeGiles.setObjectName("wadeGiles");
  window_->SetDictionaryEditors(&pinyin, &wadeGiles);
  window_->show();
  QApplication::setActiveWindow(window_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));

  QString shownModal;
  auto closeModalSoon = [&] {
    QTimer::singleShot(0, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        shownModal = modal->objectName();
        static_cast<QDialog*>(modal)->reject();
      }
    });
  };
  struct Row {
    const char* why;
    QKeyCombination key;
    std::function<void()> before;
    std::function<void()> check;
  } rows[] = {
      {"Ctrl+O opens the source", Qt::CTRL | Qt::Key_O,
       [&] { dialogs_.AnswerFile(PathOf("names.txt")); },
       [&] {
         EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kOpenDialog, {}}}));
         EXPECT_EQ(Source(), PathOf("names.txt"));
       }},
      {"Ctrl+S chooses the target", Qt::CTRL | Qt::Key_S,
       [&] { dialogs_.AnswerFile(PathOf("out.txt")); },
       [&] {
         EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kSaveDialog, {}}}));
         EXPECT_EQ(Target(), PathOf("out.txt"));
       }},
      {"Ctrl+Return converts, even from the open button", Qt::CTRL | Qt::Key_Return,
       [&] {
         Get<QWidget>(*window_, "openButton")->setFocus();
         dialogs_.AnswerConfirm(false);
       },
       [&] {
         auto shown = dialogs_.Take();
         ASSERT_EQ(shown.size(), 1u);
         EXPECT_EQ(shown[0].kind, Kind::kConfirm);
         EXPECT_EQ(Read("out.txt"), QByteArray("De-hua Liu\r\n"));
       }},
      {"F1 shows the help", Qt::Key_F1, [] {}, [&] { EXPECT_TRUE(help.isVisible()); }},
      {"Ctrl+1 opens the pinyin dictionary", Qt::CTRL | Qt::Key_1, closeModalSoon,
       [&] { EXPECT_EQ(shownModal, "pinyin"); }},
      {"Ctrl+2 opens the Wade-Giles dictionary", Qt::CTRL | Qt::Key_2, closeModalSoon,
       [&] { EXPECT_EQ(shownModal, "wadeGiles"); }},
      {"Ctrl+Q quits, saving the choices", Qt::CTRL | Qt::Key_Q, [] {},
       [&] {
         EXPECT_FALSE(window_->isVisible());
         EXPECT_EQ(Read("config1.dll"), QByteArray("0\r\n0\r\n0\r\n1\r\n0\r\n"));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    row.before();
    QApplication::setActiveWindow(window_.get());
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : window_.get();
    QTest::keyClick(focus, row.key.key(), row.key.keyboardModifiers());
    row.check();
  }
  help.hide();
}

// Cancel and Esc stop a long run within a tenth of a second; the run counts as failed (no
// completion question) and the message says how far it got.
TEST_F(ConversionTest, ALongRunStopsAtOnceOnCancelOrEsc) {
  dialogs_.AnswerProgressDelay(0);
  QByteArray names;
  for (int i = 0; i < 2000000; ++i) names += "刘德华\n";
  Write("names.txt", names);
  Choose(PathOf("names.txt"));
  QByteArray keptBefore;
  struct Row {
    const char* why;
    bool targetExisted;
    std::function<void(QProgressDialog*)> cancel;
  } rows[] = {
      {"the Cancel button", false,
       [](QProgressDialog* progress) {
         auto buttons = progress->findChildren<QPushButton*>();
         ASSERT_EQ(buttons.size(), 1);
         EXPECT_EQ(buttons[0]->text(), QStringLiteral("取消"));
         buttons[0]->click();
       }},
      {"Esc", true, [](QProgressDialog* progress) { QTest::keyClick(progress, Qt::Key_Escape); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    QElapsedTimer sinceCancel;
    bool cancelled = false;
    // Stop the run from inside its own event processing as soon as its progress dialog is up: a
    // fixed delay is no good, two million names take well under a second.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
      if (!progress || cancelled) return;  // the run has not got going yet
      poll.stop();
      sinceCancel.start();
      row.cancel(progress);
      cancelled = true;
    });
    poll.start();
    window_->convert();
    poll.stop();
    const qint64 stoppedAfter = sinceCancel.isValid() ? sinceCancel.elapsed() : -1;
    ASSERT_TRUE(cancelled) << "the run ended before it could be cancelled";
    EXPECT_GE(stoppedAfter, 0);
    EXPECT_LT(stoppedAfter, 100) << "milliseconds from the cancel to the end of the run";
    const auto shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, Kind::kMessage);
    // The first run leaves the names it converted in a new target; the second finds that file
    // there and keeps it unchanged.
    const QString target = PathOf("names_en.txt");
    const QString kept =
        row.targetExisted
            ? QStringLiteral("原来的文件保持不变：") + QRegularExpression::escape(target)
            : QStringLiteral("已转换的前 \\1 个姓名保存在：") + QRegularExpression::escape(target);
    const QRegularExpression said(
        QStringLiteral("^转换已取消：共 2000000 个姓名，取消时已转换 (\\d+) 个。\r") + kept + "$");
    const QRegularExpressionMatch match = said.match(shown[0].text);
    ASSERT_TRUE(match.hasMatch()) << shown[0].text.toStdString();
    EXPECT_LT(match.captured(1).toLongLong(), 2000000);
    const QByteArray left = Read(QStringLiteral("names_en.txt"));
    if (!row.targetExisted) keptBefore = left;
    EXPECT_EQ(left.count('\n'), keptBefore.count('\n'));
    EXPECT_EQ(left, keptBefore) << "a cancelled run never replaces the earlier file";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

// A dictionary another program holds locked: after a second the window asks, Retry or Cancel,
// naming the holder; Cancel gives the run up with a message, Retry waits on until the lock is free.
TEST_F(ConversionTest, AHeldLockIsAskedAboutWithRetryOrCancel) {
  Write("names.txt", QStringLiteral("刘德华\n").toUtf8());
  Choose(PathOf("names.txt"));
  const std::string dir = PathOf(QString()).toStdString();
  for (bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "Retry" : "Cancel");
    // A change to a list makes the run read the lists again, under the folder's lock.
    Write("define_py.dll", retry ? "a\r\n" : "b\r\n");
    quorvel::test::LockHolder holder(dir, retry ? 1.5 : 60);
    const QString lock = PathOf(QStringLiteral(".quorvel.lock"));
    const QString asked =
        QStringLiteral(
            "正在等待“%1”：它被进程 %2占用。\r\r（waiting for \"%1\" held by process %2）\r\r"
            "重试：继续等待；取消：放弃这次操作。")
            .arg(lock)
            .arg(holder.Pid());
    dialogs_.AnswerConfirm(retry);
    if (retry) dialogs_.AnswerConfirm(false);  // the completion question
    window_->convert();
    const auto shown = dialogs_.Take();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].kind, Kind::kConfirm);
    EXPECT_EQ(shown[0].text, asked);
    if (retry) {
      EXPECT_EQ(shown[1].kind, Kind::kConfirm);
      EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("转换完成")))
          << shown[1].text.toStdString();
    } else {
      EXPECT_EQ(shown[1].kind, Kind::kError);
      EXPECT_TRUE(shown[1].text.startsWith(
          QStringLiteral("Gave up waiting for \"%1\" held by process %2 after ")
              .arg(lock)
              .arg(holder.Pid())))
          << shown[1].text.toStdString();
    }
  }
}

TEST_F(ConversionTest, TheRunUsesTheChoicesOfTheControlsAtTheClick) {
  const QByteArray names = QStringLiteral("刘德华\n张学友\n单田芳\n欧阳震华\n").toUtf8();
  Write("names.txt", names);
  Choose(PathOf("names.txt"));
  struct Row {
    int polyphone, separator;
    bool wei;
    int format;
  } rows[] = {
      {0, 0, false, 1}, {1, 1, false, 6}, {0, 2, false, 9}, {1, 0, true, 3}, {0, 1, true, 7}};
  CopyListFiles();  // the Wade-Giles mapping
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.polyphone << row.separator << row.wei << row.format);
    Get<QComboBox>(*window_, "readingsCombo")->setCurrentIndex(row.polyphone);
    Get<QComboBox>(*window_, "separatorCombo")->setCurrentIndex(row.separator);
    Get<QCheckBox>(*window_, "wadeGilesCheck")->setChecked(row.wei);
    Get<QRadioButton>(*window_,
                      QStringLiteral("formatButton%1").arg(row.format).toLatin1().constData())
        ->setChecked(true);
    dialogs_.AnswerConfirm(false);
    window_->convert();
    dialogs_.Take();
    const quorvel::ConversionOptions options =
        quorvel::OptionsFromControlIndexes(row.polyphone, row.separator, row.wei, row.format);
    std::string expected;
    for (const char* line : {"刘德华", "张学友", "单田芳", "欧阳震华"}) {
      expected += quorvel::RomanizeName(*data_, quorvel::Utf8ToGb18030(line), options) + "\r\n";
    }
    EXPECT_EQ(Read("names_en.txt").toStdString(), expected);
  }
}

TEST_F(ConversionTest, TheUmlautSpellingAndThePassportTickReachTheRun) {
  Write("names.txt", QStringLiteral("吕小明\n欧阳修\n").toUtf8());
  Choose(PathOf("names.txt"));
  CopyListFiles();  // the compound surnames
  struct Row {
    int umlaut;
    bool passport;
    const char* out;  // UTF-8, as the target of a UTF-8 source
  } rows[] = {{0, false, "Xiao-ming Lv\r\nXiu Ouyang\r\n"},
              {3, false, "Xiao-ming Lü\r\nXiu Ouyang\r\n"},
              {1, false, "Xiao-ming Lyu\r\nXiu Ouyang\r\n"},
              {3, true, "LYU XIAOMING\r\nOUYANG XIU\r\n"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.out);
    Get<QComboBox>(*window_, "umlautCombo")->setCurrentIndex(row.umlaut);
    Get<QCheckBox>(*window_, "passportCheck")->setChecked(row.passport);
    dialogs_.AnswerConfirm(false);
    window_->convert();
    dialogs_.Take();
    EXPECT_EQ(Read("names_en.txt"), QByteArray(row.out));
  }
}

// A missing source, or something there that is no file (named with what it is), asks for one.
TEST_F(ConversionTest, MissingSourceAsksForOneAndConvertsNothing) {
  ASSERT_EQ(::mkfifo(QFile::encodeName(PathOf("fifo")).constData(), 0600), 0);
  const std::map<QString, QString> said = {
      {dir_.path(),
       QStringLiteral("无法读取源文件“%1”：Is a directory\r\r请选择").arg(dir_.path())},
      {PathOf("fifo"),
       QStringLiteral("无法读取源文件“%1”：Is a named pipe (FIFO), not a file\r\r请选择")
           .arg(PathOf("fifo"))},
      {QStringLiteral("/dev/zero"),
       QStringLiteral("无法读取源文件“/dev/zero”：Is a device, not a file\r\r请选择")},
  };
  for (const QString& missing :
       {QString(), PathOf("gone.txt"), dir_.path(), PathOf("fifo"), QStringLiteral("/dev/zero")}) {
    SCOPED_TRACE(missing.toStdString());
    const QString kNoSource = said.count(missing) ? said.at(missing) : ::kNoSource;
    Get<QLineEdit>(*window_, "sourcePathEdit")->setText(missing);
    Get<QLineEdit>(*window_, "targetPathEdit")->setText(PathOf("out/result.txt"));
    Write("picked.txt", "x");
    dialogs_.AnswerFile(PathOf("picked.txt"));
    window_->convert();
    // A path that leads nowhere is named; so is one where something else stands.
    const QString message = missing.isEmpty() || said.count(missing)
                                ? kNoSource
                                : kNoSource + QStringLiteral("\r\r") + missing;
    EXPECT_EQ(dialogs_.Take(),
              (std::vector<Call>{{Kind::kMessage, message}, {Kind::kOpenDialog, {}}}));
    // The choice only fills in the paths; the target's folder exists already, its file does not.
    EXPECT_EQ(Source(), PathOf("picked.txt"));
    EXPECT_EQ(Target(), PathOf("picked_en.txt"));
    EXPECT_TRUE(QFileInfo(PathOf("out")).isDir());
    EXPECT_FALSE(QFile::exists(PathOf("out/result.txt")));
    EXPECT_FALSE(QFile::exists(PathOf("picked_en.txt")));
  }
}

TEST_F(ConversionTest, EngineFailuresReachTheErrorBoxWithoutTheCompletionQuestion) {
  Write("names.txt", QStringLiteral("刘德华\n").toUtf8());
  ASSERT_EQ(::mkdir(QFile::encodeName(PathOf("taken")).constData(), 0755), 0);
  Choose(PathOf("names.txt"));
  struct Row {
    QString target;
    QString error;
    const char* why;
  } rows[] = {
      {PathOf("taken"),
       QStringLiteral("File access denied (Is a directory): \"%1\"").arg(PathOf("taken")),
       "a folder stands where the target goes"},
      {PathOf("no/such/folder/out.txt"),
       QStringLiteral("Invalid filename (a folder on the path does not exist): \"%1\"")
           .arg(PathOf("no/such/folder/out.txt")),
       "the target's folder's parent is missing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Get<QLineEdit>(*window_, "targetPathEdit")->setText(row.target);
    window_->convert();
    // The message names the file.
    EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kError, row.error}}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor ends with the run";
  }
}

// A long run shows its progress in a modal dialog; nothing else takes input.
TEST_F(ConversionTest, LongRunShowsAModalProgressDialog) {
  dialogs_.AnswerProgressDelay(0);
  QByteArray names;
  for (int i = 0; i < 140000; ++i) names += "刘德华\n";
  Write("names.txt", names);
  Choose(PathOf("names.txt"));
  std::optional<bool> sawProgress;
  bool busy = false;
  QTimer::singleShot(0, [&] {
    auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    sawProgress =
        progress && progress->isVisible() && progress->windowModality() == Qt::ApplicationModal;
    busy =
        QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  });
  dialogs_.AnswerConfirm(false);
  window_->convert();
  EXPECT_EQ(sawProgress, std::optional<bool>(true)) << "the timer must fire inside the run";
  EXPECT_TRUE(busy);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(dialogs_.Take().size(), 1u);
  EXPECT_EQ(Read("names_en.txt").size(), 140000 * 12);  // "De-hua Liu" CR LF
}

// ---- Banner ------------------------------------------------------------------------------------

// Without a banner page the window draws its banner itself, and the browser engine is never
// started: no web view, before or after showing.
TEST_F(WindowTest, WithoutABannerPageTheBannerIsDrawnAndNoWebViewIsMade) {
  struct Row {
    QUrl address;
    const char* why;
  } rows[] = {
      {QUrl(), "none configured"},
      {QUrl(QStringLiteral("https://quorvel.example/banner/")),
       "a placeholder (.example never resolves)"},
      {QUrl(QStringLiteral("http://banner.invalid/")), "a placeholder (.invalid never resolves)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_FALSE(IsLoadableBannerAddress(row.address));
    auto window = Open(row.address);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::qWait(200);
    EXPECT_EQ(window->findChild<QWebEngineView*>(), nullptr);
    auto* banner = Get<QWidget>(*window, "banner");
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisible());
    // The drawn banner: the gradient from dark to light blue, the name in white on the left.
    const QImage picture = banner->grab().toImage();
    EXPECT_EQ(picture.pixelColor(0, 35).rgb() & 0xffffff, 0x0b3d7aU);
    EXPECT_GT(picture.pixelColor(499, 35).blue(), picture.pixelColor(250, 35).blue());
    int white = 0;
    for (int x = 18; x < 120; ++x)
      for (int y = 10; y < 40; ++y) white += picture.pixelColor(x, y).lightness() > 240;
    EXPECT_GT(white, 20) << "the name \"Quorvel\" in white";
  }
  EXPECT_TRUE(IsLoadableBannerAddress(QUrl(QStringLiteral("https://quorvel.org/banner/"))));
  EXPECT_TRUE(IsLoadableBannerAddress(QUrl(QStringLiteral("about:blank"))));
  EXPECT_TRUE(IsLoadableBannerAddress(QUrl::fromLocalFile(PathOf("banner.html"))));
}

// A banner page: its web view is made only once the window is on the screen, loads behind the
// drawn banner and takes its place when loaded, without scroll bars or border.
TEST_F(WindowTest, BannerPageComesAfterTheWindowAndLosesItsScrollBarsAndBorder) {
  Write(
      "banner.html",
      "<!DOCTYPE html><html><body style='border: 6px solid red; margin: 0'>"
      "<div style='width: 900px; height: 400px'>a page larger than the banner</div></body></html>");
  auto window = Open(QUrl::fromLocalFile(PathOf("banner.html")));
  QTest::qWait(100);
  EXPECT_EQ(window->findChild<QWebEngineView*>(), nullptr) << "not before the window shows";
  QSignalSpy adjusted(window.get(), &MainWindow::bannerAdjusted);
  window->show();
  EXPECT_EQ(window->findChild<QWebEngineView*>(), nullptr) << "not while the window is being shown";
  ASSERT_TRUE(adjusted.wait(60000));
  auto* view = Get<QWebEngineView>(*window, "bannerView");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->parentWidget(), window->centralWidget());
  EXPECT_EQ(view->geometry(), QRect(8, 5, 500, 70));
  EXPECT_TRUE(view->isVisible());
  EXPECT_FALSE(Get<QWidget>(*window, "banner")->isVisible())
      << "the page replaces the drawn banner";
  EXPECT_FALSE(view->acceptDrops()) << "the banner would show a dropped file as a page";
  QWebEnginePage* page = view->page();
  EXPECT_EQ(page->url(), QUrl::fromLocalFile(PathOf("banner.html")));
  EXPECT_EQ(RunJavaScript(page,
                          "[document.body.scroll, getComputedStyle(document.body).overflowX,"
                          " getComputedStyle(document.body).overflowY,"
                          " getComputedStyle(document.body).borderTopStyle,"
                          " getComputedStyle(document.body).borderLeftStyle].join()")
                .toString(),
            QStringLiteral("no,hidden,hidden,none,none"));
  // No room is taken by scroll bars.
  EXPECT_EQ(RunJavaScript(page, "window.innerWidth - document.documentElement.clientWidth").toInt(),
            0);
  EXPECT_EQ(
      RunJavaScript(page, "window.innerHeight - document.documentElement.clientHeight").toInt(), 0);
}

TEST_F(WindowTest, UnreachableBannerPageKeepsTheDrawnBannerAndIsNotReported) {
  auto window = Open(QUrl(QStringLiteral("http://127.0.0.1:9/banner")));
  QSignalSpy adjusted(window.get(), &MainWindow::bannerAdjusted);
  window->show();
  ASSERT_TRUE(adjusted.wait(60000));
  EXPECT_TRUE(Get<QWidget>(*window, "banner")->isVisible());
  auto* view = Get<QWebEngineView>(*window, "bannerView");
  ASSERT_NE(view, nullptr);
  EXPECT_GT(view->parentWidget()->children().indexOf(Get<QWidget>(*window, "banner")),
            view->parentWidget()->children().indexOf(view))
      << "the failed page stays behind the drawn banner";
  EXPECT_TRUE(dialogs_.Take().empty()) << "an unreachable banner is not reported";
}

}  // namespace

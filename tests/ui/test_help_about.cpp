// The help window, the About window and the maker's web pages.
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <set>
#include <vector>

#include "AboutWindow.h"
#include "HelpWindow.h"
#include "ListFiles.h"
#include "MakerConfig.h"
#include "Version.h"
#include "WindowTestSupport.h"

namespace {

using Kind = RecordingDialogs::Kind;
using Call = RecordingDialogs::Call;

const QString kProduct = QString::fromUtf8(quorvel::maker::kProductUrl);
const QString kOnlineHelp = QString::fromUtf8(quorvel::maker::kOnlineHelpUrl);

// The figures as counted straight from the rows the table and the mapping are built from.
struct ShippedFigures {
  size_t characters = 0, syllables = 0, spellings = 0, polyphonic = 0;
};
ShippedFigures CountShippedRows() {
  ShippedFigures figures;
  auto rows = [](const char* name) {
    QFile file(QStringLiteral(QUORVEL_SOURCE_DIR "/data/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    std::vector<QStringList> fields;
    for (const QByteArray& line : file.readAll().split('\n'))
      if (!line.isEmpty() && !line.startsWith('#'))
        fields.push_back(QString::fromUtf8(line).split(QLatin1Char('\t')));
    return fields;
  };
  std::set<QString> syllables, spellings;
  for (const QStringList& row : rows("char_rows.tsv")) {  // code point, character, readings, rule
    if (row.size() < 3 || row[2].isEmpty()) continue;
    ++figures.characters;
    const QStringList readings = row[2].split(QLatin1Char('/'));
    if (readings.size() > 1) ++figures.polyphonic;
    syllables.insert(readings.begin(), readings.end());
  }
  for (const QStringList& row : rows("wade_giles_rows.tsv"))  // pinyin, Wade-Giles
    if (row.size() >= 2 && !row[1].isEmpty()) spellings.insert(row[1]);
  figures.syllables = syllables.size();
  figures.spellings = spellings.size();
  return figures;
}

class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    data_.Load();
  }
  QTemporaryDir dir_;
  // The user's dictionaries in a folder of their own, the mapping as the build ships it.
  quorvel::ListFiles data_{dir_.path().toStdString(), QUORVEL_TEST_BIN_DIR};
};

TEST_F(HelpWindowTest, HoldsTheTextWholeAndVisibleWithoutScrollBarsWithFiguresCountedFromTheData) {
  const ShippedFigures shipped = CountShippedRows();
  ASSERT_GT(shipped.characters, 20000u);
  ASSERT_GT(shipped.spellings, 300u);
  const QStringList expected = {
      "软件说明：",
      QStringLiteral("软件收录%1个汉字，包括简体，繁体汉字和几乎所有生僻字；")
          .arg(shipped.characters),
      QStringLiteral("收录%1个标准大陆汉字读音，和%2个韦氏香港台湾读音；")
          .arg(shipped.syllables)
          .arg(shipped.spellings),
      "收录了当前常用的复姓；",
      "软件还支持自定义字库和读音；",
      QStringLiteral("支持%1个多音字的所有读音。").arg(shipped.polyphonic),
      "",
      "操作步骤：",
      "1，源文件可以是文本文件（.txt），每个名字一行；也可以是表格（.csv、.tsv、."
      "xlsx），程序找出其中的姓名列；",
      "2，姓名可以含有任何汉字，包括生僻字；其中的字母和数字原样保留；带间隔号（·）的姓名按写法分成"
      "几部分，",
      "各部分之间空一格；",
      "3，目标文件可以指定，如不指定，会自动生成一个 \" 源文件名_en.txt \" "
      "的目标文件（表格保持原格式），在同目录下；",
      "4，若目标文件已经存在，原内容会被覆盖；",
      "5，选择英文名字格式，确定；",
      "6，目标文件生成，每个一行，顺序同中文；",
      "7，内置字库之外的字，会给出三个英文的问号\"???\"，搜索\"???"
      "\"可以很快找到它，用户可以自定义拼音字库；",
      "8，如遇多音字，用户可以选择显示所有读音（多个读音用\"/"
      "\"分隔，方便查找），或者只显示一个常用的，如",
      "果显示的读音不是你需要的，用户可以自定义。",
      "",
      QStringLiteral("官网：") + kProduct,
      QString::fromUtf8(quorvel::maker::kContactLine),
  };
  HelpWindow note(data_);
  note.show();
  auto* memo = note.findChild<QPlainTextEdit*>(QStringLiteral("helpText"));
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->toPlainText().split(QLatin1Char('\n')), expected);
  EXPECT_EQ(note.windowTitle(), QStringLiteral("Help"));
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(memo->geometry(), note.rect()) << "the text box fills the window";
  EXPECT_GE(note.width(), 578);
  EXPECT_GE(note.height(), 278);
  EXPECT_EQ(note.minimumSize(), note.maximumSize()) << "fixed size";
  // Without scroll bars the whole wrapped text must fit.
  EXPECT_EQ(memo->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0);
  // Each line shows as written: the window is wide enough that none wraps.
  for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next())
    EXPECT_EQ(block.layout()->lineCount(), 1) << block.text().toStdString();
  EXPECT_EQ(memo->palette().color(QPalette::Text), QColor(Qt::black));
  EXPECT_EQ(QApplication::focusWidget() == nullptr || QApplication::focusWidget() == memo, true);
}

TEST_F(HelpWindowTest, NamesTheFolderOfTheUsersDictionaries) {
  const QString folder = QStringLiteral("/home/someone/.local/share/quorvel");
  HelpWindow note(data_, folder, nullptr);
  note.show();
  auto* memo = note.findChild<QPlainTextEdit*>(QStringLiteral("helpText"));
  ASSERT_NE(memo, nullptr);
  const QStringList lines = memo->toPlainText().split(QLatin1Char('\n'));
  const int last = lines.indexOf(QStringLiteral("果显示的读音不是你需要的，用户可以自定义。"));
  ASSERT_GE(last, 0);
  // The fixed text stays whole; the folder follows it, before the maker's lines.
  ASSERT_EQ(lines.size(), last + 5);
  EXPECT_EQ(lines[last + 1], QStringLiteral("自定义字库的文件保存在：") + folder);
  EXPECT_EQ(lines[last + 2], QString());
  EXPECT_EQ(lines[last + 3], QStringLiteral("官网：") + kProduct);
  for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next())
    EXPECT_EQ(block.layout()->lineCount(), 1) << block.text().toStdString();
}

TEST_F(WindowTest, HelpOpensBesideTheMainWindowOnlyOnce) {
  auto window = Open();
  window->show();
  HelpWindow note(*data_, {}, window.get());
  window->SetHelpWindow(&note);
  Get<QAction>(*window, "helpAction")->trigger();
  EXPECT_TRUE(note.isVisible());
  EXPECT_FALSE(note.isModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the main window still takes input";
  Get<QAction>(*window, "helpAction")->trigger();
  EXPECT_EQ(window->findChildren<HelpWindow*>().size(), 1);
  note.close();
  EXPECT_FALSE(note.isVisible());
  Get<QAction>(*window, "helpAction")->trigger();
  EXPECT_TRUE(note.isVisible()) << "closing only hides it";
}

TEST_F(WindowTest, AboutIsAFreshModalWindowEachTime) {
  Write("config.db", "en\r\n");  // the About window is the same in both languages
  auto window = Open();
  window->show();
  QList<QPointer<AboutWindow>> shown;
  for (int i = 0; i < 2; ++i) {
    QTimer::singleShot(0, [&] {
      auto* about = qobject_cast<AboutWindow*>(QApplication::activeModalWidget());
      ASSERT_NE(about, nullptr);
      shown << about;
      EXPECT_EQ(about->windowTitle(), QStringLiteral("About"));
      EXPECT_EQ(about->size(), QSize(254, 175));
      EXPECT_EQ(about->minimumSize(), about->maximumSize());
      struct Row {
        const char* name;
        QRect place;
        QString text;
      } rows[] = {
          {"titleLabel", {0, 24, 254, 33}, "Quorvel"},
          {"versionLabel",
           {0, 64, 254, 25},
           QStringLiteral("v") + QLatin1String(quorvel::kVersion)},
          {"makerLabel", {0, 96, 254, 25}, QString::fromUtf8(quorvel::maker::kName) + "出品"},
          {"addressLabel",
           {0, 126, 254, 25},
           QString::fromUtf8(quorvel::maker::kProductAddressText)},
      };
      for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto* label = about->findChild<QLabel*>(QLatin1String(row.name));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), row.place);
        EXPECT_EQ(label->text(), row.text);
        EXPECT_EQ(label->alignment(), Qt::AlignCenter);
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width());
      }
      EXPECT_TRUE(about->findChild<QLabel*>(QStringLiteral("addressLabel"))->font().underline());
      about->close();
    });
    Get<QAction>(*window, "aboutAction")->trigger();
  }
  ASSERT_EQ(shown.size(), 2);
  EXPECT_TRUE(shown[0].isNull() && shown[1].isNull()) << "each About window is destroyed after use";
}

TEST_F(WindowTest, WebPagesOpenInTheBrowser) {
  auto window = Open();
  Get<QAction>(*window, "websiteAction")->trigger();
  Get<QAction>(*window, "onlineHelpAction")->trigger();
  AboutWindow about(window.get());
  about.show();
  for (const char* name : {"makerLabel", "addressLabel"}) {
    auto* label = about.findChild<QLabel*>(QLatin1String(name));
    ASSERT_NE(label, nullptr);
    QTest::mouseClick(label, Qt::LeftButton);
  }
  EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kDesktop, kProduct},
                                                {Kind::kDesktop, kOnlineHelp},
                                                {Kind::kDesktop, kProduct},
                                                {Kind::kDesktop, kProduct}}));
  EXPECT_NE(kProduct, kOnlineHelp);
}

// Without a browser (or any desktop launcher) a web address that cannot be opened says so in a
// box that names it, from the menu and from the About window alike.
TEST_F(WindowTest, AWebPageThatCannotBeOpenedIsNamedInAMessage) {
  auto window = Open();
  dialogs_.AnswerDesktop(false);
  Get<QAction>(*window, "onlineHelpAction")->trigger();
  AboutWindow about(window.get());
  about.show();
  QTest::mouseClick(about.findChild<QLabel*>(QStringLiteral("addressLabel")), Qt::LeftButton);
  const QString failed = QStringLiteral("无法打开网页：桌面上没有可以打开它的浏览器。\r\r");
  EXPECT_EQ(dialogs_.Take(), (std::vector<Call>{{Kind::kDesktop, kOnlineHelp},
                                                {Kind::kMessage, failed + kOnlineHelp},
                                                {Kind::kDesktop, kProduct},
                                                {Kind::kMessage, failed + kProduct}}));
}

TEST_F(WindowTest, DictionaryEditorsShowModallyOncePluggedIn) {
  auto window = Open();
  window->show();
  QDialog pinyin(window.get()), wadeGiles(window.get());
  window->SetDictionaryEditors(&pinyin, &wadeGiles);
  EXPECT_TRUE(Get<QAction>(*window, "pinyinDictionaryAction")->isEnabled());
  EXPECT_TRUE(Get<QAction>(*window, "wadeGilesDictionaryAction")->isEnabled());
  for (auto [item, editor] : {std::pair{"pinyinDictionaryAction", &pinyin},
                              std::pair{"wadeGilesDictionaryAction", &wadeGiles}}) {
    SCOPED_TRACE(item);
    QDialog* seen = nullptr;
    QTimer::singleShot(0, [&] {
      seen = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (seen) seen->reject();
    });
    Get<QAction>(*window, item)->trigger();
    EXPECT_EQ(seen, editor);
  }
}

}  // namespace

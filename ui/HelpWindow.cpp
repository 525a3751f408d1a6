#include "HelpWindow.h"

#include <QFontMetrics>
#include <QTextDocument>
#include <QWindow>

#include <algorithm>

#include "AppInfo.h"
#include "DataFigures.h"
#include "ListFiles.h"
#include "MakerConfig.h"
#include "ScreenFit.h"
#include "ui_HelpWindow.h"

HelpWindow::HelpWindow(const quorvel::ListFiles& data, const QString& dictionaryFolder,
                       QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::HelpWindow>()) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFont(WindowFont(kWindowFontPixels));
  ui_->helpText->setFont(WindowFont(kWindowFontPixels));
  QPalette palette = ui_->helpText->palette();
  palette.setColor(QPalette::Text, Qt::black);
  ui_->helpText->setPalette(palette);
  // The form holds the fixed part of the text with the places of the figures; the folder of the
  // user's dictionaries, an empty line and the maker's two lines follow.
  const quorvel::DataFigures figures =
      quorvel::CountDataFigures(data.List(quorvel::kMappingWadeGiles));
  QString text = ui_->helpText->toPlainText()
                     .arg(figures.characters)
                     .arg(figures.pinyinSyllables)
                     .arg(figures.wadeGilesSpellings)
                     .arg(figures.polyphonic);
  while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  if (!dictionaryFolder.isEmpty())
    text += QStringLiteral("\n自定义字库的文件保存在：") + dictionaryFolder;
  ui_->helpText->setPlainText(text + QStringLiteral("\n\n官网：") +
                              QString::fromUtf8(quorvel::maker::kProductUrl) + QLatin1Char('\n') +
                              QString::fromUtf8(quorvel::maker::kContactLine));

  // The box has no scroll bars, so the window is made large enough for the whole text, each line
  // on one line as written: the form's size is the least it takes, and the desktop's fonts decide
  // how much more is needed.
  const QFont font = ui_->helpText->font();
  const QFontMetrics metrics(font);
  const int margin = static_cast<int>(ui_->helpText->document()->documentMargin());
  int widest = 0;
  for (const QString& line : ui_->helpText->toPlainText().split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  const int width = std::max(ui_->helpText->width(), widest + 2 * margin + 4);
  QTextDocument measure;
  measure.setDefaultFont(font);
  measure.setDocumentMargin(margin);
  measure.setPlainText(ui_->helpText->toPlainText());
  measure.setTextWidth(width);
  const int height =
      std::max(ui_->helpText->height(), static_cast<int>(measure.size().height()) + 8);
  ui_->helpText->setGeometry(0, 0, width, height);
  setFixedSize(width, height);
  wholeText_ = QSize(width, height);
  ui_->helpText->setFocus();
}

// On a screen too small for the whole text (a large scale factor) the window takes what there is,
// and the text gets scroll bars.
void HelpWindow::FitToScreen() {
  const QRect area = AvailableArea(this, parentWidget());
  const QMargins frame = ExpectedFrame(this);
  const QSize fits = wholeText_.boundedTo(area.size().shrunkBy(frame));
  const bool cut = fits != wholeText_;
  ui_->helpText->setVerticalScrollBarPolicy(cut ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  ui_->helpText->setHorizontalScrollBarPolicy(cut ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  ui_->helpText->setLineWrapMode(cut ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  ui_->helpText->setGeometry(0, 0, fits.width(), fits.height());
  setFixedSize(fits);
  if (!isVisible()) FitOnScreen(this, parentWidget());
}

HelpWindow::~HelpWindow() = default;

void HelpWindow::ShowOrRaise() {
  FitToScreen();
  show();
  raise();
  activateWindow();
}

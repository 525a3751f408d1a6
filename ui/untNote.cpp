#include "untNote.h"

#include <QFontMetrics>
#include <QTextDocument>

#include <algorithm>

#include "AppInfo.h"
#include "MakerConfig.h"
#include "ui_untNote.h"

TfrmNote::TfrmNote(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmNote>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFont(WindowFont(kWindowFontPixels));
  ui->Memo1->setFont(WindowFont(kWindowFontPixels));
  QPalette palette = ui->Memo1->palette();
  palette.setColor(QPalette::Text, Qt::black);
  ui->Memo1->setPalette(palette);
  // The form holds the fixed part of the text; an empty line and the maker's two lines follow.
  QString text = ui->Memo1->toPlainText();
  while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  ui->Memo1->setPlainText(text + QStringLiteral("\n\n官网：") +
                          QString::fromUtf8(quorvel::maker::kProductUrl) + QLatin1Char('\n') +
                          QString::fromUtf8(quorvel::maker::kContactLine));

  // The box has no scroll bars, so the window is made large enough for the whole text, each line
  // on one line as written: the fonts of a Linux desktop need a little more width and more height
  // than the classic 578 x 278 pixels.
  const QFont font = ui->Memo1->font();
  const QFontMetrics metrics(font);
  const int margin = static_cast<int>(ui->Memo1->document()->documentMargin());
  int widest = 0;
  for (const QString& line : ui->Memo1->toPlainText().split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  const int width = std::max(ui->Memo1->width(), widest + 2 * margin + 4);
  QTextDocument measure;
  measure.setDefaultFont(font);
  measure.setDocumentMargin(margin);
  measure.setPlainText(ui->Memo1->toPlainText());
  measure.setTextWidth(width);
  const int height = std::max(ui->Memo1->height(), static_cast<int>(measure.size().height()) + 8);
  ui->Memo1->setGeometry(0, 0, width, height);
  setFixedSize(width, height);
  ui->Memo1->setFocus();
}

TfrmNote::~TfrmNote() = default;

void TfrmNote::ShowOrRaise() {
  show();
  raise();
  activateWindow();
}

#include "untNote.h"

#include <QTextDocument>

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

  // The box has no scroll bars, so it must be tall enough for the whole wrapped text: with the
  // fonts of a Linux desktop the text needs more than the classic 278 pixels.
  const int width = ui->Memo1->width();
  QTextDocument measure;
  measure.setDefaultFont(ui->Memo1->font());
  measure.setDocumentMargin(ui->Memo1->document()->documentMargin());
  measure.setPlainText(ui->Memo1->toPlainText());
  measure.setTextWidth(width - 2 * ui->Memo1->frameWidth());
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

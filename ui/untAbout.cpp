#include "untAbout.h"

#include <QMouseEvent>

#include "AppInfo.h"
#include "MakerConfig.h"
#include "PlatformDialogs.h"
#include "ui_untAbout.h"

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmAbout>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  setFont(WindowFont(kWindowFontPixels));
  ui->Label1->setFont(WindowFont(kLargeFontPixels));
  ui->Label2->setFont(WindowFont(19));  // the large version line
  ui->Label2->setText(kVersionText);
  ui->Label3->setFont(WindowFont(kLargeFontPixels));
  ui->Label3->setText(QString::fromUtf8(quorvel::maker::kName) + QStringLiteral("出品"));
  QFont link = WindowFont(kLargeFontPixels);
  link.setUnderline(true);
  ui->Label4->setFont(link);
  ui->Label4->setText(QString::fromUtf8(quorvel::maker::kProductAddressText));
  QPalette palette = ui->Label4->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  ui->Label4->setPalette(palette);
  for (QLabel* label : {ui->Label3, ui->Label4}) {
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
  }
}

TfrmAbout::~TfrmAbout() = default;

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == ui->Label3) Label3Click();
    if (watched == ui->Label4) Label4Click();
  }
  return QDialog::eventFilter(watched, event);
}

// Both lines open the product page, whatever the address line shows.
void TfrmAbout::Label3Click() {
  PlatformDialogs::Instance().OpenWithDesktop(this, QString::fromUtf8(quorvel::maker::kProductUrl));
}

void TfrmAbout::Label4Click() {
  PlatformDialogs::Instance().OpenWithDesktop(this, QString::fromUtf8(quorvel::maker::kProductUrl));
}

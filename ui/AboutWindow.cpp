#include "AboutWindow.h"

#include <QMouseEvent>

#include "AppInfo.h"
#include "MakerConfig.h"
#include "PlatformDialogs.h"
#include "ui_AboutWindow.h"

AboutWindow::AboutWindow(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AboutWindow>()) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  setFont(WindowFont(kWindowFontPixels));
  ui_->titleLabel->setFont(WindowFont(kLargeFontPixels));
  ui_->versionLabel->setFont(WindowFont(19));  // the large version line
  ui_->versionLabel->setText(kVersionText);
  ui_->makerLabel->setFont(WindowFont(kLargeFontPixels));
  ui_->makerLabel->setText(QString::fromUtf8(quorvel::maker::kName) + QStringLiteral("出品"));
  QFont link = WindowFont(kLargeFontPixels);
  link.setUnderline(true);
  ui_->addressLabel->setFont(link);
  ui_->addressLabel->setText(QString::fromUtf8(quorvel::maker::kProductAddressText));
  QPalette palette = ui_->addressLabel->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  ui_->addressLabel->setPalette(palette);
  for (QLabel* label : {ui_->makerLabel, ui_->addressLabel}) {
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(this);
  }
}

AboutWindow::~AboutWindow() = default;

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == ui_->makerLabel || watched == ui_->addressLabel) openProductPage();
  }
  return QDialog::eventFilter(watched, event);
}

void AboutWindow::openProductPage() {
  PlatformDialogs::Instance().OpenWebPage(this, QString::fromUtf8(quorvel::maker::kProductUrl));
}

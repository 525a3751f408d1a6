#include "BuiltInBanner.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

namespace {

constexpr qreal kTextLeft = 18;
constexpr qreal kLineGap = 2;  // between the name and the line under it

QFont BannerFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                    QStringLiteral("sans-serif")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

}  // namespace

BuiltInBanner::BuiltInBanner(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

QString BuiltInBanner::Title() { return QStringLiteral("Quorvel"); }

QString BuiltInBanner::Subtitle() {
  return QStringLiteral("中文姓名批量转拼音 · 标准拼音与韦氏/港台拼音");
}

void BuiltInBanner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient gradient(0, 0, width(), 0);
  gradient.setColorAt(0.0, QColor(0x0b, 0x3d, 0x7a));
  gradient.setColorAt(0.6, QColor(0x1f, 0x6f, 0xb5));
  gradient.setColorAt(1.0, QColor(0x4b, 0x9b, 0xe0));
  painter.fillRect(rect(), gradient);

  QFont titleFont = BannerFont(22, true);
  titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 1);
  const QFont lineFont = BannerFont(13, false);
  const QFontMetricsF title(titleFont, this);
  const QFontMetricsF line(lineFont, this);
  // The two lines as one block, centred from top to bottom.
  const qreal top = (height() - (title.height() + kLineGap + line.height())) / 2;
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setPen(Qt::white);
  painter.setFont(titleFont);
  painter.drawText(QPointF(kTextLeft, top + title.ascent()), Title());
  painter.setPen(QColor(255, 255, 255, 235));
  painter.setFont(lineFont);
  painter.drawText(QPointF(kTextLeft, top + title.height() + kLineGap + line.ascent()), Subtitle());

  if (!painted_) {
    painted_ = true;
    emit firstPainted();
  }
}

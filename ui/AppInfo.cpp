#include "AppInfo.h"

#include <QFontDatabase>
#include <QStringList>

QFont WindowFont(int pixelSize, bool bold) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  // Latin text in the desktop's face; Chinese from a Simplified Chinese face rather than
  // whichever CJK face the font fallback happens to pick (Japanese forms differ).
  font.setFamilies(QStringList{font.family(), QStringLiteral("Noto Sans CJK SC"),
                               QStringLiteral("WenQuanYi Zen Hei"),
                               QStringLiteral("Droid Sans Fallback")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

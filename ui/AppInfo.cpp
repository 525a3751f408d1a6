#include "AppInfo.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include "Settings.h"

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

QIcon ApplicationIcon() {
  Q_INIT_RESOURCE(quorvel);  // compiled into this static library: registered by hand
  QIcon bundled;
  for (int size : {16, 32, 48, 64, 128, 256})
    bundled.addFile(QStringLiteral(":/quorvel/icons/%1.png").arg(size), QSize(size, size));
  return QIcon::fromTheme(QString::fromLatin1(kDesktopId), bundled);
}

bool ApplyQtTranslations(quorvel::UiLanguage language) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  // One translator for the application's life, owned by it.
  auto* translator = app->findChild<QTranslator*>(QStringLiteral("quorvelQtTranslator"));
  if (!translator) {
    translator = new QTranslator(app);
    translator->setObjectName(QStringLiteral("quorvelQtTranslator"));
  }
  if (language == quorvel::UiLanguage::kEnglish) {
    QCoreApplication::removeTranslator(translator);
    return false;
  }
  if (translator->isEmpty() &&
      !translator->load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(translator);
}

#include "AppInfo.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include "Files.h"
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

bool InstallQtTranslations(QTranslator& translator, const std::string& settingsDir) {
  unsigned char language = quorvel::kUiChinese;
  if (!settingsDir.empty()) {
    try {
      language = quorvel::ReadUiLanguage(quorvel::JoinPath(settingsDir, quorvel::kLanguageFileName));
    } catch (const std::exception&) {
    }
  }
  if (language == quorvel::kUiEnglish) return false;
  if (!translator.load(QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(&translator);
}

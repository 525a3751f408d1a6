// What every window of the desktop program shares: the application title, the version it shows,
// the fonts, and Qt's own texts in the interface language.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

#include <string>

#include "Settings.h"
#include "Version.h"

// The desktop's name for the program: its menu entry (io.github.quorvel.Quorvel.desktop) and the
// icon the menu entry shows.
inline constexpr char kDesktopId[] = "io.github.quorvel.Quorvel";

// The window icon: the menu entry's, from the desktop's icon theme, or the same pictures compiled
// into the program where the theme lacks it (a build run in place).
QIcon ApplicationIcon();

// The title of the application: task bar, and the caption of every message and error box.
inline constexpr char kApplicationTitle[] = "Quorvel";
// The version as the window caption and the About window show it: "v" and the project's version.
inline const QString kVersionText = QStringLiteral("v") + QString::fromLatin1(quorvel::kVersion);

// The windows' font: the desktop's sans-serif, with a CJK face for the Chinese texts, at a pixel
// size chosen to fit the windows' fixed boxes whatever the screen's DPI setting.
QFont WindowFont(int pixelSize, bool bold = false);
inline constexpr int kWindowFontPixels = 12;  // the texts of the windows
inline constexpr int kLargeFontPixels = 13;   // the check box, the radio group, the About labels

// Qt's own texts (standard buttons, file dialogs) in the interface language, at once: for Chinese
// qtbase_zh_CN from Qt's translations folder is installed in the
// application, so that a question reads 是 / 否 rather than Yes / No beside Chinese text; for
// English it is removed. Returns whether Qt's texts are now Chinese (false also when the
// translation is not installed on this machine).
bool ApplyQtTranslations(quorvel::UiLanguage language);

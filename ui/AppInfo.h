// What every window of the desktop program shares: the application title, the version it shows,
// and the fonts.
#pragma once

#include <QFont>
#include <QString>

#include "Version.h"

// The title of the application: task bar, and the caption of every message and error box.
inline constexpr char kApplicationTitle[] = "Quorvel";
// The version as the window caption and the About window show it: "v" and the project's version.
inline const QString kVersionText = QStringLiteral("v") + QString::fromLatin1(quorvel::kVersion);

// The windows' font: the desktop's sans-serif, with a CJK face for the Chinese texts, at a pixel
// size chosen to fit the windows' fixed boxes whatever the screen's DPI setting.
QFont WindowFont(int pixelSize, bool bold = false);
inline constexpr int kWindowFontPixels = 12;   // the texts of the windows
inline constexpr int kLargeFontPixels = 13;    // the check box, the radio group, the About labels

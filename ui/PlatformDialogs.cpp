#include "PlatformDialogs.h"

#include <QtGlobal>

namespace {
PlatformDialogs* gInstalled = nullptr;
}

PlatformDialogs& PlatformDialogs::Instance() {
  // The program installs the real dialogs before it creates a window, a test its fake: a window
  // asking before that is a mistake of the program, not of the user.
  if (!gInstalled) qFatal("PlatformDialogs::Instance() called before PlatformDialogs::Install()");
  return *gInstalled;
}

void PlatformDialogs::Install(PlatformDialogs* dialogs) { gInstalled = dialogs; }

void PlatformDialogs::OpenWebPage(QWidget* parent, const QString& url) {
  if (!OpenWithDesktop(parent, url))
    ShowMessage(parent, QStringLiteral("无法打开网页：桌面上没有可以打开它的浏览器。\r\r") + url);
}

#include "PlatformDialogs.h"

#include "QtPlatformDialogs.h"

namespace {
PlatformDialogs* gInstalled = nullptr;
}

PlatformDialogs& PlatformDialogs::Instance() {
  if (gInstalled) return *gInstalled;
  static QtPlatformDialogs real;
  return real;
}

void PlatformDialogs::Install(PlatformDialogs* dialogs) { gInstalled = dialogs; }

// The real dialogs of the desktop: Qt message boxes and file dialogs, and the desktop's
// "open with" service (xdg-open on Linux) for files and web addresses.
#pragma once

#include <QUrl>

#include "PlatformDialogs.h"

class QtPlatformDialogs : public PlatformDialogs {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override;
  void ShowError(QWidget* parent, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& text) override;
  bool ChooseOpenFile(QWidget* parent, const std::function<void(const QString&)>& accept) override;
  bool ChooseSaveFile(QWidget* parent, const std::function<void(const QString&)>& accept) override;
  void OpenWithDesktop(QWidget* parent, const QString& pathOrUrl) override;

  // The file dialogs' filters, the first preselected. "All" matches every name: on Linux "*.*"
  // would hide the names without a dot.
  static QStringList FileFilters();
  // A file path, or an address with a scheme such as https:, as the desktop service takes it.
  static QUrl DesktopUrl(const QString& pathOrUrl);
};

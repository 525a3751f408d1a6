// The real dialogs of the desktop: Qt message boxes and file dialogs, and the desktop's
// "open with" service (xdg-open on Linux) for files and web addresses; the program a file opens
// with is asked of xdg-mime, as xdg-open asks it.
//
// Message boxes never grow past the screen: a long text is wrapped, also inside long runs without
// blanks (paths, bytes of a damaged file), and cut after a number of lines; the full text is then
// in the box's details. The text can always be selected and copied. A box whose parent is not on
// screen yet (an error while the main window starts) is centred where the parent will appear.
#pragma once

#include <QUrl>

#include "PlatformDialogs.h"

class QMessageBox;

class QtPlatformDialogs : public PlatformDialogs {
 public:
  using PlatformDialogs::Confirm;

  void ShowMessage(QWidget* parent, const QString& text) override;
  void ShowError(QWidget* parent, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& text, Answer preselected) override;
  bool RetryOrCancel(QWidget* parent, const QString& text) override;
  bool ChooseOpenFile(QWidget* parent, const QString& start,
                      const std::function<void(const QString&)>& accept) override;
  bool ChooseSaveFile(QWidget* parent, const QString& start,
                      const std::function<void(const QString&)>& accept) override;
  bool OpenWithDesktop(QWidget* parent, const QString& pathOrUrl) override;
  bool OpensWithThisProgram(const QString& path) override;

  // The file dialogs' filters, the first preselected. "All" matches every name: on Linux "*.*"
  // would hide the names without a dot.
  static QStringList FileFilters();
  // A file path, or an address with a scheme such as https:, as the desktop service takes it.
  static QUrl DesktopUrl(const QString& pathOrUrl);
  // The text a message box shows for `text`: line breaks as LF, runs without a break point
  // wrapped at kWrapColumns characters, at most kShownLines lines (then "…"). Equal to the
  // text (with LF) when nothing had to be wrapped or cut.
  static QString ShownText(const QString& text);
  static constexpr int kWrapColumns = 72;
  static constexpr int kShownLines = 12;
};

// Every message box, confirmation, file picker and "open with the desktop" call of the windows
// goes through this one interface. Production shows the real dialogs; tests install a fake that
// records what was asked and gives prepared answers.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

class PlatformDialogs {
 public:
  virtual ~PlatformDialogs() = default;

  // A plain message box with an OK button (caption: the application title).
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  // The standard error box: `text` already carries its full stop; caption "Quorvel", error icon,
  // OK.
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // A confirmation with Yes and No; true only for Yes. `preselected` is the button that Enter
  // presses: a question whose Yes destroys something preselects No.
  enum class Answer { kYes, kNo };
  virtual bool Confirm(QWidget* parent, const QString& text, Answer preselected) = 0;
  bool Confirm(QWidget* parent, const QString& text) { return Confirm(parent, text, Answer::kYes); }
  // A box with Retry and Cancel (Retry preselected); true only for Retry. By default a
  // confirmation, Yes standing for Retry.
  virtual bool RetryOrCancel(QWidget* parent, const QString& text) {
    return Confirm(parent, text, Answer::kYes);
  }
  // File dialogs with the filters "Text file (*.txt)", "Table (*.csv *.tsv *.xlsx)" and "All
  // (*.*)", the first preselected. `start` is the folder the dialog shows first, or a file path:
  // its folder, with its name filled in. `accept` runs on a confirmed choice before the dialog
  // closes. Returns whether the user confirmed a file.
  virtual bool ChooseOpenFile(QWidget* parent, const QString& start,
                              const std::function<void(const QString&)>& accept) = 0;
  virtual bool ChooseSaveFile(QWidget* parent, const QString& start,
                              const std::function<void(const QString&)>& accept) = 0;
  // Opens a file or web address with the desktop's associated program. False when the desktop
  // has no program for it (or no launcher at all).
  virtual bool OpenWithDesktop(QWidget* parent, const QString& pathOrUrl) = 0;
  // Whether the desktop's program for the file at `path` is this program itself: opening it then
  // would only start this program once more.
  virtual bool OpensWithThisProgram(const QString& path) = 0;
  // How long a conversion runs before its progress dialog shows, in milliseconds: long enough
  // that a short run never flashes one.
  virtual int ProgressDelayMs() const { return 500; }
  // Opens a web page in the desktop's browser; a failure (no browser, no launcher) is shown in a
  // message box that names the address.
  void OpenWebPage(QWidget* parent, const QString& url);

  // The instance the windows use: the program installs QtPlatformDialogs at start-up, tests a
  // fake. Asking before anything is installed ends the program with a message (a programming
  // error, found by the first test that shows a window).
  static PlatformDialogs& Instance();
  static void Install(PlatformDialogs* dialogs);  // not owned
};

// quorvel: the desktop program. One main window, with the help window and the two dictionary
// editors created hidden beside it; the program ends when the main window closes. Its files lie
// where DataLocations.h says: beside it when it runs from a build or an unpacked folder, else in
// the user's own folders.
//
//   quorvel [FILE]     FILE: a names file, taken as if chosen in the open dialog
//
// QUORVEL_QUIT_AFTER_START (any value) closes the main window as soon as the event loop runs, the
// way the user closing it would: the installed-tree test uses it to start and end the real
// program unattended.
#include <QApplication>
#include <QTimer>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include "AppInfo.h"
#include "DataLocations.h"
#include "DictionaryEditor.h"
#include "Errors.h"
#include "HelpWindow.h"
#include "ListFiles.h"
#include "MainWindow.h"
#include "MakerConfig.h"
#include "QtPlatformDialogs.h"
#include "Settings.h"
#include "WebBanner.h"
#include "WholeNamesEditor.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fputs(
        "quorvel: no graphical display here (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
        "Start it from a desktop session, or convert a names file on the command line with\n"
        "quorvel-cli (see quorvel-cli --help).\n",
        stderr);
    return 1;
  }
  // The banner's browser engine, loaded only for a banner page that can be shown, needs a shared
  // OpenGL context from the start; without a page no OpenGL is set up at all (on a machine
  // without a GPU that alone would load a software renderer of some 40 MiB).
  const QUrl bannerUrl(QString::fromUtf8(quorvel::maker::kBannerUrl));
  if (IsLoadableBannerAddress(bannerUrl))
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The browser engine refuses to run its sandbox as root; CI and some containers run the program
  // as root, so switch the sandbox off there and only there.
  if (::geteuid() == 0) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  QApplication::setWindowIcon(ApplicationIcon());

  QtPlatformDialogs dialogs;
  PlatformDialogs::Install(&dialogs);

  const quorvel::DataLocations where =
      quorvel::FindDataLocations(quorvel::LocationInputsOfThisProgram());
  // Qt's own texts follow the interface language from the start (before a start-up error box).
  ApplyQtTranslations(quorvel::UiLanguage::kChinese);

  quorvel::ListFiles data(where.dictionaryDir, where.mappingDir);
  // The windows are created in this order and destroyed in the reverse one, the main window last.
  // Creating the main window loads the lists; the editors fill themselves from them.
  MainWindow mainWindow(data, where.settingsDir, bannerUrl);
  HelpWindow helpWindow(data, QString::fromStdString(where.dictionaryDir), &mainWindow);
  mainWindow.SetHelpWindow(&helpWindow);
  DictionaryEditor wadeGilesEditor(data, quorvel::CustomDictionary::Kind::kWadeGiles, &mainWindow);
  DictionaryEditor pinyinEditor(data, quorvel::CustomDictionary::Kind::kStandard, &mainWindow);
  mainWindow.SetDictionaryEditors(&pinyinEditor, &wadeGilesEditor);
  WholeNamesEditor wholeNamesEditor(data, &mainWindow);
  mainWindow.SetWholeNamesEditor(&wholeNamesEditor);

  mainWindow.show();
  if (!where.warnings.empty()) {
    QStringList lines;
    for (const std::string& warning : where.warnings)
      lines << QString::fromStdString(quorvel::WithFullStop(warning));
    PlatformDialogs::Instance().ShowMessage(&mainWindow, lines.join(QLatin1Char('\n')));
  }
  // Qt has taken its own options (-platform and the like) out of the arguments by now.
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) mainWindow.OpenSourceFile(arguments.at(1));
  if (std::getenv("QUORVEL_QUIT_AFTER_START")) QTimer::singleShot(0, &mainWindow, &QWidget::close);
  const int result = app.exec();
  PlatformDialogs::Install(nullptr);
  return result;
}

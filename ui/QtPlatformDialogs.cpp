#include "QtPlatformDialogs.h"

#include "ScreenFit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace {

QString Title() { return QApplication::applicationName(); }

// Messages may break their lines with CR or CR LF (the line end of the program's own files); a
// label wants LF.
QString WithLineFeeds(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

// Centres `box` on `parent` while the parent is not shown yet: Qt would otherwise put the box in
// a corner of the screen. Kept inside the parent's screen.
void PlaceBeside(QDialog& box, QWidget* parent) {
  if (!parent || parent->window()->isVisible()) return;  // Qt centres on a shown parent itself
  QWidget* window = parent->window();
  box.adjustSize();
  QRect frame(QPoint(0, 0), box.size());
  frame.moveCenter(window->geometry().center());
  if (QScreen* screen = window->screen()) {
    const QRect area = screen->availableGeometry();
    frame.moveLeft(
        std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width())));
    frame.moveTop(
        std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height())));
  }
  box.move(frame.topLeft());
}

int ShowBox(QMessageBox::Icon icon, QWidget* parent, const QString& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton preselected) {
  const QString full = WithLineFeeds(text);
  const QString shown = QtPlatformDialogs::ShownText(text);
  QMessageBox box(icon, Title(), shown, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  if (shown != full) box.setDetailedText(full);
  if (preselected != QMessageBox::NoButton) box.setDefaultButton(preselected);
  PlaceBeside(box, parent);
  return box.exec();
}

bool ChooseFile(QWidget* parent, QFileDialog::AcceptMode mode, const QString& start,
                const std::function<void(const QString&)>& accept) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilters(QtPlatformDialogs::FileFilters());
  dialog.selectNameFilter(QtPlatformDialogs::FileFilters().front());
  if (!start.isEmpty()) {
    const QFileInfo info(start);
    if (info.isDir()) {
      dialog.setDirectory(start);
    } else {
      dialog.setDirectory(info.absolutePath());
      dialog.selectFile(info.fileName());
    }
  }
  // Qt's own size for the dialog may be taller than a small screen scaled up.
  dialog.resize(dialog.sizeHint());
  FitOnScreen(&dialog, parent);
  bool chosen = false;
  // fileSelected comes with the confirmation, before the dialog closes.
  QObject::connect(&dialog, &QFileDialog::fileSelected, &dialog, [&](const QString& file) {
    if (file.isEmpty() || chosen) return;
    chosen = true;
    accept(file);
  });
  dialog.exec();
  return chosen;
}

// The first line xdg-mime prints for `arguments`, or an empty text (no xdg-mime, no answer).
QString AskXdgMime(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral("xdg-mime"), arguments, QIODevice::ReadOnly);
  if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    process.kill();
    return {};
  }
  return QString::fromLocal8Bit(process.readAllStandardOutput())
      .section(QLatin1Char('\n'), 0, 0)
      .trimmed();
}

// The program a desktop entry runs: the first word of the Exec line of its [Desktop Entry] group.
QString ProgramOfDesktopEntry(const QString& desktopId) {
  QFile file(QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId));
  if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  bool inEntry = false;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('['))) inEntry = line == QLatin1String("[Desktop Entry]");
    if (inEntry && line.startsWith(QLatin1String("Exec=")))
      return line.mid(5).section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
  }
  return {};
}

}  // namespace

QStringList QtPlatformDialogs::FileFilters() {
  return {QStringLiteral("Text file (*.txt)"), QStringLiteral("Table (*.csv *.tsv *.xlsx)"),
          QStringLiteral("All (*)")};
}

QUrl QtPlatformDialogs::DesktopUrl(const QString& pathOrUrl) {
  QUrl url(pathOrUrl, QUrl::StrictMode);
  if (url.isValid() && url.scheme().size() > 1) return url;  // "c:" style names are no scheme
  return QUrl::fromLocalFile(pathOrUrl);
}

QString QtPlatformDialogs::ShownText(const QString& text) {
  QStringList lines;
  for (const QString& line : WithLineFeeds(text).split(QLatin1Char('\n'))) {
    // Blanks are break points the label uses itself; a longer run without one is broken here,
    // never inside a surrogate pair.
    QString wrapped;
    int run = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
      const QChar c = line[i];
      if (c.isSpace()) {
        run = 0;
      } else if (run >= kWrapColumns && !c.isLowSurrogate()) {
        lines << wrapped;
        wrapped.clear();
        run = 0;
      }
      wrapped += c;
      if (!c.isSpace() && !c.isLowSurrogate()) ++run;
    }
    lines << wrapped;
  }
  if (lines.size() > kShownLines) {
    lines.resize(kShownLines);
    lines << QStringLiteral("…");
  }
  return lines.join(QLatin1Char('\n'));
}

void QtPlatformDialogs::ShowMessage(QWidget* parent, const QString& text) {
  ShowBox(QMessageBox::NoIcon, parent, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void QtPlatformDialogs::ShowError(QWidget* parent, const QString& text) {
  ShowBox(QMessageBox::Critical, parent, text, QMessageBox::Ok, QMessageBox::NoButton);
}

bool QtPlatformDialogs::Confirm(QWidget* parent, const QString& text, Answer preselected) {
  return ShowBox(QMessageBox::Question, parent, text, QMessageBox::Yes | QMessageBox::No,
                 preselected == Answer::kNo ? QMessageBox::No : QMessageBox::Yes) ==
         QMessageBox::Yes;
}

bool QtPlatformDialogs::RetryOrCancel(QWidget* parent, const QString& text) {
  return ShowBox(QMessageBox::Warning, parent, text, QMessageBox::Retry | QMessageBox::Cancel,
                 QMessageBox::Retry) == QMessageBox::Retry;
}

bool QtPlatformDialogs::ChooseOpenFile(QWidget* parent, const QString& start,
                                       const std::function<void(const QString&)>& accept) {
  return ChooseFile(parent, QFileDialog::AcceptOpen, start, accept);
}

bool QtPlatformDialogs::ChooseSaveFile(QWidget* parent, const QString& start,
                                       const std::function<void(const QString&)>& accept) {
  return ChooseFile(parent, QFileDialog::AcceptSave, start, accept);
}

bool QtPlatformDialogs::OpenWithDesktop(QWidget*, const QString& pathOrUrl) {
  return QDesktopServices::openUrl(DesktopUrl(pathOrUrl));
}

bool QtPlatformDialogs::OpensWithThisProgram(const QString& path) {
  QString type = AskXdgMime({QStringLiteral("query"), QStringLiteral("filetype"), path});
  if (type.isEmpty()) type = QMimeDatabase().mimeTypeForFile(path).name();
  const QString handler = AskXdgMime({QStringLiteral("query"), QStringLiteral("default"), type});
  if (handler.isEmpty()) return false;
  // The program's own desktop entry (the program names it at start-up).
  if (handler == QGuiApplication::desktopFileName() + QLatin1String(".desktop")) return true;
  const QString program = ProgramOfDesktopEntry(handler);
  return !program.isEmpty() && QFileInfo(program).fileName() ==
                                   QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

#include "QtPlatformDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

QString Title() { return QApplication::applicationName(); }

// The program's texts break lines with CR as the desktop program always has; a label wants LF.
QString ForDisplay(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

bool ChooseFile(QWidget* parent, QFileDialog::AcceptMode mode,
                const std::function<void(const QString&)>& accept) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilters(QtPlatformDialogs::FileFilters());
  dialog.selectNameFilter(QtPlatformDialogs::FileFilters().front());
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

}  // namespace

QStringList QtPlatformDialogs::FileFilters() {
  return {QStringLiteral("Text file (*.txt)"), QStringLiteral("All (*)")};
}

QUrl QtPlatformDialogs::DesktopUrl(const QString& pathOrUrl) {
  QUrl url(pathOrUrl, QUrl::StrictMode);
  if (url.isValid() && url.scheme().size() > 1) return url;  // "c:" style names are no scheme
  return QUrl::fromLocalFile(pathOrUrl);
}

void QtPlatformDialogs::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, Title(), ForDisplay(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtPlatformDialogs::ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, Title(), ForDisplay(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool QtPlatformDialogs::Confirm(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, Title(), ForDisplay(text),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool QtPlatformDialogs::ChooseOpenFile(QWidget* parent,
                                       const std::function<void(const QString&)>& accept) {
  return ChooseFile(parent, QFileDialog::AcceptOpen, accept);
}

bool QtPlatformDialogs::ChooseSaveFile(QWidget* parent,
                                       const std::function<void(const QString&)>& accept) {
  return ChooseFile(parent, QFileDialog::AcceptSave, accept);
}

void QtPlatformDialogs::OpenWithDesktop(QWidget*, const QString& pathOrUrl) {
  QDesktopServices::openUrl(DesktopUrl(pathOrUrl));
}

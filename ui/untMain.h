// The main window: the source and target file fields, the four controls that make up the
// conversion options, the convert button, the menu and the web banner.
//
// The window is given the folder that holds its data and settings files (the executable's folder
// in production) and the one PronunciationData of the program. Creating it runs FormCreate: the
// pronunciation lists are loaded, the banner starts loading, the interface language is read from
// config.db and applied, and the conversion settings are restored from config1.dll; an error on
// the way is shown in the error box and skips the remaining steps. Closing it, whichever way, runs
// FormClose: the lists are released and the settings saved.
//
// Every message box, confirmation, file dialog and desktop-open call goes through
// PlatformDialogs::Instance().
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <string>

#include "NameRomanizer.h"

class QDialog;
class QLabel;
class QRadioButton;
class QButtonGroup;

namespace quorvel {
class PronunciationData;
}
namespace Ui {
class TfrmMain;
}

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // `bannerUrl` is the page the banner shows; production passes the maker's banner page.
  TfrmMain(quorvel::PronunciationData& data, std::string dataDir, const QUrl& bannerUrl,
           QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The help window that N7 shows (created after this window, as the program starts).
  void setHelpWindow(QWidget* help);
  // Plugs in the two dictionary editors: N_standard and N_wei stay disabled until then.
  void setDictionaryEditors(QDialog* han, QDialog* weiHan);

  // The interface language applied at start-up: 1 English, 0 Chinese.
  unsigned char UiLanguage() const { return uiLanguage_; }
  // How long a conversion runs before its progress dialog shows (500 ms); tests set 0.
  static void SetProgressDelayForTest(int milliseconds);

  // The conversion options as the controls hold them right now.
  quorvel::ConversionOptions CurrentOptions() const;

  // Handlers, named after the control and event that raise them.
  void btnOkClick();
  void btnopenClick();
  void N2Click();
  void N3Click();
  void N5Click();
  void N7Click();
  void N8Click();
  void N10Click();
  void N11Click();
  void N_standardClick();
  void N_weiClick();
  void Image2Click();
  void Image3Click();
  void OpenDialog1CanClose(const QString& path);
  void SaveDialog1CanClose(const QString& path);
  void WebBrowser1DocumentComplete(bool ok);

  // Sets the captions of `language` (1 English, anything else Chinese) and records it in config.db.
  void interfacelanguage(unsigned char language);
  void ConfigSave();
  void ConfigLoad();

 signals:
  // After each finished load of the banner, once its adjustments have been applied.
  void bannerAdjusted();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void FormCreate();
  void FormClose();
  void ShowOpenDialog();
  void ApplyOptions(const quorvel::ConversionOptions& options);
  void ShowError(const std::exception& error);
  std::string FilePath(const char* name) const;

  std::unique_ptr<Ui::TfrmMain> ui;
  quorvel::PronunciationData& data_;
  const std::string dataDir_;
  const QUrl bannerUrl_;
  unsigned char uiLanguage_ = 0;
  QButtonGroup* nameFormats_ = nullptr;
  QPointer<QWidget> frmNote_;
  QPointer<QDialog> frmHan_;
  QPointer<QDialog> frmWeiHan_;
  bool bannerFellBack_ = false;
  bool centred_ = false;
};

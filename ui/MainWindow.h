// The main window: the source and target file fields, the controls that make up the
// conversion options, the convert button, the menu and the banner.
//
// The window is given the folder of its settings files (see DataLocations.h; empty when there is
// none, and then the settings are neither read nor kept) and the one ListFiles of the program.
// Creating it starts the window up: the pronunciation lists are loaded, the interface language is
// read from config.db and applied, and the conversion settings are restored from config1.dll; an
// error on the way is shown in the error box and skips the remaining steps. Closing it, whichever
// way, shuts it down: the lists are released and the settings saved.
//
// The banner is drawn by the window itself. When a banner page is configured, its web view is
// created only once the window has been painted, loads behind the drawn banner and replaces it
// when the page has loaded; a page that cannot be reached leaves the drawn banner.
//
// A settings file that cannot be read is never overwritten with the initial values: config.db is
// written again only when the user chooses a language, config1.dll only when the user changed a
// choice. A failure with one settings file never keeps the other from loading; the error names
// the file.
//
// A names file dropped on the window, or given to the program as its argument, is taken as the
// open dialog takes a chosen one. A table (.csv, .tsv, .xlsx) asks for its name column first
// (TableColumnChooser) and converts into the same kind of table.
//
// Every message box, confirmation, file dialog and desktop-open call goes through
// PlatformDialogs::Instance().
//
// Handlers (the slots the controls and menu items are connected to) are named camelCase after
// what they do; the other members PascalCase.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <optional>
#include <string>

#include "NameRomanizer.h"
#include "Settings.h"
#include "TableConversion.h"

class ConversionReview;
class HelpWindow;
class QActionGroup;
class QButtonGroup;
class QDialog;
class QPushButton;

namespace quorvel {
class ListFiles;
}
namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `bannerUrl` is the page the banner shows; production passes the maker's banner page. An empty
  // or placeholder address (see IsLoadableBannerAddress) keeps the built-in banner.
  MainWindow(quorvel::ListFiles& data, std::string settingsDir, const QUrl& bannerUrl,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  // The help window that "使用说明" shows (created after this window, as the program starts).
  void SetHelpWindow(HelpWindow* help);
  // Plugs in the two dictionary editors: their menu items stay disabled until then.
  void SetDictionaryEditors(QDialog* pinyin, QDialog* wadeGiles);
  // Plugs in the whole names' editor: a third item of the dictionary menu shows it.
  void SetWholeNamesEditor(QDialog* editor);

  // The interface language applied at start-up.
  quorvel::UiLanguage UiLanguage() const { return uiLanguage_; }
  // The conversion options as the controls hold them right now.
  quorvel::ConversionOptions CurrentOptions() const;

  // Sets the captions of `language` and records it in config.db.
  void ApplyLanguage(quorvel::UiLanguage language);
  // Takes `path` as the source file, as the open dialog does, after checking that it names a
  // file (a message otherwise). The program's argument and a dropped file come here.
  bool OpenSourceFile(const QString& path);
  // The conversion settings file, config1.dll: written from the controls, read into them.
  void SaveSettings();
  void LoadSettings();

 public slots:
  void convert();
  void openSource();  // the open button and the menu item: chooses the source file
  void chooseTarget();
  void showHelp();
  void openOnlineHelp();
  void showAbout();
  void openWebsite();
  void openPinyinDictionary();
  void openWadeGilesDictionary();
  void switchToChinese();  // the language menu and the hidden language switches
  void switchToEnglish();
  // A file confirmed in the open or save dialog, before the dialog closes.
  void acceptSource(const QString& path);
  void acceptTarget(const QString& path);
  void adjustBanner(bool loaded);  // each finished load of the banner page
  void passportToggled(bool on);   // the passport format check box
  void showReview();               // "N 个姓名需要核对": the names of the last run to check

 signals:
  // After each finished load of the banner page: once it has been adjusted and shown, or, when it
  // failed, with the built-in banner kept.
  void bannerAdjusted();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void SetUpControls();
  void ConnectActions();
  void SetUpLanguageMenuAndKeys();
  void StartUp();
  void StartWebBanner();
  void ShutDown();
  void SwitchLanguage(quorvel::UiLanguage language);
  void SetCaptions(quorvel::UiLanguage language);
  void ApplyOptions(const quorvel::ConversionOptions& options);
  void ShowError(const std::exception& error);
  void OpenResult(const QString& target);
  // "无法读取设置文件…" or "无法写入设置文件…" with the file's path and the error.
  void ShowSettingsError(bool reading, const std::string& path, const std::exception& error);
  QString OpenDialogStart() const;
  QString SaveDialogStart() const;
  std::string FilePath(const char* name) const;
  bool KeepsSettings() const { return !settingsDir_.empty(); }
  // Tables: the name column asked for when one is chosen as the source, and its run.
  void ChooseTableColumn(const QString& path);
  void ConvertTableSource();
  void OfferReview(std::unique_ptr<ConversionReview> review);
  bool SourceFound(const QString& source, const QString& target);
  void OfferToOpen(const QString& target, const QString& summary);

  std::unique_ptr<Ui::MainWindow> ui_;
  quorvel::ListFiles& lists_;  // the list files every conversion and editor reads
  const std::string settingsDir_;
  const QUrl bannerUrl_;
  quorvel::UiLanguage uiLanguage_ = quorvel::UiLanguage::kChinese;
  QButtonGroup* formatButtons_ = nullptr;
  QActionGroup* languageChoices_ = nullptr;
  QString lastFolder_;  // of the last file chosen, dropped or given; the open dialog starts there
  // config1.dll stood at start-up: it is kept unless the user changes a choice.
  bool keepSettingsFile_ = false;
  quorvel::ConversionOptions optionsAtStart_;
  QPointer<HelpWindow> helpWindow_;
  QPointer<QDialog> pinyinEditor_;
  QPointer<QDialog> wadeGilesEditor_;
  QPointer<QWidget> bannerView_;  // the banner page's web view, once created
  bool centred_ = false;
  // The source is a table: how its names are found (TableColumnChooser); none for a names file.
  std::optional<quorvel::TableOptions> tableOptions_;
  // The names the last conversion flagged, and the button that shows them (hidden without).
  std::unique_ptr<ConversionReview> review_;
  QPushButton* reviewButton_ = nullptr;
};

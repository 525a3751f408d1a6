#include "MainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QProgressDialog>
#include <QScreen>
#include <QStringDecoder>
#include <QWebEnginePage>

#include "AppInfo.h"
#include "BatchConversion.h"
#include "Errors.h"
#include "Files.h"
#include "HelpWindow.h"
#include "JpegImage.h"
#include "MakerConfig.h"
#include "PlatformDialogs.h"
#include "Settings.h"
#include "AboutWindow.h"
#include "ListFiles.h"
#include "ui_MainWindow.h"

// The pictures, icon and built-in banner are compiled into this library; a static library needs
// its resources registered by hand.
static void InitResources() { Q_INIT_RESOURCE(quorvel); }

namespace {

constexpr int kClientWidth = 518;
constexpr int kClientHeight = 300;  // below the menu bar
int gProgressDelay = 500;

// Engine messages carry file names (UTF-8 on Linux) and at times bytes read from a file, which
// may be GBK.
QString FromEngineText(const std::string& text) {
  QStringDecoder utf8(QStringConverter::Utf8);
  QString result = utf8(QByteArray::fromStdString(text));
  if (!utf8.hasError()) return result;
  QStringDecoder gbk("GB18030");
  if (gbk.isValid()) return gbk(QByteArray::fromStdString(text));
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Shown while a long conversion runs. It has no cancel button and cannot be closed by the user:
// the run ends on its own, and the window takes no input until then.
class RunProgress : public QProgressDialog {
 public:
  explicit RunProgress(QWidget* parent) : QProgressDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setLabelText(QStringLiteral("正在转换……"));
    setCancelButton(nullptr);
    setWindowModality(Qt::ApplicationModal);
    setAutoClose(false);
    setAutoReset(false);
    setMinimumDuration(gProgressDelay);
    setRange(0, kSteps);
    setValue(0);
  }

  void Report(size_t done, size_t total) {
    if (total == 0) return;
    setValue(static_cast<int>(std::min<size_t>(done, total) * kSteps / total));
  }

  // Escape and the window manager's close command change nothing.
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }

 private:
  static constexpr int kSteps = 1000;
};

// The busy cursor for the length of a conversion run.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

// The banner's own page, for when the maker's page cannot be reached.
QString BuiltInBanner() {
  QFile file(QStringLiteral(":/quorvel/banner.html"));
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("<html><body></body></html>");
  return QString::fromUtf8(file.readAll());
}

// Hides the page's scroll bars and removes its border, on the top-level document.
constexpr char kBannerAdjustment[] =
    "(function () {"
    "  var body = document.body;"
    "  if (!body) return false;"
    "  body.scroll = 'no';"
    "  body.style.overflow = 'hidden';"
    "  document.documentElement.style.overflow = 'hidden';"
    "  body.style.border = 'none';"
    "  return true;"
    "})()";

}  // namespace

MainWindow::MainWindow(quorvel::ListFiles& data, std::string settingsDir, const QUrl& bannerUrl,
                   QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::MainWindow>()),
      data_(data),
      settingsDir_(std::move(settingsDir)),
      bannerUrl_(bannerUrl) {
  InitResources();
  ui_->setupUi(this);
  // Sizeable, with a minimise button but no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/quorvel/quorvel.png")));

  setFont(WindowFont(kWindowFontPixels));
  for (QMenu* menu : findChildren<QMenu*>()) menu->setFont(WindowFont(kWindowFontPixels));
  ui_->wadeGilesCheck->setFont(WindowFont(kLargeFontPixels));
  ui_->passportCheck->setFont(WindowFont(kLargeFontPixels));
  ui_->formatGroup->setFont(WindowFont(kLargeFontPixels, true));

  formatButtons_ = new QButtonGroup(this);
  const QList<QRadioButton*> formats = {
      ui_->formatButton0, ui_->formatButton1, ui_->formatButton2, ui_->formatButton3,
      ui_->formatButton4, ui_->formatButton5, ui_->formatButton6, ui_->formatButton7,
      ui_->formatButton8, ui_->formatButton9};
  for (int i = 0; i < formats.size(); ++i) {
    formats[i]->setText(QString::fromUtf8(quorvel::kNameFormatCaptions[i]));
    formatButtons_->addButton(formats[i], i);
  }

  // The pictures are shown at their natural size in the top left corner of their places.
  const auto picture = [](const char* name) {
    return QPixmap::fromImage(LoadJpeg(QStringLiteral(":/quorvel/") + QLatin1String(name)));
  };
  ui_->sampleNameImage->setPixmap(picture("Image1.jpg"));
  ui_->chineseInterfaceImage->setPixmap(picture("Image2.jpg"));
  ui_->englishInterfaceImage->setPixmap(picture("Image3.jpg"));
  ui_->chineseInterfaceImage->installEventFilter(this);
  ui_->englishInterfaceImage->installEventFilter(this);

  // The two separators of the menus carry their own names too.
  const QList<QAction*> fileItems = ui_->fileMenu->actions();
  const QList<QAction*> helpItems = ui_->helpMenu->actions();
  if (fileItems.size() == 4) fileItems[2]->setObjectName(QStringLiteral("fileMenuSeparator"));
  if (helpItems.size() == 4) helpItems[2]->setObjectName(QStringLiteral("helpMenuSeparator"));

  connect(ui_->convertButton, &QPushButton::clicked, this, &MainWindow::convert);
  connect(ui_->openButton, &QPushButton::clicked, this, &MainWindow::openSource);
  connect(ui_->openSourceAction, &QAction::triggered, this, &MainWindow::openSource);
  connect(ui_->chooseTargetAction, &QAction::triggered, this, &MainWindow::chooseTarget);
  connect(ui_->exitAction, &QAction::triggered, this, &MainWindow::close);
  connect(ui_->helpAction, &QAction::triggered, this, &MainWindow::showHelp);
  connect(ui_->onlineHelpAction, &QAction::triggered, this, &MainWindow::openOnlineHelp);
  connect(ui_->aboutAction, &QAction::triggered, this, &MainWindow::showAbout);
  connect(ui_->websiteAction, &QAction::triggered, this, &MainWindow::openWebsite);
  connect(ui_->pinyinDictionaryAction, &QAction::triggered, this,
          &MainWindow::openPinyinDictionary);
  connect(ui_->wadeGilesDictionaryAction, &QAction::triggered, this,
          &MainWindow::openWadeGilesDictionary);
  connect(ui_->bannerView, &QWebEngineView::loadFinished, this, &MainWindow::adjustBanner);
  connect(ui_->passportCheck, &QCheckBox::toggled, this, &MainWindow::passportToggled);

  resize(kClientWidth, ui_->mainMenu->sizeHint().height() + kClientHeight);

  StartUp();
  if (QAbstractButton* chosen = formatButtons_->checkedButton()) chosen->setFocus();
}

MainWindow::~MainWindow() = default;

void MainWindow::SetProgressDelayForTest(int milliseconds) { gProgressDelay = milliseconds; }

std::string MainWindow::FilePath(const char* name) const { return quorvel::JoinPath(settingsDir_, name); }

void MainWindow::ShowError(const std::exception& error) {
  PlatformDialogs::Instance().ShowError(this, FromEngineText(quorvel::WithFullStop(error.what())));
}

void MainWindow::SetHelpWindow(HelpWindow* help) { helpWindow_ = help; }

void MainWindow::SetDictionaryEditors(QDialog* pinyin, QDialog* wadeGiles) {
  pinyinEditor_ = pinyin;
  wadeGilesEditor_ = wadeGiles;
  ui_->pinyinDictionaryAction->setEnabled(pinyin != nullptr);
  ui_->wadeGilesDictionaryAction->setEnabled(wadeGiles != nullptr);
}

// ---- Start-up and closing --------------------------------------------------------------------

void MainWindow::StartUp() {
  try {
    data_.Load();
    if (!bannerUrl_.isEmpty()) ui_->bannerView->load(bannerUrl_);
    uiLanguage_ = quorvel::kUiChinese;
    if (KeepsSettings()) uiLanguage_ = quorvel::ReadUiLanguage(FilePath(quorvel::kLanguageFileName));
    ApplyLanguage(uiLanguage_);
    LoadSettings();
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  ShutDown();
  event->accept();
}

void MainWindow::ShutDown() {
  data_.Release();
  try {
    SaveSettings();
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void MainWindow::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    if (QScreen* screen = this->screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QMainWindow::showEvent(event);
}

// Enter presses the convert button wherever the focus is, except on the open button, which
// takes Enter itself.
void MainWindow::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    event->accept();
    ui_->convertButton->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

// Keyboard order: the name formats first, then the convert button, the banner, the two file
// fields, the open button, and the option controls from right to left, each column top down. Kept here rather than
// in Qt's focus chain: the banner's focus widget comes into being only once a page has loaded.
bool MainWindow::focusNextPrevChild(bool next) {
  QWidget* const order[] = {ui_->formatGroup,    ui_->convertButton,  ui_->bannerView,
                            ui_->sourcePathEdit, ui_->targetPathEdit, ui_->openButton,
                            ui_->wadeGilesCheck, ui_->passportCheck,  ui_->separatorCombo,
                            ui_->umlautCombo,    ui_->readingsCombo};
  const int count = static_cast<int>(std::size(order));
  QWidget* focus = QApplication::focusWidget();
  int at = -1;
  for (int i = 0; i < count && focus; ++i) {
    if (order[i] == focus || order[i]->isAncestorOf(focus)) at = i;
  }
  if (at < 0) return QMainWindow::focusNextPrevChild(next);
  for (int step = 1; step < count; ++step) {
    QWidget* candidate = order[(at + (next ? step : count - step)) % count];
    if (candidate == ui_->formatGroup) candidate = formatButtons_->checkedButton();
    if (!candidate || !candidate->isVisible() || !candidate->isEnabled()) continue;
    if (candidate == ui_->bannerView && !candidate->focusProxy()) continue;  // nothing loaded yet
    candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
  }
  return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == ui_->chineseInterfaceImage) switchToChinese();
    if (watched == ui_->englishInterfaceImage) switchToEnglish();
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Interface language ----------------------------------------------------------------------

void MainWindow::ApplyLanguage(unsigned char language) {
  const bool english = language == quorvel::kUiEnglish;
  auto text = [english](const char* chinese, const char* inEnglish) {
    return QString::fromUtf8(english ? inEnglish : chinese);
  };
  ui_->openButton->setText(text("打开", "Open"));
  ui_->convertButton->setText(text("转换", "Start"));
  ui_->fileMenu->setTitle(text("文件", "File"));
  ui_->openSourceAction->setText(text("打开中文姓名文件", "Open"));
  ui_->chooseTargetAction->setText(text("英文姓名文件保存为", "Save as"));
  ui_->exitAction->setText(text("退出", "Exit"));
  ui_->helpMenu->setTitle(text("帮助", "Help"));
  ui_->helpAction->setText(text("使用说明", "Content"));
  ui_->onlineHelpAction->setText(text("在线帮助", "Online help"));
  ui_->aboutAction->setText(text("关于", "About"));
  ui_->websiteAction->setText(text("官网", "Website"));
  // Both languages show the version the program has.
  setWindowTitle(QString::fromUtf8(kApplicationTitle) + QLatin1Char(' ') + kVersionText);
  if (KeepsSettings()) {
    quorvel::WriteUiLanguage(FilePath(quorvel::kLanguageFileName),
                             english ? quorvel::kUiEnglish : quorvel::kUiChinese);
  }
}

void MainWindow::switchToChinese() { SwitchLanguage(quorvel::kUiChinese); }
void MainWindow::switchToEnglish() { SwitchLanguage(quorvel::kUiEnglish); }

void MainWindow::SwitchLanguage(unsigned char language) {
  try {
    uiLanguage_ = language;
    ApplyLanguage(uiLanguage_);
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

// ---- Conversion settings ---------------------------------------------------------------------

quorvel::ConversionOptions MainWindow::CurrentOptions() const {
  const int format = ui_->passportCheck->isChecked() ? static_cast<int>(quorvel::NameFormat::kPassport)
                                                     : formatButtons_->checkedId();
  return quorvel::OptionsFromControlIndexes(ui_->readingsCombo->currentIndex(),
                                            ui_->separatorCombo->currentIndex(),
                                            ui_->wadeGilesCheck->isChecked(), format,
                                            ui_->umlautCombo->currentIndex());
}

// The passport format sets the layout and the ü spelling itself: the format buttons and the
// spelling drop-down have no say while it is ticked.
void MainWindow::passportToggled(bool on) {
  ui_->formatGroup->setEnabled(!on);
  ui_->umlautCombo->setEnabled(!on);
}

void MainWindow::ApplyOptions(const quorvel::ConversionOptions& options) {
  const quorvel::ControlIndexes indexes = quorvel::ControlIndexesOf(options);
  ui_->readingsCombo->setCurrentIndex(indexes.polyphone);
  ui_->separatorCombo->setCurrentIndex(indexes.separator);
  ui_->wadeGilesCheck->setChecked(indexes.wadeGiles);
  ui_->umlautCombo->setCurrentIndex(indexes.umlaut);
  // The passport format is a tick of its own; the format buttons keep their choice beside it.
  const bool passport = options.format == quorvel::NameFormat::kPassport;
  ui_->passportCheck->setChecked(passport);
  if (QAbstractButton* format = formatButtons_->button(indexes.format); format && !passport)
    format->setChecked(true);
}

void MainWindow::SaveSettings() {
  if (!KeepsSettings()) return;
  quorvel::WriteConversionSettings(FilePath(quorvel::kSettingsFileName), CurrentOptions());
}

void MainWindow::LoadSettings() {
  if (!KeepsSettings()) return;
  quorvel::ConversionOptions options = CurrentOptions();
  try {
    quorvel::ReadConversionSettings(FilePath(quorvel::kSettingsFileName), options);
  } catch (...) {
    ApplyOptions(options);  // the settings read before the bad line stay restored
    throw;
  }
  ApplyOptions(options);
}

// ---- Files and conversion --------------------------------------------------------------------

void MainWindow::openSource() {
  PlatformDialogs::Instance().ChooseOpenFile(this, [this](const QString& path) {
    acceptSource(path);
  });
}

void MainWindow::acceptSource(const QString& path) {
  ui_->sourcePathEdit->setText(path);
  ui_->targetPathEdit->setText(QFile::decodeName(quorvel::ProposeTargetName(ToPath(path)).c_str()));
}

void MainWindow::chooseTarget() {
  PlatformDialogs::Instance().ChooseSaveFile(this, [this](const QString& path) {
    acceptTarget(path);
  });
}

void MainWindow::acceptTarget(const QString& path) { ui_->targetPathEdit->setText(path); }

void MainWindow::convert() {
  const QString source = ui_->sourcePathEdit->text();
  const QString target = ui_->targetPathEdit->text();
  // The options are read once, at the click: every line of the run uses the same.
  const quorvel::ConversionOptions options = CurrentOptions();
  PlatformDialogs& dialogs = PlatformDialogs::Instance();
  try {
    quorvel::CreateTargetFolder(ToPath(target));
    if (!quorvel::IsExistingFile(ToPath(source))) {
      dialogs.ShowMessage(this, QStringLiteral("没找到源文件,请选择"));
      openSource();
      return;
    }
    {
      BusyCursor busy;
      RunProgress progress(this);
      quorvel::ConvertFile(data_, ToPath(source), ToPath(target), options,
                           [&progress](size_t done, size_t total) { progress.Report(done, total); });
    }
  } catch (const std::exception& error) {
    ShowError(error);
    return;
  }
  if (dialogs.Confirm(this, QStringLiteral("转换完成，是否打开文件\r\r") + target)) {
    dialogs.OpenWithDesktop(this, target);
  }
}

// ---- Menu ------------------------------------------------------------------------------------

void MainWindow::showHelp() {
  if (helpWindow_) helpWindow_->ShowOrRaise();
}

void MainWindow::openOnlineHelp() {
  PlatformDialogs::Instance().OpenWithDesktop(this, QString::fromUtf8(quorvel::maker::kOnlineHelpUrl));
}

void MainWindow::showAbout() {
  AboutWindow about(this);
  about.exec();
}

void MainWindow::openWebsite() {
  PlatformDialogs::Instance().OpenWithDesktop(this, QString::fromUtf8(quorvel::maker::kProductUrl));
}

void MainWindow::openPinyinDictionary() {
  if (pinyinEditor_) pinyinEditor_->exec();
}

void MainWindow::openWadeGilesDictionary() {
  if (wadeGilesEditor_) wadeGilesEditor_->exec();
}

// ---- Banner ----------------------------------------------------------------------------------

void MainWindow::adjustBanner(bool loaded) {
  if (!loaded && !bannerFellBack_) {
    // The maker's page could not be reached: the built-in banner instead of an error page.
    bannerFellBack_ = true;
    ui_->bannerView->setHtml(BuiltInBanner(), QUrl(QStringLiteral("qrc:/quorvel/")));
    return;
  }
  QPointer<MainWindow> self(this);
  ui_->bannerView->page()->runJavaScript(QString::fromLatin1(kBannerAdjustment),
                                         [self](const QVariant&) {
                                           if (self) emit self->bannerAdjusted();
                                         });
}

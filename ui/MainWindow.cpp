#include "MainWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QScreen>
#include <QStringDecoder>
#include <QTimer>

#include "AboutWindow.h"
#include "AppInfo.h"
#include "BatchConversion.h"
#include "BuiltInBanner.h"
#include "Errors.h"
#include "FolderLock.h"
#include "HelpWindow.h"
#include "JpegImage.h"
#include "ListFiles.h"
#include "MakerConfig.h"
#include "Paths.h"
#include "PlatformDialogs.h"
#include "ReviewWindow.h"
#include "ScreenFit.h"
#include "Settings.h"
#include "TableColumnChooser.h"
#include "WebBanner.h"
#include "ui_MainWindow.h"

// The pictures and the icon are compiled into this library; a static library needs
// its resources registered by hand.
static void InitResources() { Q_INIT_RESOURCE(quorvel); }

namespace {

constexpr int kClientWidth = 518;
constexpr int kClientHeight = 300;  // below the menu bar

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

// Shown while a long conversion runs; the window takes no input until the run ends. Cancel, Esc
// and the close button stop the run: the next progress report throws ConversionCancelled.
class RunProgress : public QProgressDialog {
 public:
  explicit RunProgress(QWidget* parent) : QProgressDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setLabelText(QStringLiteral("正在转换……"));
    setCancelButtonText(QStringLiteral("取消"));
    setWindowModality(Qt::ApplicationModal);
    setAutoClose(false);
    setAutoReset(false);
    setMinimumDuration(PlatformDialogs::Instance().ProgressDelayMs());
    setRange(0, kSteps);
    setValue(0);
    sinceEvents_.start();
  }

  void Report(size_t done, size_t total) {
    if (total > 0) setValue(static_cast<int>(std::min<size_t>(done, total) * kSteps / total));
    // A click on Cancel must be seen even while the bar does not move.
    if (sinceEvents_.elapsed() >= kEventsEveryMs) {
      QCoreApplication::processEvents();
      sinceEvents_.restart();
    }
    if (wasCanceled()) throw quorvel::ConversionCancelled();
  }

  // Esc comes here; it stops the run as Cancel does.
  void reject() override { cancel(); }

 private:
  static constexpr int kSteps = 1000;
  static constexpr int kEventsEveryMs = 20;
  QElapsedTimer sinceEvents_;
};

// The one local file that a drag brings, or an empty text.
QString DraggedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
  const QString path = urls.front().toLocalFile();
  return QFileInfo(path).isFile() ? path : QString();
}

QString AbsoluteFolderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// What a run that failed or was cancelled left at its target, as the second part of its message.
QString TargetLeftText(const quorvel::TargetLeft& left, const QString& target) {
  using Kind = quorvel::TargetLeft::Kind;
  switch (left.kind) {
    case Kind::kEarlierKept: return QStringLiteral("原来的文件保持不变：%1").arg(target);
    case Kind::kLinesKept:
      return QStringLiteral("已转换的前 %1 个姓名保存在：%2").arg(left.lines).arg(target);
    case Kind::kStreamed:
      if (left.lines == 0) break;
      return QStringLiteral("已转换 %1 个姓名，已写入：%2").arg(left.lines).arg(target);
    case Kind::kUntouched: break;
  }
  return {};
}

// The window whose boxes ask about a held lock.
QPointer<QWidget> gLockAsker;

// A lock another program holds on the lists' folder, waited for a second already: a box with
// Retry and Cancel; while it is up the window is drawn and the holder may finish.
bool AskAboutHeldLock(const quorvel::LockWait& wait) {
  QWidget* parent =
      QApplication::activeModalWidget() ? QApplication::activeModalWidget() : gLockAsker.data();
  const QString holder =
      wait.holder > 0 ? QStringLiteral("进程 %1").arg(wait.holder) : QStringLiteral("另一个程序");
  return PlatformDialogs::Instance().RetryOrCancel(
      parent,
      QStringLiteral("正在等待“%1”：它被%2占用。\r\r（%3）\r\r重试：继续等待；取消：放弃这次操作。")
          .arg(FromEngineText(wait.lockPath), holder,
               FromEngineText(quorvel::LockWaitMessage(wait))));
}

// A message and, on a line of its own, what the run left at its target.
QString WithTargetLeft(const QString& message, const quorvel::TargetLeft& left,
                       const QString& target) {
  const QString what = TargetLeftText(left, target);
  return what.isEmpty() ? message : message + QStringLiteral("\r") + what;
}

// The busy cursor for the length of a conversion run.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

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
      lists_(data),
      settingsDir_(std::move(settingsDir)),
      bannerUrl_(bannerUrl) {
  InitResources();
  ui_->setupUi(this);
  // Sizeable, with a minimise button but no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(ApplicationIcon());

  SetUpControls();
  ConnectActions();
  SetUpLanguageMenuAndKeys();

  // A names file dropped anywhere on the window (the web banner, once there, refuses it).
  setAcceptDrops(true);
  // The banner's web view comes once the window is on the screen: the browser engine takes longer
  // to start than the whole window.
  if (IsLoadableBannerAddress(bannerUrl_)) {
    connect(
        ui_->banner, &BuiltInBanner::firstPainted, this,
        [this] { QTimer::singleShot(0, this, &MainWindow::StartWebBanner); },
        Qt::SingleShotConnection);
  }

  resize(kClientWidth, ui_->mainMenu->sizeHint().height() + kClientHeight);
  // Placed before start-up, so that an error box of start-up appears where the window will.
  FitOnScreen(this);

  StartUp();
  if (QAbstractButton* chosen = formatButtons_->checkedButton()) chosen->setFocus();
}

// Fonts, the ten format buttons and the pictures.
void MainWindow::SetUpControls() {
  setFont(WindowFont(kWindowFontPixels));
  for (QMenu* menu : findChildren<QMenu*>()) menu->setFont(WindowFont(kWindowFontPixels));
  ui_->wadeGilesCheck->setFont(WindowFont(kLargeFontPixels));
  ui_->passportCheck->setFont(WindowFont(kLargeFontPixels));
  ui_->formatGroup->setFont(WindowFont(kLargeFontPixels, true));

  formatButtons_ = new QButtonGroup(this);
  const QList<QRadioButton*> formats = {ui_->formatButton0, ui_->formatButton1, ui_->formatButton2,
                                        ui_->formatButton3, ui_->formatButton4, ui_->formatButton5,
                                        ui_->formatButton6, ui_->formatButton7, ui_->formatButton8,
                                        ui_->formatButton9};
  for (int i = 0; i < formats.size(); ++i) {
    formats[i]->setText(QString::fromUtf8(quorvel::kNameFormatCaptions[i]));
    formatButtons_->addButton(formats[i], i);
  }

  // The pictures are shown at their natural size in the top left corner of their places; on a
  // screen scaled 2x or more they come from the pictures drawn at twice the size.
  const bool sharp = devicePixelRatioF() > 1.0;
  const auto picture = [sharp](const char* name) {
    QString file = QStringLiteral(":/quorvel/") + QLatin1String(name);
    if (sharp) file.replace(QLatin1String(".jpg"), QLatin1String("@2x.jpg"));
    QPixmap pixmap = QPixmap::fromImage(LoadJpeg(file));
    pixmap.setDevicePixelRatio(sharp ? 2.0 : 1.0);
    return pixmap;
  };
  ui_->sampleNameImage->setPixmap(picture("Image1.jpg"));
  ui_->chineseInterfaceImage->setPixmap(picture("Image2.jpg"));
  ui_->englishInterfaceImage->setPixmap(picture("Image3.jpg"));
  ui_->chineseInterfaceImage->installEventFilter(this);
  ui_->englishInterfaceImage->installEventFilter(this);
}

// The menus' and buttons' actions, and the button that shows the names to check.
void MainWindow::ConnectActions() {
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
  // "N 个姓名需要核对", over the banner's lower right corner, only after a run that flagged names.
  reviewButton_ = new QPushButton(centralWidget());
  reviewButton_->setObjectName(QStringLiteral("reviewButton"));
  reviewButton_->setGeometry(368, 51, 136, 23);
  reviewButton_->hide();
  connect(reviewButton_, &QPushButton::clicked, this, &MainWindow::showReview);
  connect(ui_->pinyinDictionaryAction, &QAction::triggered, this,
          &MainWindow::openPinyinDictionary);
  connect(ui_->wadeGilesDictionaryAction, &QAction::triggered, this,
          &MainWindow::openWadeGilesDictionary);
  connect(ui_->passportCheck, &QCheckBox::toggled, this, &MainWindow::passportToggled);
}

// The language menu, the mnemonics and the shortcuts.
void MainWindow::SetUpLanguageMenuAndKeys() {
  // The language menu: each language named in itself, the current one ticked.
  languageChoices_ = new QActionGroup(this);
  languageChoices_->addAction(ui_->chineseLanguageAction);
  languageChoices_->addAction(ui_->englishLanguageAction);
  ui_->chineseLanguageAction->setText(QStringLiteral("中文(&C)"));
  ui_->englishLanguageAction->setText(QStringLiteral("&English"));
  connect(ui_->chineseLanguageAction, &QAction::triggered, this, &MainWindow::switchToChinese);
  connect(ui_->englishLanguageAction, &QAction::triggered, this, &MainWindow::switchToEnglish);

  // Keyboard: the dictionary items have only Chinese captions, so their mnemonics are fixed here;
  // the others come with the language's captions.
  ui_->dictionaryMenu->setTitle(QStringLiteral("字库(&D)"));
  ui_->pinyinDictionaryAction->setText(QStringLiteral("自定义标准拼音(&P)"));
  ui_->wadeGilesDictionaryAction->setText(QStringLiteral("自定义韦氏港台拼音(&W)"));
  ui_->openSourceAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  ui_->chooseTargetAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  ui_->exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  ui_->helpAction->setShortcut(QKeySequence(Qt::Key_F1));
  ui_->pinyinDictionaryAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
  ui_->wadeGilesDictionaryAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
  auto* convertAction = new QAction(this);
  convertAction->setObjectName(QStringLiteral("convertAction"));
  convertAction->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  connect(convertAction, &QAction::triggered, ui_->convertButton, &QPushButton::click);
  addAction(convertAction);
}

MainWindow::~MainWindow() = default;

std::string MainWindow::FilePath(const char* name) const {
  return quorvel::JoinPath(settingsDir_, name);
}

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

void MainWindow::SetWholeNamesEditor(QDialog* editor) {
  QAction* action = ui_->dictionaryMenu->addAction(QStringLiteral("整名读音(&N)"));
  action->setObjectName(QStringLiteral("wholeNamesAction"));
  connect(action, &QAction::triggered, editor, &QDialog::exec);
}

// ---- Start-up and closing --------------------------------------------------------------------

// Each step stands alone: a failure is reported and the next step runs all the same.
void MainWindow::StartUp() {
  // From now on every wait for the lock of the lists' folder is asked about in a box.
  gLockAsker = this;
  quorvel::SetLockWaitHandler(AskAboutHeldLock);
  try {
    lists_.Load();
  } catch (const std::exception& error) {
    ShowError(error);
  }

  uiLanguage_ = quorvel::UiLanguage::kChinese;
  if (!KeepsSettings()) {  // no settings folder: Chinese and the initial choices, nothing stored
    SetCaptions(uiLanguage_);
    optionsAtStart_ = CurrentOptions();
    return;
  }
  const std::string languagePath = FilePath(quorvel::kLanguageFileName);
  bool languageRead = true;
  try {
    uiLanguage_ = quorvel::ReadUiLanguage(languagePath);
  } catch (const std::exception& error) {
    languageRead = false;  // Chinese, and the unreadable file stays as it is
    ShowSettingsError(true, languagePath, error);
  }
  SetCaptions(uiLanguage_);
  if (languageRead) {
    try {
      quorvel::WriteUiLanguage(languagePath, uiLanguage_);
    } catch (const std::exception& error) {
      ShowSettingsError(false, languagePath, error);
    }
  }

  const std::string settingsPath = FilePath(quorvel::kSettingsFileName);
  // A settings file that stands (readable or not, whole or not) is rewritten only when the user
  // changes a choice; the first start leaves one with the choices of its close.
  keepSettingsFile_ = quorvel::PathExists(settingsPath);
  try {
    LoadSettings();
  } catch (const std::exception& error) {
    // A line that is no number: every other line is restored. A file that cannot be read: the
    // initial choices.
    ShowSettingsError(true, settingsPath, error);
  }
  optionsAtStart_ = CurrentOptions();
}

void MainWindow::ShowSettingsError(bool reading, const std::string& path,
                                   const std::exception& error) {
  PlatformDialogs::Instance().ShowError(
      this,
      QStringLiteral("%1“%2”：%3")
          .arg(reading ? QStringLiteral("无法读取设置文件") : QStringLiteral("无法写入设置文件"),
               FromEngineText(path), FromEngineText(quorvel::WithFullStop(error.what()))));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  ShutDown();
  event->accept();
}

void MainWindow::ShutDown() {
  lists_.Release();
  // A file is not replaced by choices the user never made.
  if (keepSettingsFile_ && CurrentOptions() == optionsAtStart_) return;
  try {
    SaveSettings();
  } catch (const std::exception& error) {
    ShowSettingsError(false, FilePath(quorvel::kSettingsFileName), error);
  }
}

void MainWindow::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    FitOnScreen(this);
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

// Keyboard order: as the controls stand, top to bottom and left to right: the option controls
// row by row, the name formats, the source field and the open button, the target field and the
// convert button. The banner is passed over: it is an advertisement, and a page that has taken the
// focus does not give Tab back. Kept here rather than in Qt's focus chain, which would also step
// into the banner.
bool MainWindow::focusNextPrevChild(bool next) {
  QWidget* const order[] = {ui_->readingsCombo,  ui_->separatorCombo, ui_->wadeGilesCheck,
                            ui_->umlautCombo,    ui_->passportCheck,  ui_->formatGroup,
                            ui_->sourcePathEdit, ui_->openButton,     ui_->targetPathEdit,
                            ui_->convertButton};
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

void MainWindow::ApplyLanguage(quorvel::UiLanguage language) {
  SetCaptions(language);
  if (!KeepsSettings()) return;
  quorvel::WriteUiLanguage(FilePath(quorvel::kLanguageFileName), language);
}

// Menu captions carry their mnemonics: "&File" in English, "文件(&F)" in Chinese.
void MainWindow::SetCaptions(quorvel::UiLanguage language) {
  const bool english = language == quorvel::UiLanguage::kEnglish;
  auto text = [english](const char* chinese, const char* inEnglish) {
    return QString::fromUtf8(english ? inEnglish : chinese);
  };
  ui_->openButton->setText(text("打开", "Open"));
  ui_->convertButton->setText(text("转换", "Start"));
  ui_->fileMenu->setTitle(text("文件(&F)", "&File"));
  ui_->openSourceAction->setText(text("打开中文姓名文件(&O)", "&Open"));
  ui_->chooseTargetAction->setText(text("英文姓名文件保存为(&S)", "&Save as"));
  ui_->exitAction->setText(text("退出(&X)", "E&xit"));
  ui_->helpMenu->setTitle(text("帮助(&H)", "&Help"));
  ui_->helpAction->setText(text("使用说明(&C)", "&Content"));
  ui_->onlineHelpAction->setText(text("在线帮助(&O)", "&Online help"));
  ui_->aboutAction->setText(text("关于(&A)", "&About"));
  ui_->websiteAction->setText(text("官网(&W)", "&Website"));
  ui_->languageMenu->setTitle(text("语言(&L)", "&Language"));
  (english ? ui_->englishLanguageAction : ui_->chineseLanguageAction)->setChecked(true);
  ApplyQtTranslations(language);
  // Both languages show the version the program has.
  setWindowTitle(QString::fromUtf8(kApplicationTitle) + QLatin1Char(' ') + kVersionText);
}

void MainWindow::switchToChinese() { SwitchLanguage(quorvel::UiLanguage::kChinese); }
void MainWindow::switchToEnglish() { SwitchLanguage(quorvel::UiLanguage::kEnglish); }

void MainWindow::SwitchLanguage(quorvel::UiLanguage language) {
  uiLanguage_ = language;
  try {
    ApplyLanguage(uiLanguage_);
  } catch (const std::exception& error) {
    ShowSettingsError(false, FilePath(quorvel::kLanguageFileName), error);
  }
}

// ---- Conversion settings ---------------------------------------------------------------------

quorvel::ConversionOptions MainWindow::CurrentOptions() const {
  const int format = ui_->passportCheck->isChecked()
                         ? static_cast<int>(quorvel::NameFormat::kPassport)
                         : formatButtons_->checkedId();
  return quorvel::OptionsFromControlIndexes(
      ui_->readingsCombo->currentIndex(), ui_->separatorCombo->currentIndex(),
      ui_->wadeGilesCheck->isChecked(), format, ui_->umlautCombo->currentIndex());
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

// The open dialog starts in the folder of the last file used, at first in the home folder (never
// in the working folder, which for a program started from the desktop means nothing).
QString MainWindow::OpenDialogStart() const {
  return lastFolder_.isEmpty() ? QDir::homePath() : lastFolder_;
}

// The save dialog starts with the target as it stands: the proposed name in the source's folder
// unless the user chose another.
QString MainWindow::SaveDialogStart() const {
  if (!ui_->targetPathEdit->text().isEmpty()) return ui_->targetPathEdit->text();
  return OpenDialogStart();
}

void MainWindow::openSource() {
  PlatformDialogs::Instance().ChooseOpenFile(this, OpenDialogStart(),
                                             [this](const QString& path) { acceptSource(path); });
}

bool MainWindow::OpenSourceFile(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) {
    PlatformDialogs::Instance().ShowMessage(this, QStringLiteral("找不到文件：") + path);
    return false;
  }
  if (!info.isFile()) {
    PlatformDialogs::Instance().ShowMessage(this, QStringLiteral("这不是一个文件：") + path);
    return false;
  }
  acceptSource(info.absoluteFilePath());
  return true;
}

void MainWindow::acceptSource(const QString& path) {
  // A spreadsheet that is not read is not taken: converted as a names file it would give garbage.
  if (const std::string unread = quorvel::UnreadSpreadsheetMessage(ToPath(path)); !unread.empty()) {
    PlatformDialogs::Instance().ShowMessage(this, FromEngineText(unread));
    return;
  }
  ui_->sourcePathEdit->setText(path);
  ui_->targetPathEdit->setText(QFile::decodeName(quorvel::ProposeTargetName(ToPath(path)).c_str()));
  lastFolder_ = AbsoluteFolderOf(path);
  tableOptions_.reset();
  if (quorvel::TableFormatOfPath(ToPath(path))) ChooseTableColumn(path);
}

void MainWindow::chooseTarget() {
  PlatformDialogs::Instance().ChooseSaveFile(this, SaveDialogStart(),
                                             [this](const QString& path) { acceptTarget(path); });
}

void MainWindow::acceptTarget(const QString& path) {
  ui_->targetPathEdit->setText(path);
  lastFolder_ = AbsoluteFolderOf(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  OpenSourceFile(path);
}

void MainWindow::convert() {
  if (tableOptions_) {
    ConvertTableSource();
    return;
  }
  const QString source = ui_->sourcePathEdit->text();
  const QString target = ui_->targetPathEdit->text();
  // The options are read once, at the click: every line of the run uses the same.
  const quorvel::ConversionOptions options = CurrentOptions();
  PlatformDialogs& dialogs = PlatformDialogs::Instance();
  quorvel::BatchReport report;
  auto review = std::make_unique<ConversionReview>(lists_, options);
  review_.reset();  // the last run's names to check go with a new run
  reviewButton_->hide();
  quorvel::TargetLeft left;
  size_t done = 0;
  size_t total = 0;
  QElapsedTimer clock;
  if (!SourceFound(source, target)) return;
  try {
    clock.start();
    {
      BusyCursor busy;
      RunProgress progress(this);
      report = quorvel::ConvertFile(
          lists_, ToPath(source), ToPath(target), options,
          [&](size_t linesDone, size_t lines) {
            done = linesDone;
            total = lines;
            progress.Report(linesDone, lines);
          },
          &left, {}, review->FileHook());
    }
  } catch (const quorvel::ConversionCancelled&) {
    dialogs.ShowMessage(
        this,
        WithTargetLeft(
            QStringLiteral("转换已取消：共 %1 个姓名，取消时已转换 %2 个。").arg(total).arg(done),
            left, target));
    return;
  } catch (const std::exception& error) {
    dialogs.ShowError(
        this, WithTargetLeft(FromEngineText(quorvel::WithFullStop(error.what())), left, target));
    return;
  }
  if (review->Count() > 0) {
    review->Finish(ToPath(target), report.encoding != quorvel::SourceEncoding::kGb18030);
    OfferReview(std::move(review));
  }
  QString summary = QStringLiteral("共写入 %1 个姓名，其中 %2 个含有“???”，用时 %3 秒。")
                        .arg(report.lines)
                        .arg(report.linesWithMarker)
                        .arg(QString::number(clock.elapsed() / 1000.0, 'f', 1));
  // A Unicode source with a few damaged bytes is still read as Unicode; say where "???" came from.
  if (report.invalidSequences > 0) {
    summary +=
        QStringLiteral("\r源文件有 %1 处无效的编码，每处写作“???”。").arg(report.invalidSequences);
  }
  OfferToOpen(target, summary);
}

// The guessed column stands until the user chooses in the dialog, which shows without blocking.
void MainWindow::ChooseTableColumn(const QString& path) {
  TableColumnChooser* chooser = nullptr;
  try {
    chooser = new TableColumnChooser(path, this);
  } catch (const std::exception& error) {
    ShowError(error);
    return;
  }
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  tableOptions_ = chooser->Choice();
  connect(chooser, &QDialog::accepted, this,
          [this, chooser] { tableOptions_ = chooser->Choice(); });
  chooser->open();
}

void MainWindow::ConvertTableSource() {
  const QString source = ui_->sourcePathEdit->text();
  const QString target = ui_->targetPathEdit->text();
  if (tableOptions_->column.empty()) {  // no column guessed and none chosen yet: ask again
    ChooseTableColumn(source);
    return;
  }
  const quorvel::ConversionOptions options = CurrentOptions();
  PlatformDialogs& dialogs = PlatformDialogs::Instance();
  quorvel::TableReport report;
  auto review = std::make_unique<ConversionReview>(lists_, options);
  review_.reset();  // the last run's names to check go with a new run
  reviewButton_->hide();
  QElapsedTimer clock;
  if (!SourceFound(source, target)) return;
  try {
    clock.start();
    BusyCursor busy;
    RunProgress progress(this);
    report = quorvel::ConvertTable(
        lists_, ToPath(source), ToPath(target), options, *tableOptions_,
        [&](size_t done, size_t total) { progress.Report(done, total); }, review->Hook());
  } catch (const quorvel::ConversionCancelled&) {
    dialogs.ShowMessage(this, QStringLiteral("转换已取消，没有写入表格。"));
    return;
  } catch (const std::exception& error) {
    ShowError(error);
    return;
  }
  if (review->Count() > 0) {
    review->FinishTable(ToPath(target),
                        {report.format, tableOptions_->sheet, report.choice.column, 0});
    OfferReview(std::move(review));
  }
  const QString summary = QStringLiteral("共转换 %1 行，其中 %2 行的姓名含有“???”，用时 %3 秒。")
                              .arg(report.rows)
                              .arg(report.rowsWithMarker)
                              .arg(QString::number(clock.elapsed() / 1000.0, 'f', 1));
  OfferToOpen(target, summary);
}

// Before a run: the target's folder is made; a missing source is said and asked for again.
bool MainWindow::SourceFound(const QString& source, const QString& target) {
  try {
    quorvel::CreateTargetFolder(ToPath(target));
  } catch (const std::exception& error) {
    ShowError(error);
    return false;
  }
  bool missing = false;
  const std::string problem = quorvel::SourceFileProblem(ToPath(source), &missing);
  if (problem.empty()) return true;
  // A path that leads nowhere is named; so is what stands there when something does: a folder, a
  // pipe, a device, a file not allowed.
  PlatformDialogs::Instance().ShowMessage(
      this, missing || source.isEmpty()
                ? QStringLiteral("没找到源文件,请选择") +
                      (source.isEmpty() ? QString() : QStringLiteral("\r\r") + source)
                : QStringLiteral("无法读取源文件“%1”：%2\r\r请选择")
                      .arg(source, FromEngineText(problem)));
  openSource();
  return false;
}

// After a run: the completion question, and the finished file opened on Yes.
void MainWindow::OfferToOpen(const QString& target, const QString& summary) {
  PlatformDialogs& dialogs = PlatformDialogs::Instance();
  if (dialogs.Confirm(this, QStringLiteral("转换完成，是否打开文件\r\r") + target +
                                QStringLiteral("\r\r") + summary)) {
    OpenResult(target);
  }
}

// Opens the finished target with the desktop's program for it, unless that program is Quorvel
// itself (a second Quorvel with the result as its names file): then its folder is offered.
void MainWindow::OpenResult(const QString& target) {
  PlatformDialogs& dialogs = PlatformDialogs::Instance();
  if (!dialogs.OpensWithThisProgram(target)) {
    if (!dialogs.OpenWithDesktop(this, target))
      dialogs.ShowMessage(
          this, QStringLiteral("无法打开文件：桌面上没有可以打开它的程序。\r\r") + target);
    return;
  }
  const QString folder = AbsoluteFolderOf(target);
  if (!dialogs.Confirm(
          this, QStringLiteral("桌面设定用 Quorvel 本身打开这种文件，打开它只会再启动一个 Quorvel。"
                               "\r是否打开它所在的文件夹？\r\r") +
                    folder))
    return;
  if (!dialogs.OpenWithDesktop(this, folder))
    dialogs.ShowMessage(
        this, QStringLiteral("无法打开文件夹：桌面上没有可以打开它的程序。\r\r") + folder);
}

// ---- Menu ------------------------------------------------------------------------------------

void MainWindow::showHelp() {
  if (helpWindow_) helpWindow_->ShowOrRaise();
}

void MainWindow::openOnlineHelp() {
  PlatformDialogs::Instance().OpenWebPage(this, QString::fromUtf8(quorvel::maker::kOnlineHelpUrl));
}

void MainWindow::showAbout() {
  AboutWindow about(this);
  about.exec();
}

void MainWindow::openWebsite() {
  PlatformDialogs::Instance().OpenWebPage(this, QString::fromUtf8(quorvel::maker::kProductUrl));
}

// After a run with names to check: "N 个姓名需要核对" opens their list.
void MainWindow::OfferReview(std::unique_ptr<ConversionReview> review) {
  reviewButton_->setText(QStringLiteral("%1 个姓名需要核对").arg(review->Count()));
  reviewButton_->show();
  reviewButton_->raise();  // above the banner page too
  review_ = std::move(review);
}

void MainWindow::showReview() {
  if (review_) review_->Show(this, lists_);
}

void MainWindow::openPinyinDictionary() {
  if (pinyinEditor_) pinyinEditor_->exec();
}

void MainWindow::openWadeGilesDictionary() {
  if (wadeGilesEditor_) wadeGilesEditor_->exec();
}

// ---- Banner ----------------------------------------------------------------------------------

// Created behind the built-in banner, it loads there unseen and takes the banner's place once its
// page has loaded and been adjusted.
void MainWindow::StartWebBanner() {
  if (bannerView_) return;
  WebBannerEngine* engine = LoadWebBannerEngine();
  if (!engine) return;
  QPointer<MainWindow> self(this);
  bannerView_ = engine->CreateView(centralWidget(), [self](bool loaded) {
    if (self) self->adjustBanner(loaded);
  });
  bannerView_->setObjectName(QStringLiteral("bannerView"));
  bannerView_->setGeometry(ui_->banner->geometry());
  bannerView_->setAcceptDrops(false);  // it would open a dropped names file as a page
  bannerView_->stackUnder(ui_->banner);
  bannerView_->show();
  engine->Load(bannerView_, bannerUrl_);
}

void MainWindow::adjustBanner(bool loaded) {
  WebBannerEngine* engine = LoadWebBannerEngine();
  if (!loaded || !engine || !bannerView_) {
    // The page could not be reached: the built-in banner stays, and nothing is reported.
    emit bannerAdjusted();
    return;
  }
  QPointer<MainWindow> self(this);
  engine->RunScript(bannerView_, QString::fromLatin1(kBannerAdjustment), [self] {
    if (!self || !self->bannerView_) return;
    self->bannerView_->raise();
    self->ui_->banner->hide();
    emit self->bannerAdjusted();
  });
}

#include "untMain.h"

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
#include "JpegImage.h"
#include "MakerConfig.h"
#include "PlatformDialogs.h"
#include "Settings.h"
#include "untAbout.h"
#include "untChDatabase.h"
#include "ui_untMain.h"

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

TfrmMain::TfrmMain(quorvel::PronunciationData& data, std::string dataDir, const QUrl& bannerUrl,
                   QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::TfrmMain>()),
      data_(data),
      dataDir_(std::move(dataDir)),
      bannerUrl_(bannerUrl) {
  InitResources();
  ui->setupUi(this);
  // Sizeable, with a minimise button but no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/quorvel/quorvel.png")));

  setFont(WindowFont(kWindowFontPixels));
  for (QMenu* menu : findChildren<QMenu*>()) menu->setFont(WindowFont(kWindowFontPixels));
  ui->CheckBox_wei->setFont(WindowFont(kLargeFontPixels));
  ui->rgType->setFont(WindowFont(kLargeFontPixels, true));

  nameFormats_ = new QButtonGroup(this);
  const QList<QRadioButton*> formats = {ui->rgType_0, ui->rgType_1, ui->rgType_2, ui->rgType_3,
                                        ui->rgType_4, ui->rgType_5, ui->rgType_6, ui->rgType_7,
                                        ui->rgType_8, ui->rgType_9};
  for (int i = 0; i < formats.size(); ++i) {
    formats[i]->setText(QString::fromUtf8(quorvel::kNameFormatCaptions[i]));
    nameFormats_->addButton(formats[i], i);
  }

  // The pictures are shown at their natural size in the top left corner of their places.
  ui->Image1->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/quorvel/Image1.jpg"))));
  ui->Image2->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/quorvel/Image2.jpg"))));
  ui->Image3->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/quorvel/Image3.jpg"))));
  ui->Image2->installEventFilter(this);
  ui->Image3->installEventFilter(this);

  // The two separators of the menus carry their own names too.
  const QList<QAction*> fileItems = ui->N1->actions();
  const QList<QAction*> helpItems = ui->N6->actions();
  if (fileItems.size() == 4) fileItems[2]->setObjectName(QStringLiteral("N4"));
  if (helpItems.size() == 4) helpItems[2]->setObjectName(QStringLiteral("N9"));

  connect(ui->btnOk, &QPushButton::clicked, this, &TfrmMain::btnOkClick);
  connect(ui->btnopen, &QPushButton::clicked, this, &TfrmMain::btnopenClick);
  connect(ui->N2, &QAction::triggered, this, &TfrmMain::N2Click);
  connect(ui->N3, &QAction::triggered, this, &TfrmMain::N3Click);
  connect(ui->N5, &QAction::triggered, this, &TfrmMain::N5Click);
  connect(ui->N7, &QAction::triggered, this, &TfrmMain::N7Click);
  connect(ui->N8, &QAction::triggered, this, &TfrmMain::N8Click);
  connect(ui->N10, &QAction::triggered, this, &TfrmMain::N10Click);
  connect(ui->N11, &QAction::triggered, this, &TfrmMain::N11Click);
  connect(ui->N_standard, &QAction::triggered, this, &TfrmMain::N_standardClick);
  connect(ui->N_wei, &QAction::triggered, this, &TfrmMain::N_weiClick);
  connect(ui->WebBrowser1, &QWebEngineView::loadFinished, this,
          &TfrmMain::WebBrowser1DocumentComplete);

  resize(kClientWidth, ui->MainMenu1->sizeHint().height() + kClientHeight);

  FormCreate();
  if (QAbstractButton* chosen = nameFormats_->checkedButton()) chosen->setFocus();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::SetProgressDelayForTest(int milliseconds) { gProgressDelay = milliseconds; }

std::string TfrmMain::FilePath(const char* name) const { return quorvel::JoinPath(dataDir_, name); }

void TfrmMain::ShowError(const std::exception& error) {
  PlatformDialogs::Instance().ShowError(this, FromEngineText(quorvel::WithFullStop(error.what())));
}

void TfrmMain::setHelpWindow(QWidget* help) { frmNote_ = help; }

void TfrmMain::setDictionaryEditors(QDialog* han, QDialog* weiHan) {
  frmHan_ = han;
  frmWeiHan_ = weiHan;
  ui->N_standard->setEnabled(han != nullptr);
  ui->N_wei->setEnabled(weiHan != nullptr);
}

// ---- Start-up and closing --------------------------------------------------------------------

void TfrmMain::FormCreate() {
  try {
    data_.LoadPinyinLists();
    if (!bannerUrl_.isEmpty()) ui->WebBrowser1->load(bannerUrl_);
    uiLanguage_ = quorvel::kUiChinese;
    uiLanguage_ = quorvel::ReadUiLanguage(FilePath(quorvel::kLanguageFileName));
    interfacelanguage(uiLanguage_);
    ConfigLoad();
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TfrmMain::FormClose() {
  data_.Release();
  try {
    ConfigSave();
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void TfrmMain::showEvent(QShowEvent* event) {
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
void TfrmMain::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    event->accept();
    ui->btnOk->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

// Keyboard order: the name formats first, then the convert button, the banner, the two file
// fields, the open button, and the three option controls from right to left. Kept here rather than
// in Qt's focus chain: the banner's focus widget comes into being only once a page has loaded.
bool TfrmMain::focusNextPrevChild(bool next) {
  QWidget* const order[] = {ui->rgType,    ui->btnOk,   ui->WebBrowser1,  ui->edtChfile,
                            ui->edtEnfile, ui->btnopen, ui->CheckBox_wei, ui->ComboBox_sep,
                            ui->ComboBox_duoyin};
  const int count = static_cast<int>(std::size(order));
  QWidget* focus = QApplication::focusWidget();
  int at = -1;
  for (int i = 0; i < count && focus; ++i) {
    if (order[i] == focus || order[i]->isAncestorOf(focus)) at = i;
  }
  if (at < 0) return QMainWindow::focusNextPrevChild(next);
  for (int step = 1; step < count; ++step) {
    QWidget* candidate = order[(at + (next ? step : count - step)) % count];
    if (candidate == ui->rgType) candidate = nameFormats_->checkedButton();
    if (!candidate || !candidate->isVisible() || !candidate->isEnabled()) continue;
    if (candidate == ui->WebBrowser1 && !candidate->focusProxy()) continue;  // nothing loaded yet
    candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
  }
  return false;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == ui->Image2) Image2Click();
    if (watched == ui->Image3) Image3Click();
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Interface language ----------------------------------------------------------------------

void TfrmMain::interfacelanguage(unsigned char language) {
  const bool english = language == quorvel::kUiEnglish;
  auto text = [english](const char* chinese, const char* inEnglish) {
    return QString::fromUtf8(english ? inEnglish : chinese);
  };
  ui->btnopen->setText(text("打开", "Open"));
  ui->btnOk->setText(text("转换", "Start"));
  ui->N1->setTitle(text("文件", "File"));
  ui->N2->setText(text("打开中文姓名文件", "Open"));
  ui->N3->setText(text("英文姓名文件保存为", "Save as"));
  ui->N5->setText(text("退出", "Exit"));
  ui->N6->setTitle(text("帮助", "Help"));
  ui->N7->setText(text("使用说明", "Content"));
  ui->N8->setText(text("在线帮助", "Online help"));
  ui->N10->setText(text("关于", "About"));
  ui->N11->setText(text("官网", "Website"));
  // Both languages show the version the program has.
  setWindowTitle(QString::fromUtf8(kApplicationTitle) + QLatin1Char(' ') + kVersionText);
  quorvel::WriteUiLanguage(FilePath(quorvel::kLanguageFileName),
                           english ? quorvel::kUiEnglish : quorvel::kUiChinese);
}

void TfrmMain::Image2Click() {
  try {
    uiLanguage_ = quorvel::kUiChinese;
    interfacelanguage(uiLanguage_);
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void TfrmMain::Image3Click() {
  try {
    uiLanguage_ = quorvel::kUiEnglish;
    interfacelanguage(uiLanguage_);
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

// ---- Conversion settings ---------------------------------------------------------------------

quorvel::ConversionOptions TfrmMain::CurrentOptions() const {
  quorvel::ConversionOptions options;
  options.polyphoneMode = ui->ComboBox_duoyin->currentIndex();
  options.separatorMode = ui->ComboBox_sep->currentIndex();
  options.wadeGiles = ui->CheckBox_wei->isChecked();
  options.nameFormat = nameFormats_->checkedId();
  return options;
}

void TfrmMain::ApplyOptions(const quorvel::ConversionOptions& options) {
  ui->ComboBox_duoyin->setCurrentIndex(options.polyphoneMode);
  ui->ComboBox_sep->setCurrentIndex(options.separatorMode);
  ui->CheckBox_wei->setChecked(options.wadeGiles);
  if (QAbstractButton* format = nameFormats_->button(options.nameFormat)) format->setChecked(true);
}

void TfrmMain::ConfigSave() {
  quorvel::WriteConversionSettings(FilePath(quorvel::kSettingsFileName), CurrentOptions());
}

void TfrmMain::ConfigLoad() {
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

void TfrmMain::ShowOpenDialog() {
  PlatformDialogs::Instance().ChooseOpenFile(this, [this](const QString& path) {
    OpenDialog1CanClose(path);
  });
}

void TfrmMain::btnopenClick() { ShowOpenDialog(); }
void TfrmMain::N2Click() { ShowOpenDialog(); }

void TfrmMain::OpenDialog1CanClose(const QString& path) {
  ui->edtChfile->setText(path);
  ui->edtEnfile->setText(QFile::decodeName(quorvel::ProposeTargetName(ToPath(path)).c_str()));
}

void TfrmMain::N3Click() {
  PlatformDialogs::Instance().ChooseSaveFile(this, [this](const QString& path) {
    SaveDialog1CanClose(path);
  });
}

void TfrmMain::SaveDialog1CanClose(const QString& path) { ui->edtEnfile->setText(path); }

void TfrmMain::btnOkClick() {
  const QString source = ui->edtChfile->text();
  const QString target = ui->edtEnfile->text();
  // The options are read once, at the click: every line of the run uses the same.
  const quorvel::ConversionOptions options = CurrentOptions();
  PlatformDialogs& dialogs = PlatformDialogs::Instance();
  try {
    quorvel::CreateTargetFolder(ToPath(target));
    if (!quorvel::IsExistingFile(ToPath(source))) {
      dialogs.ShowMessage(this, QStringLiteral("没找到源文件,请选择"));
      ShowOpenDialog();
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

void TfrmMain::N5Click() { close(); }

void TfrmMain::N7Click() {
  if (!frmNote_) return;
  frmNote_->show();
  frmNote_->raise();
  frmNote_->activateWindow();
}

void TfrmMain::N8Click() {
  PlatformDialogs::Instance().OpenWithDesktop(this, QString::fromUtf8(quorvel::maker::kOnlineHelpUrl));
}

void TfrmMain::N10Click() {
  TfrmAbout about(this);
  about.exec();
}

void TfrmMain::N11Click() {
  PlatformDialogs::Instance().OpenWithDesktop(this, QString::fromUtf8(quorvel::maker::kProductUrl));
}

void TfrmMain::N_standardClick() {
  if (frmHan_) frmHan_->exec();
}

void TfrmMain::N_weiClick() {
  if (frmWeiHan_) frmWeiHan_->exec();
}

// ---- Banner ----------------------------------------------------------------------------------

void TfrmMain::WebBrowser1DocumentComplete(bool ok) {
  if (!ok && !bannerFellBack_) {
    // The maker's page could not be reached: the built-in banner instead of an error page.
    bannerFellBack_ = true;
    ui->WebBrowser1->setHtml(BuiltInBanner(), QUrl(QStringLiteral("qrc:/quorvel/")));
    return;
  }
  QPointer<TfrmMain> self(this);
  ui->WebBrowser1->page()->runJavaScript(QString::fromLatin1(kBannerAdjustment),
                                         [self](const QVariant&) {
                                           if (self) emit self->bannerAdjusted();
                                         });
}

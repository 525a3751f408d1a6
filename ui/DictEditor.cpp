#include "DictEditor.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>

#include <string_view>

#include "Encoding.h"
#include "Errors.h"
#include "PlatformDialogs.h"
#include "Unt_han.h"
#include "Unt_wei_han.h"

namespace {

// The list box keeps 16 pixels below it; its top is at 194.
constexpr int kListBottomMargin = 210;

int CharBytesAt(const QString& text, int i, int* length) {
  char32_t cp = text[i].unicode();
  *length = 1;
  if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
    cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
    *length = 2;
  }
  return quorvel::GbkCharBytes(cp);
}

QString FromGbk(std::string_view gbk) { return QString::fromStdString(quorvel::GbkToUtf8(gbk)); }

class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = old_; }

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

// ---- GbkByteLimitValidator --------------------------------------------------------------------

GbkByteLimitValidator::GbkByteLimitValidator(int maxBytes, QObject* parent)
    : QValidator(parent), maxBytes_(maxBytes) {}

int GbkByteLimitValidator::ByteCount(const QString& text) {
  int bytes = 0;
  for (int i = 0, length = 1; i < text.size(); i += length) bytes += CharBytesAt(text, i, &length);
  return bytes;
}

QValidator::State GbkByteLimitValidator::validate(QString& input, int& pos) const {
  int bytes = ByteCount(input);
  int oldBytes = ByteCount(accepted_);
  // Shrinking stays allowed even while a stored key longer than the limit stands in the field.
  if (bypass_ || bytes <= maxBytes_ || bytes <= oldBytes) {
    accepted_ = input;
    return Acceptable;
  }
  // The new characters end at the cursor. They start where the text stops matching the old one,
  // and no later than the growth in length allows (the new text may repeat the old one's start).
  // Drop them from the cursor back until the text fits, keeping the leading ones.
  int start = 0;
  while (start < pos && start < accepted_.size() && input[start] == accepted_[start]) ++start;
  start = qBound(0, qMin(start, pos - int(input.size() - accepted_.size())), pos);
  if (start > 0 && input[start - 1].isHighSurrogate()) --start;
  int end = pos;
  while (end > start && bytes > maxBytes_) {
    int back = end - 2 >= start && input[end - 1].isLowSurrogate() && input[end - 2].isHighSurrogate() ? 2 : 1;
    int length = 1;
    bytes -= CharBytesAt(input, end - back, &length);
    end -= back;
  }
  // Nothing of the insertion left: refuse it, so the field sees no change at all.
  if (end == start || (bytes > maxBytes_ && bytes > oldBytes)) return Invalid;
  input.remove(end, pos - end);
  pos = end;
  accepted_ = input;
  return Acceptable;
}

void GbkByteLimitValidator::Reset(const QString& text) { accepted_ = text; }

// ---- DictEditor -----------------------------------------------------------------------------

DictEditor::DictEditor(quorvel::PronunciationData& data, quorvel::CustomDictionary::Kind kind, QWidget* parent)
    : QDialog(parent), dict_(data, kind) {}

void DictEditor::Bind(const DictEditorControls& controls) {
  c_ = controls;
  hanLimit_ = new GbkByteLimitValidator(4, this);
  hanLimit_->Reset(c_.edt_han->text());
  c_.edt_han->setValidator(hanLimit_);

  connect(c_.edt_han, &QLineEdit::textChanged, this, &DictEditor::edt_hanChange);
  connect(c_.btn_add, &QPushButton::clicked, this, &DictEditor::btn_addClick);
  connect(c_.btn_del, &QPushButton::clicked, this, &DictEditor::btn_delClick);
  connect(c_.btn_clear, &QPushButton::clicked, this, &DictEditor::btn_clearClick);
  connect(c_.btn_search, &QPushButton::clicked, this, &DictEditor::btn_searchClick);
  // A selection made with the mouse or the keyboard, and a click on the line already selected.
  // A click that changes the selection raises both; the handler gives the same result twice.
  connect(c_.ListBox_define_han, &QListWidget::currentRowChanged, this, [this] {
    if (!programmatic_) ListBox_define_hanClick();
  });
  connect(c_.ListBox_define_han, &QListWidget::itemClicked, this, [this] {
    if (!programmatic_) ListBox_define_hanClick();
  });
  FormCreate();
}

void DictEditor::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (c_.ListBox_define_han) FormResize();
}

void DictEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The lists may have been reloaded by lookups since the window was last open.
  if (!event->spontaneous()) SyncWithFiles();
}

void DictEditor::FormCreate() {
  // The main window has loaded the lists already. Should that load have failed, this refresh
  // fails the same way; the window then starts empty and reports it when it is first shown.
  try {
    dict_.Refresh();
  } catch (const std::exception&) {
  }
  Refill();
}

void DictEditor::FormResize() {
  QListWidget* list = c_.ListBox_define_han;
  list->resize(list->width(), qMax(0, height() - kListBottomMargin));
}

void DictEditor::ListBox_define_hanClick() {
  int line = SelectedLine();
  auto entries = dict_.Entries();
  if (line < 0 || line >= static_cast<int>(entries.size())) return;
  // Key first: its change empties edt_pinyin, which then gets the reading.
  SetKeyText(FromGbk(entries[line].key));
  c_.edt_pinyin->setText(FromGbk(entries[line].reading));
}

void DictEditor::edt_hanChange() { c_.edt_pinyin->clear(); }

void DictEditor::btn_addClick() {
  if (!SyncWithFiles()) return;
  auto key = StoredText(c_.edt_han);
  if (!key) return;
  auto reading = StoredText(c_.edt_pinyin);
  if (!reading) return;
  size_t line = 0;
  try {
    line = dict_.AddOrUpdate(*key, *reading);
  } catch (const std::exception& e) {
    ShowFailure(e);  // the files and the lists are as they were: nothing to refill
    return;
  }
  Refill();
  SelectLine(static_cast<int>(line));
}

void DictEditor::btn_delClick() {
  if (!SyncWithFiles()) return;
  int line = SelectedLine();
  if (line < 0) return;
  QString text = c_.ListBox_define_han->item(line)->text();
  if (!PlatformDialogs::Instance().Confirm(this, QStringLiteral("确认要删除  ") + text + QStringLiteral("  吗？")))
    return;
  try {
    dict_.DeleteAt(static_cast<size_t>(line));
  } catch (const std::exception& e) {
    ShowFailure(e);
    return;
  }
  Refill();
}

void DictEditor::btn_clearClick() {
  if (!PlatformDialogs::Instance().Confirm(this, QStringLiteral("确认要清空所有自定义拼音吗？"))) return;
  try {
    dict_.Clear();
  } catch (const std::exception& e) {
    Refill();  // shows what the files still hold
    ShowFailure(e);
    return;
  }
  Refill();
}

void DictEditor::btn_searchClick() {
  if (!SyncWithFiles()) return;
  QString typed = c_.edt_han->text();
  QByteArray utf8 = typed.toUtf8();
  bool encodable = true;
  std::string key = quorvel::Utf8ToGbkStrict(std::string_view(utf8.constData(), utf8.size()), &encodable);
  auto found = encodable ? dict_.Find(key) : std::nullopt;
  if (found) {
    SelectLine(static_cast<int>(*found));  // raises no ListBox_define_hanClick: edt_han stays
    c_.edt_pinyin->setText(FromGbk(dict_.Entries()[*found].reading));
    return;
  }
  PlatformDialogs::Instance().ShowMessage(this, QStringLiteral("没有找到：  ") + typed);
  c_.edt_pinyin->clear();
}

void DictEditor::Refill() {
  shownLines_ = dict_.Lines();
  // One conversion for all lines: a line holds no line feed, and a GBK trail byte is never one.
  std::string joined;
  for (const auto& line : shownLines_) {
    joined += line;
    joined += '\n';
  }
  QStringList texts = QString::fromStdString(quorvel::GbkToUtf8(joined)).split(QLatin1Char('\n'));
  texts.removeLast();
  FlagGuard guard(programmatic_);
  c_.ListBox_define_han->clear();
  c_.ListBox_define_han->addItems(texts);
}

bool DictEditor::SyncWithFiles() {
  try {
    dict_.Refresh();
  } catch (const std::exception& e) {
    ShowFailure(e);
    return false;
  }
  if (dict_.Lines() != shownLines_) Refill();
  return true;
}

int DictEditor::SelectedLine() const {
  auto items = c_.ListBox_define_han->selectedItems();
  return items.isEmpty() ? -1 : c_.ListBox_define_han->row(items.front());
}

void DictEditor::SelectLine(int line) {
  FlagGuard guard(programmatic_);
  c_.ListBox_define_han->setCurrentRow(line);
}

void DictEditor::SetKeyText(const QString& text) {
  // A stored key is shown whole even where it is longer than what may be typed.
  hanLimit_->SetBypass(true);
  c_.edt_han->setText(text);
  hanLimit_->SetBypass(false);
}

std::optional<std::string> DictEditor::StoredText(const QLineEdit* edit) {
  QByteArray utf8 = edit->text().toUtf8();
  std::string_view text(utf8.constData(), static_cast<size_t>(utf8.size()));
  if (auto bad = quorvel::FirstCharOutsideGbk(text)) {
    PlatformDialogs::Instance().ShowMessage(
        this, QStringLiteral("无法保存：GBK 编码中没有“%1”这个字符，转换时它永远不会被查到。")
                  .arg(QString::fromStdString(*bad)));
    return std::nullopt;
  }
  bool ok = true;
  std::string gbk = quorvel::Utf8ToGbkStrict(text, &ok);
  // A pasted text may hold line breaks; at the ends they are trimmed, inside they would split
  // one entry over two lines of the file.
  if (!quorvel::FitsOnOneLine(gbk)) {
    PlatformDialogs::Instance().ShowMessage(this, QStringLiteral("无法保存：汉字和拼音的中间不能有换行。"));
    return std::nullopt;
  }
  return gbk;
}

void DictEditor::ShowFailure(const std::exception& error) {
  PlatformDialogs::Instance().ShowError(this, QString::fromUtf8(quorvel::WithFullStop(error.what())));
}

// ---- Start-up -------------------------------------------------------------------------------

DictEditorWindows CreateDictEditors(quorvel::PronunciationData& data, QWidget* mainWindow) {
  frmWeiHan = new TfrmWeiHan(data, mainWindow);
  frmHan = new TfrmHan(data, mainWindow);
  return {frmHan, frmWeiHan};
}

#include "DictionaryEditor.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>

#include <string_view>

#include "Encoding.h"
#include "Errors.h"
#include "GbkByteLimitValidator.h"
#include "PlatformDialogs.h"
#include "ui_PinyinDictionaryEditor.h"
#include "ui_WadeGilesDictionaryEditor.h"

namespace {

// The list box keeps 16 pixels below it; its top is at 194.
constexpr int kListBottomMargin = 210;

QString FromGbk(std::string_view gbk) { return QString::fromStdString(quorvel::GbkToUtf8(gbk)); }

class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = old_; }

 private:
  bool& flag_;
  bool old_;
};

// Makes the controls of one layout on `window` and returns them. Both layouts name their
// controls alike.
template <typename Layout>
DictionaryEditorControls SetUpLayout(QDialog* window) {
  Layout layout;
  layout.setupUi(window);
  // Labels take the size of their text in the font in use; the top one keeps its width.
  for (QLabel* label : {layout.keyLabel, layout.readingLabel, layout.listLabel}) label->adjustSize();
  layout.hintLabel->resize(layout.hintLabel->width(), layout.hintLabel->sizeHint().height());
  return {layout.keyEdit,     layout.readingEdit,  layout.addButton, layout.deleteButton,
          layout.clearButton, layout.searchButton, layout.entryList};
}

}  // namespace

DictionaryEditor::DictionaryEditor(quorvel::ListFiles& data,
                                   quorvel::CustomDictionary::Kind kind, QWidget* parent)
    : QDialog(parent), dict_(data, kind) {
  controls_ = kind == quorvel::CustomDictionary::Kind::kWadeGiles
                  ? SetUpLayout<Ui::WadeGilesDictionaryEditor>(this)
                  : SetUpLayout<Ui::PinyinDictionaryEditor>(this);
  keyLimit_ = new GbkByteLimitValidator(4, this);
  keyLimit_->Reset(controls_.keyEdit->text());
  controls_.keyEdit->setValidator(keyLimit_);
  Connect();

  // The main window has loaded the lists already. Should that load have failed, this refresh
  // fails the same way; the window then starts empty and reports it when it is first shown.
  try {
    dict_.Refresh();
  } catch (const std::exception&) {
  }
  Refill();
}

DictionaryEditor::~DictionaryEditor() = default;

void DictionaryEditor::Connect() {
  const DictionaryEditorControls& c = controls_;
  connect(c.keyEdit, &QLineEdit::textChanged, this, &DictionaryEditor::clearReading);
  connect(c.addButton, &QPushButton::clicked, this, &DictionaryEditor::addOrUpdate);
  connect(c.deleteButton, &QPushButton::clicked, this, &DictionaryEditor::deleteSelected);
  connect(c.clearButton, &QPushButton::clicked, this, &DictionaryEditor::clearAll);
  connect(c.searchButton, &QPushButton::clicked, this, &DictionaryEditor::search);
  // A selection made with the mouse or the keyboard, and a click on the line already selected.
  // A click that changes the selection raises both; the handler gives the same result twice.
  connect(c.entryList, &QListWidget::currentRowChanged, this, [this] {
    if (!programmatic_) showSelectedEntry();
  });
  connect(c.entryList, &QListWidget::itemClicked, this, [this] {
    if (!programmatic_) showSelectedEntry();
  });
}

void DictionaryEditor::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (controls_.entryList) FitListToHeight();
}

void DictionaryEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The lists may have been reloaded by lookups since the window was last open.
  if (!event->spontaneous()) SyncWithFiles();
}

void DictionaryEditor::FitListToHeight() {
  QListWidget* list = controls_.entryList;
  list->resize(list->width(), qMax(0, height() - kListBottomMargin));
}

void DictionaryEditor::showSelectedEntry() {
  int line = SelectedLine();
  auto entries = dict_.Entries();
  if (line < 0 || line >= static_cast<int>(entries.size())) return;
  // Key first: its change empties the reading field, which then gets the reading.
  SetKeyText(FromGbk(entries[line].key));
  controls_.readingEdit->setText(FromGbk(entries[line].reading));
}

void DictionaryEditor::clearReading() { controls_.readingEdit->clear(); }

void DictionaryEditor::addOrUpdate() {
  if (!SyncWithFiles()) return;
  auto key = StoredText(controls_.keyEdit);
  if (!key) return;
  auto reading = StoredText(controls_.readingEdit);
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

void DictionaryEditor::deleteSelected() {
  if (!SyncWithFiles()) return;
  int line = SelectedLine();
  if (line < 0) return;
  QString text = controls_.entryList->item(line)->text();
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

void DictionaryEditor::clearAll() {
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

void DictionaryEditor::search() {
  if (!SyncWithFiles()) return;
  QString typed = controls_.keyEdit->text();
  QByteArray utf8 = typed.toUtf8();
  bool encodable = true;
  std::string key = quorvel::Utf8ToGbkStrict(std::string_view(utf8.constData(), utf8.size()), &encodable);
  auto found = encodable ? dict_.Find(key) : std::nullopt;
  if (found) {
    SelectLine(static_cast<int>(*found));  // raises no showSelectedEntry: the key field stays
    controls_.readingEdit->setText(FromGbk(dict_.Entries()[*found].reading));
    return;
  }
  PlatformDialogs::Instance().ShowMessage(this, QStringLiteral("没有找到：  ") + typed);
  controls_.readingEdit->clear();
}

void DictionaryEditor::Refill() {
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
  controls_.entryList->clear();
  controls_.entryList->addItems(texts);
}

bool DictionaryEditor::SyncWithFiles() {
  try {
    dict_.Refresh();
  } catch (const std::exception& e) {
    ShowFailure(e);
    return false;
  }
  if (dict_.Lines() != shownLines_) Refill();
  return true;
}

int DictionaryEditor::SelectedLine() const {
  auto items = controls_.entryList->selectedItems();
  return items.isEmpty() ? -1 : controls_.entryList->row(items.front());
}

void DictionaryEditor::SelectLine(int line) {
  FlagGuard guard(programmatic_);
  controls_.entryList->setCurrentRow(line);
}

void DictionaryEditor::SetKeyText(const QString& text) {
  // A stored key is shown whole even where it is longer than what may be typed.
  keyLimit_->SetBypass(true);
  controls_.keyEdit->setText(text);
  keyLimit_->SetBypass(false);
}

std::optional<std::string> DictionaryEditor::StoredText(const QLineEdit* edit) {
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

void DictionaryEditor::ShowFailure(const std::exception& error) {
  PlatformDialogs::Instance().ShowError(this, QString::fromUtf8(quorvel::WithFullStop(error.what())));
}

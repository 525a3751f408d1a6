#include "DictionaryEditor.h"

#include <QAction>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTimer>

#include <string_view>

#include "Encoding.h"
#include "Errors.h"
#include "KeyLengthValidator.h"
#include "Paths.h"
#include "PlatformDialogs.h"
#include "ScreenFit.h"
#include "TextLines.h"
#include "ui_PinyinDictionaryEditor.h"
#include "ui_WadeGilesDictionaryEditor.h"

namespace {

// The list box keeps 16 pixels below it; its top is at 194.
constexpr int kListBottomMargin = 210;
// However small the screen, the list keeps room for a few lines.
constexpr int kSmallestListHeight = 60;
// Changes in the folder come in bursts (two temporaries, two renames): one look after the last.
constexpr int kFollowEveryMs = 250;

QString FromGbk(std::string_view gbk) {
  return QString::fromStdString(quorvel::Gb18030ToUtf8(gbk));
}

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
  for (QLabel* label : {layout.keyLabel, layout.readingLabel, layout.listLabel})
    label->adjustSize();
  layout.hintLabel->resize(layout.hintLabel->width(), layout.hintLabel->sizeHint().height());
  return {layout.keyEdit,     layout.readingEdit,  layout.addButton, layout.deleteButton,
          layout.clearButton, layout.searchButton, layout.entryList};
}

}  // namespace

DictionaryEditor::DictionaryEditor(quorvel::ListFiles& data, quorvel::CustomDictionary::Kind kind,
                                   QWidget* parent)
    : QDialog(parent), dict_(data, kind) {
  controls_ = kind == quorvel::CustomDictionary::Kind::kWadeGiles
                  ? SetUpLayout<Ui::WadeGilesDictionaryEditor>(this)
                  : SetUpLayout<Ui::PinyinDictionaryEditor>(this);
  BuildEditMenu();
  keyLimit_ = new KeyLengthValidator(quorvel::kMaxKeyCharacters, this);
  keyLimit_->Reset(controls_.keyEdit->text());
  controls_.keyEdit->setValidator(keyLimit_);
  setMinimumHeight(menuHeight_ + kListBottomMargin + kSmallestListHeight);
  followTimer_ = new QTimer(this);
  followTimer_->setInterval(kFollowEveryMs);
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
  connect(c.keyEdit, &QLineEdit::returnPressed, this, &DictionaryEditor::addOrUpdate);
  connect(c.readingEdit, &QLineEdit::returnPressed, this, &DictionaryEditor::addOrUpdate);
  c.entryList->installEventFilter(this);
  connect(undoAction_, &QAction::triggered, this, &DictionaryEditor::undo);
  connect(followTimer_, &QTimer::timeout, this, &DictionaryEditor::FollowFiles);
  // A selection made with the mouse or the keyboard, and a click on the line already selected.
  // A click that changes the selection raises both; the handler gives the same result twice.
  connect(c.entryList, &QListWidget::currentRowChanged, this, [this] {
    if (!programmatic_) showSelectedEntry();
  });
  connect(c.entryList, &QListWidget::itemClicked, this, [this] {
    if (!programmatic_) showSelectedEntry();
  });
}

// The Edit menu above the fixed layout, which moves down by the menu bar's height. Its undo
// item's Ctrl+Z belongs to the list: in a text field Ctrl+Z undoes the typing.
void DictionaryEditor::BuildEditMenu() {
  auto* bar = new QMenuBar(this);
  bar->setObjectName(QStringLiteral("menuBar"));
  QMenu* edit = bar->addMenu(QStringLiteral("编辑(&E)"));
  edit->setObjectName(QStringLiteral("editMenu"));
  undoAction_ = edit->addAction(QStringLiteral("撤销上一次修改(&U)"));
  undoAction_->setObjectName(QStringLiteral("undoAction"));
  undoAction_->setShortcut(QKeySequence::Undo);
  undoAction_->setShortcutContext(Qt::WidgetShortcut);
  undoAction_->setEnabled(false);
  controls_.entryList->addAction(undoAction_);
  menuHeight_ = bar->sizeHint().height();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (child != bar && !child->isWindow()) child->move(child->x(), child->y() + menuHeight_);
  bar->setGeometry(0, 0, width(), menuHeight_);
  resize(width(), height() + menuHeight_);
}

void DictionaryEditor::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (auto* bar = findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly))
    bar->resize(width(), bar->height());
  if (controls_.entryList) FitListToHeight();
}

void DictionaryEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  FitOnScreen(this, parentWidget());
  // The lists may have been reloaded by lookups since the window was last open.
  SyncWithFiles();
  followTimer_->start();
}

void DictionaryEditor::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (event->spontaneous()) return;  // minimised, not closed
  undo_.clear();
  undoAction_->setEnabled(false);
  followTimer_->stop();
}

bool DictionaryEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == controls_.entryList && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    deleteSelected();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// While the window is open the list follows changes other programs make to the files. The lists'
// own change watch (ListFiles::Refresh: inotify on the folders, along symbolic links, else the
// files' identities) tells whether anything changed and reads no file when nothing did, so asking
// it a few times a second costs next to nothing and needs no second watcher here.
void DictionaryEditor::FollowFiles() {
  if (!isVisible()) return;
  try {
    dict_.Refresh();
  } catch (const std::exception&) {
    return;  // a file that cannot be read now is reported when the user next acts
  }
  if (dict_.Lines() != shownLines_) Refill();
}

void DictionaryEditor::RememberForUndo() {
  pending_ =
      UndoStep{dict_.Entries(),
               quorvel::PathExists(dict_.KeyPath()) || quorvel::PathExists(dict_.ReadingPath()),
               {}};
}

void DictionaryEditor::KeepUndoStep() {
  if (!pending_) return;
  pending_->after = dict_.Lines();
  undo_.push_back(std::move(*pending_));
  pending_.reset();
  undoAction_->setEnabled(true);
}

void DictionaryEditor::undo() {
  if (undo_.empty()) return;
  if (!SyncWithFiles()) return;
  if (dict_.Lines() != undo_.back().after) {
    // Another program changed the files since: putting back the old state would undo its change.
    undo_.clear();
    undoAction_->setEnabled(false);
    PlatformDialogs::Instance().ShowMessage(
        this, QStringLiteral("字库文件已被其他程序修改，无法撤销之前的修改。"));
    return;
  }
  try {
    if (undo_.back().existed) {
      dict_.Restore(undo_.back().before);
    } else {
      dict_.Clear();  // there were no files before the change
    }
  } catch (const std::exception& e) {
    ShowFailure(e);
    return;
  }
  undo_.pop_back();
  undoAction_->setEnabled(!undo_.empty());
  Refill();
}

void DictionaryEditor::FitListToHeight() {
  QListWidget* list = controls_.entryList;
  list->resize(list->width(), qMax(0, height() - menuHeight_ - kListBottomMargin));
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
  // Nothing typed (the field shows only its example): nothing to store; the key field is where
  // typing starts.
  if (quorvel::TrimControls(*key).empty()) {
    controls_.keyEdit->setFocus();
    return;
  }
  auto reading = StoredText(controls_.readingEdit);
  if (!reading) return;
  // An empty reading makes the name lose that syllable: "李小龙" would become "Xiao-long ".
  if (quorvel::TrimControls(*reading).empty() &&
      !PlatformDialogs::Instance().Confirm(
          this,
          QStringLiteral("拼音是空的。确认要保存没有拼音的“%1”吗？")
              .arg(FromGbk(quorvel::TrimControls(*key))),
          PlatformDialogs::Answer::kNo))
    return;
  size_t line = 0;
  RememberForUndo();
  try {
    line = dict_.AddOrUpdate(*key, *reading);
  } catch (const std::exception& e) {
    pending_.reset();
    ShowFailure(e);  // the files and the lists are as they were: nothing to refill
    return;
  }
  KeepUndoStep();
  Refill();
  SelectLine(static_cast<int>(line));
}

void DictionaryEditor::deleteSelected() {
  const int chosen = SelectedLine();
  const QString chosenText = chosen >= 0 ? controls_.entryList->item(chosen)->text() : QString();
  if (!SyncWithFiles()) return;
  int line = SelectedLine();
  if (line < 0) {
    if (chosen >= 0) {
      // The files changed under the selection: the list is refilled and nothing is deleted.
      PlatformDialogs::Instance().ShowMessage(
          this, QStringLiteral(
                    "字库文件已被其他程序修改，列表已更新。“%1”没有删除，请重新选择要删除的条目。")
                    .arg(chosenText));
    }
    return;
  }
  QString text = controls_.entryList->item(line)->text();
  if (!PlatformDialogs::Instance().Confirm(
          this, QStringLiteral("确认要删除  ") + text + QStringLiteral("  吗？"),
          PlatformDialogs::Answer::kNo))
    return;
  RememberForUndo();
  try {
    dict_.DeleteAt(static_cast<size_t>(line));
  } catch (const std::exception& e) {
    pending_.reset();
    ShowFailure(e);
    return;
  }
  KeepUndoStep();
  Refill();
}

void DictionaryEditor::clearAll() {
  if (!PlatformDialogs::Instance().Confirm(this, QStringLiteral("确认要清空所有自定义拼音吗？"),
                                           PlatformDialogs::Answer::kNo))
    return;
  // What Ctrl+Z puts back must be what the files hold; files that cannot be read are cleared
  // all the same, without a way back.
  bool readable = true;
  try {
    dict_.Refresh();
  } catch (const std::exception&) {
    readable = false;
  }
  if (readable) RememberForUndo();
  try {
    dict_.Clear();
  } catch (const std::exception& e) {
    pending_.reset();  // part of it may be gone; Ctrl+Z is no help with a half-done clear
    Refill();          // shows what the files still hold
    ShowFailure(e);
    return;
  }
  KeepUndoStep();
  Refill();
}

void DictionaryEditor::search() {
  if (!SyncWithFiles()) return;
  QString typed = controls_.keyEdit->text();
  QByteArray utf8 = typed.toUtf8();
  bool encodable = true;
  std::string key =
      quorvel::Utf8ToGb18030Strict(std::string_view(utf8.constData(), utf8.size()), &encodable);
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
  QStringList texts =
      QString::fromStdString(quorvel::Gb18030ToUtf8(joined)).split(QLatin1Char('\n'));
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
  // A pasted text may hold line breaks; at the ends they are trimmed, inside they would split
  // one entry over two lines of the file. The dictionary's rules refuse that and characters
  // GB18030 cannot store, with the message shown here as it is.
  try {
    return quorvel::OneLineDictionaryText(edit->text().toStdString());
  } catch (const quorvel::Error& refused) {
    PlatformDialogs::Instance().ShowMessage(this, QString::fromStdString(refused.what()));
    return std::nullopt;
  }
}

void DictionaryEditor::ShowFailure(const std::exception& error) {
  // File errors name the file they are about.
  PlatformDialogs::Instance().ShowError(this,
                                        QString::fromUtf8(quorvel::WithFullStop(error.what())));
}

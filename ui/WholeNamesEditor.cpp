#include "WholeNamesEditor.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "Encoding.h"
#include "Errors.h"
#include "PlatformDialogs.h"
#include "TaughtNames.h"
#include "ui_WholeNamesEditor.h"

namespace {

QString FromGbk(std::string_view gbk) {
  return QString::fromStdString(quorvel::Gb18030ToUtf8(gbk));
}

// "欧阳|修" and "ou yang xiu": the name as typed, the syllables without the mark.
QString ShownName(const quorvel::DictionaryEntry& entry) {
  return FromGbk(quorvel::MarkedName(entry));
}
QString ShownSyllables(const quorvel::DictionaryEntry& entry) {
  std::string syllables = entry.reading;
  for (char& c : syllables)
    if (c == '|') c = ' ';
  return FromGbk(syllables);
}

}  // namespace

WholeNamesEditor::WholeNamesEditor(quorvel::ListFiles& data, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::WholeNamesEditor>()),
      names_(data, quorvel::CustomDictionary::Kind::kWholeNames) {
  ui_->setupUi(this);
  connect(ui_->addButton, &QPushButton::clicked, this, &WholeNamesEditor::addOrUpdate);
  connect(ui_->deleteButton, &QPushButton::clicked, this, &WholeNamesEditor::deleteSelected);
  connect(ui_->clearButton, &QPushButton::clicked, this, &WholeNamesEditor::clearAll);
  connect(ui_->syllablesEdit, &QLineEdit::returnPressed, this, &WholeNamesEditor::addOrUpdate);
  connect(ui_->entryList, &QListWidget::currentRowChanged, this,
          &WholeNamesEditor::showSelectedEntry);
  Refill();
}

WholeNamesEditor::~WholeNamesEditor() = default;

void WholeNamesEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Refill();  // another program may have taught names since
}

void WholeNamesEditor::Refill() {
  try {
    names_.Refresh();
  } catch (const std::exception& error) {
    ShowFailure(error);
  }
  const QSignalBlocker quiet(ui_->entryList);
  shown_ = names_.Entries();
  ui_->entryList->clear();
  for (const auto& entry : shown_)
    ui_->entryList->addItem(ShownName(entry) + QLatin1Char(' ') + ShownSyllables(entry));
}

void WholeNamesEditor::showSelectedEntry() {
  const int row = ui_->entryList->currentRow();
  if (row < 0 || row >= static_cast<int>(shown_.size())) return;
  ui_->nameEdit->setText(ShownName(shown_[static_cast<size_t>(row)]));
  ui_->syllablesEdit->setText(ShownSyllables(shown_[static_cast<size_t>(row)]));
}

void WholeNamesEditor::addOrUpdate() {
  try {
    names_.Refresh();
    const quorvel::DictionaryEntry entry = names_.EntryFromUtf8(
        ui_->nameEdit->text().toStdString(), ui_->syllablesEdit->text().toStdString());
    const size_t line = names_.AddOrUpdate(entry.key, entry.reading);
    Refill();
    ui_->entryList->setCurrentRow(static_cast<int>(line));
  } catch (const std::exception& error) {
    ShowFailure(error);
  }
}

void WholeNamesEditor::deleteSelected() {
  const int row = ui_->entryList->currentRow();
  if (row < 0 || row >= static_cast<int>(shown_.size())) return;
  const quorvel::DictionaryEntry entry = shown_[static_cast<size_t>(row)];
  if (!PlatformDialogs::Instance().Confirm(this,
                                           QStringLiteral("确认要删除  ") +
                                               ui_->entryList->item(row)->text() +
                                               QStringLiteral("  吗？"),
                                           PlatformDialogs::Answer::kNo))
    return;
  try {
    names_.RemoveKey(entry.key);
  } catch (const std::exception& error) {
    ShowFailure(error);
  }
  Refill();
}

void WholeNamesEditor::clearAll() {
  if (!PlatformDialogs::Instance().Confirm(this, QStringLiteral("确认要清空所有整名吗？"),
                                           PlatformDialogs::Answer::kNo))
    return;
  try {
    names_.Clear();
  } catch (const std::exception& error) {
    ShowFailure(error);
  }
  Refill();
}

void WholeNamesEditor::ShowFailure(const std::exception& error) {
  PlatformDialogs::Instance().ShowError(
      this, QString::fromStdString(quorvel::WithFullStop(error.what())));
}

// The editor window of the whole names the user taught (TaughtNames.h): a name of 2 to 6
// characters ("|" may end the surname) with one pinyin syllable per character. The list shows one
// line per entry, "欧阳|修 ou yang xiu", in the list's order; a line chosen fills the two fields.
// Add or update, delete (after a question, No preselected) and clear (likewise) go through
// quorvel::CustomDictionary with the list's own rules, written and locked as the dictionaries
// are; the next conversion uses them. Errors are shown in the standard error box. The main window
// shows it modally from its dictionary menu.
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "CustomDictionary.h"

namespace Ui {
class WholeNamesEditor;
}

class WholeNamesEditor : public QDialog {
  Q_OBJECT

 public:
  explicit WholeNamesEditor(quorvel::ListFiles& data, QWidget* parent = nullptr);
  ~WholeNamesEditor() override;

 public slots:
  void showSelectedEntry();
  void addOrUpdate();
  void deleteSelected();
  void clearAll();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Refill();
  void ShowFailure(const std::exception& error);

  std::unique_ptr<Ui::WholeNamesEditor> ui_;
  quorvel::CustomDictionary names_;
  std::vector<quorvel::DictionaryEntry> shown_;  // the entries the list shows, line for line
};

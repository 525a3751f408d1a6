// The editor window of one custom dictionary. The program shows it twice: for the standard
// pinyin dictionary ("自定义标准拼音") and for the Wade-Giles / Hong Kong-Taiwan one
// ("自定义韦氏港台拼音"). Both behave alike; each keeps its own fixed layout, captions and tab
// order, in PinyinDictionaryEditor.ui and WadeGilesDictionaryEditor.ui (a few places differ by
// some pixels, and the search button lies on the window in one and inside the group box in the
// other), with the same control names.
//
// The list shows one line per entry, "key reading", and line i is always entry i of the
// dictionary: while the window is shown it follows changes other programs make to the files, and
// before a handler acts it refreshes the dictionary once more; a list that was out of date is
// refilled (dropping the selection) so a delete or an update can never hit the wrong entry, and a
// delete that lost its entry that way says so. Dictionary work is done by
// quorvel::CustomDictionary; errors are shown in the standard error box and end the handler.
//
// Forgiving: the fields start empty (the example shows as placeholder text) and an empty key is
// never stored; Clear and Delete ask with No preselected, an empty reading is stored only after a
// question, and the Edit menu's undo (Ctrl+Z while the list has the focus) takes back the last
// changes made while the window is open (add/update, delete, clear) as long as nobody else has
// changed the files since; in a text field Ctrl+Z undoes the typing. Enter in a field adds or
// updates; the Delete key in the list deletes. The window fits the screen: its list gets shorter
// if it must.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "CustomDictionary.h"

class KeyLengthValidator;
class QAction;
class QLineEdit;
class QTimer;
class QListWidget;
class QPushButton;

// The controls the handlers use; both layouts give them these names.
struct DictionaryEditorControls {
  QLineEdit* keyEdit;
  QLineEdit* readingEdit;
  QPushButton* addButton;
  QPushButton* deleteButton;
  QPushButton* clearButton;
  QPushButton* searchButton;
  QListWidget* entryList;
};

class DictionaryEditor : public QDialog {
  Q_OBJECT

 public:
  // Created hidden at start-up, after the main window has loaded the lists, and filled from them;
  // `kind` chooses the dictionary, its two files and the layout. The main window shows it modally.
  DictionaryEditor(quorvel::ListFiles& data, quorvel::CustomDictionary::Kind kind,
                   QWidget* parent = nullptr);
  ~DictionaryEditor() override;

  const DictionaryEditorControls& Controls() const { return controls_; }

 public slots:
  void showSelectedEntry();  // a line chosen in the list: its key and reading into the fields
  void clearReading();       // the key was edited: the reading field empties
  void addOrUpdate();
  void deleteSelected();  // after confirmation
  void clearAll();        // after confirmation: both files go
  void search();          // selects the first entry of the typed key
  void undo();            // takes back the last change made while the window is open

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildEditMenu();
  void Connect();
  void FitListToHeight();
  void Refill();
  bool SyncWithFiles();
  void FollowFiles();  // while shown, a few times a second: the list catches up with the files
  void RememberForUndo();
  void KeepUndoStep();
  int SelectedLine() const;
  void SelectLine(int line);
  void SetKeyText(const QString& text);
  std::optional<std::string> StoredText(const QLineEdit* edit);
  void ShowFailure(const std::exception& error);

  quorvel::CustomDictionary dict_;
  DictionaryEditorControls controls_{};
  KeyLengthValidator* keyLimit_ = nullptr;
  std::vector<std::string> shownLines_;  // the GBK lines the list was last filled with
  bool programmatic_ = false;            // list changes made by the window itself

  // One change that Ctrl+Z can take back: the entries before it (`existed`: whether there were
  // files at all) and the lines it left, to see that nobody has changed the files since.
  struct UndoStep {
    std::vector<quorvel::DictionaryEntry> before;
    bool existed = false;
    std::vector<std::string> after;
  };
  std::vector<UndoStep> undo_;
  QAction* undoAction_ = nullptr;    // the Edit menu's item, enabled while there is a step
  int menuHeight_ = 0;               // the menu bar above the fixed layout
  std::optional<UndoStep> pending_;  // recorded before a change, kept once it succeeded
  QTimer* followTimer_ = nullptr;
};

// The custom dictionary editor window, shared by TfrmHan (standard pinyin) and TfrmWeiHan
// (Wade-Giles). The two differ only in their .ui file (texts, places, tab order) and in which
// dictionary they edit; every handler lives here.
//
// The list box shows one line per entry, "key reading", and line i is always entry i of the
// lists: before a handler acts it refreshes the lists, and if the files were changed by another
// program since the list box was filled, it refills the list box (dropping the selection) so a
// delete or an update can never hit the wrong entry. Dictionary work is done by
// quorvel::CustomDictionary; errors are shown in the standard error box and end the handler.
#pragma once

#include <QDialog>
#include <QString>
#include <QValidator>

#include <optional>
#include <string>
#include <vector>

#include "CustomDictionary.h"

class QLineEdit;
class QListWidget;
class QPushButton;

// Lets a line edit hold at most `maxBytes` bytes of GBK while the user types or pastes (a
// character GBK cannot hold counts two, see quorvel::GbkCharBytes). An insertion that would go
// past the limit keeps only its leading characters that fit, as a byte-limited edit field does.
// Text set by the program while Bypass is on is taken whole, however long.
class GbkByteLimitValidator : public QValidator {
  Q_OBJECT

 public:
  GbkByteLimitValidator(int maxBytes, QObject* parent);
  State validate(QString& input, int& pos) const override;
  void SetBypass(bool bypass) { bypass_ = bypass; }
  void Reset(const QString& text);  // the field's text when the validator is installed

  static int ByteCount(const QString& text);

 private:
  int maxBytes_;
  bool bypass_ = false;
  mutable QString accepted_;  // the text as last accepted: tells which part is new
};

// The controls the handlers use, as the .ui file of each window names them.
struct DictEditorControls {
  QLineEdit* edt_han;
  QLineEdit* edt_pinyin;
  QPushButton* btn_add;
  QPushButton* btn_del;
  QPushButton* btn_clear;
  QPushButton* btn_search;
  QListWidget* ListBox_define_han;
};

class DictEditor : public QDialog {
  Q_OBJECT

 public:
  quorvel::CustomDictionary& Dictionary() { return dict_; }
  const DictEditorControls& Controls() const { return c_; }

  // Event handlers.
  void FormCreate();
  void FormResize();
  void ListBox_define_hanClick();
  void edt_hanChange();
  void btn_addClick();
  void btn_delClick();
  void btn_clearClick();
  void btn_searchClick();

 protected:
  DictEditor(quorvel::PronunciationData& data, quorvel::CustomDictionary::Kind kind, QWidget* parent);
  // Called by the constructors once setupUi has made the controls: connects each control's
  // signal to its handler, limits edt_han, and runs FormCreate.
  void Bind(const DictEditorControls& controls);

  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Refill();
  bool SyncWithFiles();
  int SelectedLine() const;
  void SelectLine(int line);
  void SetKeyText(const QString& text);
  std::optional<std::string> StoredText(const QLineEdit* edit);
  void ShowFailure(const std::exception& error);

  quorvel::CustomDictionary dict_;
  DictEditorControls c_{};
  GbkByteLimitValidator* hanLimit_ = nullptr;
  std::vector<std::string> shownLines_;  // the GBK lines the list box was last filled with
  bool programmatic_ = false;            // list box changes made by the window itself
};

// Creates both editor windows at start-up, after the lists are loaded: frmWeiHan first, then
// frmHan. They stay hidden until the main window shows them with exec().
struct DictEditorWindows {
  QDialog* standard;   // frmHan, for N_standard
  QDialog* wadeGiles;  // frmWeiHan, for N_wei
};
DictEditorWindows CreateDictEditors(quorvel::PronunciationData& data, QWidget* mainWindow);

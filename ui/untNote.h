// The help window: a fixed text on what the program does and how to use it, the same in both
// interface languages. Created hidden at start-up, shown without blocking the main window, hidden
// again when closed.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmNote;
}

class TfrmNote : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmNote(QWidget* parent = nullptr);
  ~TfrmNote() override;

  // Shows the window, or brings it to the front when it is already shown.
  void ShowOrRaise();

 private:
  std::unique_ptr<Ui::TfrmNote> ui;
};

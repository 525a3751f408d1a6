// The help window: a fixed text on what the program does and how to use it, the same in both
// interface languages. Created hidden at start-up, shown without blocking the main window, hidden
// again when closed. Given the folder of the user's dictionaries, it names it in one added line.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class HelpWindow;
}

class HelpWindow : public QDialog {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  HelpWindow(const QString& dictionaryFolder, QWidget* parent);
  ~HelpWindow() override;

  // Shows the window, or brings it to the front when it is already shown.
  void ShowOrRaise();

 private:
  void FitToScreen();

  QSize wholeText_;  // the size that shows the whole text without scroll bars
  std::unique_ptr<Ui::HelpWindow> ui_;
};

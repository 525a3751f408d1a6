// The help window: a fixed text on what the program does and how to use it, the same in both
// interface languages. Created hidden at start-up, shown without blocking the main window, hidden
// again when closed. Its figures (characters, syllables, Wade-Giles spellings, polyphonic
// characters) are counted from the data the program has loaded when it is created. Given the
// folder of the user's dictionaries, it names it in one added line.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class HelpWindow;
}
namespace quorvel {
class ListFiles;
}

class HelpWindow : public QDialog {
  Q_OBJECT

 public:
  // `data`: the program's lists, already loaded.
  explicit HelpWindow(const quorvel::ListFiles& data, const QString& dictionaryFolder = {},
                      QWidget* parent = nullptr);
  ~HelpWindow() override;

  // Shows the window, or brings it to the front when it is already shown.
  void ShowOrRaise();

 private:
  void FitToScreen();

  QSize wholeText_;  // the size that shows the whole text without scroll bars
  std::unique_ptr<Ui::HelpWindow> ui_;
};

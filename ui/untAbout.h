// The About window: title, version and maker. Each showing is a fresh window, shown modally and
// destroyed afterwards. The maker's two lines open the product page in the user's browser.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfrmAbout;
}

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAbout(QWidget* parent = nullptr);
  ~TfrmAbout() override;

  void Label3Click();
  void Label4Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::TfrmAbout> ui;
};

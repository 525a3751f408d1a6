// The About window: title, version and maker. Each showing is a fresh window, shown modally and
// destroyed afterwards. The maker's two lines open the product page in the user's browser.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutWindow;
}

class AboutWindow : public QDialog {
  Q_OBJECT

 public:
  explicit AboutWindow(QWidget* parent = nullptr);
  ~AboutWindow() override;

 public slots:
  // Both maker lines open the product page, whatever the address line shows.
  void openProductPage();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::AboutWindow> ui_;
};

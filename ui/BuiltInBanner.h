// The banner's own picture, drawn by the window itself: the program's name and what it does on a
// blue gradient, 500 x 70. It is what the banner shows until a configured banner page has loaded,
// and for good when none is configured or the page cannot be reached.
#pragma once

#include <QWidget>

class BuiltInBanner : public QWidget {
  Q_OBJECT

 public:
  explicit BuiltInBanner(QWidget* parent = nullptr);

  static QString Title();     // "Quorvel"
  static QString Subtitle();  // the line under it

 signals:
  // The banner has been painted for the first time: the window is on the screen.
  void firstPainted();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool painted_ = false;
};

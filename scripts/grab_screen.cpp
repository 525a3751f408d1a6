// Saves what the X display shows, cut to the area that is not the black root window: with one
// window on an otherwise empty Xvfb screen, that is the window. Built and run by screenshots.sh.
//
//   grab_screen OUTPUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: grab_screen OUTPUT.png\n");
    return 2;
  }
  const QImage screen =
      app.primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
  int left = screen.width(), top = screen.height(), right = -1, bottom = -1;
  for (int y = 0; y < screen.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
    for (int x = 0; x < screen.width(); ++x) {
      if ((row[x] & 0xffffff) == 0) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) {
    std::fprintf(stderr, "grab_screen: the screen is empty\n");
    return 1;
  }
  if (!screen.copy(left, top, right - left + 1, bottom - top + 1)
           .save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "grab_screen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

// The yardstick of window_startup.sh: the smallest Qt Widgets program that shows a window of the
// main window's size. Built only for the benchmark.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("bare"));
  window.resize(526, 358);
  window.show();
  return app.exec();
}

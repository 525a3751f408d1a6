// A temporary data folder, the pronunciation data on it and a main window over both, as the
// window tests use them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>

#include <memory>

#include "FakeDialogs.h"
#include "ListFiles.h"
#include "MainWindow.h"

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  void TearDown() override {
    EXPECT_FALSE(dialogs_.AnswersLeft()) << "prepared answers were not used";
  }

  std::string DataDir() const { return dir_.path().toStdString() + "/"; }
  QString PathOf(const QString& name) const { return dir_.filePath(name); }

  void Write(const QString& name, const QByteArray& bytes) const {
    QFile file(PathOf(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << name.toStdString();
    file.write(bytes);
  }
  QByteArray Read(const QString& name) const {
    QFile file(PathOf(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  }
  // The installed list files, so that lookups and the lists' release can be seen.
  void CopyListFiles() const {
    for (const char* name : quorvel::kListFileNames) {
      const QString from = QStringLiteral(QUORVEL_TEST_BIN_DIR "/") + QLatin1String(name);
      ASSERT_TRUE(QFile::copy(from, PathOf(QLatin1String(name)))) << name;
    }
  }

  std::unique_ptr<MainWindow> Open(const QUrl& banner = {}) {
    if (!data_) data_ = std::make_unique<quorvel::ListFiles>(DataDir());
    return std::make_unique<MainWindow>(*data_, DataDir(), banner);
  }

  // Looks a control up by its name; a missing one fails the test.
 public:
  template <typename T>
  static T* Get(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QLatin1String(name));
    if (!found) ADD_FAILURE() << "no " << name;
    return found;
  }

 protected:
  static QVariant RunJavaScript(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
      result = value;
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 20000)) << script.toStdString();
    return result;
  }

  QTemporaryDir dir_;
  RecordingDialogs dialogs_;
  std::unique_ptr<quorvel::ListFiles> data_;
};

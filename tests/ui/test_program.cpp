// The program itself, started as a user starts it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kProgram = QStringLiteral(QUORVEL_PROGRAM);

TEST(Program, WithoutADisplaySaysSoAndPointsToTheCommandLineConverter) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QLatin1String(name));
  program.setProcessEnvironment(env);
  program.start(kProgram, {});
  ASSERT_TRUE(program.waitForFinished(30000));
  EXPECT_NE(program.exitCode(), 0);
  const QString err = QString::fromUtf8(program.readAllStandardError());
  EXPECT_TRUE(err.contains(QStringLiteral("no graphical display"))) << err.toStdString();
  EXPECT_TRUE(err.contains(QStringLiteral("quorvel-cli"))) << err.toStdString();
}

// A program with its mapping list beside it (portable) keeps its files there, wherever it is
// started from.
TEST(Program, StartedFromAnotherFolderUsesTheFilesBesideItself) {
  QTemporaryDir home, elsewhere, userHome;
  ASSERT_TRUE(home.isValid() && elsewhere.isValid() && userHome.isValid());
  const QString copy = home.filePath(QStringLiteral("quorvel"));
  ASSERT_TRUE(QFile::copy(kProgram, copy));
  QFile::setPermissions(copy, QFile::permissions(kProgram));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEL_TEST_BIN_DIR "/pinyin_han.dll"),
                          home.filePath(QStringLiteral("pinyin_han.dll"))));
  QFile language(home.filePath(QStringLiteral("config.db")));
  ASSERT_TRUE(language.open(QIODevice::WriteOnly));
  language.write("en");
  language.close();

  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  // As root the program must switch the browser engine's sandbox off by itself.
  env.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
  env.insert(QStringLiteral("HOME"), userHome.path());
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(elsewhere.path());
  program.start(copy, {});
  ASSERT_TRUE(program.waitForStarted(30000));
  // Start-up rewrites config.db with the language it applied.
  auto rewritten = [&] {
    QFile file(home.filePath(QStringLiteral("config.db")));
    return file.open(QIODevice::ReadOnly) && file.readAll() == "en\r\n";
  };
  (void)QTest::qWaitFor([&] { return rewritten() || program.state() == QProcess::NotRunning; },
                        60000);
  EXPECT_TRUE(rewritten());
  // The program keeps running (a browser engine that could not start, as root, would have ended it
  // by now).
  QTest::qWait(3000);
  EXPECT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().toStdString();
  program.kill();
  program.waitForFinished(30000);
  EXPECT_TRUE(QDir(elsewhere.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty())
      << "nothing may be written to the working folder";
  EXPECT_FALSE(QDir(userHome.filePath(QStringLiteral(".config/quorvel"))).exists())
      << "a portable program keeps its settings beside itself";
}

}  // namespace

// The single-instance guard across real processes.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "wizard/SingleApp.h"

namespace {

const QString kProbe = QStringLiteral(UST_BIN_DIR "/singleapp_probe");

// Starts a probe and waits for its first line ("first" or "second").
QString StartProbe(QProcess& p, const QString& program, const QStringList& args = {}) {
  p.setProcessChannelMode(QProcess::SeparateChannels);
  p.start(program, args);
  if (!p.waitForStarted(10000)) return QStringLiteral("not started");
  QByteArray line;
  for (int i = 0; i < 100 && !p.canReadLine(); ++i) p.waitForReadyRead(100);
  line = p.readLine().trimmed();
  return QString::fromLatin1(line);
}

QString WaitForLine(QProcess& p) {
  for (int i = 0; i < 100 && !p.canReadLine(); ++i) p.waitForReadyRead(100);
  return QString::fromLatin1(p.readLine().trimmed());
}

void Stop(QProcess& p) {
  p.kill();
  p.waitForFinished(5000);
}

}  // namespace

class SingleAppTest : public QObject {
  Q_OBJECT
 private slots:
  void keyIsUpperCasedFileName() {
    QCOMPARE(wizard::SingleApp::KeyFor(QStringLiteral("/opt/zempa/USt2020")),
             QStringLiteral("ZEMPAUST2020"));
    QCOMPARE(wizard::SingleApp::KeyFor(QStringLiteral("ust2020.exe")),
             QStringLiteral("ZEMPAUST2020.EXE"));
  }

  void secondStartRaisesFirstAndEndsWithZero() {
    QProcess first;
    QCOMPARE(StartProbe(first, kProbe), QStringLiteral("first"));

    QProcess second;
    QCOMPARE(StartProbe(second, kProbe), QStringLiteral("second"));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // The first copy was asked to come forward: its window, no longer minimised.
    QCOMPARE(WaitForLine(first), QStringLiteral("raised MainWindow normal"));

    // Killed without its shutdown: the next start runs all the same.
    Stop(first);
    QProcess third;
    QCOMPARE(StartProbe(third, kProbe), QStringLiteral("first"));
    Stop(third);
  }

  void modalDialogComesForward() {
    QProcess first;
    QCOMPARE(StartProbe(first, kProbe, {QStringLiteral("--modal")}), QStringLiteral("first"));
    QTest::qWait(300);  // let the dialog open
    QProcess second;
    QCOMPARE(StartProbe(second, kProbe), QStringLiteral("second"));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(WaitForLine(first), QStringLiteral("raised ModalDialog normal"));
    Stop(first);
  }

  void copyUnderAnotherNameIsNotStopped() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("singleapp_probe_copy"));
    QVERIFY(QFile::copy(kProbe, copy));
    QProcess first;
    QCOMPARE(StartProbe(first, kProbe), QStringLiteral("first"));
    QProcess other;
    QCOMPARE(StartProbe(other, copy), QStringLiteral("first"));
    Stop(other);
    Stop(first);
  }

  void afterNormalEndNewStartRuns() {
    QProcess first;
    QCOMPARE(StartProbe(first, kProbe, {QStringLiteral("--quit")}), QStringLiteral("first"));
    QVERIFY(first.waitForFinished(5000));
    QCOMPARE(first.exitCode(), 0);
    QProcess next;
    QCOMPARE(StartProbe(next, kProbe), QStringLiteral("first"));
    Stop(next);
  }
};

QTEST_GUILESS_MAIN(SingleAppTest)
#include "SingleAppTest.moc"

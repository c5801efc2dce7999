// The program USt2020 itself, as real processes on a demo installation: the
// second start ends with 0 and brings the first copy's window forward; once
// the first copy has ended, a new start runs.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kBin = QStringLiteral(UST_BIN_DIR);

bool CopyInto(const QString& from, const QString& toDir) {
  const QString to = QDir(toDir).filePath(QFileInfo(from).fileName());
  QFile::remove(to);
  return QFile::copy(from, to);
}

// Reads standard error until a line contains `text`.
bool WaitForLine(QProcess& p, const QString& text, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  QString seen;
  while (t.elapsed() < ms) {
    p.waitForReadyRead(100);
    seen += QString::fromUtf8(p.readAllStandardError());
    if (seen.contains(text)) return true;
    if (p.state() == QProcess::NotRunning) break;
  }
  qWarning().noquote() << "stderr so far:" << seen;
  return false;
}

}  // namespace

class ProgramTest : public QObject {
  Q_OBJECT
  QTemporaryDir root;
  QString prog;

 private slots:
  void initTestCase() {
    QVERIFY(root.isValid());
    QProcess demo;
    demo.start(kBin + QStringLiteral("/ust2020demo"),
               {QStringLiteral("--mandanten"), QStringLiteral("2"), QStringLiteral("--konten"),
                QStringLiteral("60"), root.path()});
    QVERIFY(demo.waitForFinished(120000));
    QCOMPARE(demo.exitCode(), 0);
    prog = QDir(root.path()).filePath(QStringLiteral("Programm"));
    // Installed as the program runs: libraries and styles beside it.
    for (const char* f : {"USt2020", "libxbe50.so", "libfts32.so"})
      QVERIFY2(CopyInto(kBin + QLatin1Char('/') + QLatin1String(f), prog), f);
    QDir().mkpath(prog + QStringLiteral("/Style"));
    for (const QString& s : QDir(kBin + QStringLiteral("/Style")).entryList({QStringLiteral("*.qss")}))
      QVERIFY(CopyInto(kBin + QStringLiteral("/Style/") + s, prog + QStringLiteral("/Style")));
  }

  void secondStartRaisesFirstAndEndsWithZero() {
    const QString program = prog + QStringLiteral("/USt2020");
    QProcess first;
    first.start(program, {});
    QVERIFY(WaitForLine(first, QStringLiteral("USt2020: window shown")));

    QProcess second;
    second.start(program, {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!QString::fromUtf8(second.readAllStandardError()).contains(QStringLiteral("window shown")));
    QVERIFY(WaitForLine(first, QStringLiteral("USt2020: raised Form_USt2020")));

    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QProcess third;
    third.start(program, {});
    QVERIFY(WaitForLine(third, QStringLiteral("USt2020: window shown")));
    third.kill();
    third.waitForFinished(10000);
  }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "ProgramTest.moc"

// The Qt pieces the engine drives through its interfaces: message boxes,
// the progress window of the backups and the progress lists.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QFile>
#include <QTemporaryDir>

#include "wizard/FileViewer.h"
#include "wizard/QtGrid.h"
#include "wizard/QtListBox.h"
#include "wizard/QtProgressWindow.h"
#include "wizard/QtUserDialog.h"

namespace {

// Presses the button `text` of the next modal box and records what it showed.
struct BoxWatcher {
  QString title, text, buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer timer;
  explicit BoxWatcher(const QString& press) {
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this, press] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      timer.stop();
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      for (QAbstractButton* b : box->buttons()) buttons += b->text() + QLatin1Char('|');
      for (QAbstractButton* b : box->buttons())
        if (b->text() == press) b->click();
    });
    timer.start();
  }
};

}  // namespace

class WidgetsTest : public QObject {
  Q_OBJECT
 private slots:
  void messageBoxShowsTitleSymbolOneOkAndReadsCtrl() {
    wizard::QtUserDialog dialog;
    bool ctrl = true;
    dialog.keyboardModifiers = [&ctrl] {
      return ctrl ? Qt::KeyboardModifiers(Qt::ControlModifier) : Qt::KeyboardModifiers();
    };
    {
      BoxWatcher w(QStringLiteral("OK"));
      auto answer = dialog.ShowMessage(platform::MessageKind::Error, "Fehler",
                                       "Zeile 1\r\rDas Programm kann nicht ausgeführt werden.");
      QCOMPARE(w.title, QStringLiteral("Fehler"));
      QCOMPARE(w.text, QStringLiteral("Zeile 1\n\nDas Programm kann nicht ausgeführt werden."));
      QCOMPARE(w.icon, QMessageBox::Critical);
      QCOMPARE(w.buttons, QStringLiteral("OK|"));
      QVERIFY(answer.ctrlHeld);
    }
    ctrl = false;
    {
      BoxWatcher w(QStringLiteral("OK"));
      auto answer = dialog.ShowMessage(platform::MessageKind::Information, "Informationen",
                                       "a\r\nb");
      QCOMPARE(w.icon, QMessageBox::Information);
      QCOMPARE(w.text, QStringLiteral("a\nb"));
      QVERIFY(!answer.ctrlHeld);
    }
  }

  void progressWindowCancels() {
    wizard::QtProgressWindow progress;
    progress.Start("Sicherung steuersatz.dbf", 1000);
    QVERIFY(progress.Dialog());
    QCOMPARE(progress.Dialog()->windowTitle(), QStringLiteral("Sicherung steuersatz.dbf"));
    QVERIFY(progress.Dialog()->isVisible());
    QVERIFY(progress.Update(100, 1000));
    QVERIFY(progress.Update(2000, 1000));  // more than announced is no reason to stop
    auto* cancel = progress.Dialog()->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Abbrechen"));
    cancel->click();
    QVERIFY(!progress.Update(500, 1000));
    progress.Finish();
    QVERIFY(!progress.Dialog());
    progress.Start("Neu", 0);  // a new copy starts without the old cancel
    QVERIFY(progress.Update(0, 0));
    progress.Finish();
  }

  void gridKeepsCellsAndMapsTheHeaderRow() {
    wizard::QtGrid grid;
    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetFixedRows(1);
    grid.SetCell(0, 0, "Nr");
    grid.SetCell(0, 1, " 7 ");
    grid.SetCell(1, 2, "Bäckerei");
    grid.SetCheckBox(2, 2, true);
    grid.SetChecked(2, 2, true);
    grid.SetHint(1, 2, "Hinweis");
    QCOMPARE(grid.horizontalHeaderItem(0)->text(), QStringLiteral("Nr"));
    QCOMPARE(grid.rowCount(), 2);  // the header row is no table row
    QCOMPARE(grid.item(1, 1)->text(), QStringLiteral("Bäckerei"));
    QCOMPARE(grid.item(1, 1)->toolTip(), QStringLiteral("Hinweis"));
    QCOMPARE(grid.CellAsInteger(0, 1), 7);
    QCOMPARE(grid.CellAsInteger(1, 2), -1);

    // Growing and shrinking keep what stays inside.
    grid.SetColCount(5);
    grid.SetRowCount(4);
    QCOMPARE(grid.Cell(1, 2), std::string("Bäckerei"));
    QVERIFY(grid.IsChecked(2, 2));
    QVERIFY(!grid.HasCheckBox(4, 3) && !grid.IsReadOnly(4, 3) && grid.Hint(4, 3).empty());
    grid.SetColCount(2);
    QCOMPARE(grid.Cell(1, 2), std::string("Bäckerei"));
    QCOMPARE(grid.Cell(2, 2), std::string());
    grid.SetColCount(3);
    QVERIFY(!grid.HasCheckBox(2, 2));  // the cell was gone

    // Removing a check box takes its state along.
    grid.SetCheckBox(0, 3, true);
    grid.SetChecked(0, 3, true);
    grid.SetCheckBox(0, 3, false);
    grid.SetCheckBox(0, 3, true);
    QVERIFY(!grid.IsChecked(0, 3));
    grid.Clear();
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(grid.Cell(0, 0), std::string());
    QVERIFY(!grid.HasCheckBox(0, 3));
  }

  void gridUserEditsRespectReadOnly() {
    wizard::QtGrid grid;
    grid.SetColCount(2);
    grid.SetRowCount(3);
    grid.SetFixedRows(1);
    grid.SetCheckBox(0, 1, true);
    grid.SetCheckBox(0, 2, true);
    grid.SetChecked(0, 2, true);
    grid.SetReadOnly(0, 2, true);
    grid.item(0, 0)->setCheckState(Qt::Checked);    // the user ticks row 1
    grid.item(1, 0)->setCheckState(Qt::Unchecked);  // and tries the read-only row 2
    QVERIFY(grid.IsChecked(0, 1));
    QVERIFY(grid.IsChecked(0, 2));
    QCOMPARE(grid.item(1, 0)->checkState(), Qt::Checked);
    QVERIFY(!(grid.item(1, 0)->flags() & Qt::ItemIsUserCheckable));
  }

  void gridLinksRaiseTheClickWithTheRow() {
    wizard::QtGrid grid;
    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetFixedRows(1);
    grid.SetHotLink(2, 2, true);
    grid.SetCell(2, 2, "Hier klicken zum Öffnen ...");
    std::vector<std::pair<int, int>> clicks;
    grid.OnLinkClick = [&clicks](int c, int r) { clicks.emplace_back(c, r); };
    grid.resize(500, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QVERIFY(grid.item(1, 2)->font().underline());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                      grid.visualItemRect(grid.item(1, 2)).center());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                      grid.visualItemRect(grid.item(1, 1)).center());  // no link
    grid.setCurrentCell(1, 2);
    QTest::keyClick(&grid, Qt::Key_Return);
    QCOMPARE(clicks, (std::vector<std::pair<int, int>>{{2, 2}, {2, 2}}));
  }

  void viewerGetsThePathAsOneArgument() {
    // A stand-in for xdg-open records its arguments, one per line.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString record = dir.filePath(QStringLiteral("args.txt"));
    QFile script(dir.filePath(QStringLiteral("xdg-open")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n")
                     .arg(record)
                     .toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8() + ':' + oldPath);
    const std::string path = "/daten/Mandant 01/SAVE_USt2020/USt2020Prot.txt; rm -rf $HOME `x`";
    const bool ok = wizard::OpenWithDesktopViewer(path);
    qputenv("PATH", oldPath);
    QVERIFY(ok);
    QFile out(record);
    QTRY_VERIFY(out.exists() && out.size() > 0);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(out.readAll()), QString::fromStdString(path) + QLatin1Char('\n'));
  }

  void listBoxLinesAndRepaint() {
    wizard::QtListBox list;
    list.resize(300, 100);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.BeginUpdate();
    list.Clear();
    list.Add("Umstellung wird durchgeführt ...");
    QVERIFY(!list.updatesEnabled());
    list.EndUpdate();
    QVERIFY(list.updatesEnabled());
    for (int i = 0; i < 50; ++i) {
      list.Add("Mandant <" + std::to_string(i) + ">: Sicherung ...");
      list.SetLine(list.Count() - 1, list.Line(list.Count() - 1) + " OK");
      list.Repaint();
    }
    QCOMPARE(list.Count(), 51);
    QCOMPARE(list.Line(0), std::string("Umstellung wird durchgeführt ..."));
    QCOMPARE(list.Line(50), std::string("Mandant <49>: Sicherung ... OK"));
    QCOMPARE(list.Line(51), std::string());
    // The newest line is in view while the run goes on.
    QVERIFY(list.visualItemRect(list.item(50)).intersects(list.viewport()->rect()));
  }
};

QTEST_MAIN(WidgetsTest)
#include "WidgetsTest.moc"

// The Qt pieces the engine drives through its interfaces: message boxes,
// the progress window of the backups and the progress lists.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
    {
      BoxWatcher w(QStringLiteral("&Nein"));
      auto answer = dialog.ShowMessage(platform::MessageKind::Confirmation, "Frage", "?");
      QVERIFY(!answer.yes);
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

// The wizard with the real engine on a demo installation: the start-up
// checks, the Mandant grid the engine fills, the refusals with the exact
// texts, and the whole road through the run to the logs.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <set>
#include <vector>

#include "DemoInstall.h"
#include "conversion/Ust2020Obj.h"
#include "hostenv/Locations.h"
#include "hostenv/ModuleStartup.h"
#include "hostenv/Registry.h"
#include "platform/UserDialog.h"
#include "platform/FileOperation.h"
#include "platform/Files.h"
#include "wizard/QtProgressWindow.h"
#include "wizard/USt2020Dlg.h"
#include "xbase/engine/binding/XBE50.h"

namespace wizard {

// Records the logs the engine hands over instead of starting a viewer.
class FakeViewer : public conversion::TFileViewer {
 public:
  bool Open(const std::string& APath, std::string& AError) override {
    opened.push_back(APath);
    if (!refuse.empty()) AError = refuse;
    return refuse.empty();
  }
  std::vector<std::string> opened;
  std::string refuse;  // the error to report instead of opening
};

// The progress window of the program, counting the copies it showed.
class CountingProgress : public QtProgressWindow {
 public:
  void Start(const std::string& title, std::uint64_t total) override {
    QtProgressWindow::Start(title, total);
    ++started;
    if (Dialog() && Dialog()->isVisible()) ++shown;
    // The user's click on "Abbrechen" in the first copy's window.
    if (cancelFirst && started == 1) {
      auto* button = Dialog()->findChild<QPushButton*>();
      QVERIFY(button && button->text() == QStringLiteral("Abbrechen"));
      button->click();
    }
  }
  bool cancelFirst = false;
  int started = 0;
  int shown = 0;
};

class FormDemoTest : public QObject {
  Q_OBJECT
  std::unique_ptr<QTemporaryDir> root;
  std::string prog;
  platform::RecordingUserDialog dialog;
  std::unique_ptr<platform::ScopedUserDialog> scoped;
  std::unique_ptr<TXBEEngine> xbe;
  FakeViewer viewer;

  void Install(bool foreign67) {
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    demo::TDemoOptions options;
    options.Root = root->path().toStdString();
    options.Mandanten = 2;
    options.Accounts = 80;
    options.Foreign67 = foreign67;
    std::string error;
    QVERIFY2(demo::WriteInstallation(options, error), error.c_str());
    prog = demo::ProgramDirOf(options.Root) + "/";
  }

  // The program's start-up steps up to the form.
  std::unique_ptr<TForm_USt2020> Start() {
    dialog.messages.clear();
    hostenv::SetHostProgramDirectory(prog);
    hostenv::CreateZeRegistry();
    if (hostenv::ModuleStartup(prog + "USt2020") != hostenv::TStartupResult::srContinue)
      return nullptr;
    TFormEnvironment env;
    env.createEngine = [this] { return CreateConversionEngine(&viewer); };
    env.dialog = &dialog;
    env.inDebugger = [] { return false; };
    auto form = std::make_unique<TForm_USt2020>(std::move(env));
    form->show();
    return form;
  }

  // Every file of the installation with its content, the backups left out.
  std::map<QString, QByteArray> Snapshot() const {
    std::map<QString, QByteArray> files;
    QDirIterator it(root->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      if (path.contains(QStringLiteral("SAVE_USt2020"), Qt::CaseInsensitive)) continue;
      QFile f(path);
      if (f.open(QIODevice::ReadOnly)) files[path] = f.readAll();
    }
    return files;
  }

  std::string LastMessage() const {
    return dialog.messages.empty() ? std::string() : dialog.messages.back().text;
  }

 private slots:
  void initTestCase() {
    scoped = std::make_unique<platform::ScopedUserDialog>(dialog);
    xbe = std::make_unique<TXBEEngine>();
    QVERIFY2(xbe->LoadDLLs(), xbe->LoadError().c_str());
  }
  void cleanup() {
    hostenv::ModuleShutdown();
    hostenv::ReleaseZeRegistry();
    hostenv::SetHostProgramDirectory("");
  }

  void confirmCheckAndSelect() {
    Install(false);
    auto form = Start();
    QVERIFY(form);
    QVERIFY2(form->CanShow(), LastMessage().c_str());
    QVERIFY(form->PageStart->RE_StartInfo->toPlainText().contains(QStringLiteral("16 %")));
    form->B_Next->click();
    QCOMPARE(LastMessage(), std::string("Bitte bestätigen Sie zuerst, daß Sie die Informationen "
                                        "vollständig gelesen haben!"));
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QVERIFY2(form->PageIndex() == 1, LastMessage().c_str());
    QtGrid* grid = form->PageMandant->Grid_Mandant;
    QCOMPARE(grid->RowCount(), 3);
    QVERIFY(grid->HasCheckBox(0, 1) && grid->IsChecked(0, 1));
    QCOMPARE(form->L_Next->text(),
             QStringLiteral("Klicken Sie auf Starten, um die Umstellung zu starten"));
    for (int r = 1; r < grid->RowCount(); ++r) grid->SetChecked(0, r, false);
    form->PageMandant->ChkB_Convert->setChecked(true);
    form->B_OK->click();
    QCOMPARE(LastMessage(), std::string("Sie müssen mindestens einen Mandanten auswählen."));
    QCOMPARE(form->PageIndex(), 1);
    // Back and forth: the rows the user unticked stay unticked.
    grid->SetChecked(0, 2, true);
    form->B_Back->click();
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 1);
    QVERIFY(!grid->IsChecked(0, 1) && grid->IsChecked(0, 2));
  }

  void wholeRoadThroughRunAndLogs() {
    Install(false);
    viewer = FakeViewer();
    CountingProgress progress;
    platform::SetFileOpProgress(&progress);
    struct ClearProgress {
      ~ClearProgress() { platform::SetFileOpProgress(nullptr); }
    } clearProgress;
    auto form = Start();
    QVERIFY(form && form->CanShow());
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 1);
    form->PageMandant->ChkB_Convert->setChecked(true);
    form->B_OK->click();
    QVERIFY2(form->PageIndex() == 2, LastMessage().c_str());
    QCOMPARE(form->PageConvert->L_Convert->text(), QStringLiteral("Die Umstellung war erfolgreich."));
    QVERIFY2(dialog.messages.empty(), LastMessage().c_str());
    QVERIFY(form->PageConvert->LB_Convert->Count() > 0);
    // Each Mandant's two tables were backed up under the progress window.
    QVERIFY2(progress.started >= 4, std::to_string(progress.started).c_str());
    QCOMPARE(progress.shown, progress.started);
    QVERIFY(!progress.Dialog());
    QVERIFY(!form->B_Back->isVisible());

    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 3);
    QtGrid* logs = form->PageProtokoll->Grid_Protokoll;
    QCOMPARE(logs->RowCount(), 3);
    QVERIFY(!form->close());
    QCOMPARE(LastMessage(), std::string("Sie haben noch nicht alle Protokolle geprüft."));

    // A viewer that fails: the error is shown and the log still counts as unread.
    viewer.refuse = "kein Betrachter";
    logs->ActivateCell(2, 1);
    QCOMPARE(dialog.messages.back().caption, std::string("Fehler"));
    QVERIFY2(LastMessage().find("Das Protokoll konnte nicht geöffnet werden.") == 0 &&
                 LastMessage().find("kein Betrachter") != std::string::npos,
             LastMessage().c_str());
    viewer.refuse.clear();
    viewer.opened.clear();
    logs->ActivateCell(2, 1);
    QVERIFY(!form->close());
    logs->ActivateCell(2, 2);
    // Every log is its own Mandant's file, present and not empty.
    QCOMPARE(viewer.opened.size(), size_t(2));
    QCOMPARE(std::set<std::string>(viewer.opened.begin(), viewer.opened.end()).size(), size_t(2));
    for (const std::string& path : viewer.opened) {
      QVERIFY2(path.size() > 28 && path.substr(path.size() - 28) == "SAVE_USt2020/USt2020Prot.txt",
               path.c_str());
      std::string text;
      QVERIFY2(platform::ReadWholeFile(path, text) && !text.empty(), path.c_str());
    }
    QVERIFY(form->close());
  }

  void cancelledBackupConvertsNothing() {
    Install(false);
    CountingProgress progress;
    progress.cancelFirst = true;
    platform::SetFileOpProgress(&progress);
    struct ClearProgress {
      ~ClearProgress() { platform::SetFileOpProgress(nullptr); }
    } clearProgress;
    auto form = Start();
    QVERIFY(form && form->CanShow());
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QtGrid* grid = form->PageMandant->Grid_Mandant;
    grid->SetChecked(0, 2, false);
    form->PageMandant->ChkB_Convert->setChecked(true);
    const auto before = Snapshot();
    form->B_OK->click();
    QCOMPARE(form->PageIndex(), 2);
    QVERIFY2(form->PageConvert->L_Convert->text().startsWith(
                 QStringLiteral("Es konnte keiner der ausgewählten Mandanten umgestellt werden.")),
             qPrintable(form->PageConvert->L_Convert->text()));
    QCOMPARE(dialog.messages.back().caption, std::string("Fehler"));
    // Not a single byte of the host's data changed, and there is no log to review.
    const auto after = Snapshot();
    QCOMPARE(after.size(), before.size());
    for (const auto& [path, content] : before)
      QVERIFY2(after.count(path) && after.at(path) == content, qPrintable(path));
    QVERIFY(!form->B_Next->isEnabled());
    QVERIFY(form->close());
  }

  void mandantRefusedByCheck() {
    Install(true);
    auto form = Start();
    QVERIFY(form && form->CanShow());
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 0);
    QCOMPARE(dialog.messages.back().caption, std::string("Fehler"));
    const std::string text = LastMessage();
    QVERIFY2(text.rfind("Mandant <", 0) == 0, text.c_str());
    QVERIFY2(text.size() > 27 && text.substr(text.size() - 27) == "\r\rBitte zuerst korrigieren!",
             text.c_str());
  }

  void missingInformationTextEndsTheProgram() {
    Install(false);
    QVERIFY(QFile::remove(QString::fromStdString(prog + "USt2020_Info.rtf")));
    auto form = Start();
    QVERIFY(form);
    QVERIFY(!form->CanShow());
    QCOMPARE(dialog.messages.size(), size_t(1));
    QCOMPARE(LastMessage(), std::string("Datei USt2020_Info.rtf nicht gefunden.\r\rDas Programm "
                                        "kann nicht ausgeführt werden."));
    QTRY_VERIFY(!form->isVisible());
  }
};

}  // namespace wizard

QTEST_MAIN(wizard::FormDemoTest)
#include "FormDemoTest.moc"

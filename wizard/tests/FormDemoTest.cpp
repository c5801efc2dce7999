// The wizard with the real engine on a demo installation: the start-up
// checks, the Mandant grid the engine fills and the refusals, with the exact
// texts. The run itself is tested once the engine has it.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

#include "DemoInstall.h"
#include "conversion/Ust2020Obj.h"
#include "hostenv/Locations.h"
#include "hostenv/ModuleStartup.h"
#include "hostenv/Registry.h"
#include "platform/UserDialog.h"
#include "wizard/USt2020Dlg.h"
#include "xbase/engine/binding/XBE50.h"

namespace wizard {

// The engine object behind the form's interface, without the run.
class CheckingEngine : public TWizardEngine {
 public:
  bool CheckMandanten(bool s) override { return FObj.CheckMandanten(s); }
  bool CheckFiles(const std::string& p) override { return FObj.CheckFiles(p); }
  bool CheckAllSSL() override { return FObj.CheckAllSSL(); }
  bool CheckAllKonten() override { return FObj.CheckAllKonten(); }
  bool FillMandantGrid(conversion::TGrid& g) override { return FObj.FillMandantGrid(g); }
  void SetExcluded(int n, bool v) override { FObj.SetExcluded(n, v); }
  bool UpdateAll(conversion::TListBox*, conversion::TListBox*) override {
    throw std::logic_error("Umstellung hier nicht geprüft");
  }
  bool FillProtokollGrid(conversion::TGrid&) override { return false; }
  bool OpenProtokoll(int) override { return false; }
  int DoneCount() const override { return FObj.DoneCount(); }
  bool AllDone() const override { return FObj.AllDone(); }
  bool AllShown() const override { return FObj.AllShown(); }
  bool AllConverted() const override { return FObj.AllConverted(); }
  std::string GetLastError() const override { return FObj.GetLastError(); }
  conversion::TQORUSt2020Obj FObj;
};

class FormDemoTest : public QObject {
  Q_OBJECT
  std::unique_ptr<QTemporaryDir> root;
  std::string prog;
  platform::RecordingUserDialog dialog;
  std::unique_ptr<platform::ScopedUserDialog> scoped;
  std::unique_ptr<TXBEEngine> xbe;

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
    env.createEngine = [] { return std::make_unique<CheckingEngine>(); };
    env.dialog = &dialog;
    env.inDebugger = [] { return false; };
    auto form = std::make_unique<TForm_USt2020>(std::move(env));
    form->show();
    return form;
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

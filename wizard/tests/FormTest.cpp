// The wizard window with a scripted engine: every page rule, message text
// and button state, and screenshots of the four pages (in the build folder).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

#include "hostenv/MandantStyle.h"
#include "platform/UserDialog.h"
#include "wizard/StyleSheets.h"
#include "wizard/USt2020Dlg.h"

using platform::MessageKind;

namespace wizard {

// A Mandant as the scripted engine knows it.
struct FakeMandant {
  std::string name;
  bool wasConverted = false;
  bool failUpdate = false;
  bool excluded = false;
  bool done = false;
  bool opened = false;
};

struct FakeScript {
  std::vector<FakeMandant> mandanten;
  bool checkFiles = true;
  bool checkSSL = true;
  bool checkKonten = true;
  bool fillGrid = true;
  bool throwInUpdate = false;
  std::string lastError;
  std::vector<std::string> calls;
};

class FakeEngine : public TWizardEngine {
 public:
  explicit FakeEngine(FakeScript& s) : S(s) {}
  bool CheckMandanten(bool skr) override {
    S.calls.push_back(skr ? "CheckMandanten(true)" : "CheckMandanten(false)");
    return true;
  }
  bool CheckFiles(const std::string&) override {
    S.calls.push_back("CheckFiles");
    if (!S.checkFiles) S.lastError = "Datei USt2020_Info.rtf nicht gefunden.";
    return S.checkFiles;
  }
  bool CheckAllSSL() override {
    S.calls.push_back("CheckAllSSL");
    if (!S.checkSSL) S.lastError = "Mandant <A>: Steuerschlüssel 65 belegt";
    return S.checkSSL;
  }
  bool CheckAllKonten() override {
    S.calls.push_back("CheckAllKonten");
    if (!S.checkKonten) S.lastError = "Mandant <A>: Konto 8300 fehlt";
    return S.checkKonten;
  }
  bool FillMandantGrid(conversion::TGrid& g) override {
    S.calls.push_back("FillMandantGrid");
    if (!S.fillGrid) {
      S.lastError = "Mandant <B>: Fehler bei der Aktivierung";
      return false;
    }
    g.SetColCount(5);
    g.SetRowCount(static_cast<int>(S.mandanten.size()) + 1);
    g.SetFixedRows(1);
    const int widths[] = {32, 30, 200, 50, 160};
    const char* titles[] = {"???", "Nr", "Bezeichnung", "SKR", "bereits umgestellt?"};
    for (int c = 0; c < 5; ++c) {
      g.SetColWidth(c, widths[c]);
      g.SetCell(c, 0, titles[c]);
    }
    for (size_t i = 0; i < S.mandanten.size(); ++i) {
      const int r = static_cast<int>(i) + 1;
      g.SetCell(1, r, i == 0 ? "" : "0" + std::to_string(i));
      g.SetCell(2, r, S.mandanten[i].name);
      g.SetCell(3, r, "SKR03");
      for (int c = 1; c < 5; ++c) g.SetReadOnly(c, r, true);
      if (S.mandanten[i].wasConverted) {
        g.SetCell(0, r, "X");
        g.SetHint(0, r, "Wurde bereits umgestellt.");
        g.SetReadOnly(0, r, true);
        g.SetAlignment(0, r, conversion::TGridAlign::Center);
        g.SetCell(4, r, "Wurde bereits umgestellt!");
      } else {
        g.SetCheckBox(0, r, true);
        g.SetChecked(0, r, true);
      }
    }
    return true;
  }
  void SetExcluded(int nr, bool v) override { S.mandanten.at(static_cast<size_t>(nr)).excluded = v; }
  bool UpdateAll(conversion::TListBox* lb1, conversion::TListBox* lb2) override {
    if (S.throwInUpdate) throw std::runtime_error("Tabelle gesperrt");
    lb1->Clear();
    lb1->Add("Umstellung wird durchgeführt ...");
    lb2->Clear();
    lb2->Add("Ergebnisse ...");
    bool ok = true;
    for (auto& m : S.mandanten) {
      if (m.excluded || m.done || m.wasConverted || !ok) continue;
      lb1->Add("Mandant <" + m.name + ">");
      if (m.failUpdate) {
        S.lastError = "Mandant <" + m.name + ">: Sicherung fehlgeschlagen";
        ok = false;
      } else {
        m.done = true;
      }
    }
    return ok;
  }
  bool FillProtokollGrid(conversion::TGrid& g) override {
    g.SetColCount(3);
    g.SetRowCount(1);
    g.SetFixedRows(1);
    g.SetColWidth(0, 30);
    g.SetColWidth(1, 200);
    g.SetColWidth(2, 200);
    g.SetCell(0, 0, "Nr");
    g.SetCell(1, 0, "Mandant");
    g.SetCell(2, 0, "Protokoll");
    for (size_t i = 0; i < S.mandanten.size(); ++i) {
      if (!S.mandanten[i].done) continue;
      const int r = g.RowCount();
      g.SetRowCount(r + 1);
      g.SetCell(0, r, std::to_string(i));
      g.SetCell(1, r, S.mandanten[i].name);
      g.SetCell(2, r, "Hier klicken zum Öffnen ...");
      g.SetHotLink(2, r, true);
    }
    return true;
  }
  bool OpenProtokoll(int nr) override {
    S.calls.push_back("OpenProtokoll(" + std::to_string(nr) + ")");
    S.mandanten.at(static_cast<size_t>(nr)).opened = true;
    return true;
  }
  int DoneCount() const override {
    int n = 0;
    for (auto& m : S.mandanten) n += m.done ? 1 : 0;
    return n;
  }
  bool AllDone() const override {
    for (auto& m : S.mandanten)
      if (!m.excluded && !m.done) return false;
    return true;
  }
  bool AllShown() const override {
    for (auto& m : S.mandanten)
      if (!m.excluded && m.done && !m.opened) return false;
    return true;
  }
  bool AllConverted() const override {
    for (auto& m : S.mandanten)
      if (!m.wasConverted) return false;
    return true;
  }
  std::string GetLastError() const override {
    return S.lastError.empty() ? "Unbekannter Fehler" : S.lastError;
  }
  FakeScript& S;
};

class FormTest : public QObject {
  Q_OBJECT

  QTemporaryDir progDir;
  platform::RecordingUserDialog dialog;
  FakeScript script;
  bool debugger = false;

  std::unique_ptr<TForm_USt2020> MakeForm() {
    dialog.messages.clear();
    TFormEnvironment env;
    env.createEngine = [this] { return std::make_unique<FakeEngine>(script); };
    env.progPath = [this] { return progDir.path().toStdString(); };
    env.dialog = &dialog;
    env.inDebugger = [this] { return debugger; };
    auto form = std::make_unique<TForm_USt2020>(std::move(env));
    form->show();
    return form;
  }

  static void Shot(QWidget* w, const char* name) {
    QDir().mkpath(QStringLiteral(UST_TEST_OUTPUT_DIR "/screenshots"));
    QVERIFY(w->grab().save(QStringLiteral(UST_TEST_OUTPUT_DIR "/screenshots/") +
                           QString::fromLatin1(name)));
  }

  // The look of the shipped default style, as the program applies it.
  static void ApplyDefaultStyle() {
    QFile sheet(QStringLiteral(UST_SOURCE_DIR "/wizard/styles/Zempa001.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
  }

  std::string LastMessage() const {
    return dialog.messages.empty() ? std::string() : dialog.messages.back().text;
  }

  static QString Text(QLabel* l) { return l->text(); }

 private slots:
  void init() {
    ApplyDefaultStyle();
    script = FakeScript{};
    script.mandanten = {{"<Standard>"}, {"Mandant 01"}, {"Bäckerei Huber"}};
    debugger = false;
    QFile rtf(progDir.filePath(QStringLiteral("USt2020_Info.rtf")));
    QVERIFY(rtf.open(QIODevice::WriteOnly));
    rtf.write("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\b Informationen zur Umstellung\\b0\\par "
              "Ab 01.07.2020 gelten 16 % und 5 %.\\par}");
  }

  void windowLayoutAndStartPage() {
    auto form = MakeForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Umstellung von Steuerschlüsseln und Konten "
                                                 "(Anpassung an die USt-Senkung 2020)"));
    QCOMPARE(form->size(), QSize(733, 519));
    QCOMPARE(form->minimumSize(), QSize(500, 480));
    for (const char* name :
         {"P_NB", "NB", "P_StartInfo", "RE_StartInfo", "P_StartCheck", "ChkB_Start",
          "P_MandantInfo", "L_MandantInfo", "P_MandantGrid", "Grid_Mandant", "P_MandantCheck",
          "ChkB_Convert", "P_ConvertTop", "LB_Convert", "LB_Result", "Splitter1", "Panel1",
          "L_Convert", "Panel4", "Label1", "Panel3", "Grid_Protokoll", "Panel2", "P_Bottom",
          "L_Next", "B_Close", "P_ButtonsRight", "B_Back", "B_Next", "B_OK"})
      QVERIFY2(form->findChild<QWidget*>(QString::fromLatin1(name)), name);
    QCOMPARE(form->findChild<QWidget*>("P_StartCheck")->height(), 32);
    QCOMPARE(form->findChild<QWidget*>("P_Bottom")->height(), 35);
    QCOMPARE(form->findChild<QWidget*>("P_ButtonsRight")->width(), 189);
    QCOMPARE(form->PageIndex(), 0);
    QVERIFY(!form->PageStart->ChkB_Start->isChecked());
    QCOMPARE(form->PageStart->ChkB_Start->text(),
             QStringLiteral("ja, ich habe die Informationen vollständig gelesen"));
    QVERIFY(form->PageStart->RE_StartInfo->toPlainText().startsWith(
        QStringLiteral("Informationen zur Umstellung\nAb 01.07.2020")));
    QCOMPARE(Text(form->L_Next),
             QStringLiteral("Klicken Sie auf Weiter, um zur Mandanten-Auswahl zu gelangen"));
    QVERIFY(!form->B_Back->isEnabled());
    QVERIFY(form->B_Next->isVisible() && form->B_Next->isEnabled());
    QVERIFY(!form->B_OK->isVisible());
    QVERIFY(!form->B_Close->isVisible());
    QVERIFY(dialog.messages.empty());
    QCOMPARE(script.calls, (std::vector<std::string>{"CheckMandanten(false)", "CheckFiles"}));
    Shot(form.get(), "page0-start.png");
  }

  void confirmationsAreRequired() {
    auto form = MakeForm();
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 0);
    QCOMPARE(dialog.messages.size(), size_t(1));
    QCOMPARE(dialog.messages[0].kind, MessageKind::Information);
    QCOMPARE(dialog.messages[0].caption, std::string("Informationen"));
    QCOMPARE(LastMessage(), std::string("Bitte bestätigen Sie zuerst, daß Sie die Informationen "
                                        "vollständig gelesen haben!"));
    QCOMPARE(script.calls.size(), size_t(2));  // no check ran

    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 1);
    form->B_OK->click();
    QCOMPARE(form->PageIndex(), 1);
    QCOMPARE(LastMessage(), std::string("Bitte bestätigen Sie zuerst, daß Sie die Umstellung "
                                        "jetzt ausführen möchten!"));
    // Under a debugger the boxes are not asked for.
    debugger = true;
    form->B_Back->click();
    QCOMPARE(form->PageIndex(), 0);
    form->PageStart->ChkB_Start->setChecked(false);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 1);
  }

  void checksOnLeavingStartPage_data() {
    QTest::addColumn<int>("failing");
    QTest::addColumn<QString>("message");
    QTest::newRow("ssl") << 0 << QStringLiteral("Mandant <A>: Steuerschlüssel 65 belegt\r\rBitte zuerst korrigieren!");
    QTest::newRow("konten") << 1 << QStringLiteral("Mandant <A>: Konto 8300 fehlt\r\rBitte zuerst korrigieren!");
    QTest::newRow("grid") << 2 << QStringLiteral("Mandant <B>: Fehler bei der Aktivierung");
  }
  void checksOnLeavingStartPage() {
    QFETCH(int, failing);
    QFETCH(QString, message);
    script.checkSSL = failing != 0;
    script.checkKonten = failing != 1;
    script.fillGrid = failing != 2;
    auto form = MakeForm();
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 0);
    QCOMPARE(dialog.messages.size(), size_t(1));
    QCOMPARE(dialog.messages[0].kind, MessageKind::Error);
    QCOMPARE(dialog.messages[0].caption, std::string("Fehler"));
    QCOMPARE(QString::fromStdString(LastMessage()), message);
  }

  void wholeRoad() {
    auto form = MakeForm();
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 1);
    QCOMPARE(Text(form->L_Next), QStringLiteral("Klicken Sie auf Starten, um die Umstellung zu starten"));
    QVERIFY(form->B_OK->isVisible() && form->B_OK->isEnabled());
    QVERIFY(!form->B_Next->isVisible());
    QVERIFY(form->B_Back->isEnabled());
    // "Weiter" and "Starten" share one place, inside the window.
    QCOMPARE(form->B_OK->geometry(), form->B_Next->geometry());
    QVERIFY(form->rect().contains(form->B_OK->mapTo(form.get(), form->B_OK->rect().bottomRight())));
    Shot(form.get(), "page1-mandant.png");

    // Nothing selected: refused, but the selection is read all the same.
    QtGrid* grid = form->PageMandant->Grid_Mandant;
    for (int r = 1; r < grid->RowCount(); ++r) grid->SetChecked(0, r, false);
    form->PageMandant->ChkB_Convert->setChecked(true);
    form->B_OK->click();
    QCOMPARE(form->PageIndex(), 1);
    QCOMPARE(LastMessage(), std::string("Sie müssen mindestens einen Mandanten auswählen."));
    QVERIFY(script.mandanten[0].excluded && script.mandanten[2].excluded);

    // Two of three, ticked by the user's click in the table.
    grid->item(grid->TableRow(1), 0)->setCheckState(Qt::Checked);
    grid->item(grid->TableRow(3), 0)->setCheckState(Qt::Checked);
    QVERIFY(grid->IsChecked(0, 1) && !grid->IsChecked(0, 2) && grid->IsChecked(0, 3));
    // Enter presses "Starten".
    QTest::keyClick(form.get(), Qt::Key_Return);
    QCOMPARE(form->PageIndex(), 2);
    QCOMPARE(Text(form->PageConvert->L_Convert), QStringLiteral("Die Umstellung war erfolgreich."));
    QCOMPARE(form->PageConvert->LB_Convert->Count(), 3);
    QCOMPARE(form->PageConvert->LB_Convert->width(), 345);
    QVERIFY(!form->B_Back->isVisible());  // every selected Mandant done: no way back
    QVERIFY(form->B_Next->isVisible() && form->B_Next->isEnabled());
    QCOMPARE(Text(form->L_Next), QStringLiteral("Klicken Sie auf Weiter, um die Protokolle zu prüfen"));
    Shot(form.get(), "page2-convert.png");

    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 3);
    QVERIFY(form->B_Close->isVisible());
    QVERIFY(!form->B_Next->isVisible() && !form->B_OK->isVisible());
    QCOMPARE(Text(form->L_Next), QString());
    Shot(form.get(), "page3-protokoll.png");

    // Unread logs keep the window open, whichever way it is closed.
    form->B_Close->click();
    QVERIFY(form->isVisible());
    QCOMPARE(LastMessage(), std::string("Sie haben noch nicht alle Protokolle geprüft."));
    QCOMPARE(dialog.messages.back().kind, MessageKind::Information);
    QtGrid* logs = form->PageProtokoll->Grid_Protokoll;
    QCOMPARE(logs->RowCount(), 3);
    logs->ActivateCell(2, 1);
    QVERIFY(!form->close());
    logs->ActivateCell(1, 2);  // not a link: nothing happens
    QVERIFY(!form->close());
    logs->setCurrentCell(logs->TableRow(2), 2);
    QTest::keyClick(logs, Qt::Key_Space);
    QCOMPARE(script.calls.back(), std::string("OpenProtokoll(2)"));
    QVERIFY(std::count(script.calls.begin(), script.calls.end(), "OpenProtokoll(0)") == 1);
    QVERIFY(form->close());
  }

  void runWithFailures() {
    script.mandanten[1].failUpdate = true;
    auto form = MakeForm();
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    form->PageMandant->ChkB_Convert->setChecked(true);
    form->B_OK->click();
    QCOMPARE(form->PageIndex(), 2);
    QCOMPARE(Text(form->PageConvert->L_Convert),
             QStringLiteral("Es konnten nicht alle ausgewählten Mandanten umgestellt werden. Die "
                            "Fehlermeldung lautet: \nMandant <Mandant 01>: Sicherung "
                            "fehlgeschlagen\nPrüfen Sie zuerst für die erfolgreich umgestellten "
                            "Mandanten die Protokolle.\nBeheben Sie die Ursache des Fehlers und "
                            "führen Sie dann die Umstellung erneut aus."));
    QCOMPARE(LastMessage(), std::string("Mandant <Mandant 01>: Sicherung fehlgeschlagen"));
    QVERIFY(form->B_Back->isVisible() && form->B_Next->isEnabled());
    // The one converted Mandant has its log; once read, the window may close.
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 3);
    QtGrid* logs = form->PageProtokoll->Grid_Protokoll;
    QCOMPARE(logs->RowCount(), 2);
    QCOMPARE(logs->CellAsInteger(0, 1), 0);
    logs->ActivateCell(2, 1);
    QVERIFY(form->B_Back->isVisible());

    // Back to the selection and start again: the failed one is tried anew,
    // the converted one is skipped.
    script.mandanten[1].failUpdate = false;
    form->B_Back->click();
    form->B_Back->click();
    QCOMPARE(form->PageIndex(), 1);
    form->B_OK->click();
    QCOMPARE(Text(form->PageConvert->L_Convert), QStringLiteral("Die Umstellung war erfolgreich."));
    QCOMPARE(form->PageConvert->LB_Convert->Count(), 3);
    form->B_Next->click();
    QCOMPARE(logs->RowCount(), 4);
    QVERIFY(!form->close());  // two new logs unread
    logs->ActivateCell(2, 2);
    logs->ActivateCell(2, 3);
    QVERIFY(form->close());
  }

  void runWithoutAnyConversion() {
    script.mandanten[0].failUpdate = true;
    auto form = MakeForm();
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    form->PageMandant->ChkB_Convert->setChecked(true);
    form->B_OK->click();
    QCOMPARE(Text(form->PageConvert->L_Convert),
             QStringLiteral("Es konnte keiner der ausgewählten Mandanten umgestellt werden. Die "
                            "Fehlermeldung lautet: \nMandant <<Standard>>: Sicherung "
                            "fehlgeschlagen\nBeheben Sie die Ursache des Fehlers und führen Sie "
                            "die dann Umstellung erneut aus."));
    QVERIFY(!form->B_Next->isEnabled());
    QCOMPARE(Text(form->L_Next), QString());
    QVERIFY(form->close());
  }

  void everyMandantAlreadyConverted() {
    for (auto& m : script.mandanten) m.wasConverted = true;
    auto form = MakeForm();
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    QCOMPARE(form->PageIndex(), 1);
    QCOMPARE(Text(form->L_Next), QStringLiteral("Es wurden bereits alle Mandanten umgestellt!"));
    QVERIFY(form->B_OK->isVisible() && !form->B_OK->isEnabled());
    QtGrid* grid = form->PageMandant->Grid_Mandant;
    QVERIFY(!grid->HasCheckBox(0, 1));
    QCOMPARE(grid->item(0, 0)->toolTip(), QStringLiteral("Wurde bereits umgestellt."));
    QVERIFY(!(grid->item(0, 0)->flags() & Qt::ItemIsUserCheckable));
  }

  void engineErrorLeavesWizardOnPage() {
    script.throwInUpdate = true;
    auto form = MakeForm();
    form->PageStart->ChkB_Start->setChecked(true);
    form->B_Next->click();
    form->PageMandant->ChkB_Convert->setChecked(true);
    form->B_OK->click();
    QCOMPARE(form->PageIndex(), 2);
    QCOMPARE(LastMessage(), std::string("Tabelle gesperrt"));
    QCOMPARE(dialog.messages.back().kind, MessageKind::Error);
  }

  void styleSwitchesTheWholeWindow() {
    auto form = MakeForm();
    auto bottomColour = [&form] {
      return form->grab().toImage().pixelColor(4, form->height() - 4);
    };
    QCOMPARE(bottomColour(), QColor(0xe6, 0xeb, 0xf2));  // the default style's bar
    {
      QtStyleManager manager;
      QVERIFY(hostenv::StyleManager().LoadAndActivate(UST_SOURCE_DIR "/wizard/styles/Dunkel.qss"));
      QCOMPARE(hostenv::StyleManager().ActiveName(), std::string("Dunkel"));
      QCOMPARE(bottomColour(), QColor(0x23, 0x24, 0x27));
      form->PageStart->ChkB_Start->setChecked(true);
      form->B_Next->click();
      Shot(form.get(), "page1-mandant-dunkel.png");
      hostenv::StyleManager().SetSystemStyle();
      QVERIFY(qApp->styleSheet().isEmpty());
    }
  }

  void failedStartupChecksEndTheProgram() {
    script.checkFiles = false;
    auto form = MakeForm();
    QCOMPARE(dialog.messages.size(), size_t(1));
    QCOMPARE(dialog.messages[0].caption, std::string("Fehler"));
    QCOMPARE(LastMessage(), std::string("Datei USt2020_Info.rtf nicht gefunden.\r\rDas Programm "
                                        "kann nicht ausgeführt werden."));
    QTRY_VERIFY(!form->isVisible());  // closed right after it was shown
    QCOMPARE(form->PageStart->RE_StartInfo->toPlainText(),
             QStringLiteral("Datei USt2020_Info.rtf nicht gefunden!"));
  }
};

}  // namespace wizard

QTEST_MAIN(wizard::FormTest)
#include "FormTest.moc"

#include "wizard/USt2020Dlg.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <exception>

#include "hostenv/Application.h"
#include "hostenv/DirText.h"
#include "hostenv/Options.h"
#include "platform/Paths.h"
#include "wizard/RtfView.h"

namespace wizard {
namespace {

constexpr char CR = '\r';
constexpr int kPageStart = 0;
constexpr int kPageMandant = 1;
constexpr int kPageConvert = 2;
constexpr int kPageProtokoll = 3;

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString LabelText(const std::string& s) {
  QString t = Q(s);
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t;
}

QFont Bold(QFont f) {
  f.setBold(true);
  return f;
}

}  // namespace

const char* const TForm_USt2020::kCaption =
    "Umstellung von Steuerschlüsseln und Konten (Anpassung an die USt-Senkung 2020)";

TForm_USt2020::TForm_USt2020(TFormEnvironment env, QWidget* parent)
    : QWidget(parent), FEnv(std::move(env)) {
  setObjectName(QStringLiteral("Form_USt2020"));
  setWindowTitle(QString::fromUtf8(kCaption));
  setAttribute(Qt::WA_AlwaysShowToolTips);
  QFont f(QStringLiteral("Tahoma"));
  f.setPointSize(8);
  setFont(f);
  resize(733, 519);
  setMinimumSize(500, 480);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  P_NB = MakePanel("P_NB", this, 0);
  NB = new QStackedWidget(P_NB);
  NB->setObjectName(QStringLiteral("NB"));
  PageStart = new StartPage(NB);
  PageMandant = new MandantPage(NB);
  PageConvert = new ConvertPage(NB);
  PageProtokoll = new ProtokollPage(NB);
  NB->addWidget(PageStart);
  NB->addWidget(PageMandant);
  NB->addWidget(PageConvert);
  NB->addWidget(PageProtokoll);
  P_NB->layout()->addWidget(NB);
  outer->addWidget(P_NB, 1);

  P_Bottom = MakePanel("P_Bottom", this, 0, false);
  P_Bottom->setFixedHeight(35);
  auto* bottom = static_cast<QHBoxLayout*>(P_Bottom->layout());
  bottom->setContentsMargins(8, 0, 0, 0);
  L_Next = new QLabel(P_Bottom);
  L_Next->setObjectName(QStringLiteral("L_Next"));
  L_Next->setFont(Bold(L_Next->font()));
  bottom->addWidget(L_Next, 1);
  B_Close = new QPushButton(QStringLiteral("&Schließen"), P_Bottom);
  B_Close->setObjectName(QStringLiteral("B_Close"));
  B_Close->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  bottom->addWidget(B_Close);

  // The right-hand buttons sit at fixed places, "Weiter" and "Starten" on
  // the same one (at most one of them shows).
  P_ButtonsRight = new QFrame(P_Bottom);
  P_ButtonsRight->setObjectName(QStringLiteral("P_ButtonsRight"));
  P_ButtonsRight->setFixedSize(189, 35);
  B_Back = new QPushButton(QStringLiteral("Zurück"), P_ButtonsRight);
  B_Back->setObjectName(QStringLiteral("B_Back"));
  B_Back->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
  B_Next = new QPushButton(QStringLiteral("Weiter"), P_ButtonsRight);
  B_Next->setObjectName(QStringLiteral("B_Next"));
  B_Next->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
  B_OK = new QPushButton(QStringLiteral("Starten"), P_ButtonsRight);
  B_OK->setObjectName(QStringLiteral("B_OK"));
  B_OK->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  B_OK->setDefault(true);
  B_Back->setGeometry(6, 5, 85, 25);
  B_Next->setGeometry(97, 5, 85, 25);
  B_OK->setGeometry(97, 5, 85, 25);
  B_Close->setFixedSize(95, 25);
  bottom->addWidget(P_ButtonsRight);
  outer->addWidget(P_Bottom);

  connect(B_Back, &QPushButton::clicked, this, [this] { Guarded([this] { B_BackClick(); }); });
  connect(B_Next, &QPushButton::clicked, this, [this] { Guarded([this] { B_NextClick(); }); });
  connect(B_OK, &QPushButton::clicked, this, [this] { Guarded([this] { B_OKClick(); }); });
  connect(B_Close, &QPushButton::clicked, this, &QWidget::close);
  PageProtokoll->Grid_Protokoll->OnLinkClick = [this](int ACol, int ARow) {
    Guarded([this, ACol, ARow] { Grid_ProtokollButtonClicked(ACol, ARow); });
  };

  FormCreate();
}

TForm_USt2020::~TForm_USt2020() {
  // FormDestroy: the engine goes with the form; nothing here uses the host
  // options any more.
  FObj.reset();
}

void TForm_USt2020::ShowError(const std::string& text) {
  platform::UserDialog& d = FEnv.dialog ? *FEnv.dialog : platform::CurrentUserDialog();
  d.ShowMessage(platform::MessageKind::Error, "Fehler", text);
}

void TForm_USt2020::ShowInfo(const std::string& text) {
  platform::UserDialog& d = FEnv.dialog ? *FEnv.dialog : platform::CurrentUserDialog();
  d.ShowMessage(platform::MessageKind::Information, "Informationen", text);
}

void TForm_USt2020::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e.what());
  }
}

void TForm_USt2020::FormCreate() {
  NB->setCurrentIndex(kPageStart);
  PageConvert->L_Convert->clear();
  FObj = FEnv.createEngine();
  const std::string progPath =
      FEnv.progPath ? FEnv.progPath() : hostenv::ZeOptions().ProgPath();
  const std::string P = hostenv::AddBackslash(progPath);
  const bool ok = FObj->CheckMandanten(false) && FObj->CheckFiles(P);
  if (ok) {
    const auto info = platform::FindNoCase(P, "USt2020_Info.rtf");
    if (info) LoadRichTextFile(PageStart->RE_StartInfo, Q(platform::JoinPath(P, *info)));
    UpdateControls();
    FCanShow = true;
  } else {
    ShowError(FObj->GetLastError() + CR + CR + "Das Programm kann nicht ausgeführt werden.");
  }
}

void TForm_USt2020::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!FShown) {
    FShown = true;
    if (QScreen* s = screen()) {
      QRect r = frameGeometry();
      r.moveCenter(s->availableGeometry().center());
      move(r.topLeft());
    }
    FormShow();
  }
}

void TForm_USt2020::FormShow() {
  if (FCanShow)
    UpdateControls();
  else
    QTimer::singleShot(0, this, &QWidget::close);
}

void TForm_USt2020::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  Guarded([&] { canClose = FormCloseQuery(); });
  if (canClose)
    event->accept();
  else
    event->ignore();
}

bool TForm_USt2020::FormCloseQuery() {
  if (FObj && FObj->DoneCount() > 0 && !FObj->AllShown()) {
    ShowInfo("Sie haben noch nicht alle Protokolle geprüft.");
    return false;
  }
  return true;
}

void TForm_USt2020::keyPressEvent(QKeyEvent* event) {
  // "Starten" is the default button: Enter presses it while it is usable.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && B_OK->isVisible() &&
      B_OK->isEnabled()) {
    B_OK->click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TForm_USt2020::B_BackClick() { GoBack(); }

void TForm_USt2020::B_NextClick() { GoNext(); }

void TForm_USt2020::B_OKClick() {
  if (GoNext()) {
    DoUpdateAll();
    UpdateControls();
  }
}

bool TForm_USt2020::CanGoBack() const { return NB->currentIndex() > 0; }

void TForm_USt2020::GoBack() {
  if (CanGoBack()) {
    NB->setCurrentIndex(NB->currentIndex() - 1);
    UpdateControls();
  }
}

bool TForm_USt2020::GoNext() {
  if (!CanGoNext()) return false;
  NB->setCurrentIndex(NB->currentIndex() + 1);
  UpdateControls();
  return true;
}

bool TForm_USt2020::CanGoNext() {
  switch (NB->currentIndex()) {
    case kPageStart:
      return CheckConfirmed() && DoCheckAllSSL() && DoCheckAllKonten() && DoFillMandantGrid();
    case kPageMandant:
      return CheckConfirmed() && ReadMandantSelection() && DoCheckMandanten();
    case kPageConvert:
      return CheckConfirmed() && FObj->DoneCount() > 0 &&
             FObj->FillProtokollGrid(*PageProtokoll->Grid_Protokoll);
    default:
      return false;
  }
}

bool TForm_USt2020::CheckConfirmed() {
  const bool debugger = FEnv.inDebugger ? FEnv.inDebugger() : hostenv::InDebugger();
  if (debugger) return true;
  switch (NB->currentIndex()) {
    case kPageStart:
      if (PageStart->ChkB_Start->isChecked()) return true;
      ShowInfo("Bitte bestätigen Sie zuerst, daß Sie die Informationen vollständig gelesen haben!");
      return false;
    case kPageMandant:
      if (PageMandant->ChkB_Convert->isChecked()) return true;
      ShowInfo("Bitte bestätigen Sie zuerst, daß Sie die Umstellung jetzt ausführen möchten!");
      return false;
    default:
      return true;
  }
}

bool TForm_USt2020::DoCheckAllSSL() {
  if (FObj->CheckAllSSL()) return true;
  ShowError(FObj->GetLastError() + CR + CR + "Bitte zuerst korrigieren!");
  return false;
}

bool TForm_USt2020::DoCheckAllKonten() {
  if (FObj->CheckAllKonten()) return true;
  ShowError(FObj->GetLastError() + CR + CR + "Bitte zuerst korrigieren!");
  return false;
}

bool TForm_USt2020::DoFillMandantGrid() {
  if (FObj->FillMandantGrid(*PageMandant->Grid_Mandant)) return true;
  ShowError(FObj->GetLastError());
  return false;
}

bool TForm_USt2020::ReadMandantSelection() {
  QtGrid* grid = PageMandant->Grid_Mandant;
  bool any = false;
  for (int r = 1; r < grid->RowCount(); ++r) {
    const bool selected = grid->HasCheckBox(0, r) && grid->IsChecked(0, r);
    FObj->SetExcluded(r - 1, !selected);
    any = any || selected;
  }
  if (!any) {
    ShowInfo("Sie müssen mindestens einen Mandanten auswählen.");
    return false;
  }
  return true;
}

bool TForm_USt2020::DoCheckMandanten() {
  if (FObj->CheckMandanten(true)) return true;
  ShowError(FObj->GetLastError());
  return false;
}

void TForm_USt2020::DoUpdateAll() {
  const bool result = FObj->UpdateAll(PageConvert->LB_Convert, PageConvert->LB_Result);
  std::string text;
  if (FObj->AllDone()) {
    text = "Die Umstellung war erfolgreich.";
  } else if (FObj->DoneCount() == 0) {
    text = "Es konnte keiner der ausgewählten Mandanten umgestellt werden. Die Fehlermeldung "
           "lautet: " + std::string(1, CR) + FObj->GetLastError() + CR +
           "Beheben Sie die Ursache des Fehlers und führen Sie die dann Umstellung erneut aus.";
  } else {
    text = "Es konnten nicht alle ausgewählten Mandanten umgestellt werden. Die Fehlermeldung "
           "lautet: " + std::string(1, CR) + FObj->GetLastError() + CR +
           "Prüfen Sie zuerst für die erfolgreich umgestellten Mandanten die Protokolle." + CR +
           "Beheben Sie die Ursache des Fehlers und führen Sie dann die Umstellung erneut aus.";
  }
  PageConvert->L_Convert->setText(LabelText(text));
  if (!result) ShowError(FObj->GetLastError());
}

void TForm_USt2020::Grid_ProtokollButtonClicked(int, int ARow) {
  DoOpenProtokoll(PageProtokoll->Grid_Protokoll->CellAsInteger(0, ARow));
}

void TForm_USt2020::DoOpenProtokoll(int ANr) {
  const bool ok = FObj->OpenProtokoll(ANr);
  UpdateControls();
  if (!ok) ShowError(FObj->GetLastError());
}

void TForm_USt2020::UpdateControls() {
  const int page = NB->currentIndex();
  const int done = FObj ? FObj->DoneCount() : 0;
  const bool allDone = FObj && FObj->AllDone();
  const bool allConverted = FObj && FObj->AllConverted();
  B_Back->setEnabled(page > 0);
  B_Back->setVisible(!allDone);
  B_Next->setEnabled(page < kPageProtokoll && (page != kPageConvert || done > 0));
  B_OK->setVisible(page == kPageMandant);
  B_OK->setEnabled(!allConverted);
  B_Close->setVisible(page == kPageProtokoll);
  B_Next->setVisible(!B_OK->isVisibleTo(this) && !B_Close->isVisibleTo(this));
  QString next;
  switch (page) {
    case kPageStart:
      next = QStringLiteral("Klicken Sie auf Weiter, um zur Mandanten-Auswahl zu gelangen");
      break;
    case kPageMandant:
      next = allConverted ? QStringLiteral("Es wurden bereits alle Mandanten umgestellt!")
                          : QStringLiteral("Klicken Sie auf Starten, um die Umstellung zu starten");
      break;
    case kPageConvert:
      if (done > 0) next = QStringLiteral("Klicken Sie auf Weiter, um die Protokolle zu prüfen");
      break;
    default:
      break;
  }
  L_Next->setText(next);
}

}  // namespace wizard

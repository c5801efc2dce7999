#pragma once
// The wizard window: four pages (information, Mandanten, run, logs) and the
// button bar below them. It owns the conversion engine, refuses to run when
// the start-up checks fail and refuses to close while logs of converted
// Mandanten are unread.
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "platform/UserDialog.h"
#include "wizard/Pages.h"
#include "wizard/WizardEngine.h"

namespace wizard {

struct TFormEnvironment {
  // Builds the engine (FormCreate): CreateConversionEngine in the program.
  std::function<std::unique_ptr<TWizardEngine>()> createEngine;
  // The host's program directory (ZeOptions' ProgPath by default).
  std::function<std::string()> progPath;
  // The message boxes; the process-wide dialog when null.
  platform::UserDialog* dialog = nullptr;
  // Whether a debugger is attached (the confirmations are then skipped).
  std::function<bool()> inDebugger;
};

class TForm_USt2020 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm_USt2020(TFormEnvironment env = {}, QWidget* parent = nullptr);
  ~TForm_USt2020() override;

  int PageIndex() const { return NB->currentIndex(); }
  bool CanShow() const { return FCanShow; }

  // The controls, by the names the code uses.
  QWidget* P_NB;
  QStackedWidget* NB;
  StartPage* PageStart;
  MandantPage* PageMandant;
  ConvertPage* PageConvert;
  ProtokollPage* PageProtokoll;
  QWidget* P_Bottom;
  QLabel* L_Next;
  QPushButton* B_Close;
  QWidget* P_ButtonsRight;
  QPushButton* B_Back;
  QPushButton* B_Next;
  QPushButton* B_OK;

  static const char* const kCaption;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  friend class FormTest;

  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void B_BackClick();
  void B_NextClick();
  void B_OKClick();
  void Grid_ProtokollButtonClicked(int ACol, int ARow);

  bool CanGoBack() const;
  bool CanGoNext();
  bool GoNext();
  void GoBack();
  void UpdateControls();
  bool CheckConfirmed();
  bool DoCheckAllSSL();
  bool DoCheckAllKonten();
  bool DoFillMandantGrid();
  bool ReadMandantSelection();
  bool DoCheckMandanten();
  void DoUpdateAll();
  void DoOpenProtokoll(int ANr);

  void ShowError(const std::string& text);
  void ShowInfo(const std::string& text);
  // Runs a handler; an error it lets pass is shown as the toolkit would.
  void Guarded(const std::function<void()>& handler);

  TFormEnvironment FEnv;
  std::unique_ptr<TWizardEngine> FObj;
  bool FCanShow = false;
  bool FShown = false;
};

}  // namespace wizard

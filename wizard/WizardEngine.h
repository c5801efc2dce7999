#pragma once
// What the wizard form asks of the conversion engine, in one small
// interface: the real engine object stands behind it in the program, a
// scripted engine in the form's tests, so every page rule can be checked
// without a host installation.
#include <memory>
#include <string>

#include "conversion/FileViewer.h"
#include "conversion/Grid.h"
#include "conversion/ListBox.h"

namespace wizard {

class TWizardEngine {
 public:
  virtual ~TWizardEngine() = default;
  virtual bool CheckMandanten(bool ADoCheckSKR) = 0;
  virtual bool CheckFiles(const std::string& APath) = 0;
  virtual bool CheckAllSSL() = 0;
  virtual bool CheckAllKonten() = 0;
  virtual bool FillMandantGrid(conversion::TGrid& AGrid) = 0;
  virtual void SetExcluded(int ANr, bool AValue) = 0;
  virtual bool UpdateAll(conversion::TListBox* ALB1, conversion::TListBox* ALB2) = 0;
  virtual bool FillProtokollGrid(conversion::TGrid& AGrid) = 0;
  virtual bool OpenProtokoll(int ANr) = 0;
  virtual int DoneCount() const = 0;
  virtual bool AllDone() const = 0;
  virtual bool AllShown() const = 0;
  virtual bool AllConverted() const = 0;
  virtual std::string GetLastError() const = 0;
};

// The engine object of the program (builds the host's Mandant directory).
// Logs open in `AViewer`, the desktop's default viewer when none is given;
// the viewer must outlive the engine.
std::unique_ptr<TWizardEngine> CreateConversionEngine(conversion::TFileViewer* AViewer = nullptr);

}  // namespace wizard

#include "wizard/WizardEngine.h"

#include "conversion/Ust2020Obj.h"
#include "wizard/FileViewer.h"

namespace wizard {
namespace {

class TConversionEngine : public TWizardEngine {
 public:
  explicit TConversionEngine(conversion::TFileViewer* AViewer) {
    FObj.SetFileViewer(AViewer ? AViewer : &FDesktopViewer);
  }
  bool CheckMandanten(bool ADoCheckSKR) override { return FObj.CheckMandanten(ADoCheckSKR); }
  bool CheckFiles(const std::string& APath) override { return FObj.CheckFiles(APath); }
  bool CheckAllSSL() override { return FObj.CheckAllSSL(); }
  bool CheckAllKonten() override { return FObj.CheckAllKonten(); }
  bool FillMandantGrid(conversion::TGrid& AGrid) override { return FObj.FillMandantGrid(AGrid); }
  void SetExcluded(int ANr, bool AValue) override { FObj.SetExcluded(ANr, AValue); }
  bool UpdateAll(conversion::TListBox* ALB1, conversion::TListBox* ALB2) override {
    return FObj.UpdateAll(ALB1, ALB2);
  }
  bool FillProtokollGrid(conversion::TGrid& AGrid) override { return FObj.FillProtokollGrid(AGrid); }
  bool OpenProtokoll(int ANr) override { return FObj.OpenProtokoll(ANr); }
  int DoneCount() const override { return FObj.DoneCount(); }
  bool AllDone() const override { return FObj.AllDone(); }
  bool AllShown() const override { return FObj.AllShown(); }
  bool AllConverted() const override { return FObj.AllConverted(); }
  std::string GetLastError() const override { return FObj.GetLastError(); }

 private:
  // Declared before the object, so the viewer outlives every use by it.
  DesktopFileViewer FDesktopViewer;
  conversion::TQORUSt2020Obj FObj;
};

}  // namespace

std::unique_ptr<TWizardEngine> CreateConversionEngine(conversion::TFileViewer* AViewer) {
  return std::make_unique<TConversionEngine>(AViewer);
}

}  // namespace wizard

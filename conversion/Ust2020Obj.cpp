#include "Ust2020Obj.h"

#include <algorithm>
#include <exception>

#include "QORUSt2020Table.h"
#include "Ust2020Text.h"
#include "hostenv/Mandanten.h"
#include "hostenv/Options.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"

namespace conversion {

void TQORUSt2020Mandant::ClearProtokolle() {
  for (auto& section : Protokolle) section.clear();
}

TQORUSt2020Obj::TQORUSt2020Obj() : FMandanten(std::make_unique<hostenv::TZeMandanten>()) {
  for (std::size_t i = 0; i < FMandanten->MandList.size(); ++i)
    FMandantList.push_back(std::make_unique<TQORUSt2020Mandant>());
}

TQORUSt2020Obj::~TQORUSt2020Obj() = default;

TQORUSt2020Mandant& TQORUSt2020Obj::MandantAt(int ANr) {
  return *FMandantList.at(static_cast<std::size_t>(ANr));
}

std::string TQORUSt2020Obj::MandantName(int ANr) const {
  std::string name = TrimText(FMandanten->MandList.at(static_cast<std::size_t>(ANr)));
  if (!name.empty()) return name;
  return ANr == 0 ? "<Standard>" : "Mandant " + TwoDigits(ANr);
}

std::string TQORUSt2020Obj::GetLastError() const {
  return FLastError.empty() ? "Unbekannter Fehler" : FLastError;
}

int TQORUSt2020Obj::GetMandantCount() const { return static_cast<int>(FMandanten->MandList.size()); }

bool TQORUSt2020Obj::IsMandantExcluded(int ANr) const {
  return FMandantList.at(static_cast<std::size_t>(ANr))->IsExcluded;
}
bool TQORUSt2020Obj::WasMandantConverted(int ANr) const {
  return FMandantList.at(static_cast<std::size_t>(ANr))->WasConverted;
}
bool TQORUSt2020Obj::IsMandantDone(int ANr) const {
  return FMandantList.at(static_cast<std::size_t>(ANr))->IsDone;
}
void TQORUSt2020Obj::SetExcluded(int ANr, bool AValue) {
  FMandantList.at(static_cast<std::size_t>(ANr))->IsExcluded = AValue;
}

std::string TQORUSt2020Obj::MandantPrefix(int ANr) const { return "Mandant <" + MandantName(ANr) + ">: "; }

bool TQORUSt2020Obj::ActivateMandant(int ANr) {
  try {
    if (TextToInt(hostenv::ZeOptions().MandantNr()) == ANr) return true;
    const bool changed = FMandanten->ChangeMandant(ANr, false);
    if (changed && TextToInt(hostenv::ZeOptions().MandantNr()) == ANr) return true;
    FLastError = MandantPrefix(ANr) + "Fehler bei der Aktivierung";
    return changed;
  } catch (const std::exception& e) {
    // A settings file that cannot be read fails the activation, not the
    // wizard's event loop.
    FLastError = e.what();
    return false;
  }
}

std::unique_ptr<TQORUSt2020Table> TQORUSt2020Obj::CreateTable(int AKind) {
  auto table = std::make_unique<TQORUSt2020Table>();
  table->SetDatabaseName(FibuDir());
  table->SetTableName(std::string(TableFiles.at(AKind == 1 ? 1 : 0)));
  if (AKind == 1) table->AddFTS("BEZ");
  table->SetExclusive(true);
  return table;
}

std::string TQORUSt2020Obj::TablePathForMessage(int AKind) const {
  // The directory keeps its case: on Linux an upper-cased path would name
  // another directory.
  return platform::JoinPath(FibuDir(), std::string(TableFiles.at(AKind == 1 ? 1 : 0)));
}

std::string TQORUSt2020Obj::FibuDir() const {
  std::string dir = hostenv::ZeOptions().GetDirEntry(hostenv::deFibu);
  const auto it = FFibuRedirects.find(dir);
  return it == FFibuRedirects.end() ? dir : it->second;
}

void TQORUSt2020Obj::RedirectFibuDir(const std::string& AHostDir, const std::string& ADir) {
  if (ADir.empty())
    FFibuRedirects.erase(AHostDir);
  else
    FFibuRedirects[AHostDir] = ADir;
}

bool TQORUSt2020Obj::TableFileExists(TQORUSt2020Table& ATable) const {
  return platform::FileExists(ATable.GetTableFileName());
}

bool TQORUSt2020Obj::CheckMandanten(bool ADoCheckSKR) {
  for (int i = 0; i < GetMandantCount(); ++i) {
    if (FMandantList[static_cast<std::size_t>(i)]->IsExcluded) continue;
    try {
      if (!ActivateMandant(i)) return false;
      if (ADoCheckSKR) {
        const std::string skr = ActiveSKR();
        if (skr != "SKR03" && skr != "SKR04") {
          FLastError = MandantPrefix(i) + "unbekannter Kontenrahmen: " + skr;
          return false;
        }
      }
    } catch (const std::exception& e) {
      FLastError = e.what();
      return false;
    }
  }
  return true;
}

int TQORUSt2020Obj::DoneCount() const {
  return static_cast<int>(std::count_if(FMandantList.begin(), FMandantList.end(),
                                        [](const auto& m) { return m->IsDone; }));
}

bool TQORUSt2020Obj::AllDone() const {
  return std::all_of(FMandantList.begin(), FMandantList.end(),
                     [](const auto& m) { return m->IsExcluded || m->IsDone; });
}

bool TQORUSt2020Obj::AllShown() const {
  return std::all_of(FMandantList.begin(), FMandantList.end(),
                     [](const auto& m) { return m->IsExcluded || !m->IsDone || m->ProtokollOpened; });
}

bool TQORUSt2020Obj::AllConverted() const {
  return std::all_of(FMandantList.begin(), FMandantList.end(), [](const auto& m) { return m->WasConverted; });
}

bool TQORUSt2020Obj::FillMandantGrid(TGrid& AGrid) {
  std::vector<bool> unchecked;
  if (AGrid.Tag() == 1) {
    unchecked.assign(static_cast<std::size_t>(std::max(AGrid.RowCount(), 1)), false);
    for (int r = 1; r < AGrid.RowCount(); ++r)
      if (AGrid.ColCount() > 0 && AGrid.HasCheckBox(0, r) && !AGrid.IsChecked(0, r))
        unchecked[static_cast<std::size_t>(r)] = true;
  }
  const int count = GetMandantCount();
  AGrid.Clear();
  AGrid.SetColCount(5);
  AGrid.SetRowCount(count + 1);
  AGrid.SetFixedCols(0);
  AGrid.SetFixedRows(1);
  const int widths[] = {32, 30, 200, 50, 160};
  const char* const headers[] = {"???", "Nr", "Bezeichnung", "SKR", "bereits umgestellt?"};
  for (int c = 0; c < 5; ++c) {
    AGrid.SetColWidth(c, widths[c]);
    AGrid.SetCell(c, 0, headers[c]);
  }
  bool result = true;
  for (int i = 0; i < count; ++i) {
    const int row = i + 1;
    try {
      if (!ActivateMandant(i)) {
        result = false;
        break;
      }
      const bool wasUnchecked = static_cast<std::size_t>(row) < unchecked.size() && unchecked[row];
      AGrid.SetCheckBox(0, row, true);
      AGrid.SetChecked(0, row, !wasUnchecked);
      AGrid.SetCell(1, row, hostenv::ZeOptions().MandantNr());
      AGrid.SetCell(2, row, MandantName(i));
      AGrid.SetCell(3, row, hostenv::ZeOptions().SKR());
      for (int c = 1; c < 5; ++c) AGrid.SetReadOnly(c, row, true);
      if (FMandantList[static_cast<std::size_t>(i)]->WasConverted) {
        AGrid.SetCheckBox(0, row, false);
        AGrid.SetReadOnly(0, row, true);
        AGrid.SetCell(0, row, "X");
        AGrid.SetAlignment(0, row, TGridAlign::Center);
        AGrid.SetHint(0, row, "Wurde bereits umgestellt.");
        AGrid.SetCell(4, row, "Wurde bereits umgestellt!");
      }
    } catch (const std::exception& e) {
      FLastError = e.what();
      result = false;
      break;
    }
  }
  AGrid.SetTag(1);
  return result;
}

// ---- shared by the rules ---------------------------------------------------

std::string TQORUSt2020Obj::ActiveSKR() { return platform::AsciiUpper(TrimText(hostenv::ZeOptions().SKR())); }

bool TQORUSt2020Obj::IsSKR04() { return ActiveSKR() == "SKR04"; }

std::string TQORUSt2020Obj::SSLFieldName(int n) {
  if (n <= 0 || n > 5) return "";
  return n == 1 ? "STR_ID" : "STR_ID" + std::to_string(n);
}

int TQORUSt2020Obj::LastSSLSlot(TQORUSt2020Table& ATable) {
  int last = 0;
  for (int n = 1; n <= 5; ++n)
    if (!ATable.GetTrimString(SSLFieldName(n)).empty()) last = n;
  return last;
}

std::string TQORUSt2020Obj::CurrentSSL(TQORUSt2020Table& ATable) {
  std::string text = ATable.GetTrimString("STR_ID");
  for (int n = 2; n <= 5; ++n) {
    std::string slot = ATable.GetTrimString(SSLFieldName(n));
    if (!slot.empty()) text = std::move(slot);
  }
  return TrimText(text);
}

}  // namespace conversion

// The conversion run over the selected Mandanten: four steps per Mandant,
// both tables restored from the backup when one fails, the run stopped at
// the first failing Mandant, then the result list and the logs.
#include <exception>

#include "Ust2020Obj.h"

namespace conversion {
namespace {

// Suspends repainting for its lifetime, on every way out.
class UpdateGuard {
 public:
  explicit UpdateGuard(TListBox* lb) : lb_(lb) {
    if (lb_) lb_->BeginUpdate();
  }
  ~UpdateGuard() {
    if (lb_) lb_->EndUpdate();
  }
  UpdateGuard(const UpdateGuard&) = delete;
  UpdateGuard& operator=(const UpdateGuard&) = delete;

 private:
  TListBox* lb_;
};

void AddProgressLine(TListBox* ALB, const std::string& AText, bool AAppend) {
  if (!ALB) return;
  if (AAppend && ALB->Count() > 0) {
    const int last = ALB->Count() - 1;
    ALB->SetLine(last, ALB->Line(last) + "    " + AText);
  } else {
    ALB->Add(AText);
  }
  ALB->Repaint();
}

}  // namespace

bool TQORUSt2020Obj::UpdateMandant(int ANr, TListBox* ALB) {
  TQORUSt2020Mandant& m = MandantAt(ANr);
  m.ClearProtokolle();
  // A new attempt starts clean, so a Mandant converted on a second try is
  // reported converted, not with the error of the first.
  m.UpdateError.clear();
  m.Restored = false;
  FLastError.clear();

  AddProgressLine(ALB, "", false);
  AddProgressLine(ALB, "Mandant <" + MandantName(ANr) + ">:", false);

  struct Step {
    const char* line;
    std::function<bool()> run;
  };
  const Step steps[] = {
      {"    Sicherung Steuersatz.dbf ...", [&] { return BackupMandantTable(ANr, 0); }},
      {"    Sicherung Konto.dbf ...", [&] { return BackupMandantTable(ANr, 1); }},
      {"    Steuerschlüssel anlegen ...", [&] { return CreateSSL(ANr); }},
      {"    Kontenrahmen aktualisieren ...", [&] { return UpdateKonten(ANr); }},
  };
  bool ok = true;
  std::size_t failedStep = 0;
  for (const Step& step : steps) {
    AddProgressLine(ALB, step.line, false);
    try {
      ok = step.run();
    } catch (const std::exception& e) {
      FLastError = e.what();
      ok = false;
    }
    if (!ok) break;
    AddProgressLine(ALB, "OK", true);
    ++failedStep;
  }
  m.IsDone = ok;
  if (!ok) {
    AddProgressLine(ALB, "Fehler", true);
    m.UpdateError = GetLastError();
    // The backup steps change no live file: the tables are as they were, and
    // copying an older complete backup over them would lose newer data.
    m.Restored = failedStep < 2 ||
                 (RestoreMandantTable(ANr, 0) && RestoreMandantTable(ANr, 1));
  }
  return ok;
}

bool TQORUSt2020Obj::UpdateAll(TListBox* ALB1, TListBox* ALB2) {
  bool result = false;
  if (ALB1) {
    UpdateGuard guard(ALB1);
    ALB1->Clear();
    ALB1->Add("Umstellung wird durchgeführt ...");
  }
  if (ALB1) ALB1->Repaint();

  for (int i = 0; i < GetMandantCount(); ++i) {
    const TQORUSt2020Mandant& m = MandantAt(i);
    if (m.IsExcluded || m.IsDone) continue;
    result = ActivateMandant(i) ? UpdateMandant(i, ALB1) : false;
    if (!result) break;
  }

  if (ALB2) {
    UpdateGuard guard(ALB2);
    ALB2->Clear();
    ALB2->Add("Ergebnisse ...");
    for (int i = 0; i < GetMandantCount(); ++i) {
      const TQORUSt2020Mandant& m = MandantAt(i);
      ALB2->Add("");
      ALB2->Add("Mandant <" + MandantName(i) + ">:");
      if (m.WasConverted) {
        ALB2->Add("    <bereits umgestellt>");
      } else if (m.IsExcluded) {
        ALB2->Add("    <nicht ausgewählt>");
      } else if (!m.UpdateError.empty()) {
        ALB2->Add("    Fehler: " + m.UpdateError);
        if (m.Restored) ALB2->Add("    Ausgangszustand wurde wiederhergestellt");
      } else if (m.IsDone) {
        for (std::size_t s = 0; s < m.Protokolle.size(); ++s) {
          if (m.Protokolle[s].empty()) continue;
          ALB2->Add("    " + std::string(ProtokollTitles[s]) + ": " +
                    std::to_string(m.Protokolle[s].size()));
        }
      } else {
        ALB2->Add("    <nicht umgestellt>");
      }
    }
  }

  for (int i = 0; i < GetMandantCount(); ++i) {
    if (MandantAt(i).IsDone && !WriteProtokoll(i)) result = false;
  }
  return result;
}

}  // namespace conversion

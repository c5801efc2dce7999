// ust2020ctl verify [--mandant N]...: whether the chosen Mandanten's tables
// are sound after a conversion (or a restore): every index of the tax-key
// and account tables matches its table, and the full-text file of the
// accounts holds, at each record number, the index text of that record's
// BEZ with the same deletion mark. Only reads; opens everything read-only.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "IndexFile.h"
#include "fts32.h"
#include "fulltext/MakeIdxStr.h"
#include "hostenv/Mandanten.h"
#include "hostenv/Options.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"
#include "tools/ust2020ctl/Checks.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"
#include "xbe50.h"

namespace ust2020ctl {
namespace {

// More findings than this per file say nothing new.
constexpr int kMaxFindings = 5;

// The work area stays open only while one table is examined.
class WorkArea {
 public:
  explicit WorkArea(const std::string& path) {
    xb_SetStringType(1);
    xb_SetDeleted(0);
    for (int16_t driver : {XB_DRIVER_FOX, XB_DRIVER_NTX, XB_DRIVER_NSX}) {
      FArea = xb_Use(path.c_str(), "", XB_MODE_READONLY, driver);
      if (FArea > 0) break;
    }
  }
  ~WorkArea() {
    if (FArea > 0) {
      xb_Select(FArea);
      xb_Close();
    }
  }
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;
  bool IsOpen() const { return FArea > 0; }

 private:
  int16_t FArea = 0;
};

std::string EngineText(const char* text) { return platform::Win1252ToUtf8(text ? text : ""); }

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

void CheckTable(const std::string& fibu, const std::string& name, std::vector<std::string>& findings) {
  const std::string path = platform::ResolveNoCase(fibu + name);
  if (!platform::FileExists(path)) {
    findings.push_back(name + " fehlt");
    return;
  }
  WorkArea area(path);
  if (!area.IsOpen()) {
    findings.push_back(name + " kann nicht geöffnet werden: " + OneLine(EngineText(xb_LastError())));
    return;
  }
  if (xb_CheckIndexes() != 1) findings.push_back(name + ": Index fehlerhaft: " + OneLine(EngineText(xb_LastError())));
}

std::string FtsMessage(int rc) {
  switch (rc) {
    case FTS_ERR_NOT_FOUND: return "nicht gefunden";
    case FTS_ERR_CORRUPT: return "beschädigt";
    case FTS_ERR_LOCKED: return "von einem anderen Programm gesperrt";
    default: return "nicht lesbar (" + std::to_string(rc) + ")";
  }
}

// The full-text file against the BEZ of konto.dbf, record by record.
void CheckFullText(const std::string& fibu, std::vector<std::string>& findings) {
  const std::string tablePath = platform::ResolveNoCase(fibu + "konto.dbf");
  const std::string ftsPath = platform::ResolveNoCase(fibu + "konto.TS1");
  if (!platform::FileExists(tablePath)) return;  // already reported
  if (!platform::FileExists(ftsPath)) {
    findings.push_back("konto.TS1 fehlt");
    return;
  }
  std::unique_ptr<fts::IndexFile> index;
  const std::int32_t rc = fts::IndexFile::Open(ftsPath, 0, FTS_MODE_READONLY, index);
  if (rc < 0) {
    findings.push_back("konto.TS1 " + FtsMessage(rc));
    return;
  }
  const fts::Entries& entries = index->AllEntries();
  WorkArea area(tablePath);
  if (!area.IsOpen()) return;  // already reported
  xb_SetOrder(0);
  const std::int32_t records = xb_RecCount();
  if (static_cast<std::size_t>(records) != entries.Count())
    findings.push_back("konto.TS1 hat " + std::to_string(entries.Count()) + " Einträge, konto.dbf " +
                       std::to_string(records) + " Sätze");
  int mismatches = 0;
  const std::size_t common = std::min(entries.Count(), static_cast<std::size_t>(records < 0 ? 0 : records));
  for (std::size_t i = 0; i < common && mismatches < kMaxFindings; ++i) {
    const std::int32_t recNo = static_cast<std::int32_t>(i + 1);
    if (xb_Go(recNo) != 1) {
      findings.push_back("konto.dbf: Satz " + std::to_string(recNo) + " nicht lesbar: " +
                         OneLine(EngineText(xb_LastError())));
      ++mismatches;
      continue;
    }
    const char* bez = xb_EvalString("BEZ");
    const std::string expected = fulltext::MakeIdxStr(bez ? bez : "", false);
    if (entries.Text(i) != expected) {
      findings.push_back("konto.TS1 Eintrag " + std::to_string(recNo) + " \"" +
                         EngineText(std::string(entries.Text(i)).c_str()) +
                         "\" passt nicht zu BEZ \"" + EngineText(expected.c_str()) + "\"");
      ++mismatches;
    } else if (entries.Deleted(i) != (xb_Deleted() == 1)) {
      findings.push_back("konto.TS1 Eintrag " + std::to_string(recNo) +
                         (entries.Deleted(i) ? " ist gelöscht, der Satz nicht"
                                                  : " ist nicht gelöscht, der Satz schon"));
      ++mismatches;
    }
  }
  index->Close();
}

int RunVerify(CtlContext& ctx) {
  MandantArgs args;
  if (!ParseMandantArgs(ctx, "verify", {}, args)) return kExitUsage;
  CtlSession session;
  if (!session.Start(ctx.progDir)) return kExitFailure;
  hostenv::TZeMandanten mandanten;
  for (int nr : args.chosen)
    if (nr >= mandanten.Count())
      return UsageError("Mandant " + std::to_string(nr) + " gibt es nicht (" + std::to_string(mandanten.Count()) +
                        " Mandanten)");

  bool allOk = true;
  for (int i = 0; i < mandanten.Count(); ++i) {
    if (!args.chosen.empty() && args.chosen.count(i) == 0) continue;
    const std::string name = hostenv::MandantDisplayName(mandanten.MandList[static_cast<std::size_t>(i)], i);
    std::vector<std::string> findings;
    if (!mandanten.ChangeMandant(i, false)) {
      findings.push_back("Fehler bei der Aktivierung");
    } else {
      const std::string fibu = hostenv::ZeOptions().GetDirEntry(hostenv::deFibu);
      CheckTable(fibu, "steuersatz.dbf", findings);
      CheckTable(fibu, "konto.dbf", findings);
      CheckFullText(fibu, findings);
    }
    if (findings.empty()) {
      std::printf("Mandant <%s>: OK\n", name.c_str());
      continue;
    }
    allOk = false;
    for (const auto& f : findings) std::printf("Mandant <%s>: %s\n", name.c_str(), f.c_str());
  }
  std::fflush(stdout);
  return allOk ? kExitOk : kExitFailure;
}

const VerbRegistration kVerify{{"verify", "[--mandant N]...",
                                "prüft Indizes und Volltextdatei der Steuerschlüssel- und Kontentabellen",
                                &RunVerify}};

}  // namespace
}  // namespace ust2020ctl

// ust2020ctl mandanten [--tsv]: the Mandanten of the installation, each made
// the active one in turn, as the conversion engine sees them.
#include <cstdio>
#include <string>
#include <vector>

#include "hostenv/Mandanten.h"
#include "hostenv/Options.h"
#include "tools/ust2020ctl/Session.h"
#include "tools/ust2020ctl/Verbs.h"

namespace ust2020ctl {
namespace {

using namespace hostenv;

struct Row {
  std::string pos, file, name, nr, skr, fibu;
};

// A field may not break the line structure of the TSV output.
std::string TsvField(std::string s) {
  for (char& c : s) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

std::size_t Utf8Width(const std::string& s) {
  std::size_t n = 0;
  for (const unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Pad(const std::string& s, std::size_t width) {
  const std::size_t w = Utf8Width(s);
  return w >= width ? s : s + std::string(width - w, ' ');
}

int RunMandanten(CtlContext& ctx) {
  bool tsv = false;
  for (const auto& a : ctx.args) {
    if (a == "--tsv")
      tsv = true;
    else
      return UsageError("Unbekannte Option für mandanten: " + a);
  }
  CtlSession session;
  if (!session.Start(ctx.progDir)) return kExitFailure;

  TZeMandanten mandanten;
  std::vector<Row> rows;
  for (int i = 0; i < mandanten.Count(); ++i) {
    const std::string name = MandantDisplayName(mandanten.MandList[static_cast<std::size_t>(i)], i);
    if (!mandanten.ChangeMandant(i, false)) {
      PrintError("Mandant <" + name + ">: Fehler bei der Aktivierung");
      return kExitFailure;
    }
    rows.push_back({std::to_string(i), mandanten.IniList[static_cast<std::size_t>(i)], name,
                    ZeOptions().MandantNr(), ZeOptions().SKR(), ZeOptions().GetDirEntry(deFibu)});
  }

  if (tsv) {
    for (const auto& r : rows) {
      std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", r.pos.c_str(), TsvField(r.file).c_str(),
                  TsvField(r.name).c_str(), TsvField(r.nr).c_str(), TsvField(r.skr).c_str(),
                  TsvField(r.fibu).c_str());
    }
    return kExitOk;
  }
  if (rows.empty()) {
    std::printf("Keine Mandanten in %s gefunden.\n", ctx.progDir.c_str());
    return kExitOk;
  }
  std::vector<Row> table{{"Nr", "Datei", "Bezeichnung", "Mandant-Nr.", "SKR", "Fibu-Verzeichnis"}};
  table.insert(table.end(), rows.begin(), rows.end());
  std::size_t w[5] = {};
  for (const auto& r : table) {
    const std::string* f[5] = {&r.pos, &r.file, &r.name, &r.nr, &r.skr};
    for (int k = 0; k < 5; ++k) w[k] = std::max(w[k], Utf8Width(*f[k]));
  }
  for (const auto& r : table) {
    std::printf("%s  %s  %s  %s  %s  %s\n", Pad(r.pos, w[0]).c_str(), Pad(r.file, w[1]).c_str(),
                Pad(r.name, w[2]).c_str(), Pad(r.nr, w[3]).c_str(), Pad(r.skr, w[4]).c_str(),
                r.fibu.c_str());
  }
  return kExitOk;
}

const VerbRegistration kMandanten{
    {"mandanten", "[--tsv]",
     "listet die Mandanten der Installation (mit --tsv tabulatorgetrennt, UTF-8)", &RunMandanten}};

}  // namespace
}  // namespace ust2020ctl

// The conversion log of each converted Mandant and its review.
//
// The log is Windows-1252 without byte-order mark, every line ending in
// CR LF, and replaced as a whole on each write.
#include <cerrno>
#include <cstdio>
#include <exception>

#include "QORUSt2020Table.h"
#include "Ust2020Obj.h"
#include "hostenv/DirText.h"
#include "hostenv/Options.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Time.h"

namespace conversion {
namespace {

std::string FormatDateTime(const platform::LocalDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return buf;
}

std::string ProtokollPath(const std::string& ADir) {
  const std::string folder =
      platform::ResolveNoCase(platform::NativeSeparators(hostenv::AddBackslash(ADir)) + "SAVE_USt2020");
  const auto name = platform::FindNoCase(folder, "USt2020Prot.txt");
  return platform::JoinPath(folder, name ? *name : "USt2020Prot.txt");
}

}  // namespace

std::string TQORUSt2020Obj::ProtokollFileName() {
  return ProtokollPath(CreateTable(1)->DatabaseName());
}

bool TQORUSt2020Obj::WriteProtokoll(int ANr) {
  if (!ActivateMandant(ANr)) return false;
  try {
    const std::string dir = CreateTable(1)->DatabaseName();
    const auto now = platform::NowLocal();
    const TQORUSt2020Mandant& m = MandantAt(ANr);
    std::vector<std::string> lines{
        "Umstellung Mandant <" + MandantName(ANr) + "> am " + FormatDateTime(now),
        "",
        "Fibu-Pfad: " + dir,
        "Backup/Protokoll-Pfad: " + hostenv::AddBackslash(dir) + "SAVE_USt2020",
        "",
    };
    for (std::size_t s = 0; s < m.Protokolle.size(); ++s) {
      if (m.Protokolle[s].empty()) continue;
      lines.emplace_back();
      lines.emplace_back(ProtokollTitles[s]);
      for (const auto& l : m.Protokolle[s]) lines.push_back("    " + l);
    }
    std::string text;
    for (const auto& l : lines) text += platform::Utf8ToWin1252Lossy(l) + "\r\n";
    std::string error;
    if (!platform::WriteFileAtomic(ProtokollPath(dir), text, &error)) {
      FLastError = error;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

bool TQORUSt2020Obj::FillProtokollGrid(TGrid& AGrid) {
  int done = 0;
  for (int i = 0; i < GetMandantCount(); ++i)
    if (MandantAt(i).IsDone) ++done;
  AGrid.Clear();
  AGrid.SetColCount(3);
  AGrid.SetRowCount(done + 1);
  AGrid.SetFixedCols(0);
  AGrid.SetFixedRows(1);
  const int widths[] = {32, 200, 200};
  const char* const headers[] = {"Nr", "Bezeichnung", "Protokoll"};
  for (int c = 0; c < 3; ++c) {
    AGrid.SetColWidth(c, widths[c]);
    AGrid.SetCell(c, 0, headers[c]);
  }
  int row = 1;
  for (int i = 0; i < GetMandantCount(); ++i) {
    if (!MandantAt(i).IsDone) continue;
    AGrid.SetCell(0, row, std::to_string(i));
    AGrid.SetReadOnly(0, row, true);
    AGrid.SetCell(1, row, MandantName(i));
    AGrid.SetReadOnly(1, row, true);
    AGrid.SetCell(2, row, "Hier klicken zum Öffnen ...");
    AGrid.SetHotLink(2, row, true);
    ++row;
  }
  return true;
}

bool TQORUSt2020Obj::OpenProtokoll(int ANr) {
  if (!ActivateMandant(ANr)) return false;
  try {
    const std::string path = ProtokollFileName();
    std::string error;
    bool ok = false;
    if (!platform::FileExists(path)) {
      // A viewer would start and then fail on its own; say why here.
      error = platform::ErrorText(ENOENT);
    } else if (!FFileViewer) {
      error = "Kein Programm zum Anzeigen vorhanden";
    } else {
      ok = FFileViewer->Open(path, error);
    }
    if (ok) {
      MandantAt(ANr).ProtokollOpened = true;
      return true;
    }
    FLastError = "Das Protokoll konnte nicht geöffnet werden.\r\nWindows meldet folgenden Fehler:\r\n\r\n" + error;
    return false;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

}  // namespace conversion

#include "DemoTables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <tuple>

#include "fts32.h"
#include "fulltext/MakeIdxStr.h"
#include "platform/Encoding.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Time.h"
#include "xbe50.h"

namespace demo {

const char* const kTaxKeyFields =
    "ID:N:3:0;MATCH:C:27;BEZ:C:40;PROZENT:N:6:2;V:N:1:0;DATEV:N:3:0;KNT_NR:C:8;KONTO_D:C:8;"
    "FLAGS:C:10;VST_PRZ:N:6:2;UST_PRZ:N:6:2";
const char* const kAccountFields =
    "KNT_NR:N:8:0;BEZ:C:60;TYP:C:1;STR_ID:C:3;STR_ID2:C:3;STR_ID2_AB:D:8;STR_ID3:C:3;STR_ID3_AB:D:8;"
    "STR_ID4:C:3;STR_ID4_AB:D:8;STR_ID5:C:3;STR_ID5_AB:D:8;FLAGS:C:20;CHANGED:N:16:8;SALDO:N:14:2;"
    "AKTIV:L:1;NOTIZ:M:10";

namespace {

[[noreturn]] void Fail(const std::string& what) {
  const char* engine = xb_LastError();
  throw std::runtime_error(what + (engine && *engine ? ": " + std::string(engine) : std::string()));
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t pos = s.find(sep, start);
    parts.push_back(s.substr(start, pos - start));
    if (pos == std::string::npos) return parts;
    start = pos + 1;
  }
}

}  // namespace

std::string DateText(double ADays) {
  const platform::LocalDateTime t = platform::FromDelphiDateTime(std::floor(ADays));
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year, t.month, t.day);
  return buf;
}

TDbfWriter::TDbfWriter(const std::string& APath, const std::string& AFields) : FPath(APath) {
  int offset = 1;  // byte 0 is the deletion mark
  for (const std::string& def : Split(AFields, ';')) {
    const std::vector<std::string> p = Split(def, ':');
    if (p.size() < 3) throw std::invalid_argument("field definition " + def);
    TFieldDef f{p[0], p[1][0], std::stoi(p[2]), p.size() > 3 ? std::stoi(p[3]) : 0, offset};
    if (f.Type == 'D') f.Width = 8;
    if (f.Type == 'L') f.Width = 1;
    offset += f.Width;
    FFields.push_back(f);
  }
  FRecord.assign(static_cast<std::size_t>(offset), ' ');
  for (const char* ext : {".dbf", ".cdx", ".fpt"})
    platform::RemoveFile(platform::ChangeExtension(APath, ext));
  if (!xb_Create(APath.c_str(), AFields.c_str(), XB_DRIVER_FOX)) Fail("Tabelle " + APath + " nicht angelegt");
  xb_CloseAll();
  FWorkArea = xb_Use(APath.c_str(), "DEMO", XB_MODE_EXCLUSIVE, XB_DRIVER_FOX);
  if (FWorkArea == 0) Fail("Tabelle " + APath + " nicht geöffnet");
  if (xb_RecSize() != offset) Fail("Satzlänge von " + APath + " unerwartet");
}

TDbfWriter::~TDbfWriter() {
  if (FWorkArea != 0) {
    xb_Select(FWorkArea);
    xb_Close();
  }
}

const TDbfWriter::TFieldDef& TDbfWriter::Field(const std::string& AName) const {
  for (const TFieldDef& f : FFields)
    if (f.Name == AName) return f;
  throw std::invalid_argument("no field " + AName);
}

void TDbfWriter::Begin() {
  std::fill(FRecord.begin(), FRecord.end(), ' ');
  FMemos.clear();
}

void TDbfWriter::SetText(const std::string& AField, const std::string& AUtf8) {
  const TFieldDef& f = Field(AField);
  std::string ansi = platform::Utf8ToWin1252Lossy(AUtf8);
  ansi.resize(static_cast<std::size_t>(f.Width), ' ');
  std::memcpy(&FRecord[static_cast<std::size_t>(f.Offset)], ansi.data(), ansi.size());
}

void TDbfWriter::SetNumber(const std::string& AField, double AValue) {
  const TFieldDef& f = Field(AField);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", f.Width, f.Decimals, AValue);
  if (static_cast<int>(std::strlen(buf)) != f.Width) throw std::out_of_range("value too wide for " + AField);
  std::memcpy(&FRecord[static_cast<std::size_t>(f.Offset)], buf, static_cast<std::size_t>(f.Width));
}

void TDbfWriter::SetDate(const std::string& AField, double ADays) {
  const TFieldDef& f = Field(AField);
  const std::string text = ADays > 0 ? DateText(ADays) : std::string(8, ' ');
  std::memcpy(&FRecord[static_cast<std::size_t>(f.Offset)], text.data(), 8);
}

void TDbfWriter::SetLogical(const std::string& AField, bool AValue) {
  FRecord[static_cast<std::size_t>(Field(AField).Offset)] = AValue ? 'T' : 'F';
}

void TDbfWriter::SetMemo(const std::string& AField, const std::string& AUtf8) {
  Field(AField);
  FMemos.emplace_back(AField, platform::Utf8ToWin1252Lossy(AUtf8));
}

void TDbfWriter::SetDeleted(bool ADeleted) { FRecord[0] = ADeleted ? '*' : ' '; }

void TDbfWriter::Post() {
  xb_Select(FWorkArea);
  if (!xb_AppendBlank()) Fail("Satz nicht angefügt");
  if (!xb_PutRecord(FRecord.data())) Fail("Satz nicht geschrieben");
  for (const auto& [field, text] : FMemos)
    if (xb_MemoWrite(field.c_str(), text.data(), static_cast<std::int32_t>(text.size())) !=
        static_cast<std::int32_t>(text.size()))
      Fail("Memo nicht geschrieben");
}

void TDbfWriter::AddTag(const std::string& ATag, const std::string& AKey, const std::string& AFor, int AFlags) {
  FTags.emplace_back(ATag, AKey, AFor, AFlags);
}

void TDbfWriter::Close() {
  if (FWorkArea == 0) return;
  xb_Select(FWorkArea);
  // Tags are built over the filled table: one sort instead of a million
  // single inserts.
  for (const auto& [tag, key, forExpr, flags] : FTags)
    if (!xb_CreateTag(tag.c_str(), key.c_str(), forExpr.c_str(), static_cast<std::int16_t>(flags)))
      Fail("Index " + tag + " nicht angelegt");
  if (!xb_Commit()) Fail("Tabelle nicht gesichert");
  xb_Close();
  FWorkArea = 0;
}

void WriteTaxKeyTable(const std::string& AFibuDir, const std::vector<TDemoSSL>& AKeys) {
  TDbfWriter w(platform::JoinPath(AFibuDir, "steuersatz.dbf"), kTaxKeyFields);
  for (const TDemoSSL& k : AKeys) {
    w.Begin();
    w.SetNumber("ID", k.ID);
    w.SetText("MATCH", k.Match);
    w.SetText("BEZ", k.Bez);
    w.SetNumber("PROZENT", k.Prozent);
    w.SetNumber("V", 1);
    w.SetNumber("DATEV", k.Datev);
    w.SetText("KNT_NR", k.KntNr);
    w.SetText("KONTO_D", k.KontoD);
    w.SetText("FLAGS", k.Flags);
    w.SetNumber("VST_PRZ", k.VstPrz);
    w.SetNumber("UST_PRZ", k.UstPrz);
    w.Post();
  }
  w.AddTag("ID", "ID");
  w.AddTag("MATCH", "UPPER(MATCH)");
  w.Close();
}

void WriteAccountTable(const std::string& AFibuDir, const std::vector<TDemoKonto>& AChart, std::uint32_t ASeed) {
  const std::string path = platform::JoinPath(AFibuDir, "konto.dbf");
  // Physical order: the standard accounts in number order, personal
  // accounts mixed in as they were opened over the years.
  std::vector<std::size_t> order(AChart.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::uint32_t state = ASeed * 2654435761u + 1u;
  for (std::size_t i = order.size(); i > 1; --i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    if (AChart[order[i - 1]].Nr >= 10000) std::swap(order[i - 1], order[state % i]);
  }

  const std::string ftsPath = platform::ChangeExtension(path, ".TS1");
  const std::int32_t fts = FtsCreate(ftsPath.c_str(), 256, static_cast<std::int32_t>(AChart.size()), 0, 0);
  if (fts < 0) throw std::runtime_error("Volltextindex " + ftsPath + " nicht angelegt (" + std::to_string(fts) + ")");
  struct TFtsCloser {
    std::int32_t h;
    ~TFtsCloser() { FtsClose(h); }
  } closer{fts};

  TDbfWriter w(path, kAccountFields);
  for (std::size_t idx : order) {
    const TDemoKonto& k = AChart[idx];
    w.Begin();
    w.SetNumber("KNT_NR", k.Nr);
    w.SetText("BEZ", k.Bez);
    w.SetText("TYP", std::string(1, k.Typ));
    for (int s = 0; s < 5; ++s) {
      const std::string name = s == 0 ? "STR_ID" : "STR_ID" + std::to_string(s + 1);
      w.SetText(name, k.Slots[s]);
      if (s > 0) w.SetDate(name + "_AB", k.SlotDates[s]);
    }
    w.SetText("FLAGS", k.Flags);
    w.SetNumber("CHANGED", k.Changed);
    w.SetNumber("SALDO", k.Saldo);
    w.SetLogical("AKTIV", k.Aktiv);
    if (!k.Notiz.empty()) w.SetMemo("NOTIZ", k.Notiz);
    w.Post();
    // The index text of the label as stored: Windows-1252, blank-padded.
    std::string stored = platform::Utf8ToWin1252Lossy(k.Bez);
    stored.resize(60, ' ');
    if (FtsAdd(fts, fulltext::MakeIdxStr(stored, false).c_str()) < 0)
      throw std::runtime_error("Volltextindex " + ftsPath + " nicht geschrieben");
  }
  w.AddTag("KNT_NR", "KNT_NR");
  w.AddTag("BEZ", "UPPER(BEZ)");
  w.AddTag("TYPNR", "TYP+STR(KNT_NR,8)", "AKTIV");
  w.AddTag("AB", "DTOS(STR_ID2_AB)+STR(KNT_NR,8)");
  w.Close();
  closer.h = -1;
  if (FtsClose(fts) != FTS_OK) throw std::runtime_error("Volltextindex " + ftsPath + " nicht geschlossen");
}

}  // namespace demo

// The conversion rules: definition files, pre-conversion checks, tax-key
// creation and the chart-of-accounts update.
#include <algorithm>
#include <exception>

#include "QORUSt2020Table.h"
#include "Ust2020Obj.h"
#include "Ust2020Text.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"
#include "platform/Time.h"

namespace conversion {

namespace {

// True when order 1 of the table is the ascending account number, a
// number: then each account number's records lie together in that order.
bool OrderOneIsAccountNumber(TQORUSt2020Table& ATable) {
  const auto& defs = ATable.IndexDefs();
  if (defs.empty() || defs[0].Descending) return false;
  std::string expr = defs[0].Expression;
  expr.erase(std::remove(expr.begin(), expr.end(), ' '), expr.end());
  if (!platform::EqualsNoCase(expr, "KNT_NR")) return false;
  const TField* field = ATable.FindField("KNT_NR");
  return field && (field->Kind() == fkFloat || field->Kind() == fkInteger || field->Kind() == fkSmallint);
}

// Leaves a table object as every rule must on every way out: a pending
// change cancelled, the table closed. The object itself is freed by its
// unique_ptr.
class TTableGuard {
 public:
  explicit TTableGuard(TQORUSt2020Table& ATable) : FTable(ATable) {}
  ~TTableGuard() {
    try {
      if (FTable.Active() && (FTable.State() == dsEdit || FTable.State() == dsInsert)) FTable.Cancel();
    } catch (...) {
    }
    try {
      if (FTable.Active()) FTable.Close();
    } catch (...) {
    }
  }
  TTableGuard(const TTableGuard&) = delete;
  TTableGuard& operator=(const TTableGuard&) = delete;

 private:
  TQORUSt2020Table& FTable;
};

bool HasMark(const std::string& AFlags) { return AFlags.size() >= 9 && AFlags[8] == '1'; }

// Pads to ten characters with "0", sets the conversion mark and, for a
// definition account, positions 1 and 5 from its kind letters.
std::string MarkedFlags(std::string AFlags, const TQORUSt2020Konto* ADef) {
  while (AFlags.size() < 10) AFlags += '0';
  AFlags[8] = '1';
  if (ADef) {
    AFlags[4] = ADef->KZ.find('A') != std::string::npos ? '1' : '0';
    AFlags[0] = ADef->KZ.find('M') != std::string::npos   ? '1'
                : ADef->KZ.find('V') != std::string::npos ? '2'
                                                          : '0';
  }
  return AFlags;
}

double Now() { return platform::ToDelphiDateTime(platform::NowLocal()); }

void MarkAndPost(TQORUSt2020Table& ATable, const TQORUSt2020Konto* ADef) {
  ATable.FieldByName("FLAGS").SetAsString(MarkedFlags(ATable.GetTrimString("FLAGS"), ADef));
  ATable.FieldByName("CHANGED").SetAsFloat(Now());
  ATable.Post();
}

std::string SuffixOne(std::int32_t a) { return ", SSL " + std::to_string(a) + " ab dem 01.07.2020"; }
std::string SuffixTwo(std::int32_t a, std::int32_t b) {
  return ", SSL " + std::to_string(a) + " ab dem 01.07.2020, SSL " + std::to_string(b) + " ab dem 01.01.2021";
}

}  // namespace

// ---- definition files ------------------------------------------------------

bool TQORUSt2020Obj::LoadKonten(const std::string& APath, bool ASKR04) {
  try {
    std::string error;
    if (LoadKontenFile(APath, ASKR04, FKonten[ASKR04 ? 1 : 0], error)) return true;
    FLastError = error;
  } catch (const std::exception& e) {
    FLastError = e.what();
  }
  return false;
}

bool TQORUSt2020Obj::CheckFiles(const std::string& APath) {
  if (!platform::FileExists(platform::ResolveNoCase(platform::JoinPath(APath, std::string(kInfoFile))))) {
    FLastError = "Datei " + std::string(kInfoFile) + " nicht gefunden.";
    return false;
  }
  return LoadKonten(APath, false) && LoadKonten(APath, true);
}

// ---- pre-conversion checks -------------------------------------------------

bool TQORUSt2020Obj::CheckAllSSL() {
  for (int i = 0; i < GetMandantCount(); ++i) {
    if (FMandantList[static_cast<std::size_t>(i)]->IsExcluded) continue;
    try {
      if (!ActivateMandant(i) || !CheckSSL(i)) return false;
    } catch (const std::exception& e) {
      FLastError = e.what();
      return false;
    }
  }
  return true;
}

bool TQORUSt2020Obj::CheckAllKonten() {
  for (int i = 0; i < GetMandantCount(); ++i) {
    if (FMandantList[static_cast<std::size_t>(i)]->IsExcluded) continue;
    try {
      if (!ActivateMandant(i) || !CheckKonten(i)) return false;
    } catch (const std::exception& e) {
      FLastError = e.what();
      return false;
    }
  }
  return true;
}

bool TQORUSt2020Obj::CheckSSL(int ANr) {
  if (!ActivateMandant(ANr)) return false;
  try {
    std::unique_ptr<TQORUSt2020Table> table = CreateTable(0);
    TTableGuard guard(*table);
    if (!TableFileExists(*table)) {
      FLastError = "Ungültiger Pfad/Mandant <" + MandantName(ANr) + ">: Datenbank " + TablePathForMessage(0) +
                   " nicht gefunden";
      return false;
    }
    table->Open();
    table->SetOrder(1);
    table->GoTop();
    while (!table->Eof()) {
      if (HasMark(TrimText(table->FieldByName("FLAGS").AsString()))) {
        MandantAt(ANr).WasConverted = true;
        break;
      }
      table->Skip(1);
    }
    table->GoTop();
    for (const TSSLDefRec& def : SSLDefs) {
      if (table->Seek(std::to_string(def.ID)) != 0 &&
          !HasMark(TrimText(table->FieldByName("FLAGS").AsString()))) {
        FLastError = MandantPrefix(ANr) + "Steuerschlüssel " + std::to_string(def.ID) + " existiert bereits";
        return false;
      }
    }
    return true;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

bool TQORUSt2020Obj::CheckKonten(int ANr) {
  if (!ActivateMandant(ANr)) return false;
  try {
    std::unique_ptr<TQORUSt2020Table> table = CreateTable(1);
    TTableGuard guard(*table);
    if (!TableFileExists(*table)) {
      FLastError = "Ungültiger Pfad/Mandant <" + MandantName(ANr) + ">: Datenbank " + TablePathForMessage(1) +
                   " nicht gefunden";
      return false;
    }
    table->Open();
    table->SetOrder(1);
    if (table->FindField("STR_ID2")) return true;
    FLastError = MandantPrefix(ANr) + "Struktur von Konto.dbf passt nicht (Feld STR_ID2 nicht gefunden)";
    return false;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

// ---- tax-key creation ------------------------------------------------------

bool TQORUSt2020Obj::CreateSSL(int ANr) {
  if (!ActivateMandant(ANr)) return false;
  TQORUSt2020Mandant& mandant = MandantAt(ANr);
  try {
    std::unique_ptr<TQORUSt2020Table> table = CreateTable(0);
    TTableGuard guard(*table);
    table->Open();
    table->SetOrder(1);
    for (const TSSLDefRec& def : SSLDefs) {
      const std::string id = std::to_string(def.ID);
      if (table->Seek(id) != 0) {
        mandant.Protokolle[psSSLVorhanden].push_back(id + " " + table->GetTrimString("BEZ"));
        continue;
      }
      table->Append();
      table->FieldByName("ID").SetAsInteger(def.ID);
      table->FieldByName("MATCH").SetAsString(std::string(def.Match));
      table->FieldByName("BEZ").SetAsString(std::string(def.Bez));
      table->FieldByName("PROZENT").SetAsFloat(def.Prz);
      table->FieldByName("V").SetAsInteger(1);
      table->FieldByName("DATEV").SetAsInteger(def.D);
      table->FieldByName("KNT_NR").SetAsString(std::string(def.SKto[IsSKR04() ? 1 : 0]));
      table->FieldByName("KONTO_D").SetAsString(std::string(def.BKto[IsSKR04() ? 1 : 0]));
      table->FieldByName("FLAGS").SetAsString(std::string(def.Flags));
      table->FieldByName("VST_PRZ").SetAsFloat(def.VSt);
      table->FieldByName("UST_PRZ").SetAsFloat(def.USt);
      table->Post();
      mandant.Protokolle[psSSLAngelegt].push_back(id + " " + table->GetTrimString("BEZ"));
    }
    return true;
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

// ---- chart-of-accounts update ----------------------------------------------

bool TQORUSt2020Obj::UpdateKonten(int ANr) {
  if (!ActivateMandant(ANr)) return false;
  try {
    std::unique_ptr<TQORUSt2020Table> table = CreateTable(1);
    TTableGuard guard(*table);
    table->Open();
    table->SetOrder(1);
    return RunKontenPasses(*table, MandantAt(ANr));
  } catch (const std::exception& e) {
    FLastError = e.what();
    return false;
  }
}

bool TQORUSt2020Obj::RunKontenPasses(TQORUSt2020Table& T, TQORUSt2020Mandant& M) {
  const bool skr04 = IsSKR04();
  auto setSlot = [&](int n, std::int32_t key, double date) {
    T.FieldByName(SSLFieldName(n)).SetAsString(std::to_string(key));
    if (date > 0) T.FieldByName(SSLFieldName(n) + "_AB").SetAsDateTime(date);
  };

  // Pass 1: fixed label corrections.
  auto correct = [&](const TKtoDefRec& row) {
    if (T.Seek(std::to_string(row.Nr)) == 0) return;
    if (HasMark(T.GetTrimString("FLAGS"))) return;
    const std::string oldBez = T.GetTrimString("BEZ");
    if (oldBez == row.Bez) return;
    T.Edit();
    T.FieldByName("BEZ").SetAsString(std::string(row.Bez));
    // An account without any key gets the corrected key as its first one
    // instead of failing the Mandant on a slot without a field.
    const int j = std::max(LastSSLSlot(T), 1);
    T.FieldByName(SSLFieldName(j)).SetAsString(std::to_string(row.SSL));
    MarkAndPost(T, nullptr);
    T.UpdateFTS(true, T.RecNo());
    M.Protokolle[psBeschriftung].push_back(std::to_string(row.Nr) + " " + std::string(row.Bez) +
                                           " (bisher: " + oldBez + ")");
  };
  if (skr04)
    for (const TKtoDefRec& row : KtoDefs04) correct(row);
  else
    for (const TKtoDefRec& row : KtoDefs03) correct(row);

  // Pass 2: the accounts of the definition file.
  for (const auto& k : FKonten[skr04 ? 1 : 0]) {
    const TQORUSt2020Konto& K = *k;
    const std::string nr = std::to_string(K.Nr);
    if (T.Seek(nr) != 0) {
      if (HasMark(T.GetTrimString("FLAGS"))) continue;
      const std::int32_t cur = TextToInt(CurrentSSL(T));
      const std::string oldBez = T.GetTrimString("BEZ");
      const bool labelEqual = oldBez == K.Bez;
      // An account without any key keeps slot 1 empty: the added keys are
      // dated and start in slot 2, as the host's table has no date for slot 1.
      const int j = std::max(LastSSLSlot(T), 1);
      enum { kNothing, kLabel, kOneKey, kTwoKeys, kWarning } outcome;
      if (K.SSL1 == 999)
        outcome = labelEqual ? kNothing : kLabel;
      else if (K.SSL2 <= 0)
        outcome = K.SSL1 == cur ? (labelEqual ? kNothing : kLabel) : (j <= 4 ? kOneKey : kWarning);
      else
        outcome = j <= 3 ? kTwoKeys : kWarning;
      if (outcome == kNothing) continue;
      if (outcome == kWarning) {
        M.Protokolle[psWarnung].push_back(nr + " " + oldBez);
        continue;
      }
      T.Edit();
      T.FieldByName("BEZ").SetAsString(K.Bez);
      std::string line = nr + " " + K.Bez;
      if (!labelEqual) line += " (bisher: " + oldBez + ")";
      if (outcome == kOneKey) {
        setSlot(j + 1, K.SSL1, kDate20200701);
        line += SuffixOne(K.SSL1);
      } else if (outcome == kTwoKeys) {
        setSlot(j + 1, K.SSL2, kDate20200701);
        setSlot(j + 2, K.SSL1, kDate20210101);
        line += SuffixTwo(K.SSL2, K.SSL1);
      }
      MarkAndPost(T, &K);
      T.UpdateFTS(true, T.RecNo());
      M.Protokolle[psDatevGeaendert].push_back(line);
      continue;
    }
    // Missing account: create it.
    const std::int32_t s1 = K.SSL1 == 999 ? 12 : K.SSL1;
    T.Append();
    T.FieldByName("KNT_NR").SetAsInteger(K.Nr);
    T.FieldByName("BEZ").SetAsString(K.Bez);
    std::string line = nr + " " + K.Bez;
    if (K.SSL2 <= 0) {
      setSlot(1, s1, 0);
    } else if (!K.New) {
      setSlot(1, s1, 0);
      setSlot(2, K.SSL2, kDate20200701);
      setSlot(3, s1, kDate20210101);
      line += SuffixTwo(K.SSL2, s1);
    } else {
      setSlot(1, K.SSL2, 0);
      setSlot(2, s1, kDate20210101);
      line += SuffixTwo(K.SSL2, s1);
    }
    T.FieldByName("FLAGS").SetAsString(MarkedFlags("0200000010", &K));
    T.FieldByName("CHANGED").SetAsFloat(Now());
    T.Post();
    T.UpdateFTS(false, T.RecNo());
    M.Protokolle[psDatevAngelegt].push_back(line);
  }

  // Pass 3: individual revenue, cost and expense accounts, in order 1.
  auto individual = [&] {
    if (!HasMark(T.GetTrimString("FLAGS"))) {
      const std::int32_t n = T.FieldByName("KNT_NR").AsInteger();
      const TKontoRangeKind kind = RangeOf(n, skr04);
      if (kind != TKontoRangeKind::None) {
        const std::int32_t cur = TextToInt(CurrentSSL(T));
        const std::int32_t reduced = ReducedSSL(cur);
        if (reduced > 0) {
          const std::string oldBez = T.GetTrimString("BEZ");
          const int j = LastSSLSlot(T);
          if (j >= 4) {
            M.Protokolle[psWarnung].push_back(std::to_string(n) + " " + oldBez);
          } else {
            T.Edit();
            setSlot(j + 1, reduced, kDate20200701);
            setSlot(j + 2, cur, kDate20210101);
            MarkAndPost(T, nullptr);
            M.Protokolle[kind == TKontoRangeKind::Aufwand ? psAufwand : psIndividuell].push_back(
                std::to_string(n) + " " + oldBez + SuffixTwo(reduced, cur));
          }
        }
      }
    }
  };
  if (OrderOneIsAccountNumber(T)) {
    // Only accounts inside the ranges can change, and in order 1 the
    // records of one account number lie together: seeking each number of
    // each range and visiting its records gives the walk over the whole
    // table exactly, without reading the other records (debtors and
    // creditors run to hundreds of thousands).
    for (const TKontoRange& r : KontoRangesAscending(skr04)) {
      for (std::int32_t n = r.Low; n <= r.High; ++n) {
        if (T.Seek(std::to_string(n)) == 0) continue;
        while (!T.Eof() && T.FieldByName("KNT_NR").AsInteger() == n) {
          individual();
          T.Skip(1);
        }
      }
    }
    return true;
  }
  T.GoTop();
  while (!T.Eof()) {
    individual();
    T.Skip(1);
  }
  return true;
}

}  // namespace conversion

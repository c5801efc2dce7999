#include "Ust2020Defs.h"

#include <algorithm>

namespace conversion {

const std::array<TSSLDefRec, 6> SSLDefs = {{
    {65, "USt 5%", 5, "0010000010", "Umsatzsteuer 5%", 2, {"1773", "3803"}, {"8300", "4300"}, 0, 0},
    {66, "VSt 5%", 5, "0020000010", "Vorsteuer 5%", 8, {"1568", "1403"}, {"3300", "5300"}, 0, 0},
    {67, "EU-USt 5%", 5, "0010000010", "EU-Lieferungen 5% Umsatzsteuer", 12, {"", ""}, {"", ""}, 0, 0},
    {68, "EU-VSt 5%", 5, "0020000010", "EU-Erwerb 5% Vorsteuer", 18, {"", ""}, {"", ""}, 0, 0},
    {69, "VSt 5%/USt 5%", 0, "0030000010", "Vorsteuer/Umsatzsteuer 5%", 0, {"", ""}, {"", ""}, 5, 5},
    {70, "keine VSt/USt 5%", 0, "0030000010", "keine Vorsteuer/Umsatzsteuer 5%", 0, {"", ""}, {"", ""}, 0, 5},
}};

const std::array<TKtoDefRec, 1> KtoDefs03 = {{
    {8735, "Gewährte Skonti 16% USt", 2},
}};

const std::array<TKtoDefRec, 2> KtoDefs04 = {{
    {4735, "Gewährte Skonti 16% USt", 2},
    {4948, "Verrechnete sonstige Sachbezüge 19%/16% USt", 50},
}};

const std::array<TSSLMapRec, 8> SSLMap = {{
    {3, 65}, {50, 2}, {8, 66}, {53, 6}, {23, 67}, {55, 24}, {16, 68}, {54, 17},
}};

const std::array<std::string_view, 9> ProtokollTitles = {
    "Warnung: Steuerschlüssel erschöpft",
    "Steuerschlüssel angelegt",
    "Steuerschlüssel vorhanden",
    "Kontenbeschriftungen geändert",
    "DATEV-Konten angelegt",
    "DATEV-Konten geändert",
    "Aufwandskonten geändert",
    "zusätzliche Aufwandskonten geändert",
    "individuelle Kosten- und Erlöskonten geändert",
};

const std::array<std::string_view, 2> KontenFiles = {"USt2020_SKR03.csv", "USt2020_SKR04.csv"};
const std::array<std::string_view, 2> TableFiles = {"steuersatz.dbf", "konto.dbf"};

std::int32_t ReducedSSL(std::int32_t AKey) {
  for (const TSSLMapRec& pair : SSLMap)
    if (pair.From == AKey) return pair.To;
  return 0;
}

namespace {
struct TRangeSet {
  std::array<TKontoRange, 3> Individuell;
  TKontoRange Aufwand;
};
constexpr std::array<TRangeSet, 2> kRanges = {{
    {{{{3401, 3419}, {8401, 8409}, {8411, 8499}}}, {4200, 4999}},
    {{{{4401, 4409}, {4411, 4499}, {5401, 5419}}}, {6300, 6899}},
}};
bool In(const TKontoRange& r, std::int32_t n) { return n >= r.Low && n <= r.High; }
}  // namespace

TKontoRangeKind RangeOf(std::int32_t AKntNr, bool ASKR04) {
  const TRangeSet& set = kRanges[ASKR04 ? 1 : 0];
  for (const TKontoRange& r : set.Individuell)
    if (In(r, AKntNr)) return TKontoRangeKind::Individuell;
  if (In(set.Aufwand, AKntNr)) return TKontoRangeKind::Aufwand;
  return TKontoRangeKind::None;
}

std::vector<TKontoRange> KontoRangesAscending(bool ASKR04) {
  const TRangeSet& set = kRanges[ASKR04 ? 1 : 0];
  std::vector<TKontoRange> out(set.Individuell.begin(), set.Individuell.end());
  out.push_back(set.Aufwand);
  std::sort(out.begin(), out.end(), [](const TKontoRange& a, const TKontoRange& b) { return a.Low < b.Low; });
  return out;
}

}  // namespace conversion

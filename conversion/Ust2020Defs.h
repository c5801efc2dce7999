#pragma once
// The rules' constant tables: the tax-key catalogue, the label corrections,
// the reduced-rate key map, the account ranges of the individual accounts,
// the log section titles and the definition file names. Everything
// chart-specific is indexed by a Boolean: false SKR03, true SKR04.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace conversion {

// One key of the catalogue, written as a new tax key.
struct TSSLDefRec {
  std::int32_t ID;
  std::string_view Match;
  double Prz;
  std::string_view Flags;
  std::string_view Bez;
  std::int32_t D;
  std::array<std::string_view, 2> SKto;  // KNT_NR by chart
  std::array<std::string_view, 2> BKto;  // KONTO_D by chart
  double VSt;
  double USt;
};

// A fixed label correction of one account.
struct TKtoDefRec {
  std::int32_t Nr;
  std::string_view Bez;
  std::int32_t SSL;
};

// A current key and the key that replaces it from 01.07.2020.
struct TSSLMapRec {
  std::int32_t From;
  std::int32_t To;
};

struct TKontoRange {
  std::int32_t Low;
  std::int32_t High;  // inclusive
};

extern const std::array<TSSLDefRec, 6> SSLDefs;
extern const std::array<TKtoDefRec, 1> KtoDefs03;
extern const std::array<TKtoDefRec, 2> KtoDefs04;
extern const std::array<TSSLMapRec, 8> SSLMap;
extern const std::array<std::string_view, 9> ProtokollTitles;
extern const std::array<std::string_view, 2> KontenFiles;
extern const std::array<std::string_view, 2> TableFiles;  // by table kind 0, 1

inline constexpr std::string_view kInfoFile = "USt2020_Info.rtf";

// Log sections by number.
enum TProtokollSection : int {
  psWarnung = 0,
  psSSLAngelegt = 1,
  psSSLVorhanden = 2,
  psBeschriftung = 3,
  psDatevAngelegt = 4,
  psDatevGeaendert = 5,
  psAufwand = 6,
  psZusatzAufwand = 7,
  psIndividuell = 8,
};

// The key valid from 01.07.2020 for `AKey`, 0 when the map has none.
std::int32_t ReducedSSL(std::int32_t AKey);

// Where pass 3 puts an account: not at all, among the expense accounts
// (section 6) or among the revenue and cost accounts (section 8).
enum class TKontoRangeKind { None, Aufwand, Individuell };
TKontoRangeKind RangeOf(std::int32_t AKntNr, bool ASKR04);
// Every range of pass 3 of a chart, in ascending order, without overlaps.
std::vector<TKontoRange> KontoRangesAscending(bool ASKR04);

// Two dates the rules write: 01.07.2020 and 01.01.2021 as days since
// 30.12.1899 at midnight.
inline constexpr double kDate20200701 = 44013.0;
inline constexpr double kDate20210101 = 44197.0;

}  // namespace conversion

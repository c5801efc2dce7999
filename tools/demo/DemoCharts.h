#pragma once
// Realistic charts of accounts and tax keys for a demo installation.
#include <cstdint>
#include <string>
#include <vector>

namespace demo {

struct TDemoKonto {
  std::int32_t Nr = 0;
  std::string Bez;            // UTF-8
  char Typ = ' ';             // A(ufwand), E(rlös), K(onto), S(achkonto), P(ersonenkonto)
  std::string Slots[5];       // STR_ID .. STR_ID5
  double SlotDates[5] = {};   // days since 30.12.1899; slot 1 has none
  std::string Flags = "0000000000";
  double Changed = 0;
  double Saldo = 0;
  bool Aktiv = true;
  std::string Notiz;          // memo, empty for none
};

struct TDemoSSL {
  std::int32_t ID;
  std::string Match;
  std::string Bez;
  double Prozent;
  std::int32_t Datev;
  std::string KntNr;
  std::string KontoD;
  std::string Flags;
  double VstPrz;
  double UstPrz;
};

// The chart of a Mandant: at least `AMinCount` accounts, sorted by number,
// built around the standard accounts with the host keys they carry.
// `ASeed` varies balances and personal account names between Mandanten.
std::vector<TDemoKonto> MakeChart(bool ASKR04, std::int32_t AMinCount, std::uint32_t ASeed);

// The host's own tax keys (all below 65). With `AForeign67` the host also
// has a key 67 of its own, which the conversion must refuse.
std::vector<TDemoSSL> MakeTaxKeys(bool ASKR04, bool AForeign67);

// The definition file of a chart, Windows-1252 with CR LF.
std::string MakeDefinitionFile(bool ASKR04);

// The information text shown before the conversion (RTF, Windows-1252).
std::string MakeInfoRtf();

}  // namespace demo

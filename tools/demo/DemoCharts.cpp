#include "DemoCharts.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>

#include "platform/Encoding.h"

namespace demo {

namespace {

struct TSample {
  bool SKR04;
  std::int32_t Nr;
  const char* Bez;
  std::int32_t Key;
};

// Standard accounts as they stood on 30.06.2020 with the host key they carry.
const TSample kSamples[] = {
    {false, 1000, R"(Kasse)", 0},
    {false, 1200, R"(Bank)", 0},
    {false, 1360, R"(Geldtransit)", 0},
    {false, 1400, R"(Forderungen aus Lieferungen und Leistungen)", 0},
    {false, 1571, R"(Abziehbare Vorsteuer 7 %)", 0},
    {false, 1572, R"(Abziehbare Vorsteuer aus innergemeinschaftlichem Erwerb)", 0},
    {false, 1573, R"(Abziehbare Vorsteuer aus innergemeinschaftlichem Erwerb 16 %)", 0},
    {false, 1574, R"(Abziehbare Vorsteuer aus innergemeinschaftlichem Erwerb 19 %)", 0},
    {false, 1575, R"(Abziehbare Vorsteuer 16 %)", 0},
    {false, 1576, R"(Abziehbare Vorsteuer 19 %)", 0},
    {false, 1588, R"(Entstandene Einfuhrumsatzsteuer)", 0},
    {false, 1600, R"(Verbindlichkeiten aus Lieferungen und Leistungen)", 0},
    {false, 1770, R"(Umsatzsteuer)", 0},
    {false, 1771, R"(Umsatzsteuer 7 %)", 0},
    {false, 1772, R"(Umsatzsteuer aus innergemeinschaftlichem Erwerb)", 0},
    {false, 1773, R"(Umsatzsteuer aus innergemeinschaftlichem Erwerb 16 %)", 0},
    {false, 1774, R"(Umsatzsteuer aus innergemeinschaftlichem Erwerb 19 %)", 0},
    {false, 1775, R"(Umsatzsteuer 16 %)", 0},
    {false, 1776, R"(Umsatzsteuer 19 %)", 0},
    {false, 1780, R"(Umsatzsteuer-Vorauszahlungen)", 0},
    {false, 1790, R"(Umsatzsteuer Vorjahr)", 0},
    {false, 2401, R"(Forderungsverluste 7 % USt (übliche Höhe))", 3},
    {false, 2406, R"(Forderungsverluste 19 % USt (übliche Höhe))", 50},
    {false, 2650, R"(Sonstige Zinsen und ähnliche Erträge)", 0},
    {false, 3000, R"(Roh-, Hilfs- und Betriebsstoffe)", 53},
    {false, 3100, R"(Fremdleistungen)", 53},
    {false, 3300, R"(Wareneingang 7 % Vorsteuer)", 8},
    {false, 3400, R"(Wareneingang 19 % Vorsteuer)", 53},
    {false, 3420, R"(Innergemeinschaftlicher Erwerb 7 % Vorsteuer und 7 % Umsatzsteuer)", 16},
    {false, 3425, R"(Innergemeinschaftlicher Erwerb 19 % Vorsteuer und 19 % Umsatzsteuer)", 54},
    {false, 3731, R"(Erhaltene Skonti 7 % Vorsteuer)", 8},
    {false, 3736, R"(Erhaltene Skonti 19 % Vorsteuer)", 53},
    {false, 3800, R"(Bezugsnebenkosten)", 0},
    {false, 4120, R"(Gehälter)", 0},
    {false, 4210, R"(Miete (unbewegliche Wirtschaftsgüter))", 53},
    {false, 4240, R"(Gas, Strom, Wasser)", 53},
    {false, 4250, R"(Reinigung)", 53},
    {false, 4360, R"(Versicherungen)", 0},
    {false, 4530, R"(Laufende Kfz-Betriebskosten)", 53},
    {false, 4540, R"(Kfz-Reparaturen)", 53},
    {false, 4610, R"(Werbekosten)", 53},
    {false, 4650, R"(Bewirtungskosten)", 53},
    {false, 4663, R"(Reisekosten Arbeitnehmer Fahrtkosten (öffentliche Verkehrsmittel))", 8},
    {false, 4806, R"(Wartungskosten für Hard- und Software)", 53},
    {false, 4910, R"(Porto)", 0},
    {false, 4920, R"(Telefon)", 53},
    {false, 4930, R"(Bürobedarf)", 53},
    {false, 4940, R"(Zeitschriften, Bücher)", 8},
    {false, 4950, R"(Rechts- und Beratungskosten)", 53},
    {false, 4970, R"(Nebenkosten des Geldverkehrs)", 0},
    {false, 8120, R"(Steuerfreie Umsätze § 4 Nr. 1a UStG)", 0},
    {false, 8125, R"(Steuerfreie innergemeinschaftliche Lieferungen § 4 Nr. 1b UStG)", 0},
    {false, 8300, R"(Erlöse 7 % USt)", 3},
    {false, 8310, R"(Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 7 % USt)", 23},
    {false, 8315, R"(Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 19 % USt)", 55},
    {false, 8320, R"(Erlöse aus im anderen EU-Land steuerpflichtigen Lieferungen)", 0},
    {false, 8400, R"(Erlöse 19 % USt)", 50},
    {false, 8410, R"(Erlöse Online-Shop 19 % USt)", 50},
    {false, 8591, R"(Sachbezüge 7 % USt (Waren))", 3},
    {false, 8611, R"(Verrechnete sonstige Sachbezüge 19 % USt (z. B. Kfz-Gestellung))", 50},
    {false, 8710, R"(Erlösschmälerungen 7 % USt)", 3},
    {false, 8720, R"(Erlösschmälerungen 19 % USt)", 50},
    {false, 8731, R"(Gewährte Skonti 7 % USt)", 3},
    {false, 8736, R"(Gewährte Skonti 19 % USt)", 50},
    {false, 8750, R"(Gewährte Boni 7 % USt)", 3},
    {false, 8760, R"(Gewährte Boni 19 % USt)", 50},
    {false, 8780, R"(Gewährte Rabatte 7 % USt)", 3},
    {false, 8790, R"(Gewährte Rabatte 19 % USt)", 50},
    {false, 8820, R"(Erlöse aus Verkäufen Sachanlagevermögen 19 % USt (bei Buchgewinn))", 50},
    {false, 8910, R"(Entnahme durch den Unternehmer für Zwecke außerhalb des Unternehmens (Waren) 19 % USt)", 50},
    {false, 8915, R"(Entnahme durch den Unternehmer für Zwecke außerhalb des Unternehmens (Waren) 7 % USt)", 3},
    {false, 8920, R"(Verwendung von Gegenständen für Zwecke außerhalb des Unternehmens 19 % USt)", 50},
    {false, 8921, R"(Verwendung von Gegenständen für Zwecke außerhalb des Unternehmens 19 % USt (Kfz-Nutzung))", 50},
    {true, 1200, R"(Forderungen aus Lieferungen und Leistungen)", 0},
    {true, 1401, R"(Abziehbare Vorsteuer 7 %)", 0},
    {true, 1402, R"(Abziehbare Vorsteuer aus innergemeinschaftlichem Erwerb)", 0},
    {true, 1403, R"(Abziehbare Vorsteuer aus innergemeinschaftlichem Erwerb 16 %)", 0},
    {true, 1404, R"(Abziehbare Vorsteuer aus innergemeinschaftlichem Erwerb 19 %)", 0},
    {true, 1405, R"(Abziehbare Vorsteuer 16 %)", 0},
    {true, 1406, R"(Abziehbare Vorsteuer 19 %)", 0},
    {true, 1407, R"(Abziehbare Vorsteuer nach § 13b UStG 19 %)", 0},
    {true, 1433, R"(Entstandene Einfuhrumsatzsteuer)", 0},
    {true, 1460, R"(Geldtransit)", 0},
    {true, 1600, R"(Kasse)", 0},
    {true, 1800, R"(Bank)", 0},
    {true, 3300, R"(Verbindlichkeiten aus Lieferungen und Leistungen)", 0},
    {true, 3800, R"(Umsatzsteuer)", 0},
    {true, 3801, R"(Umsatzsteuer 7 %)", 0},
    {true, 3802, R"(Umsatzsteuer aus innergemeinschaftlichem Erwerb)", 0},
    {true, 3803, R"(Umsatzsteuer aus innergemeinschaftlichem Erwerb 16 %)", 0},
    {true, 3804, R"(Umsatzsteuer aus innergemeinschaftlichem Erwerb 19 %)", 0},
    {true, 3805, R"(Umsatzsteuer 16 %)", 0},
    {true, 3806, R"(Umsatzsteuer 19 %)", 0},
    {true, 3820, R"(Umsatzsteuer-Vorauszahlungen)", 0},
    {true, 3837, R"(Umsatzsteuer nach § 13b UStG 19 %)", 0},
    {true, 3841, R"(Umsatzsteuer Vorjahr)", 0},
    {true, 4120, R"(Steuerfreie Umsätze § 4 Nr. 1a UStG)", 0},
    {true, 4125, R"(Steuerfreie innergemeinschaftliche Lieferungen § 4 Nr. 1b UStG)", 0},
    {true, 4300, R"(Erlöse 7 % USt)", 3},
    {true, 4310, R"(Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 7 % USt)", 23},
    {true, 4315, R"(Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 19 % USt)", 55},
    {true, 4320, R"(Erlöse aus im anderen EU-Land steuerpflichtigen Lieferungen)", 0},
    {true, 4340, R"(Erlöse 16 % USt)", 2},
    {true, 4400, R"(Erlöse 19 % USt)", 50},
    {true, 4410, R"(Erlöse Online-Shop 19 % USt)", 50},
    {true, 4566, R"(Provisionsumsätze 7 % USt)", 3},
    {true, 4569, R"(Provisionsumsätze 19 % USt)", 50},
    {true, 4610, R"(Entnahme durch den Unternehmer für Zwecke außerhalb des Unternehmens (Waren) 7 % USt)", 3},
    {true, 4620, R"(Entnahme durch den Unternehmer für Zwecke außerhalb des Unternehmens (Waren) 19 % USt)", 50},
    {true, 4640, R"(Verwendung von Gegenständen für Zwecke außerhalb des Unternehmens 19 % USt)", 50},
    {true, 4700, R"(Erlösschmälerungen)", 0},
    {true, 4710, R"(Erlösschmälerungen 7 % USt)", 3},
    {true, 4720, R"(Erlösschmälerungen 19 % USt)", 50},
    {true, 4731, R"(Gewährte Skonti 7 % USt)", 3},
    {true, 4736, R"(Gewährte Skonti 19 % USt)", 50},
    {true, 4750, R"(Gewährte Boni 7 % USt)", 3},
    {true, 4760, R"(Gewährte Boni 19 % USt)", 50},
    {true, 4780, R"(Gewährte Rabatte 7 % USt)", 3},
    {true, 4790, R"(Gewährte Rabatte 19 % USt)", 50},
    {true, 4849, R"(Erlöse aus Verkäufen Sachanlagevermögen (bei Buchgewinn))", 50},
    {true, 4941, R"(Sachbezüge 7 % USt (Waren))", 3},
    {true, 4945, R"(Sachbezüge 19 % USt (Waren))", 50},
    {true, 5300, R"(Wareneingang 7 % Vorsteuer)", 8},
    {true, 5400, R"(Wareneingang 19 % Vorsteuer)", 53},
    {true, 5420, R"(Innergemeinschaftlicher Erwerb 7 % Vorsteuer und 7 % Umsatzsteuer)", 16},
    {true, 5425, R"(Innergemeinschaftlicher Erwerb 19 % Vorsteuer und 19 % Umsatzsteuer)", 54},
    {true, 5731, R"(Erhaltene Skonti 7 % Vorsteuer)", 8},
    {true, 5736, R"(Erhaltene Skonti 19 % Vorsteuer)", 53},
    {true, 5800, R"(Bezugsnebenkosten)", 0},
    {true, 5900, R"(Fremdleistungen)", 53},
    {true, 6020, R"(Gehälter)", 0},
    {true, 6310, R"(Miete (unbewegliche Wirtschaftsgüter))", 53},
    {true, 6325, R"(Gas, Strom, Wasser)", 53},
    {true, 6330, R"(Reinigung)", 53},
    {true, 6400, R"(Versicherungen)", 0},
    {true, 6530, R"(Laufende Kfz-Betriebskosten)", 53},
    {true, 6540, R"(Kfz-Reparaturen)", 53},
    {true, 6600, R"(Werbekosten)", 53},
    {true, 6640, R"(Bewirtungskosten)", 53},
    {true, 6800, R"(Porto)", 0},
    {true, 6805, R"(Telefon)", 53},
    {true, 6815, R"(Bürobedarf)", 53},
    {true, 6820, R"(Zeitschriften, Bücher)", 8},
    {true, 6825, R"(Rechts- und Beratungskosten)", 53},
    {true, 6855, R"(Nebenkosten des Geldverkehrs)", 0},
};

// Further standard and user accounts, among them the accounts the fixed
// label corrections address and user accounts inside the ranges of the
// individual revenue, cost and expense accounts.
const TSample kMore[] = {
    {false, 27, "EDV-Software", 0},
    {false, 320, "Pkw", 0},
    {false, 410, "Geschäftsausstattung", 0},
    {false, 420, "Büroeinrichtung", 0},
    {false, 480, "Geringwertige Wirtschaftsgüter", 0},
    {false, 800, "Gezeichnetes Kapital", 0},
    {false, 1210, "Sparkasse", 0},
    {false, 1800, "Privatentnahmen allgemein", 0},
    {false, 1890, "Privateinlagen", 0},
    {false, 3401, "Wareneingang Filiale 19 % Vorsteuer", 53},
    {false, 3405, "Wareneingang Gastronomie 7 % Vorsteuer", 8},
    {false, 3419, "Wareneingang Zubehör 19 % Vorsteuer", 53},
    {false, 4100, "Löhne", 0},
    {false, 4130, "Gesetzliche soziale Aufwendungen", 0},
    {false, 4200, "Raumkosten", 53},
    {false, 4260, "Instandhaltung betrieblicher Räume", 53},
    {false, 4280, "Sonstige Raumkosten", 53},
    {false, 4500, "Fahrzeugkosten", 53},
    {false, 4580, "Sonstige Kfz-Kosten", 53},
    {false, 4600, "Werbekosten allgemein", 53},
    {false, 4670, "Reisekosten Unternehmer Fahrtkosten", 53},
    {false, 4800, "Reparaturen und Instandhaltung von technischen Anlagen und Maschinen", 53},
    {false, 4809, "Sonstige Reparaturen und Instandhaltungen", 53},
    {false, 4830, "Abschreibungen auf Sachanlagen", 0},
    {false, 4855, "Sofortabschreibung geringwertiger Wirtschaftsgüter", 0},
    {false, 4900, "Sonstige betriebliche Aufwendungen", 53},
    {false, 4945, "Fortbildungskosten", 53},
    {false, 4955, "Buchführungskosten", 53},
    {false, 4980, "Betriebsbedarf", 53},
    {false, 4985, "Werkzeuge und Kleingeräte", 53},
    {false, 4999, "Sonstige Aufwendungen 7 % Vorsteuer", 8},
    {false, 8401, "Erlöse Filiale Nord 19 % USt", 50},
    {false, 8405, "Erlöse Gastronomie außer Haus 7 % USt", 3},
    {false, 8409, "Erlöse Filiale Süd 19 % USt", 50},
    {false, 8411, "Erlöse Reparaturen 19 % USt", 50},
    {false, 8420, "Erlöse Wartungsverträge 19 % USt", 50},
    {false, 8430, "Erlöse Lebensmittel 7 % USt", 3},
    {false, 8440, "Erlöse Zeitschriften 7 % USt", 3},
    {false, 8450, "Erlöse Montage 19 % USt", 50},
    {false, 8499, "Erlöse sonstige 19 % USt", 50},
    {false, 8735, "Gewährte Skonti 16 % USt", 2},
    {true, 135, "EDV-Software", 0},
    {true, 520, "Pkw", 0},
    {true, 650, "Büroeinrichtung", 0},
    {true, 670, "Geringwertige Wirtschaftsgüter", 0},
    {true, 1810, "Sparkasse", 0},
    {true, 2000, "Festkapital", 0},
    {true, 2100, "Privatentnahmen allgemein", 0},
    {true, 2180, "Privateinlagen", 0},
    {true, 4401, "Erlöse Filiale Nord 19 % USt", 50},
    {true, 4405, "Erlöse Gastronomie außer Haus 7 % USt", 3},
    {true, 4409, "Erlöse Filiale Süd 19 % USt", 50},
    {true, 4411, "Erlöse Reparaturen 19 % USt", 50},
    {true, 4420, "Erlöse Wartungsverträge 19 % USt", 50},
    {true, 4430, "Erlöse Lebensmittel 7 % USt", 3},
    {true, 4450, "Erlöse Montage 19 % USt", 50},
    {true, 4499, "Erlöse sonstige 19 % USt", 50},
    {true, 4735, "Gewährte Skonti 16 % USt", 2},
    {true, 4948, "Verrechnete sonstige Sachbezüge 16 % USt", 53},
    {true, 5401, "Wareneingang Filiale 19 % Vorsteuer", 53},
    {true, 5405, "Wareneingang Gastronomie 7 % Vorsteuer", 8},
    {true, 5419, "Wareneingang Zubehör 19 % Vorsteuer", 53},
    {true, 6000, "Löhne", 0},
    {true, 6110, "Gesetzliche soziale Aufwendungen", 0},
    {true, 6300, "Sonstige betriebliche Aufwendungen", 53},
    {true, 6305, "Raumkosten", 53},
    {true, 6335, "Instandhaltung betrieblicher Räume", 53},
    {true, 6345, "Sonstige Raumkosten", 53},
    {true, 6500, "Fahrzeugkosten", 53},
    {true, 6570, "Sonstige Kfz-Kosten", 53},
    {true, 6650, "Reisekosten Arbeitnehmer Fahrtkosten", 8},
    {true, 6670, "Reisekosten Unternehmer Fahrtkosten", 53},
    {true, 6821, "Fortbildungskosten", 53},
    {true, 6830, "Buchführungskosten", 53},
    {true, 6845, "Werkzeuge und Kleingeräte", 53},
    {true, 6850, "Sonstiger Betriebsbedarf", 53},
    {true, 6899, "Sonstige Aufwendungen 7 % Vorsteuer", 8},
    {true, 6220, "Abschreibungen auf Sachanlagen", 0},
};

const char* const kNames[] = {
    "Müller",  "Schmidt",   "Schneider", "Fischer",  "Weber",    "Meyer",     "Wagner",
    "Becker",  "Schulz",    "Hoffmann",  "Schäfer",  "Koch",     "Bauer",     "Richter",
    "Klein",   "Wolf",      "Schröder",  "Neumann",  "Schwarz",  "Zimmermann", "Braun",
    "Krüger",  "Hofmann",   "Hartmann",  "Lange",    "Schmitt",  "Werner",    "Schmitz",
    "Krause",  "Meier",     "Lehmann",   "Schmid",   "Schulze",  "Maier",     "Köhler",
    "Herrmann", "König",    "Walter",    "Mayer",    "Huber",    "Kaiser",    "Fuchs",
    "Peters",  "Lang",      "Scholz",    "Möller",   "Weiß",     "Jung",      "Hahn",
    "Schubert", "Vogel",    "Friedrich", "Keller",   "Günther",  "Frank",     "Berger",
};
const char* const kTrades[] = {
    "Bau",       "Elektro",    "Sanitär",   "Holzbau",  "Metallbau", "Dachdeckerei",
    "Malerbetrieb", "Autohaus", "Bäckerei", "Gärtnerei", "Spedition", "Getränkehandel",
    "Fliesen",   "Heizungsbau", "Schreinerei", "Druckerei",
};
const char* const kForms[] = {"GmbH", "KG", "GmbH & Co. KG", "e.K.", "OHG", "AG", "GbR"};
const char* const kCities[] = {
    "München", "Köln",      "Düsseldorf", "Nürnberg", "Würzburg", "Lüneburg", "Görlitz",
    "Fürth",   "Osnabrück", "Saarbrücken", "Tübingen", "Bremen",  "Essen",    "Kassel",
};

class TRandom {
 public:
  explicit TRandom(std::uint32_t seed) : FState(seed * 2654435761u + 12345u) {}
  std::uint32_t Next() {
    FState ^= FState << 13;
    FState ^= FState >> 17;
    FState ^= FState << 5;
    return FState;
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint32_t FState;
};

char TypOf(bool skr04, std::int32_t nr) {
  const std::int32_t cls = nr < 10000 ? nr / 1000 : -1;
  if (cls < 0) return 'K';
  if (!skr04) return cls == 8 ? 'E' : (cls == 3 || cls == 4) ? 'A' : 'S';
  return cls == 4 ? 'E' : (cls == 5 || cls == 6) ? 'A' : 'S';
}

constexpr double kDate20070101 = 39083.0;  // the last rate change before 2020

TDemoKonto MakeKonto(bool skr04, std::int32_t nr, std::string bez, std::int32_t key, TRandom& rnd) {
  TDemoKonto k;
  k.Nr = nr;
  k.Bez = std::move(bez);
  k.Typ = TypOf(skr04, nr);
  if (key > 0) k.Slots[0] = std::to_string(key);
  // Days in 2018 to June 2020 with a time of day.
  k.Changed = 43101.0 + rnd.Below(910) + static_cast<double>(rnd.Below(86400)) / 86400.0;
  k.Saldo = static_cast<double>(static_cast<std::int32_t>(rnd.Below(20000000)) - 5000000) / 100.0;
  k.Aktiv = rnd.Below(40) != 0;
  return k;
}

}  // namespace

std::vector<TDemoKonto> MakeChart(bool ASKR04, std::int32_t AMinCount, std::uint32_t ASeed) {
  TRandom rnd(ASeed + (ASKR04 ? 7919u : 0u));
  std::map<std::int32_t, TDemoKonto> chart;
  for (const TSample& s : kSamples)
    if (s.SKR04 == ASKR04) chart[s.Nr] = MakeKonto(ASKR04, s.Nr, s.Bez, s.Key, rnd);
  for (const TSample& s : kMore)
    if (s.SKR04 == ASKR04) chart[s.Nr] = MakeKonto(ASKR04, s.Nr, s.Bez, s.Key, rnd);

  // Key histories as real charts carry them: the 2007 change from 16 % to
  // 19 % left the old key in slot 1 and the new one dated in slot 2.
  for (std::int32_t nr : ASKR04 ? std::array<std::int32_t, 3>{6310, 6805, 4400}
                                : std::array<std::int32_t, 3>{4210, 4920, 8400}) {
    auto it = chart.find(nr);
    if (it == chart.end()) continue;
    TDemoKonto& k = it->second;
    const bool revenue = k.Slots[0] == "50";
    k.Slots[1] = k.Slots[0];
    k.Slots[0] = revenue ? "51" : "9";
    k.SlotDates[1] = kDate20070101;
  }
  // An account whose slots are nearly exhausted: the conversion can only
  // warn about it.
  {
    auto it = chart.find(ASKR04 ? 6330 : 4250);
    if (it != chart.end()) {
      TDemoKonto& k = it->second;
      k.Slots[0] = "9";
      k.Slots[1] = "53";
      k.SlotDates[1] = kDate20070101;
      k.Slots[2] = "12";
      k.SlotDates[2] = 40179.0;  // 01.01.2010
      k.Slots[3] = "53";
      k.SlotDates[3] = 40544.0;  // 01.01.2011
    }
  }
  // Flag strings of various lengths, as older programs left them.
  for (auto& [nr, k] : chart) {
    if (nr % 7 == 0) k.Flags = "000000";
    if (nr % 11 == 0) k.Flags = "00000000000000";
    if (nr % 13 == 0) k.Notiz = "Hinweis zum Konto " + std::to_string(nr) +
                                ":\r\nBitte Belege mit Kostenstelle kontieren.";
  }

  // Personal accounts (debtors from 10000, creditors from 70000) fill the
  // chart to the size asked for; beyond 90000 they get seven digits.
  const std::int32_t missing = AMinCount - static_cast<std::int32_t>(chart.size());
  const std::int32_t wide = missing > 90000 ? 1 : 0;
  std::int32_t debitor = wide ? 1000000 : 10000;
  std::int32_t kreditor = wide ? 7000000 : 70000;
  for (std::int32_t i = 0; i < missing; ++i) {
    const bool isKreditor = i % 3 == 2;
    std::string name = std::string(kNames[rnd.Below(std::size(kNames))]) + " " +
                       kTrades[rnd.Below(std::size(kTrades))] + " " +
                       kForms[rnd.Below(std::size(kForms))] + ", " +
                       kCities[rnd.Below(std::size(kCities))];
    if (name.size() > 56) name.resize(56);
    const std::int32_t nr = isKreditor ? kreditor++ : debitor++;
    chart[nr] = MakeKonto(ASKR04, nr, std::move(name), 0, rnd);
  }

  std::vector<TDemoKonto> out;
  out.reserve(chart.size());
  for (auto& [nr, k] : chart) out.push_back(std::move(k));
  return out;
}

std::vector<TDemoSSL> MakeTaxKeys(bool ASKR04, bool AForeign67) {
  auto acct = [&](const char* skr03, const char* skr04) { return std::string(ASKR04 ? skr04 : skr03); };
  std::vector<TDemoSSL> keys = {
      {1, "steuerfrei", "Umsatzsteuerfrei", 0, 1, "", "", "0010000000", 0, 0},
      {2, "USt 16%", "Umsatzsteuer 16%", 16, 5, acct("1775", "3805"), acct("8340", "4340"), "0010000000", 0, 0},
      {3, "USt 7%", "Umsatzsteuer 7%", 7, 2, acct("1771", "3801"), acct("8300", "4300"), "0010000000", 0, 0},
      {4, "VSt frei", "Vorsteuerfrei", 0, 0, "", "", "0020000000", 0, 0},
      {6, "VSt 16%", "Vorsteuer 16%", 16, 7, acct("1575", "1405"), acct("3340", "5340"), "0020000000", 0, 0},
      {8, "VSt 7%", "Vorsteuer 7%", 7, 8, acct("1571", "1401"), acct("3300", "5300"), "0020000000", 0, 0},
      {9, "VSt 16% alt", "Vorsteuer 16% (bis 2006)", 16, 0, acct("1575", "1405"), "", "0020000000", 0, 0},
      {10, "EU steuerfrei", "Steuerfreie innergemeinschaftliche Lieferung", 0, 10,
       "", acct("8125", "4125"), "0010000000", 0, 0},
      {11, "Ausfuhr", "Steuerfreie Ausfuhrlieferung", 0, 1, "", acct("8120", "4120"), "0010000000", 0, 0},
      {12, "ohne", "ohne Steuer", 0, 0, "", "", "0030000000", 0, 0},
      {16, "EU-VSt 7%", "Vorsteuer aus EU-Erwerb 7%", 7, 18, acct("1572", "1402"), acct("3420", "5420"),
       "0020000000", 0, 0},
      {17, "EU-VSt 16%", "Vorsteuer aus EU-Erwerb 16%", 16, 19, acct("1573", "1403"), "", "0020000000", 0, 0},
      {20, "13b VSt/USt 19%", "Vorsteuer/Umsatzsteuer nach § 13b UStG 19%", 0, 94,
       acct("1577", "1407"), acct("1787", "3837"), "0030000000", 19, 19},
      {21, "EUSt", "Einfuhrumsatzsteuer", 0, 0, acct("1588", "1433"), "", "0020000000", 0, 0},
      {23, "EU-USt 7%", "EU-Lieferung 7%", 7, 12, acct("1771", "3801"), acct("8310", "4310"), "0010000000", 0, 0},
      {24, "EU-USt 16%", "EU-Lieferung 16%", 16, 13, acct("1775", "3805"), "", "0010000000", 0, 0},
      {30, "Kleinunt.", "Kleinunternehmer § 19 UStG", 0, 0, "", "", "0030000000", 0, 0},
      {50, "USt 19%", "Umsatzsteuer 19%", 19, 3, acct("1776", "3806"), acct("8400", "4400"), "0010000000", 0, 0},
      {51, "USt 16% alt", "Umsatzsteuer 16% (bis 2006)", 16, 0, acct("1775", "3805"), "", "0010000000", 0, 0},
      {53, "VSt 19%", "Vorsteuer 19%", 19, 9, acct("1576", "1406"), acct("3400", "5400"), "0020000000", 0, 0},
      {54, "EU-VSt 19%", "Vorsteuer aus EU-Erwerb 19%", 19, 19, acct("1574", "1404"), acct("3425", "5425"),
       "0020000000", 0, 0},
      {55, "EU-USt 19%", "EU-Lieferung 19%", 19, 13, acct("1776", "3806"), acct("8315", "4315"), "0010000000",
       0, 0},
      {60, "VSt 10,7%", "Vorsteuer 10,7% Land- und Forstwirtschaft", 10.7, 0, "", "", "0020000000", 0, 0},
  };
  if (AForeign67)
    keys.push_back({67, "USt 5,5%", "Umsatzsteuer 5,5% Landwirtschaft", 5.5, 0, "", "", "0010000000", 0, 0});
  return keys;
}

std::string MakeDefinitionFile(bool ASKR04) {
  // Kind letters: A automatic (position 5), M and V (position 1). SSL1 999
  // keeps the keys; N starts a created account with SSL2.
  static constexpr std::string_view kSKR03 =
      "R;Konto;;;Bezeichnung;Neu;SSL1;SSL2\r\n"
      "A;1568;;;Abziehbare Vorsteuer 5 %;;999;\r\n"
      "A;1773;;;Umsatzsteuer 5 %;;999;\r\n"
      "A;1575;;;Abziehbare Vorsteuer 16 %;;999;\r\n"
      "AM;8300;;;Erlöse 7 % USt;;3;65\r\n"
      "AM;8400;;;Erlöse 19 % USt;;50;2\r\n"
      "M;8340;;;Erlöse 16 % USt;N;50;2\r\n"
      "M;8338;;;Erlöse 5 % USt;N;3;65\r\n"
      "AV;3300;;;Wareneingang 7 % Vorsteuer;;8;66\r\n"
      "AV;3400;;;Wareneingang 19 % Vorsteuer;;53;6\r\n"
      "V;3340;;;Wareneingang 16 % Vorsteuer;N;53;6\r\n"
      "V;3732;;;Erhaltene Skonti 5 % Vorsteuer;;66;\r\n"
      "V;3737;;;Erhaltene Skonti 16 % Vorsteuer;;6;\r\n"
      "M;8732;;;Gewährte Skonti 5 % USt;;65;\r\n"
      "AM;8731;;;Gewährte Skonti 7 % USt;;3;65\r\n"
      "AM;8736;;;Gewährte Skonti 19 % USt;;50;2\r\n"
      "M;8710;;;Erlösschmälerungen 7 % USt;;3;65\r\n"
      "M;8720;;;Erlösschmälerungen 19 % USt;;50;2\r\n"
      "AV;3731;;;Erhaltene Skonti 7 % Vorsteuer;;8;66\r\n"
      "AV;3736;;;Erhaltene Skonti 19 % Vorsteuer;;53;6\r\n"
      "A;8310;;;Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 7 % USt;;23;67\r\n"
      "A;8315;;;Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 19 % USt;;55;24\r\n"
      "AV;3420;;;Innergemeinschaftlicher Erwerb 7 % Vorsteuer und 7 % Umsatzsteuer;;16;68\r\n"
      "AV;3425;;;Innergemeinschaftlicher Erwerb 19 % Vorsteuer und 19 % Umsatzsteuer;;54;17\r\n";
  static constexpr std::string_view kSKR04 =
      "R;Konto;;;Bezeichnung;Neu;SSL1;SSL2\r\n"
      "A;1403;;;Abziehbare Vorsteuer 5 %;;999;\r\n"
      "A;3803;;;Umsatzsteuer 5 %;;999;\r\n"
      "A;1405;;;Abziehbare Vorsteuer 16 %;;999;\r\n"
      "AM;4300;;;Erlöse 7 % USt;;3;65\r\n"
      "AM;4400;;;Erlöse 19 % USt;;50;2\r\n"
      "M;4340;;;Erlöse 16 % USt;N;50;2\r\n"
      "M;4338;;;Erlöse 5 % USt;N;3;65\r\n"
      "AV;5300;;;Wareneingang 7 % Vorsteuer;;8;66\r\n"
      "AV;5400;;;Wareneingang 19 % Vorsteuer;;53;6\r\n"
      "V;5340;;;Wareneingang 16 % Vorsteuer;N;53;6\r\n"
      "V;5732;;;Erhaltene Skonti 5 % Vorsteuer;;66;\r\n"
      "V;5737;;;Erhaltene Skonti 16 % Vorsteuer;;6;\r\n"
      "M;4732;;;Gewährte Skonti 5 % USt;;65;\r\n"
      "AM;4731;;;Gewährte Skonti 7 % USt;;3;65\r\n"
      "AM;4736;;;Gewährte Skonti 19 % USt;;50;2\r\n"
      "M;4710;;;Erlösschmälerungen 7 % USt;;3;65\r\n"
      "M;4720;;;Erlösschmälerungen 19 % USt;;50;2\r\n"
      "AV;5731;;;Erhaltene Skonti 7 % Vorsteuer;;8;66\r\n"
      "AV;5736;;;Erhaltene Skonti 19 % Vorsteuer;;53;6\r\n"
      "A;4310;;;Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 7 % USt;;23;67\r\n"
      "A;4315;;;Erlöse aus im Inland steuerpflichtigen EU-Lieferungen 19 % USt;;55;24\r\n"
      "AV;5420;;;Innergemeinschaftlicher Erwerb 7 % Vorsteuer und 7 % Umsatzsteuer;;16;68\r\n"
      "AV;5425;;;Innergemeinschaftlicher Erwerb 19 % Vorsteuer und 19 % Umsatzsteuer;;54;17\r\n";
  return platform::Utf8ToWin1252Lossy(ASKR04 ? kSKR04 : kSKR03);
}

namespace {

// Non-ASCII characters as RTF hex escapes of their Windows-1252 byte, so
// the file is plain ASCII and any reader shows the umlauts.
std::string RtfText(std::string_view utf8) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : platform::Utf8ToWin1252Lossy(utf8)) {
    if (c >= 0x80) {
      out += "\\'";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string MakeInfoRtf() {
  std::string r =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1031"
      "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fnil\\fcharset2 Symbol;}}\r\n"
      "\\viewkind4\\uc1\\pard\\sa120\\f0\\fs20\r\n";
  auto heading = [&](std::string_view text) {
    r += "\\pard\\sb200\\sa120\\b\\fs24 " + RtfText(text) + "\\b0\\fs20\\par\r\n";
  };
  auto para = [&](std::string_view text) { r += "\\pard\\sa120 " + RtfText(text) + "\\par\r\n"; };
  auto item = [&](std::string_view text) {
    r += "\\pard{\\pntext\\f1\\'b7\\tab}{\\*\\pn\\pnlvlblt\\pnf1\\pnindent360{\\pntxtb\\'b7}}"
         "\\fi-360\\li360\\sa60 " +
         RtfText(text) + "\\par\r\n";
  };

  r += "\\pard\\qc\\sa200\\b\\fs28 " + RtfText("Umstellung der Umsatzsteuer 2020") + "\\b0\\fs20\\par\r\n";
  heading("Worum es geht");
  para("Vom 01.07.2020 bis zum 31.12.2020 gilt ein Umsatzsteuersatz von 16 % statt 19 % und ein "
       "ermäßigter Satz von 5 % statt 7 %. Ab dem 01.01.2021 gelten wieder die alten Sätze. "
       "Maßgeblich ist der Tag der Lieferung oder Leistung, nicht das Rechnungs- oder "
       "Zahlungsdatum.");
  para("Dieses Programm stellt die Finanzbuchhaltung aller ausgewählten Mandanten in einem "
       "Durchgang auf beide Termine um. Danach ist keine weitere Umstellung zum Jahreswechsel "
       "nötig.");
  heading("Was die Umstellung ändert");
  item("Die Steuerschlüssel 65 bis 70 werden angelegt: Umsatzsteuer und Vorsteuer 5 %, "
       "EU-Lieferungen und EU-Erwerb 5 % sowie zwei kombinierte Schlüssel.");
  item("Konten aus der Kontendefinition Ihres Kontenrahmens (SKR03 oder SKR04) erhalten die "
       "aktuelle Bezeichnung und datierte Steuerschlüssel; fehlende Konten werden angelegt.");
  item("Erlös-, Kosten- und Aufwandskonten in den festen Kontenbereichen erhalten ab dem "
       "01.07.2020 den ermäßigten Schlüssel und ab dem 01.01.2021 wieder ihren bisherigen.");
  item("Konten, deren fünf Steuerschlüssel-Felder bereits belegt sind, bleiben unverändert und "
       "werden im Protokoll als Warnung aufgeführt.");
  heading("Bevor Sie beginnen");
  item("Beenden Sie alle Programme der Warenwirtschaft und der Finanzbuchhaltung an allen "
       "Arbeitsplätzen.");
  item("Erstellen Sie eine Datensicherung. Das Programm sichert die Tabellen steuersatz.dbf und "
       "konto.dbf zusätzlich im Ordner SAVE_USt2020 der Finanzbuchhaltung.");
  item("Eigene Steuerschlüssel mit den Nummern 65 bis 70 verhindern die Umstellung. Legen Sie "
       "diese vorher unter einer anderen Nummer an.");
  heading("Nach der Umstellung");
  para("Für jeden umgestellten Mandanten wird das Protokoll USt2020Prot.txt im Ordner "
       "SAVE_USt2020 geschrieben. Bitte öffnen und prüfen Sie jedes Protokoll; erst dann lässt "
       "sich das Programm schließen. Tritt bei einem Mandanten ein Fehler auf, werden seine "
       "Tabellen aus der Sicherung wiederhergestellt.");
  para("Ein Mandant, der bereits umgestellt wurde, wird erkannt und kann nicht ein zweites Mal "
       "umgestellt werden.");
  r += "}\r\n";
  return r;
}

}  // namespace demo

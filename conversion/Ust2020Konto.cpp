#include "Ust2020Konto.h"

#include <algorithm>

#include "Ust2020Text.h"
#include "platform/Encoding.h"

namespace conversion {

TQORUSt2020Konto::TQORUSt2020Konto(std::string_view ACSVLine) {
  const std::string line = std::string(ACSVLine) + ";";
  std::size_t start = 0;
  int field = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != ';') continue;
    ++field;
    std::string value = TrimText(std::string_view(line).substr(start, i - start));
    start = i + 1;
    switch (field) {
      case 1: KZ = platform::AsciiUpper(value); break;
      case 2: Nr = TextToInt(value); break;
      case 5:
        for (std::string_view d : {"5", "6", "7", "9"})
          value = ReplaceAll(std::move(value), std::string(d) + " %", std::string(d) + "%");
        Bez = std::move(value);
        break;
      case 6: New = platform::AsciiUpper(value) == "N"; break;
      case 7: SSL1 = TextToInt(value); break;
      case 8: SSL2 = TextToInt(value); break;
      default: break;
    }
  }
  if (Nr == 0)
    FLastError = "Kontonummer ungültig: " + line;
  else if (SSL1 == 0)
    FLastError = "Steuerschlüssel fehlt: " + line;
}

int CountSeparators(std::string_view ALine) {
  return static_cast<int>(std::count(ALine.begin(), ALine.end(), ';'));
}

}  // namespace conversion

#include "Ust2020Defs.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace conversion {

bool LoadKontenFile(std::string_view APath, bool ASKR04, TKontoList& AList, std::string& AError) {
  const std::string fileName(KontenFiles[ASKR04 ? 1 : 0]);
  const std::string path = platform::ResolveNoCase(platform::JoinPath(APath, fileName));
  if (!platform::FileExists(path)) {
    AError = "Datei " + fileName + " nicht gefunden.";
    return false;
  }
  std::string raw;
  std::string readError;
  if (!platform::ReadWholeFile(path, raw, &readError)) {
    AError = readError;
    return false;
  }
  const std::vector<std::string> lines = SplitLines(DecodeTextFile(raw));
  for (const std::string& line : lines) {
    const int count = CountSeparators(line);
    if (count != 6 && count != 7) {
      AError = fileName + ": Anzahl Trennzeichen falsch: " + line;
      return false;
    }
  }
  AList.clear();
  std::string errors;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == 'R') continue;
    auto konto = std::make_unique<TQORUSt2020Konto>(line);
    if (!konto->FLastError.empty()) {
      if (!errors.empty()) errors += '\r';
      errors += fileName + ": " + konto->FLastError;
    }
    AList.push_back(std::move(konto));
  }
  if (!errors.empty()) {
    AError = errors;
    return false;
  }
  return true;
}

}  // namespace conversion

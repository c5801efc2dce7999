#pragma once
// Writing the host's two tables through the xBase engine's C interface,
// with their compound indexes, memo file and full-text file.
#include <cstdint>
#include <string>
#include <vector>

#include "DemoCharts.h"

namespace demo {

// Field layouts as the host product creates them.
extern const char* const kTaxKeyFields;
extern const char* const kAccountFields;

// A table being filled: created (replacing any old files), opened
// exclusively; records appended field by field; tags built at Close.
class TDbfWriter {
 public:
  TDbfWriter(const std::string& APath, const std::string& AFields);
  ~TDbfWriter();
  TDbfWriter(const TDbfWriter&) = delete;
  TDbfWriter& operator=(const TDbfWriter&) = delete;

  // Starts a blank record; the setters fill it, Post appends it.
  void Begin();
  void SetText(const std::string& AField, const std::string& AUtf8);
  void SetNumber(const std::string& AField, double AValue);
  void SetDate(const std::string& AField, double ADays);  // 0 leaves it blank
  void SetLogical(const std::string& AField, bool AValue);
  void SetMemo(const std::string& AField, const std::string& AUtf8);
  void SetDeleted(bool ADeleted);
  void Post();

  void AddTag(const std::string& ATag, const std::string& AKey, const std::string& AFor = "",
              int AFlags = 0);
  void Close();

 private:
  struct TFieldDef {
    std::string Name;
    char Type;
    int Width;
    int Decimals;
    int Offset;
  };
  const TFieldDef& Field(const std::string& AName) const;

  std::string FPath;
  std::vector<TFieldDef> FFields;
  std::vector<char> FRecord;
  std::vector<std::pair<std::string, std::string>> FMemos;
  std::vector<std::tuple<std::string, std::string, std::string, int>> FTags;
  int FWorkArea = 0;
};

void WriteTaxKeyTable(const std::string& AFibuDir, const std::vector<TDemoSSL>& AKeys);
// Records are appended in a shuffled physical order, as years of use leave
// them; konto.TS1 gets one entry per record.
void WriteAccountTable(const std::string& AFibuDir, const std::vector<TDemoKonto>& AChart,
                       std::uint32_t ASeed);

// Days since 30.12.1899 as "YYYYMMDD".
std::string DateText(double ADays);

}  // namespace demo

#pragma once
// One line of an account definition file ("USt2020_SKR03.csv",
// "USt2020_SKR04.csv"): how the account is labelled, keyed or created.
#include <cstdint>
#include <string>
#include <string_view>

namespace conversion {

class TQORUSt2020Konto {
 public:
  // Parses one line (UTF-8). Never fails: an invalid line leaves its reason
  // in FLastError.
  explicit TQORUSt2020Konto(std::string_view ACSVLine);

  std::string FLastError;
  std::string KZ;        // kind letters, upper case: A, M, V have an effect
  std::int32_t Nr = 0;   // account number
  std::string Bez;       // label, with "5 %" etc. closed up
  bool New = false;      // a missing account starts with SSL2 in STR_ID
  std::int32_t SSL1 = 0; // key from 01.01.2021 (or from 01.07.2020 alone); 999 keeps the keys
  std::int32_t SSL2 = 0; // key from 01.07.2020, 0 when absent
};

// Number of semicolons in a line; a definition line needs 6 or 7.
int CountSeparators(std::string_view ALine);

}  // namespace conversion

#include <memory>
#include <vector>

namespace conversion {

using TKontoList = std::vector<std::unique_ptr<TQORUSt2020Konto>>;

// Loads the definition file of one chart from directory `APath` into
// `AList`. False with the reason in `AError` when the file is missing or
// unreadable, a line has a wrong number of separators (`AList` then keeps
// its content) or a definition is invalid (every invalid line is reported,
// one per CR-separated message line; `AList` holds every definition).
bool LoadKontenFile(std::string_view APath, bool ASKR04, TKontoList& AList, std::string& AError);

}  // namespace conversion

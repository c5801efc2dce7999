#pragma once
// The mapping between the engine's raw DBF record and typed field values, and
// the German "system formats" of the field accessors (decimal comma, dates
// dd.mm.yyyy) that hold whatever the process locale says.
//
// Raw record: byte 0 is the deletion mark ("*" deleted, blank not), then every
// field at its offset, Width bytes, in the DBF's text forms. Text values are
// kept in Windows-1252 here, as stored.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xbase/XbField.h"

namespace xbrec {

struct TFieldInfo {
  std::string Name;   // Windows-1252, as the engine reports it
  char Letter = 'C';  // DBF type letter
  TFieldKind Kind = fkString;
  int XBEOffset = 0;  // byte offset in the raw record (engine's 1-based offset - 1)
  int Width = 0;
  int Decimals = 0;
};

// One field's value in the current record.
struct TFieldValue {
  bool HasValue = false;
  std::string Text;      // text fields: Windows-1252, no trailing blanks; memo: the block reference
  std::int32_t Int = 0;  // integer kinds
  double Float = 0;      // float kind
  std::int32_t Day = 0;  // date kind: days since 1899-12-30
  bool Bool = false;     // boolean kind
};

// The field kind of a DBF type letter; nullopt for a letter that gets no
// field object (its bytes are written back as stored).
std::optional<TFieldKind> KindFromType(char letter, int width, int decimals);

// Reading never fails: text that is not a number reads as 0, an impossible
// date as null. `raw` must hold the field's Width bytes at its offset.
TFieldValue ReadField(const TFieldInfo& info, std::string_view raw);

// Writes the value into the field's bytes of `raw`. False, with the value's
// text in *overflow, when a number does not fit the field's width.
bool WriteField(const TFieldInfo& info, const TFieldValue& value, std::string& raw,
                std::string* overflow);

// Days since 1899-12-30 <-> civil date; nullopt for an impossible date or a
// year outside 1..9999.
std::optional<std::int32_t> DayFromDate(int year, int month, int day);
void DateFromDay(std::int32_t serial, int& year, int& month, int& day);

// System formats (German).
std::string FormatFloat(double value);       // shortest text, up to 15 digits, "," as separator
std::optional<double> ParseFloat(std::string_view text);  // "," as separator, blanks around allowed
std::optional<std::int32_t> ParseInteger(std::string_view text);
std::string FormatDate(std::int32_t serial);  // dd.mm.yyyy
std::string FormatDateTime(double value);     // dd.mm.yyyy, with " hh:nn:ss" when there is a time
std::optional<std::int32_t> ParseDate(std::string_view text);
// Banker's rounding to a 32-bit integer; nullopt outside its range or not finite.
std::optional<std::int32_t> RoundToInt(double value);

}  // namespace xbrec

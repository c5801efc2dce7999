#pragma once
// Text forms of values and stored field bytes, shared by the expression
// evaluator and the index code (NTX numeric keys are STR() texts).
#include <cstdint>
#include <string>
#include <string_view>

#include "../Expression.h"

namespace xbe::expr {

// Strings longer than this are refused: no expression of a host index comes
// near it, and it keeps hostile input from allocating without bound.
inline constexpr std::size_t kMaxStringLength = 65535;

// STR(v, width, decimals): right-aligned, rounded half away from zero on the
// decimal digits a user sees (15 significant digits), asterisks when the
// text does not fit.
std::string FormatStr(double v, int width, int decimals);

// The width STR() uses when none is given: the declared width of a bare
// field, else 10 plus room for the decimals.
int DefaultStrWidth(const Value& v);

// Whole text as a number: blanks around, sign, digits, one point; blank
// text is 0. Correctly rounded and independent of the process locale.
bool ParseNumber(std::string_view text, double& out);

// VAL(): the longest numeric prefix after leading blanks, 0 when none.
double ParsePrefixNumber(std::string_view text, int& decimals);

// Dates. Invalid calendar dates and blank text give 0 (the empty date).
std::int64_t JdnFromDtos(std::string_view yyyymmdd);
std::string DtosFromJdn(std::int64_t jdn);  // 8 blanks for the empty date
std::string DtocFromJdn(std::int64_t jdn);  // DD.MM.YYYY, "  .  .    " when empty
std::int64_t JdnFromDtoc(std::string_view text);
bool ValidJdn(std::int64_t jdn);  // 0001-01-01 .. 9999-12-31

// The value of a field in the current record. Field types the evaluator
// cannot use make FieldUsable false.
bool FieldUsable(char type, int width);
ValueType FieldValueType(char type);
// `type` is the field type the expression was compiled against.
void ReadField(const RecordAccess& record, int field, char type, Value& out);

}  // namespace xbe::expr

#pragma once
// xBase expressions as host indexes use them (key and FOR clauses, and
// xb_EvalString): fields, literals, + and -, comparisons, .AND. .OR. .NOT.,
// and the function subset STR, STRZERO, VAL, UPPER, LOWER, SUBSTR, LEFT,
// RIGHT, TRIM, RTRIM, LTRIM, ALLTRIM, PADL, PADR, DTOS, DTOC, CTOD, YEAR,
// MONTH, DAY, IIF, EMPTY, DELETED, RECNO. Names without regard to case.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace xbe {

enum class ValueType { Character, Numeric, Date, Logical };

struct Value {
  ValueType type = ValueType::Character;
  std::string str;       // Character: Windows-1252 bytes
  double num = 0;        // Numeric
  int width = 0;         // Numeric: declared width of a bare field value (STR default), else 0
  int decimals = 0;      // Numeric: declared decimals of a bare field value
  std::int64_t jdn = 0;  // Date: Julian Day Number, 0 for an empty date
  bool logical = false;  // Logical

  // As a fresh Value of type `t`, keeping the string's memory.
  void Reset(ValueType t = ValueType::Character) {
    type = t;
    str.clear();
    num = 0;
    width = decimals = 0;
    jdn = 0;
    logical = false;
  }
};

// What an expression sees of a table: its layout and the current record.
class RecordAccess {
 public:
  virtual ~RecordAccess() = default;
  virtual int FieldCount() const = 0;
  // 0-based field number, -1 when the table has no such field (any case).
  virtual int FindField(std::string_view name) const = 0;
  virtual char FieldType(int field) const = 0;  // 'C', 'N', 'D', 'L', 'M', 'I', ...
  virtual int FieldWidth(int field) const = 0;
  virtual int FieldDecimals(int field) const = 0;
  // The field's stored bytes in the current record (Width bytes).
  virtual std::string_view FieldBytes(int field) const = 0;
  virtual std::uint32_t RecNo() const = 0;
  virtual bool Deleted() const = 0;
  // The table's alias in upper case ("KONTO"), for alias->FIELD.
  virtual std::string_view Alias() const = 0;
};

class Expression {
 public:
  virtual ~Expression() = default;
  // Parses `text` against the fields of `table`. Null with *error set on a
  // syntax error, an unknown field or function, or a type mismatch that is
  // known at compile time.
  static std::unique_ptr<Expression> Compile(std::string_view text, const RecordAccess& table,
                                             std::string* error);
  virtual ValueType Type() const = 0;
  // False with *error set when the value cannot be computed on this record.
  virtual bool Evaluate(const RecordAccess& record, Value& out, std::string* error) const = 0;
};

// The text form of a value, as xb_EvalString returns it: character values
// as they are, numbers as STR() would give them (field width and decimals
// for a bare field, else width 10), dates as DTOS(), logicals "T" or "F".
std::string ValueToText(const Value& v);

// Gregorian date <-> Julian Day Number. YYYYMMDD text, blank -> 0.
std::int64_t JdnFromYmd(int y, int m, int d);
void YmdFromJdn(std::int64_t jdn, int& y, int& m, int& d);

}  // namespace xbe

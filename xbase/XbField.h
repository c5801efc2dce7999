#pragma once
// Typed field objects of an open table. A field object belongs to its table,
// exists only while the table is open and always reads and writes the table's
// current record. Values are UTF-8 inside the program; the table stores
// Windows-1252, and the conversion happens here. A text holding a character
// Windows-1252 lacks is refused with EXbError when it is set: replacing it
// silently would store a label the user never wrote.
//
// Number and date texts use the German formats whatever the process locale
// says: decimal comma, dates dd.mm.yyyy (two-digit years fall into
// 1980..2079, as the table's epoch). Setting a numeric field to "" makes it
// null. Boolean fields read as "T"/"F" and take T/F, Y/N, J, True/False,
// Wahr/Falsch in any case. Memo and blob fields are read-only here.
#include <cstdint>
#include <string>

class TCustomXbDataSet;

// Field kinds, decided by the DBF type letter (and width and decimals of "N").
enum TFieldKind : std::uint8_t {
  fkString,    // "C"
  fkSmallint,  // "N" with no decimals and width 4 or less
  fkInteger,   // "I", stored as text like "N"
  fkFloat,     // "N" with decimals, or width 5 and more
  fkDate,      // "D"
  fkBoolean,   // "L"
  fkMemo,      // "M"
  fkBlob,      // "B", "G", "P"
};

class TField {
 public:
  TField(TCustomXbDataSet& dataSet, int index, std::string name, TFieldKind kind, int width,
         int decimals);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return FFieldName; }
  TFieldKind Kind() const { return FKind; }
  int Size() const { return FWidth; }  // the DBF field width
  int Decimals() const { return FDecimals; }
  int Index() const { return FIndex; }  // position among the table's field objects

  // Reads give empty text, 0, false for a null value. Reads never change the
  // record; a read that makes no sense for the kind raises EXbError.
  std::string AsString() const;
  std::int32_t AsInteger() const;
  double AsFloat() const;
  double AsDateTime() const;  // days since 1899-12-30, time of day as fraction
  bool AsBoolean() const;
  bool IsNull() const;

  // Setters work only while the table is in edit or insert state. A value
  // that does not fit the kind raises EXbError and leaves the previous value.
  void SetAsString(const std::string& value);
  void SetAsInteger(std::int32_t value);
  void SetAsFloat(double value);
  void SetAsDateTime(double value);
  void SetAsBoolean(bool value);
  void Clear();

 private:
  TCustomXbDataSet& FDataSet;
  int FIndex;
  std::string FFieldName;
  TFieldKind FKind;
  int FWidth;
  int FDecimals;
};

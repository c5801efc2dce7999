#include "xbase/XbField.h"

#include <cmath>
#include <utility>

#include "platform/Encoding.h"
#include "xbase/XbDSet.h"

namespace {

std::string Replace2(std::string pattern, const std::string& a, const std::string& b) {
  const auto p1 = pattern.find("%s");
  pattern.replace(p1, 2, a);
  const auto p2 = pattern.find("%s", p1 + a.size());
  pattern.replace(p2, 2, b);
  return pattern;
}

[[noreturn]] void InvalidValue(const char* pattern, const std::string& text, const std::string& field) {
  throw EXbError(Replace2(pattern, text, field));
}

constexpr const char* kNotInteger = "'%s' ist kein gültiger Integerwert für Feld '%s'";
constexpr const char* kNotFloat = "'%s' ist kein gültiger Fließkommawert für Feld '%s'";
constexpr const char* kNotDate = "'%s' ist kein gültiges Datum für Feld '%s'";
constexpr const char* kNotBoolean = "'%s' ist kein gültiger Boolescher Wert für Feld '%s'";

const char* KindName(TFieldKind kind) {
  switch (kind) {
    case fkString: return "String";
    case fkSmallint: return "Smallint";
    case fkInteger: return "Integer";
    case fkFloat: return "Float";
    case fkDate: return "Date";
    case fkBoolean: return "Boolean";
    case fkMemo: return "Memo";
    case fkBlob: return "Blob";
  }
  return "?";
}

[[noreturn]] void NotAs(const TField& f, const char* as) {
  throw EXbError("Feld '" + f.FieldName() + "' (" + KindName(f.Kind()) + ") kann nicht als " + as +
                 " verwendet werden");
}

}  // namespace

TField::TField(TCustomXbDataSet& dataSet, int index, std::string name, TFieldKind kind, int width,
               int decimals)
    : FDataSet(dataSet), FIndex(index), FFieldName(std::move(name)), FKind(kind), FWidth(width),
      FDecimals(decimals) {}

bool TField::IsNull() const { return !FDataSet.Value(FIndex).HasValue; }

std::string TField::AsString() const {
  const xbrec::TFieldValue& v = FDataSet.Value(FIndex);
  if (FKind == fkMemo || FKind == fkBlob) return v.HasValue ? FDataSet.ReadMemo(FIndex) : std::string();
  if (!v.HasValue) return {};
  switch (FKind) {
    case fkString: return platform::Win1252ToUtf8(v.Text);
    case fkSmallint:
    case fkInteger: return std::to_string(v.Int);
    case fkFloat: return xbrec::FormatFloat(v.Float);
    case fkDate: return xbrec::FormatDate(v.Day);
    case fkBoolean: return v.Bool ? "T" : "F";
    default: return {};
  }
}

std::int32_t TField::AsInteger() const {
  const xbrec::TFieldValue& v = FDataSet.Value(FIndex);
  switch (FKind) {
    case fkString: {
      if (!v.HasValue) return 0;
      const std::string s = platform::Win1252ToUtf8(v.Text);
      const auto i = xbrec::ParseInteger(s);
      if (!i) InvalidValue(kNotInteger, s, FFieldName);
      return *i;
    }
    case fkSmallint:
    case fkInteger: return v.HasValue ? v.Int : 0;
    case fkFloat: {
      if (!v.HasValue) return 0;
      const auto i = xbrec::RoundToInt(v.Float);
      if (!i) InvalidValue(kNotInteger, xbrec::FormatFloat(v.Float), FFieldName);
      return *i;
    }
    default: NotAs(*this, "Integer");
  }
}

double TField::AsFloat() const {
  const xbrec::TFieldValue& v = FDataSet.Value(FIndex);
  switch (FKind) {
    case fkString: {
      if (!v.HasValue) return 0;
      const std::string s = platform::Win1252ToUtf8(v.Text);
      const auto f = xbrec::ParseFloat(s);
      if (!f) InvalidValue(kNotFloat, s, FFieldName);
      return *f;
    }
    case fkSmallint:
    case fkInteger: return v.HasValue ? v.Int : 0;
    case fkFloat: return v.HasValue ? v.Float : 0;
    case fkDate: return v.HasValue ? v.Day : 0;
    default: NotAs(*this, "Float");
  }
}

double TField::AsDateTime() const {
  const xbrec::TFieldValue& v = FDataSet.Value(FIndex);
  switch (FKind) {
    case fkString: {
      if (!v.HasValue || v.Text.empty()) return 0;
      const std::string s = platform::Win1252ToUtf8(v.Text);
      const auto d = xbrec::ParseDate(s);
      if (!d) InvalidValue(kNotDate, s, FFieldName);
      return *d;
    }
    case fkDate: return v.HasValue ? v.Day : 0;
    // Change stamps (CHANGED) are numbers holding a date-time.
    case fkFloat: return v.HasValue ? v.Float : 0;
    default: NotAs(*this, "DateTime");
  }
}

bool TField::AsBoolean() const {
  const xbrec::TFieldValue& v = FDataSet.Value(FIndex);
  switch (FKind) {
    case fkString:
      return v.HasValue && !v.Text.empty() &&
             (v.Text[0] == 'T' || v.Text[0] == 't' || v.Text[0] == 'Y' || v.Text[0] == 'y');
    case fkBoolean: return v.HasValue && v.Bool;
    default: NotAs(*this, "Boolean");
  }
}

void TField::SetAsString(const std::string& value) {
  FDataSet.CheckEditing(*this);
  xbrec::TFieldValue v;
  switch (FKind) {
    case fkString: {
      const auto ansi = platform::Utf8ToWin1252(value);
      if (!ansi)
        throw EXbError("Der Text '" + value + "' für Feld '" + FFieldName +
                       "' enthält Zeichen, die in Windows-1252 nicht darstellbar sind");
      v.HasValue = true;
      v.Text = ansi->substr(0, static_cast<std::size_t>(FWidth));
      break;
    }
    case fkSmallint:
    case fkInteger: {
      if (value.empty()) break;
      const auto i = xbrec::ParseInteger(value);
      if (!i) InvalidValue(kNotInteger, value, FFieldName);
      SetAsInteger(*i);
      return;
    }
    case fkFloat: {
      if (value.empty()) break;
      const auto f = xbrec::ParseFloat(value);
      if (!f) InvalidValue(kNotFloat, value, FFieldName);
      v.HasValue = true;
      v.Float = *f;
      break;
    }
    case fkDate: {
      if (value.empty()) break;
      const auto d = xbrec::ParseDate(value);
      if (!d) InvalidValue(kNotDate, value, FFieldName);
      v.HasValue = true;
      v.Day = *d;
      break;
    }
    case fkBoolean: {
      if (value.empty()) break;
      const std::string u = platform::AsciiUpper(value);
      if (u == "T" || u == "Y" || u == "J" || u == "TRUE" || u == "WAHR") {
        v.Bool = true;
      } else if (u == "F" || u == "N" || u == "FALSE" || u == "FALSCH") {
        v.Bool = false;
      } else {
        InvalidValue(kNotBoolean, value, FFieldName);
      }
      v.HasValue = true;
      break;
    }
    case fkMemo:
    case fkBlob: NotAs(*this, "String");
  }
  FDataSet.SetValue(FIndex, std::move(v));
}

void TField::SetAsInteger(std::int32_t value) {
  FDataSet.CheckEditing(*this);
  xbrec::TFieldValue v;
  v.HasValue = true;
  switch (FKind) {
    case fkString: SetAsString(std::to_string(value)); return;
    case fkSmallint:
      if (value < -32768 || value > 32767)
        throw EXbError(std::to_string(value) + " ist kein gültiger Wert für Feld '" + FFieldName +
                       "'. Der erlaubte Bereich ist -32768 bis 32767");
      v.Int = value;
      break;
    case fkInteger: v.Int = value; break;
    case fkFloat: v.Float = value; break;
    default: NotAs(*this, "Integer");
  }
  FDataSet.SetValue(FIndex, std::move(v));
}

void TField::SetAsFloat(double value) {
  FDataSet.CheckEditing(*this);
  switch (FKind) {
    case fkString: SetAsString(xbrec::FormatFloat(value)); return;
    case fkSmallint:
    case fkInteger: {
      const auto i = xbrec::RoundToInt(value);
      if (!i) InvalidValue(kNotInteger, xbrec::FormatFloat(value), FFieldName);
      SetAsInteger(*i);
      return;
    }
    case fkFloat: {
      if (!std::isfinite(value)) InvalidValue(kNotFloat, std::to_string(value), FFieldName);
      xbrec::TFieldValue v;
      v.HasValue = true;
      v.Float = value;
      FDataSet.SetValue(FIndex, std::move(v));
      return;
    }
    case fkDate: SetAsDateTime(value); return;
    default: NotAs(*this, "Float");
  }
}

void TField::SetAsDateTime(double value) {
  FDataSet.CheckEditing(*this);
  switch (FKind) {
    case fkString: SetAsString(xbrec::FormatDateTime(value)); return;
    case fkFloat: SetAsFloat(value); return;
    case fkDate: {
      xbrec::TFieldValue v;
      if (std::isfinite(value) && value >= 1) {
        const double whole = std::trunc(value);
        if (whole > 2958465)  // 31.12.9999
          InvalidValue(kNotDate, xbrec::FormatFloat(value), FFieldName);
        v.HasValue = true;
        v.Day = static_cast<std::int32_t>(whole);
      } else if (!std::isfinite(value)) {
        InvalidValue(kNotDate, std::to_string(value), FFieldName);
      }
      FDataSet.SetValue(FIndex, std::move(v));
      return;
    }
    default: NotAs(*this, "DateTime");
  }
}

void TField::SetAsBoolean(bool value) {
  FDataSet.CheckEditing(*this);
  switch (FKind) {
    case fkString: SetAsString(value ? "T" : "F"); return;
    case fkBoolean: {
      xbrec::TFieldValue v;
      v.HasValue = true;
      v.Bool = value;
      FDataSet.SetValue(FIndex, std::move(v));
      return;
    }
    default: NotAs(*this, "Boolean");
  }
}

void TField::Clear() {
  FDataSet.CheckEditing(*this);
  if (FKind == fkMemo || FKind == fkBlob) NotAs(*this, "String");
  FDataSet.SetValue(FIndex, xbrec::TFieldValue{});
}

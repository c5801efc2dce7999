#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "Format.h"
#include "Nodes.h"

namespace xbe::expr {
namespace {

constexpr int kMaxArgs = 3;
using EvalFn = bool (*)(Value* args, int count, const RecordAccess& record, Value& out, std::string* error);

struct FunctionDef {
  const char* name;
  const char* argTypes;  // C N D L, or x for any type
  int minArgs;
  ValueType result;
  EvalFn eval;
};

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

void SetText(Value& out, std::string s) {
  out.Reset();
  out.str = std::move(s);
}

// Takes the text of an argument; the argument keeps the result's old
// memory, so that an expression evaluated key after key stops allocating.
void TakeText(Value& out, std::string& s) {
  out.Reset();
  out.str.swap(s);
}

void SetNumber(Value& out, double n, int decimals = 0) {
  out.Reset(ValueType::Numeric);
  out.num = n == 0 ? 0 : n;
  out.decimals = decimals;
}

void SetLogical(Value& out, bool b) {
  out.Reset(ValueType::Logical);
  out.logical = b;
}

void SetDate(Value& out, std::int64_t jdn) {
  out.Reset(ValueType::Date);
  out.jdn = ValidJdn(jdn) ? jdn : 0;
}

// A count argument (widths, lengths) as a bounded integer.
bool Count(const Value& v, const char* fn, std::int64_t& n, std::string* error) {
  if (!std::isfinite(v.num)) return Fail(error, std::string(fn) + ": invalid number");
  const double t = std::trunc(v.num);
  if (t > static_cast<double>(kMaxStringLength))
    return Fail(error, std::string(fn) + ": length larger than 65535");
  n = t < -1e9 ? -1000000000 : static_cast<std::int64_t>(t);
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string LTrim(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

bool Str(Value* a, int n, const RecordAccess&, Value& out, std::string* error) {
  int width = DefaultStrWidth(a[0]);
  int decimals = a[0].width > 0 || n == 1 ? a[0].decimals : 0;
  if (n >= 2) {
    std::int64_t w;
    if (!Count(a[1], "STR", w, error)) return false;
    if (w >= 1) width = static_cast<int>(w);
    decimals = 0;
  }
  if (n >= 3) {
    std::int64_t d;
    if (!Count(a[2], "STR", d, error)) return false;
    decimals = d < 0 ? 0 : static_cast<int>(d);
  }
  const double v = a[0].num;
  out.Reset();
  AppendStr(out.str, v, width, decimals);
  return true;
}

bool StrZero(Value* a, int n, const RecordAccess& r, Value& out, std::string* error) {
  if (!Str(a, n, r, out, error)) return false;
  std::string& s = out.str;
  const auto digit = s.find_first_not_of(" -");
  if (digit == std::string::npos || s[0] == '*') return true;
  const bool negative = s.find('-') != std::string::npos;
  for (std::size_t i = 0; i < digit; ++i) s[i] = '0';
  if (negative) s[0] = '-';
  return true;
}

bool Val(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  int decimals = 0;
  const double v = ParsePrefixNumber(a[0].str, decimals);
  SetNumber(out, v, decimals);
  return true;
}

bool Upper(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  FlipCase<'a', 'z'>(a[0].str.data(), a[0].str.size());
  TakeText(out, a[0].str);
  return true;
}

bool Lower(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  FlipCase<'A', 'Z'>(a[0].str.data(), a[0].str.size());
  TakeText(out, a[0].str);
  return true;
}

bool Substr(Value* a, int n, const RecordAccess&, Value& out, std::string* error) {
  const std::string& s = a[0].str;
  const auto size = static_cast<std::int64_t>(s.size());
  std::int64_t start, len = size;
  if (!Count(a[1], "SUBSTR", start, error)) return false;
  if (n >= 3 && !Count(a[2], "SUBSTR", len, error)) return false;
  if (start < 0) start = std::max<std::int64_t>(size + start, 0);  // counts from the end
  else if (start > 0) --start;
  if (start >= size || len <= 0) {
    SetText(out, {});
    return true;
  }
  SetText(out, s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(std::min(len, size - start))));
  return true;
}

bool Left(Value* a, int, const RecordAccess&, Value& out, std::string* error) {
  std::int64_t len;
  if (!Count(a[1], "LEFT", len, error)) return false;
  SetText(out, len <= 0 ? std::string() : a[0].str.substr(0, static_cast<std::size_t>(len)));
  return true;
}

bool Right(Value* a, int, const RecordAccess&, Value& out, std::string* error) {
  std::int64_t len;
  if (!Count(a[1], "RIGHT", len, error)) return false;
  const std::string& s = a[0].str;
  if (len <= 0) SetText(out, {});
  else if (static_cast<std::size_t>(len) >= s.size()) SetText(out, s);
  else SetText(out, s.substr(s.size() - static_cast<std::size_t>(len)));
  return true;
}

bool FnRTrim(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetText(out, RTrim(std::move(a[0].str)));
  return true;
}

bool FnLTrim(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetText(out, LTrim(a[0].str));
  return true;
}

bool AllTrim(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetText(out, LTrim(RTrim(std::move(a[0].str))));
  return true;
}

// The text PADL/PADR/PADC pad: numbers without their leading blanks.
std::string PadSource(const Value& v) {
  switch (v.type) {
    case ValueType::Numeric: return LTrim(ValueToText(v));
    case ValueType::Date: return DtocFromJdn(v.jdn);
    default: return ValueToText(v);
  }
}

bool Pad(Value* a, int n, Value& out, std::string* error, int where) {
  std::int64_t len;
  if (!Count(a[1], "PAD", len, error)) return false;
  const char fill = n >= 3 && !a[2].str.empty() ? a[2].str[0] : ' ';
  std::string s = PadSource(a[0]);
  if (len <= 0) {
    SetText(out, {});
    return true;
  }
  const auto l = static_cast<std::size_t>(len);
  if (s.size() >= l) {
    SetText(out, where == 0 ? s.substr(s.size() - l) : s.substr(0, l));  // PADL keeps the right end
    return true;
  }
  const std::size_t missing = l - s.size();
  if (where == 0) s.insert(0, missing, fill);
  else if (where == 1) s.append(missing, fill);
  else {
    s.insert(0, missing / 2, fill);
    s.append(missing - missing / 2, fill);
  }
  SetText(out, std::move(s));
  return true;
}

bool PadL(Value* a, int n, const RecordAccess&, Value& out, std::string* e) { return Pad(a, n, out, e, 0); }
bool PadR(Value* a, int n, const RecordAccess&, Value& out, std::string* e) { return Pad(a, n, out, e, 1); }
bool PadC(Value* a, int n, const RecordAccess&, Value& out, std::string* e) { return Pad(a, n, out, e, 2); }

bool Replicate(Value* a, int, const RecordAccess&, Value& out, std::string* error) {
  std::int64_t times;
  if (!Count(a[1], "REPLICATE", times, error)) return false;
  if (times <= 0 || a[0].str.empty()) {
    SetText(out, {});
    return true;
  }
  if (a[0].str.size() * static_cast<std::size_t>(times) > kMaxStringLength)
    return Fail(error, "REPLICATE: result longer than 65535 characters");
  std::string s;
  for (std::int64_t i = 0; i < times; ++i) s += a[0].str;
  SetText(out, std::move(s));
  return true;
}

bool Space(Value* a, int, const RecordAccess&, Value& out, std::string* error) {
  std::int64_t len;
  if (!Count(a[0], "SPACE", len, error)) return false;
  SetText(out, std::string(len > 0 ? static_cast<std::size_t>(len) : 0, ' '));
  return true;
}

bool Len(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetNumber(out, static_cast<double>(a[0].str.size()));
  return true;
}

bool Dtos(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetText(out, DtosFromJdn(a[0].jdn));
  return true;
}

// DTOC and CTOD use the German form DD.MM.YYYY whatever the locale: the
// host is a German product. Host keys use DTOS, which has no such choice.
bool Dtoc(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetText(out, DtocFromJdn(a[0].jdn));
  return true;
}

bool Ctod(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetDate(out, JdnFromDtoc(a[0].str));
  return true;
}

bool Stod(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetDate(out, JdnFromDtos(a[0].str));
  return true;
}

bool DatePart(const Value& d, int part, Value& out) {
  int y = 0, m = 0, day = 0;
  if (ValidJdn(d.jdn)) YmdFromJdn(d.jdn, y, m, day);
  SetNumber(out, part == 0 ? y : part == 1 ? m : day);
  return true;
}

bool Year(Value* a, int, const RecordAccess&, Value& out, std::string*) { return DatePart(a[0], 0, out); }
bool Month(Value* a, int, const RecordAccess&, Value& out, std::string*) { return DatePart(a[0], 1, out); }
bool Day(Value* a, int, const RecordAccess&, Value& out, std::string*) { return DatePart(a[0], 2, out); }

bool Empty(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  const Value& v = a[0];
  bool empty = false;
  switch (v.type) {
    case ValueType::Character: {
      empty = true;
      for (char c : v.str)
        if (!IsBlank(c)) empty = false;
      break;
    }
    case ValueType::Numeric: empty = v.num == 0; break;
    case ValueType::Date: empty = v.jdn == 0; break;
    case ValueType::Logical: empty = !v.logical; break;
  }
  SetLogical(out, empty);
  return true;
}

bool Deleted(Value*, int, const RecordAccess& r, Value& out, std::string*) {
  SetLogical(out, r.Deleted());
  return true;
}

bool RecNo(Value*, int, const RecordAccess& r, Value& out, std::string*) {
  SetNumber(out, r.RecNo());
  return true;
}

bool Int(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  SetNumber(out, std::trunc(a[0].num));
  return true;
}

bool Abs(Value* a, int, const RecordAccess&, Value& out, std::string*) {
  const Value v = a[0];
  out = v;
  out.num = std::fabs(v.num);
  return true;
}

bool Round(Value* a, int, const RecordAccess&, Value& out, std::string* error) {
  std::int64_t d;
  if (!Count(a[1], "ROUND", d, error)) return false;
  if (d < 0 || d > 15) return Fail(error, "ROUND: decimals out of range");
  double v = 0;
  if (!ParseNumber(FormatStr(a[0].num, 40, static_cast<int>(d)), v)) v = a[0].num;  // beyond 40 digits
  SetNumber(out, v, static_cast<int>(d));
  return true;
}

const FunctionDef kFunctions[] = {
    {"STR", "NNN", 1, ValueType::Character, Str},
    {"STRZERO", "NNN", 1, ValueType::Character, StrZero},
    {"VAL", "C", 1, ValueType::Numeric, Val},
    {"UPPER", "C", 1, ValueType::Character, Upper},
    {"LOWER", "C", 1, ValueType::Character, Lower},
    {"SUBSTR", "CNN", 2, ValueType::Character, Substr},
    {"LEFT", "CN", 2, ValueType::Character, Left},
    {"RIGHT", "CN", 2, ValueType::Character, Right},
    {"TRIM", "C", 1, ValueType::Character, FnRTrim},
    {"RTRIM", "C", 1, ValueType::Character, FnRTrim},
    {"LTRIM", "C", 1, ValueType::Character, FnLTrim},
    {"ALLTRIM", "C", 1, ValueType::Character, AllTrim},
    {"PADL", "xNC", 2, ValueType::Character, PadL},
    {"PADR", "xNC", 2, ValueType::Character, PadR},
    {"PADC", "xNC", 2, ValueType::Character, PadC},
    {"REPLICATE", "CN", 2, ValueType::Character, Replicate},
    {"SPACE", "N", 1, ValueType::Character, Space},
    {"LEN", "C", 1, ValueType::Numeric, Len},
    {"DTOS", "D", 1, ValueType::Character, Dtos},
    {"DTOC", "D", 1, ValueType::Character, Dtoc},
    {"CTOD", "C", 1, ValueType::Date, Ctod},
    {"STOD", "C", 1, ValueType::Date, Stod},
    {"YEAR", "D", 1, ValueType::Numeric, Year},
    {"MONTH", "D", 1, ValueType::Numeric, Month},
    {"DAY", "D", 1, ValueType::Numeric, Day},
    {"EMPTY", "x", 1, ValueType::Logical, Empty},
    {"DELETED", "", 0, ValueType::Logical, Deleted},
    {"RECNO", "", 0, ValueType::Numeric, RecNo},
    {"INT", "N", 1, ValueType::Numeric, Int},
    {"ABS", "N", 1, ValueType::Numeric, Abs},
    {"ROUND", "NN", 2, ValueType::Numeric, Round},
};

class Call final : public Node {
 public:
  Call(const FunctionDef& def, std::vector<NodePtr> args) : Node(def.result), def_(def), args_(std::move(args)) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    for (std::size_t i = 0; i < args_.size(); ++i) {
      values_[i].Reset();
      if (!args_[i]->Eval(record, values_[i], error)) return false;
    }
    return def_.eval(values_.data(), static_cast<int>(args_.size()), record, out, error);
  }

 private:
  const FunctionDef& def_;
  std::vector<NodePtr> args_;
  // The arguments' values, kept from one evaluation to the next for their
  // string memory. A node is never evaluated within its own evaluation, and
  // an expression belongs to one work area, used by one thread at a time.
  mutable std::array<Value, kMaxArgs> values_;
};

class Iif final : public Node {
 public:
  Iif(NodePtr cond, NodePtr a, NodePtr b)
      : Node(a->Type()), cond_(std::move(cond)), a_(std::move(a)), b_(std::move(b)) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    if (!cond_->Eval(record, out, error)) return false;
    return (out.logical ? a_ : b_)->Eval(record, out, error);
  }

 private:
  NodePtr cond_, a_, b_;
};

char TypeLetter(ValueType t) {
  switch (t) {
    case ValueType::Character: return 'C';
    case ValueType::Numeric: return 'N';
    case ValueType::Date: return 'D';
    case ValueType::Logical: return 'L';
  }
  return '?';
}

const FunctionDef* Find(const std::string& name) {
  for (const auto& f : kFunctions)
    if (name == f.name) return &f;
  // xBase accepts a function name cut to four or more letters.
  if (name.size() >= 4)
    for (const auto& f : kFunctions)
      if (std::strncmp(f.name, name.c_str(), name.size()) == 0) return &f;
  return nullptr;
}

}  // namespace

NodePtr MakeCall(const std::string& name, std::vector<NodePtr> args, std::string* error) {
  const int count = static_cast<int>(args.size());
  if (name == "IIF" || name == "IF") {
    if (count != 3) {
      if (error) *error = "IIF needs 3 arguments";
      return nullptr;
    }
    if (args[0]->Type() != ValueType::Logical) {
      if (error) *error = "IIF: the condition must be logical";
      return nullptr;
    }
    if (args[1]->Type() != args[2]->Type()) {
      if (error) *error = "IIF: both results must have the same type";
      return nullptr;
    }
    return std::make_unique<Iif>(std::move(args[0]), std::move(args[1]), std::move(args[2]));
  }
  const FunctionDef* def = Find(name);
  if (!def) {
    if (error) *error = "unknown function " + name + "()";
    return nullptr;
  }
  const int maxArgs = static_cast<int>(std::strlen(def->argTypes));
  if (count < def->minArgs || count > maxArgs) {
    if (error) *error = std::string(def->name) + ": wrong number of arguments";
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    const char want = def->argTypes[i];
    if (want != 'x' && TypeLetter(args[i]->Type()) != want) {
      if (error)
        *error = std::string(def->name) + ": argument " + std::to_string(i + 1) + " has the wrong type";
      return nullptr;
    }
  }
  return std::make_unique<Call>(*def, std::move(args));
}

}  // namespace xbe::expr

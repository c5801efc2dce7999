#include "Nodes.h"

#include <cmath>
#include <cstring>

#include "Format.h"

namespace xbe::expr {
namespace {

class Literal final : public Node {
 public:
  explicit Literal(Value v) : Node(v.type), value_(std::move(v)) {}
  bool Eval(const RecordAccess&, Value& out, std::string*) const override {
    out = value_;
    return true;
  }

 private:
  Value value_;
};

class Field final : public Node {
 public:
  Field(int field, char type) : Node(FieldValueType(type)), field_(field), type_(type) {}
  bool Eval(const RecordAccess& record, Value& out, std::string*) const override {
    ReadField(record, field_, type_, out);
    return true;
  }

 private:
  int field_;
  char type_;
};

class Binary : public Node {
 public:
  Binary(ValueType type, NodePtr l, NodePtr r) : Node(type), left_(std::move(l)), right_(std::move(r)) {}

 protected:
  bool Operands(const RecordAccess& record, Value& a, Value& b, std::string* error) const {
    return left_->Eval(record, a, error) && right_->Eval(record, b, error);
  }
  NodePtr left_, right_;
};

bool TooLong(std::size_t n, std::string* error) {
  if (n <= kMaxStringLength) return false;
  if (error) *error = "string result longer than 65535 characters";
  return true;
}

class Concat final : public Binary {
 public:
  Concat(NodePtr l, NodePtr r, bool moveBlanks)
      : Binary(ValueType::Character, std::move(l), std::move(r)), moveBlanks_(moveBlanks) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    Value b;
    if (!Operands(record, out, b, error)) return false;
    if (TooLong(out.str.size() + b.str.size(), error)) return false;
    if (moveBlanks_) {
      // "ALPHA  " - "X" gives "ALPHAX  ": the left side's trailing blanks
      // move behind the right side.
      const auto end = out.str.find_last_not_of(' ');
      const std::size_t blanks = out.str.size() - (end == std::string::npos ? 0 : end + 1);
      out.str.resize(out.str.size() - blanks);
      out.str += b.str;
      out.str.append(blanks, ' ');
    } else {
      out.str += b.str;
    }
    return true;
  }

 private:
  bool moveBlanks_;
};

class Arithmetic final : public Binary {
 public:
  Arithmetic(BinaryOp op, NodePtr l, NodePtr r) : Binary(ValueType::Numeric, std::move(l), std::move(r)), op_(op) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    Value a, b;
    if (!Operands(record, a, b, error)) return false;
    out = Value{};
    out.type = ValueType::Numeric;
    switch (op_) {
      case BinaryOp::Add: out.num = a.num + b.num; out.decimals = std::max(a.decimals, b.decimals); break;
      case BinaryOp::Sub: out.num = a.num - b.num; out.decimals = std::max(a.decimals, b.decimals); break;
      case BinaryOp::Mul: out.num = a.num * b.num; out.decimals = std::min(a.decimals + b.decimals, 18); break;
      case BinaryOp::Div:
      case BinaryOp::Mod:
        if (b.num == 0) {
          if (error) *error = "division by zero";
          return false;
        }
        if (op_ == BinaryOp::Div) {
          out.num = a.num / b.num;
          // A division that comes out whole stays an integer; else the
          // default of two decimals.
          out.decimals = (a.decimals == 0 && b.decimals == 0 && std::fmod(a.num, b.num) == 0) ? 0 : 2;
        } else {
          out.num = std::fmod(a.num, b.num);
          if (out.num != 0 && ((out.num < 0) != (b.num < 0))) out.num += b.num;
          out.decimals = std::max(a.decimals, b.decimals);
        }
        break;
      case BinaryOp::Pow: out.num = std::pow(a.num, b.num); out.decimals = 2; break;
      default: break;
    }
    if (!std::isfinite(out.num)) {
      if (error) *error = "numeric overflow";
      return false;
    }
    if (out.num == 0) out.num = 0;
    return true;
  }

 private:
  BinaryOp op_;
};

// date + number, number + date, date - number, date - date
class DateArithmetic final : public Binary {
 public:
  DateArithmetic(ValueType type, BinaryOp op, NodePtr l, NodePtr r)
      : Binary(type, std::move(l), std::move(r)), op_(op) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    Value a, b;
    if (!Operands(record, a, b, error)) return false;
    out = Value{};
    out.type = Type();
    if (Type() == ValueType::Numeric) {  // date - date
      out.num = static_cast<double>(a.jdn - b.jdn);
      return true;
    }
    const Value& date = a.type == ValueType::Date ? a : b;
    const Value& days = a.type == ValueType::Date ? b : a;
    if (!std::isfinite(days.num) || std::fabs(days.num) > 1e8) {
      if (error) *error = "date out of range";
      return false;
    }
    const auto n = static_cast<std::int64_t>(std::trunc(days.num));
    out.jdn = op_ == BinaryOp::Sub ? date.jdn - n : date.jdn + n;
    if (!ValidJdn(out.jdn)) out.jdn = 0;
    return true;
  }

 private:
  BinaryOp op_;
};

template <class T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

class Comparison final : public Binary {
 public:
  Comparison(BinaryOp op, NodePtr l, NodePtr r) : Binary(ValueType::Logical, std::move(l), std::move(r)), op_(op) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    Value a, b;
    if (!Operands(record, a, b, error)) return false;
    out = Value{};
    out.type = ValueType::Logical;
    if (op_ == BinaryOp::Contains) {
      out.logical = b.str.find(a.str) != std::string::npos;
      return true;
    }
    if (op_ == BinaryOp::ExactEq && a.type == ValueType::Character) {
      out.logical = a.str == b.str;
      return true;
    }
    int c = 0;
    switch (a.type) {
      case ValueType::Character: c = CompareText(a.str, b.str); break;
      case ValueType::Numeric: c = Order(a.num, b.num); break;
      case ValueType::Date: c = Order(a.jdn, b.jdn); break;
      case ValueType::Logical: c = Order(a.logical, b.logical); break;
    }
    switch (op_) {
      case BinaryOp::Eq:
      case BinaryOp::ExactEq: out.logical = c == 0; break;
      case BinaryOp::Ne: out.logical = c != 0; break;
      case BinaryOp::Lt: out.logical = c < 0; break;
      case BinaryOp::Le: out.logical = c <= 0; break;
      case BinaryOp::Gt: out.logical = c > 0; break;
      case BinaryOp::Ge: out.logical = c >= 0; break;
      default: break;
    }
    return true;
  }

 private:
  BinaryOp op_;
};

class Logic final : public Binary {
 public:
  Logic(bool isAnd, NodePtr l, NodePtr r) : Binary(ValueType::Logical, std::move(l), std::move(r)), and_(isAnd) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    if (!left_->Eval(record, out, error)) return false;
    if (out.logical != and_) return true;  // short circuit
    return right_->Eval(record, out, error);
  }

 private:
  bool and_;
};

class Unary final : public Node {
 public:
  Unary(ValueType type, NodePtr operand) : Node(type), operand_(std::move(operand)) {}
  bool Eval(const RecordAccess& record, Value& out, std::string* error) const override {
    if (!operand_->Eval(record, out, error)) return false;
    if (Type() == ValueType::Logical)
      out.logical = !out.logical;
    else
      out.num = out.num == 0 ? 0 : -out.num;
    return true;
  }

 private:
  NodePtr operand_;
};

const char* TypeName(ValueType t) {
  switch (t) {
    case ValueType::Character: return "character";
    case ValueType::Numeric: return "numeric";
    case ValueType::Date: return "date";
    case ValueType::Logical: return "logical";
  }
  return "?";
}

const char* OpName(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add: return "+";
    case BinaryOp::Sub: return "-";
    case BinaryOp::Mul: return "*";
    case BinaryOp::Div: return "/";
    case BinaryOp::Mod: return "%";
    case BinaryOp::Pow: return "**";
    case BinaryOp::Eq: return "=";
    case BinaryOp::ExactEq: return "==";
    case BinaryOp::Ne: return "<>";
    case BinaryOp::Lt: return "<";
    case BinaryOp::Le: return "<=";
    case BinaryOp::Gt: return ">";
    case BinaryOp::Ge: return ">=";
    case BinaryOp::Contains: return "$";
    case BinaryOp::And: return ".AND.";
    case BinaryOp::Or: return ".OR.";
  }
  return "?";
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) a = a.substr(0, b.size());
  const std::size_t n = std::min(a.size(), b.size());
  if (n > 0) {
    const int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : 0;
}

NodePtr MakeLiteral(Value v) { return std::make_unique<Literal>(std::move(v)); }

NodePtr MakeField(int field, char fieldType) { return std::make_unique<Field>(field, fieldType); }

NodePtr MakeBinary(BinaryOp op, NodePtr left, NodePtr right, std::string* error) {
  const ValueType lt = left->Type(), rt = right->Type();
  using VT = ValueType;
  auto mismatch = [&]() -> NodePtr {
    if (error)
      *error = std::string("operator ") + OpName(op) + " cannot combine " + TypeName(lt) + " and " +
               TypeName(rt) + " values";
    return nullptr;
  };
  switch (op) {
    case BinaryOp::Add:
    case BinaryOp::Sub:
      if (lt == VT::Character && rt == VT::Character)
        return std::make_unique<Concat>(std::move(left), std::move(right), op == BinaryOp::Sub);
      if (lt == VT::Numeric && rt == VT::Numeric)
        return std::make_unique<Arithmetic>(op, std::move(left), std::move(right));
      if ((lt == VT::Date && rt == VT::Numeric) || (op == BinaryOp::Add && lt == VT::Numeric && rt == VT::Date))
        return std::make_unique<DateArithmetic>(VT::Date, op, std::move(left), std::move(right));
      if (op == BinaryOp::Sub && lt == VT::Date && rt == VT::Date)
        return std::make_unique<DateArithmetic>(VT::Numeric, op, std::move(left), std::move(right));
      return mismatch();
    case BinaryOp::Mul:
    case BinaryOp::Div:
    case BinaryOp::Mod:
    case BinaryOp::Pow:
      if (lt == VT::Numeric && rt == VT::Numeric)
        return std::make_unique<Arithmetic>(op, std::move(left), std::move(right));
      return mismatch();
    case BinaryOp::Contains:
      if (lt == VT::Character && rt == VT::Character)
        return std::make_unique<Comparison>(op, std::move(left), std::move(right));
      return mismatch();
    case BinaryOp::And:
    case BinaryOp::Or:
      if (lt == VT::Logical && rt == VT::Logical)
        return std::make_unique<Logic>(op == BinaryOp::And, std::move(left), std::move(right));
      return mismatch();
    default:
      if (lt == rt) return std::make_unique<Comparison>(op, std::move(left), std::move(right));
      return mismatch();
  }
}

NodePtr MakeNegate(NodePtr operand, std::string* error) {
  if (operand->Type() != ValueType::Numeric) {
    if (error) *error = std::string("unary minus needs a numeric value, not ") + TypeName(operand->Type());
    return nullptr;
  }
  return std::make_unique<Unary>(ValueType::Numeric, std::move(operand));
}

NodePtr MakeNot(NodePtr operand, std::string* error) {
  if (operand->Type() != ValueType::Logical) {
    if (error) *error = std::string(".NOT. needs a logical value, not ") + TypeName(operand->Type());
    return nullptr;
  }
  return std::make_unique<Unary>(ValueType::Logical, std::move(operand));
}

}  // namespace xbe::expr

#pragma once
// The compiled form of an expression: a tree of typed nodes. Types are
// fixed at compile time, so evaluation never meets a type mismatch.
#include <memory>
#include <string>
#include <vector>

#include "../Expression.h"

namespace xbe::expr {

class Node {
 public:
  explicit Node(ValueType type) : type_(type) {}
  virtual ~Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ValueType Type() const { return type_; }
  virtual bool Eval(const RecordAccess& record, Value& out, std::string* error) const = 0;

 private:
  ValueType type_;
};

using NodePtr = std::unique_ptr<Node>;

NodePtr MakeLiteral(Value v);
NodePtr MakeField(int field, char fieldType);

enum class BinaryOp { Add, Sub, Mul, Div, Mod, Pow, Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Contains, And, Or };
// Null with *error when the operand types do not fit the operator.
NodePtr MakeBinary(BinaryOp op, NodePtr left, NodePtr right, std::string* error);
NodePtr MakeNegate(NodePtr operand, std::string* error);
NodePtr MakeNot(NodePtr operand, std::string* error);

// Function calls; `name` is upper case and may be abbreviated to four or
// more letters.
NodePtr MakeCall(const std::string& name, std::vector<NodePtr> args, std::string* error);

// The string comparison of '=', '<' and friends with SET EXACT off: the
// left side is cut to the length of the right side.
int CompareText(std::string_view a, std::string_view b);

}  // namespace xbe::expr

// Tokenizer and recursive-descent parser. Precedence, loosest first:
// .OR.; .AND.; .NOT./!; comparisons (= == <> # != < <= > >= $);
// + -; * / %; ** ^; unary + -; operands.
#include <charconv>

#include "Format.h"
#include "Nodes.h"

namespace xbe {
namespace {

using expr::BinaryOp;
using expr::NodePtr;

// Deep nesting is refused rather than risking the stack, both while parsing
// and while evaluating or destroying the tree.
constexpr int kMaxDepth = 128;
constexpr std::size_t kMaxNodes = 4096;
constexpr std::size_t kMaxTextLength = 16384;

enum class Tok {
  End, Ident, Number, String, Date, Logical, LParen, RParen, Comma, Arrow,
  Plus, Minus, Star, Slash, Percent, Power,
  Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Dollar, And, Or, Not
};

struct Token {
  Tok kind = Tok::End;
  std::size_t pos = 0;
  std::string text;  // identifiers in upper case, string contents
  double number = 0;
  int decimals = 0;
  std::int64_t jdn = 0;
  bool logical = false;
};

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view word) {
  if (s.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Up(s[at + i]) != word[i]) return false;
  return true;
}

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}

  bool Run(std::vector<Token>& out, std::string* error) {
    while (true) {
      while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
      Token t;
      t.pos = i_;
      if (i_ >= s_.size()) {
        out.push_back(t);
        return true;
      }
      if (!Next(t, error)) return false;
      out.push_back(std::move(t));
    }
  }

 private:
  bool Fail(std::string* error, const std::string& what) {
    if (error) *error = what + " at position " + std::to_string(i_ + 1);
    return false;
  }

  bool Next(Token& t, std::string* error) {
    const char c = s_[i_];
    if (IsIdentStart(c)) {
      while (i_ < s_.size() && (IsIdentStart(s_[i_]) || IsDigit(s_[i_]))) t.text.push_back(Up(s_[i_++]));
      t.kind = Tok::Ident;
      return true;
    }
    if (IsDigit(c) || (c == '.' && i_ + 1 < s_.size() && IsDigit(s_[i_ + 1]))) return Number(t, error);
    if (c == '.') return DotWord(t, error);
    if (c == '"' || c == '\'' || c == '[') {
      const char close = c == '[' ? ']' : c;
      const auto end = s_.find(close, i_ + 1);
      if (end == std::string_view::npos) return Fail(error, "unterminated string");
      t.kind = Tok::String;
      t.text.assign(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      return true;
    }
    if (c == '{') return DateLiteral(t, error);
    auto two = [&](char second) { return i_ + 1 < s_.size() && s_[i_ + 1] == second; };
    auto set = [&](Tok k, std::size_t len) {
      t.kind = k;
      i_ += len;
      return true;
    };
    switch (c) {
      case '(': return set(Tok::LParen, 1);
      case ')': return set(Tok::RParen, 1);
      case ',': return set(Tok::Comma, 1);
      case '+': return set(Tok::Plus, 1);
      case '-': return two('>') ? set(Tok::Arrow, 2) : set(Tok::Minus, 1);
      case '*': return two('*') ? set(Tok::Power, 2) : set(Tok::Star, 1);
      case '^': return set(Tok::Power, 1);
      case '/': return set(Tok::Slash, 1);
      case '%': return set(Tok::Percent, 1);
      case '$': return set(Tok::Dollar, 1);
      case '#': return set(Tok::Ne, 1);
      case '=': return two('=') ? set(Tok::ExactEq, 2) : set(Tok::Eq, 1);
      case '!': return two('=') ? set(Tok::Ne, 2) : set(Tok::Not, 1);
      case '<':
        if (two('=')) return set(Tok::Le, 2);
        if (two('>')) return set(Tok::Ne, 2);
        return set(Tok::Lt, 1);
      case '>': return two('=') ? set(Tok::Ge, 2) : set(Tok::Gt, 1);
      default: break;
    }
    return Fail(error, "unexpected character '" + std::string(1, c) + "'");
  }

  bool Number(Token& t, std::string* error) {
    const std::size_t start = i_;
    while (i_ < s_.size() && IsDigit(s_[i_])) ++i_;
    if (i_ + 1 < s_.size() && s_[i_] == '.' && IsDigit(s_[i_ + 1])) {
      ++i_;
      while (i_ < s_.size() && IsDigit(s_[i_])) {
        ++i_;
        ++t.decimals;
      }
    }
    const auto text = s_.substr(start, i_ - start);
    auto r = std::from_chars(text.data(), text.data() + text.size(), t.number, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return Fail(error, "invalid number");
    if (t.decimals > 18) t.decimals = 18;
    t.kind = Tok::Number;
    return true;
  }

  bool DotWord(Token& t, std::string* error) {
    static const struct {
      const char* word;
      Tok kind;
      bool value;
    } kWords[] = {{".AND.", Tok::And, false}, {".OR.", Tok::Or, false}, {".NOT.", Tok::Not, false},
                  {".T.", Tok::Logical, true}, {".Y.", Tok::Logical, true},
                  {".F.", Tok::Logical, false}, {".N.", Tok::Logical, false}};
    for (const auto& w : kWords) {
      const std::string_view word = w.word;
      if (StartsWithNoCase(s_, i_, word)) {
        t.kind = w.kind;
        t.logical = w.value;
        i_ += word.size();
        return true;
      }
    }
    return Fail(error, "unexpected '.'");
  }

  bool DateLiteral(Token& t, std::string* error) {
    const auto end = s_.find('}', i_);
    if (end == std::string_view::npos) return Fail(error, "unterminated date literal");
    std::string_view body = s_.substr(i_ + 1, end - i_ - 1);
    while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
    while (!body.empty() && body.back() == ' ') body.remove_suffix(1);
    t.kind = Tok::Date;
    if (!body.empty() && body.front() == '^') {
      // {^YYYY-MM-DD}, also with / or . between the parts
      body.remove_prefix(1);
      int parts[3] = {0, 0, 0};
      int k = 0, digits = 0;
      for (char c : body) {
        if (IsDigit(c) && digits < 4) {
          parts[k] = parts[k] * 10 + (c - '0');
          ++digits;
        } else if ((c == '-' || c == '/' || c == '.') && digits > 0 && k < 2) {
          ++k;
          digits = 0;
        } else {
          return Fail(error, "invalid date literal");
        }
      }
      if (k != 2 || digits == 0) return Fail(error, "invalid date literal");
      t.jdn = expr::JdnFromDtos([&] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", parts[0], parts[1], parts[2]);
        return std::string(buf);
      }());
      if (t.jdn == 0) return Fail(error, "invalid date literal");
    } else if (!body.empty()) {
      t.jdn = expr::JdnFromDtoc(body);
      if (t.jdn == 0) return Fail(error, "invalid date literal");
    }
    i_ = end + 1;
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

class Parser {
 public:
  Parser(std::vector<Token> tokens, const RecordAccess& table) : t_(std::move(tokens)), table_(table) {}

  NodePtr Parse(std::string* error) {
    error_ = error;
    NodePtr n = OrExpr();
    if (!n) return nullptr;
    if (Peek().kind != Tok::End) return Fail("unexpected text");
    return n;
  }

 private:
  const Token& Peek() const { return t_[pos_]; }
  bool Accept(Tok k) {
    if (t_[pos_].kind != k) return false;
    if (k != Tok::End) ++pos_;
    return true;
  }
  NodePtr Fail(const std::string& what) {
    if (error_ && error_->empty()) *error_ = what + " at position " + std::to_string(Peek().pos + 1);
    return nullptr;
  }
  NodePtr Built(NodePtr n) {
    if (!n) return Fail(errorText_);
    if (++nodes_ > kMaxNodes) return Fail("expression too long");
    return n;
  }
  NodePtr Binary(BinaryOp op, NodePtr l, NodePtr r) {
    return Built(expr::MakeBinary(op, std::move(l), std::move(r), &errorText_));
  }

  // Every level goes through here, so one counter bounds the tree depth.
  struct DepthGuard {
    explicit DepthGuard(int& d) : d_(d) { ++d_; }
    ~DepthGuard() { --d_; }
    int& d_;
  };

  NodePtr OrExpr() {
    DepthGuard g(depth_);
    if (depth_ > kMaxDepth) return Fail("expression nested too deeply");
    NodePtr l = AndExpr();
    while (l && Accept(Tok::Or)) {
      NodePtr r = AndExpr();
      if (!r) return nullptr;
      l = Binary(BinaryOp::Or, std::move(l), std::move(r));
      if (!l || !Deeper()) return nullptr;
    }
    return l;
  }

  NodePtr AndExpr() {
    NodePtr l = NotExpr();
    while (l && Accept(Tok::And)) {
      NodePtr r = NotExpr();
      if (!r) return nullptr;
      l = Binary(BinaryOp::And, std::move(l), std::move(r));
      if (!l || !Deeper()) return nullptr;
    }
    return l;
  }

  NodePtr NotExpr() {
    if (Accept(Tok::Not)) {
      DepthGuard g(depth_);
      if (depth_ > kMaxDepth) return Fail("expression nested too deeply");
      NodePtr n = NotExpr();
      if (!n) return nullptr;
      return Built(expr::MakeNot(std::move(n), &errorText_));
    }
    return Relation();
  }

  NodePtr Relation() {
    NodePtr l = Additive();
    while (l) {
      BinaryOp op;
      switch (Peek().kind) {
        case Tok::Eq: op = BinaryOp::Eq; break;
        case Tok::ExactEq: op = BinaryOp::ExactEq; break;
        case Tok::Ne: op = BinaryOp::Ne; break;
        case Tok::Lt: op = BinaryOp::Lt; break;
        case Tok::Le: op = BinaryOp::Le; break;
        case Tok::Gt: op = BinaryOp::Gt; break;
        case Tok::Ge: op = BinaryOp::Ge; break;
        case Tok::Dollar: op = BinaryOp::Contains; break;
        default: return l;
      }
      ++pos_;
      NodePtr r = Additive();
      if (!r) return nullptr;
      l = Binary(op, std::move(l), std::move(r));
      if (!l || !Deeper()) return nullptr;
    }
    return l;
  }

  NodePtr Additive() {
    NodePtr l = Multiplicative();
    while (l) {
      BinaryOp op;
      if (Peek().kind == Tok::Plus) op = BinaryOp::Add;
      else if (Peek().kind == Tok::Minus) op = BinaryOp::Sub;
      else return l;
      ++pos_;
      NodePtr r = Multiplicative();
      if (!r) return nullptr;
      l = Binary(op, std::move(l), std::move(r));
      if (!l || !Deeper()) return nullptr;
    }
    return l;
  }

  NodePtr Multiplicative() {
    NodePtr l = Power();
    while (l) {
      BinaryOp op;
      if (Peek().kind == Tok::Star) op = BinaryOp::Mul;
      else if (Peek().kind == Tok::Slash) op = BinaryOp::Div;
      else if (Peek().kind == Tok::Percent) op = BinaryOp::Mod;
      else return l;
      ++pos_;
      NodePtr r = Power();
      if (!r) return nullptr;
      l = Binary(op, std::move(l), std::move(r));
      if (!l || !Deeper()) return nullptr;
    }
    return l;
  }

  NodePtr Power() {
    NodePtr l = Unary();
    while (l && Accept(Tok::Power)) {
      NodePtr r = Unary();
      if (!r) return nullptr;
      l = Binary(BinaryOp::Pow, std::move(l), std::move(r));
      if (!l || !Deeper()) return nullptr;
    }
    return l;
  }

  NodePtr Unary() {
    if (Peek().kind == Tok::Minus || Peek().kind == Tok::Plus) {
      const bool minus = Peek().kind == Tok::Minus;
      ++pos_;
      DepthGuard g(depth_);
      if (depth_ > kMaxDepth) return Fail("expression nested too deeply");
      NodePtr n = Unary();
      if (!n) return nullptr;
      if (!minus) {
        if (n->Type() != ValueType::Numeric) return Fail("unary plus needs a numeric value");
        return n;
      }
      return Built(expr::MakeNegate(std::move(n), &errorText_));
    }
    return Primary();
  }

  // A left-deep chain (a+b+c+...) does not recurse while parsing but makes
  // a deep tree; count each link against the same limit.
  bool Deeper() {
    if (++chain_ > kMaxDepth * 4) {
      Fail("expression too long");
      return false;
    }
    return true;
  }

  NodePtr Primary() {
    const Token& t = Peek();
    Value v;
    switch (t.kind) {
      case Tok::Number:
        v.type = ValueType::Numeric;
        v.num = t.number;
        v.decimals = t.decimals;
        ++pos_;
        return Built(expr::MakeLiteral(std::move(v)));
      case Tok::String:
        v.str = t.text;
        ++pos_;
        return Built(expr::MakeLiteral(std::move(v)));
      case Tok::Date:
        v.type = ValueType::Date;
        v.jdn = t.jdn;
        ++pos_;
        return Built(expr::MakeLiteral(std::move(v)));
      case Tok::Logical:
        v.type = ValueType::Logical;
        v.logical = t.logical;
        ++pos_;
        return Built(expr::MakeLiteral(std::move(v)));
      case Tok::LParen: {
        ++pos_;
        NodePtr n = OrExpr();
        if (!n) return nullptr;
        if (!Accept(Tok::RParen)) return Fail("missing ')'");
        return n;
      }
      case Tok::Ident: return Identifier();
      case Tok::End: return Fail("unexpected end of expression");
      default: return Fail("unexpected operator");
    }
  }

  NodePtr Identifier() {
    std::string name = Peek().text;
    ++pos_;
    if (Accept(Tok::LParen)) {
      std::vector<NodePtr> args;
      if (!Accept(Tok::RParen)) {
        while (true) {
          if (args.size() >= 3) return Fail("too many arguments");
          NodePtr a = OrExpr();
          if (!a) return nullptr;
          args.push_back(std::move(a));
          if (Accept(Tok::RParen)) break;
          if (!Accept(Tok::Comma)) return Fail("expected ',' or ')'");
        }
      }
      return Built(expr::MakeCall(name, std::move(args), &errorText_));
    }
    if (Accept(Tok::Arrow)) {
      if (Peek().kind != Tok::Ident) return Fail("field name expected after '->'");
      const std::string_view alias = table_.Alias();
      bool aliasOk = name == "FIELD" || name == "_FIELD" || name.size() == alias.size();
      if (aliasOk && name != "FIELD" && name != "_FIELD")
        for (std::size_t i = 0; i < name.size(); ++i)
          if (Up(alias[i]) != name[i]) aliasOk = false;
      if (!aliasOk) return Fail("unknown alias " + name);
      name = Peek().text;
      ++pos_;
    }
    const int field = table_.FindField(name);
    if (field < 0) return Fail("unknown field " + name);
    const char type = table_.FieldType(field);
    if (!expr::FieldUsable(type, table_.FieldWidth(field)))
      return Fail("field " + name + " of type " + std::string(1, type) + " cannot be used in an expression");
    return Built(expr::MakeField(field, type));
  }

  std::vector<Token> t_;
  const RecordAccess& table_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  int chain_ = 0;
  std::size_t nodes_ = 0;
  std::string* error_ = nullptr;
  std::string errorText_;
};

class CompiledExpression final : public Expression {
 public:
  explicit CompiledExpression(NodePtr root) : root_(std::move(root)) {}
  ValueType Type() const override { return root_->Type(); }
  bool Evaluate(const RecordAccess& record, Value& out, std::string* error) const override {
    return root_->Eval(record, out, error);
  }

 private:
  NodePtr root_;
};

}  // namespace

std::unique_ptr<Expression> Expression::Compile(std::string_view text, const RecordAccess& table,
                                                std::string* error) {
  std::string local;
  std::string* err = error ? error : &local;
  err->clear();
  if (text.size() > kMaxTextLength) {
    *err = "expression too long";
    return nullptr;
  }
  std::vector<Token> tokens;
  if (!Lexer(text).Run(tokens, err)) return nullptr;
  if (tokens.size() == 1) {
    *err = "empty expression";
    return nullptr;
  }
  Parser parser(std::move(tokens), table);
  NodePtr root = parser.Parse(err);
  if (!root) {
    if (err->empty()) *err = "invalid expression";
    return nullptr;
  }
  return std::make_unique<CompiledExpression>(std::move(root));
}

}  // namespace xbe

#include "cdx/CdxKeyMaker.h"

#include <cmath>
#include <cstring>

#include "cdx/CdxKeys.h"
#include "cdx/CdxNode.h"
#include "expr/Format.h"
#include "platform/Encoding.h"

namespace xbe::cdx {

namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsIdent(std::string_view s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!alpha && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

// The field a key expression names on its own ("KNT_NR", "konto->KNT_NR").
int BareField(std::string_view expr, const RecordAccess& layout) {
  expr = Trim(expr);
  auto arrow = expr.find("->");
  if (arrow != std::string_view::npos) {
    if (!IsIdent(Trim(expr.substr(0, arrow)))) return -1;
    expr = Trim(expr.substr(arrow + 2));
  }
  if (!IsIdent(expr)) return -1;
  return layout.FindField(expr);
}

char TypeOf(ValueType t) {
  switch (t) {
    case ValueType::Character: return 'C';
    case ValueType::Numeric: return 'N';
    case ValueType::Date: return 'D';
    case ValueType::Logical: return 'L';
  }
  return 'C';
}

std::int64_t LE(std::string_view b, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = n; i > 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b[i - 1]);
  if (n < 8 && (v >> (8 * n - 1)) & 1) v |= ~0ull << (8 * n);  // sign-extend
  return static_cast<std::int64_t>(v);
}

// Splits `s` at `sep` outside parentheses, each part trimmed. False on
// quotes or brackets (literals the pieces do not cover) and on unbalanced
// parentheses.
bool SplitTop(std::string_view s, char sep, std::vector<std::string_view>& parts) {
  parts.clear();
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' || c == '\'' || c == '[' || c == ']') return false;
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth < 0) return false;
    } else if (c == sep && depth == 0) {
      parts.push_back(Trim(s.substr(start, i - start)));
      start = i + 1;
    }
  }
  if (depth != 0) return false;
  parts.push_back(Trim(s.substr(start)));
  return true;
}

// A count argument of STR as the expression engine takes it: plain digits
// up to 65535 (anything else is left to the engine).
bool SmallCount(std::string_view s, int& n) {
  if (s.empty() || s.size() > 5) return false;
  n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n <= static_cast<int>(expr::kMaxStringLength);
}

}  // namespace

BlankRecord::BlankRecord(const RecordAccess& layout) : layout_(layout) {
  int widest = 0;
  for (int f = 0; f < layout.FieldCount(); ++f) widest = std::max(widest, layout.FieldWidth(f));
  blanks_.assign(static_cast<std::size_t>(std::max(widest, 0)), ' ');
  zeros_.assign(blanks_.size(), '\0');
}

std::string_view BlankRecord::FieldBytes(int f) const {
  auto width = static_cast<std::size_t>(std::max(0, layout_.FieldWidth(f)));
  switch (layout_.FieldType(f)) {
    case 'C': case 'N': case 'F': case 'D': case 'L': case 'M':
      return std::string_view(blanks_).substr(0, width);
    default:
      return std::string_view(zeros_).substr(0, width);
  }
}

bool KeyMaker::Init(const std::string& keyExpr, const std::string& forExpr,
                    const RecordAccess& layout, int keyLen, std::string* error) {
  usable_ = false;
  key_.reset();
  for_.reset();
  pieces_.clear();
  field_ = BareField(keyExpr, layout);
  std::string err;
  if (field_ >= 0) {
    fieldType_ = layout.FieldType(field_);
    switch (fieldType_) {
      case 'C': type_ = 'C'; keyLen_ = layout.FieldWidth(field_); break;
      case 'N': case 'F': case 'B': case 'Y': case 'T': case '@': type_ = 'N'; keyLen_ = 8; break;
      case 'I': type_ = 'N'; keyLen_ = 4; break;
      case 'D': type_ = 'D'; keyLen_ = 8; break;
      case 'L': type_ = 'L'; keyLen_ = 1; break;
      default: field_ = -1;
    }
    if (fieldType_ == 'T' || fieldType_ == '@') type_ = 'N';
  }
  if (field_ < 0) {
    key_ = Expression::Compile(keyExpr, layout, &err);
    if (!key_) {
      // Unreadable expression: a character key is the likeliest, and the
      // tag can still be walked.
      type_ = 'C';
      keyLen_ = keyLen;
      return Fail(error, "key expression \"" + keyExpr + "\" cannot be used: " + err);
    }
    type_ = TypeOf(key_->Type());
    if (type_ == 'C') {
      BlankRecord blank(layout);
      Value v;
      if (!key_->Evaluate(blank, v, &err)) {
        keyLen_ = keyLen;
        return Fail(error, "key expression \"" + keyExpr + "\" fails on an empty record: " + err);
      }
      keyLen_ = static_cast<int>(v.str.size());
      if (BuildPieces(keyExpr, layout)) {
        // Both ways must give one key; a blank record shows a slip early.
        std::string direct;
        PiecesKey(blank, direct);
        if (direct != v.str) pieces_.clear();
      }
    } else {
      keyLen_ = type_ == 'L' ? 1 : 8;
    }
  }
  if (keyLen >= 0) {
    // The file's key length rules; it must suit the key type.
    bool fits = type_ == 'C' ? keyLen >= 1 && keyLen <= kMaxKeyLength
                : type_ == 'L' ? keyLen == 1
                : type_ == 'N' && fieldType_ == 'I' && field_ >= 0 ? keyLen == 4 || keyLen == 8
                : keyLen == 8;
    if (!fits) {
      int expected = keyLen_;
      keyLen_ = keyLen;
      return Fail(error, "key length " + std::to_string(keyLen) + " does not suit the key \"" +
                             keyExpr + "\" (" + std::to_string(expected) + " expected)");
    }
    keyLen_ = keyLen;
  } else if (keyLen_ < 1 || keyLen_ > kMaxKeyLength) {
    return Fail(error, "key expression \"" + keyExpr + "\" gives keys of " +
                           std::to_string(keyLen_) + " bytes (1 to " +
                           std::to_string(kMaxKeyLength) + " allowed)");
  }
  if (!Trim(forExpr).empty()) {
    for_ = Expression::Compile(forExpr, layout, &err);
    if (!for_) return Fail(error, "FOR expression \"" + forExpr + "\" cannot be used: " + err);
    if (for_->Type() != ValueType::Logical)
      return Fail(error, "FOR expression \"" + forExpr + "\" is not a logical expression");
  }
  usable_ = true;
  return true;
}

bool KeyMaker::NativeKey(const RecordAccess& record, std::string& key, std::string* error) const {
  std::string_view b = record.FieldBytes(field_);
  auto needs = [&](std::size_t n) {
    return b.size() >= n ? true : Fail(error, "field too short for its type");
  };
  switch (fieldType_) {
    case 'C':
      key.assign(b.substr(0, static_cast<std::size_t>(keyLen_)));
      key.resize(static_cast<std::size_t>(keyLen_), ' ');
      return true;
    case 'N': case 'F': {
      double v = 0;
      if (!ParseNumber(b, v)) v = 0;  // blanks, overflow stars and junk count as 0
      key.resize(8);
      EncodeDoubleTo(v, key.data());
      return true;
    }
    case 'D': {
      std::string_view t = Trim(b);
      double jdn = 0;
      if (t.size() == 8) {
        int y = 0, m = 0, d = 0;
        bool digits = true;
        for (char c : t) digits = digits && c >= '0' && c <= '9';
        if (digits) {
          y = std::stoi(std::string(t.substr(0, 4)));
          m = std::stoi(std::string(t.substr(4, 2)));
          d = std::stoi(std::string(t.substr(6, 2)));
          jdn = static_cast<double>(JdnFromYmd(y, m, d));
        }
      }
      key = EncodeDouble(jdn);
      return true;
    }
    case 'L': {
      char c = b.empty() ? 'F' : b[0];
      key = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? "T" : "F";
      return true;
    }
    case 'I': {
      if (!needs(4)) return false;
      auto v = static_cast<std::int32_t>(LE(b, 4));
      key = keyLen_ == 4 ? EncodeInt4(v) : EncodeDouble(v);
      return true;
    }
    case 'B': {
      if (!needs(8)) return false;
      double v;
      std::memcpy(&v, b.data(), 8);
      key = EncodeDouble(v);
      return true;
    }
    case 'Y':
      if (!needs(8)) return false;
      key = EncodeDouble(static_cast<double>(LE(b, 8)) / 10000.0);
      return true;
    case 'T': case '@': {
      if (!needs(8)) return false;
      double v = static_cast<double>(LE(b, 4)) + static_cast<double>(LE(b.substr(4), 4)) / 86400000.0;
      key = EncodeDouble(v);
      return true;
    }
  }
  return Fail(error, "field type not supported in a key");
}

bool KeyMaker::FromValue(const Value& v, std::string& key, std::string* error) const {
  if (TypeOf(v.type) != type_) return Fail(error, "key expression changed its type");
  switch (type_) {
    case 'C':
      key.assign(v.str, 0, std::min(v.str.size(), static_cast<std::size_t>(keyLen_)));
      key.resize(static_cast<std::size_t>(keyLen_), ' ');
      return true;
    case 'N':
      key = EncodeDouble(v.num);
      return true;
    case 'D':
      key = EncodeDouble(static_cast<double>(v.jdn));
      return true;
    default:
      key = v.logical ? "T" : "F";
      return true;
  }
}

bool KeyMaker::KeyFor(const RecordAccess& record, std::string& key, bool& included,
                      std::string* error) const {
  if (!usable_) return Fail(error, "the key cannot be computed");
  included = true;
  Value& v = scratch_;
  if (for_) {
    v.Reset();
    if (!for_->Evaluate(record, v, error)) return false;
    included = v.type == ValueType::Logical && v.logical;
  }
  if (field_ >= 0) return NativeKey(record, key, error);
  if (!pieces_.empty()) {
    PiecesKey(record, key);
    return true;
  }
  v.Reset();
  if (!key_->Evaluate(record, v, error)) return false;
  return FromValue(v, key, error);
}

bool KeyMaker::BuildPieces(std::string_view expr, const RecordAccess& layout) {
  pieces_.clear();
  std::vector<std::string_view> parts, args;
  if (!SplitTop(expr, '+', parts)) return false;
  std::size_t total = 0;
  for (std::string_view part : parts) {
    Piece piece{Piece::Chars, -1, 0, 0};
    std::size_t width = 0;
    const std::size_t open = part.find('(');
    if (open == std::string_view::npos) {
      if (!IsIdent(part)) return false;
      piece.field = layout.FindField(part);
      if (piece.field < 0 || layout.FieldType(piece.field) != 'C') return false;
      width = static_cast<std::size_t>(std::max(0, layout.FieldWidth(piece.field)));
    } else {
      const std::string_view name = Trim(part.substr(0, open));
      if (part.back() != ')' || !IsIdent(name)) return false;
      if (!SplitTop(part.substr(open + 1, part.size() - open - 2), ',', args)) return false;
      if (args.empty() || !IsIdent(args[0])) return false;
      piece.field = layout.FindField(args[0]);
      if (piece.field < 0) return false;
      const char type = layout.FieldType(piece.field);
      const int fieldWidth = layout.FieldWidth(piece.field);
      const bool upper = platform::EqualsNoCase(name, "UPPER");
      if ((upper || platform::EqualsNoCase(name, "LOWER")) && args.size() == 1 && type == 'C') {
        piece.kind = upper ? Piece::Upper : Piece::Lower;
        width = static_cast<std::size_t>(std::max(0, fieldWidth));
      } else if (platform::EqualsNoCase(name, "DTOS") && args.size() == 1 && type == 'D') {
        piece.kind = Piece::Dtos;
        width = 8;
      } else if (platform::EqualsNoCase(name, "STR") && args.size() <= 3 &&
                 (type == 'N' || type == 'F')) {
        // STR's widths as the function takes them from a field's value.
        const int decimals = layout.FieldDecimals(piece.field);
        piece.kind = Piece::Str;
        piece.width = fieldWidth > 0 ? fieldWidth : 10 + (decimals > 0 ? decimals + 1 : 0);
        piece.decimals = decimals;
        int n = 0;
        if (args.size() >= 2) {
          if (!SmallCount(args[1], n)) return false;
          if (n >= 1) piece.width = n;
          piece.decimals = 0;
        }
        if (args.size() == 3) {
          if (!SmallCount(args[2], n)) return false;
          piece.decimals = n;
        }
        width = piece.width < 1 ? 10 : static_cast<std::size_t>(piece.width);
      } else {
        return false;
      }
    }
    total += width;
    if (total > expr::kMaxStringLength) return false;
    pieces_.push_back(piece);
  }
  return !pieces_.empty();
}

namespace {
// Whether a field holds a whole number the way STR writes it at the field's
// own width: right-aligned, no leading zeros, no "-0", at most 15 digits
// (exact as a double). STR of such a field is the field itself.
bool OwnWholeStr(std::string_view b) {
  std::size_t i = 0;
  const std::size_t n = b.size();
  while (i < n && b[i] == ' ') ++i;
  const bool negative = i < n && b[i] == '-';
  if (negative) ++i;
  const std::size_t first = i;
  if (first == n || n - first > 15) return false;
  if (b[first] == '0' && (n - first > 1 || negative)) return false;
  for (; i < n; ++i)
    if (b[i] < '0' || b[i] > '9') return false;
  return true;
}
}  // namespace

void KeyMaker::PiecesKey(const RecordAccess& record, std::string& key) const {
  key.clear();
  for (const Piece& p : pieces_) {
    const std::string_view bytes = record.FieldBytes(p.field);
    const std::size_t at = key.size();
    switch (p.kind) {
      case Piece::Chars:
        key.append(bytes);
        break;
      case Piece::Upper:
        key.append(bytes);
        expr::FlipCase<'a', 'z'>(key.data() + at, bytes.size());
        break;
      case Piece::Lower:
        key.append(bytes);
        expr::FlipCase<'A', 'Z'>(key.data() + at, bytes.size());
        break;
      case Piece::Str: {
        if (p.decimals == 0 && static_cast<std::size_t>(p.width) == bytes.size() &&
            OwnWholeStr(bytes)) {
          key.append(bytes);
          break;
        }
        double v = 0;
        if (!expr::ParseNumber(bytes, v)) {
          int ignored = 0;
          v = expr::ParsePrefixNumber(bytes, ignored);
        }
        expr::AppendStr(key, v, p.width, p.decimals);
        break;
      }
      case Piece::Dtos:
        key += expr::DtosFromJdn(expr::JdnFromDtos(bytes));
        break;
    }
  }
  key.resize(static_cast<std::size_t>(keyLen_), ' ');
}

bool KeyMaker::SeekKey(std::string_view text, std::string& key, bool& prefix) const {
  prefix = false;
  switch (type_) {
    case 'C':
      prefix = true;
      key.assign(text.substr(0, std::min(text.size(), static_cast<std::size_t>(keyLen_))));
      return true;
    case 'N': {
      double v;
      if (!ParseNumber(text, v)) return false;
      if (keyLen_ == 4) {
        if (v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0) return false;
        key = EncodeInt4(static_cast<std::int32_t>(v));
      } else {
        key.resize(8);
        EncodeDoubleTo(v, key.data());
      }
      return true;
    }
    case 'D': {
      std::string_view t = Trim(text);
      if (t.empty()) {
        key = EncodeDouble(0);
        return true;
      }
      if (t.size() != 8) return false;
      for (char c : t)
        if (c < '0' || c > '9') return false;
      int y = std::stoi(std::string(t.substr(0, 4))), m = std::stoi(std::string(t.substr(4, 2))),
          d = std::stoi(std::string(t.substr(6, 2)));
      if (m < 1 || m > 12 || d < 1 || d > 31) return false;
      key = EncodeDouble(static_cast<double>(JdnFromYmd(y, m, d)));
      return true;
    }
    default: {
      std::string_view t = Trim(text);
      if (t == "T" || t == ".T." || t == "t" || t == ".t.") key = "T";
      else if (t == "F" || t == ".F." || t == "f" || t == ".f.") key = "F";
      else return false;
      return true;
    }
  }
}

}  // namespace xbe::cdx

#pragma once
// How a tag turns a record into its key: a bare field is read directly
// (fast, and it covers the binary field kinds the expression language has
// no type for); anything else goes through the compiled expression.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Expression.h"

namespace xbe::cdx {

class KeyMaker {
 public:
  // Prepares key and FOR clause against `layout`. keyLen < 0: take it from
  // the expression (evaluated on a blank record); otherwise the length the
  // file says. False with *error when the expressions cannot be used; the
  // key type is still guessed then (Type()), so the tag can be read.
  bool Init(const std::string& keyExpr, const std::string& forExpr, const RecordAccess& layout,
            int keyLen, std::string* error);
  char Type() const { return type_; }  // 'C', 'N', 'D', 'L'
  int KeyLength() const { return keyLen_; }
  char Fill() const { return type_ == 'C' ? ' ' : '\0'; }
  bool Usable() const { return usable_; }

  bool KeyFor(const RecordAccess& record, std::string& key, bool& included,
              std::string* error) const;
  // The search key for seek text; `prefix` for character keys.
  bool SeekKey(std::string_view text, std::string& key, bool& prefix) const;

 private:
  bool FromValue(const Value& v, std::string& key, std::string* error) const;
  bool NativeKey(const RecordAccess& record, std::string& key, std::string* error) const;

  // Character keys joined from fields with "+" (a character field, UPPER
  // or LOWER of one, STR of a numeric field, DTOS of a date field), the
  // usual shape of a host's keys, are built straight into the key; they
  // give the compiled expression's bytes without its values and calls.
  struct Piece {
    enum Kind : std::uint8_t { Chars, Upper, Lower, Str, Dtos } kind;
    int field;
    int width, decimals;  // Str
  };
  bool BuildPieces(std::string_view expr, const RecordAccess& layout);
  void PiecesKey(const RecordAccess& record, std::string& key) const;
  std::vector<Piece> pieces_;

  char type_ = 'C';
  int keyLen_ = 0;
  bool usable_ = false;
  int field_ = -1;        // bare field, read without the expression engine
  char fieldType_ = 0;
  std::unique_ptr<Expression> key_, for_;
  // The value of the last key, kept for its string memory: a key is made
  // for every record written.
  mutable Value scratch_;
};

// A record of `layout` with every field empty, as a new record would be.
class BlankRecord : public RecordAccess {
 public:
  explicit BlankRecord(const RecordAccess& layout);
  int FieldCount() const override { return layout_.FieldCount(); }
  int FindField(std::string_view name) const override { return layout_.FindField(name); }
  char FieldType(int f) const override { return layout_.FieldType(f); }
  int FieldWidth(int f) const override { return layout_.FieldWidth(f); }
  int FieldDecimals(int f) const override { return layout_.FieldDecimals(f); }
  std::string_view FieldBytes(int f) const override;
  std::uint32_t RecNo() const override { return 1; }
  bool Deleted() const override { return false; }
  std::string_view Alias() const override { return layout_.Alias(); }

 private:
  const RecordAccess& layout_;
  std::string blanks_, zeros_;
};

}  // namespace xbe::cdx

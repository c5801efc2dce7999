#pragma once
// The text forms of field values that xbtool prints and reads and the
// fixture manifests use: C right-trimmed; N and F the stored text without
// leading blanks; D YYYYMMDD or empty; L T, F or empty; memo text with CR as
// \r, LF as \n and TAB as \t (so a line keeps one column per field); binary types (I, T, B, Y, _NullFlags and other letters
// this engine does not interpret) as 0x and the stored bytes in hex.
// All text is Windows-1252 bytes.
#include <string>
#include <string_view>

#include "Dbf.h"
#include "WorkArea.h"

namespace xbe {

bool IsMemoField(const DbfTable& table, const FieldInfo& f);

// One line for the current record: recno, TAB, "*" or " ", then TAB and each
// field's value. False with *error when a memo cannot be read.
bool RecordLine(WorkArea& wa, std::string& line, std::string* error);

// The value of a non-memo field as text.
std::string FieldText(const FieldInfo& f, std::string_view bytes);
// The same without a copy for the types whose text lies in the stored bytes
// (C, N, F, D, L); false for the binary types, which need FieldText.
bool FieldTextView(const FieldInfo& f, std::string_view bytes, std::string_view& text);

// The stored bytes (f.width of them) for `text` in the form above. False with
// *error when the text does not fit the field or is not of its form.
bool FieldBytesFromText(const FieldInfo& f, std::string_view text, std::string& bytes,
                        std::string* error);

std::string EscapeMemo(std::string_view memo);
std::string UnescapeMemo(std::string_view text);

}  // namespace xbe

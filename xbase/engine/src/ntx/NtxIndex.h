#pragma once
// NTX: the single-order B-tree index of Clipper-style tables. One file holds
// one key; OpenNtx gives it as an IndexFile with exactly one tag.
#include <memory>
#include <string>

#include "../Index.h"

namespace xbe {

// Opens an existing NTX file. `layout` is the table the key expression is
// compiled against (only its field layout is used). Null with *error when
// the file cannot be read, its header is damaged or its expressions do not
// compile. A writable open takes the file for update; changes reach the
// disk on Flush.
std::unique_ptr<IndexFile> OpenNtx(const std::string& path, const RecordAccess& layout, bool writable,
                                   std::string* error);

enum NtxCreateFlags : unsigned { kNtxDescending = 1, kNtxUnique = 2 };

// Builds a new NTX over every record of `table` (deleted records included)
// and replaces `path` atomically. False with *error, leaving any existing
// file untouched.
bool CreateNtx(const std::string& path, const std::string& keyExpr, const std::string& forExpr,
               unsigned flags /* kNtxDescending | kNtxUnique */, TableScan& table, std::string* error);

}  // namespace xbe

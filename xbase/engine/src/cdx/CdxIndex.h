#pragma once
// Compound compact index files (.cdx): one file, many tags, each a B+-tree
// of 512-byte pages with compressed leaves. The work-area layer reaches the
// format only through these factories and the Index.h interfaces.
#include <memory>
#include <string>

#include "../Index.h"

namespace xbe {

// Tag options for CreateCdxTag, combined with |.
inline constexpr unsigned kCdxDescending = 1;
inline constexpr unsigned kCdxUnique = 2;
inline constexpr unsigned kCdxCandidate = 4;

// Opens an existing CDX file. `layout` is the table the tags belong to: key
// and FOR expressions are compiled against it (a tag whose expressions do
// not compile stays readable but makes Maintainable() false). Null with
// *error set when the file is missing, unreadable or damaged beyond use.
// With `writable` false nothing is ever written. With `shared` (other
// processes may write the file while it is open) every search first
// compares the header's change counter with the last one seen and drops
// the cached pages when it moved; call Flush before releasing the lock that
// guards a write.
std::unique_ptr<IndexFile> OpenCdx(const std::string& path, const RecordAccess& layout,
                                   bool writable, std::string* error, bool shared = false);

// Adds tag `tag` (at most 10 characters) with key `keyExpr` and optional
// FOR clause `forExpr` (empty for none) to the CDX at `path`, creating the
// file when it is missing, and builds it over every record of `table`. An
// existing tag of that name is replaced. The file is rewritten atomically:
// on any failure it is left as it was. `flags` combines the kCdx* options.
// Memory stays bounded whatever the size of the table: the new file is
// built as a temporary copy beside `path`, and keys that do not fit
// SortMemory() are sorted through temporary files there; all of them are
// gone when the call returns.
bool CreateCdxTag(const std::string& path, const std::string& tag, const std::string& keyExpr,
                  const std::string& forExpr, unsigned flags, TableScan& table,
                  std::string* error);

}  // namespace xbe

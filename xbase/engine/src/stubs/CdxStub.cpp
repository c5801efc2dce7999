// Stand-in used only while src/cdx/ holds no sources.
#include "cdx/CdxIndex.h"

namespace xbe {

std::unique_ptr<IndexFile> OpenCdx(const std::string& path, const RecordAccess&, bool,
                                   std::string* error) {
  if (error) *error = path + ": CDX indexes are not available in this build";
  return nullptr;
}

bool CreateCdxTag(const std::string& path, const std::string&, const std::string&,
                  const std::string&, unsigned, TableScan&, std::string* error) {
  if (error) *error = path + ": CDX indexes are not available in this build";
  return false;
}

}  // namespace xbe

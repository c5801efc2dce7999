// Stand-in used only while src/ntx/ holds no sources.
#include "ntx/NtxIndex.h"

namespace xbe {

std::unique_ptr<IndexFile> OpenNtx(const std::string& path, const RecordAccess&, bool,
                                   std::string* error) {
  if (error) *error = path + ": NTX indexes are not available in this build";
  return nullptr;
}

bool CreateNtx(const std::string& path, const std::string&, const std::string&, unsigned,
               TableScan&, std::string* error) {
  if (error) *error = path + ": NTX indexes are not available in this build";
  return false;
}

}  // namespace xbe

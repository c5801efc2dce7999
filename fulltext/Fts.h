#pragma once
// TFts: one open index of the full-text library, which is loaded at run time
// on first need (libfts32.so from the program directory, else through the
// loader's search) and shared by every TFts of the process. Index texts are
// Windows-1252 bytes as MakeIdxStr makes them; file names are passed as the
// file system spells them.
#include <cstdint>
#include <string>

namespace fulltext {

// FtsVerify's kinds; the library gets the ordinal + 1.
enum class TVerifyType { VBEG, VEND, VAND, VONE };

class TFts {
 public:
  static constexpr std::int32_t kClosed = -100;      // the handle while not open
  static constexpr std::int32_t kNotOpen = -18;      // result of calls without an open index

  TFts();
  ~TFts();  // closes
  TFts(const TFts&) = delete;
  TFts& operator=(const TFts&) = delete;

  // Binds the library when needed; when it cannot be bound, the handle stays
  // as it is and is returned. Otherwise closes any index this object has
  // open and returns (and keeps) FtsOpen's result.
  std::int32_t Open(const std::string& sFileName, std::int16_t iBuffSize, std::int16_t iMode);
  // As Open, through FtsCreate: a new empty index replacing any file there.
  std::int32_t CreateIndex(const std::string& sIdxName, std::int32_t iBuffSize,
                           std::int32_t iIdxSize, bool bCase, std::int32_t iFilter);
  // kNotOpen without an open index; else the library's result. The handle
  // is kClosed afterwards in both cases.
  std::int32_t Close();

  // Each gives kNotOpen without calling the library while no index is open.
  std::int32_t Add(const char* pszIdxStr);
  std::int32_t Replace(const char* pszIdxStr, std::int32_t lRecno);
  std::int32_t Delete(std::int32_t lRecno);
  std::int32_t IsDelete(std::int32_t lRecno);
  std::int32_t UnDelete(std::int32_t lRecno);
  std::int32_t NextRec();
  std::int32_t NumRecs();
  std::int32_t Setup(const char* pszIdxStr);
  // With pszTargetStr null: a search of the index with iType; else whether
  // that text matches pszSrcStr with iType (1 or 0).
  std::int32_t Verify(const char* pszSrcStr, const char* pszTargetStr, TVerifyType iType);
  // The library's version text; empty while it is not bound.
  std::string Version();

  std::int32_t Handle() const { return FHandle; }

 private:
  std::int32_t FHandle = kClosed;
};

// Whether the library is bound (it stays bound until the program ends).
bool FtsLibraryBound();

// For tests: bind from `file` (a path, or a bare name for the loader's
// search) instead of the usual places; empty restores them. Unbinds the
// library, so no TFts may have an index open.
void SetFtsLibraryFileForTesting(const std::string& file);

}  // namespace fulltext

#include "fulltext/Fts.h"

#include <mutex>

#include "fts32.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/UserDialog.h"

namespace fulltext {
namespace {

constexpr const char* kLibraryName = "libfts32.so";
constexpr const char* kLoadError = "libfts32.so konnte nicht geladen werden.";

struct Api {
#define FTS_POINTER(ret, name, params, args) ret(*name) params = nullptr;
  FTS_ENTRIES(FTS_POINTER)
#undef FTS_POINTER
};

// The binding shared by every TFts; the library is freed when this object
// dies at program end. Every TFts constructor touches it first, so it is
// destroyed only after the last static TFts.
struct Binding {
  std::mutex mutex;
  platform::DynamicLibrary library;
  Api api;
  bool bound = false;
  std::string fileForTesting;

  bool TryLoad(const std::string& file) {
    if (!library.Load(file)) return false;
    Api a;
    bool complete = true;
#define FTS_RESOLVE(ret, name, params, args)                                          \
  a.name = reinterpret_cast<ret(*) params>(library.Symbol(#name));                     \
  complete = complete && a.name != nullptr;
    FTS_ENTRIES(FTS_RESOLVE)
#undef FTS_RESOLVE
    // A library lacking an entry is as good as none: calling a missing
    // entry would crash the program.
    if (!complete) {
      library.Unload();
      return false;
    }
    api = a;
    return true;
  }

  // Binds on first need, and again at each later need while that fails,
  // with the box for every failed attempt.
  bool Bind() {
    std::lock_guard<std::mutex> lock(mutex);
    if (bound) return true;
    bool ok;
    if (!fileForTesting.empty()) {
      ok = TryLoad(fileForTesting);
    } else {
      const std::string local = platform::ProgramDirectory() + kLibraryName;
      ok = (platform::FileExists(local) && TryLoad(local)) || TryLoad(kLibraryName);
    }
    if (!ok) {
      platform::CurrentUserDialog().ShowMessage(platform::MessageKind::Error, "Fehler",
                                                kLoadError);
      return false;
    }
    bound = true;
    return true;
  }
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

// Only valid for a TFts with a non-negative handle: such a handle came from
// the library, which stays bound from then on.
const Api& BoundApi() { return TheBinding().api; }

}  // namespace

bool FtsLibraryBound() {
  Binding& b = TheBinding();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.bound;
}

void SetFtsLibraryFileForTesting(const std::string& file) {
  Binding& b = TheBinding();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.library.Unload();
  b.api = Api{};
  b.bound = false;
  b.fileForTesting = file;
}

TFts::TFts() { TheBinding(); }

TFts::~TFts() { Close(); }

std::int32_t TFts::Open(const std::string& sFileName, std::int16_t iBuffSize,
                        std::int16_t iMode) {
  if (!TheBinding().Bind()) return FHandle;
  Close();
  FHandle = BoundApi().FtsOpen(sFileName.c_str(), iBuffSize, iMode);
  return FHandle;
}

std::int32_t TFts::CreateIndex(const std::string& sIdxName, std::int32_t iBuffSize,
                               std::int32_t iIdxSize, bool bCase, std::int32_t iFilter) {
  if (!TheBinding().Bind()) return FHandle;
  Close();
  FHandle = BoundApi().FtsCreate(sIdxName.c_str(), iBuffSize, iIdxSize, bCase ? 1 : 0, iFilter);
  return FHandle;
}

std::int32_t TFts::Close() {
  if (FHandle < 0) {
    FHandle = kClosed;
    return kNotOpen;
  }
  const std::int32_t rc = BoundApi().FtsClose(FHandle);
  FHandle = kClosed;
  return rc;
}

std::int32_t TFts::Add(const char* pszIdxStr) {
  return FHandle < 0 ? kNotOpen : BoundApi().FtsAdd(FHandle, pszIdxStr);
}

std::int32_t TFts::Replace(const char* pszIdxStr, std::int32_t lRecno) {
  return FHandle < 0 ? kNotOpen : BoundApi().FtsReplace(FHandle, pszIdxStr, lRecno);
}

std::int32_t TFts::Delete(std::int32_t lRecno) {
  return FHandle < 0 ? kNotOpen : BoundApi().FtsDelete(FHandle, lRecno);
}

std::int32_t TFts::IsDelete(std::int32_t lRecno) {
  return FHandle < 0 ? kNotOpen : BoundApi().FtsIsDelete(FHandle, lRecno);
}

std::int32_t TFts::UnDelete(std::int32_t lRecno) {
  return FHandle < 0 ? kNotOpen : BoundApi().FtsUnDelete(FHandle, lRecno);
}

std::int32_t TFts::NextRec() { return FHandle < 0 ? kNotOpen : BoundApi().FtsNextRec(FHandle); }

std::int32_t TFts::NumRecs() { return FHandle < 0 ? kNotOpen : BoundApi().FtsNumRecs(FHandle); }

std::int32_t TFts::Setup(const char* pszIdxStr) {
  return FHandle < 0 ? kNotOpen : BoundApi().FtsSet(FHandle, pszIdxStr);
}

std::int32_t TFts::Verify(const char* pszSrcStr, const char* pszTargetStr, TVerifyType iType) {
  if (FHandle < 0) return kNotOpen;
  return BoundApi().FtsVerify(FHandle, pszSrcStr, pszTargetStr, static_cast<std::int32_t>(iType) + 1);
}

std::string TFts::Version() {
  if (!FtsLibraryBound()) return {};
  const char* v = BoundApi().FtsVersion();
  return v ? v : "";
}

}  // namespace fulltext

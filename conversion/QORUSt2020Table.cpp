#include "QORUSt2020Table.h"

#include "fulltext/Fts.h"
#include "fulltext/MakeIdxStr.h"
#include "platform/Encoding.h"
#include "platform/Paths.h"
#include "xbase/XbeAccess.h"

namespace {

// Puts the engine's record position of the current work area back when the
// full-text upkeep is done, whatever happens in between.
class TEnginePositionGuard {
 public:
  explicit TEnginePositionGuard(const TXBEEntries& x) : FX(x), FRecNo(x.xb_RecNo()) {}
  ~TEnginePositionGuard() { FX.xb_Go(FRecNo); }
  TEnginePositionGuard(const TEnginePositionGuard&) = delete;
  TEnginePositionGuard& operator=(const TEnginePositionGuard&) = delete;

 private:
  const TXBEEntries& FX;
  std::int32_t FRecNo;
};

std::string TrimBlanksAndControls(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

TQORUSt2020Table::TQORUSt2020Table() = default;

TQORUSt2020Table::~TQORUSt2020Table() {
  try {
    Close();
  } catch (...) {
    // Nothing can be reported from here; the work area dies with the engine.
  }
}

void TQORUSt2020Table::AddFTS(const std::string& evalExpr) {
  FTSArray.push_back(TFTSInfo{std::make_unique<fulltext::TFts>(), evalExpr});
}

void TQORUSt2020Table::CloseFTS() {
  for (TFTSInfo& info : FTSArray)
    if (info.FTS) info.FTS->Close();
}

void TQORUSt2020Table::SetActive(bool value) {
  try {
    TXbTable::SetActive(value);
  } catch (...) {
    if (!Active()) CloseFTS();
    throw;
  }
  if (!Active()) CloseFTS();
}

std::string TQORUSt2020Table::FormedTableFileName() const {
  std::string dir = platform::NativeSeparators(TrimBlanksAndControls(DatabaseName()));
  if (!dir.empty() && dir.back() != platform::kPathSep) dir += platform::kPathSep;
  return dir + TableName();
}

std::string TQORUSt2020Table::GetTableFileName() const {
  return platform::ResolveNoCase(FormedTableFileName());
}

std::string TQORUSt2020Table::GetFTSFileName(int i) const {
  return platform::ResolveNoCase(
      platform::ChangeExtension(FormedTableFileName(), ".TS" + std::to_string(i + 1)));
}

void TQORUSt2020Table::UpdateFTS(bool AIsEdit, std::int32_t aRecNo) {
  // The callers post first and pass the record's number; without an open
  // table there is no record to index.
  if (FTSArray.empty() || aRecNo <= 0 || !Active()) return;
  for (std::size_t i = 0; i < FTSArray.size(); ++i) {
    fulltext::TFts& fts = *FTSArray[i].FTS;
    if (fts.Handle() < 0) fts.Open(GetFTSFileName(static_cast<int>(i)), 32, 0);
  }
  SelectWorkArea();
  const TXBEEntries& x = Xbe();
  const TEnginePositionGuard keepPosition(x);
  x.xb_Go(aRecNo);
  for (TFTSInfo& info : FTSArray) {
    const char* value = x.xb_EvalString(platform::Utf8ToWin1252Lossy(info.FTSEvalExpr).c_str());
    const std::string idx = fulltext::MakeIdxStr(value ? value : "", false);
    if (AIsEdit)
      info.FTS->Replace(idx.c_str(), x.xb_RecNo());
    else
      info.FTS->Add(idx.c_str());
  }
}

#include "cdx/CdxIndex.h"

#include <algorithm>

#include "cdx/CdxFile.h"
#include "cdx/CdxKeys.h"
#include "platform/Files.h"

namespace xbe {

using namespace cdx;

namespace {

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

bool ValidTagName(const std::string& name) {
  if (name.empty() || name.size() > 10) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!alpha && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<IndexFile> OpenCdx(const std::string& path, const RecordAccess& layout,
                                   bool writable, std::string* error, bool shared) {
  auto file = std::make_unique<CdxFile>();
  std::string err;
  if (!file->GetStore().OpenFile(path, writable, &err)) {
    Fail(error, err);
    return nullptr;
  }
  file->GetStore().SetShared(shared);
  if (!file->Load(layout, &err)) {
    Fail(error, path + ": " + err);
    return nullptr;
  }
  return file;
}

bool CreateCdxTag(const std::string& path, const std::string& tag, const std::string& keyExpr,
                  const std::string& forExpr, unsigned flags, TableScan& table,
                  std::string* error) {
  const std::string where = path + ": tag " + tag + ": ";
  if (!ValidTagName(tag)) return Fail(error, where + "not a valid tag name (1 to 10 letters, digits, _)");
  if (keyExpr.size() + forExpr.size() > 510)
    return Fail(error, where + "key and FOR expressions longer than 510 characters");
  std::string upper = tag;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');

  KeyMaker keys;
  std::string err;
  if (!keys.Init(keyExpr, forExpr, table.Record(), -1, &err)) return Fail(error, where + err);

  std::string image;
  if (platform::FileSize(path) >= 0) {
    if (!platform::ReadWholeFile(path, image, &err)) return Fail(error, err);
  } else {
    image = MakeEmptyFile();
  }
  CdxFile file;
  file.GetStore().OpenImage(std::move(image));
  if (!file.Load(table.Record(), &err)) return Fail(error, path + ": " + err);
  if (!file.DropTag(upper, &err)) return Fail(error, where + "the old tag cannot be removed: " + err);

  std::vector<Entry> entries;
  const std::uint32_t records = table.RecordCount();
  entries.reserve(records);
  for (std::uint32_t r = 1; r <= records; ++r) {
    if (!table.Load(r, &err)) return Fail(error, where + err);
    Entry e;
    bool included = false;
    if (!keys.KeyFor(table.Record(), e.key, included, &err))
      return Fail(error, where + "record " + std::to_string(r) + ": " + err);
    e.rec = r;
    if (included) entries.push_back(std::move(e));
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return CompareEntry(a.key, a.rec, b.key, b.rec) < 0;
  });
  if (flags & (kCdxUnique | kCdxCandidate)) {
    std::vector<Entry> firsts;
    for (auto& e : entries) {
      if (!firsts.empty() && firsts.back().key == e.key) {
        if (flags & kCdxCandidate)
          return Fail(error, where + "records " + std::to_string(firsts.back().rec) + " and " +
                                 std::to_string(e.rec) + " have the same key " +
                                 ShowKey(e.key, keys.Type()));
        continue;
      }
      firsts.push_back(std::move(e));
    }
    entries = std::move(firsts);
  }

  TagHeader h;
  h.name = upper;
  h.keyLen = keys.KeyLength();
  h.keyExpr = keyExpr;
  h.forExpr = forExpr;
  h.descending = (flags & kCdxDescending) != 0;
  h.options = kOptCompact | kOptCompound;
  if (flags & kCdxUnique) h.options |= kOptUnique;
  if (flags & kCdxCandidate) h.options |= kOptCandidate;
  if (!forExpr.empty()) h.options |= kOptFor;

  Store& store = file.GetStore();
  // A header needs two pages in a row: always from the end of the file.
  h.offset = store.AppendPages(2);
  if (!store.AllocPage(h.root, &err) ||
      !Tree::Build(store, h.root, h.keyLen, keys.Fill(), entries, &err))
    return Fail(error, where + err);
  std::string bytes = MakeTagHeader(h);
  Page page;
  for (std::uint32_t half = 0; half < 2; ++half) {
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()) + half * kPageSize, kPageSize,
                page.begin());
    store.WritePage(h.offset + half * kPageSize, page);
  }
  std::string dirKey = upper;
  dirKey.resize(10, ' ');
  if (!file.DirectoryTree().Insert(dirKey, h.offset, &err)) return Fail(error, where + err);
  if (!platform::WriteFileAtomic(path, store.Image(), &err)) return Fail(error, err);
  return true;
}

}  // namespace xbe

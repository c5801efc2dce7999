#include "cdx/CdxIndex.h"

#include <algorithm>

#include "KeySort.h"
#include "cdx/CdxBuild.h"
#include "cdx/CdxFile.h"
#include "cdx/CdxKeys.h"
#include "platform/Files.h"
#include "platform/RandomFile.h"

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

  // The tag is built into a copy beside the file, which replaces the file
  // only when it is complete and on disk; the temporary files go whatever
  // happens.
  platform::TempFileBeside work;
  if (!work.Create(path, &err)) return Fail(error, err);
  if (platform::FileSize(path) >= 0) {
    if (!work.CopyFrom(path, &err)) return Fail(error, err);
  } else {
    const std::string empty = MakeEmptyFile();
    platform::RandomFile out;
    if (!out.Open(work.Path(), true, &err) || !out.WriteAt(0, empty.data(), empty.size(), &err))
      return Fail(error, err);
  }
  {
    CdxFile file;
    Store& store = file.GetStore();
    if (!store.OpenFile(work.Path(), true, &err)) return Fail(error, err);
    if (!file.Load(table.Record(), &err)) return Fail(error, path + ": " + err);
    if (!file.DropTag(upper, &err)) return Fail(error, where + "the old tag cannot be removed: " + err);

    KeySorter sorter(path, static_cast<std::size_t>(keys.KeyLength()));
    std::string key;
    const std::uint32_t records = table.RecordCount();
    for (std::uint32_t r = 1; r <= records; ++r) {
      if (!table.Load(r, &err)) return Fail(error, where + err);
      bool included = false;
      if (!keys.KeyFor(table.Record(), key, included, &err))
        return Fail(error, where + "record " + std::to_string(r) + ": " + err);
      if (included && !sorter.Add(key, r, &err)) return Fail(error, where + err);
    }
    if (!sorter.Finish(&err)) return Fail(error, where + err);

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

    // A header needs two pages in a row: always from the end of the file.
    if (!store.AppendPages(2, h.offset, &err) || !store.AllocPage(h.root, &err))
      return Fail(error, where + err);
    TreeBuilder tree(store, h.root, h.keyLen, keys.Fill(), path);
    const bool firstOnly = (flags & (kCdxUnique | kCdxCandidate)) != 0;
    std::string last;  // key of the last entry taken, when only the first of a key counts
    std::uint32_t lastRec = 0;
    std::string_view k;
    std::uint32_t rec;
    while (sorter.Next(k, rec)) {
      if (firstOnly) {
        if (lastRec != 0 && k == last) {
          if (flags & kCdxCandidate)
            return Fail(error, where + "records " + std::to_string(lastRec) + " and " +
                                   std::to_string(rec) + " have the same key " +
                                   ShowKey(k, keys.Type()));
          continue;
        }
        last.assign(k);
        lastRec = rec;
      }
      if (!tree.Add(k, rec, &err)) return Fail(error, where + err);
    }
    if (!sorter.Error().empty()) return Fail(error, where + sorter.Error());
    if (!tree.Finish(&err)) return Fail(error, where + err);

    std::string bytes = MakeTagHeader(h);
    Page page;
    for (std::uint32_t half = 0; half < 2; ++half) {
      std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()) + half * kPageSize,
                  kPageSize, page.begin());
      store.WritePage(h.offset + half * kPageSize, page);
    }
    std::string dirKey = upper;
    dirKey.resize(10, ' ');
    if (!file.DirectoryTree().Insert(dirKey, h.offset, &err)) return Fail(error, where + err);
    if (!store.Flush(&err)) return Fail(error, err);
  }  // closed before it replaces the file
  if (!work.ReplaceTarget(&err)) return Fail(error, err);
  return true;
}

}  // namespace xbe

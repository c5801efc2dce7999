#include "ntx/NtxTree.h"

#include <algorithm>
#include <cstring>

#include "KeySort.h"

namespace xbe::ntx {
namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

bool TooDeep(const Path& path, std::string* error) {
  if (path.size() <= kMaxTreeDepth) return false;
  Fail(error, "index tree too deep: its page links run in a circle");
  return true;
}

}  // namespace

int Tree::CompareKeys(std::string_view a, std::string_view b) const {
  const std::size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c == 0 && a.size() != b.size()) c = a.size() < b.size() ? -1 : 1;
  c = c < 0 ? -1 : (c > 0 ? 1 : 0);
  return descending_ ? -c : c;
}

int Tree::Compare(const Entry& a, const Entry& b) const {
  const int c = CompareKeys(a.key, b.key);
  if (c != 0) return c;
  return a.recno < b.recno ? -1 : (a.recno > b.recno ? 1 : 0);
}

int Tree::MinKeys() const {
  const Header& h = store_.Hdr();
  int half = h.halfPage;
  if (half < 1 || half > h.maxKeys / 2) half = h.maxKeys / 2;
  return std::max(half, 1);
}

bool Tree::PushLeft(Path& path, std::uint32_t off, std::string* error) {
  while (true) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(off, p, error)) return false;
    path.push_back({off, 0});
    if (TooDeep(path, error)) return false;
    if (p->Leaf()) return true;
    off = p->kids[0];
  }
}

bool Tree::PushRight(Path& path, std::uint32_t off, std::string* error) {
  while (true) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(off, p, error)) return false;
    const int k = static_cast<int>(p->keys.size());
    if (p->Leaf()) {
      path.push_back({off, k - 1});
      return !TooDeep(path, error);
    }
    path.push_back({off, k});
    if (TooDeep(path, error)) return false;
    off = p->kids[static_cast<std::size_t>(k)];
  }
}

bool Tree::SettleNext(Path& path, std::string* error) {
  while (!path.empty()) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(path.back().page, p, error)) return false;
    if (path.back().idx < static_cast<int>(p->keys.size())) return true;
    path.pop_back();
  }
  return true;
}

bool Tree::SettlePrev(Path& path, std::string* error) {
  while (!path.empty()) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(path.back().page, p, error)) return false;
    const int i = path.back().idx;
    if (i >= 0 && i < static_cast<int>(p->keys.size())) return true;
    path.pop_back();
    if (!path.empty()) --path.back().idx;
  }
  return true;
}

bool Tree::LowerBound(const std::function<bool(const Entry&)>& before, Path& path, std::string* error) {
  path.clear();
  std::uint32_t off = store_.Hdr().root;
  while (true) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(off, p, error)) return false;
    const auto it = std::partition_point(p->keys.begin(), p->keys.end(), before);
    const int i = static_cast<int>(it - p->keys.begin());
    path.push_back({off, i});
    if (TooDeep(path, error)) return false;
    if (p->Leaf()) break;
    off = p->kids[static_cast<std::size_t>(i)];
  }
  return SettleNext(path, error);
}

bool Tree::First(Path& path, std::string* error) {
  path.clear();
  return PushLeft(path, store_.Hdr().root, error) && SettleNext(path, error);
}

bool Tree::Last(Path& path, std::string* error) {
  path.clear();
  return PushRight(path, store_.Hdr().root, error) && SettlePrev(path, error);
}

bool Tree::Next(Path& path, std::string* error) {
  if (path.empty()) return true;
  std::shared_ptr<const Page> p;
  if (!store_.Get(path.back().page, p, error)) return false;
  const int i = path.back().idx + 1;
  path.back().idx = i;
  if (!p->Leaf() && i < static_cast<int>(p->kids.size())) {
    if (!PushLeft(path, p->kids[static_cast<std::size_t>(i)], error)) return false;
  }
  return SettleNext(path, error);
}

bool Tree::Prev(Path& path, std::string* error) {
  if (path.empty()) return true;
  std::shared_ptr<const Page> p;
  if (!store_.Get(path.back().page, p, error)) return false;
  const int i = path.back().idx;
  if (!p->Leaf() && i >= 0 && i < static_cast<int>(p->kids.size())) {
    if (!PushRight(path, p->kids[static_cast<std::size_t>(i)], error)) return false;
  } else {
    path.back().idx = i - 1;
  }
  return SettlePrev(path, error);
}

bool Tree::At(const Path& path, Entry& out, std::string* error) {
  if (path.empty()) return Fail(error, "no current entry");
  std::shared_ptr<const Page> p;
  if (!store_.Get(path.back().page, p, error)) return false;
  const int i = path.back().idx;
  if (i < 0 || i >= static_cast<int>(p->keys.size())) return Fail(error, "no current entry");
  out = p->keys[static_cast<std::size_t>(i)];
  return true;
}

bool Tree::Contains(const Entry& e, bool& found, std::string* error) {
  found = false;
  Refresh();
  Path path;
  if (!LowerBound([&](const Entry& x) { return Compare(x, e) < 0; }, path, error)) return false;
  if (path.empty()) return true;
  Entry at;
  if (!At(path, at, error)) return false;
  found = Compare(at, e) == 0;
  return true;
}

bool Tree::Insert(const Entry& e, std::string* error) {
  Refresh();
  store_.Begin();
  if (!DoInsert(e, error)) {
    store_.Abort();
    return false;
  }
  store_.Commit();
  ++changes_;
  return true;
}

bool Tree::Remove(const Entry& e, std::string* error) {
  Refresh();
  store_.Begin();
  if (!DoRemove(e, error)) {
    store_.Abort();
    return false;
  }
  store_.Commit();
  ++changes_;
  return true;
}

bool Tree::BulkLoad(std::uint64_t count, const std::function<bool(Entry&, std::string*)>& next,
                    const std::string& beside, std::string* error) {
  const std::uint32_t rootOff = store_.Hdr().root;
  {
    std::shared_ptr<const Page> root;
    if (!store_.Get(rootOff, root, error)) return false;
    if (!root->keys.empty()) return Fail(error, "bulk load into a tree that is not empty");
  }
  const std::uint64_t maxKeys = store_.Hdr().maxKeys;
  const std::size_t len = store_.Hdr().keyLength;
  // What a level hands up, per page: the page's offset and the key that
  // follows it (child, record, key), in a spool so that memory
  // stays bounded however many pages there are.
  const std::size_t itemSize = len + 8;
  std::string item(itemSize, '\0');
  std::unique_ptr<RecordSpool> below;  // the level's input above the leaves
  Entry prev, e;
  std::uint64_t taken = 0;
  // The next key of the level and the child before it.
  auto take = [&](Entry& out, std::uint32_t& child) -> bool {
    if (!below) {
      child = 0;
      if (!next(out, error)) return false;
      if (out.key.size() != len) return Fail(error, "key of the wrong length");
      if (taken++ > 0 && Compare(prev, out) >= 0) return Fail(error, "bulk load of unsorted entries");
      prev = out;
      return true;
    }
    const char* r;
    if (!below->Next(r)) return Fail(error, below->Error().empty() ? "a level ended early" : below->Error());
    std::memcpy(&child, r, 4);
    std::memcpy(&out.recno, r + 4, 4);
    out.key.assign(r + 8, len);
    return true;
  };
  // Level by level from the leaves: m entries over p pages leave p - 1 of
  // them to separate the pages one level up. Each page is written as soon
  // as it is full.
  std::uint64_t m = count;
  while (true) {
    const std::uint64_t pages = (m + 1 + maxKeys) / (maxKeys + 1);
    if (below && !below->Finish(error)) return false;
    if (pages <= 1) {
      store_.Begin();
      Page* root = nullptr;
      if (!store_.Edit(rootOff, root, error)) {
        store_.Abort();
        return false;
      }
      root->keys.clear();
      root->kids.clear();
      std::uint32_t child = 0;
      for (std::uint64_t i = 0; i < m; ++i) {
        if (!take(e, child)) {
          store_.Abort();
          return false;
        }
        root->keys.push_back(e);
        root->kids.push_back(child);
      }
      // The right-most child comes with a key that separates nothing.
      if (below && !take(e, child)) {
        store_.Abort();
        return false;
      }
      root->kids.push_back(below ? child : 0);
      store_.Commit();
      ++changes_;
      return true;
    }
    const std::uint64_t keys = m - (pages - 1);
    auto up = std::make_unique<RecordSpool>(beside, itemSize, SortMemory() / 8);
    for (std::uint64_t j = 0; j < pages; ++j) {
      const std::uint64_t n = keys / pages + (j < keys % pages ? 1 : 0);
      std::uint32_t off = 0;
      Page* page = nullptr;
      store_.Begin();
      if (!store_.Alloc(off, page, error)) {
        store_.Abort();
        return false;
      }
      page->keys.clear();
      page->kids.clear();
      std::uint32_t child = 0;
      bool ok = true;
      for (std::uint64_t i = 0; i < n && ok; ++i) {
        ok = take(e, child);
        page->keys.push_back(e);
        page->kids.push_back(child);
      }
      // The last child; then the key that separates this page from the
      // next goes up (the last page has none).
      Entry sep;
      if (ok && below) ok = take(sep, child);
      else if (ok && j + 1 < pages) ok = take(sep, child = 0);
      if (!ok) {
        store_.Abort();
        return false;
      }
      page->kids.push_back(below ? child : 0);
      store_.Commit();
      std::memcpy(item.data(), &off, 4);
      std::memcpy(item.data() + 4, &sep.recno, 4);
      sep.key.resize(len, '\0');
      std::memcpy(item.data() + 8, sep.key.data(), len);
      if (!up->Append(item.data(), error)) return false;
    }
    below = std::move(up);
    m = pages - 1;
  }
}

bool Tree::DoInsert(const Entry& e, std::string* error) {
  if (e.key.size() != store_.Hdr().keyLength) return Fail(error, "key of the wrong length");
  Path path;
  std::uint32_t off = store_.Hdr().root;
  while (true) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(off, p, error)) return false;
    const auto it = std::partition_point(p->keys.begin(), p->keys.end(),
                                         [&](const Entry& x) { return Compare(x, e) < 0; });
    if (it != p->keys.end() && Compare(*it, e) == 0) return Fail(error, "the entry is already in the index");
    const int i = static_cast<int>(it - p->keys.begin());
    path.push_back({off, i});
    if (TooDeep(path, error)) return false;
    if (p->Leaf()) break;
    off = p->kids[static_cast<std::size_t>(i)];
  }

  Page* leaf = nullptr;
  if (!store_.Edit(path.back().page, leaf, error)) return false;
  const auto at = static_cast<std::size_t>(path.back().idx);
  leaf->keys.insert(leaf->keys.begin() + static_cast<std::ptrdiff_t>(at), e);
  leaf->kids.insert(leaf->kids.begin(), 0);

  const std::size_t maxKeys = store_.Hdr().maxKeys;
  for (std::size_t level = path.size(); level-- > 0;) {
    Page* page = nullptr;
    if (!store_.Edit(path[level].page, page, error)) return false;
    if (page->keys.size() <= maxKeys) break;
    // Split around the middle key, which moves up; the new page takes the
    // upper half so the parent's link to this page stays the left one.
    const std::size_t mid = page->keys.size() / 2;
    std::uint32_t rightOff = 0;
    Page* right = nullptr;
    if (!store_.Alloc(rightOff, right, error)) return false;
    if (!store_.Edit(path[level].page, page, error)) return false;  // Alloc may have grown the map
    const Entry median = page->keys[mid];
    right->keys.assign(page->keys.begin() + static_cast<std::ptrdiff_t>(mid) + 1, page->keys.end());
    right->kids.assign(page->kids.begin() + static_cast<std::ptrdiff_t>(mid) + 1, page->kids.end());
    page->keys.resize(mid);
    page->kids.resize(mid + 1);
    if (level == 0) {
      std::uint32_t rootOff = 0;
      Page* root = nullptr;
      if (!store_.Alloc(rootOff, root, error)) return false;
      root->keys = {median};
      root->kids = {path[0].page, rightOff};
      store_.SetRoot(rootOff);
      break;
    }
    Page* parent = nullptr;
    if (!store_.Edit(path[level - 1].page, parent, error)) return false;
    const auto j = static_cast<std::size_t>(path[level - 1].idx);
    parent->keys.insert(parent->keys.begin() + static_cast<std::ptrdiff_t>(j), median);
    parent->kids.insert(parent->kids.begin() + static_cast<std::ptrdiff_t>(j) + 1, rightOff);
  }
  return true;
}

bool Tree::DoRemove(const Entry& e, std::string* error) {
  Path path;
  std::uint32_t off = store_.Hdr().root;
  bool found = false;
  while (true) {
    std::shared_ptr<const Page> p;
    if (!store_.Get(off, p, error)) return false;
    const auto it = std::partition_point(p->keys.begin(), p->keys.end(),
                                         [&](const Entry& x) { return Compare(x, e) < 0; });
    const int i = static_cast<int>(it - p->keys.begin());
    path.push_back({off, i});
    if (TooDeep(path, error)) return false;
    if (it != p->keys.end() && Compare(*it, e) == 0) {
      found = true;
      break;
    }
    if (p->Leaf()) break;
    off = p->kids[static_cast<std::size_t>(i)];
  }
  if (!found) return Fail(error, "the entry is not in the index");

  const std::size_t hit = path.size() - 1;
  std::shared_ptr<const Page> hitPage;
  if (!store_.Get(path[hit].page, hitPage, error)) return false;
  if (hitPage->Leaf()) {
    Page* leaf = nullptr;
    if (!store_.Edit(path[hit].page, leaf, error)) return false;
    leaf->keys.erase(leaf->keys.begin() + path[hit].idx);
    leaf->kids.pop_back();
  } else {
    // A branch key is replaced by its predecessor, the last key of the
    // left subtree, which is then taken out of its leaf.
    if (!PushRight(path, hitPage->kids[static_cast<std::size_t>(path[hit].idx)], error)) return false;
    Page* leaf = nullptr;
    if (!store_.Edit(path.back().page, leaf, error)) return false;
    if (leaf->keys.empty()) return Fail(error, "damaged index: empty leaf page");
    const Entry pred = leaf->keys.back();
    leaf->keys.pop_back();
    leaf->kids.pop_back();
    Page* branch = nullptr;
    if (!store_.Edit(path[hit].page, branch, error)) return false;
    branch->keys[static_cast<std::size_t>(path[hit].idx)] = pred;
  }
  return Rebalance(path, error);
}

bool Tree::Rebalance(Path& path, std::string* error) {
  const std::size_t minKeys = static_cast<std::size_t>(MinKeys());
  for (std::size_t level = path.size() - 1; level > 0; --level) {
    Page* page = nullptr;
    if (!store_.Edit(path[level].page, page, error)) return false;
    if (page->keys.size() >= minKeys) return true;
    Page* parent = nullptr;
    if (!store_.Edit(path[level - 1].page, parent, error)) return false;
    const auto j = static_cast<std::size_t>(path[level - 1].idx);
    if (j >= parent->kids.size() || parent->kids[j] != path[level].page)
      return Fail(error, "damaged index: page links disagree");
    Page* left = nullptr;
    Page* right = nullptr;
    if (j > 0 && !store_.Edit(parent->kids[j - 1], left, error)) return false;
    if (j + 1 < parent->kids.size() && !store_.Edit(parent->kids[j + 1], right, error)) return false;
    // Edit may add pages to the transaction map; pointers into it stay valid.
    if (left && left->keys.size() > minKeys) {
      page->keys.insert(page->keys.begin(), parent->keys[j - 1]);
      page->kids.insert(page->kids.begin(), left->kids.back());
      parent->keys[j - 1] = left->keys.back();
      left->keys.pop_back();
      left->kids.pop_back();
      return true;
    }
    if (right && right->keys.size() > minKeys) {
      page->keys.push_back(parent->keys[j]);
      page->kids.push_back(right->kids.front());
      parent->keys[j] = right->keys.front();
      right->keys.erase(right->keys.begin());
      right->kids.erase(right->kids.begin());
      return true;
    }
    if (left) {
      left->keys.push_back(parent->keys[j - 1]);
      left->keys.insert(left->keys.end(), page->keys.begin(), page->keys.end());
      left->kids.insert(left->kids.end(), page->kids.begin(), page->kids.end());
      parent->keys.erase(parent->keys.begin() + static_cast<std::ptrdiff_t>(j) - 1);
      parent->kids.erase(parent->kids.begin() + static_cast<std::ptrdiff_t>(j));
      store_.Free(path[level].page);
    } else if (right) {
      page->keys.push_back(parent->keys[j]);
      page->keys.insert(page->keys.end(), right->keys.begin(), right->keys.end());
      page->kids.insert(page->kids.end(), right->kids.begin(), right->kids.end());
      const std::uint32_t rightOff = parent->kids[j + 1];
      parent->keys.erase(parent->keys.begin() + static_cast<std::ptrdiff_t>(j));
      parent->kids.erase(parent->kids.begin() + static_cast<std::ptrdiff_t>(j) + 1);
      store_.Free(rightOff);
    } else {
      return Fail(error, "damaged index: branch page without children");
    }
  }
  // The root may have lost its last key: its only child becomes the root.
  Page* root = nullptr;
  if (!store_.Edit(path[0].page, root, error)) return false;
  if (root->keys.empty() && !root->Leaf()) {
    const std::uint32_t child = root->kids[0];
    store_.Free(path[0].page);
    store_.SetRoot(child);
  }
  return true;
}

}  // namespace xbe::ntx

#include "WordIndex.h"

#include <algorithm>

namespace fts {
namespace {

using Postings = std::vector<std::uint32_t>;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

Postings Intersect(const Postings& a, const Postings& b) {
  Postings out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

void SortUnique(Postings& p) {
  std::sort(p.begin(), p.end());
  p.erase(std::unique(p.begin(), p.end()), p.end());
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view text, bool caseSensitive) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) {
      std::string w(text.substr(start, i - start));
      if (!caseSensitive) std::transform(w.begin(), w.end(), w.begin(), Upper);
      words.push_back(std::move(w));
    }
  }
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}

bool TextMatches(std::string_view query, std::string_view target, SearchKind kind,
                 bool caseSensitive) {
  const auto q = SplitWords(query, caseSensitive);
  if (q.empty()) return false;
  const auto t = SplitWords(target, caseSensitive);
  auto found = [&](const std::string& w) {
    switch (kind) {
      case SearchKind::Begins:
        return std::any_of(t.begin(), t.end(), [&](const auto& x) { return StartsWith(x, w); });
      case SearchKind::Ends:
        return std::any_of(t.begin(), t.end(), [&](const auto& x) { return EndsWith(x, w); });
      default:
        return std::binary_search(t.begin(), t.end(), w);
    }
  };
  if (kind == SearchKind::Any) return std::any_of(q.begin(), q.end(), found);
  return std::all_of(q.begin(), q.end(), found);
}

void WordIndex::Build(const Entries& entries) {
  postings_.clear();
  sorted_ = false;
  for (std::size_t i = 0; i < entries.Count(); ++i) {
    for (const auto& w : SplitWords(entries.Text(i), caseSensitive_)) {
      postings_[w].push_back(static_cast<std::uint32_t>(i + 1));
    }
  }
  built_ = true;
}

void WordIndex::Insert(const std::string& word, std::uint32_t recNo) {
  auto [it, inserted] = postings_.try_emplace(word);
  if (inserted) sorted_ = false;
  Postings& p = it->second;
  if (p.empty() || p.back() < recNo) {
    p.push_back(recNo);
  } else {
    auto pos = std::lower_bound(p.begin(), p.end(), recNo);
    if (pos == p.end() || *pos != recNo) p.insert(pos, recNo);
  }
}

void WordIndex::Erase(const std::string& word, std::uint32_t recNo) {
  auto it = postings_.find(word);
  if (it == postings_.end()) return;
  Postings& p = it->second;
  auto pos = std::lower_bound(p.begin(), p.end(), recNo);
  if (pos != p.end() && *pos == recNo) p.erase(pos);
  if (p.empty()) {
    postings_.erase(it);
    sorted_ = false;
  }
}

void WordIndex::OnAdd(std::uint32_t recNo, std::string_view text) {
  if (!built_) return;
  for (const auto& w : SplitWords(text, caseSensitive_)) Insert(w, recNo);
}

void WordIndex::OnReplace(std::uint32_t recNo, std::string_view oldText,
                          std::string_view newText) {
  if (!built_) return;
  for (const auto& w : SplitWords(oldText, caseSensitive_)) Erase(w, recNo);
  for (const auto& w : SplitWords(newText, caseSensitive_)) Insert(w, recNo);
}

void WordIndex::SortWords() {
  if (sorted_) return;
  forward_.clear();
  reversed_.clear();
  forward_.reserve(postings_.size());
  reversed_.reserve(postings_.size());
  for (const auto& [word, p] : postings_) {
    forward_.push_back(&word);
    reversed_.emplace_back(std::string(word.rbegin(), word.rend()), &word);
  }
  std::sort(forward_.begin(), forward_.end(), [](auto* a, auto* b) { return *a < *b; });
  std::sort(reversed_.begin(), reversed_.end());
  sorted_ = true;
}

const Postings* WordIndex::Exact(const std::string& word) const {
  auto it = postings_.find(word);
  return it == postings_.end() ? nullptr : &it->second;
}

Postings WordIndex::Prefixed(const std::string& word) {
  SortWords();
  Postings out;
  auto it = std::lower_bound(forward_.begin(), forward_.end(), word,
                             [](const std::string* a, const std::string& w) { return *a < w; });
  for (; it != forward_.end() && StartsWith(**it, word); ++it) {
    const Postings& p = postings_.at(**it);
    out.insert(out.end(), p.begin(), p.end());
  }
  SortUnique(out);
  return out;
}

Postings WordIndex::Suffixed(const std::string& word) {
  SortWords();
  const std::string rev(word.rbegin(), word.rend());
  Postings out;
  auto it = std::lower_bound(reversed_.begin(), reversed_.end(), rev,
                             [](const auto& a, const std::string& w) { return a.first < w; });
  for (; it != reversed_.end() && StartsWith(it->first, rev); ++it) {
    const Postings& p = postings_.at(*it->second);
    out.insert(out.end(), p.begin(), p.end());
  }
  SortUnique(out);
  return out;
}

std::vector<std::uint32_t> WordIndex::Find(std::string_view query, SearchKind kind) {
  const auto words = SplitWords(query, caseSensitive_);
  Postings result;
  if (words.empty()) return result;
  if (kind == SearchKind::Any) {
    for (const auto& w : words) {
      if (const Postings* p = Exact(w)) result.insert(result.end(), p->begin(), p->end());
    }
    SortUnique(result);
    return result;
  }
  bool first = true;
  for (const auto& w : words) {
    Postings hits;
    if (kind == SearchKind::All) {
      const Postings* p = Exact(w);
      if (!p) return {};
      hits = first ? *p : Intersect(result, *p);
    } else {
      Postings p = kind == SearchKind::Begins ? Prefixed(w) : Suffixed(w);
      hits = first ? std::move(p) : Intersect(result, p);
    }
    result = std::move(hits);
    first = false;
    if (result.empty()) break;
  }
  return result;
}

}  // namespace fts

#pragma once
// The search side of an index: which entries hold which word. Built from the
// entries on the first search and kept up to date by every later change, so
// a query over a million entries costs a few look-ups instead of a scan.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TsFormat.h"

namespace fts {

enum class SearchKind { Begins = 1, Ends = 2, All = 3, Any = 4 };

// The distinct words of an index text (blank-separated), upper-cased in
// ASCII unless `caseSensitive`.
std::vector<std::string> SplitWords(std::string_view text, bool caseSensitive);

// Whether `target` matches `query` with `kind` (the rules in fts32.h).
bool TextMatches(std::string_view query, std::string_view target, SearchKind kind,
                 bool caseSensitive);

class WordIndex {
 public:
  explicit WordIndex(bool caseSensitive) : caseSensitive_(caseSensitive) {}

  bool Built() const { return built_; }
  void Build(const Entries& entries);
  // Both keep a built index in step; they do nothing before Build.
  void OnAdd(std::uint32_t recNo, std::string_view text);
  void OnReplace(std::uint32_t recNo, std::string_view oldText, std::string_view newText);

  // Record numbers (ascending) of the entries matching; deleted ones included.
  std::vector<std::uint32_t> Find(std::string_view query, SearchKind kind);

 private:
  using Postings = std::vector<std::uint32_t>;
  const Postings* Exact(const std::string& word) const;
  Postings Prefixed(const std::string& word);
  Postings Suffixed(const std::string& word);
  void Insert(const std::string& word, std::uint32_t recNo);
  void Erase(const std::string& word, std::uint32_t recNo);
  void SortWords();

  bool caseSensitive_;
  bool built_ = false;
  std::unordered_map<std::string, Postings> postings_;
  // Sorted views of the words for prefix and suffix queries, rebuilt on
  // demand after the set of words changed.
  bool sorted_ = false;
  std::vector<const std::string*> forward_;
  std::vector<std::pair<std::string, const std::string*>> reversed_;
};

}  // namespace fts

#pragma once
// The fixed sequence of changes the crash writer makes: op number -> an add
// (recNo 0) or a replace of an earlier entry.
#include <cstddef>
#include <string>
#include <vector>

namespace ftstest {

struct CrashChange {
  std::size_t recNo;  // 0: add
  std::string text;
};

inline CrashChange CrashStep(long op, std::size_t count) {
  const std::string text = "OP" + std::to_string(op) + " " + std::string(op % 13, 'X');
  if (op % 3 == 2 && count > 0) return {static_cast<std::size_t>(op * 7) % count + 1, text};
  return {0, text};
}

// The entries after the first `ops` changes.
inline void ApplyCrashSteps(std::vector<std::string>& texts, long from, long to) {
  for (long op = from; op < to; ++op) {
    const auto step = CrashStep(op, texts.size());
    if (step.recNo == 0) {
      texts.push_back(step.text);
    } else {
      texts[step.recNo - 1] = step.text;
    }
  }
}

}  // namespace ftstest

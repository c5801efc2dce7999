// Test helper: changes an index without end until it is killed, so that a
// test can kill it in the middle of a write. The changes follow a fixed
// sequence (CrashSequence.h), so the test can tell which states are valid.
#include <cstdio>
#include <string>

#include "CrashSequence.h"
#include "fts32.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char* file = argv[1];
  int h = FtsCreate(file, 1, 0, 0, 0);
  if (h < 0) return 3;
  std::vector<std::string> texts;
  std::printf("ready\n");
  std::fflush(stdout);
  for (long op = 0;; ++op) {
    const auto step = ftstest::CrashStep(op, texts.size());
    if (step.recNo == 0) {
      if (FtsAdd(h, step.text.c_str()) < 0) return 4;
      texts.push_back(step.text);
    } else if (FtsReplace(h, step.text.c_str(), static_cast<int>(step.recNo)) != 0) {
      return 5;
    }
    // Close and reopen now and then: durable points and rewrites of the file.
    if (op % 700 == 699) {
      if (FtsClose(h) != 0) return 6;
      h = FtsOpen(file, 1, 0);
      if (h < 0) return 7;
    }
  }
}

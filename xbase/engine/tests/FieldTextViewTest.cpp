// The text of a stored field without a copy, against a byte-at-a-time
// reading of the same rules, for every width up to past two sixteen-byte
// steps and bytes next to the blank (0x1F, 0x21, 0xA0, NUL, 0xFF).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ValueText.h"

namespace {

std::string_view Expected(char type, std::string_view b) {
  std::size_t from = 0, to = b.size();
  switch (type) {
    case 'C':
      while (to > 0 && b[to - 1] == ' ') --to;
      break;
    case 'N':
    case 'F':
      while (from < to && b[from] == ' ') ++from;
      break;
    case 'D':
      while (to > 0 && (b[to - 1] == ' ' || b[to - 1] == '\0')) --to;
      break;
    default:
      break;
  }
  return b.substr(from, to - from);
}

TEST(FieldTextView, TrimsAsTheFieldTypeSaysAtEveryWidth) {
  const char bytes[] = {' ', ' ', ' ', 'A', '0', '\x1F', '\x21', '\xA0', '\0', '\xFF'};
  std::mt19937 rng(7);
  for (char type : {'C', 'N', 'F', 'D'}) {
    xbe::FieldInfo f;
    f.type = type;
    for (std::size_t width = 1; width <= 40; ++width) {
      f.width = static_cast<int>(width);
      for (int i = 0; i < 60; ++i) {
        // Mostly blanks, with other bytes at random places, often near the ends.
        std::string field(width, ' ');
        const int others = static_cast<int>(rng() % 4);
        for (int k = 0; k < others; ++k)
          field[rng() % width] = bytes[3 + rng() % (sizeof bytes - 3)];
        if (i % 5 == 0) field[i % 2 ? 0 : width - 1] = bytes[rng() % sizeof bytes];
        std::string_view text;
        ASSERT_TRUE(xbe::FieldTextView(f, field, text));
        ASSERT_EQ(text, Expected(type, field)) << type << width;
        ASSERT_GE(text.data(), field.data());  // a view into the field itself
        ASSERT_LE(text.data() + text.size(), field.data() + field.size());
      }
    }
  }
}

TEST(FieldTextView, LogicalFieldsReadAsTFOrNothingAndBinaryTypesNeedACopy) {
  xbe::FieldInfo f;
  f.type = 'L';
  f.width = 1;
  for (int c = 0; c < 256; ++c) {
    const std::string field(1, static_cast<char>(c));
    std::string_view text;
    ASSERT_TRUE(xbe::FieldTextView(f, field, text));
    const std::string_view yes = "TtYy", no = "FfNn";
    const char ch = static_cast<char>(c);
    const char* want = yes.find(ch) != yes.npos ? "T" : no.find(ch) != no.npos ? "F" : "";
    EXPECT_EQ(text, want) << c;
  }
  std::string_view text;
  EXPECT_TRUE(xbe::FieldTextView(f, std::string_view(), text));
  EXPECT_EQ(text, "");
  for (char type : {'I', 'B', 'Y', 'T', '0'}) {
    f.type = type;
    EXPECT_FALSE(xbe::FieldTextView(f, "\x01\x02\x03\x04", text)) << type;
  }
}

}  // namespace

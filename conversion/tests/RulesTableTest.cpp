// The fixed number ranges of the individual accounts at their bounds, and
// the key map: a range off by one converts accounts nobody asked for.
#include <gtest/gtest.h>

#include "Ust2020Defs.h"

namespace conversion {
namespace {

TEST(AccountRanges, BoundsOfBothCharts) {
  using K = TKontoRangeKind;
  struct Case {
    int nr;
    bool skr04;
    K kind;
  } cases[] = {
      {3400, false, K::None},        {3401, false, K::Individuell}, {3419, false, K::Individuell},
      {3420, false, K::None},        {4199, false, K::None},        {4200, false, K::Aufwand},
      {4999, false, K::Aufwand},     {5000, false, K::None},        {8400, false, K::None},
      {8401, false, K::Individuell}, {8409, false, K::Individuell}, {8410, false, K::None},
      {8411, false, K::Individuell}, {8499, false, K::Individuell}, {8500, false, K::None},
      {4400, true, K::None},         {4401, true, K::Individuell},  {4409, true, K::Individuell},
      {4410, true, K::None},         {4411, true, K::Individuell},  {4499, true, K::Individuell},
      {5400, true, K::None},         {5401, true, K::Individuell},  {5419, true, K::Individuell},
      {5420, true, K::None},         {6299, true, K::None},         {6300, true, K::Aufwand},
      {6899, true, K::Aufwand},      {6900, true, K::None},
      // Each chart's ranges belong to that chart only.
      {4210, true, K::None},         {6310, false, K::None},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RangeOf(c.nr, c.skr04), c.kind) << c.nr << (c.skr04 ? " SKR04" : " SKR03");
}

TEST(ReducedKey, MapAndUnmappedKeys) {
  const int from[] = {3, 50, 8, 53, 23, 55, 16, 54};
  const int to[] = {65, 2, 66, 6, 67, 24, 68, 17};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ReducedSSL(from[i]), to[i]);
  for (int k : {0, 2, 6, 12, 65, 66, 999, -3}) EXPECT_EQ(ReducedSSL(k), 0) << k;
}

}  // namespace
}  // namespace conversion

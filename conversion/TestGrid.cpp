#include "TestGrid.h"

#include <stdexcept>
#include <string>

namespace conversion {

namespace {
// A grid cell outside the grid is a programming error the tests must see.
void CheckBounds(int ACol, int ARow, int ACols, int ARows) {
  if (ACol < 0 || ARow < 0 || ACol >= ACols || ARow >= ARows)
    throw std::out_of_range("grid cell " + std::to_string(ACol) + "," + std::to_string(ARow) +
                            " outside " + std::to_string(ACols) + "x" + std::to_string(ARows));
}
}  // namespace

void TTestGrid::SetColCount(int ACount) {
  FColCount = ACount < 0 ? 0 : ACount;
  Trim();
}

void TTestGrid::SetRowCount(int ACount) {
  FRowCount = ACount < 0 ? 0 : ACount;
  Trim();
}

void TTestGrid::Trim() {
  for (auto it = FCells.begin(); it != FCells.end();) {
    if (it->first.first >= FColCount || it->first.second >= FRowCount)
      it = FCells.erase(it);
    else
      ++it;
  }
}

int TTestGrid::ColWidth(int ACol) const {
  auto it = FWidths.find(ACol);
  return it == FWidths.end() ? 64 : it->second;
}

void TTestGrid::SetColWidth(int ACol, int APixels) {
  CheckBounds(ACol, 0, FColCount, 1);
  FWidths[ACol] = APixels;
}

void TTestGrid::SetCheckBox(int ACol, int ARow, bool AHasCheckBox) {
  TCellData& cell = At(ACol, ARow);
  cell.CheckBox = AHasCheckBox;
  if (!AHasCheckBox) cell.Checked = false;
}

void TTestGrid::Click(int ACol, int ARow) {
  if (IsHotLink(ACol, ARow) && OnLinkClick) OnLinkClick(ACol, ARow);
}

const TTestGrid::TCellData& TTestGrid::Get(int ACol, int ARow) const {
  static const TCellData kEmpty;
  CheckBounds(ACol, ARow, FColCount, FRowCount);
  auto it = FCells.find({ACol, ARow});
  return it == FCells.end() ? kEmpty : it->second;
}

TTestGrid::TCellData& TTestGrid::At(int ACol, int ARow) {
  CheckBounds(ACol, ARow, FColCount, FRowCount);
  return FCells[{ACol, ARow}];
}

}  // namespace conversion

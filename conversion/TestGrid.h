#pragma once
// A grid kept in memory: for tests and the command-line tools, which fill a
// grid without showing it.
#include <map>
#include <utility>

#include "Grid.h"

namespace conversion {

class TTestGrid : public TGrid {
 public:
  int ColCount() const override { return FColCount; }
  void SetColCount(int ACount) override;
  int RowCount() const override { return FRowCount; }
  void SetRowCount(int ACount) override;
  int FixedCols() const override { return FFixedCols; }
  void SetFixedCols(int ACount) override { FFixedCols = ACount; }
  int FixedRows() const override { return FFixedRows; }
  void SetFixedRows(int ACount) override { FFixedRows = ACount; }
  int ColWidth(int ACol) const override;
  void SetColWidth(int ACol, int APixels) override;
  int Tag() const override { return FTag; }
  void SetTag(int ATag) override { FTag = ATag; }
  void Clear() override { FCells.clear(); }

  std::string Cell(int ACol, int ARow) const override { return Get(ACol, ARow).Text; }
  void SetCell(int ACol, int ARow, const std::string& AText) override { At(ACol, ARow).Text = AText; }
  bool HasCheckBox(int ACol, int ARow) const override { return Get(ACol, ARow).CheckBox; }
  void SetCheckBox(int ACol, int ARow, bool AHasCheckBox) override;
  bool IsChecked(int ACol, int ARow) const override { return Get(ACol, ARow).Checked; }
  void SetChecked(int ACol, int ARow, bool AChecked) override { At(ACol, ARow).Checked = AChecked; }
  bool IsReadOnly(int ACol, int ARow) const override { return Get(ACol, ARow).ReadOnly; }
  void SetReadOnly(int ACol, int ARow, bool AReadOnly) override { At(ACol, ARow).ReadOnly = AReadOnly; }
  TGridAlign Alignment(int ACol, int ARow) const override { return Get(ACol, ARow).Align; }
  void SetAlignment(int ACol, int ARow, TGridAlign AAlign) override { At(ACol, ARow).Align = AAlign; }
  std::string Hint(int ACol, int ARow) const override { return Get(ACol, ARow).Hint; }
  void SetHint(int ACol, int ARow, const std::string& AHint) override { At(ACol, ARow).Hint = AHint; }
  bool IsHotLink(int ACol, int ARow) const override { return Get(ACol, ARow).HotLink; }
  void SetHotLink(int ACol, int ARow, bool AHotLink) override { At(ACol, ARow).HotLink = AHotLink; }

  // Simulates a click on a cell: raises OnLinkClick when it is a hot link.
  void Click(int ACol, int ARow);

 private:
  struct TCellData {
    std::string Text;
    std::string Hint;
    bool CheckBox = false;
    bool Checked = false;
    bool ReadOnly = false;
    bool HotLink = false;
    TGridAlign Align = TGridAlign::Left;
  };
  const TCellData& Get(int ACol, int ARow) const;
  TCellData& At(int ACol, int ARow);
  void Trim();

  int FColCount = 0;
  int FRowCount = 0;
  int FFixedCols = 0;
  int FFixedRows = 0;
  int FTag = 0;
  std::map<int, int> FWidths;
  std::map<std::pair<int, int>, TCellData> FCells;
};

}  // namespace conversion

#pragma once
// The grid of the Mandant and log pages: a QTableWidget that implements the
// engine's grid interface. The engine's row 0 (the fixed header row) is the
// table's horizontal header; data rows follow from table row 0 on. Cells keep
// their attributes in a model of their own, so reading them back never
// depends on how Qt shows them.
#include <QTableWidget>
#include <vector>

#include "conversion/Grid.h"

namespace wizard {

class QtGrid : public QTableWidget, public conversion::TGrid {
  Q_OBJECT
 public:
  explicit QtGrid(QWidget* parent = nullptr);

  int ColCount() const override { return cols_; }
  void SetColCount(int ACount) override;
  int RowCount() const override { return rows_; }
  void SetRowCount(int ACount) override;
  int FixedCols() const override { return fixedCols_; }
  void SetFixedCols(int ACount) override;
  int FixedRows() const override { return fixedRows_; }
  void SetFixedRows(int ACount) override;
  int ColWidth(int ACol) const override;
  void SetColWidth(int ACol, int APixels) override;
  int Tag() const override { return tag_; }
  void SetTag(int ATag) override { tag_ = ATag; }
  void Clear() override;
  std::string Cell(int ACol, int ARow) const override;
  void SetCell(int ACol, int ARow, const std::string& AText) override;
  bool HasCheckBox(int ACol, int ARow) const override;
  void SetCheckBox(int ACol, int ARow, bool AHasCheckBox) override;
  bool IsChecked(int ACol, int ARow) const override;
  void SetChecked(int ACol, int ARow, bool AChecked) override;
  bool IsReadOnly(int ACol, int ARow) const override;
  void SetReadOnly(int ACol, int ARow, bool AReadOnly) override;
  conversion::TGridAlign Alignment(int ACol, int ARow) const override;
  void SetAlignment(int ACol, int ARow, conversion::TGridAlign AAlign) override;
  std::string Hint(int ACol, int ARow) const override;
  void SetHint(int ACol, int ARow, const std::string& AHint) override;
  bool IsHotLink(int ACol, int ARow) const override;
  void SetHotLink(int ACol, int ARow, bool AHotLink) override;

  // Table row of an engine row; -1 for the header row.
  int TableRow(int ARow) const { return ARow - HeaderRows(); }

  // Clicks a cell as the user would (tests, keyboard activation).
  void ActivateCell(int ACol, int ARow);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  struct CellData {
    std::string text;
    std::string hint;
    bool checkBox = false;
    bool checked = false;
    bool readOnly = false;
    bool hotLink = false;
    conversion::TGridAlign align = conversion::TGridAlign::Left;
  };

  int HeaderRows() const { return fixedRows_ > 0 ? 1 : 0; }
  bool Valid(int c, int r) const { return c >= 0 && r >= 0 && c < cols_ && r < rows_; }
  CellData* At(int c, int r);
  const CellData* At(int c, int r) const;
  void Resize(int cols, int rows);
  void Render(int c, int r);
  void RenderAll();
  void OnItemChanged(QTableWidgetItem* item);
  void OnCellClicked(int tableRow, int col);

  int cols_ = 0;
  int rows_ = 0;
  int fixedCols_ = 0;
  int fixedRows_ = 0;
  int tag_ = 0;
  std::vector<CellData> cells_;  // row-major, rows_ x cols_
  std::vector<int> widths_;
  bool rendering_ = false;
};

}  // namespace wizard

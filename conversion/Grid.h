#pragma once
// The grid of the Mandant and log pages, as the engine sees it. The engine
// fills it; the wizard implements it with Qt, tests and tools with TestGrid.
// Rows and columns count from 0; row 0 is the header row when FixedRows is 1.
#include <functional>
#include <string>

namespace conversion {

enum class TGridAlign { Left, Center, Right };

class TGrid {
 public:
  virtual ~TGrid() = default;

  // Resizing keeps the cells that stay inside the new bounds; new cells are
  // empty, without check box, editable, left-aligned, no hint, no hot link.
  virtual int ColCount() const = 0;
  virtual void SetColCount(int ACount) = 0;
  virtual int RowCount() const = 0;
  virtual void SetRowCount(int ACount) = 0;
  virtual int FixedCols() const = 0;
  virtual void SetFixedCols(int ACount) = 0;
  virtual int FixedRows() const = 0;
  virtual void SetFixedRows(int ACount) = 0;
  virtual int ColWidth(int ACol) const = 0;
  virtual void SetColWidth(int ACol, int APixels) = 0;

  // A number the owner keeps on the grid (the engine: 1 once filled).
  virtual int Tag() const = 0;
  virtual void SetTag(int ATag) = 0;

  // Empties every cell and every cell attribute; counts and widths stay.
  virtual void Clear() = 0;

  virtual std::string Cell(int ACol, int ARow) const = 0;  // UTF-8
  virtual void SetCell(int ACol, int ARow, const std::string& AText) = 0;

  // A check box in a cell. Removing it also clears its checked state.
  virtual bool HasCheckBox(int ACol, int ARow) const = 0;
  virtual void SetCheckBox(int ACol, int ARow, bool AHasCheckBox) = 0;
  virtual bool IsChecked(int ACol, int ARow) const = 0;
  virtual void SetChecked(int ACol, int ARow, bool AChecked) = 0;

  virtual bool IsReadOnly(int ACol, int ARow) const = 0;
  virtual void SetReadOnly(int ACol, int ARow, bool AReadOnly) = 0;

  virtual TGridAlign Alignment(int ACol, int ARow) const = 0;
  virtual void SetAlignment(int ACol, int ARow, TGridAlign AAlign) = 0;

  virtual std::string Hint(int ACol, int ARow) const = 0;
  virtual void SetHint(int ACol, int ARow, const std::string& AHint) = 0;

  // A hot-link cell shows its text as a link; clicking it raises OnLinkClick.
  virtual bool IsHotLink(int ACol, int ARow) const = 0;
  virtual void SetHotLink(int ACol, int ARow, bool AHotLink) = 0;

  // The cell's text read as a decimal integer; ADefault when it is not one.
  int CellAsInteger(int ACol, int ARow, int ADefault = -1) const;

  // Raised with the column and row of a clicked hot-link cell.
  std::function<void(int ACol, int ARow)> OnLinkClick;
};

}  // namespace conversion

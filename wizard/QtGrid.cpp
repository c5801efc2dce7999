#include "wizard/QtGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>

namespace wizard {
namespace {
QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

Qt::Alignment ToQt(conversion::TGridAlign a) {
  switch (a) {
    case conversion::TGridAlign::Center: return Qt::AlignCenter;
    case conversion::TGridAlign::Right: return Qt::AlignRight | Qt::AlignVCenter;
    case conversion::TGridAlign::Left: break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}
}  // namespace

QtGrid::QtGrid(QWidget* parent) : QTableWidget(parent) {
  verticalHeader()->setVisible(false);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
  horizontalHeader()->setVisible(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setStretchLastSection(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  setWordWrap(false);
  setMouseTracking(true);
  connect(this, &QTableWidget::itemChanged, this, &QtGrid::OnItemChanged);
  connect(this, &QTableWidget::cellClicked, this, &QtGrid::OnCellClicked);
}

QtGrid::CellData* QtGrid::At(int c, int r) {
  return Valid(c, r) ? &cells_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)]
                     : nullptr;
}

const QtGrid::CellData* QtGrid::At(int c, int r) const {
  return const_cast<QtGrid*>(this)->At(c, r);
}

void QtGrid::Resize(int cols, int rows) {
  cols = std::max(cols, 0);
  rows = std::max(rows, 0);
  std::vector<CellData> next(static_cast<size_t>(cols) * static_cast<size_t>(rows));
  for (int r = 0; r < std::min(rows, rows_); ++r)
    for (int c = 0; c < std::min(cols, cols_); ++c)
      next[static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c)] =
          std::move(*At(c, r));
  cells_ = std::move(next);
  cols_ = cols;
  rows_ = rows;
  widths_.resize(static_cast<size_t>(cols), 64);
  RenderAll();
}

void QtGrid::SetColCount(int ACount) { Resize(ACount, rows_); }
void QtGrid::SetRowCount(int ACount) { Resize(cols_, ACount); }

void QtGrid::SetFixedCols(int ACount) {
  fixedCols_ = std::clamp(ACount, 0, cols_);
  RenderAll();
}

void QtGrid::SetFixedRows(int ACount) {
  fixedRows_ = std::clamp(ACount, 0, rows_);
  RenderAll();
}

int QtGrid::ColWidth(int ACol) const {
  return ACol >= 0 && ACol < cols_ ? widths_[static_cast<size_t>(ACol)] : 0;
}

void QtGrid::SetColWidth(int ACol, int APixels) {
  if (ACol < 0 || ACol >= cols_) return;
  widths_[static_cast<size_t>(ACol)] = std::max(APixels, 0);
  setColumnWidth(ACol, widths_[static_cast<size_t>(ACol)]);
}

void QtGrid::Clear() {
  for (auto& cell : cells_) cell = CellData{};
  RenderAll();
}

std::string QtGrid::Cell(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d ? d->text : std::string();
}

void QtGrid::SetCell(int ACol, int ARow, const std::string& AText) {
  if (CellData* d = At(ACol, ARow)) {
    d->text = AText;
    Render(ACol, ARow);
  }
}

bool QtGrid::HasCheckBox(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d && d->checkBox;
}

void QtGrid::SetCheckBox(int ACol, int ARow, bool AHasCheckBox) {
  if (CellData* d = At(ACol, ARow)) {
    d->checkBox = AHasCheckBox;
    if (!AHasCheckBox) d->checked = false;
    Render(ACol, ARow);
  }
}

bool QtGrid::IsChecked(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d && d->checkBox && d->checked;
}

void QtGrid::SetChecked(int ACol, int ARow, bool AChecked) {
  if (CellData* d = At(ACol, ARow)) {
    d->checked = AChecked;
    Render(ACol, ARow);
  }
}

bool QtGrid::IsReadOnly(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d && d->readOnly;
}

void QtGrid::SetReadOnly(int ACol, int ARow, bool AReadOnly) {
  if (CellData* d = At(ACol, ARow)) {
    d->readOnly = AReadOnly;
    Render(ACol, ARow);
  }
}

conversion::TGridAlign QtGrid::Alignment(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d ? d->align : conversion::TGridAlign::Left;
}

void QtGrid::SetAlignment(int ACol, int ARow, conversion::TGridAlign AAlign) {
  if (CellData* d = At(ACol, ARow)) {
    d->align = AAlign;
    Render(ACol, ARow);
  }
}

std::string QtGrid::Hint(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d ? d->hint : std::string();
}

void QtGrid::SetHint(int ACol, int ARow, const std::string& AHint) {
  if (CellData* d = At(ACol, ARow)) {
    d->hint = AHint;
    Render(ACol, ARow);
  }
}

bool QtGrid::IsHotLink(int ACol, int ARow) const {
  const CellData* d = At(ACol, ARow);
  return d && d->hotLink;
}

void QtGrid::SetHotLink(int ACol, int ARow, bool AHotLink) {
  if (CellData* d = At(ACol, ARow)) {
    d->hotLink = AHotLink;
    Render(ACol, ARow);
  }
}

void QtGrid::RenderAll() {
  rendering_ = true;
  setColumnCount(cols_);
  setRowCount(std::max(rows_ - HeaderRows(), 0));
  horizontalHeader()->setVisible(HeaderRows() > 0);
  rendering_ = false;
  for (int c = 0; c < cols_; ++c) setColumnWidth(c, widths_[static_cast<size_t>(c)]);
  for (int r = 0; r < rows_; ++r)
    for (int c = 0; c < cols_; ++c) Render(c, r);
}

void QtGrid::Render(int c, int r) {
  const CellData* d = At(c, r);
  if (!d) return;
  rendering_ = true;
  const QString text = Q(d->text);
  if (r < HeaderRows()) {
    auto* header = horizontalHeaderItem(c);
    if (!header) {
      header = new QTableWidgetItem;  // owned by the table
      setHorizontalHeaderItem(c, header);
    }
    header->setText(text);
    header->setToolTip(Q(d->hint));
    header->setTextAlignment(ToQt(d->align));
    rendering_ = false;
    return;
  }
  QTableWidgetItem* it = item(TableRow(r), c);
  if (!it) {
    it = new QTableWidgetItem;  // owned by the table
    setItem(TableRow(r), c, it);
  }
  const bool fixed = r < fixedRows_ || c < fixedCols_;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (!d->readOnly && !fixed) {
    if (d->checkBox)
      flags |= Qt::ItemIsUserCheckable;
    else
      flags |= Qt::ItemIsEditable;
  }
  it->setFlags(flags);
  it->setText(text);
  it->setToolTip(Q(d->hint));
  it->setTextAlignment(ToQt(d->align));
  if (d->checkBox)
    it->setData(Qt::CheckStateRole, d->checked ? Qt::Checked : Qt::Unchecked);
  else
    it->setData(Qt::CheckStateRole, QVariant());
  QFont f = font();
  f.setUnderline(d->hotLink);
  it->setFont(f);
  if (d->hotLink)
    it->setForeground(palette().brush(QPalette::Link));
  else
    it->setData(Qt::ForegroundRole, QVariant());
  if (fixed)
    it->setBackground(palette().brush(QPalette::Button));
  else
    it->setData(Qt::BackgroundRole, QVariant());
  rendering_ = false;
}

void QtGrid::OnItemChanged(QTableWidgetItem* it) {
  if (rendering_ || !it) return;
  const int r = it->row() + HeaderRows();
  const int c = it->column();
  CellData* d = At(c, r);
  if (!d) return;
  if (d->checkBox) {
    const bool checked = it->checkState() == Qt::Checked;
    if (d->readOnly) {
      Render(c, r);  // a read-only box keeps its state
      return;
    }
    d->checked = checked;
  }
  if (!d->readOnly) d->text = it->text().toStdString();
}

void QtGrid::OnCellClicked(int tableRow, int col) {
  const int r = tableRow + HeaderRows();
  const CellData* d = At(col, r);
  if (d && d->hotLink && OnLinkClick) OnLinkClick(col, r);
}

void QtGrid::ActivateCell(int ACol, int ARow) {
  if (ARow < HeaderRows()) return;
  setCurrentCell(TableRow(ARow), ACol);
  OnCellClicked(TableRow(ARow), ACol);
}

void QtGrid::keyPressEvent(QKeyEvent* event) {
  // Links answer to the keyboard as well: Enter or Space on the current cell.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
       event->key() == Qt::Key_Space) &&
      currentItem() != nullptr) {
    const int r = currentRow() + HeaderRows();
    const int c = currentColumn();
    if (IsHotLink(c, r)) {
      OnCellClicked(currentRow(), c);
      event->accept();
      return;
    }
  }
  QTableWidget::keyPressEvent(event);
}

void QtGrid::mouseMoveEvent(QMouseEvent* event) {
  const QModelIndex idx = indexAt(event->position().toPoint());
  const bool overLink = idx.isValid() && IsHotLink(idx.column(), idx.row() + HeaderRows());
  viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::ArrowCursor);
  QTableWidget::mouseMoveEvent(event);
}

}  // namespace wizard

#include "wizard/QtListBox.h"

#include <QCoreApplication>

namespace wizard {
namespace {
QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

QtListBox::QtListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
}

void QtListBox::Clear() { clear(); }

void QtListBox::Add(const std::string& ALine) {
  addItem(Q(ALine));
  if (suspended_ == 0) scrollToBottom();
}

std::string QtListBox::Line(int AIndex) const {
  const QListWidgetItem* it = item(AIndex);
  return it ? it->text().toStdString() : std::string();
}

void QtListBox::SetLine(int AIndex, const std::string& ALine) {
  if (QListWidgetItem* it = item(AIndex)) it->setText(Q(ALine));
}

void QtListBox::BeginUpdate() {
  if (suspended_++ == 0) setUpdatesEnabled(false);
}

void QtListBox::EndUpdate() {
  if (suspended_ > 0 && --suspended_ == 0) {
    setUpdatesEnabled(true);
    scrollToBottom();
  }
}

void QtListBox::Repaint() {
  if (suspended_ > 0) return;
  // The view lays out new rows later, from the event loop, which the run
  // blocks: lay them out and paint right now.
  doItemsLayout();
  scrollToBottom();
  viewport()->repaint();
}

}  // namespace wizard

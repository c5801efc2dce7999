#pragma once
// The four pages of the wizard, one small class each. They only build their
// controls (named as the form's code refers to them); the flow between the
// pages lives in the form.
#include <QCheckBox>
#include <QLabel>
#include <QSplitter>
#include <QTextEdit>
#include <QWidget>

#include "wizard/QtGrid.h"
#include "wizard/QtListBox.h"

namespace wizard {

// Page 0: the information text and its confirmation.
class StartPage : public QWidget {
  Q_OBJECT
 public:
  explicit StartPage(QWidget* parent = nullptr);
  QTextEdit* RE_StartInfo;
  QCheckBox* ChkB_Start;
};

// Page 1: the Mandanten to convert and the confirmation of the run.
class MandantPage : public QWidget {
  Q_OBJECT
 public:
  explicit MandantPage(QWidget* parent = nullptr);
  QLabel* L_MandantInfo;
  QtGrid* Grid_Mandant;
  QCheckBox* ChkB_Convert;
};

// Page 2: progress and results of the run.
class ConvertPage : public QWidget {
  Q_OBJECT
 public:
  explicit ConvertPage(QWidget* parent = nullptr);
  QSplitter* Splitter1;
  QtListBox* LB_Convert;
  QtListBox* LB_Result;
  QLabel* L_Convert;
};

// Page 3: the logs of the converted Mandanten, each behind a link.
class ProtokollPage : public QWidget {
  Q_OBJECT
 public:
  explicit ProtokollPage(QWidget* parent = nullptr);
  QLabel* Label1;
  QtGrid* Grid_Protokoll;
};

// A panel of the form: a named frame with a layout of the given margin.
QWidget* MakePanel(const char* name, QWidget* parent, int margin, bool vertical = true);

}  // namespace wizard

#include "wizard/Pages.h"

#include <QBoxLayout>
#include <QFrame>
#include <QScrollBar>

namespace wizard {
namespace {

QFont Bold(QFont f) {
  f.setBold(true);
  return f;
}

QVBoxLayout* PageLayout(QWidget* page) {
  auto* l = new QVBoxLayout(page);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(0);
  return l;
}

}  // namespace

QWidget* MakePanel(const char* name, QWidget* parent, int margin, bool vertical) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  QBoxLayout* l = vertical ? static_cast<QBoxLayout*>(new QVBoxLayout(panel))
                           : static_cast<QBoxLayout*>(new QHBoxLayout(panel));
  l->setContentsMargins(margin, margin, margin, margin);
  l->setSpacing(margin);
  return panel;
}

StartPage::StartPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TS_Start"));
  auto* l = PageLayout(this);
  QWidget* info = MakePanel("P_StartInfo", this, 8);
  RE_StartInfo = new QTextEdit(info);
  RE_StartInfo->setObjectName(QStringLiteral("RE_StartInfo"));
  RE_StartInfo->setReadOnly(true);
  RE_StartInfo->setFrameShape(QFrame::NoFrame);
  RE_StartInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RE_StartInfo->setPlainText(QStringLiteral("Datei USt2020_Info.rtf nicht gefunden!"));
  info->layout()->addWidget(RE_StartInfo);
  l->addWidget(info, 1);

  QWidget* check = MakePanel("P_StartCheck", this, 0, false);
  check->setFixedHeight(32);
  check->layout()->setContentsMargins(8, 0, 8, 0);
  ChkB_Start = new QCheckBox(QStringLiteral("ja, ich habe die Informationen vollständig gelesen"), check);
  ChkB_Start->setObjectName(QStringLiteral("ChkB_Start"));
  check->layout()->addWidget(ChkB_Start);
  l->addWidget(check);
}

MandantPage::MandantPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TS_Mandant"));
  auto* l = PageLayout(this);
  QWidget* info = MakePanel("P_MandantInfo", this, 8);
  info->setFixedHeight(57);
  L_MandantInfo = new QLabel(
      QStringLiteral("Hier wählen Sie die Mandanten aus, die Sie jetzt umstellen möchten.\n"
                     "Hinweis: Bereits umgestellte Mandanten können Sie nicht erneut auswählen."),
      info);
  L_MandantInfo->setObjectName(QStringLiteral("L_MandantInfo"));
  L_MandantInfo->setWordWrap(true);
  L_MandantInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  info->layout()->addWidget(L_MandantInfo);
  l->addWidget(info);

  QWidget* grid = MakePanel("P_MandantGrid", this, 0);
  grid->layout()->setContentsMargins(8, 0, 8, 0);
  Grid_Mandant = new QtGrid(grid);
  Grid_Mandant->setObjectName(QStringLiteral("Grid_Mandant"));
  grid->layout()->addWidget(Grid_Mandant);
  l->addWidget(grid, 1);

  QWidget* check = MakePanel("P_MandantCheck", this, 0, false);
  check->setFixedHeight(32);
  check->layout()->setContentsMargins(8, 0, 8, 0);
  ChkB_Convert = new QCheckBox(QStringLiteral("ja, ich möchte die Umstellung jetzt ausführen"), check);
  ChkB_Convert->setObjectName(QStringLiteral("ChkB_Convert"));
  check->layout()->addWidget(ChkB_Convert);
  l->addWidget(check);
}

ConvertPage::ConvertPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TS_Convert"));
  auto* l = PageLayout(this);
  QWidget* top = MakePanel("P_ConvertTop", this, 8);
  Splitter1 = new QSplitter(Qt::Horizontal, top);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(8);
  Splitter1->setChildrenCollapsible(false);
  LB_Convert = new QtListBox(Splitter1);
  LB_Convert->setObjectName(QStringLiteral("LB_Convert"));
  LB_Convert->setFont(Bold(LB_Convert->font()));
  LB_Result = new QtListBox(Splitter1);
  LB_Result->setObjectName(QStringLiteral("LB_Result"));
  LB_Result->setFont(Bold(LB_Result->font()));
  Splitter1->addWidget(LB_Convert);
  Splitter1->addWidget(LB_Result);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({345, 364});
  top->layout()->addWidget(Splitter1);
  l->addWidget(top, 1);

  QWidget* bottom = MakePanel("Panel1", this, 8);
  bottom->setFixedHeight(92);
  L_Convert = new QLabel(bottom);
  L_Convert->setObjectName(QStringLiteral("L_Convert"));
  L_Convert->setFont(Bold(L_Convert->font()));
  L_Convert->setWordWrap(true);
  L_Convert->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  L_Convert->setTextInteractionFlags(Qt::TextSelectableByMouse);
  bottom->layout()->addWidget(L_Convert);
  l->addWidget(bottom);
}

ProtokollPage::ProtokollPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TS_Protokoll"));
  auto* l = PageLayout(this);
  QWidget* top = MakePanel("Panel4", this, 8);
  top->setFixedHeight(41);
  Label1 = new QLabel(QStringLiteral("Bitte prüfen Sie alle aufgelisteten Protokolle Klicken Sie "
                                     "hierzu auf den Link in der Spalte <Protokoll>."),
                      top);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  Label1->setFont(Bold(Label1->font()));
  Label1->setWordWrap(true);
  top->layout()->addWidget(Label1);
  l->addWidget(top);

  QWidget* middle = MakePanel("Panel3", this, 0);
  middle->layout()->setContentsMargins(8, 0, 8, 0);
  Grid_Protokoll = new QtGrid(middle);
  Grid_Protokoll->setObjectName(QStringLiteral("Grid_Protokoll"));
  middle->layout()->addWidget(Grid_Protokoll);
  l->addWidget(middle, 1);

  QWidget* bottom = MakePanel("Panel2", this, 0);
  bottom->setFixedHeight(41);
  l->addWidget(bottom);
}

}  // namespace wizard

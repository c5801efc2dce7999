// The information text as the start page shows it: RTF read into HTML and
// laid out by QTextDocument, checked on the document Qt builds from it.
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include "wizard/RtfReader.h"

namespace {

QTextDocument* Doc(const std::string& rtf, QObject* parent) {
  auto* doc = new QTextDocument(parent);
  doc->setHtml(QString::fromStdString(wizard::RtfToHtml(rtf)));
  return doc;
}

// The format of the first fragment that contains `text`.
QTextCharFormat FormatOf(QTextDocument* doc, const QString& text) {
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().text().contains(text)) return it.fragment().charFormat();
  return {};
}

}  // namespace

class RtfReaderTest : public QObject {
  Q_OBJECT
 private slots:
  void wordProcessorDocument() {
    // As a word processor saves it: tables of fonts, colours and styles,
    // document info, a \* destination, then formatted paragraphs.
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1031"
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fnil\\fcharset2 Symbol;}}\r\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue128;}\r\n"
        "{\\stylesheet{\\s0 Normal;}}{\\info{\\author Jemand}{\\title Titel}}"
        "{\\*\\generator Writer 1.0;}\\viewkind4\\uc1\r\n"
        "\\pard\\qc\\b\\fs32 Umstellung 2020\\b0\\par\r\n"
        "\\pard\\fs20 Die \\i Steuers\\'e4tze\\i0  sinken: \\cf1 19 %\\cf0  \\u8594?\\~16 %.\\par\r\n"
        "\\ul unterstrichen\\ulnone\\line neue Zeile\\tab Tab\\par\r\n"
        "\\par\r\n"
        "{\\pict\\wmetafile8 0123456789abcdef}{\\*\\shppict nicht}"
        "{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt Verweis}}\\par}";
    QTextDocument* doc = Doc(rtf, this);
    const QStringList lines = doc->toPlainText().split(QLatin1Char('\n'));
    // Plain text shows a line break (\line) as a new line and the
    // non-breaking space as a blank; the CR LF of the file are no text.
    QCOMPARE(lines, QStringList({QStringLiteral("Umstellung 2020"),
                                 QStringLiteral("Die Steuersätze sinken: 19 % → 16 %."),
                                 QStringLiteral("unterstrichen"), QStringLiteral("neue Zeile\tTab"),
                                 QStringLiteral(" "), QStringLiteral("Verweis")}));
    QCOMPARE(doc->blockCount(), 5);

    QCOMPARE(doc->begin().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(doc->begin().next().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
             Qt::AlignLeft);
    const QTextCharFormat title = FormatOf(doc, QStringLiteral("Umstellung"));
    QCOMPARE(title.fontWeight(), int(QFont::Bold));
    QCOMPARE(title.fontPointSize(), 16.0);
    QVERIFY(FormatOf(doc, QStringLiteral("Steuers")).fontItalic());
    QVERIFY(!FormatOf(doc, QStringLiteral("sinken")).fontItalic());
    QCOMPARE(FormatOf(doc, QStringLiteral("sinken")).fontPointSize(), 10.0);
    QCOMPARE(FormatOf(doc, QStringLiteral("19")).foreground().color(), QColor(255, 0, 0));
    QVERIFY(FormatOf(doc, QStringLiteral("unterstrichen")).fontUnderline());
    QVERIFY(!FormatOf(doc, QStringLiteral("neue")).fontUnderline());
  }

  void paragraphSpacingAndIndents() {
    QTextDocument* doc = Doc("{\\rtf1\\pard\\sb300\\sa150\\fi-360\\li720 eins\\par zwei\\par"
                             "\\pard\\li99999999 drei\\par}",
                             this);
    const QTextBlockFormat first = doc->begin().blockFormat();
    QCOMPARE(first.topMargin(), 20.0);
    QCOMPARE(first.bottomMargin(), 10.0);
    QCOMPARE(first.leftMargin(), 48.0);
    QCOMPARE(first.textIndent(), -24.0);
    QCOMPARE(doc->begin().next().blockFormat().leftMargin(), 48.0);  // until \pard
    QCOMPARE(doc->lastBlock().blockFormat().leftMargin(), 960.0);    // bounded
  }

  void unicodeEscapes() {
    // \ucN says how many fallback characters follow each \u; a \'xx counts
    // as one. Negative values stand for code units above 32767, surrogate
    // pairs make one character.
    QTextDocument* doc = Doc(
        "{\\rtf1\\uc2 a\\u8364\\'80\\'80b\\uc1\\u-3?c\\u55357?\\u56832?d{\\uc0\\u246}e}", this);
    QCOMPARE(doc->toPlainText(), QStringLiteral("a€b\ufffdc") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("d\u00f6e"));
  }

  void specialCharactersAreEscaped() {
    QTextDocument* doc = Doc("{\\rtf1 <b>&amp;\\{x\\}\\\\ \\'3c/p\\'3e\\emdash\\bullet}", this);
    QCOMPARE(doc->toPlainText(), QStringLiteral("<b>&amp;{x}\\ </p>—•"));
  }

  void listsAndTablesDegradeToParagraphs() {
    const std::string rtf =
        "{\\rtf1{\\*\\listtable{\\list{\\listlevel x}}}"
        "{\\pntext\\f1\\'b7\\tab}{\\*\\pn\\pnlvlblt{\\pntxtb\\'b7}}Punkt eins\\par"
        "\\trowd\\cellx1000\\cellx2000\\intbl A\\cell B\\cell\\row"
        "\\intbl C\\cell D\\cell\\row}";
    QTextDocument* doc = Doc(rtf, this);
    QCOMPARE(doc->toPlainText(), QStringLiteral("·\tPunkt eins\nA\tB\t\nC\tD\t"));
  }

  void plainTextFileIsShownAsIs() {
    QTextDocument* doc = Doc("Zeile 1\r\nZeile <2> \xe4\r\n\r\nEnde", this);
    QCOMPARE(doc->toPlainText(), QStringLiteral("Zeile 1\nZeile <2> ä\n \nEnde"));
  }

  void hostileInputStaysBounded() {
    // Deep nesting, unbalanced braces, truncated escapes, huge numbers and
    // a \bin that claims more bytes than there are: text, no crash.
    std::string deep(100000, '{');
    deep += "tief";
    QVERIFY(wizard::RtfToHtml("{\\rtf1" + deep).find("tief") != std::string::npos);
    std::string closes = "{\\rtf1 x" + std::string(1000, '}') + "y";
    QVERIFY(wizard::RtfToHtml(closes).find('y') != std::string::npos);
    for (const char* s : {"{\\rtf1\\'", "{\\rtf1\\'4", "{\\rtf1\\u", "{\\rtf1\\u-",
                          "{\\rtf1\\fs99999999999999999999 a", "{\\rtf1\\bin999999999 abc",
                          "{\\rtf1\\uc99999\\u65 abc", "{\\rtf1\\cf-5\\cf99 rot}",
                          "{\\rtf1{\\colortbl\\red999;}\\cf1 x}", "{\\rtf1\\\0x}"}) {
      const std::string out = wizard::RtfToHtml(std::string(s, s + std::char_traits<char>::length(s)));
      QTextDocument doc;
      doc.setHtml(QString::fromStdString(out));  // must be well-formed enough for Qt
    }
    wizard::RtfLimits tight;
    tight.maxDepth = 2;
    QCOMPARE(QString::fromStdString(wizard::RtfToHtml("{\\rtf1{{{\\b x}}}\\b0 y}", tight))
                 .count(QStringLiteral("font-weight:bold")),
             1);
  }
};

QTEST_MAIN(RtfReaderTest)
#include "RtfReaderTest.moc"

#include "documents/release/markup.h"

#include <QtTest>

class tst_Markup : public QObject
{
    Q_OBJECT

private slots:
    void markupToHtml_data();
    void markupToHtml();
};

void tst_Markup::markupToHtml_data()
{
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QString>("html");

    const QString big = QStringLiteral("<b><font size=\"3\" color=\"black\">");
    const QString endBig = QStringLiteral("</font></b>");

    QTest::newRow("plain text") << "plain text, no markers" << "plain text, no markers";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("asterisk pair") << "*Title*" << big + "Title" + endBig;
    QTest::newRow("two pairs on one line are two spans")
        << "*first* and *second*" << big + "first" + endBig + " and " + big + "second" + endBig;
    QTest::newRow("empty asterisk pair") << "**" << big + endBig;
    QTest::newRow("underscore inside a word") << "a_b_c" << "a<b>b</b>c";
    QTest::newRow("exclamation pair") << "Hello! Bye!" << "Hello<i> Bye</i>";
    QTest::newRow("lone asterisk") << "5 * 3" << "5 * 3";
    QTest::newRow("lone underscore") << "snake_case" << "snake_case";
    QTest::newRow("lone exclamation mark") << "Done!" << "Done!";
    QTest::newRow("third marker stays alone") << "_a_ _b" << "<b>a</b> _b";
    QTest::newRow("line break") << "a\nb" << "a<br/>b";
    QTest::newRow("pair across lines") << "*one\ntwo*" << big + "one<br/>two" + endBig;
    QTest::newRow("underscores across lines") << "_x\ny_" << "<b>x<br/>y</b>";
    QTest::newRow("underscore pair nested in asterisk pair")
        << "*a _b_ c*" << big + "a <b>b</b> c" + endBig;
    QTest::newRow("all three nested")
        << "*_!deep!_*" << big + "<b><i>deep</i></b>" + endBig;
    QTest::newRow("crossed pairs") << "*a _b* c_" << big + "a <b>b" + endBig + " c</b>";
    QTest::newRow("html passes unescaped") << "<p>&amp;</p>" << "<p>&amp;</p>";
    QTest::newRow("about title")
        << "*关于更新*\n \n \n \n \n " << big + "关于更新" + endBig + "<br/> <br/> <br/> <br/> <br/> ";
    QTest::newRow("backslash and dollar survive the replacement")
        << "*C:\\1 $1*" << big + "C:\\1 $1" + endBig;
}

void tst_Markup::markupToHtml()
{
    QFETCH(QString, markup);
    QFETCH(QString, html);
    QCOMPARE(MarkupToHtml(markup), html);
}

QTEST_APPLESS_MAIN(tst_Markup)
#include "tst_markup.moc"

#include "documents/releasenotes.h"

#include <QDomDocument>
#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<QDate>)

class tst_ReleaseNotes : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void brokenDocumentGivesWhatParsed();
};

namespace {

QDomDocument document(const QString &xml)
{
    QDomDocument result;
    result.setContent(xml);
    return result;
}

} // namespace

void tst_ReleaseNotes::parse_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<bool>("bOldNotes");
    QTest::addColumn<std::optional<QString>>("version");
    QTest::addColumn<std::optional<QDate>>("date");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QStringList>("notUpdatedFiles");
    QTest::addColumn<int>("updateInProgressNotices");

    const std::optional<QString> noVersion;
    const std::optional<QDate> noDate;
    // Two-digit years are read as 19yy, as QDate::fromString does.
    const QDate may2021(1921, 5, 3);

    QTest::newRow("all five at the top")
        << "<R><Version>1.2</Version><UpdateInProgress>1</UpdateInProgress><Date>030521</Date>"
           "<NotUpdatedFile>a.ini</NotUpdatedFile><Notes>*New*</Notes></R>"
        << false << std::optional<QString>("1.2") << std::optional<QDate>(may2021)
        << QStringList{"*New*"} << QStringList{"a.ini"} << 1;
    QTest::newRow("any root, any depth")
        << "<Anything><x><y><Version>2</Version></y><z><Notes>n</Notes><Date>030521</Date></z></x>"
           "<NotUpdatedFile>b</NotUpdatedFile></Anything>"
        << false << std::optional<QString>("2") << std::optional<QDate>(may2021)
        << QStringList{"n"} << QStringList{"b"} << 0;
    QTest::newRow("names are case-sensitive")
        << "<R><notes>lower</notes><VERSION>3</VERSION><updateinprogress>1</updateinprogress></R>"
        << false << noVersion << noDate << QStringList() << QStringList() << 0;
    QTest::newRow("an unknown element is searched inside")
        << "<R><notes><Notes>inside</Notes></notes></R>"
        << false << noVersion << noDate << QStringList{"inside"} << QStringList() << 0;
    QTest::newRow("only exactly 1 means an update in progress")
        << "<R><UpdateInProgress> 1</UpdateInProgress><UpdateInProgress>1\n</UpdateInProgress>"
           "<UpdateInProgress>true</UpdateInProgress><UpdateInProgress>01</UpdateInProgress></R>"
        << false << noVersion << noDate << QStringList() << QStringList() << 0;
    QTest::newRow("every 1 counts")
        << "<R><UpdateInProgress>1</UpdateInProgress><a><UpdateInProgress>1</UpdateInProgress></a></R>"
        << false << noVersion << noDate << QStringList() << QStringList() << 2;
    QTest::newRow("UpdateInProgress is not searched inside")
        << "<R><UpdateInProgress>0<Version>9</Version></UpdateInProgress></R>"
        << false << noVersion << noDate << QStringList() << QStringList() << 0;
    QTest::newRow("texts are taken untrimmed")
        << "<R><Version> v 1 </Version><NotUpdatedFile> a.ini</NotUpdatedFile></R>"
        << false << std::optional<QString>(" v 1 ") << noDate << QStringList()
        << QStringList{" a.ini"} << 0;
    QTest::newRow("repeated elements: the last version and date, every note and file")
        << "<R><Version>1</Version><Date>010120</Date><Notes>first</Notes>"
           "<NotUpdatedFile>a</NotUpdatedFile>"
           "<Version>2</Version><Date>030521</Date><Notes>second</Notes>"
           "<NotUpdatedFile>a</NotUpdatedFile></R>"
        << false << std::optional<QString>("2") << std::optional<QDate>(may2021)
        << QStringList{"first", "second"} << QStringList{"a", "a"} << 0;
    QTest::newRow("empty elements set nothing")
        << "<R><Version/><Notes></Notes><Date/><NotUpdatedFile/><UpdateInProgress/></R>"
        << false << noVersion << noDate << QStringList() << QStringList() << 0;
    QTest::newRow("a bad date is an invalid date")
        << "<R><Date>2021-05-03</Date></R>"
        << false << noVersion << std::optional<QDate>(QDate()) << QStringList() << QStringList() << 0;
    QTest::newRow("the text of an element is all the text beneath it")
        << "<R><Notes>a<b>b</b>c</Notes></R>"
        << false << noVersion << noDate << QStringList{"abc"} << QStringList() << 0;
    QTest::newRow("a Version is searched inside after its text is taken")
        << "<R><Version>1<Date>030521</Date><Version>2</Version></Version></R>"
        << false << std::optional<QString>("2") << std::optional<QDate>(may2021)
        << QStringList() << QStringList() << 0;
    QTest::newRow("a Date is not searched inside")
        << "<R><Date>030521<Version>7</Version></Date></R>"
        << false << noVersion << std::optional<QDate>(QDate()) << QStringList() << QStringList() << 0;
    QTest::newRow("attributes are ignored")
        << "<R><Version value=\"9\">1</Version><Notes text=\"x\"/></R>"
        << false << std::optional<QString>("1") << noDate << QStringList() << QStringList() << 0;

    QTest::newRow("old notes: only version and date")
        << "<R><Version>0.9</Version><Date>030521</Date><UpdateInProgress>1</UpdateInProgress>"
           "<NotUpdatedFile>a.ini</NotUpdatedFile><Notes>old</Notes></R>"
        << true << std::optional<QString>("0.9") << std::optional<QDate>(may2021)
        << QStringList() << QStringList() << 0;
    QTest::newRow("old notes: other elements are searched inside")
        << "<R><Notes><Version>0.8</Version></Notes><NotUpdatedFile><Date>030521</Date>"
           "</NotUpdatedFile>"
           "<UpdateInProgress>1<Version>0.9</Version></UpdateInProgress></R>"
        << true << std::optional<QString>("0.9") << std::optional<QDate>(may2021)
        << QStringList() << QStringList() << 0;
}

void tst_ReleaseNotes::parse()
{
    QFETCH(QString, xml);
    QFETCH(bool, bOldNotes);
    QFETCH(std::optional<QString>, version);
    QFETCH(std::optional<QDate>, date);
    QFETCH(QStringList, notes);
    QFETCH(QStringList, notUpdatedFiles);
    QFETCH(int, updateInProgressNotices);

    const QDomDocument notesDocument = document(xml);
    QVERIFY(!notesDocument.documentElement().isNull());
    const ReleaseNotes found = ParseReleaseNotes(notesDocument, bOldNotes);
    QCOMPARE(found.version, version);
    QCOMPARE(found.date, date);
    QCOMPARE(found.notes, notes);
    QCOMPARE(found.notUpdatedFiles, notUpdatedFiles);
    QCOMPARE(found.updateInProgressNotices, updateInProgressNotices);
}

void tst_ReleaseNotes::brokenDocumentGivesWhatParsed()
{
    // What the parser delivers of a broken document is read; nothing more is promised than no crash.
    QDomDocument broken;
    QVERIFY(!broken.setContent(QStringLiteral("<R><Version>1</Version><Notes>unclosed")));
    const ReleaseNotes found = ParseReleaseNotes(broken, false);
    QVERIFY(found.notes.isEmpty());
    QCOMPARE(found.updateInProgressNotices, 0);
}

QTEST_APPLESS_MAIN(tst_ReleaseNotes)
#include "tst_releasenotes.moc"

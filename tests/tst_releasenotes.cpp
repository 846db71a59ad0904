#include "documents/release/installedrelease.h"
#include "documents/release/releasenotes.h"
#include "documents/release/releasestatement.h"
#include "support/testsupport.h"

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
    void statement_data();
    void statement();
    void installedRelease_data();
    void installedRelease();
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
    QTest::newRow("the signed statement sets nothing")
        << "<R><Version>1</Version><SignedRelease Number=\"2\" Manifest=\"ab\"/></R>"
        << false << std::optional<QString>("1") << noDate << QStringList() << QStringList() << 0;
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

// What the signed notes say about their release, checked against the installed release, the clock
// (2026-06-01T00:00:00Z) and the manifest "manifest".
void tst_ReleaseNotes::statement_data()
{
    QTest::addColumn<QString>("statements");  // the notes' elements after their Version
    QTest::addColumn<int>("installedRelease"); // 0: none known
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<QString>("problem");     // empty: the release is accepted

    const QString digest = QString::fromLatin1(ManifestDigest("manifest"));
    const auto stated = [&digest](const QString &number, const QString &rest = QString()) {
        return QStringLiteral("<SignedRelease Number=\"%1\" Manifest=\"%2\"%3/>").arg(number, digest, rest);
    };
    const QString expires = QStringLiteral(" Expires=\"%1\"");
    QTest::newRow("the next release") << stated("5") << 4 << QByteArray("manifest") << QString();
    QTest::newRow("the installed release again") << stated("5") << 5 << QByteArray("manifest") << QString();
    QTest::newRow("no installed release known") << stated("1") << 0 << QByteArray("manifest") << QString();
    QTest::newRow("an older release") << stated("5") << 6 << QByteArray("manifest")
                                      << "it is release 5, older than the installed release 6";
    QTest::newRow("good through this second") << stated("5", expires.arg("2026-06-01T00:00:00Z"))
                                              << 5 << QByteArray("manifest") << QString();
    QTest::newRow("expired a second ago")
        << stated("5", expires.arg("2026-05-31T23:59:59Z")) << 5 << QByteArray("manifest")
        << "it is release 5, which expired on 2026-05-31 23:59:59 UTC; if that date is still to come, "
           "check this computer's date and time (it reads 2026-06-01 00:00:00 UTC)";
    QTest::newRow("another release's manifest")
        << stated("5") << 5 << QByteArray("manifest\n")
        << "it does not belong to the notes of release 5, which were signed with another manifest";
    QTest::newRow("no statement") << QString() << 0 << QByteArray("manifest")
                                  << "it does not say which release it is: it has no SignedRelease";
    QTest::newRow("a second one, deeper down") << stated("5") + "<a>" + stated("6") + "</a>" << 0
                                               << QByteArray("manifest") << "it has 2 SignedRelease";
    for (const char *number : {"0", "+5", "05", "5 ", "x"})
        QTest::newRow(number) << stated(number) << 0 << QByteArray("manifest") << "is not a release number";
    QTest::newRow("no number") << "<SignedRelease Manifest=\"" + digest + "\"/>" << 0
                               << QByteArray("manifest") << "it has no Number";
    QTest::newRow("a digest in capitals") << stated("5").replace(digest, digest.toUpper()) << 0
                                          << QByteArray("manifest") << "is not a SHA-256";
    for (const char *time : {"2026-12-31", "2026-12-31T23:59:59+01:00", "2026-12-31T24:00:00Z"})
        QTest::newRow(time) << stated("5", expires.arg(time)) << 0 << QByteArray("manifest")
                            << "is not a UTC time";
    QTest::newRow("content") << stated("5").replace("/>", ">1</SignedRelease>") << 0
                             << QByteArray("manifest") << "it is not empty";
    QTest::newRow("not XML") << "<SignedRelease" << 0 << QByteArray("manifest") << "it is not XML";
}

void tst_ReleaseNotes::statement()
{
    QFETCH(QString, statements);
    QFETCH(int, installedRelease);
    QFETCH(QByteArray, manifest);
    QFETCH(QString, problem);
    const StatementReading reading =
        ReadReleaseStatement(("<R><Version>1</Version>" + statements + "</R>").toUtf8());
    std::optional<QString> found = reading.problem;
    if (reading.statement) {
        const QDateTime now(QDate(2026, 6, 1), QTime(0, 0), Qt::UTC);
        found = StaleReleaseProblem(*reading.statement,
                                    installedRelease ? std::optional<qint64>(installedRelease)
                                                     : std::nullopt,
                                    now);
        if (!found)
            found = ForeignManifestProblem(*reading.statement, manifest);
    }
    QCOMPARE(found.has_value(), !problem.isEmpty());
    QVERIFY2(!found || found->contains(problem), qPrintable(*found));
}

// The floor a run checks the notes against, from the record that completed runs raise.
void tst_ReleaseNotes::installedRelease_data()
{
    QTest::addColumn<QByteArray>("record");    // null: none
    QTest::addColumn<bool>("bCompletedBefore");
    QTest::addColumn<int>("floor");            // 0: none
    QTest::addColumn<QString>("notice");       // empty: none

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Config/InstalledRelease.record"));
    QVERIFY(!RaiseInstalledReleaseProblem(path, 7) && !RaiseInstalledReleaseProblem(path, 5));
    const QByteArray good = TestSupport::readFile(path);
    QTest::newRow("a new installation") << QByteArray() << false << 0 << QString();
    QTest::newRow("release 7, never lowered") << good << true << 7 << QString();
    QTest::newRow("missing after a completed run") << QByteArray() << true << 0 << "does not exist";
    QTest::newRow("another number") << QByteArray(good).replace('7', '9') << true << 0 << "damaged";
    QTest::newRow("cut short") << good.left(good.size() - 1) << false << 0 << "damaged";
    QTest::newRow("empty") << QByteArray("") << false << 0 << "damaged";
}

void tst_ReleaseNotes::installedRelease()
{
    QFETCH(QByteArray, record);
    QFETCH(bool, bCompletedBefore);
    QFETCH(int, floor);
    QFETCH(QString, notice);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("InstalledRelease.record"));
    QVERIFY(record.isNull() || TestSupport::writeFile(path, record));
    const ReleaseFloor found = InstalledReleaseFloor(path, bCompletedBefore);
    QCOMPARE(found.installedRelease.value_or(0), floor);
    QCOMPARE(found.notice.has_value(), !notice.isEmpty());
    QVERIFY(!found.notice || (found.notice->contains(notice) && found.notice->contains(path)));
    // A completed run raises a lost floor to the release it accepted.
    QVERIFY(!RaiseInstalledReleaseProblem(path, 8));
    QCOMPARE(ReadInstalledRelease(path).number, std::optional<qint64>(8));
}

QTEST_APPLESS_MAIN(tst_ReleaseNotes)
#include "tst_releasenotes.moc"

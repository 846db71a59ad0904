#include "app/updaterfiles.h"
#include "documents/installation/filehash.h"
#include "documents/installation/manifestcheck.h"
#include "documents/installation/manifestpath.h"
#include "documents/installation/verificationpass.h"
#include "support/testsupport.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#include <QTextCodec>
#include <QtTest>

using TestSupport::manifestListing;
using TestSupport::md5Hex;
using TestSupport::writeFile;

class tst_ManifestCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void startsInTheGivenFolder();
    void encodings_data();
    void encodings();
    void hostileEntriesAreNeverRead();
    void specialFilesAreNeverTakenAsInstalled();
    void safePath_data();
    void safePath();
    void cancelledCheckQueuesNothing();
    void recordedDigest_data();
    void recordedDigest();
    void stagedCopy_data();
    void stagedCopy();
    void unusableRecord_data();
    void unusableRecord();
};

namespace {

// Items as "folder|fileName|size", for readable comparisons.
QStringList describe(const QList<DownloadItem> &items)
{
    QStringList result;
    for (const DownloadItem &item : items)
        result << item.folder + QLatin1Char('|') + item.fileName + QLatin1Char('|')
                      + QString::number(item.size);
    return result;
}

// The local files of every case, below the installation: name = content.
const QList<QPair<QString, QByteArray>> installation = {
    {QStringLiteral("a.txt"), "alpha"},
    {QStringLiteral("b.txt"), "beta"},
    {QStringLiteral("App/a.txt"), "alpha in App"},
    {QStringLiteral("App/Content/b.pak"), "bravo"},
    {QStringLiteral("App/Content/c.pak"), "charlie"},
};

QString md5Of(const char *content)
{
    return md5Hex(QByteArray(content));
}

} // namespace

void tst_ManifestCheck::check_data()
{
    QTest::addColumn<QString>("manifest");
    QTest::addColumn<QStringList>("notUpdatedFiles");
    QTest::addColumn<QStringList>("downloads");
    QTest::addColumn<qint64>("bytesToDownload");
    QTest::addColumn<QStringList>("rejectedPaths");

    const QString alpha = md5Of("alpha");
    const QString beta = md5Of("beta");
    const QString bravo = md5Of("bravo");
    const QStringList none;

    QTest::newRow("all present and matching queues nothing")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='5' md5='%1'/>"
                          "<FileProperties FileName='b.txt' Size='4' md5='%2'/></M>").arg(alpha, beta)
        << none << none << qint64(0) << none;
    QTest::newRow("a different digest is queued")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='5' md5='%1'/></M>").arg(beta)
        << none << QStringList{"|a.txt|5"} << qint64(5) << none;
    QTest::newRow("an upper-case digest matches")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='5' md5='%1'/>"
                          "</M>").arg(alpha.toUpper())
        << none << none << qint64(0) << none;
    QTest::newRow("the updater's own files are skipped, in any case")
        << QStringLiteral("<M><FolderProperties FolderName='config'>"
                          "<FileProperties FileName='UU_Lock.setting' Size='1'/></FolderProperties>"
                          "<FileProperties FileName='Config' Size='1'/>"
                          "<FileProperties FileName='releasenotes.OLD' Size='1'/>"
                          "<FileProperties FileName='GameManifest.xml.sig' Size='1'/>"
                          "<FolderProperties FolderName='App'>"
                          "<FileProperties FileName='ReleaseNotes.xml' Size='2'/></FolderProperties>"
                          "</M>")
        << none << QStringList{"App/|ReleaseNotes.xml|2"} << qint64(2)
        << QStringList{"config/", "Config", "releasenotes.OLD", "GameManifest.xml.sig"};
    QTest::newRow("a matching digest with another size is not queued")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='999' md5='%1'/></M>").arg(alpha)
        << none << none << qint64(0) << none;
    QTest::newRow("a missing file is queued whatever its digest")
        << QStringLiteral("<M><FileProperties FileName='x' Size='1' md5=''/>"
                          "<FileProperties FileName='y' Size='2'/>"
                          "<FileProperties FileName='z' Size='3' md5='%1'/></M>").arg(alpha)
        << none << QStringList{"|x|1", "|y|2", "|z|3"} << qint64(6) << none;
    QTest::newRow("a present file without digest is only tested for presence")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='1' md5=''/>"
                          "<FileProperties FileName='b.txt' Size='1'/></M>")
        << none << none << qint64(0) << none;
    QTest::newRow("an exempt name is never hashed, in every folder")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='1' md5='%1'/>"
                          "<FolderProperties FolderName='App'>"
                          "<FileProperties FileName='a.txt' Size='1' md5='%1'/>"
                          "</FolderProperties></M>").arg(beta)
        << QStringList{"a.txt"} << none << qint64(0) << none;
    QTest::newRow("a missing exempt file is still queued")
        << QStringLiteral("<M><FileProperties FileName='x.ini' Size='7' md5='%1'/></M>").arg(beta)
        << QStringList{"x.ini"} << QStringList{"|x.ini|7"} << qint64(7) << none;
    QTest::newRow("exemptions are exact")
        << QStringLiteral("<M><FileProperties FileName='a.txt' Size='5' md5='%1'/></M>").arg(beta)
        << QStringList{"A.TXT", "a.txt ", "App/a.txt"} << QStringList{"|a.txt|5"} << qint64(5) << none;
    QTest::newRow("dot, App and Content make App/Content/")
        << QStringLiteral("<M><FolderProperties FolderName='.'><FolderProperties FolderName='App'>"
                          "<FolderProperties FolderName='Content'>"
                          "<FileProperties FileName='b.pak' Size='5' md5='%1'/>"
                          "<FileProperties FileName='new.pak' Size='1'/></FolderProperties>"
                          "</FolderProperties>"
                          "</FolderProperties></M>").arg(alpha)
        << none << QStringList{"App/Content/|b.pak|5", "App/Content/|new.pak|1"} << qint64(6) << none;
    QTest::newRow("a file directly in the top dot folder has an empty folder")
        << QStringLiteral("<FolderProperties FolderName='.'><FileProperties FileName='n' Size='1'/>"
                          "</FolderProperties>")
        << none << QStringList{"|n|1"} << qint64(1) << none;
    QTest::newRow("a multi-level FolderName adds several levels")
        << QStringLiteral("<M><FolderProperties FolderName='App/Content'>"
                          "<FileProperties FileName='b.pak' Size='5' md5='%1'/>"
                          "<FileProperties FileName='c.pak' Size='7' md5='%2'/></FolderProperties>"
                          "</M>").arg(bravo, alpha)
        << none << QStringList{"App/Content/|c.pak|7"} << qint64(7) << none;
    QTest::newRow("missing, absolute and device names below a folder are refused, the rest kept")
        << QStringLiteral("<M><FolderProperties FolderName='App'><FolderProperties>"
                          "<FileProperties FileName='n' Size='1'/></FolderProperties>"
                          "<FolderProperties FolderName='/tmp'><FileProperties FileName='f'/>"
                          "</FolderProperties><FileProperties/><FileProperties FileName='/x'/>"
                          "<FolderProperties FolderName='D/conout$'><FileProperties FileName='f'/>"
                          "</FolderProperties><FileProperties FileName='ok' Size='1'/>"
                          "</FolderProperties></M>")
        << none << QStringList{"App/|ok|1"} << qint64(1)
        << QStringList{"App//", "App//tmp/", "App/", "App//x", "App/D/conout$/"};
    QTest::newRow("queue in document order, depth-first")
        << QStringLiteral("<M><FileProperties FileName='1' Size='1'/>"
                          "<FolderProperties FolderName='S'><FileProperties FileName='2' Size='1'/>"
                          "<FolderProperties FolderName='T'><FileProperties FileName='3' Size='1'/>"
                          "</FolderProperties>"
                          "<FileProperties FileName='4' Size='1'/></FolderProperties>"
                          "<FileProperties FileName='5' Size='1'/></M>")
        << none << QStringList{"|1|1", "S/|2|1", "S/T/|3|1", "S/|4|1", "|5|1"} << qint64(5) << none;
    QTest::newRow("wrappers of any name are transparent")
        << QStringLiteral("<Root><Files><More><FileProperties FileName='w' Size='2'/></More></Files>"
                          "</Root>")
        << none << QStringList{"|w|2"} << qint64(2) << none;
    QTest::newRow("a FileProperties with content is a wrapper")
        << QStringLiteral("<M><FileProperties FileName='outer' Size='9'>"
                          "<FileProperties FileName='inner' Size='1'/>"
                          "</FileProperties></M>")
        << none << QStringList{"|inner|1"} << qint64(1) << none;
    QTest::newRow("an empty folder, text, comments and other elements are ignored")
        << QStringLiteral("<M>text<!-- <FileProperties FileName='c'/> --><?pi x?>"
                          "<FolderProperties FolderName='E'/>"
                          "<Other FileName='o'/><fileproperties FileName='lower'/></M>")
        << none << none << qint64(0) << none;
    QTest::newRow("element and attribute names are case-sensitive")
        << QStringLiteral("<M><FolderProperties FolderName='App'><FolderProperties foldername='X'>"
                          "<FileProperties FileName='a.txt' MD5='%1'/></FolderProperties>"
                          "<FileProperties filename='q' Size='1'/></FolderProperties></M>").arg(beta)
        << none << none << qint64(0) << QStringList{"App//", "App/"};
    QTest::newRow("sizes: not a number is 0, negative lowers the total, 64-bit holds")
        << QStringLiteral("<M><FileProperties FileName='n1' Size='abc'/>"
                          "<FileProperties FileName='n2' Size='-5'/>"
                          "<FileProperties FileName='n3' Size='5000000000'/>"
                          "<FileProperties FileName='n4' Size='1.5'/>"
                          "<FileProperties FileName='n5'/></M>")
        << none << QStringList{"|n1|0", "|n2|-5", "|n3|5000000000", "|n4|0", "|n5|0"}
        << qint64(4999999995) << none;
    QTest::newRow("hostile names are skipped, the rest still checked")
        << QStringLiteral("<M><FileProperties FileName='../up' Size='1'/>"
                          "<FolderProperties FolderName='..'><FileProperties FileName='f' Size='1'/>"
                          "</FolderProperties>"
                          "<FolderProperties FolderName='App'><FolderProperties FolderName='../..'>"
                          "<FileProperties FileName='g' Size='1'/></FolderProperties>"
                          "<FileProperties FileName='x/../../h' Size='1'/></FolderProperties>"
                          "<FolderProperties FolderName='/etc'>"
                          "<FileProperties FileName='passwd' Size='1'/></FolderProperties>"
                          "<FolderProperties FolderName=''><FileProperties FileName='root' Size='1'/>"
                          "</FolderProperties>"
                          "<FolderProperties FolderName='C:'><FileProperties FileName='w' Size='1'/>"
                          "</FolderProperties>"
                          "<FileProperties FileName='D:evil' Size='1'/>"
                          "<FileProperties FileName='a\\b' Size='1'/>"
                          "<FileProperties FileName='...' Size='1'/>"
                          "<FileProperties FileName='tab&#9;' Size='1'/>"
                          "<FileProperties FileName='ok' Size='3'/></M>")
        << none << QStringList{"|ok|3"} << qint64(3)
        << QStringList{"../up", "../", "App/../../", "App/x/../../h", "/etc/", "/", "C:/", "D:evil",
                       "a\\b", "...", QStringLiteral("tab\t")};
}

void tst_ManifestCheck::check()
{
    QFETCH(QString, manifest);
    QFETCH(QStringList, notUpdatedFiles);
    QFETCH(QStringList, downloads);
    QFETCH(qint64, bytesToDownload);
    QFETCH(QStringList, rejectedPaths);

    QTemporaryDir dir;
    for (const auto &file : installation)
        QVERIFY(writeFile(dir.filePath(file.first), file.second));
    const ManifestCheck check =
        CheckManifest(manifestListing(manifest.toUtf8()), notUpdatedFiles, dir.path());
    QCOMPARE(describe(check.downloads), downloads);
    QCOMPARE(check.bytesToDownload, bytesToDownload);
    QCOMPARE(check.rejectedPaths + check.ownPaths, rejectedPaths);
    QVERIFY(check.unreadablePaths.isEmpty());
    QVERIFY(!check.bCancelled);
}

void tst_ManifestCheck::startsInTheGivenFolder()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("App/a.txt")), "alpha in App"));
    const QByteArray document = QStringLiteral("<M><FileProperties FileName='a.txt' md5='%1'/>"
                                               "<FileProperties FileName='b.txt' Size='4'/></M>")
                                    .arg(md5Of("alpha in App")).toUtf8();
    const ManifestCheck check =
        CheckManifest(manifestListing(document, QStringLiteral("App/")), {}, dir.path());
    QCOMPARE(describe(check.downloads), QStringList{"App/|b.txt|4"});
}

// Publishers' tools write UTF-8, UTF-16 (PowerShell) and now and then Latin-1; a document whose
// declaration is not what its bytes are is not read at all.
void tst_ManifestCheck::encodings_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<bool>("bRead");

    const QString xml = QStringLiteral("<?xml version='1.0' encoding='%1'?>"
                                       "<M><FileProperties FileName='caf\u00e9' Size='1'/></M>");
    QTest::newRow("UTF-8") << xml.arg("UTF-8").toUtf8() << true;
    QTest::newRow("UTF-8 with its byte order mark") << "\xef\xbb\xbf" + xml.arg("utf-8").toUtf8()
                                                    << true;
    // Each with its byte order mark.
    for (const char *codec : {"UTF-16LE", "UTF-16BE"})
        QTest::newRow(codec) << QTextCodec::codecForName(codec)->fromUnicode(xml.arg("UTF-16")) << true;
    QTest::newRow("Latin-1") << xml.arg("ISO-8859-1").toLatin1() << true;
    QTest::newRow("UTF-16 said of bytes that are not") << xml.arg("UTF-16").toUtf8() << false;
    QTest::newRow("EBCDIC") << xml.arg("IBM037").toUtf8() << false;
}

void tst_ManifestCheck::encodings()
{
    QFETCH(QByteArray, manifest);
    QFETCH(bool, bRead);
    ManifestListing listing;
    const std::optional<QString> problem = ManifestListingProblem(manifest, QString(), &listing);
    QCOMPARE(!problem, bRead);
    QCOMPARE(listing.files.size(), bRead ? 1 : 0);
    if (bRead)
        QCOMPARE(listing.files.first().fileName, QStringLiteral("caf\u00e9"));
}

void tst_ManifestCheck::hostileEntriesAreNeverRead()
{
    // The file that a hostile entry names exists outside the installation, with other content than its
    // digest: read, it would be queued; read as unreadable, it would be listed so.
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("outside.txt")), "outside"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("installation"))));
    const QByteArray document = QStringLiteral("<M><FileProperties FileName='../outside.txt' md5='%1'/>"
                                               "<FolderProperties FolderName='..'>"
                                               "<FileProperties FileName='outside.txt' md5='%1'/>"
                                               "</FolderProperties></M>")
                                    .arg(md5Of("other")).toUtf8();
    HashControl control;
    const ManifestCheck check = CheckManifest(manifestListing(document), {},
                                              dir.filePath(QStringLiteral("installation")), &control);
    QVERIFY(check.downloads.isEmpty());
    QVERIFY(check.unreadablePaths.isEmpty());
    QCOMPARE(check.rejectedPaths, (QStringList{"../outside.txt", "../"}));
    QCOMPARE(control.bytesToHash.load(), qint64(0));
}

void tst_ManifestCheck::specialFilesAreNeverTakenAsInstalled()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("App/locked.pak"))));
    QStringList special{"App/locked.pak"};
#ifdef Q_OS_UNIX
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("App/pipe.pak"))), 0600) == 0);
    special << "App/pipe.pak";
#endif
    const QByteArray document = QStringLiteral("<M><FolderProperties FolderName='App'>"
                                               "<FileProperties FileName='locked.pak' Size='1' md5='%1'/>"
                                               "<FileProperties FileName='pipe.pak' Size='1'/>"
                                               "</FolderProperties></M>")
                                    .arg(md5Of("x")).toUtf8();
    const ManifestCheck check = CheckManifest(manifestListing(document), {}, dir.path());
    QCOMPARE(check.notRegularPaths, special);
    QCOMPARE(describe(check.downloads), special.size() == 1 ? QStringList{"App/|pipe.pak|1"} : QStringList());
    QVERIFY(check.unreadablePaths.isEmpty());
}

void tst_ManifestCheck::safePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("bSafe");

    QTest::newRow("plain name") << "a.pak" << true;
    QTest::newRow("nested") << "App/Content/a.pak" << true;
    QTest::newRow("dots inside a name") << "a..b/c..pak" << true;
    QTest::newRow("non-ASCII letters") << "版本/说明.txt" << true;
    QTest::newRow("climbs") << "../a" << false;
    QTest::newRow("climbs in the middle") << "App/../../a" << false;
    QTest::newRow("climbs at the end") << "App/.." << false;
    QTest::newRow("three dots") << "App/.../a" << false;
    QTest::newRow("dots and a blank") << ".. /a" << false;
    QTest::newRow("absolute") << "/etc/passwd" << false;
    QTest::newRow("network share") << "//server/share/a" << false;
    QTest::newRow("drive letter") << "C:/Windows/a" << false;
    QTest::newRow("drive-relative") << "c:a" << false;
    QTest::newRow("drive letter below a folder") << "App/D:/a" << false;
    QTest::newRow("backslash") << "App\\..\\a" << false;
    QTest::newRow("line break") << "a\nb" << false;
    QTest::newRow("nul") << QStringLiteral("a") + QChar(0) + QStringLiteral("b") << false;
    QTest::newRow("delete") << QStringLiteral("a") + QChar(0x7f) << false;
    QTest::newRow("longer than any system takes") << QString(longestManifestPath + 1, 'a') << false;
    for (const char *path : {"./a", "a.txt:s", "a/x.", "x /a", "CON .txt", "com1.tar.gz", "LPT³"})
        QTest::addRow("%s", path) << path << false;
    QTest::newRow("names that begin like a device") << "CONSOLE.txt/nullable.pak/COM10" << true;
}

void tst_ManifestCheck::safePath()
{
    QFETCH(QString, path);
    QFETCH(bool, bSafe);
    QCOMPARE(IsSafeManifestPath(path), bSafe);
}

void tst_ManifestCheck::cancelledCheckQueuesNothing()
{
    QTemporaryDir dir;
    const qint64 size = qint64(8) << 30;
    QVERIFY(TestSupport::makeSparseFile(dir.filePath(QStringLiteral("big.pak")), size));
    const QByteArray document = QStringLiteral("<M><FileProperties FileName='missing' Size='1'/>"
                                               "<FileProperties FileName='big.pak' Size='1' md5='%1'/>"
                                               "</M>")
                                    .arg(md5Of("x")).toUtf8();
    HashControl control;
    ManifestWalk walk = WalkManifest(manifestListing(document), {}, dir.path());
    const QFuture<QVector<FileDigest>> digests = Md5OfFiles(walk.hashedPaths, &control);
    QTRY_VERIFY(control.bytesHashed > 0);
    control.bCancel = true;
    const ManifestCheck check = FinishCheck(std::move(walk), digests.result(), control.bCancel);
    QVERIFY(check.bCancelled);
    QVERIFY(check.downloads.isEmpty());
    QCOMPARE(check.bytesToDownload, qint64(0));
}

void tst_ManifestCheck::recordedDigest_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("bRead");

    QTest::newRow("same stamp: the record, not the file") << "" << false;
    QTest::newRow("other size") << "size" << true;
    QTest::newRow("other modification time") << "modified" << true;
    QTest::newRow("other change time") << "changed" << true;
    QTest::newRow("other identity") << "identity" << true;
    QTest::newRow("recorded under another path") << "path" << true;
}

void tst_ManifestCheck::recordedDigest()
{
    QFETCH(QString, change);
    QFETCH(bool, bRead);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("App/a.pak")), "alpha"));
    const std::optional<FileStamp> stamp = ReadFileStamp(dir.filePath(QStringLiteral("App/a.pak")));
    QVERIFY(stamp);
    FileStamp recorded = *stamp;
    recorded.size += change == "size";
    recorded.modified += change == "modified";
    recorded.changed += change == "changed";
    recorded.identity += change == "identity";
    // The record says that the file holds other content: only a file that is read matches.
    DigestRecord known;
    known.insert(change == "path" ? "App/b.pak" : "App/a.pak", recorded, md5Of("stale"));
    const QByteArray document = QStringLiteral("<M><FolderProperties FolderName='App'>"
                                               "<FileProperties FileName='a.pak' Size='5' md5='%1'/>"
                                               "</FolderProperties></M>").arg(md5Of("alpha")).toUtf8();

    const ManifestCheck check = CheckManifest(manifestListing(document), {}, dir.path(), nullptr, known);
    QCOMPARE(check.downloads.isEmpty(), bRead);
    QCOMPARE(check.filesHashed, int(bRead));
    QCOMPARE(check.filesFromRecord, int(!bRead));
    DigestRecord verified = check.verified;
    QCOMPARE(verified.take("App/a.pak", *stamp), md5Of(bRead ? "alpha" : "stale"));
    QCOMPARE(verified.size(), 0);
}

void tst_ManifestCheck::stagedCopy_data()
{
    QTest::addColumn<QByteArray>("installed");  // what App/a.pak holds
    QTest::addColumn<QByteArray>("staged");     // what its staged copy holds
    QTest::addColumn<bool>("bRecorded");        // the record knows the staged copy
    QTest::addColumn<QString>("found");         // "staged", "download" or nothing

    QTest::newRow("staged as the manifest lists it") << QByteArray("old") << QByteArray("alpha")
                                                     << false << "staged";
    QTest::newRow("staged, and known from the record") << QByteArray("old") << QByteArray("alpha")
                                                       << true << "staged";
    QTest::newRow("staged damaged") << QByteArray("old") << QByteArray("alphX") << false
                                    << "download";
    QTest::newRow("staged for a file in place by now") << QByteArray("alpha")
                                                       << QByteArray("alpha") << false << "";
}

void tst_ManifestCheck::stagedCopy()
{
    QFETCH(QByteArray, installed);
    QFETCH(QByteArray, staged);
    QFETCH(bool, bRecorded);
    QFETCH(QString, found);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("App/a.pak")), installed));
    const QString copy = ConfigFiles::StagedCopyPath("App/a.pak", 5, md5Of("alpha"));
    QVERIFY(writeFile(dir.filePath(copy), staged));
    DigestRecord known;
    if (bRecorded)
        known.insert(copy, *ReadFileStamp(dir.filePath(copy)), md5Of("alpha"));
    const QByteArray document = QStringLiteral("<M><FolderProperties FolderName='App'>"
                                               "<FileProperties FileName='a.pak' Size='5' md5='%1'/>"
                                               "</FolderProperties></M>").arg(md5Of("alpha")).toUtf8();

    const ManifestCheck check = CheckManifest(manifestListing(document), {}, dir.path(), nullptr, known);
    QCOMPARE(describe(check.staged), found == "staged" ? QStringList{"App/|a.pak|5"} : QStringList());
    QCOMPARE(describe(check.downloads), found == "download" ? QStringList{"App/|a.pak|5"} : QStringList());
    QCOMPARE(check.bytesToDownload, found == "download" ? 5 : 0);
    // What is staged is read only where the record does not know it, and then recorded.
    QCOMPARE(check.filesHashed, bRecorded ? 1 : 2);
    DigestRecord verified = check.verified;
    QCOMPARE(verified.take(copy, *ReadFileStamp(dir.filePath(copy))).isEmpty(), found.isEmpty());
}

void tst_ManifestCheck::unusableRecord_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");

    QTest::newRow("intact") << "" << "";
    QTest::newRow("missing") << "missing" << "it does not exist";
    QTest::newRow("a digit changed") << "digit" << "it is damaged";
    QTest::newRow("cut short") << "cut" << "it is damaged";
    QTest::newRow("cut at a line's end") << "line" << "it is damaged";
    QTest::newRow("another version") << "version" << "it has format version 2, not 1";
    QTest::newRow("a folder") << "folder" << "it cannot be read";
}

void tst_ManifestCheck::unusableRecord()
{
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    TestSupport::ScopedCurrentDir inDir(dir.path());
    QVERIFY(writeFile(QStringLiteral("App/a.pak"), "alpha"));
    QVERIFY(writeFile(QStringLiteral("App/b c.pak"), "beta"));
    const QByteArray document = QStringLiteral("<M><FolderProperties FolderName='App'>"
                                               "<FileProperties FileName='a.pak' md5='%1'/>"
                                               "<FileProperties FileName='b c.pak' md5='%2'/>"
                                               "</FolderProperties></M>")
                                    .arg(md5Of("alpha"), md5Of("beta")).toUtf8();
    const QString path = ConfigFiles::verifiedDigests;
    const auto pass = [&] {
        return RunVerificationPass(manifestListing(document), {}, path, {}, nullptr);
    };
    QCOMPARE(pass().filesHashed, 2);

    const QByteArray written = TestSupport::readFile(path);
    QByteArray record = written;
    const int digit = written.indexOf(' ', written.indexOf('\n')) + 1; // of the first file's size
    record[digit] = char(written.at(digit) ^ 1);
    if (damage == "cut" || damage == "line")
        record = written.left(written.lastIndexOf('\n', -2) + (damage == "line"));
    if (damage == "version")
        record = QByteArray(written).replace("VerifiedDigests 1\n", "VerifiedDigests 2\n");
    if (damage != "")
        QVERIFY(QFile::remove(path));
    if (damage != "" && damage != "missing")
        QVERIFY(damage == "folder" ? QDir().mkpath(path) : writeFile(path, record));

    const ManifestCheck check = pass();
    QVERIFY(check.downloads.isEmpty());
    QCOMPARE(check.filesHashed, reason.isEmpty() ? 0 : 2);
    QCOMPARE(check.recordProblems.isEmpty(), reason.isEmpty());
    QVERIFY(check.recordProblems.value(0).contains(reason));
    // A record that can be written replaces the one that could not be used.
    QCOMPARE(pass().filesHashed, damage == "folder" ? 2 : 0);
}

QTEST_GUILESS_MAIN(tst_ManifestCheck)
#include "tst_manifestcheck.moc"

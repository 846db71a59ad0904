#include "documents/installation/manifestcheck.h"
#include "documents/release/releasestatement.h"
#include "support/testsupport.h"
#include "tools/publishing/signingkeys.h"

#include <QDomDocument>
#include <QProcess>
#include <QtTest>

using TestSupport::md5Hex;
using TestSupport::writeFile;

// The publisher's tool, run as a publisher would: what it writes, what it finds, how it fails.
class tst_MakeManifest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void manifestListsEveryFileInOrder();
    void roundTrip();
    void outputFileIsLeftOut();
    void badInput_data();
    void badInput();
    void unreadableFile();
    void secretKeyIsPrivate();
    void verify_data();
    void verify();
    void signNumbersEachRelease();
    void help();

private:
    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QList<QByteArray> errorLines;
    };
    static Run run(const QStringList &arguments);
    static QList<DownloadItem> walk(const QString &manifestPath, const QString &installation);

    QTemporaryDir dir;
    QString installation;
    QString secretKeyPath;
    QString publicKey;
    QString otherPublicKey;
    QString notesPath;
    QString manifestPath;
    QByteArray signedNotes;
    QByteArray notesSignature;
    QByteArray manifestSignature;
};

namespace {

// name = content, below the installation.
const QList<QPair<QString, QByteArray>> files = {
    {QStringLiteral("readme.txt"), "read me"},
    {QStringLiteral("App/QOR.exe"), "program"},
    {QStringLiteral("App/.hidden"), ""},
    {QStringLiteral("App/Content/b.pak"), QByteArray(300000, 'b')},
    {QStringLiteral("App/Content/a.pak"), "a"},
    {QStringLiteral("App/Content/Deep/z.pak"), "zz"},
    {QStringLiteral("Zeta/说明.txt"), "notes"},
    {QStringLiteral("Alpha/x.bin"), "x"},
    {QStringLiteral("App/ReleaseNotes.xml"), "credits"},
    {QStringLiteral("Alpha/GameManifest.xml.sig"), "levels"},
};

const QByteArray notes = "<ReleaseNotes><Version>1.0</Version></ReleaseNotes>\n";
const QByteArray manifest = "<FolderProperties FolderName=\".\"/>\n";

QStringList describe(const QList<DownloadItem> &items)
{
    QStringList result;
    for (const DownloadItem &item : items)
        result << item.folder + item.fileName;
    return result;
}

} // namespace

void tst_MakeManifest::initTestCase()
{
    QVERIFY(dir.isValid());
    installation = dir.filePath(QStringLiteral("installation"));
    for (const auto &file : files)
        QVERIFY(writeFile(installation + QLatin1Char('/') + file.first, file.second));
    QVERIFY(QDir().mkpath(installation + QStringLiteral("/Empty/Emptier")));
    // The documents at the top, which no manifest lists.
    for (const char *document :
         {"ReleaseNotes.xml", "ReleaseNotes.xml.sig", "GameManifest.xml", "gamemanifest.XML.SIG"})
        QVERIFY(writeFile(installation + QLatin1Char('/') + QLatin1String(document), "document"));

    secretKeyPath = dir.filePath(QStringLiteral("secret.key"));
    publicKey = QString::fromLatin1(run({QStringLiteral("--keygen"), secretKeyPath}).out.trimmed());
    otherPublicKey = QString::fromLatin1(
        run({QStringLiteral("--keygen"), dir.filePath(QStringLiteral("other.key"))}).out.trimmed());
    notesPath = dir.filePath(QStringLiteral("ReleaseNotes.xml"));
    manifestPath = dir.filePath(QStringLiteral("GameManifest.xml"));
    QVERIFY(writeFile(notesPath, notes) && writeFile(manifestPath, manifest));
    QCOMPARE(run({QStringLiteral("--sign"), secretKeyPath, notesPath, manifestPath}).exitCode, 0);
    signedNotes = TestSupport::readFile(notesPath);
    notesSignature = TestSupport::readFile(notesPath + QStringLiteral(".sig"));
    manifestSignature = TestSupport::readFile(manifestPath + QStringLiteral(".sig"));
    QCOMPARE(notesSignature.size(), 88 + 1);
}

tst_MakeManifest::Run tst_MakeManifest::run(const QStringList &arguments)
{
    QProcess process;
    // Wine now and then fails to create a process while other tests start theirs: a program that
    // never ran is started again, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        process.start(TestSupport::makeManifestExecutable(), arguments);
        if (process.waitForStarted(30000) || process.error() != QProcess::FailedToStart)
            break;
    }
    Run result;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        qWarning() << "make-manifest did not end normally:" << process.errorString() << arguments;
        return result;
    }
    result.exitCode = process.exitCode();
    // A console program on Windows ends its lines with CRLF.
    result.out = process.readAllStandardOutput().replace("\r\n", "\n");
    result.errorLines = process.readAllStandardError().replace("\r\n", "\n").split('\n');
    result.errorLines.removeAll(QByteArray());
    return result;
}

QList<DownloadItem> tst_MakeManifest::walk(const QString &manifestPath, const QString &installation)
{
    return CheckManifest(TestSupport::manifestListing(TestSupport::readFile(manifestPath)), {},
                         installation)
        .downloads;
}

void tst_MakeManifest::manifestListsEveryFileInOrder()
{
    const Run written = run({installation});
    QCOMPARE(written.exitCode, 0);
    QVERIFY(written.errorLines.isEmpty());

    QDomDocument manifest;
    QVERIFY(manifest.setContent(written.out));
    const QDomElement root = manifest.documentElement();
    QCOMPARE(root.tagName(), QStringLiteral("FolderProperties"));
    QCOMPARE(root.attribute(QStringLiteral("FolderName")), QStringLiteral("."));

    // Depth-first: each folder's files, then its subfolders, both in name order; empty folders left out.
    QStringList listed;
    const std::function<void(const QDomElement &, const QString &)> list =
        [&](const QDomElement &folder, const QString &path) {
            for (QDomElement child = folder.firstChildElement(); !child.isNull();
                 child = child.nextSiblingElement()) {
                if (child.tagName() == QLatin1String("FolderProperties")) {
                    list(child, path + child.attribute(QStringLiteral("FolderName")) + QLatin1Char('/'));
                    continue;
                }
                QCOMPARE(child.tagName(), QStringLiteral("FileProperties"));
                const QString name = path + child.attribute(QStringLiteral("FileName"));
                const auto file = std::find_if(files.begin(), files.end(),
                                               [&name](const auto &f) { return f.first == name; });
                QVERIFY2(file != files.end(), qPrintable(name));
                QCOMPARE(child.attribute(QStringLiteral("Size")), QString::number(file->second.size()));
                QCOMPARE(child.attribute(QStringLiteral("md5")), md5Hex(file->second));
                listed << name;
            }
        };
    list(root, QString());
    QCOMPARE(listed, (QStringList{"readme.txt", "Alpha/GameManifest.xml.sig", "Alpha/x.bin",
                                  "App/.hidden", "App/QOR.exe", "App/ReleaseNotes.xml",
                                  "App/Content/a.pak", "App/Content/b.pak", "App/Content/Deep/z.pak",
                                  QStringLiteral("Zeta/说明.txt")}));

    QCOMPARE(run({installation}).out, written.out);
}

void tst_MakeManifest::roundTrip()
{
    QTemporaryDir work;
    const QString copy = work.filePath(QStringLiteral("copy"));
    for (const auto &file : files)
        QVERIFY(writeFile(copy + QLatin1Char('/') + file.first, file.second));
    const QString manifest = work.filePath(QStringLiteral("GameManifest.xml"));
    const QStringList publish{QStringLiteral("-o"), manifest, QStringLiteral("--blocks-from"),
                              QStringLiteral("200K"), copy};
    QCOMPARE(run(publish).exitCode, 0);
    // Only b.pak is large enough for a block list, which is served but never listed.
    const QString blocks = QStringLiteral("BlockLists/%1.blocks").arg(md5Hex(QByteArray(300000, 'b')));
    QCOMPARE(TestSupport::readFile(manifest).count("BlockList="), 1);
    QVERIFY(TestSupport::readFile(manifest).contains("BlockList=\"" + blocks.toUtf8() + '"'));
    QCOMPARE(run(publish).exitCode, 0);
    QVERIFY(QFile::exists(copy + QLatin1Char('/') + blocks));

    QVERIFY(walk(manifest, copy).isEmpty());
    const Run unchanged = run({QStringLiteral("--check"), manifest, copy});
    QCOMPARE(unchanged.exitCode, 0);
    QVERIFY(unchanged.out.isEmpty());

    // One byte in the middle of the largest file.
    QFile changed(copy + QStringLiteral("/App/Content/b.pak"));
    QVERIFY(changed.open(QIODevice::ReadWrite));
    QVERIFY(changed.seek(150000));
    QVERIFY(changed.putChar('c'));
    changed.close();
    QCOMPARE(describe(walk(manifest, copy)), QStringList{"App/Content/b.pak"});

    QVERIFY(QFile::remove(copy + QStringLiteral("/Alpha/x.bin")));
    const Run differing = run({QStringLiteral("--check"), manifest, copy});
    QCOMPARE(differing.exitCode, 1);
    QCOMPARE(differing.out, QByteArray("missing: Alpha/x.bin\ndiffers: App/Content/b.pak\n"));
    QVERIFY(differing.errorLines.isEmpty());
}

void tst_MakeManifest::outputFileIsLeftOut()
{
    QTemporaryDir work;
    QVERIFY(writeFile(work.filePath(QStringLiteral("a.txt")), "a"));
    const QString manifest = work.filePath(QStringLiteral("GameManifest.xml"));
    QCOMPARE(run({QStringLiteral("-o"), manifest, work.path()}).exitCode, 0);
    QCOMPARE(run({QStringLiteral("-o"), manifest, work.path()}).exitCode, 0);
    QFile written(manifest);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray content = written.readAll();
    QVERIFY(content.contains("a.txt"));
    QVERIFY(!content.contains("GameManifest.xml"));
    QCOMPARE(run({QStringLiteral("--check"), manifest, work.path()}).exitCode, 0);
}

void tst_MakeManifest::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named");

    const QString missingFolder = dir.filePath(QStringLiteral("no such folder"));
    const QString broken = dir.filePath(QStringLiteral("broken.xml"));
    QVERIFY(writeFile(broken, "<FolderProperties FolderName=\".\"><FileProperties"));
    const QString hostile = dir.filePath(QStringLiteral("hostile.xml"));
    QVERIFY(writeFile(hostile, "<FolderProperties FolderName=\".\"><FileProperties FileName=\"../x\"/>"
                               "</FolderProperties>"));
    const QString missingManifest = dir.filePath(QStringLiteral("absent.xml"));

    QTest::newRow("missing folder") << QStringList{missingFolder} << missingFolder;
    QTest::newRow("check of a missing folder")
        << QStringList{QStringLiteral("--check"), hostile, missingFolder} << missingFolder;
    QTest::newRow("manifest that does not parse")
        << QStringList{QStringLiteral("--check"), broken, installation} << broken;
    QTest::newRow("manifest that does not exist")
        << QStringList{QStringLiteral("--check"), missingManifest, installation} << missingManifest;
    QTest::newRow("manifest that leaves the installation")
        << QStringList{QStringLiteral("--check"), hostile, installation} << QStringLiteral("../x");
    QTest::newRow("no folder") << QStringList() << QStringLiteral("FOLDER");
    QTest::newRow("a size that is none")
        << QStringList{QStringLiteral("--blocks-from"), QStringLiteral("4X"), installation}
        << QStringLiteral("--blocks-from");
    QTest::newRow("two folders") << QStringList{installation, installation} << QStringLiteral("FOLDER");
    QTest::newRow("output with check")
        << QStringList{QStringLiteral("-o"), broken, QStringLiteral("--check"), hostile, installation}
        << QStringLiteral("-o");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate"), installation}
                                    << QStringLiteral("frobnicate");
    QTest::newRow("keygen over a secret key") << QStringList{QStringLiteral("--keygen"), secretKeyPath}
                                              << secretKeyPath;
    QTest::newRow("sign with what is not a secret key")
        << QStringList{QStringLiteral("--sign"), broken, hostile, hostile} << broken;
    const QString mismatched = dir.filePath(QStringLiteral("mismatched.key"));
    QVERIFY(writeFile(mismatched, QByteArray(64, '\1').toBase64()));
    QTest::newRow("sign with a secret key whose halves do not belong together")
        << QStringList{QStringLiteral("--sign"), mismatched, hostile, hostile} << mismatched;
    QTest::newRow("sign a missing document")
        << QStringList{QStringLiteral("--sign"), secretKeyPath, notesPath, missingManifest}
        << missingManifest;
    const QStringList sign = {QStringLiteral("--sign"), secretKeyPath, notesPath, manifestPath};
    QTest::newRow("sign the notes alone") << QStringList(sign.mid(0, 3)) << QStringLiteral("MANIFEST");
    QTest::newRow("sign the manifest as the notes")
        << QStringList{QStringLiteral("--sign"), secretKeyPath, manifestPath, notesPath}
        << QStringLiteral("NOTES first");
    QTest::newRow("sign notes that are not XML")
        << QStringList{QStringLiteral("--sign"), secretKeyPath, broken, manifestPath}
        << QStringLiteral("not XML");
    const QString typed = dir.filePath(QStringLiteral("typed.xml"));
    QVERIFY(writeFile(typed, "<!DOCTYPE M [<!ENTITY e \"e\">]><M><FileProperties FileName=\"&e;\"/></M>"));
    QTest::newRow("sign a manifest that updaters would not read")
        << QStringList{QStringLiteral("--sign"), secretKeyPath, notesPath, typed}
        << QStringLiteral("it declares entities (e)");
    QTest::newRow("a release number not above the last one")
        << QStringList(sign + QStringList{QStringLiteral("--release"), QStringLiteral("1")})
        << QStringLiteral("not above 1");
    QTest::newRow("an expiry that is past")
        << QStringList(sign + QStringList{QStringLiteral("--expires"), QStringLiteral("2001-02-03")})
        << QStringLiteral("2001-02-03 is past");
    QTest::newRow("an expiry that is no date")
        << QStringList(sign + QStringList{QStringLiteral("--expires"), QStringLiteral("31.12.2099")})
        << QStringLiteral("31.12.2099");
    QTest::newRow("a release number without --sign")
        << QStringList{QStringLiteral("--release"), QStringLiteral("2"), installation}
        << QStringLiteral("--release");
    const QString lost = dir.filePath(QStringLiteral("lost.key"));
    QVERIFY(QFile::copy(secretKeyPath, lost) && writeFile(lost + ".last-release", "seven\n"));
    QTest::newRow("a damaged record of the last release")
        << QStringList{QStringLiteral("--sign"), lost, notesPath, manifestPath}
        << lost + QStringLiteral(".last-release");
    QTest::newRow("verify and sign at once")
        << QStringList{QStringLiteral("--verify"), publicKey, QStringLiteral("--sign"), secretKeyPath,
                       hostile}
        << QStringLiteral("together");
}

void tst_MakeManifest::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.errorLines.size(), 1);
    QVERIFY2(result.errorLines.first().startsWith("make-manifest: "), result.errorLines.first());
    QVERIFY2(QString::fromUtf8(result.errorLines.first()).contains(named), result.errorLines.first());
}

void tst_MakeManifest::unreadableFile()
{
#ifdef Q_OS_LINUX
    // Tests run as root, who reads every file whatever its mode; a process's own memory file fails
    // to read at its start even for root.
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("folder"));
    QVERIFY(writeFile(folder + QStringLiteral("/ok.txt"), "ok"));
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), folder + QStringLiteral("/locked.pak")));
    const QString output = work.filePath(QStringLiteral("GameManifest.xml"));
    const Run result = run({QStringLiteral("-o"), output, folder});
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.errorLines.size(), 1);
    QVERIFY2(result.errorLines.first().contains("locked.pak"), result.errorLines.first());
    QVERIFY(!QFile::exists(output));
#else
    QSKIP("needs a file that cannot be read even by an administrator");
#endif
}

void tst_MakeManifest::secretKeyIsPrivate()
{
#ifdef Q_OS_UNIX
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFile::permissions(secretKeyPath) & others, QFile::Permissions());
    QVERIFY(QFile::permissions(secretKeyPath) & QFile::ReadOwner);
#else
    QSKIP("Windows gives a new file the access rights of its folder");
#endif
}

void tst_MakeManifest::verify_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QByteArray>("signature");  // null: no signature file
    QTest::addColumn<QByteArray>("manifestSignature");  // null: no manifest to check
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("named");

    QTest::newRow("notes") << publicKey << signedNotes << notesSignature << QByteArray() << 0
                           << QStringLiteral("release 1, no expiry");
    QTest::newRow("manifest signed in the same run")
        << publicKey << signedNotes << notesSignature << manifestSignature << 0
        << QStringLiteral("the manifest of release 1");
    QTest::newRow("blank lines around the signature")
        << publicKey << signedNotes << "\r\n " + notesSignature + "\n\n" << QByteArray() << 0
        << QString();
    QTest::newRow("one byte changed")
        << publicKey << QByteArray(signedNotes).replace("1.0", "1.1") << notesSignature
        << QByteArray() << 1 << QStringLiteral("does not match");
    QTest::newRow("another publisher's key") << otherPublicKey << signedNotes << notesSignature
                                             << QByteArray() << 1 << QStringLiteral("does not match");
    QTest::newRow("the other document's signature")
        << publicKey << signedNotes << manifestSignature << QByteArray() << 1
        << QStringLiteral("does not match");
    QTest::newRow("signature cut short") << publicKey << signedNotes << notesSignature.left(80)
                                         << QByteArray() << 1 << QStringLiteral("base64 of 64 bytes");
    QTest::newRow("no signature file") << publicKey << signedNotes << QByteArray() << QByteArray()
                                       << 2 << QStringLiteral("ReleaseNotes.xml.sig");
    QTest::newRow("public key cut short") << publicKey.left(40) << signedNotes << notesSignature
                                          << QByteArray() << 2 << QStringLiteral("PUBLIC_KEY");
    const QByteArray secretKey = DecodeSecretKey(TestSupport::readFile(secretKeyPath)).key;
    QTest::newRow("notes signed without a statement")
        << publicKey << notes << SignatureFile(notes, secretKey).content << QByteArray() << 1
        << QStringLiteral("no SignedRelease element");
    QTest::newRow("the signed manifest of another release")
        << publicKey << signedNotes << notesSignature << SignatureFile("<Other/>", secretKey).content << 1
        << QStringLiteral("does not belong to the notes of release 1");
}

void tst_MakeManifest::verify()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, document);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, manifestSignature);
    QFETCH(int, exitCode);
    QFETCH(QString, named);
    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("ReleaseNotes.xml"));
    QVERIFY(writeFile(path, document));
    QVERIFY(signature.isNull() || writeFile(path + QStringLiteral(".sig"), signature));
    QStringList arguments = {QStringLiteral("--verify"), key, path};
    if (!manifestSignature.isNull()) {
        arguments << work.filePath(QStringLiteral("GameManifest.xml"));
        // The manifest that the signature was made for: this release's, or another one's.
        const QByteArray served = manifestSignature == this->manifestSignature ? manifest : "<Other/>";
        QVERIFY(writeFile(arguments.last(), served)
                && writeFile(arguments.last() + QStringLiteral(".sig"), manifestSignature));
    }
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.errorLines.size(), exitCode == 0 ? 0 : 1);
    const QString told = QString::fromUtf8(exitCode == 0 ? result.out : result.errorLines.first());
    QVERIFY2(told.contains(named), qPrintable(told));
}

// Each release of a key gets the next number, or a higher one given; the notes keep every other byte.
void tst_MakeManifest::signNumbersEachRelease()
{
    QTemporaryDir work;
    const QString key = work.filePath(QStringLiteral("release.key"));
    const QString keyText = QString::fromLatin1(run({QStringLiteral("--keygen"), key}).out.trimmed());
    const QString path = work.filePath(QStringLiteral("ReleaseNotes.xml"));
    const QByteArray written = "<?xml version=\"1.0\"?>\n<ReleaseNotes>\n  <Version>1.0</Version>\n"
                               "</ReleaseNotes>\n";
    QVERIFY(writeFile(path, written));
    const QStringList sign = {QStringLiteral("--sign"), key, path, manifestPath};
    const QString digest = QString::fromLatin1(ManifestDigest(manifest));
    const QList<QPair<QStringList, QString>> steps = {
        {{}, "release 1, no expiry"},
        {{}, "release 2, no expiry"},
        {{"--release", "7", "--expires", "2099-12-31"}, "release 7, good through 2099-12-31T23:59:59Z"},
        {{"--release", "7"}, ""},
        {{"--expires", "2099-06-30T12:00:00Z"}, "release 8, good through 2099-06-30T12:00:00Z"},
    };
    for (const auto &step : steps) {
        const Run signing = run(sign + step.first);
        QCOMPARE(signing.exitCode, step.second.isEmpty() ? 2 : 0);
        if (step.second.isEmpty())
            continue;
        QCOMPARE(signing.out, ("signed " + step.second + "\n").toUtf8());
        // "release 7, good through 2099-12-31T23:59:59Z" is Number="7" ... Expires="2099-12-31T23:59:59Z".
        const QString number = step.second.section(QLatin1Char(','), 0, 0).mid(8);
        const QString expires =
            step.second.contains("good") ? " Expires=\"" + step.second.right(20) + '"' : QString();
        const QString statement = QStringLiteral("  <SignedRelease Number=\"%1\" Manifest=\"%2\"%3/>\n")
                                      .arg(number, digest, expires);
        QCOMPARE(TestSupport::readFile(path),
                 QByteArray(written).insert(written.indexOf("</ReleaseNotes>"), statement.toUtf8()));
        QCOMPARE(run({QStringLiteral("--verify"), keyText, path, manifestPath}).out.split('\n').first(),
                 step.second.toUtf8());
    }
}

void tst_MakeManifest::help()
{
    const Run result = run({QStringLiteral("--help")});
    QCOMPARE(result.exitCode, 0);
    const QString text = QString::fromUtf8(result.out);
    for (const char *mention : {"--check", "-o", "FOLDER", "MANIFEST", "Exit codes", "progress",
                                "--keygen", "--sign", "--verify", "UPDATER_PUBLIC_KEY",
                                "--release", "--expires", ".last-release"})
        QVERIFY2(text.contains(QLatin1String(mention)), mention);
}

QTEST_GUILESS_MAIN(tst_MakeManifest)
#include "tst_makemanifest.moc"

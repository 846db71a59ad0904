// Whole update runs without a window, against a test server: from the release notes to the launch.

#include "support/runharness.h"
#include "support/testhttpserver.h"
#include "support/testrelease.h"
#include "support/testsupport.h"

#include "app/markerfile.h"
#include "app/updaterfiles.h"
#include "downloader/staging/stagedswitch.h"
#include "documents/release/installedrelease.h"
#include "documents/release/releasenotes.h"
#include "tools/publishing/signingkeys.h"
#include "updater/programstarter.h"
#include "updater/progress.h"
#include "updater/runstep.h"
#include "updater/selfupdate.h"
#include "updaterconfig.h"

#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(RunStep)
Q_DECLARE_METATYPE(RunEvent)

using TestSupport::RunHarness;
using TestSupport::TestHttpServer;
using TestSupport::TestRelease;

class tst_UpdateRun : public QObject
{
    Q_OBJECT

private slots:
    void nextStep_data();
    void nextStep();
    void updaterGoesFirst_data();
    void updaterGoesFirst();
    void init();
    void cleanup();

    void currentInstallationFetchesOnlyTheDocuments();
    void installationThatCannotBeCompleted();
    void swappedBodyNeverReachesTheInstallation();
    void interruptedUpdateLeavesOneReleaseWhole_data();
    void interruptedUpdateLeavesOneReleaseWhole();
    void fileInTheWayHoldsTheSwitchUp();
    void updateThatDoesNotFitFetchesNothing();
    void fileCutOffByClosingResumesAtTheNextStart_data();
    void fileCutOffByClosingResumesAtTheNextStart();
    void secondStartReadsNoFile();
    void corruptedFileIsFetchedAgain();
    void repairFindsWhatTheRecordVouchedFor();
    void updateInProgressReachesReadyWithoutDownloads();
    void passwordIsAskedUntilTheServerTakesIt();
    void passwordRefusedAfterTheNotesKeepsThePreviousOnes();
    void fileThatNeverArrivesEndsTheRun();
    void fileNamedLikeTheNotesThatNeverMatchesEndsTheRun();
    void failedDocumentEndsTheRun_data();
    void failedDocumentEndsTheRun();
    void programsThatDoNotStartAreReported();
    void signedRelease_data();
    void signedRelease();
    void progressIsShownWhileFilesArrive_data();
    void progressIsShownWhileFilesArrive();

private:
    void startRun(const QByteArray &publicKey = QByteArray());
    int requestsFor(const QString &path) const;

    TestRelease release = TestRelease::sample();
    std::unique_ptr<QTemporaryDir> serverFolder;
    std::unique_ptr<QTemporaryDir> installFolder;
    std::unique_ptr<TestSupport::ScopedCurrentDir> inInstallFolder;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<RunHarness> harness;
};

void tst_UpdateRun::init()
{
    release = TestRelease::sample();
    serverFolder = std::make_unique<QTemporaryDir>();
    installFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(serverFolder->isValid() && installFolder->isValid());
    inInstallFolder = std::make_unique<TestSupport::ScopedCurrentDir>(installFolder->path());
    QVERIFY(QDir().mkpath("Config"));
    server = std::make_unique<TestHttpServer>(serverFolder->path());
    QVERIFY(server->isListening());
}

void tst_UpdateRun::cleanup()
{
    harness.reset();
    server.reset();
    inInstallFolder.reset();
}

void tst_UpdateRun::startRun(const QByteArray &publicKey)
{
    QVERIFY(release.publish(serverFolder->path()));
    harness = std::make_unique<RunHarness>(server->url(), publicKey);
}

int tst_UpdateRun::requestsFor(const QString &path) const
{
    return server->requestCount(QUrl(QStringLiteral("/qor_app/") + path).toEncoded());
}

void tst_UpdateRun::failedDocumentEndsTheRun_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("failure"); // "down", a fault of the server, or "content"
    QTest::addColumn<QByteArray>("content");
    // "", "installer" (the marker of an older updater's run) or "run" (one of a release without
    // an installer)
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("reason"); // what the line that refuses the document says, if given

    const QString notes = "ReleaseNotes.xml";
    const QString manifest = "GameManifest.xml";
    QTest::newRow("server down") << notes << "down" << QByteArray() << "" << "";
    QTest::newRow("server down, installed") << notes << "down" << QByteArray() << "installer" << "";
    QTest::newRow("server down after a run without installer") << notes << "down" << QByteArray()
                                                               << "run" << "";
    QTest::newRow("notes 404") << notes << "404" << QByteArray() << "" << "";
    QTest::newRow("notes not XML") << notes << "content" << QByteArray("<R><Notes>") << "" << "";
    QTest::newRow("manifest 500") << manifest << "500" << QByteArray() << "installer" << "";
    QTest::newRow("manifest cut short") << manifest << "cut short" << QByteArray() << "" << "";
    QTest::newRow("a server that never answers, installed") << notes << "silent" << QByteArray()
                                                           << "installer" << "";
    QTest::newRow("manifest lists nothing")
        << manifest << "content" << QByteArray("<html><p>Sign in first</p></html>") << "" << "";
    const QByteArray entityUsedOften = "<!DOCTYPE R [<!ENTITY e \"" + QByteArray(4000, 'e')
                                       + "\">]><R><Notes>" + QByteArray("&e;").repeated(250000)
                                       + "</Notes></R>";
    QTest::newRow("notes that use an entity of their own 250,000 times")
        << notes << "content" << entityUsedOften << "" << "it declares entities (e)";
    QTest::newRow("a manifest with a document type")
        << manifest << "content"
        << QByteArray("<!DOCTYPE M SYSTEM \"/dev/zero\"><M><FileProperties FileName='a'/></M>")
        << "installer" << "it declares a document type";
    QTest::newRow("a manifest nested deeper than folders go")
        << manifest << "content"
        << QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000) << ""
        << "it nests elements more than 256 deep";
    QByteArray attributes;
    for (int i = 0; i < 40000; ++i)
        attributes += " a" + QByteArray::number(i) + "=''";
    QTest::newRow("a manifest with an element of 40,000 attributes")
        << manifest << "content" << "<M><FileProperties FileName='a'" + attributes + "/></M>" << ""
        << "it gives an element more than 64 attributes";
    QTest::newRow("notes that say they are in another encoding than theirs")
        << notes << "content" << QByteArray("<?xml version='1.0' encoding='UTF-16'?><R/>") << ""
        << "it says that it is in UTF-16";
    QTest::newRow("notes of more elements than their size needs")
        << notes << "content" << "<R>" + QByteArray("<a/>").repeated(20000) + "</R>" << ""
        << "it holds more elements, attributes, texts and comments than";
}

void tst_UpdateRun::failedDocumentEndsTheRun()
{
    QFETCH(QString, document);
    QFETCH(QString, failure);
    QFETCH(QByteArray, content);
    QFETCH(QString, before);
    QFETCH(QString, reason);
    const QMap<QString, TestHttpServer::Fault> faults{{"404", TestHttpServer::Fault::NotFound},
                                                     {"500", TestHttpServer::Fault::ServerError},
                                                     {"cut short", TestHttpServer::Fault::CutShort},
                                                     {"silent", TestHttpServer::Fault::Silent}};
    if (before == "run") {
        release.files.remove(Programs::prerequisitesInstaller);
        startRun();
        QVERIFY(harness->waitForEnd());
        harness.reset();
    }
    QVERIFY(release.publish(serverFolder->path()));
    if (before == "installer")
        SetMarkerFile("Config/UU_Installed.setting", true);
    if (failure == "content")
        QVERIFY(TestSupport::writeFile(serverFolder->filePath(document), content));
    else if (faults.contains(failure))
        server->setFault(document, faults.value(failure));
    const QUrl url = server->url();
    if (failure == "down")
        server.reset();
    TestSupport::MessageRecorder recorder;
    harness = std::make_unique<RunHarness>(url);

    QCOMPARE(harness->waitForEnd(), false);
    QCOMPARE(harness->status(), QStringLiteral("更新失败"));
    const QStringList refusals = recorder.texts().filter("Cannot use " + document);
    QCOMPARE(refusals.size(), 1);
    QVERIFY2(refusals.first().contains(": " + reason), qPrintable(refusals.first()));
    QCOMPARE(harness->bLaunchAllowed, !before.isEmpty());
    QCOMPARE(QFile::exists("Config/UU_Installed.setting"), before == "installer");
    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QCOMPARE(QFile::exists(file.key()), before == "run");
    QVERIFY(!QFile::exists(TestRelease::installerTrace));
}

void tst_UpdateRun::signedRelease_data()
{
    QTest::addColumn<QString>("tampering"); // what happens to the signed release on its way
    QTest::addColumn<QString>("refused");   // the document that ends the run, if any

    const QString notes = "ReleaseNotes.xml";
    const QString manifest = "GameManifest.xml";
    QTest::newRow("signed by the key") << "" << "";
    QTest::newRow("no key compiled in, nothing signed") << "no key" << "";
    QTest::newRow("behind a password: signed again after it") << "password" << "";
    QTest::newRow("a byte of the notes changed") << "change ReleaseNotes.xml" << notes;
    QTest::newRow("a byte of the manifest changed") << "change GameManifest.xml" << manifest;
    QTest::newRow("no signature of the notes") << "remove ReleaseNotes.xml.sig" << notes;
    QTest::newRow("no signature of the manifest") << "remove GameManifest.xml.sig" << manifest;
    QTest::newRow("signed by another key") << "other key" << notes;
    QTest::newRow("malformed signature") << "malform GameManifest.xml.sig" << manifest;
    QTest::newRow("the notes' signature for the manifest") << "replay" << manifest;
    QTest::newRow("an older release") << "installed 3, serve 2" << notes;
    QTest::newRow("the installed release again") << "installed 3, serve 3" << "";
    QTest::newRow("a newer release") << "installed 3, serve 4" << "";
    QTest::newRow("a damaged record of the installed release") << "damaged record, serve 2" << "";
    QTest::newRow("the manifest of another release") << "mixed pair" << manifest;
    QTest::newRow("an expired release") << "expired" << notes;
}

void tst_UpdateRun::signedRelease()
{
    QFETCH(QString, tampering);
    QFETCH(QString, refused);
    const SigningKeys keys = NewSigningKeys();
    release.secretKey = tampering == "other key" ? NewSigningKeys().secretKey : keys.secretKey;
    if (tampering == "no key")
        release.secretKey.clear();
    const QString floorPath = ConfigFiles::installedRelease;
    if (tampering.startsWith("installed")) {
        QVERIFY(!RaiseInstalledReleaseProblem(floorPath, tampering.section(' ', 1, 1).chopped(1).toLongLong()));
        SetMarkerFile("Config/UU_Installed.setting", true);
    }
    if (tampering.startsWith("damaged")) {
        QVERIFY(TestSupport::writeFile(floorPath, "InstalledRelease 1\nRelease 9\nEnd 0\n"));
        SetMarkerFile("Config/UU_Installed.setting", true);
    }
    if (tampering.contains("serve"))
        release.releaseNumber = tampering.section(' ', -1).toLongLong();
    if (tampering == "expired")
        release.expires = QDateTime::currentDateTimeUtc().addDays(-1);
    if (tampering == "password")
        server->requireBasicAuth("ReleaseNotes.xml", UpdaterConfig::authUser, "secret");
    const QByteArray floorBefore = TestSupport::readFile(floorPath);
    QVERIFY(release.publish(serverFolder->path()));
    QTemporaryDir nextFolder;
    if (tampering == "mixed pair") {
        // The signed manifest of the next release, beside the notes of this one.
        TestRelease next = release;
        next.addFile("App/Content/New.pak", "new");
        next.releaseNumber = 2;
        QVERIFY(next.publish(nextFolder.path()));
        for (const QString &document : {"GameManifest.xml", "GameManifest.xml.sig"}) {
            QVERIFY(TestSupport::writeFile(serverFolder->filePath(document),
                                           TestSupport::readFile(nextFolder.filePath(document))));
        }
    }
    const QString served = serverFolder->filePath(tampering.section(' ', 1));
    QByteArray content = TestSupport::readFile(served);
    if (tampering.startsWith("change")) {
        content[content.size() / 2] = char(content.at(content.size() / 2) ^ 1);
        QVERIFY(TestSupport::writeFile(served, content));
    }
    if (tampering.startsWith("remove"))
        QVERIFY(QFile::remove(served));
    if (tampering.startsWith("malform"))
        QVERIFY(TestSupport::writeFile(served, content.left(40) + "\n"));
    if (tampering == "replay") {
        QVERIFY(TestSupport::writeFile(serverFolder->filePath("GameManifest.xml.sig"),
                                       TestSupport::readFile(serverFolder->filePath(
                                           "ReleaseNotes.xml.sig"))));
    }
    TestSupport::MessageRecorder recorder;
    harness = std::make_unique<RunHarness>(server->url(),
                                           tampering == "no key" ? "" : keys.publicKey.toBase64());
    harness->passwords = QStringList{"secret"};

    if (refused.isEmpty()) {
        QVERIFY(harness->waitForEnd());
        QCOMPARE(harness->prompts, tampering == "password" ? 1 : 0);
        for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
            QCOMPARE(TestSupport::readFile(file.key()), file.value());
        QCOMPARE(requestsFor("ReleaseNotes.xml.sig") + requestsFor("GameManifest.xml.sig"),
                 tampering == "no key" ? 0 : 2);
        // The completed run raises the floor to its release, and says so where it had lost it.
        const InstalledReleaseReading floor = ReadInstalledRelease(floorPath);
        QCOMPARE(floor.number, tampering == "no key" ? std::nullopt
                                                     : std::optional<qint64>(release.releaseNumber));
        QCOMPARE(recorder.texts().filter("record of the installed release").size(),
                 tampering.startsWith("damaged") ? 1 : 0);
        return;
    }
    QVERIFY(!harness->waitForEnd());
    QCOMPARE(recorder.texts().filter("Cannot use " + refused).size(), 1);
    QCOMPARE(TestSupport::readFile(floorPath), floorBefore);
    // The installed application stays playable where a run completed before.
    QCOMPARE(harness->bLaunchAllowed, QFile::exists("Config/UU_Installed.setting"));
    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QVERIFY(!QFile::exists(file.key()));
    QVERIFY(!QFile::exists(TestRelease::installerTrace));
    // Refused notes are gone before the next start could keep them as the previous ones.
    QCOMPARE(QFile::exists("ReleaseNotes.xml"), refused == "GameManifest.xml");
}

void tst_UpdateRun::programsThatDoNotStartAreReported()
{
    release.files.remove(Programs::prerequisitesInstaller);
    release.files.remove(Programs::application);
    TestSupport::MessageRecorder recorder;
    startRun();
    QVERIFY(harness->waitForEnd());
    // Without the marker, the next completed run tries the installer again.
    QVERIFY(!QFile::exists("Config/UU_Installed.setting"));

    QSignalSpy launched(&harness->run(), &UpdateRun::Launched);
    harness->bLaunchAllowed = false;
    harness->run().Launch();
    QCOMPARE(launched.count(), 0);
    QVERIFY(harness->bLaunchAllowed);
    QCOMPARE(harness->status(), QStringLiteral("启动失败"));
    QCOMPARE(recorder.texts().filter("Cannot start the prerequisites installer").size(), 1);
    QCOMPARE(recorder.texts().filter("Cannot start the application App/QOR.exe").size(), 1);
}

void tst_UpdateRun::currentInstallationFetchesOnlyTheDocuments()
{
    QVERIFY(release.install("."));
    SetMarkerFile("Config/UU_Installed.setting", true);
    // Written as some tools print digests, the manifest still says what is installed.
    release.bUpperCaseDigests = true;
    // The notes that the previous run fetched: they name the version that is installed.
    QVERIFY(TestSupport::writeFile("ReleaseNotes.xml", "<R><Version>1.9</Version></R>"));
    startRun();
    QVERIFY(harness->waitForEnd());

    QCOMPARE(harness->run().PreviousVersion(), QStringLiteral("1.9"));
    QCOMPARE(TestSupport::readFile("ReleaseNotes.old"), QByteArray("<R><Version>1.9</Version></R>"));

    QCOMPARE(server->requests().size(), 2);
    QCOMPARE(requestsFor("ReleaseNotes.xml"), 1);
    QCOMPARE(requestsFor("GameManifest.xml"), 1);
    // The installer runs once per installation, and this one has run already.
    QVERIFY(!QFile::exists(TestRelease::installerTrace));
}

void tst_UpdateRun::installationThatCannotBeCompleted()
{
    // Where the manifest lists a file, a folder stands: nothing may be written into it.
    QVERIFY(release.install("."));
    const QString occupied = QStringLiteral("App/Content/Movies/Intro.mp4");
    QVERIFY(QFile::remove(occupied) && QDir().mkpath(occupied + "/clip"));
    TestSupport::MessageRecorder recorder;
    startRun();

    QVERIFY(!harness->waitForEnd());
    QCOMPARE(harness->status(), QStringLiteral("更新失败"));
    QVERIFY(!harness->bLaunchAllowed);
    QCOMPARE(TestSupport::filesBelow(occupied), QStringList());
    QCOMPARE(recorder.texts().filter(occupied).size(), 1);
    QCOMPARE(server->requests().size(), 2);
}

void tst_UpdateRun::swappedBodyNeverReachesTheInstallation()
{
    // Release 1 is installed; on the way to release 2 someone swaps the body of the program.
    const SigningKeys keys = NewSigningKeys();
    release.secretKey = keys.secretKey;
    QVERIFY(release.install("."));
    SetMarkerFile("Config/UU_Installed.setting", true);
    const QByteArray genuine = release.files.value(Programs::application);
    release.addFile(Programs::application, genuine + "release 2");
    release.releaseNumber = 2;
    startRun(keys.publicKey.toBase64());
    QVERIFY(TestSupport::writeFile(serverFolder->filePath(Programs::application),
                                   genuine + "swapped!!"));
    QVERIFY(!harness->waitForEnd());
    QCOMPARE(TestSupport::readFile(Programs::application), genuine);

    // The next start, with the server away, offers the installation as it is: the genuine program.
    harness.reset();
    server.reset();
    harness = std::make_unique<RunHarness>(QUrl("http://127.0.0.1:1"), keys.publicKey.toBase64());
    QVERIFY(!harness->waitForEnd());
    QVERIFY(harness->bLaunchAllowed);
    harness->run().Launch();
    QTRY_COMPARE(TestSupport::readFile(TestRelease::applicationTrace), QByteArray("started\n"));
    QCOMPARE(TestSupport::readFile(Programs::application), genuine);
}

void tst_UpdateRun::fileCutOffByClosingResumesAtTheNextStart_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::newRow("still wanted") << QString();
    // The staged part is of no use once the file is there: the run's end removes it.
    QTest::newRow("installed meanwhile") << "installed";
    // Closed after its last byte was written: the file is not asked for again.
    QTest::newRow("staged whole") << "staged whole";
}

void tst_UpdateRun::fileCutOffByClosingResumesAtTheNextStart()
{
    QFETCH(QString, meanwhile);
    const bool bAskedAgain = meanwhile.isEmpty();
    const QString pak = QStringLiteral("App/Content/Paks/QOR-Windows.pak");
    // Every answer for it stops halfway: the first run holds part of it when it is closed.
    server->setFault(pak, TestHttpServer::Fault::Stall);
    const auto resumedRequests = [this] {
        int resumed = 0;
        for (const TestHttpServer::Request &request : server->requests())
            resumed += request.header("Range").startsWith("bytes=");
        return resumed;
    };
    TestSupport::MessageRecorder recorder;
    startRun();
    // Closed once it has asked for the rest. Each stall asks again: how many of these asks the
    // server has read by then depends on how long its thread, the test's, was kept from reading.
    QTRY_VERIFY(resumedRequests() > 0);
    harness.reset();
    QVERIFY(!QDir("Config").entryList({"Download*.resume"}).isEmpty());
    // Whatever this run sent has arrived before the next one starts.
    QTRY_COMPARE(server->openConnections(), 0);
    const int resumedBefore = resumedRequests();
    server->setFault(pak, TestHttpServer::Fault::None);
    if (meanwhile == "installed")
        QVERIFY(TestSupport::writeFile(pak, release.files.value(pak)));
    if (meanwhile == "staged whole") {
        const QStringList parts = QDir("Config").entryList({"Download*.part"});
        QCOMPARE(parts.size(), 1);
        QVERIFY(TestSupport::writeFile("Config/" + parts.first(), release.files.value(pak)));
    }
    const auto pakRequests = [this, &pak] {
        int asked = 0;
        for (const TestHttpServer::Request &request : server->requests())
            asked += request.target.endsWith(pak.toUtf8());
        return asked;
    };
    const int pakRequestsBefore = pakRequests();

    const int linesBefore = recorder.texts().size();
    // Nothing stalls now: a server slow to answer must not have the rest asked for twice.
    UpdaterConfig::RunSettings patient = TestSupport::shortSettings();
    patient.stallInterval = patient.slowWindow = 60000;
    harness = std::make_unique<RunHarness>(server->url(), QByteArray(), patient);
    QVERIFY(harness->waitForEnd());
    QCOMPARE(TestSupport::readFile(pak), release.files.value(pak));
    QCOMPARE(resumedRequests() - resumedBefore, bAskedAgain ? 1 : 0);
    QCOMPARE(pakRequests() - pakRequestsBefore, bAskedAgain ? 1 : 0);
    QCOMPARE(recorder.texts().mid(linesBefore).filter("Resuming " + pak).size(),
             bAskedAgain ? 1 : 0);
    // The run's end tells the Downloader, on its own thread, that nothing more is fetched: what
    // was staged goes once it has heard, which may be after the end is shown.
    QTRY_COMPARE(TestSupport::filesBelow("Config").filter("Download"), QStringList());
}

void tst_UpdateRun::interruptedUpdateLeavesOneReleaseWhole_data()
{
    QTest::addColumn<QString>("cutOff");

    QTest::newRow("while a file of the update arrives") << "arriving";
    QTest::newRow("in the middle of the switch") << "switching";
    QTest::newRow("after the switch, before its check") << "switched";
}

void tst_UpdateRun::interruptedUpdateLeavesOneReleaseWhole()
{
    QFETCH(QString, cutOff);
    startRun();
    QVERIFY(harness->waitForEnd());
    harness.reset();
    // The next release changes a small file and a package.
    const TestRelease first = release;
    const QString binary = QStringLiteral("App/Binaries/Win64/QOR-Win64-Shipping.exe");
    const QString pak = QStringLiteral("App/Content/Paks/QOR-Windows.pak");
    release.files[binary] = "binary of release 2";
    release.files[pak].prepend("release 2");
    QVERIFY(release.publish(serverFolder->path()));
    if (cutOff == "arriving") {
        server->setFault(pak, TestHttpServer::Fault::Stall);
        harness = std::make_unique<RunHarness>(server->url());
        QTRY_COMPARE(QDir(ConfigFiles::stagedFolder).entryList(QDir::Files).size(), 1);
        harness.reset();
    } else {
        // What a switch that the end of the process cut off leaves: both files staged, the
        // journal written, and the first file moved.
        QList<SwitchEntry> entries;
        for (const QString &path : {binary, pak}) {
            const QByteArray content = release.files.value(path);
            entries.append({ConfigFiles::StagedCopyPath(path, content.size(),
                                                        TestSupport::md5Hex(content)),
                            path});
            QVERIFY(TestSupport::writeFile(entries.last().staged, content));
        }
        QVERIFY(!SaveSwitchJournalProblem(ConfigFiles::switchJournal, entries));
        QVERIFY(QFile::remove(binary) && QFile::rename(entries.first().staged, binary));
        if (cutOff == "switched")
            QVERIFY(QFile::remove(pak) && QFile::rename(entries.last().staged, pak));
    }

    // The next start finds the server gone, and offers what is installed: one release, whole.
    const QUrl url = server->url();
    server.reset();
    FinishInterruptedSwitch();
    harness = std::make_unique<RunHarness>(url);
    QVERIFY(!harness->waitForEnd());
    QVERIFY(harness->bLaunchAllowed);
    const TestRelease &installed = cutOff == "arriving" ? first : release;
    for (auto file = installed.files.cbegin(); file != installed.files.cend(); ++file)
        QCOMPARE(TestSupport::readFile(file.key()), file.value());
    harness.reset();

    // Online again, the update completes without fetching again what was staged.
    server = std::make_unique<TestHttpServer>(serverFolder->path());
    startRun();
    QVERIFY(harness->waitForEnd());
    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QCOMPARE(TestSupport::readFile(file.key()), file.value());
    QCOMPARE(requestsFor(binary), 0);
    QCOMPARE(QDir(ConfigFiles::stagedFolder).entryList(QDir::Files), QStringList());
    QVERIFY(!IsSwitchPending());
}

void tst_UpdateRun::fileInTheWayHoldsTheSwitchUp()
{
    startRun();
    QVERIFY(harness->waitForEnd());
    harness.reset();
    const TestRelease first = release;
    const QString binary = QStringLiteral("App/Binaries/Win64/QOR-Win64-Shipping.exe");
    release.files[binary] = "binary of release 2";
    release.addFile(QStringLiteral("App/New/Level.pak"), "level");
    // A file stands where the new file's folder must go.
    QVERIFY(TestSupport::writeFile("App/New", "in the way"));
    UpdaterConfig::RunSettings settings = TestSupport::shortSettings();
    settings.switchRetryInterval = 50;
    QVERIFY(release.publish(serverFolder->path()));
    TestSupport::MessageRecorder recorder;
    harness = std::make_unique<RunHarness>(server->url(), QByteArray(), settings);

    QTRY_COMPARE(harness->status(), HeldFileText("App/New/Level.pak"));
    // Tried again and again, it changes nothing, and says so once.
    QTRY_VERIFY(recorder.texts().filter("Cannot replace App/New/Level.pak yet").size() == 1
                && harness->statuses.count(HeldFileText("App/New/Level.pak")) > 3);
    QCOMPARE(TestSupport::readFile(binary), first.files.value(binary));
    QVERIFY(!harness->bLaunchAllowed);

    QVERIFY(QFile::remove("App/New"));
    QVERIFY(harness->waitForEnd());
    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QCOMPARE(TestSupport::readFile(file.key()), file.value());
}

void tst_UpdateRun::updateThatDoesNotFitFetchesNothing()
{
    startRun();
    QVERIFY(harness->waitForEnd());
    harness.reset();
    const QString binary = QStringLiteral("App/Binaries/Win64/QOR-Win64-Shipping.exe");
    release.files[binary] = "binary of release 2";
    release.addFile(QStringLiteral("App/Content/Paks/Huge.pak"), "huge");
    release.listedSizes.insert(QStringLiteral("App/Content/Paks/Huge.pak"), qint64(1) << 50);
    TestSupport::MessageRecorder recorder;
    startRun();

    QTRY_VERIFY2(harness->status().startsWith("磁盘空间不足: 需要 1048576.0 GB, 可用 "),
                 qPrintable(harness->status()));
    QCOMPARE(recorder.texts().filter("Not enough space on the disk").size(), 1);
    // What is installed stays playable, and nothing was fetched for what cannot fit.
    QVERIFY(harness->bLaunchAllowed);
    QCOMPARE(requestsFor(binary), 1);
    QVERIFY(QDir(ConfigFiles::stagedFolder).isEmpty());
}

void tst_UpdateRun::secondStartReadsNoFile()
{
    QVERIFY(release.install("."));
    SetMarkerFile("Config/UU_Installed.setting", true);
    TestSupport::MessageRecorder recorder;
    startRun();
    QVERIFY(harness->waitForEnd());
    harness.reset();
    const QDateTime recorded = QFileInfo("Config/VerifiedDigests.record").lastModified();
    startRun();
    QVERIFY(harness->waitForEnd());

    const QString checked = QStringLiteral("Checked %1 files: read %2, knew %3 from the record");
    const int files = release.files.size();
    QCOMPARE(recorder.texts().filter("Checked"),
             QStringList({checked.arg(files).arg(files).arg(0), checked.arg(files).arg(0).arg(files)}));
    QCOMPARE(recorder.texts().filter("cannot use the record").size(), 1);
    // A start that finds everything as recorded leaves the record as it was.
    QCOMPARE(QFileInfo("Config/VerifiedDigests.record").lastModified(), recorded);
}

void tst_UpdateRun::corruptedFileIsFetchedAgain()
{
    QVERIFY(release.install("."));
    const QString corrupted = QStringLiteral("App/Content/Paks/QOR-Windows.pak");
    QByteArray damaged = release.files.value(corrupted);
    damaged[1000] = char(damaged[1000] ^ 0x40);
    QVERIFY(TestSupport::writeFile(corrupted, damaged));
    startRun();
    QVERIFY(harness->waitForEnd());

    QCOMPARE(TestSupport::readFile(corrupted), release.files.value(corrupted));
    QCOMPARE(requestsFor(corrupted), 1);
    QCOMPARE(server->requests().size(), 3);
}

void tst_UpdateRun::repairFindsWhatTheRecordVouchedFor()
{
    startRun();
    QVERIFY(harness->waitForEnd());
    // A disk fault, or a tool that keeps the file's size and time: the record still vouches for it.
    const QString damaged = QStringLiteral("App/Binaries/Win64/QOR-Win64-Shipping.exe");
    const QDateTime modified = QFileInfo(damaged).lastModified();
    QByteArray content = release.files.value(damaged);
    content[0] = char(content[0] ^ 0x40);
    QVERIFY(TestSupport::writeFile(damaged, content));
    {
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    TestSupport::MessageRecorder recorder;
    harness->statuses.clear();
    harness->run().Repair();
    QVERIFY(!harness->bLaunchAllowed);
    QVERIFY(harness->waitForEnd());
    QCOMPARE(TestSupport::readFile(damaged), release.files.value(damaged));
    QCOMPARE(requestsFor(damaged), 2);
    QCOMPARE(recorder.texts().filter("Repair asked").size(), 1);
    // One check reads everything; the record vouches again from then on.
    QCOMPARE(recorder.texts().filter(QRegularExpression("Checked \\d+ files: read 0,")).size(), 1);
}

void tst_UpdateRun::updateInProgressReachesReadyWithoutDownloads()
{
    release.setNotes("<ReleaseNotes><Server><UpdateInProgress>1</UpdateInProgress></Server>"
                     "</ReleaseNotes>");
    startRun();
    QSignalSpy lines(&harness->run(), &UpdateRun::LogLine);
    QVERIFY(harness->waitForEnd());

    QCOMPARE(server->requests().size(), 2);
    QVERIFY(!QFile::exists(Programs::application));
    QCOMPARE(lines.count(), 1);
    QCOMPARE(lines.first(), QVariantList({"New release on server, please try again later", true}));
}

void tst_UpdateRun::passwordIsAskedUntilTheServerTakesIt()
{
    server->requireBasicAuth("ReleaseNotes.xml", UpdaterConfig::authUser, "secret");
    startRun();
    harness->passwords = QStringList{"wrong", "secret"};
    QVERIFY(harness->waitForEnd());

    QCOMPARE(harness->prompts, 2);
    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QCOMPARE(TestSupport::readFile(file.key()), file.value());
    // The first try carries no password; each later one is sent bare, challenged, and sent again
    // with the password once: no try loops on a password that the server refuses.
    QCOMPARE(requestsFor("ReleaseNotes.xml"), 1 + 2 + 2);
}

void tst_UpdateRun::passwordRefusedAfterTheNotesKeepsThePreviousOnes()
{
    const QByteArray installedNotes = "<ReleaseNotes><Version>1.0</Version></ReleaseNotes>";
    QVERIFY(TestSupport::writeFile("ReleaseNotes.xml", installedNotes));
    server->requireBasicAuth("Readme.txt", UpdaterConfig::authUser, "secret");
    startRun();
    QTRY_COMPARE(harness->prompts, 1);

    // The player leaves at the prompt: the next start still knows the installed version.
    harness.reset();
    RotateReleaseNotes();
    QCOMPARE(TestSupport::readFile("ReleaseNotes.old"), installedNotes);
}

void tst_UpdateRun::fileThatNeverArrivesEndsTheRun()
{
    const QString broken = QStringLiteral("App/Content/Movies/Intro.mp4");
    server->setFault(broken, TestHttpServer::Fault::NotFound);
    TestSupport::MessageRecorder recorder;
    startRun();
    QVERIFY(!harness->waitForEnd());

    QCOMPARE(requestsFor(broken), 3);
    QVERIFY(!harness->bLaunchAllowed);
    QVERIFY(!QFile::exists(broken));
    QCOMPARE(recorder.texts().filter("Still different from the manifest").size(), 1);
    QVERIFY(recorder.texts().filter("Still different from the manifest").first().contains(broken));
    // The run has stopped: nothing more is asked for.
    const int requests = server->requests().size();
    QTest::qWait(300);
    QCOMPARE(server->requests().size(), requests);
}

void tst_UpdateRun::fileNamedLikeTheNotesThatNeverMatchesEndsTheRun()
{
    // A file of the application named like the notes is an ordinary file: one that never matches
    // counts against the passes like any other.
    QVERIFY(release.publish(serverFolder->path()));
    QFile manifest(serverFolder->filePath("GameManifest.xml"));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    QByteArray listed = manifest.readAll();
    manifest.close();
    listed.replace("<FileProperties ", "<FileProperties FileName=\"ReleaseNotes.xml\" Size=\"10\" "
                                       "md5=\"00000000000000000000000000000000\"/><FileProperties ");
    QVERIFY(TestSupport::writeFile(manifest.fileName(), listed));
    harness = std::make_unique<RunHarness>(server->url());

    QVERIFY(!harness->waitForEnd());
    QCOMPARE(harness->status(), QStringLiteral("更新失败"));
    QVERIFY(requestsFor("ReleaseNotes.xml") <= 4);
}

void tst_UpdateRun::progressIsShownWhileFilesArrive_data()
{
    QTest::addColumn<int>("transfers");
    QTest::newRow("one at a time") << 1;
    QTest::newRow("four at once") << 4;
}

void tst_UpdateRun::progressIsShownWhileFilesArrive()
{
    QFETCH(int, transfers);
    server->setFault("App/Content/Paks/QOR-Windows.pak", TestHttpServer::Fault::Slow);
    QVERIFY(release.publish(serverFolder->path()));
    UpdaterConfig::RunSettings settings = TestSupport::shortSettings();
    settings.transfers = transfers;
    harness = std::make_unique<RunHarness>(server->url(), QByteArray(), settings);
    const QRegularExpression progress(
        QStringLiteral("^剩余\\d+个文件 \\(-?\\d+ (KB|MB)\\) 速度 \\d+\\.\\d\\d (KB|MB)/s$"));
    int barValueSeen = 0;
    QVERIFY2(QTest::qWaitFor([&] {
        barValueSeen = qMax(barValueSeen, harness->progressValue);
        return progress.match(harness->status()).hasMatch() && barValueSeen > 0;
    }, 30000), qPrintable(harness->status()));
    QVERIFY(harness->waitForEnd());
    // Every byte of the files is counted, and the count of the last one too.
    const int recheck = harness->statuses.indexOf("检查本地文件", harness->statuses.indexOf("下载中..."));
    QVERIFY(harness->statuses.at(recheck - 1).startsWith("剩余0个文件 (0 KB) "));

    // One at a time, the files are asked for in the order the manifest lists them.
    if (transfers == 1) {
        const QByteArray manifest = TestSupport::readFile(serverFolder->filePath("GameManifest.xml"));
        QList<int> positions;
        for (const TestHttpServer::Request &request : server->requests()) {
            const QString name = QUrl::fromPercentEncoding(request.target).section('/', -1);
            if (request.target.startsWith("/qor_app/App/"))
                positions << manifest.indexOf("FileName=\"" + name.toUtf8() + '"');
        }
        QVERIFY(std::is_sorted(positions.cbegin(), positions.cend()));
        QCOMPARE(positions.size(), release.files.size() - 1);
    }
}

void tst_UpdateRun::nextStep_data()
{
    QTest::addColumn<RunStep>("step");
    QTest::addColumn<RunEvent>("event");
    QTest::addColumn<bool>("bKeyed");
    QTest::addColumn<RunStep>("next");

    using S = RunStep;
    using E = RunEvent;
    QTest::newRow("notes, keyed") << S::Notes << E::DocumentArrived << true << S::NotesSignature;
    QTest::newRow("notes") << S::Notes << E::DocumentArrived << false << S::Manifest;
    QTest::newRow("notes' signature") << S::NotesSignature << E::DocumentArrived << true
                                      << S::Manifest;
    QTest::newRow("manifest, keyed") << S::Manifest << E::DocumentArrived << true
                                     << S::ManifestSignature;
    QTest::newRow("manifest") << S::Manifest << E::DocumentArrived << false << S::Check;
    QTest::newRow("manifest's signature") << S::ManifestSignature << E::DocumentArrived << true
                                          << S::Check;
    QTest::newRow("files found") << S::Check << E::FilesFound << false << S::Downloads;
    QTest::newRow("nothing to fetch") << S::Check << E::NothingToFetch << false << S::Launchable;
    QTest::newRow("passes spent") << S::Check << E::PassesSpent << false << S::Failed;
    QTest::newRow("files arrived, some not as expected") << S::Downloads << E::FilesArrived << false
                                                         << S::Check;
    QTest::newRow("every file staged") << S::Downloads << E::ReadyToSwitch << false << S::Switch;
    QTest::newRow("only the switch left") << S::Check << E::ReadyToSwitch << false << S::Switch;
    QTest::newRow("switched") << S::Switch << E::Switched << false << S::Check;
    QTest::newRow("manifest unusable") << S::Check << E::Unusable << true << S::Failed;
    QTest::newRow("a password mid-download") << S::Downloads << E::PasswordRequired << true
                                             << S::Notes;
    QTest::newRow("repair at the end") << S::Launchable << E::RepairAsked << false << S::Check;
}

void tst_UpdateRun::nextStep()
{
    QFETCH(RunStep, step);
    QFETCH(RunEvent, event);
    QFETCH(bool, bKeyed);
    QFETCH(RunStep, next);
    QCOMPARE(NextStep(step, event, bKeyed), next);
    // Only the document steps wait for a document.
    const bool bDocumentStep = next == RunStep::Notes || next == RunStep::NotesSignature
                               || next == RunStep::Manifest || next == RunStep::ManifestSignature;
    QCOMPARE(AwaitedDocument(next).isEmpty(), !bDocumentStep);
}

void tst_UpdateRun::updaterGoesFirst_data()
{
    QTest::addColumn<QString>("program");     // the updater's, as the run knows it
    QTest::addColumn<QString>("rejected");    // the digest of a program that did not start
    QTest::addColumn<QString>("downloads");   // the round's files, "path:md5" each
    QTest::addColumn<QString>("staged");
    QTest::addColumn<QString>("round");       // what the round fetches, then what it switches
    QTest::addColumn<bool>("bUpdaterOnly");

    QTest::newRow("outside the folder") << "" << "" << "updater:b App/a:a" << "" << "updater App/a|"
                                        << false;
    QTest::newRow("fetched first, alone") << "updater" << "" << "App/a:a updater:b" << "App/c:c"
                                          << "updater|" << true;
    QTest::newRow("staged already") << "updater" << "" << "App/a:a" << "updater:b" << "|updater"
                                    << true;
    QTest::newRow("current") << "updater" << "" << "App/a:a" << "App/c:c" << "App/a|App/c" << false;
    QTest::newRow("did not start before") << "updater" << "b" << "App/a:a updater:b" << ""
                                          << "App/a|" << false;
    QTest::newRow("another than the one that did not start")
        << "updater" << "b" << "updater:d" << "" << "updater|" << true;
}

void tst_UpdateRun::updaterGoesFirst()
{
    QFETCH(QString, program);
    QFETCH(QString, rejected);
    QFETCH(QString, downloads);
    QFETCH(QString, staged);
    QFETCH(QString, round);
    QFETCH(bool, bUpdaterOnly);
    const auto items = [](const QString &files) {
        QList<DownloadItem> list;
        for (const QString &file : files.split(' ', Qt::SkipEmptyParts)) {
            const QString path = file.section(':', 0, 0);
            list.append({path.left(path.lastIndexOf('/') + 1), path.section('/', -1), 1, true,
                         file.section(':', 1)});
        }
        return list;
    };
    const auto paths = [](const QList<DownloadItem> &list) {
        QStringList names;
        for (const DownloadItem &item : list)
            names << item.folder + item.fileName;
        return names.join(' ');
    };
    const RoundFiles files = PutUpdaterFirst(items(downloads), items(staged), program, rejected);
    QCOMPARE(paths(files.downloads) + '|' + paths(files.staged), round);
    QCOMPARE(files.bUpdaterOnly, bUpdaterOnly);
}

QTEST_GUILESS_MAIN(tst_UpdateRun)
#include "tst_updaterun.moc"

#include "app/updaterfiles.h"
#include "documents/patch/blocklist.h"
#include "downloader/downloader.h"
#include "downloader/staging/downloadpath.h"
#include "downloader/network/networkerrors.h"
#include "downloader/throttle/receivebuffers.h"
#include "downloader/throttle/tokenbucket.h"
#include "downloader/transferspeed.h"
#include "support/downloaderrunner.h"
#include "support/testhttpserver.h"
#include "support/testsupport.h"
#include "updaterconfig.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QMetaMethod>
#include <QNetworkProxy>
#include <QtTest>

#include <memory>

using TestSupport::DownloaderRunner;
using TestSupport::TestHttpServer;
using Fault = TestHttpServer::Fault;
using Ranges = TestHttpServer::Ranges;

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void interfaceKeepsItsOrder();
    void errorMessage_data();
    void errorMessage();
    void transferSpeed_data();
    void transferSpeed();
    void tokenBucket_data();
    void tokenBucket();
    void receiveBuffersFollowTheLimit_data();
    void receiveBuffersFollowTheLimit();
    void safePath_data();
    void safePath();

    void firstRequestFetchesReleaseNotes();
    void connectRotatesReleaseNotes_data();
    void connectRotatesReleaseNotes();
    void requestPathIsEncoded_data();
    void requestPathIsEncoded();
    void unusableServerIsReported_data();
    void unusableServerIsReported();
    void onlyWhatIsExpectedReplacesTheFile_data();
    void onlyWhatIsExpectedReplacesTheFile();
    void largeFileIsPatched_data();
    void largeFileIsPatched();
    void stalledTransferIsRequestedAgain();
    void heldBackTransferIsNoStall_data();
    void heldBackTransferIsNoStall();
    void passwordDemandStopsTheTransfer();
    void loginPresentsThePassword_data();
    void loginPresentsThePassword();
    void wrongPasswordIsAskedAgain();
    void proxyLoginIsAskedUntilRight();
    void unsafePathWritesNothing_data();
    void unsafePathWritesNothing();
    void byteReportsAddUpToTheFile_data();
    void byteReportsAddUpToTheFile();
    void failedWriteCountsNoBytes();
    void newRequestAbandonsTheRunningOne();
    void severalTransfersRunAtOnce_data();
    void severalTransfersRunAtOnce();
    void requestWaitingItsTurnIsNoStall();
    void stoppingMidTransferLeavesNothing();

private:
    void serve(const QString &path, const QByteArray &content);
    // A Downloader that has fetched the release notes, so that the test's own request comes next.
    std::unique_ptr<DownloaderRunner> startedRunner(const UpdaterConfig::RunSettings &settings = {});

    std::unique_ptr<QTemporaryDir> serverRoot;
    std::unique_ptr<QTemporaryDir> sandbox; // holds work/, the current directory of each test
    std::unique_ptr<TestSupport::ScopedCurrentDir> currentDir;
    std::unique_ptr<TestHttpServer> server;
};

namespace {

// Where a file of the manifest waits for the switch of its pass.
QString StagedCopy(const DownloadItem &item)
{
    return ConfigFiles::StagedCopyPath(item.folder + item.fileName, item.size, item.md5);
}

QByteArray Pattern(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    return data;
}

const QString notes = QStringLiteral("ReleaseNotes.xml");
const QByteArray notesContent = "<ReleaseNotes/>";

} // namespace

void tst_Downloader::init()
{
    serverRoot = std::make_unique<QTemporaryDir>();
    sandbox = std::make_unique<QTemporaryDir>();
    QVERIFY(serverRoot->isValid() && sandbox->isValid());
    QVERIFY(QDir(sandbox->path()).mkdir(QStringLiteral("work")));
    currentDir = std::make_unique<TestSupport::ScopedCurrentDir>(sandbox->filePath("work"));
    server = std::make_unique<TestHttpServer>(serverRoot->path());
    QVERIFY(server->isListening());
    // Rows named "https..." talk to the server over TLS.
    if (QByteArray(QTest::currentDataTag()).startsWith("https"))
        server->useCertificate(QStringLiteral("localhost"));
    serve(notes, notesContent);
}

void tst_Downloader::cleanup()
{
    server.reset();
    currentDir.reset();
    sandbox.reset();
    serverRoot.reset();
}

void tst_Downloader::serve(const QString &path, const QByteArray &content)
{
    QVERIFY(TestSupport::writeFile(serverRoot->filePath(path), content));
}

std::unique_ptr<DownloaderRunner> tst_Downloader::startedRunner(
    const UpdaterConfig::RunSettings &settings)
{
    auto runner = std::make_unique<DownloaderRunner>(server->updateServer(), settings);
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);
    [&] { QTRY_COMPARE(downloaded.count(), 1); }();
    return runner;
}

void tst_Downloader::interfaceKeepsItsOrder()
{
    // The design's signals and slots keep its order; others may stand between them.
    const QStringList design{"PasswordRequired()", "BytesDownloaded(int,float)",
                             "FileDownloaded(QString)", "NetworkError(QString,bool)", "Connect()",
                             "Reconnect()", "Login(QString)", "DownloadFile(QString,QString)",
                             "FilePart()", "FileError(QNetworkReply::NetworkError)",
                             "FileFinished(QNetworkReply*)", "UpdateDownloadInfo()",
                             "UpdateSpeedInfo()"};
    const QMetaObject &meta = Downloader::staticMetaObject;
    QStringList methods;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QString method = QString::fromLatin1(meta.method(i).methodSignature());
        if (design.contains(method))
            methods << method;
    }
    QCOMPARE(methods, design);
}

void tst_Downloader::errorMessage_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("no error") << 0 << "";
    for (int code : {1, 2, 3, 4})
        QTest::addRow("network %d", code) << code << QStringLiteral("网络错误 (%1)").arg(code);
    for (int code : {101, 102, 103, 104, 105, 199})
        QTest::addRow("proxy %d", code) << code << QStringLiteral("代理错误 (%1)").arg(code);
    QTest::newRow("password") << 204 << "授权需要密码";
    // The transport codes from 5 on belong to the server group, as does anything unknown.
    for (int code : {5, 6, 7, 8, 9, 10, 11, 99, 201, 202, 203, 205, 206, 207, 299, 301, 302, 399,
                     401, 402, 403, 499, 100, 200, 1000, -1})
        QTest::addRow("server %d", code) << code << QStringLiteral("服务器错误 (%1)").arg(code);
}

void tst_Downloader::errorMessage()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    QCOMPARE(NetworkErrorMessage(static_cast<QNetworkReply::NetworkError>(code)), message);
}

void tst_Downloader::transferSpeed_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<float>("speed");

    QTest::newRow("one MiB in a second") << qint64(1048576) << qint64(1000) << 1024.0f;
    QTest::newRow("nothing") << qint64(0) << qint64(1000) << 0.0f;
    QTest::newRow("half a second") << qint64(512) << qint64(500) << 1.0f;
    QTest::newRow("late timer") << qint64(3072) << qint64(1500) << 2.0f;
    QTest::newRow("over 2 GiB") << qint64(5) * 1024 * 1024 * 1024 << qint64(1000) << 5242880.0f;
    QTest::newRow("no time measured") << qint64(4096) << qint64(0) << 0.0f;
}

void tst_Downloader::transferSpeed()
{
    QFETCH(qint64, bytes);
    QFETCH(qint64, elapsedMs);
    QFETCH(float, speed);
    QCOMPARE(TransferSpeed(bytes, elapsedMs), speed);
}

void tst_Downloader::tokenBucket_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("changedRate");  // from changedAtMs on, if changedAtMs >= 0
    QTest::addColumn<qint64>("changedAtMs");
    QTest::addColumn<qint64>("takenAtMs");
    QTest::addColumn<qint64>("wanted");
    QTest::addColumn<qint64>("granted");

    constexpr qint64 mib = 1024 * 1024;
    QTest::newRow("no limit") << qint64(0) << qint64(0) << qint64(-1) << qint64(0) << 10 * mib
                              << 10 * mib;
    QTest::newRow("empty when set") << mib << qint64(0) << qint64(-1) << qint64(0) << mib
                                    << qint64(0);
    QTest::newRow("fills at the rate") << mib << qint64(0) << qint64(-1) << qint64(50) << mib
                                       << mib / 20;
    QTest::newRow("less wanted than held") << mib << qint64(0) << qint64(-1) << qint64(50)
                                           << qint64(1000) << qint64(1000);
    QTest::newRow("a pause bursts a tenth of a second at most")
        << mib << qint64(0) << qint64(-1) << qint64(5000) << mib << mib / 10;
    QTest::newRow("raised mid-transfer") << mib << 4 * mib << qint64(50) << qint64(100) << mib
                                         << (mib + 4 * mib) / 20;
    QTest::newRow("lowered mid-transfer: the smaller bucket")
        << 4 * mib << mib << qint64(1000) << qint64(1000) << mib << mib / 10;
    QTest::newRow("turned off mid-transfer")
        << mib << qint64(0) << qint64(10) << qint64(10) << 10 * mib << 10 * mib;
}

void tst_Downloader::tokenBucket()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, changedRate);
    QFETCH(qint64, changedAtMs);
    QFETCH(qint64, takenAtMs);
    QFETCH(qint64, wanted);
    QFETCH(qint64, granted);
    constexpr qint64 ms = 1'000'000;
    TokenBucket bucket;
    bucket.SetRate(rate, 0);
    if (changedAtMs >= 0)
        bucket.SetRate(changedRate, changedAtMs * ms);
    QCOMPARE(bucket.Take(wanted, takenAtMs * ms), granted);
    // What was taken is gone: a bucket that gave all it held has nothing more at that moment.
    if (bucket.Rate() > 0 && granted < wanted)
        QCOMPARE(bucket.Take(1, takenAtMs * ms), qint64(0));
}

void tst_Downloader::receiveBuffersFollowTheLimit_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<int>("expectedBytes");  // as set; the system reports twice as much
    QFile largest(QStringLiteral("/proc/sys/net/core/rmem_max"));
    const int largestBytes =
        largest.open(QIODevice::ReadOnly) ? largest.readAll().trimmed().toInt() : 0;
    QTest::newRow("a 24th of a second") << qint64(4800 * 1024) << 200 * 1024;
    QTest::newRow("a slow limit, no smaller than a floor") << qint64(100 * 1024) << 32 * 1024;
    QTest::newRow("lifted: the largest allowed") << qint64(0) << largestBytes;
}

void tst_Downloader::receiveBuffersFollowTheLimit()
{
#ifdef Q_OS_LINUX
    QFETCH(qint64, limit);
    QFETCH(int, expectedBytes);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected());
    ReceiveBuffers buffers;
    // A lifted limit follows one in force, as when the player turns it off.
    buffers.SetLimit(limit > 0 ? limit : 4096 * 1024);
    buffers.SetLimit(limit);
    QCOMPARE(client.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt(),
             2 * expectedBytes);
#else
    QSKIP("the system's buffers are sized on Linux only");
#endif
}

void tst_Downloader::safePath_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("safe");

    // The rules of a path are the manifest's (tst_manifestcheck); these are those of its two parts.
    QTest::newRow("top level") << "" << "ReleaseNotes.xml" << true;
    QTest::newRow("nested") << "App/Engine/" << "Core.pak" << true;
    QTest::newRow("parent when joined") << "." << "./x" << false;
    QTest::newRow("absolute file") << "App/" << "/etc/passwd" << false;
    QTest::newRow("empty file") << "App/" << "" << false;
    QTest::newRow("folder without its slash") << ".." << "x" << false;
}

void tst_Downloader::safePath()
{
    QFETCH(QString, dir);
    QFETCH(QString, file);
    QFETCH(bool, safe);
    QCOMPARE(IsSafeDownloadPath(dir, file), safe);
}

void tst_Downloader::firstRequestFetchesReleaseNotes()
{
    // A killed run left its staging file, here (where the system can) one that takes no byte: the
    // run starts afresh.
    TestSupport::makeFullDiskFile("Config/Download.part");
    TestSupport::MessageRecorder recorder;
    auto runner = startedRunner();

    QCOMPARE(runner->events(), QStringList{"FileDownloaded ReleaseNotes.xml"});
    QCOMPARE(TestSupport::readFile(notes), notesContent);
    QCOMPARE(TestSupport::filesBelow("."), QStringList{notes});
    QCOMPARE(runner->commits(), QStringList{notes + ' ' + TestSupport::md5Hex(notesContent)});
    QCOMPARE(server->requests().size(), 1);
    const TestHttpServer::Request request = server->requests().first();
    QCOMPARE(request.method + ' ' + request.target + ' ' + request.version,
             QByteArray("GET /qor_app/ReleaseNotes.xml HTTP/1.1"));
    QCOMPARE(request.header("Authorization"), QByteArray());
    // Whatever arrives is what is counted and digested: nothing is inflated on the way.
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
    QCOMPARE(request.header("Cache-Control"), QByteArray("no-cache"));

    QStringList lines;
    const QList<TestSupport::MessageRecorder::Message> messages = recorder.messages();
    for (const auto &message : messages) {
        if (message.text.startsWith("Downloader::")) {
            lines << message.text;
            QVERIFY(message.thread != QThread::currentThread());
        }
    }
    QCOMPARE(lines, QStringList({"Downloader::Connect", "Downloader::Login",
                                 "Downloader::DownloadFile", "Downloader::FileFinished"}));
}

void tst_Downloader::connectRotatesReleaseNotes_data()
{
    QTest::addColumn<bool>("previousNotes");
    QTest::newRow("previous notes") << true;
    QTest::newRow("no previous notes") << false;
}

void tst_Downloader::connectRotatesReleaseNotes()
{
    QFETCH(bool, previousNotes);
    if (previousNotes)
        QVERIFY(TestSupport::writeFile(notes, "previous"));
    QVERIFY(TestSupport::writeFile("ReleaseNotes.old", "older"));
    QVERIFY(TestSupport::writeFile("GameManifest.xml", "manifest"));
    // Nothing arrives: what is left is the rotation alone.
    server->requireBasicAuth(notes, UpdaterConfig::authUser, "secret");

    DownloaderRunner runner(server->url());
    QSignalSpy passwordRequired(&runner, &DownloaderRunner::PasswordRequired);
    QTRY_COMPARE(passwordRequired.count(), 1);

    // The refused transfer drops its staging file just after it has asked for the password.
    QTRY_COMPARE(TestSupport::filesBelow("."), previousNotes ? QStringList{"ReleaseNotes.old"} : QStringList());
    if (previousNotes)
        QCOMPARE(TestSupport::readFile("ReleaseNotes.old"), QByteArray("previous"));
}

void tst_Downloader::requestPathIsEncoded_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("target");

    QTest::newRow("space") << "App/" << "read me.txt" << QByteArray("/qor_app/App/read%20me.txt");
    QTest::newRow("percent") << "" << "100%.txt" << QByteArray("/qor_app/100%25.txt");
    QTest::newRow("non-ASCII") << "数据/" << "文件.pak"
                               << QByteArray("/qor_app/%E6%95%B0%E6%8D%AE/%E6%96%87%E4%BB%B6.pak");
    QTest::newRow("missing folders") << "App/Engine/" << "Core.pak"
                                     << QByteArray("/qor_app/App/Engine/Core.pak");
}

void tst_Downloader::requestPathIsEncoded()
{
    QFETCH(QString, dir);
    QFETCH(QString, file);
    QFETCH(QByteArray, target);
    serve(dir + file, "payload of " + file.toUtf8());
    auto runner = startedRunner();
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);

    emit runner->DownloadFile(dir, file);
    QTRY_COMPARE(downloaded.count(), 1);

    QCOMPARE(downloaded.first().first().toString(), file);
    QCOMPARE(server->requests().last().target, target);
    QCOMPARE(TestSupport::readFile(dir + file), "payload of " + file.toUtf8());
    QStringList expected{dir + file, notes};
    expected.sort();
    QCOMPARE(TestSupport::filesBelow("."), expected);
}

void tst_Downloader::unusableServerIsReported_data()
{
    QTest::addColumn<QString>("certificate"); // the server's; none for a closed port
    QTest::addColumn<QString>("reason");      // why the certificate is refused

    QTest::newRow("closed port") << QString() << QString();
    QTest::newRow("https, certificate for another host")
        << "other-host" << "The host name did not match any of the valid hosts for this certificate";
    QTest::newRow("https, expired certificate") << "expired" << "The certificate has expired";
    QTest::newRow("https, certificate from an unknown CA")
        << "untrusted" << "The issuer certificate of a locally looked up certificate could not be "
                          "found; No certificates could be verified";
}

void tst_Downloader::unusableServerIsReported()
{
    QFETCH(QString, certificate);
    QFETCH(QString, reason);
    UpdateServer target = server->updateServer();
    QTcpServer closed;
    if (certificate.isEmpty()) {
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        target.url.setPort(closed.serverPort());
        closed.close();
    } else {
        server->useCertificate(certificate);
    }

    DownloaderRunner runner(target);
    QSignalSpy downloaded(&runner, &DownloaderRunner::FileDownloaded);
    QTRY_COMPARE(downloaded.count(), 1);
    const QStringList failed =
        reason.isEmpty() ? QStringList{"NetworkError 网络错误 (1) heavy"}
                         : QStringList{"NetworkError Refused the certificate of localhost:"
                                           + QString::number(target.url.port()) + ": " + reason
                                           + " heavy",
                                       "NetworkError 服务器错误 (6) heavy"};
    QCOMPARE(runner.events(), failed + QStringList{"FileDownloaded ReleaseNotes.xml"});
    // A server that is not who it claims to be is never sent a request.
    QCOMPARE(server->requests().size(), 0);
    QCOMPARE(TestSupport::filesBelow("."), QStringList());
}

void tst_Downloader::onlyWhatIsExpectedReplacesTheFile_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("times");        // the requests that meet the fault; -1 for all
    QTest::addColumn<QString>("expected"); // "document", or what the manifest says of the file
    QTest::addColumn<bool>("previousCopy");
    // The NetworkError events, then lines that the log must hold; "<url>" is the server's.
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("replaced");

    const QString path = QStringLiteral("App/Game.pak");
    const QString hop = QStringLiteral("Redirected App/Game.pak to <url>/%1");
    const QString cut = QStringLiteral("NetworkError 网络错误 (2) heavy");
    const QString resumed = QStringLiteral("Resuming App/Game.pak from byte 50000");
    QTest::newRow("404") << Fault::NotFound << -1 << "document" << true
                         << QStringList{"NetworkError 服务器错误 (203) heavy"} << false;
    QTest::newRow("404, no copy") << Fault::NotFound << -1 << "document" << false
                                  << QStringList{"NetworkError 服务器错误 (203) heavy"} << false;
    QTest::newRow("500") << Fault::ServerError << -1 << "document" << true
                         << QStringList{"NetworkError 服务器错误 (401) heavy"} << false;
    QTest::newRow("cut short, the rest asked for") << Fault::CutShort << 1 << "100000 right" << true
                                                   << QStringList{cut, resumed} << true;
    QTest::newRow("cut short, a document") << Fault::CutShort << 1 << "document" << false
                                           << QStringList{cut, resumed} << true;
    QTest::newRow("as the manifest says") << Fault::None << -1 << "100000 right" << true
                                          << QStringList() << true;
    QTest::newRow("upper-case digest") << Fault::None << -1 << "100000 RIGHT" << true
                                       << QStringList() << true;
    QTest::newRow("no digest: taken as it comes") << Fault::None << -1 << "5 none" << true
                                                  << QStringList() << true;
    QTest::newRow("another body of the right size")
        << Fault::None << -1 << "100000 other" << true
        << QStringList{"Refused App/Game.pak: expected 100000 bytes with MD5 <other>, received "
                       "100000 bytes with MD5 <right>"}
        << false;
    QTest::newRow("a wrong copy, then the server's own") << Fault::Garbled << 1 << "100000 right"
                                                         << true << QStringList() << true;
    QTest::newRow("Content-Length past the size")
        << Fault::None << -1 << "1000 right" << true
        << QStringList{"Refused App/Game.pak: the server announced 100000 bytes, more than the 1000 "
                       "it may bring"}
        << false;
    QTest::newRow("endless body past the size")
        << Fault::Endless << -1 << "100000 right" << false
        << QStringList{"Refused App/Game.pak: the server sent more than the 100000 bytes it may "
                       "bring"}
        << false;
    QTest::newRow("endless document")
        << Fault::Endless << -1 << "document" << true
        << QStringList{"Refused App/Game.pak: the server sent more than the 300000 bytes it may "
                       "bring"}
        << false;
    QTest::newRow("redirect") << Fault::Redirect << -1 << "100000 right" << true
                              << QStringList{hop.arg("mirror/" + path)} << true;
    QStringList loop{"NetworkError 服务器错误 (10) heavy"};
    for (int i = 0; i < 5; ++i)
        loop << hop.arg("qor_app/" + path);
    loop << "Gave up on App/Game.pak: its redirects go round in a loop, back to "
            "<url>/qor_app/App/Game.pak";
    QTest::newRow("https, a redirect to plain HTTP")
        << Fault::RedirectToHttp << -1 << "100000 right" << true
        << QStringList{"NetworkError 服务器错误 (11) heavy"} << false;
    QTest::newRow("redirect loop") << Fault::RedirectLoop << -1 << "100000 right" << true << loop
                                   << false;
    QTest::newRow("a stall, then the rest") << Fault::Stall << 1 << "100000 right" << true
                                            << QStringList{resumed} << true;
    QTest::newRow("a stall, then the whole file")
        << Fault::Stall << 1 << "100000 right ignores ranges" << true
        << QStringList{resumed, "App/Game.pak: the server sent the whole file again (it ignores "
                                "ranges, or the file changed)"}
        << true;
    QTest::newRow("a stall, then the file changed")
        << Fault::Stall << 1 << "100000 changed" << true
        << QStringList{resumed, "App/Game.pak: the server sent the whole file again (it ignores "
                                "ranges, or the file changed)"}
        << true;
    QTest::newRow("a stall, then a range from elsewhere")
        << Fault::Stall << 1 << "100000 right starts elsewhere" << true
        << QStringList{resumed, "App/Game.pak: the server answered the range from byte 50000 with "
                                "one from byte 0; fetching it whole"}
        << true;
    const QStringList gaveUp{"Gave up on App/Game.pak: 3 attempts in a row brought no new data"};
    QTest::newRow("stalls without progress") << Fault::Stall << -1 << "100000 right ignores ranges"
                                             << true << gaveUp << false;
    QTest::newRow("a server that never answers") << Fault::Silent << -1 << "document" << true
                                                 << gaveUp << false;
    QTest::newRow("a trickle") << Fault::Trickle << -1 << "100000 right" << true << gaveUp << false;
    QTest::newRow("closed unanswered, again and again")
        << Fault::Hangup << 6 << "100000 right" << true
        << QStringList{"Asking again for App/Game.pak: the server did not take the request "
                       "(Connection closed)"}
        << true;
    QTest::newRow("closed unanswered, every time")
        << Fault::Hangup << -1 << "100000 right" << true << QStringList{cut} << false;
    QTest::newRow("gzip-encoded") << Fault::Gzip << -1 << "100000 right" << true << QStringList()
                                  << true;
    QTest::newRow("deflate-encoded") << Fault::Deflate << -1 << "100000 right" << true
                                     << QStringList() << true;
    QTest::newRow("gzip-encoded document") << Fault::Gzip << -1 << "document" << false
                                           << QStringList() << true;
    QTest::newRow("gzip bomb")
        << Fault::GzipBomb << -1 << "100000 right" << true
        << QStringList{"Refused App/Game.pak: the server sent more than the 100000 bytes it may "
                       "bring"}
        << false;
    QTest::newRow("an encoding not asked for")
        << Fault::Brotli << -1 << "100000 right" << true
        << QStringList{"Cannot read App/Game.pak: it came in an encoding that the updater cannot "
                       "read: br"}
        << false;
}

void tst_Downloader::onlyWhatIsExpectedReplacesTheFile()
{
    QFETCH(Fault, fault);
    QFETCH(int, times);
    QFETCH(QString, expected);
    QFETCH(bool, previousCopy);
    QFETCH(QStringList, errors);
    QFETCH(bool, replaced);
    const QString path = QStringLiteral("App/Game.pak");
    QByteArray content = Pattern(100000);
    serve(path, content);
    server->setFault(path, fault, times);
    if (expected.endsWith("ignores ranges"))
        server->setRanges(path, TestHttpServer::Ranges::Ignored);
    if (expected.endsWith("starts elsewhere"))
        server->setRanges(path, TestHttpServer::Ranges::WrongStart);
    if (previousCopy)
        QVERIFY(TestSupport::writeFile(path, "previous copy"));
    UpdaterConfig::RunSettings settings;
    settings.stallInterval = 300;
    settings.slowWindow = 500;
    settings.documentBytes = 300000;
    auto runner = startedRunner(settings);
    TestSupport::MessageRecorder recorder;
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);
    if (expected.contains("changed")) {
        // Between the first attempt and the next, the publisher replaces the file.
        content = Pattern(100001).mid(1);
        connect(server.get(), &TestHttpServer::requestReceived, this, [this, path, content] {
            if (server->requestCount("/qor_app/" + path.toUtf8()) == 2)
                serve(path, content);
        });
    }
    const QString right = TestSupport::md5Hex(content);
    const QString other = TestSupport::md5Hex("other");
    const bool bDocument = expected == "document";
    DownloadItem item{"App/", "Game.pak", expected.section(' ', 0, 0).toLongLong(), true,
                      expected.section(' ', 1, 1)};
    item.md5.replace("right", right).replace("RIGHT", right.toUpper()).replace("other", other)
        .replace("changed", right);
    if (!bDocument)
        emit runner->ExpectFiles({item});

    emit runner->DownloadFile("App/", "Game.pak");
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, 15000);

    const QString url = server->url().toString();
    QStringList expectedEvents{"FileDownloaded ReleaseNotes.xml"};
    const QStringList lines = recorder.texts();
    for (QString error : qAsConst(errors)) {
        error.replace("<url>", url).replace("<other>", other).replace("<right>", right);
        if (error.startsWith("NetworkError"))
            expectedEvents << error;
        else
            QVERIFY2(lines.contains(error), qPrintable(error));
    }
    expectedEvents << "FileDownloaded Game.pak";
    QCOMPARE(runner->events(), expectedEvents);
    QCOMPARE(runner->commits().size(), replaced ? 2 : 1);
    // A document goes to its place, a file of the manifest to its staged copy.
    const QString arrived = bDocument ? path : StagedCopy(item);
    const QByteArray previous = previousCopy ? QByteArray("previous copy") : QByteArray("<missing>");
    QCOMPARE(TestSupport::readFile(arrived), replaced ? content : bDocument ? previous : "<missing>");
    if (!bDocument)
        QCOMPARE(TestSupport::readFile(path), previous);
    QStringList files{notes};
    if (previousCopy || (replaced && bDocument))
        files << path;
    if (replaced && !bDocument)
        files << arrived;
    files.sort();
    QCOMPARE(TestSupport::filesBelow("."), files);
    // No cache may answer for what no digest vouches for, nor for a copy that came wrong.
    const QList<TestHttpServer::Request> requests = server->requests();
    const bool bVouched = !bDocument && !expected.endsWith("none");
    QCOMPARE(requests.at(1).header("Pragma"), bVouched ? QByteArray() : QByteArray("no-cache"));
    if (fault == Fault::Garbled)
        QCOMPARE(requests.last().header("Cache-Control"), QByteArray("no-cache"));
    // A resumed attempt asks for what it lacks, only from the same version of the file.
    for (const TestHttpServer::Request &request : requests) {
        if (!request.header("Range").isEmpty())
            QCOMPARE(request.header("If-Range"), '"' + TestSupport::md5Hex(Pattern(100000)).toLatin1() + '"');
    }
}

void tst_Downloader::largeFileIsPatched_data()
{
    // "right", "missing", "damaged", or served right and listed by another name or head length
    QTest::addColumn<QString>("listServed");
    QTest::addColumn<Fault>("fileFault");      // on the first request of the file
    QTest::addColumn<Ranges>("ranges");        // of the file; Ignored for the list too
    QTest::addColumn<bool>("bCutOff");         // the updater ends mid-patch and starts again
    QTest::addColumn<QString>("logged");       // the start of a line that the log holds

    const QString patched = QStringLiteral("Patched App/Big.pak: reused ");
    const QString whole = QStringLiteral("Fetching App/Big.pak whole: ");
    QTest::newRow("patched") << "right" << Fault::None << Ranges::Honoured << false << patched;
    QTest::newRow("a block arrives wrong")
        << "right" << Fault::Garbled << Ranges::Honoured << false
        << "App/Big.pak: the block at byte 0 arrived wrong; fetching it again";
    QTest::newRow("cut off, resumed at the next start")
        << "right" << Fault::Stall << Ranges::Honoured << true << "Resuming App/Big.pak from byte ";
    QTest::newRow("ranges ignored")
        << "right" << Fault::None << Ranges::Ignored << false
        << whole + "the server answered a range of BlockLists/";
    QTest::newRow("no block list") << "missing" << Fault::None << Ranges::Honoured << false
                                   << whole + "the server answered BlockLists/";
    QTest::newRow("damaged block list")
        << "damaged" << Fault::None << Ranges::Honoured << false
        << whole + "its block list BlockLists/big.blocks is damaged";
    QTest::newRow("blocks that keep arriving wrong")
        << "right" << Fault::None << Ranges::Garbled << false << whole + "its block at byte ";
    QTest::newRow("ranges that come back short again and again")
        << "right" << Fault::None << Ranges::Short << false
        << whole + "the server answered a range of App/Big.pak short 3 times";
    QTest::newRow("range requests that hang")
        << "right" << Fault::None << Ranges::Hung << false
        << whole + "3 requests of its ranges in a row brought no new data";
    QTest::newRow("range requests that trickle")
        << "right" << Fault::None << Ranges::Trickled << false
        << whole + "3 requests of its ranges in a row brought no new data";
    for (const QString name : {"../../etc/passwd", "file:///etc/passwd", "/qor_app/BlockLists/x"}) {
        QTest::newRow(qPrintable("a block list named " + name))
            << "named " + name << Fault::None << Ranges::Honoured << false
            << whole + "its block list " + name + " is not a path below the release";
    }
    // What the manifest's 2^64 - 1 reads as.
    for (const QString head : {"1099511627776", "0"}) {
        QTest::newRow(qPrintable("a block list head of " + head + " bytes"))
            << "head " + head << Fault::None << Ranges::Honoured << false
            << whole + "its block list's head of " + head + " bytes is not between 25 and";
    }
}

void tst_Downloader::largeFileIsPatched()
{
    QFETCH(QString, listServed);
    QFETCH(Fault, fileFault);
    QFETCH(Ranges, ranges);
    QFETCH(bool, bCutOff);
    QFETCH(QString, logged);
    // The new release inserts, overwrites and deletes a little of an 8 MB file, and at its start
    // unless a patch is to stage its first blocks before it is cut off.
    QRandomGenerator random(7);
    QByteArray old(8000000, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(old.data()), old.size() / 4);
    QByteArray content = old;
    content.insert(2000000, QByteArray(3000, 'i')).replace(4000000, 2000, QByteArray(2000, 'o'));
    content.remove(6000000, 1500);
    if (!bCutOff)
        content.prepend("new start");
    const QString path = QStringLiteral("App/Big.pak");
    serve(path, content);
    QVERIFY(TestSupport::writeFile(path, old));
    ContentChunks::Chunker chunker(ContentChunks::Chunker::BlockDigests
                                   | ContentChunks::Chunker::PieceDigests);
    chunker.Add(content.constData(), content.size());
    chunker.Finish();
    const QByteArray list = BlockListFormat::Write(content.size(), chunker.Blocks(), chunker.Pieces());
    const int headBytes = int(BlockListFormat::headerBytes
                              + BlockListFormat::blockEntryBytes * chunker.Blocks().size());
    if (listServed != "missing")
        serve("BlockLists/big.blocks", listServed == "damaged" ? list.left(headBytes - 1) + "x" : list);
    server->setFault(path, fileFault, bCutOff ? -1 : 1);
    server->setRanges(path, ranges);
    if (ranges == Ranges::Ignored)
        server->setRanges(QStringLiteral("BlockLists/big.blocks"), ranges);
    DownloadItem item{"App/", "Big.pak", content.size(), true, TestSupport::md5Hex(content)};
    item.blockList = QStringLiteral("BlockLists/big.blocks");
    item.blockListHead = headBytes;
    item.blockListSha256 = QCryptographicHash::hash(list.left(headBytes), QCryptographicHash::Sha256).toHex();
    if (listServed.startsWith("named "))
        item.blockList = listServed.mid(6);
    if (listServed.startsWith("head "))
        item.blockListHead = listServed.mid(5).toLongLong();
    // The test server reads and digests the whole file for every range, which takes a while under
    // Wine: no request may count as stalled meanwhile.
    UpdaterConfig::RunSettings settings;
    settings.stallInterval = 3000;
    // A trickle is told from a slow answer by the bytes of a whole window.
    if (ranges == Ranges::Trickled)
        settings.slowWindow = 2000;
    TestSupport::MessageRecorder recorder;
    if (bCutOff) {
        auto cut = startedRunner(settings);
        emit cut->ExpectFiles({item});
        emit cut->DownloadFile("App/", "Big.pak");
        QTRY_VERIFY(QFileInfo("Config/Download.part").size() > 0);
        cut.reset();
        server->setFault(path, Fault::None);
    }

    auto runner = startedRunner(settings);
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);
    emit runner->ExpectFiles({item});
    emit runner->DownloadFile("App/", "Big.pak");
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, 15000);

    QVERIFY(TestSupport::readFile(StagedCopy(item)) == content);
    const QStringList lines = recorder.texts();
    QVERIFY2(std::any_of(lines.cbegin(), lines.cend(),
                         [&logged](const QString &line) { return line.startsWith(logged); }),
             qPrintable(lines.join('\n')));
    // A patch asks for parts of the file only, far less than all of it; one that cannot be made
    // fetches it whole, once.
    const bool bPatched = !logged.startsWith("Fetching App/Big.pak whole: ");
    qint64 asked = 0;
    int wholeRequests = 0;
    for (const TestHttpServer::Request &request : server->requests()) {
        if (request.target != "/qor_app/App/Big.pak")
            continue;
        const QList<QByteArray> range = request.header("Range").mid(6).split('-');
        const bool bRange = range.size() == 2 && !range.at(1).isEmpty();
        wholeRequests += bRange ? 0 : 1;
        asked += bRange ? range.at(1).toLongLong() + 1 - range.at(0).toLongLong() : content.size();
    }
    QCOMPARE(wholeRequests, bPatched ? 0 : 1);
    QVERIFY2(bPatched ? asked < content.size() / 4 : asked >= content.size(), qPrintable(QString::number(asked)));
    // The byte reports count what was fetched, not what was made from the old copy.
    QVERIFY(bPatched ? runner->reportedBytes() < content.size() / 4
                     : runner->reportedBytes() >= content.size());
}

void tst_Downloader::stalledTransferIsRequestedAgain()
{
    const QByteArray content = Pattern(200000);
    serve("Big.bin", content);
    server->setFault("Big.bin", Fault::Stall, 1);
    auto runner = startedRunner();
    TestSupport::MessageRecorder recorder;
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);
    QElapsedTimer clock;
    clock.start();

    emit runner->DownloadFile("", "Big.bin");
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, 15000);

    // Timers may fire up to 5 % early.
    QVERIFY2(clock.elapsed() >= 4750, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server->requestCount("/qor_app/Big.bin"), 2);
    QCOMPARE(recorder.texts().count("Downloader::Reconnect"), 1);
    QCOMPARE(runner->events(),
             QStringList({"FileDownloaded ReleaseNotes.xml", "FileDownloaded Big.bin"}));
    QVERIFY(TestSupport::readFile("Big.bin") == content);
    QCOMPARE(TestSupport::filesBelow("."), QStringList({"Big.bin", notes}));
}

void tst_Downloader::heldBackTransferIsNoStall_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("closedWhilePaused");  // by the server, which had more to send
    // Three stall intervals without a byte.
    QTest::newRow("paused") << true << false;
    // What the buffers held when the connection went is asked for again: a small part of a file.
    QTest::newRow("paused, the connection closed") << true << true;
    // A slow window brings less than a trickle, if it were not the limit that holds it back.
    QTest::newRow("limited below a trickle") << false << false;
}

void tst_Downloader::heldBackTransferIsNoStall()
{
    QFETCH(bool, paused);
    QFETCH(bool, closedWhilePaused);
    const QByteArray content = Pattern(1200000);
    serve("Big.bin", content);
    UpdaterConfig::RunSettings settings = TestSupport::shortSettings();
    settings.slowWindowBytes = 2 * 1024 * 1024;
    auto runner = startedRunner(settings);
    TestSupport::MessageRecorder recorder;
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);

    emit runner->SetSpeedLimit(256 * 1024);
    emit runner->DownloadFile("", "Big.bin");
    qint64 staged = 0;
    if (paused) {
        QTRY_VERIFY(QFileInfo(ConfigFiles::StagingPath(0)).size() > 0);
        emit runner->SetPaused(true);
        // What the reply held as the pause came may still be taken; after that nothing is.
        QTest::qWait(settings.stallInterval);
        staged = QFileInfo(ConfigFiles::StagingPath(0)).size();
        QTest::qWait(3 * settings.stallInterval);
        QCOMPARE(QFileInfo(ConfigFiles::StagingPath(0)).size(), staged);
        QVERIFY(staged < content.size());
        if (closedWhilePaused)
            server->abortConnections();
        emit runner->SetPaused(false);
    }
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), 1, 30000);

    QCOMPARE(server->requestCount("/qor_app/Big.bin"), closedWhilePaused ? 2 : 1);
    if (closedWhilePaused)
        QVERIFY(server->requests().last().header("Range").mid(6).chopped(1).toLongLong() >= staged);
    QCOMPARE(recorder.texts().count("Downloader::Reconnect"), 0);
    QVERIFY(TestSupport::readFile("Big.bin") == content);
}

void tst_Downloader::passwordDemandStopsTheTransfer()
{
    server->requireBasicAuth(notes, UpdaterConfig::authUser, "secret");
    serve("Other.txt", "other");
    DownloaderRunner runner(server->url());
    QSignalSpy passwordRequired(&runner, &DownloaderRunner::PasswordRequired);
    QSignalSpy downloaded(&runner, &DownloaderRunner::FileDownloaded);
    QTRY_COMPARE(passwordRequired.count(), 1);

    // Whatever the interrupted transfer still had to say has been said before the next one ends.
    emit runner.DownloadFile("", "Other.txt");
    QTRY_COMPARE(downloaded.count(), 1);

    QCOMPARE(runner.events(), QStringList({"NetworkError 授权需要密码 heavy", "PasswordRequired",
                                           "FileDownloaded Other.txt"}));
    QCOMPARE(TestSupport::filesBelow("."), QStringList{"Other.txt"});
}

void tst_Downloader::loginPresentsThePassword_data()
{
    QTest::addColumn<bool>("unused");
    QTest::newRow("http") << true;
    QTest::newRow("https") << true;
}

void tst_Downloader::loginPresentsThePassword()
{
    server->requireBasicAuth(notes, UpdaterConfig::authUser, "secret");
    TestSupport::MessageRecorder recorder;
    DownloaderRunner runner(server->updateServer());
    QSignalSpy passwordRequired(&runner, &DownloaderRunner::PasswordRequired);
    QSignalSpy downloaded(&runner, &DownloaderRunner::FileDownloaded);
    QTRY_COMPARE(passwordRequired.count(), 1);

    emit runner.Login("secret");
    QTRY_COMPARE(downloaded.count(), 1);

    // Over TLS the log tells once what was negotiated with a server that has no HTTP/2.
    const QString negotiated = QStringLiteral("Talking to localhost:%1 over TLSv1.3 in HTTP/1.1")
                                   .arg(server->url().port());
    QCOMPARE(recorder.texts().count(negotiated), server->url().scheme() == "https" ? 1 : 0);
    QCOMPARE(downloaded.first().first().toString(), notes);
    QCOMPARE(TestSupport::readFile(notes), notesContent);
    QCOMPARE(server->requests().last().header("Authorization"),
             "Basic " + (QByteArray(UpdaterConfig::authUser) + ":secret").toBase64());
}

void tst_Downloader::wrongPasswordIsAskedAgain()
{
    server->requireBasicAuth(notes, UpdaterConfig::authUser, "secret");
    DownloaderRunner runner(server->url());
    QSignalSpy passwordRequired(&runner, &DownloaderRunner::PasswordRequired);
    QSignalSpy downloaded(&runner, &DownloaderRunner::FileDownloaded);
    QTRY_COMPARE(passwordRequired.count(), 1);
    const int requestsBefore = server->requests().size();

    emit runner.Login("wrong");
    QTRY_COMPARE(passwordRequired.count(), 2);

    // The wrong password is presented once, not in a loop.
    int presented = 0;
    const QList<TestHttpServer::Request> requests = server->requests().mid(requestsBefore);
    for (const TestHttpServer::Request &request : requests)
        presented += request.header("Authorization").isEmpty() ? 0 : 1;
    QCOMPARE(presented, 1);
    QCOMPARE(downloaded.count(), 0);

    emit runner.Login("secret");
    QTRY_COMPARE(downloaded.count(), 1);
    QCOMPARE(TestSupport::readFile(notes), notesContent);
}

void tst_Downloader::proxyLoginIsAskedUntilRight()
{
    server->requireProxyLogin("player", "secret");
    // Qt sends nothing for a loopback address through a proxy.
    const quint16 port = quint16(server->url().port());
    QNetworkProxy::setApplicationProxy({QNetworkProxy::HttpProxy, "127.0.0.1", port});
    const auto noProxy = qScopeGuard([] { QNetworkProxy::setApplicationProxy({}); });
    TestSupport::MessageRecorder recorder;
    DownloaderRunner runner(QUrl("http://updates.example"));
    QSignalSpy loginWanted(&runner, &DownloaderRunner::ProxyPasswordRequired);
    QSignalSpy downloaded(&runner, &DownloaderRunner::FileDownloaded);
    QTRY_COMPARE(loginWanted.count(), 1);
    const QString proxy = "127.0.0.1:" + QString::number(port);
    QCOMPARE(loginWanted.first().first().toString(), proxy);
    QVERIFY(recorder.texts().contains("The proxy at " + proxy + " refused the request for "
                                      + notes + ": Proxy requires authentication"));

    emit runner.ProxyLogin("player", "wrong");
    QTRY_COMPARE(loginWanted.count(), 2);
    emit runner.ProxyLogin("player", "secret");
    QTRY_COMPARE(downloaded.count(), 1);
    QCOMPARE(TestSupport::readFile(notes), notesContent);
}

void tst_Downloader::unsafePathWritesNothing_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");

    QTest::newRow("parent dir") << "../" << "escaped.txt";
    QTest::newRow("parent file") << "" << "../escaped.txt";
    QTest::newRow("absolute") << "<sandbox>/" << "escaped.txt";
    QTest::newRow("drive letter") << "C:/" << "escaped.txt";
    QTest::newRow("backslash") << "..\\" << "escaped.txt";
    QTest::newRow("control character") << "" << "escaped\n.txt";
}

void tst_Downloader::unsafePathWritesNothing()
{
    QFETCH(QString, dir);
    QFETCH(QString, file);
    dir.replace("<sandbox>", sandbox->path());
    serve("escaped.txt", "escaped");
    auto runner = startedRunner();
    const QStringList filesBefore = TestSupport::filesBelow(sandbox->path());
    TestSupport::MessageRecorder recorder;
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);

    emit runner->DownloadFile(dir, file);
    QTRY_COMPARE(downloaded.count(), 1);

    QCOMPARE(downloaded.first().first().toString(), file);
    QCOMPARE(TestSupport::filesBelow(sandbox->path()), filesBefore);
    QCOMPARE(server->requests().size(), 1);
    QCOMPARE(recorder.texts().filter("Refused").size(), 1);
}

void tst_Downloader::byteReportsAddUpToTheFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<Fault>("fault");
    QTest::newRow("40 pieces, 10 ms apart: several reports") << 160 * 1024 << Fault::Slow;
    QTest::newRow("smaller than a part, at once") << 20000 << Fault::None;
    QTest::newRow("a stall, then the rest") << 200000 << Fault::Stall;
}

void tst_Downloader::byteReportsAddUpToTheFile()
{
    QFETCH(int, size);
    QFETCH(Fault, fault);
    serve("Slow.bin", Pattern(size));
    server->setFault("Slow.bin", fault, 1);
    UpdaterConfig::RunSettings settings;
    settings.stallInterval = 300;
    auto runner = startedRunner(settings);
    const qint64 before = runner->reportedBytes();
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);

    emit runner->DownloadFile("", "Slow.bin");
    QTRY_COMPARE(downloaded.count(), 1);

    // Reported before the file is announced, every byte once.
    QCOMPARE(runner->reportedBytes() - before, qint64(size));
    QCOMPARE(TestSupport::readFile("Slow.bin"), Pattern(size));
}

void tst_Downloader::failedWriteCountsNoBytes()
{
    const QString path = QStringLiteral("App/Game.pak");
    // Half of it is enough to be taken from the reply before the end.
    serve(path, Pattern(300000));
    // Half of the file, then silence: only an abort ends this transfer before the stall timer.
    server->setFault(path, Fault::Stall);
    QVERIFY(TestSupport::writeFile(path, "previous copy"));
    auto runner = startedRunner();
    const qint64 before = runner->reportedBytes();
    TestSupport::MessageRecorder recorder;
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);
    if (!TestSupport::makeFullDiskFile("Config/Download.part"))
        QSKIP("This system has no device that refuses every write");

    emit runner->DownloadFile("App/", "Game.pak");
    QTRY_COMPARE(downloaded.count(), 1);

    QCOMPARE(runner->events(),
             QStringList({"FileDownloaded ReleaseNotes.xml", "FileDownloaded Game.pak"}));
    QCOMPARE(recorder.texts().filter("Cannot write"),
             QStringList{"Cannot write Config/Download.part for App/Game.pak: No space left on device"});
    QCOMPARE(runner->reportedBytes(), before);
    QCOMPARE(TestSupport::readFile(path), QByteArray("previous copy"));
    QCOMPARE(TestSupport::filesBelow("."), QStringList({path, notes}));
    QCOMPARE(server->requestCount("/qor_app/App/Game.pak"), 1);
}

void tst_Downloader::newRequestAbandonsTheRunningOne()
{
    serve("Stuck.bin", Pattern(100000));
    server->setFault("Stuck.bin", Fault::Stall);
    serve("Next.txt", "next");
    // One transfer at a time: the window has moved on.
    UpdaterConfig::RunSettings settings;
    settings.transfers = 1;
    auto runner = startedRunner(settings);
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);

    emit runner->DownloadFile("", "Stuck.bin");
    QTRY_COMPARE(server->requestCount("/qor_app/Stuck.bin"), 1);
    emit runner->DownloadFile("", "Next.txt");
    QTRY_COMPARE(downloaded.count(), 1);

    QCOMPARE(runner->events(),
             QStringList({"FileDownloaded ReleaseNotes.xml", "FileDownloaded Next.txt"}));
    QCOMPARE(TestSupport::filesBelow("."), QStringList({"Next.txt", notes}));
    QCOMPARE(runner->commits().mid(1), QStringList{"Next.txt " + TestSupport::md5Hex("next")});
}

void tst_Downloader::severalTransfersRunAtOnce_data()
{
    QTest::addColumn<Fault>("fault"); // met once by the first of the two files
    QTest::addColumn<QStringList>("arrived");

    QTest::newRow("one failing") << Fault::NotFound << QStringList{"Other.bin"};
    QTest::newRow("a stall in one") << Fault::Stall << QStringList{"Other.bin", "Stuck.bin"};
}

void tst_Downloader::severalTransfersRunAtOnce()
{
    QFETCH(Fault, fault);
    QFETCH(QStringList, arrived);
    serve("Stuck.bin", Pattern(100000));
    server->setFault("Stuck.bin", fault, 1);
    serve("Other.bin", Pattern(5000));
    UpdaterConfig::RunSettings settings;
    settings.transfers = 2;
    settings.stallInterval = 300;
    auto runner = startedRunner(settings);
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);

    emit runner->DownloadFile("", "Stuck.bin");
    emit runner->DownloadFile("", "Other.bin");
    QTRY_COMPARE(downloaded.count(), 2);

    // Each is announced once, whatever became of the other.
    QStringList announced = runner->events().mid(1).filter("FileDownloaded");
    announced.sort();
    QCOMPARE(announced, QStringList({"FileDownloaded Other.bin", "FileDownloaded Stuck.bin"}));
    QStringList present = arrived;
    present << notes;
    present.sort();
    QCOMPARE(TestSupport::filesBelow("."), present);
    QCOMPARE(TestSupport::readFile("Other.bin"), Pattern(5000));
}

void tst_Downloader::requestWaitingItsTurnIsNoStall()
{
    // One access manager opens six connections to the server: the seventh request waits until one
    // of six slow answers is done, well past the stall interval. The answers bring 4 KiB every
    // 10 ms; the stall interval leaves room for the test's own thread, which serves them, to be
    // held up on a busy machine.
    const int connections = 6;
    UpdaterConfig::RunSettings settings;
    settings.connectionPools = 1;
    settings.transfers = connections + 1;
    settings.stallInterval = 1000;
    // Sent in a row on a busy connection, the request would not wait for a free one.
    settings.bPipelining = false;
    const QByteArray slowContent = Pattern(1024 * 1024); // in 256 pieces, over at least 2.5 s
    for (int i = 0; i < connections; ++i) {
        const QString name = QStringLiteral("Slow%1.bin").arg(i);
        serve(name, slowContent);
        server->setFault(name, Fault::Slow);
    }
    serve("Waiting.bin", Pattern(5000));
    auto runner = startedRunner(settings);
    TestSupport::MessageRecorder recorder;
    QSignalSpy downloaded(runner.get(), &DownloaderRunner::FileDownloaded);
    for (int i = 0; i < connections; ++i)
        emit runner->DownloadFile("", QStringLiteral("Slow%1.bin").arg(i));
    const auto slowRequests = [this] {
        int count = 0;
        for (const TestHttpServer::Request &request : server->requests())
            count += request.target.startsWith("/qor_app/Slow");
        return count;
    };
    // Every connection carries a slow answer before the last request is made.
    QTRY_COMPARE(slowRequests(), connections);
    QElapsedTimer sinceAsked;
    qint64 waited = -1;
    QObject watch;
    connect(server.get(), &TestHttpServer::requestReceived, &watch, [&](const QByteArray &target) {
        if (target == "/qor_app/Waiting.bin")
            waited = sinceAsked.elapsed();
    });
    sinceAsked.start();
    emit runner->DownloadFile("", "Waiting.bin");
    QTRY_COMPARE_WITH_TIMEOUT(downloaded.count(), connections + 1, 60000);

    // It did wait its turn, past the stall interval.
    QVERIFY2(waited > settings.stallInterval, qPrintable(QString::number(waited)));
    QCOMPARE(recorder.texts().filter("Downloader::Reconnect"), QStringList());
    // The notes and each file, once.
    QCOMPARE(server->requests().size(), 1 + connections + 1);
    QCOMPARE(TestSupport::readFile("Waiting.bin"), Pattern(5000));
    for (int i = 0; i < connections; ++i)
        QCOMPARE(TestSupport::readFile(QStringLiteral("Slow%1.bin").arg(i)), slowContent);
}

void tst_Downloader::stoppingMidTransferLeavesNothing()
{
    serve("Stuck.bin", Pattern(300000));
    server->setFault("Stuck.bin", Fault::Stall);
    auto runner = startedRunner();
    const qint64 before = runner->reportedBytes();

    emit runner->DownloadFile("", "Stuck.bin");
    // Half of the file has been written to disk when it is reported.
    QTRY_VERIFY(runner->reportedBytes() > before);

    runner.reset();
    QCOMPARE(TestSupport::filesBelow("."), QStringList{notes});
}

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_downloader.moc"

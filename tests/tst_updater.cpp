// The main window as it is built: form, status line, About box, worker thread and shutdown, and one
// whole run as the player sees it.

#include "support/testhttpserver.h"
#include "support/testrelease.h"
#include "support/testsupport.h"

#include "dialogs/about.h"
#include "downloader/downloader.h"
#include "downloader/downloaderthread.h"
#include "ui_updater.h"
#include "app/updaterfiles.h"
#include "updater/downloadcontrol/speedlimitsetting.h"
#include "updater/richtextresources.h"
#include "updater/statustext.h"
#include "updater/updater.h"

#include <QMenu>
#include <QToolButton>
#include <QtTest>

class tst_Updater : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void windowIsFixedAndTitled();
    void stackingShowsOverlayWithButtonAndStatusOnTop();
    void widgetSettings();
    void picturesAreLoaded();
    void notesStandOutThroughTheOverlay();

    void statusLineHtml_data();
    void statusLineHtml();
    void statusLineAfterConstruction();
    void richTextLoadsOnlyEmbeddedPictures_data();
    void richTextLoadsOnlyEmbeddedPictures();

    void speedLimitSetting_data();
    void speedLimitSetting();
    void aboutDialogIsShownOnceHoweverOftenAsked();
    void downloaderLivesOnTheWorkerThread();
    void logWritesOneQuotedLineAndChangesNothing();
    void destructionRemovesMarkerAndStopsTheWorker();
    void closingMidTransferEndsPromptlyAndLeavesNothing();
    void freshInstallEndsReadyAndLaunches();

private:
    // The window's form, found by the names of its widgets.
    Ui::Updater form() const;

    QTemporaryDir folder;
    std::unique_ptr<TestSupport::ScopedCurrentDir> inFolder;
    TestSupport::SilentServer silentServer;
    std::unique_ptr<Updater> updater;
};

Ui::Updater tst_Updater::form() const
{
    Ui::Updater found;
    found.centralWidget = updater->centralWidget();
    found.downloadProgress = updater->findChild<QProgressBar *>("downloadProgress");
    found.userInformation = updater->findChild<QLabel *>("userInformation");
    found.releaseNotes = updater->findChild<QTextBrowser *>("releaseNotes");
    found.streamedMessages = updater->findChild<QTextBrowser *>("streamedMessages");
    found.launchGame = updater->findChild<QPushButton *>("launchGame");
    found.about = updater->findChild<QPushButton *>("about");
    found.image = updater->findChild<QLabel *>("image");
    found.image_2 = updater->findChild<QLabel *>("image_2");
    found.downloadControl = updater->findChild<QToolButton *>("downloadControl");
    return found;
}

void tst_Updater::initTestCase()
{
    QVERIFY(folder.isValid());
    // The window writes its markers relative to the current directory.
    inFolder = std::make_unique<TestSupport::ScopedCurrentDir>(folder.path());
    QVERIFY(QDir().mkpath("Config"));
}

void tst_Updater::cleanupTestCase()
{
    inFolder.reset();
}

void tst_Updater::init()
{
    updater = std::make_unique<Updater>(silentServer.url(), nullptr);
    updater->show();
    QVERIFY(QTest::qWaitForWindowExposed(updater.get()));
}

void tst_Updater::cleanup()
{
    updater.reset();
}

void tst_Updater::windowIsFixedAndTitled()
{
    QCOMPARE(updater->windowTitle(), QStringLiteral("更新"));
    QCOMPARE(updater->objectName(), QStringLiteral("Updater"));
    QCOMPARE(updater->size(), QSize(800, 576));
    QCOMPARE(updater->minimumSize(), QSize(800, 576));
    QCOMPARE(updater->maximumSize(), QSize(800, 576));
    QCOMPARE(updater->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(updater->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    updater->resize(1024, 768);
    QCOMPARE(updater->size(), QSize(800, 576));
    QCOMPARE(updater->centralWidget(), form().centralWidget);
}

void tst_Updater::stackingShowsOverlayWithButtonAndStatusOnTop()
{
    // Children are painted in list order: the first lies at the bottom.
    QStringList stacking;
    for (const QObject *child : form().centralWidget->children()) {
        if (child->isWidgetType())
            stacking << child->objectName();
    }
    const QStringList expected{"image", "downloadProgress", "releaseNotes", "streamedMessages",
                               "about", "image_2", "launchGame", "userInformation",
                               "downloadControl"};
    QCOMPARE(stacking, expected);

    // What the user clicks at the launch button and the status line are those two; the overlay lets
    // clicks through to the notes and the About button below it.
    QCOMPARE(form().centralWidget->childAt(400, 530), form().launchGame);
    QCOMPARE(form().centralWidget->childAt(100, 544), form().userInformation);
    QCOMPARE(form().centralWidget->childAt(700, 544), form().downloadControl);
    QVERIFY(form().releaseNotes->isAncestorOf(form().centralWidget->childAt(300, 200)));
    QCOMPARE(form().centralWidget->childAt(620, 20), form().about);
    QCOMPARE(form().centralWidget->childAt(400, 566), form().downloadProgress);
}

void tst_Updater::widgetSettings()
{
    const Ui::Updater ui = form();
    QVERIFY(!ui.launchGame->isEnabled());
    QVERIFY(ui.launchGame->isDefault());
    QVERIFY(ui.launchGame->autoDefault());
    QVERIFY(!ui.launchGame->isFlat());
    QCOMPARE(ui.launchGame->text(), QStringLiteral("启动"));
    QCOMPARE(ui.launchGame->font().pointSize(), 16);
    QVERIFY(ui.launchGame->font().bold());
    QCOMPARE(ui.launchGame->iconSize(), QSize(35, 35));

    QVERIFY(ui.about->isEnabled());
    QCOMPARE(ui.about->text(), QStringLiteral("关于..."));
    QCOMPARE(ui.about->font().pointSize(), 8);
    QCOMPARE(ui.about->iconSize(), QSize(15, 15));

    QCOMPARE(ui.downloadProgress->value(), 0);
    QCOMPARE(ui.downloadProgress->minimum(), 0);
    QCOMPARE(ui.downloadProgress->maximum(), 100);
    QVERIFY(!ui.downloadProgress->isTextVisible());
    QCOMPARE(ui.downloadProgress->focusPolicy(), Qt::NoFocus);

    QCOMPARE(ui.userInformation->font().pointSize(), 8);
    QVERIFY(!ui.userInformation->font().bold());
    QCOMPARE(ui.userInformation->textFormat(), Qt::AutoText);

    for (const QTextBrowser *browser : {ui.releaseNotes, ui.streamedMessages}) {
        QCOMPARE(browser->font().pointSize(), 10);
        QCOMPARE(browser->frameShape(), QFrame::NoFrame);
        QCOMPARE(browser->lineWidth(), 0);
        QCOMPARE(browser->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(browser->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(browser->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    }

    QVERIFY(ui.image->text().isEmpty());
    QVERIFY(ui.image_2->text().isEmpty());
    QVERIFY(!ui.image->hasScaledContents());
    QVERIFY(ui.image_2->hasScaledContents());
    QCOMPARE(ui.image->font().styleStrategy(), QFont::PreferAntialias);
    QCOMPARE(ui.image_2->font().styleStrategy(), QFont::PreferAntialias);
}

void tst_Updater::picturesAreLoaded()
{
    QVERIFY(!updater->windowIcon().isNull());
    QVERIFY(!form().about->icon().isNull());
    QVERIFY(!form().launchGame->icon().isNull());
    QCOMPARE(form().image->pixmap(Qt::ReturnByValue).size(), QSize(800, 570));
    QCOMPARE(form().image_2->pixmap(Qt::ReturnByValue).size(), QSize(1080, 751));
}

void tst_Updater::notesStandOutThroughTheOverlay()
{
    // The window grabbed without the notes, then with notes all of one colour. Black, the markup's
    // titles, stands out on the header only; the text's light grey everywhere.
    form().about->hide();
    form().releaseNotes->hide();
    const QImage ground = updater->grab().toImage();
    form().releaseNotes->show();
    for (const QColor &textColour : {QColor(Qt::black), QColor(202, 202, 202)}) {
        QPalette filled = form().releaseNotes->palette();
        filled.setColor(QPalette::Base, textColour);
        form().releaseNotes->setPalette(filled);
        const QImage text = updater->grab().toImage();
        for (int y = 10; y <= (textColour == Qt::black ? 86 : 370); ++y) {
            for (int x = 10; x <= 680; ++x) {
                const int apart = qAbs(qGray(text.pixel(x, y)) - qGray(ground.pixel(x, y)));
                QVERIFY2(apart >= 64, qPrintable(QStringLiteral("%1 at %2,%3").arg(apart).arg(x).arg(y)));
            }
        }
    }
}

void tst_Updater::statusLineHtml_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("html");

    QTest::newRow("no version") << "" << "下载中..."
                                << "<b><font color=\"black\">下载中...</font></b>";
    QTest::newRow("with version")
        << "1.2.3" << "准备启动!"
        << "<b><font color=\"black\">1.2.3</font></b> | <b><font color=\"black\">准备启动!</font></b>";
    QTest::newRow("empty message") << "" << "" << "<b><font color=\"black\"></font></b>";
    QTest::newRow("empty message after version")
        << "v2" << "" << "<b><font color=\"black\">v2</font></b> | <b><font color=\"black\"></font></b>";
    QTest::newRow("markup is not escaped")
        << "<i>v3</i>" << "a <u>b</u> & c"
        << "<b><font color=\"black\"><i>v3</i></font></b> | <b><font color=\"black\">a <u>b</u> & c</font></b>";
    QTest::newRow("an embedded picture in the version")
        << "v4<img src=\":/data/Res/Launch.png\">" << ""
        << "<b><font color=\"black\">v4<img src=\":/data/Res/Launch.png\"></font></b> | "
           "<b><font color=\"black\"></font></b>";
    QTest::newRow("a version that names a device")
        << "<i>v5 &amp; 6</i><img src=\"/dev/zero\">" << ""
        << "<b><font color=\"black\">v5 &amp; 6</font></b> | <b><font color=\"black\"></font></b>";
}

void tst_Updater::statusLineHtml()
{
    QFETCH(QString, version);
    QFETCH(QString, message);
    QFETCH(QString, html);
    QCOMPARE(StatusLineHtml(version, message), html);
}

void tst_Updater::statusLineAfterConstruction()
{
    QCOMPARE(form().userInformation->text(),
             QStringLiteral("<b><font color=\"black\">下载更新公告</font></b>"));

    // The notes of the previous run name the installed version, which leads every later status.
    updater.reset();
    QVERIFY(TestSupport::writeFile("ReleaseNotes.xml", "<R><Version>0.9</Version></R>"));
    QTemporaryDir served;
    QVERIFY(TestSupport::writeFile(served.filePath("ReleaseNotes.xml"), "<R><Version>1.0</Version></R>"));
    TestSupport::TestHttpServer server(served.path());
    updater = std::make_unique<Updater>(server.url(), nullptr);
    // Without a manifest on the server, the run ends there.
    QTRY_COMPARE(form().userInformation->text(),
                 QStringLiteral("<b><font color=\"black\">0.9</font></b> | "
                                "<b><font color=\"black\">更新失败</font></b>"));
    updater->SetUserMessage(QStringLiteral("检查本地文件"));
    QCOMPARE(form().userInformation->text(),
             QStringLiteral("<b><font color=\"black\">0.9</font></b> | "
                            "<b><font color=\"black\">检查本地文件</font></b>"));
    updater.reset();
    for (const char *notes : {"ReleaseNotes.xml", "ReleaseNotes.old"})
        QFile::remove(notes);
}

// What the server's HTML names is loaded only where it is one of the program's own pictures: a
// local picture of 200 x 300 pixels or a style sheet of 300-pixel letters would make the notes and
// the status line that tall.
void tst_Updater::richTextLoadsOnlyEmbeddedPictures_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("bEmbedded");

    QImage picture(200, 300, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(folder.filePath("picture.png")));
    QVERIFY(TestSupport::writeFile(folder.filePath("tall.css"), "p { font-size: 300px; }"));
    const QString path = folder.filePath("picture.png");
    const QString style = QUrl::fromLocalFile(folder.filePath("tall.css")).toString();
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));

    QTest::newRow("a picture by its path") << "<img src=\"" + path + "\">" << false;
    QTest::newRow("a picture by its URL")
        << "<img src=\"" + QUrl::fromLocalFile(path).toString() + "\">" << false;
    QTest::newRow("a picture in a data URL")
        << "<img src=\"data:image/png;base64," + QString::fromLatin1(png.toBase64()) + "\">"
        << false;
    QTest::newRow("a table's background")
        << "<table background=\"" + path + "\"><tr><td>x</td></tr></table>" << false;
    QTest::newRow("an imported style sheet")
        << "<style>@import url(" + style + ");</style><p>x</p>" << false;
    QTest::newRow("an embedded picture") << "<img src=\":/data/Res/Icon.png\">" << true;
}

void tst_Updater::richTextLoadsOnlyEmbeddedPictures()
{
    QFETCH(QString, html);
    QFETCH(bool, bEmbedded);
    QTextBrowser *notes = form().releaseNotes;
    notes->setHtml(html);
    QLabel status;
    status.setText(StatusLineHtml(html, QString()));
    for (const qreal height : {notes->document()->size().height(), qreal(status.sizeHint().height())})
        QVERIFY2(bEmbedded ? height >= 256 : height < 200, qPrintable(QString::number(height)));
    const auto *document = qobject_cast<const EmbeddedOnlyDocument *>(notes->document());
    QVERIFY(document);
    QCOMPARE(document->RefusedNames().isEmpty(), bEmbedded);
    // The label draws what it is given: no name of a file or of data is left in it.
    QCOMPARE(status.text().contains(folder.path()) || status.text().contains("data:"), false);
    QCOMPARE(status.text().contains(":/data/Res/Icon.png"), bEmbedded);
    // The notes' links lead nowhere, to a local file least of all.
    QVERIFY(!notes->openLinks());
}

void tst_Updater::speedLimitSetting_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qint64>("kibPerSecond");
    QTest::addColumn<bool>("ignored");
    QTest::addColumn<QString>("shown");

    QTest::newRow("none") << QByteArray() << qint64(0) << false << "不限速";
    QTest::newRow("a step") << QByteArray("[Download]\nSpeedLimit=4096\n") << qint64(4096) << false
                            << "限速 4 MB/s";
    QTest::newRow("by hand, between steps") << QByteArray("[Download]\nSpeedLimit = 1536 \n")
                                            << qint64(1536) << false << "限速 1.5 MB/s";
    QTest::newRow("zero") << QByteArray("[Download]\nSpeedLimit=0\n") << qint64(0) << false
                          << "不限速";
    QTest::newRow("not a number") << QByteArray("[Download]\nSpeedLimit=fast\n") << qint64(0)
                                  << true << "不限速";
    QTest::newRow("negative") << QByteArray("[Download]\nSpeedLimit=-5\n") << qint64(0) << true
                              << "不限速";
}

void tst_Updater::speedLimitSetting()
{
    QFETCH(QByteArray, file);
    QFETCH(qint64, kibPerSecond);
    QFETCH(bool, ignored);
    QFETCH(QString, shown);
    updater.reset();
    QFile::remove(ConfigFiles::settings);
    if (!file.isEmpty())
        QVERIFY(TestSupport::writeFile(ConfigFiles::settings, file));
    const SpeedLimitSetting read = ReadSpeedLimit(ConfigFiles::settings);
    QCOMPARE(read.kibPerSecond, kibPerSecond);
    QCOMPARE(bool(read.problem), ignored);

    // The window starts with it, and keeps what the player chooses for the next start.
    init();
    QCOMPARE(form().downloadControl->text(), shown);
    const QList<QAction *> choices = form().downloadControl->menu()->actions();
    const auto eightMegabytes = std::find_if(choices.cbegin(), choices.cend(), [](QAction *action) {
        return action->text() == "8 MB/s";
    });
    QVERIFY(eightMegabytes != choices.cend());
    (*eightMegabytes)->trigger();
    QCOMPARE(form().downloadControl->text(), QStringLiteral("限速 8 MB/s"));
    QCOMPARE(ReadSpeedLimit(ConfigFiles::settings).kibPerSecond, qint64(8192));
    QFile::remove(ConfigFiles::settings);
}

void tst_Updater::aboutDialogIsShownOnceHoweverOftenAsked()
{
    QCOMPARE(updater->findChildren<About *>().size(), 1);
    About *about = updater->findChild<About *>();
    QVERIFY(!about->isVisible());

    form().about->click();
    QVERIFY(QTest::qWaitForWindowExposed(about));
    form().about->click();
    updater->AboutMe();

    QCOMPARE(updater->findChildren<About *>().size(), 1);
    int visibleDialogs = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        visibleDialogs += qobject_cast<About *>(window) && window->isVisible();
    QCOMPARE(visibleDialogs, 1);
    QCOMPARE(about->windowModality(), Qt::WindowModal);

    // Closing hides it; asking again shows the same dialog.
    QVERIFY(about->close());
    QVERIFY(!about->isVisible());
    updater->AboutMe();
    QVERIFY(about->isVisible());
    QCOMPARE(updater->findChild<About *>(), about);
}

void tst_Updater::downloaderLivesOnTheWorkerThread()
{
    const DownloaderThread *downloaderThread = updater->findChild<DownloaderThread *>();
    QVERIFY(downloaderThread);
    QThread *worker = downloaderThread->workerThread();
    QTRY_VERIFY(worker->isRunning());
    QVERIFY(worker != QThread::currentThread());
    Downloader *downloader = downloaderThread->downloader();
    QCOMPARE(downloader->thread(), worker);
    QVERIFY(!downloader->parent());

    // A signal emitted on the worker thread is handled by the window on the GUI thread.
    TestSupport::MessageRecorder recorder;
    QThread *emittingThread = nullptr;
    QMetaObject::invokeMethod(downloader, [downloader, &emittingThread] {
        emittingThread = QThread::currentThread();
        emit downloader->NetworkError(QStringLiteral("网络错误 (3)"), true);
    });
    QTRY_VERIFY(recorder.texts().contains(QStringLiteral("\"网络错误 (3)\"")));
    QCOMPARE(emittingThread, worker);
    for (const auto &message : recorder.messages()) {
        if (message.text == QStringLiteral("\"网络错误 (3)\""))
            QCOMPARE(message.thread, QThread::currentThread());
    }
}

void tst_Updater::logWritesOneQuotedLineAndChangesNothing()
{
    const QString statusBefore = form().userInformation->text();
    for (const bool bIsHeavy : {false, true}) {
        TestSupport::MessageRecorder recorder;
        updater->Log(QStringLiteral("App/QOR.exe"), bIsHeavy);
        QCOMPARE(recorder.texts().count(QStringLiteral("\"App/QOR.exe\"")), 1);
    }
    QCOMPARE(form().userInformation->text(), statusBefore);
}

void tst_Updater::destructionRemovesMarkerAndStopsTheWorker()
{
    QVERIFY(QFile::exists("Config/UU_Lock.setting"));
    QVERIFY(QFile::exists("Config/UU_Accepted.setting"));

    const DownloaderThread *downloaderThread = updater->findChild<DownloaderThread *>();
    QPointer<QThread> worker = downloaderThread->workerThread();
    QTRY_VERIFY(worker->isRunning());
    std::atomic<QThread *> downloaderDiedOn{nullptr};
    Downloader *downloader = downloaderThread->downloader();
    connect(downloader, &QObject::destroyed, downloader,
            [&downloaderDiedOn] { downloaderDiedOn = QThread::currentThread(); },
            Qt::DirectConnection);
    QThread *const workerThread = worker.data();

    updater.reset();

    QVERIFY(!QFile::exists("Config/UU_Lock.setting"));
    QVERIFY(QFile::exists("Config/UU_Accepted.setting"));
    QVERIFY(worker.isNull());
    QCOMPARE(downloaderDiedOn.load(), workerThread);
    // Whatever the worker's end queued for the window must not run on freed objects.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void tst_Updater::closingMidTransferEndsPromptlyAndLeavesNothing()
{
    updater.reset();
    QTemporaryDir served;
    QFile notes(served.filePath("ReleaseNotes.xml"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write(QByteArray(256 * 1024, 'n'));
    notes.close();
    TestSupport::TestHttpServer server(served.path());
    server.setFault("ReleaseNotes.xml", TestSupport::TestHttpServer::Fault::Stall);
    const QStringList filesBefore = TestSupport::filesBelow(".");

    auto window = std::make_unique<Updater>(server.url(), nullptr);
    window->show();
    // The server sends the headers and half of the notes, then nothing more.
    QTRY_COMPARE(server.requestCount("/qor_app/ReleaseNotes.xml"), 1);

    QElapsedTimer closing;
    closing.start();
    window->close();
    window.reset();
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed()) + " ms"));

    QVERIFY(!QFile::exists("Config/UU_Lock.setting"));
    // Neither the notes nor their staging file under Config/ are left behind.
    QCOMPARE(TestSupport::filesBelow("."), filesBefore);
}

void tst_Updater::freshInstallEndsReadyAndLaunches()
{
    updater.reset();
    QTemporaryDir serverFolder;
    QTemporaryDir installFolder;
    TestSupport::ScopedCurrentDir inInstallFolder(installFolder.path());
    QVERIFY(QDir().mkpath("Config"));
    const TestSupport::TestRelease release = TestSupport::TestRelease::sample();
    QVERIFY(release.publish(serverFolder.path()));
    TestSupport::TestHttpServer server(serverFolder.path());
    TestSupport::MessageRecorder recorder;
    updater = std::make_unique<Updater>(server.url(), nullptr);
    updater->show();
    QVERIFY(QTest::qWaitFor([this] { return form().launchGame->isEnabled(); }, 30000));

    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QCOMPARE(TestSupport::readFile(file.key()), file.value());
    QCOMPARE(form().userInformation->text(),
             QStringLiteral("<b><font color=\"black\">准备启动!</font></b>"));
    QCOMPARE(form().downloadProgress->value(), 100);
    QVERIFY(!form().releaseNotes->toPlainText().isEmpty());
    QVERIFY(QFile::exists("Config/UU_Installed.setting"));
    QTRY_COMPARE(TestSupport::readFile(TestSupport::TestRelease::installerTrace), QByteArray("ran\n"));
    // What was downloaded is known without reading it again.
    QCOMPARE(recorder.texts().filter("Checked").last(),
             QStringLiteral("Checked %1 files: read 0, knew %1 from the record").arg(release.files.size()));
    // A second verification pass found nothing to fetch: every file was asked for once, those named
    // like the documents too, and the manifest once.
    for (auto file = release.files.cbegin(); file != release.files.cend(); ++file)
        QCOMPARE(server.requestCount(QUrl("/qor_app/" + file.key()).toEncoded()), 1);
    QCOMPARE(server.requestCount("/qor_app/GameManifest.xml"), 1);

    QTest::mouseClick(form().launchGame, Qt::LeftButton);
    QVERIFY(!form().launchGame->isEnabled());
    QVERIFY(!updater->isVisible());
    QTRY_COMPARE(TestSupport::readFile(TestSupport::TestRelease::applicationTrace),
                 QByteArray("started\n"));
    updater.reset();
}

QTEST_MAIN(tst_Updater)
#include "tst_updater.moc"

#include "documents/markup.h"
#include "support/testsupport.h"
#include "updater/updater.h"

#include <QDomDocument>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

using TestSupport::MessageRecorder;
using TestSupport::md5Hex;
using TestSupport::writeFile;

// The window's side of the release notes and the manifest walk: what it applies to its members and
// widgets, what it logs, and that a pass never outlives it. Every test runs in its own current folder.
class tst_UpdaterDocuments : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newNotesAreApplied();
    void oldNotesGiveOnlyVersionAndDate();
    void emptyNotesLeaveTheBrowser();
    void checkFolderFindsWhatToFetch();
    void passResultIsAppliedOnTheWindowThread();
    void fileMd5();
    void destructorStopsARunningPass();

private:
    static QDomDocument document(const QString &xml);
    QString htmlOf(const QString &markup) const;
    static int countOf(const QStringList &texts, const QString &text);
    QTextBrowser *releaseNotes() const;

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TestSupport::ScopedCurrentDir> inFolder;
    TestSupport::SilentServer silentServer;
    std::unique_ptr<Updater> updater;
};

QDomDocument tst_UpdaterDocuments::document(const QString &xml)
{
    QDomDocument result;
    result.setContent(xml);
    return result;
}

// What the window's notes browser holds after it was given the markup's HTML.
QString tst_UpdaterDocuments::htmlOf(const QString &markup) const
{
    QTextBrowser reference;
    reference.setFont(releaseNotes()->font());
    reference.setHtml(MarkupToHtml(markup));
    return reference.toHtml();
}

QTextBrowser *tst_UpdaterDocuments::releaseNotes() const
{
    return updater->findChild<QTextBrowser *>(QStringLiteral("releaseNotes"));
}

int tst_UpdaterDocuments::countOf(const QStringList &texts, const QString &text)
{
    return int(std::count_if(texts.begin(), texts.end(),
                             [&text](const QString &line) { return line.contains(text); }));
}

void tst_UpdaterDocuments::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    inFolder = std::make_unique<TestSupport::ScopedCurrentDir>(folder->path());
    QVERIFY(QDir().mkpath(QStringLiteral("Config")));
    // The Downloader's start removes the previous notes and then the manifest: let it pass first.
    QVERIFY(writeFile(QStringLiteral("GameManifest.xml"), "previous"));
    updater = std::make_unique<Updater>(silentServer.url(), nullptr);
    QTRY_VERIFY(!QFile::exists(QStringLiteral("GameManifest.xml")));
}

void tst_UpdaterDocuments::cleanup()
{
    updater.reset();
    inFolder.reset();
    folder.reset();
}

void tst_UpdaterDocuments::newNotesAreApplied()
{
    updater->notUpdatedFiles = QStringList{QStringLiteral("kept.ini")};
    MessageRecorder recorder;
    updater->ReadReleaseNotes(
        document(QStringLiteral("<R><Version>2.0</Version><Date>030521</Date><Notes>*First*</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress>"
                                "<NotUpdatedFile>a.ini</NotUpdatedFile>"
                                "<x><Notes>_Second_\nline</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress></x></R>")),
        false);

    QCOMPARE(updater->latestVersion, QStringLiteral("2.0"));
    QCOMPARE(updater->latestReleaseDate,
             QDate::fromString(QStringLiteral("030521"), QStringLiteral("ddMMyy")));
    QCOMPARE(updater->notUpdatedFiles, (QStringList{"kept.ini", "a.ini"}));
    QVERIFY(updater->bUpdateInProgress);
    QCOMPARE(releaseNotes()->toHtml(), htmlOf(QStringLiteral("_Second_\nline")));
    const QString notice = QStringLiteral("New release on server, please try again later");
    QCOMPARE(countOf(recorder.texts(), notice), 2);
    QVERIFY(updater->previousVersion.isEmpty());
}

void tst_UpdaterDocuments::oldNotesGiveOnlyVersionAndDate()
{
    releaseNotes()->setHtml(MarkupToHtml(QStringLiteral("current")));
    const QString shown = releaseNotes()->toHtml();
    MessageRecorder recorder;
    updater->ReadReleaseNotes(
        document(QStringLiteral("<R><Version>1.9</Version><Date>010120</Date><Notes>old</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress>"
                                "<NotUpdatedFile>a.ini</NotUpdatedFile></R>")),
        true);

    QCOMPARE(updater->previousVersion, QStringLiteral("1.9"));
    QCOMPARE(updater->previousReleaseDate,
             QDate::fromString(QStringLiteral("010120"), QStringLiteral("ddMMyy")));
    QVERIFY(updater->latestVersion.isEmpty());
    QVERIFY(updater->notUpdatedFiles.isEmpty());
    QVERIFY(!updater->bUpdateInProgress);
    QCOMPARE(releaseNotes()->toHtml(), shown);
    QCOMPARE(countOf(recorder.texts(), QStringLiteral("New release")), 0);
}

void tst_UpdaterDocuments::emptyNotesLeaveTheBrowser()
{
    updater->latestVersion = QStringLiteral("kept");
    updater->ReadReleaseNotes(document(QStringLiteral("<R><Notes>*shown*</Notes></R>")), false);
    const QString shown = releaseNotes()->toHtml();
    updater->ReadReleaseNotes(document(QStringLiteral("<R><Notes/><Notes></Notes><Version/>"
                                                      "</R>")), false);
    QCOMPARE(releaseNotes()->toHtml(), shown);
    QCOMPARE(updater->latestVersion, QStringLiteral("kept"));
}

void tst_UpdaterDocuments::checkFolderFindsWhatToFetch()
{
    QVERIFY(writeFile(QStringLiteral("App/same.pak"), "same"));
    QVERIFY(writeFile(QStringLiteral("App/changed.pak"), "changed"));
    QVERIFY(writeFile(QStringLiteral("App/exempt.ini"), "local settings"));
    updater->notUpdatedFiles = QStringList{QStringLiteral("exempt.ini")};

    const ManifestCheck check = updater->CheckFolder(
        document(QStringLiteral("<FolderProperties FolderName='.'><FolderProperties FolderName='App'>"
                                "<FileProperties FileName='same.pak' Size='4' md5='%1'/>"
                                "<FileProperties FileName='changed.pak' Size='3000000000' md5='%1'/>"
                                "<FileProperties FileName='exempt.ini' Size='1' md5='%1'/>"
                                "<FileProperties FileName='../escape.pak' Size='1'/>"
                                "<FileProperties FileName='new.pak' Size='5'/></FolderProperties>"
                                "</FolderProperties>")
                     .arg(md5Hex("same"))),
        QString());

    QCOMPARE(check.downloads.size(), 2);
    QCOMPARE(check.downloads.at(0).folder, QStringLiteral("App/"));
    QCOMPARE(check.downloads.at(0).fileName, QStringLiteral("changed.pak"));
    QCOMPARE(check.downloads.at(0).size, qint64(3000000000));
    QCOMPARE(check.downloads.at(1).fileName, QStringLiteral("new.pak"));
    QCOMPARE(check.bytesToDownload, qint64(3000000005));
    QCOMPARE(check.rejectedPaths, QStringList{QStringLiteral("App/../escape.pak")});
    QVERIFY(updater->downloadQueue.isEmpty());
}

void tst_UpdaterDocuments::passResultIsAppliedOnTheWindowThread()
{
    QVERIFY(writeFile(QStringLiteral("GameManifest.xml"),
                      "<M><FileProperties FileName='/etc/hostname' Size='1'/>"
                      "<FileProperties FileName='missing.pak' Size='7'/></M>"));
    updater->bytesToDownload = qint64(3) << 30;
    MessageRecorder recorder;
    updater->Stage2();
    // Stage3 has requested the only file queued.
    QTRY_COMPARE(updater->currentDownload.fileName, QStringLiteral("missing.pak"));

    QCOMPARE(updater->bytesToDownload, (qint64(3) << 30) + 7);
    QVERIFY(updater->downloadQueue.isEmpty());
    int rejectedLines = 0;
    const QList<MessageRecorder::Message> messages = recorder.messages();
    for (const MessageRecorder::Message &message : messages) {
        if (message.text.contains(QStringLiteral("/etc/hostname"))) {
            ++rejectedLines;
            QCOMPARE(message.thread, updater->thread());
        }
    }
    QCOMPARE(rejectedLines, 1);
}

void tst_UpdaterDocuments::fileMd5()
{
    QVERIFY(writeFile(QStringLiteral("a.pak"), "content"));
    QFile file(QStringLiteral("a.pak"));
    QCOMPARE(updater->FileMd5(&file), md5Hex("content"));
    QVERIFY(QDir().mkpath(QStringLiteral("folder.pak")));
    QFile folderFile(QStringLiteral("folder.pak"));
    QCOMPARE(updater->FileMd5(&folderFile), QString());
}

void tst_UpdaterDocuments::destructorStopsARunningPass()
{
    // Hashing this file to its end would take most of a minute.
    QVERIFY(TestSupport::makeSparseFile(QStringLiteral("big.pak"), qint64(8) << 30));
    updater->manifestDocument = std::make_unique<QDomDocument>(
        document(QStringLiteral("<M><FileProperties FileName='big.pak' md5='%1'/>"
                                "</M>").arg(md5Hex("x"))));
    const QFuture<ManifestCheck> pass = updater->StartVerificationPass();
    QTRY_VERIFY(updater->verificationControl.bytesHashed > 0);

    QElapsedTimer closing;
    closing.start();
    updater.reset();
    QVERIFY(pass.isFinished());
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
}

QTEST_MAIN(tst_UpdaterDocuments)
#include "tst_updaterdocuments.moc"

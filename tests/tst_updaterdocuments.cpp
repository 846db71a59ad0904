#include "documents/release/markup.h"
#include "support/testsupport.h"
#include "updater/updaterun.h"

#include <QDomDocument>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QtTest>

#include <memory>

using TestSupport::MessageRecorder;
using TestSupport::md5Hex;
using TestSupport::writeFile;

// The run's side of the release notes and the manifest walk: what it keeps, what it has the window
// show and log, and that a pass never outlives it. Every test runs in its own current folder.
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
    void destructorStopsARunningPass();

private:
    static QDomDocument document(const QString &xml);
    static int countOf(const QStringList &texts, const QString &text);

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TestSupport::ScopedCurrentDir> inFolder;
    std::unique_ptr<UpdateRun> run;
    QStringList notesShown; // every NotesHtml
};

QDomDocument tst_UpdaterDocuments::document(const QString &xml)
{
    QDomDocument result;
    result.setContent(xml);
    return result;
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
    run = std::make_unique<UpdateRun>();
    notesShown.clear();
    connect(run.get(), &UpdateRun::NotesHtml, this, [this](const QString &html) { notesShown << html; });
}

void tst_UpdaterDocuments::cleanup()
{
    run.reset();
    inFolder.reset();
    folder.reset();
}

void tst_UpdaterDocuments::newNotesAreApplied()
{
    run->notUpdatedFiles = QStringList{QStringLiteral("kept.ini")};
    QSignalSpy lines(run.get(), &UpdateRun::LogLine);
    run->ReadReleaseNotes(
        document(QStringLiteral("<R><Version>2.0</Version><Date>030521</Date><Notes>*First*</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress>"
                                "<NotUpdatedFile>a.ini</NotUpdatedFile>"
                                "<x><Notes>_Second_\nline</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress></x></R>")),
        false);

    QCOMPARE(run->latestVersion, QStringLiteral("2.0"));
    QCOMPARE(run->latestReleaseDate,
             QDate::fromString(QStringLiteral("030521"), QStringLiteral("ddMMyy")));
    QCOMPARE(run->notUpdatedFiles, (QStringList{"kept.ini", "a.ini"}));
    QVERIFY(run->bUpdateInProgress);
    QCOMPARE(notesShown, QStringList({MarkupToHtml("*First*"), MarkupToHtml("_Second_\nline")}));
    const QVariantList notice{QStringLiteral("New release on server, please try again later"), true};
    QCOMPARE(QList<QVariantList>(lines), QList<QVariantList>({notice, notice}));
    QVERIFY(run->previousVersion.isEmpty());
}

void tst_UpdaterDocuments::oldNotesGiveOnlyVersionAndDate()
{
    MessageRecorder recorder;
    run->ReadReleaseNotes(
        document(QStringLiteral("<R><Version>1.9</Version><Date>010120</Date><Notes>old</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress>"
                                "<NotUpdatedFile>a.ini</NotUpdatedFile></R>")),
        true);

    QCOMPARE(run->previousVersion, QStringLiteral("1.9"));
    QCOMPARE(run->previousReleaseDate,
             QDate::fromString(QStringLiteral("010120"), QStringLiteral("ddMMyy")));
    QVERIFY(run->latestVersion.isEmpty());
    QVERIFY(run->notUpdatedFiles.isEmpty());
    QVERIFY(!run->bUpdateInProgress);
    QVERIFY(notesShown.isEmpty());
    QCOMPARE(countOf(recorder.texts(), QStringLiteral("New release")), 0);
}

void tst_UpdaterDocuments::emptyNotesLeaveTheBrowser()
{
    run->latestVersion = QStringLiteral("kept");
    run->ReadReleaseNotes(document(QStringLiteral("<R><Notes>*shown*</Notes></R>")), false);
    run->ReadReleaseNotes(document(QStringLiteral("<R><Notes/><Notes></Notes><Version/>"
                                                      "</R>")), false);
    QCOMPARE(notesShown, QStringList{MarkupToHtml("*shown*")});
    QCOMPARE(run->latestVersion, QStringLiteral("kept"));
}

void tst_UpdaterDocuments::checkFolderFindsWhatToFetch()
{
    QVERIFY(writeFile(QStringLiteral("App/same.pak"), "same"));
    QVERIFY(writeFile(QStringLiteral("App/changed.pak"), "changed"));
    QVERIFY(writeFile(QStringLiteral("App/exempt.ini"), "local settings"));
    run->notUpdatedFiles = QStringList{QStringLiteral("exempt.ini")};

    const ManifestCheck check = run->CheckFolder(
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
    QVERIFY(run->downloadQueue.isEmpty());
}

void tst_UpdaterDocuments::passResultIsAppliedOnTheWindowThread()
{
    QVERIFY(writeFile(QStringLiteral("GameManifest.xml"),
                      "<M><FileProperties FileName='/etc/hostname' Size='1'/>"
                      "<FileProperties FileName='missing.pak' Size='7'/></M>"));
    run->bytesToDownload = qint64(3) << 30;
    MessageRecorder recorder;
    run->Stage2();
    // Stage3 has requested the only file queued.
    QTRY_COMPARE(run->inFlight.value(0).fileName, QStringLiteral("missing.pak"));

    QCOMPARE(run->bytesToDownload, (qint64(3) << 30) + 7);
    QVERIFY(run->downloadQueue.isEmpty());
    int rejectedLines = 0;
    const QList<MessageRecorder::Message> messages = recorder.messages();
    for (const MessageRecorder::Message &message : messages) {
        if (message.text.contains(QStringLiteral("/etc/hostname"))) {
            ++rejectedLines;
            QCOMPARE(message.thread, run->thread());
        }
    }
    QCOMPARE(rejectedLines, 1);
}

void tst_UpdaterDocuments::destructorStopsARunningPass()
{
    // Hashing this file to its end would take most of a minute.
    QVERIFY(TestSupport::makeSparseFile(QStringLiteral("big.pak"), qint64(8) << 30));
    run->manifestDocument = std::make_unique<QDomDocument>(
        document(QStringLiteral("<M><FileProperties FileName='big.pak' md5='%1'/>"
                                "</M>").arg(md5Hex("x"))));
    const QFuture<ManifestCheck> pass = run->StartVerificationPass();
    QTRY_VERIFY(run->verificationControl.bytesHashed > 0);

    QElapsedTimer closing;
    closing.start();
    run.reset();
    QVERIFY(pass.isFinished());
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
}

QTEST_GUILESS_MAIN(tst_UpdaterDocuments)
#include "tst_updaterdocuments.moc"

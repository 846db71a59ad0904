#include "documents/installation/verificationpass.h"
#include "documents/release/markup.h"
#include "support/testsupport.h"
#include "updater/updaterun.h"

#include <QDomDocument>
#include <QElapsedTimer>
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
    run->ReadReleaseNotes(document(QStringLiteral("<R><NotUpdatedFile>kept.ini</NotUpdatedFile></R>")),
                          false);
    QSignalSpy lines(run.get(), &UpdateRun::LogLine);
    run->ReadReleaseNotes(
        document(QStringLiteral("<R><Version>2.0</Version><Date>030521</Date><Notes>*First*</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress>"
                                "<NotUpdatedFile>a.ini</NotUpdatedFile>"
                                "<x><Notes>_Second_\nline</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress></x></R>")),
        false);

    const NotesState &notes = run->Notes();
    QCOMPARE(notes.latestVersion, QStringLiteral("2.0"));
    QCOMPARE(notes.latestReleaseDate,
             QDate::fromString(QStringLiteral("030521"), QStringLiteral("ddMMyy")));
    QCOMPARE(notes.notUpdatedFiles, (QStringList{"kept.ini", "a.ini"}));
    QVERIFY(notes.bUpdateInProgress);
    QCOMPARE(notesShown, QStringList({MarkupToHtml("*First*"), MarkupToHtml("_Second_\nline")}));
    const QVariantList notice{QStringLiteral("New release on server, please try again later"), true};
    QCOMPARE(QList<QVariantList>(lines), QList<QVariantList>({notice, notice}));
    QVERIFY(notes.previousVersion.isEmpty());
}

void tst_UpdaterDocuments::oldNotesGiveOnlyVersionAndDate()
{
    MessageRecorder recorder;
    run->ReadReleaseNotes(
        document(QStringLiteral("<R><Version>1.9</Version><Date>010120</Date><Notes>old</Notes>"
                                "<UpdateInProgress>1</UpdateInProgress>"
                                "<NotUpdatedFile>a.ini</NotUpdatedFile></R>")),
        true);

    const NotesState &notes = run->Notes();
    QCOMPARE(notes.previousVersion, QStringLiteral("1.9"));
    QCOMPARE(notes.previousReleaseDate,
             QDate::fromString(QStringLiteral("010120"), QStringLiteral("ddMMyy")));
    QVERIFY(notes.latestVersion.isEmpty());
    QVERIFY(notes.notUpdatedFiles.isEmpty());
    QVERIFY(!notes.bUpdateInProgress);
    QVERIFY(notesShown.isEmpty());
    QCOMPARE(countOf(recorder.texts(), QStringLiteral("New release")), 0);
}

void tst_UpdaterDocuments::emptyNotesLeaveTheBrowser()
{
    run->ReadReleaseNotes(document(QStringLiteral("<R><Version>kept</Version><Notes>*shown*</Notes>"
                                                  "</R>")), false);
    run->ReadReleaseNotes(document(QStringLiteral("<R><Notes/><Notes></Notes><Version/>"
                                                      "</R>")), false);
    QCOMPARE(notesShown, QStringList{MarkupToHtml("*shown*")});
    QCOMPARE(run->Notes().latestVersion, QStringLiteral("kept"));
}

void tst_UpdaterDocuments::passResultIsAppliedOnTheWindowThread()
{
    QVERIFY(writeFile(QStringLiteral("GameManifest.xml"),
                      "<M><FileProperties FileName='/etc/hostname' Size='1'/>"
                      "<FileProperties FileName='missing.pak' Size='7'/></M>"));
    MessageRecorder recorder;
    QSignalSpy requests(run.get(), &UpdateRun::RequestFile);
    QSignalSpy progressRange(run.get(), &UpdateRun::ProgressRange);
    run->Stage2();
    // Stage3 has requested the only file queued, and the bar counts its bytes.
    QTRY_COMPARE(requests.count(), 1);
    QCOMPARE(requests.first(), (QVariantList{QString(), QStringLiteral("missing.pak")}));
    QCOMPARE(progressRange.last(), (QVariantList{0, 7}));
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
    auto pass = std::make_unique<VerificationPass>();
    QSignalSpy finished(pass.get(), &VerificationPass::Finished);
    pass->Start(TestSupport::manifestListing(
                    QStringLiteral("<M><FileProperties FileName='big.pak' md5='%1'/></M>")
                        .arg(md5Hex("x"))
                        .toUtf8()),
                QStringList());
    QTRY_VERIFY(pass->BytesRead() > 0);

    // The pass has ended when its owner is gone, and says nothing more.
    QElapsedTimer closing;
    closing.start();
    pass.reset();
    QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 0);
}

QTEST_GUILESS_MAIN(tst_UpdaterDocuments)
#include "tst_updaterdocuments.moc"

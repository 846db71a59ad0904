#include "wholefilejob.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "downloader/fetch/fetch.h"

#include <QFile>

namespace {

// A file smaller than this is not resumed at the next start: it arrives again in about the time that
// its record takes to write safely, and thousands of small files would each pay for one.
constexpr qint64 smallestResumedBytes = 256 * 1024;

// What an error page may always bring: a server's page for a missing file or a demand for the
// password is larger than many a small file.
constexpr qint64 errorPageBytes = 64 * 1024;

} // namespace

WholeFileJob::WholeFileJob(const QString &folder, const QString &file, const QString &target,
                           const TransferExpectation &expected, int slot,
                           ServerConnection *connection, const UpdaterConfig::RunSettings &settings,
                           QObject *parent)
    : Job(folder, file, slot, connection, settings, parent)
    , target(target)
    , expected(expected)
{
    staged.emplace(target, slot, settings.partBytes);
    connect(&rereading, &QFutureWatcherBase::finished, this, &WholeFileJob::RereadEnded);
}

WholeFileJob::~WholeFileJob()
{
    if (staged)
        Release(false);
}

void WholeFileJob::Start(const std::optional<ResumeRecord> &leftover)
{
    if (leftover && !staged->ReopenProblem()) {
        validator = leftover->validator;
        bRecordWritten = true;
        rereading.setFuture(staged->Rereading());
        return;
    }
    if (const std::optional<QString> problem = staged->OpenProblem()) {
        Finish(JobResult::Failed(QStringLiteral("Cannot write %1 for %2: %3")
                           .arg(ConfigFiles::StagingPath(slot()), path(), *problem)));
        return;
    }
    StartFetching();
}

void WholeFileJob::RereadEnded()
{
    if (rereading.result()) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot read what was staged for %1: fetching it whole").arg(path());
        staged->Restart();
    } else if (expected.size >= 0 && staged->size() >= expected.size) {
        // Cut off after the last byte had arrived: nothing is left to ask for, only whether what
        // arrived is the file.
        if (staged->size() == expected.size && staged->md5() == expected.md5) {
            Commit(false);
            return;
        }
        staged->Restart();
    }
    StartFetching();
}

void WholeFileJob::StartFetching()
{
    FetchPolicy policy;
    policy.path = path();
    policy.limit = expected.limit;
    policy.bDigestVouches = !expected.md5.isEmpty();
    policy.validator = validator;
    // An error page is never kept, and never read without end either; but the page of a demand for
    // the password must end on its own, however small the file, for the player to be asked.
    policy.errorPageBytes =
        expected.limit < 0 ? settings.documentBytes
                           : qMin(qMax(expected.limit, errorPageBytes), settings.documentBytes);
    policy.attempts = settings.attemptsWithoutProgress;
    policy.bNamedInLog = true;
    // A document is the same address for every release: a cache may hold the one before.
    policy.bPastCaches = bPastCaches || expected.md5.isEmpty();
    SetState(State::Fetching);
    fetch = StartFetch(policy, this);
}

std::optional<ResumeRecord> WholeFileJob::Abandon()
{
    // Only a file of the manifest, whose digest tells whether what it resumes is whole, lives on,
    // with what its reply gathered, unless that went too far.
    bool bResumable = bRecordWritten && staged && staged->size() > 0;
    if (fetch && !DropFetch(fetch))
        bResumable = false;
    fetch = nullptr;
    const ResumeRecord record = Record();
    Release(bResumable);
    SetState(State::Ended);
    return bResumable ? std::optional<ResumeRecord>(record) : std::nullopt;
}

void WholeFileJob::FetchEnded(Fetch *, const FetchResult &result)
{
    switch (result.kind) {
    case FetchResult::Kind::Complete:
        Commit(result.bPipelined);
        return;
    case FetchResult::Kind::Refused:
        Finish(JobResult::Refused(result.problem));
        return;
    case FetchResult::Kind::PasswordRequired:
        Finish(JobResult::PasswordRequired());
        return;
    case FetchResult::Kind::Failed:
    case FetchResult::Kind::Unusable:
        Finish(JobResult::Failed(result.problem));
        return;
    }
}

void WholeFileJob::Commit(bool bPipelined)
{
    if (std::optional<QString> problem =
            ContentProblem(path(), expected, staged->size(), staged->md5())) {
        if (bPastCaches) {
            Finish(JobResult::Refused(problem, bPipelined));
            return;
        }
        // A cache between may have kept the file of an earlier release, or a cut copy.
        qCWarning(lcRun).noquote()
            << QStringLiteral("%1: asking the server itself once more").arg(*problem);
        bPastCaches = true;
        staged->Restart();
        StartFetching();
        return;
    }
    if (const std::optional<QString> problem = staged->CommitProblem()) {
        Finish(JobResult::Failed(
            QStringLiteral("Cannot move %1 to %2: %3").arg(path(), target, *problem)));
        return;
    }
    // Without a stamp the next verification pass reads the file, as it would any other.
    Finish(JobResult::Committed(ReadFileStamp(target), staged->md5(), false));
}

void WholeFileJob::Finish(const JobResult &result)
{
    Release(false);
    Report(result);
}

void WholeFileJob::Release(bool bKeep)
{
    if (fetch)
        DropFetch(fetch);
    fetch = nullptr;
    rereading.disconnect(this);
    if (bKeep)
        staged->Keep();
    staged.reset();
    if (!bKeep)
        QFile::remove(ConfigFiles::ResumeRecordPath(slot()));
}

qint64 WholeFileJob::HeldBytes() const
{
    return staged ? staged->size() : 0;
}

void WholeFileJob::Restart()
{
    staged->Restart();
}

void WholeFileJob::Begins(const QByteArray &newValidator)
{
    validator = newValidator;
    WriteRecord();
}

std::optional<QString> WholeFileJob::WriteProblem(const QByteArray &bytes)
{
    if (const std::optional<QString> problem = staged->WriteProblem(bytes)) {
        return QStringLiteral("Cannot write %1 for %2: %3")
            .arg(ConfigFiles::StagingPath(slot()), path(), *problem);
    }
    return std::nullopt;
}

void WholeFileJob::WriteRecord()
{
    // Only a file of the manifest, whose digest tells whether what it resumes is whole, lives on;
    // a small one is fetched again whole.
    if (expected.md5.isEmpty() || (expected.size >= 0 && expected.size < smallestResumedBytes))
        return;
    const QString recordPath = ConfigFiles::ResumeRecordPath(slot());
    if (const std::optional<QString> problem = Record().SaveProblem(recordPath)) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot write %1 for %2: %3").arg(recordPath, path(), *problem);
        return;
    }
    bRecordWritten = true;
}

ResumeRecord WholeFileJob::Record() const
{
    return {path(), expected.size, expected.md5, validator};
}

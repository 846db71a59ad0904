#ifndef WHOLEFILEJOB_H
#define WHOLEFILEJOB_H

#include "downloader/jobs/expectation.h"
#include "downloader/jobs/job.h"
#include "downloader/staging/stagedfile.h"

#include <QFutureWatcher>

#include <optional>

// A file fetched whole, with one Fetch, into its staging file: resumed from what an earlier start
// staged where the server allows, and moved to target only with the expected size and digest. It
// is also how the documents arrive, bounded by the largest document.
class WholeFileJob : public Job, private FetchSink
{
    Q_OBJECT

public:
    WholeFileJob(const QString &folder, const QString &file, const QString &target,
                 const TransferExpectation &expected, int slot, ServerConnection *connection,
                 const UpdaterConfig::RunSettings &settings, QObject *parent);
    ~WholeFileJob() override;

    // What an earlier transfer of the same file staged is digested again before the first request;
    // if it cannot be taken up, the file is fetched from its first byte after all.
    void Start(const std::optional<ResumeRecord> &leftover) override;
    // What the next job of the file may resume needs a file of the manifest whose record was
    // written.
    [[nodiscard]] std::optional<ResumeRecord> Abandon() override;

private:
    void FetchEnded(Fetch *fetch, const FetchResult &result) override;
    void RereadEnded();
    void StartFetching();
    void Commit(bool bPipelined);
    void Finish(const JobResult &result);
    // Lets go of everything; with bKeep what was staged and its record stay on disk.
    void Release(bool bKeep);
    void WriteRecord();
    ResumeRecord Record() const;

    // The staging file, as the fetch's sink.
    qint64 HeldBytes() const override;
    void Restart() override;
    void Begins(const QByteArray &validator) override;
    std::optional<QString> WriteProblem(const QByteArray &bytes) override;

    const QString target;
    const TransferExpectation expected;
    std::optional<StagedFile> staged;  // until the job lets go of it
    QFutureWatcher<std::optional<QString>> rereading;
    Fetch *fetch = nullptr;
    QByteArray validator;  // the server's ETag, else its Last-Modified, of the first answer
    bool bRecordWritten = false;
    bool bPastCaches = false;  // asked of the server itself once a copy came wrong
};

#endif // WHOLEFILEJOB_H

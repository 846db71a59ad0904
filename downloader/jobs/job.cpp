#include "job.h"

#include "downloader/fetch/fetch.h"

#include <algorithm>

Job::Job(const QString &folder, const QString &file, int slot, ServerConnection *connection,
         const UpdaterConfig::RunSettings &settings, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , connection(connection)
    , dir(folder)
    , name(file)
    , stagingSlot(slot)
{
}

bool Job::IsAwaitingPassword() const
{
    return std::any_of(fetches.cbegin(), fetches.cend(),
                       [](const Fetch *fetch) { return fetch->IsAwaitingPassword(); });
}

qint64 Job::TakeUnreportedBytes()
{
    qint64 bytes = std::exchange(unreportedBytes, 0);
    for (Fetch *fetch : qAsConst(fetches))
        bytes += fetch->TakeUnreportedBytes();
    return bytes;
}

qint64 Job::TakeUncountedBytes()
{
    qint64 bytes = std::exchange(uncountedBytes, 0);
    for (Fetch *fetch : qAsConst(fetches))
        bytes += fetch->TakeUncountedBytes();
    return bytes;
}

qint64 Job::TakenBytes() const
{
    qint64 bytes = takenBytes;
    for (const Fetch *fetch : fetches)
        bytes += fetch->TakenBytes();
    return bytes;
}

int Job::RequestsSent() const
{
    int requests = requestsSent;
    for (const Fetch *fetch : fetches)
        requests += fetch->RequestsSent();
    return requests;
}

Fetch *Job::StartFetch(FetchPolicy policy, FetchSink *sink)
{
    auto *fetch = new Fetch(std::move(policy), sink, connection, stagingSlot, settings, this);
    connect(fetch, &Fetch::PartWritten, this, &Job::PartWritten);
    connect(fetch, &Fetch::ErrorOccurred, this, &Job::ErrorOccurred);
    connect(fetch, &Fetch::Stalled, this, &Job::Stalled);
    connect(fetch, &Fetch::Finished, this,
            [this, fetch](const FetchResult &result) { FetchEnded(fetch, result); });
    fetches.append(fetch);
    fetch->Start();
    return fetch;
}

bool Job::DropFetch(Fetch *fetch)
{
    // The fetch may be in the middle of one of its own signals: it goes once that is done.
    const bool bSound = fetch->IsEnded() || fetch->Abandon();
    fetch->disconnect(this);
    unreportedBytes += fetch->TakeUnreportedBytes();
    uncountedBytes += fetch->TakeUncountedBytes();
    takenBytes += fetch->TakenBytes();
    requestsSent += fetch->RequestsSent();
    fetches.removeOne(fetch);
    fetch->deleteLater();
    return bSound;
}

void Job::DropFetches()
{
    while (!fetches.isEmpty())
        DropFetch(fetches.last());
}

void Job::Report(const JobResult &result)
{
    currentState = State::Ended;
    emit Finished(result);
}

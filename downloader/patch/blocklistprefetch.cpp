#include "blocklistprefetch.h"

#include "documents/patch/knownblocks.h"
#include "downloader/fetch/fetch.h"

#include <QCryptographicHash>

BlockListPrefetch::BlockListPrefetch(const DownloadItem &item, ServerConnection *connection,
                                     const UpdaterConfig::RunSettings &settings, QObject *parent)
    : QObject(parent)
    , item(item)
{
    FetchPolicy policy;
    policy.path = item.blockList;
    policy.range = ByteRange{0, item.blockListHead};
    policy.attempts = 1;
    auto *fetch = new Fetch(policy, this, connection, 0, settings, this);
    connect(fetch, &Fetch::Stalled, fetch, &Fetch::Retry);
    connect(fetch, &Fetch::Finished, this, &BlockListPrefetch::Ended);
    fetch->Start();
}

std::optional<QString> BlockListPrefetch::WriteProblem(const QByteArray &bytes)
{
    head += bytes;
    return std::nullopt;
}

void BlockListPrefetch::Ended(const FetchResult &result)
{
    deleteLater();
    if (result.kind == FetchResult::Kind::Complete
        && QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex()
               == item.blockListSha256.toLatin1())
        KnownBlocks::Remember(item.md5, head);
}

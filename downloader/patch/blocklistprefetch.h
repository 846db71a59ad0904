#ifndef BLOCKLISTPREFETCH_H
#define BLOCKLISTPREFETCH_H

#include "documents/installation/downloaditem.h"
#include "downloader/fetch/fetchpolicy.h"
#include "updaterconfig.h"

#include <QObject>

class ServerConnection;

// Fetches the head of the block list of a file that was fetched whole, so that its next patch
// knows its blocks without reading it through: the head is a small fraction of the file. Nothing
// waits for it: a server that ignores the range, or does not answer, costs no more than the head,
// or the stall interval; it is remembered only with the digest that the manifest gives. It deletes
// itself once done.
class BlockListPrefetch : public QObject, private FetchSink
{
    Q_OBJECT

public:
    BlockListPrefetch(const DownloadItem &item, ServerConnection *connection,
                      const UpdaterConfig::RunSettings &settings, QObject *parent);

private:
    void Ended(const FetchResult &result);

    qint64 HeldBytes() const override { return head.size(); }
    void Restart() override { head.clear(); }
    void Begins(const QByteArray &) override {}
    std::optional<QString> WriteProblem(const QByteArray &bytes) override;

    const DownloadItem item;
    QByteArray head;
};

#endif // BLOCKLISTPREFETCH_H

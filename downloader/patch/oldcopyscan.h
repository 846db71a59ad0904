#ifndef OLDCOPYSCAN_H
#define OLDCOPYSCAN_H

#include "documents/installation/filehash.h"
#include "documents/patch/contentchunks.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

// What the old copy of a file that is patched holds: its blocks, recalled from what the updater knew
// of a copy that it put in place, or else cut on the thread pool; then the pieces of the regions
// where it was edited. Destroying it cancels a scan and waits for its end.
class OldCopyScan : public QObject
{
    Q_OBJECT

public:
    OldCopyScan(const QString &path, const QString &localMd5, QObject *parent);
    ~OldCopyScan() override;

    // Recalls the blocks, or starts to cut them: BlocksKnown, or BlocksUnreadable, follows then.
    void Start();
    bool AreBlocksKnown() const { return bBlocksKnown; }
    // The blocks came from what the updater knew, unread: that may be what went wrong.
    bool AreBlocksRecalled() const { return bRecalled; }
    std::vector<ContentChunks::Chunk> TakeBlocks() { return std::move(blocks); }
    // Cuts regions into pieces: PiecesKnown follows.
    void ScanPieces(const std::vector<ContentChunks::Chunk> &regions);
    bool IsScanningPieces() const { return pieceScan.isRunning(); }
    // None if the old copy could not be read: the blocks that it lacks are then fetched whole.
    std::vector<ContentChunks::Chunk> TakePieces() { return std::move(pieces); }
    void Cancel();

signals:
    void BlocksKnown();
    void BlocksUnreadable(QString problem);
    void PiecesKnown();

private:
    const QString path;
    const QString localMd5;
    HashControl control;
    QFutureWatcher<std::optional<QString>> blockScan;
    QFutureWatcher<std::optional<QString>> pieceScan;
    std::vector<ContentChunks::Chunk> blocks;
    std::vector<ContentChunks::Chunk> pieces;
    bool bBlocksKnown = false;
    bool bRecalled = false;
};

#endif // OLDCOPYSCAN_H

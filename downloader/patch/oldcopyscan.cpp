#include "oldcopyscan.h"

#include "app/runlog.h"
#include "documents/patch/knownblocks.h"
#include "documents/patch/patchplan.h"

#include <QFileInfo>
#include <QtConcurrent>

OldCopyScan::OldCopyScan(const QString &path, const QString &localMd5, QObject *parent)
    : QObject(parent)
    , path(path)
    , localMd5(localMd5)
{
    connect(&blockScan, &QFutureWatcherBase::finished, this, [this] {
        if (const std::optional<QString> problem = blockScan.result()) {
            emit BlocksUnreadable(*problem);
            return;
        }
        bBlocksKnown = true;
        emit BlocksKnown();
    });
    connect(&pieceScan, &QFutureWatcherBase::finished, this, [this] {
        if (pieceScan.result())
            pieces.clear();
        emit PiecesKnown();
    });
}

OldCopyScan::~OldCopyScan()
{
    Cancel();
}

void OldCopyScan::Start()
{
    if (std::optional<std::vector<ContentChunks::Chunk>> known =
            KnownBlocks::Recall(localMd5, QFileInfo(path).size())) {
        blocks = std::move(*known);
        bBlocksKnown = bRecalled = true;
        return;
    }
    qCInfo(lcRun).noquote()
        << QStringLiteral("Reading the old copy of %1 for the blocks that it holds").arg(path);
    blockScan.setFuture(QtConcurrent::run(
        [this] { return ScanBlocksProblem(path, &control, &blocks); }));
}

void OldCopyScan::ScanPieces(const std::vector<ContentChunks::Chunk> &regions)
{
    pieceScan.setFuture(QtConcurrent::run(
        [this, regions] { return ScanPiecesProblem(path, regions, &control, &pieces); }));
}

void OldCopyScan::Cancel()
{
    control.bCancel = true;
    blockScan.waitForFinished();
    pieceScan.waitForFinished();
    blockScan.disconnect(this);
    pieceScan.disconnect(this);
}

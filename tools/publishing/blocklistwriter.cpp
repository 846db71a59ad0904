#include "blocklistwriter.h"

#include "documents/patch/blocklist.h"
#include "documents/patch/contentchunks.h"
#include "documents/patch/patchplan.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

BlockListResult WriteBlockList(const QString &filePath, const QString &md5,
                               const QString &releaseFolder, HashControl *control)
{
    BlockListResult result;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = QStringLiteral("%1: cannot read file").arg(filePath);
        return result;
    }
    ContentChunks::Chunker chunker(ContentChunks::Chunker::BlockDigests
                                   | ContentChunks::Chunker::PieceDigests);
    if (ChunkFileProblem(&file, 0, file.size(), &chunker, control)) {
        result.problem = QStringLiteral("%1: cannot read file").arg(filePath);
        return result;
    }

    const QByteArray list = BlockListFormat::Write(file.size(), chunker.Blocks(), chunker.Pieces());
    result.list.path = BlockListFormat::folder + QLatin1Char('/') + md5 + QStringLiteral(".blocks");
    result.list.headBytes = BlockListFormat::headerBytes
                            + BlockListFormat::blockEntryBytes * qint64(chunker.Blocks().size());
    result.list.headSha256 = QString::fromLatin1(
        QCryptographicHash::hash(list.left(int(result.list.headBytes)), QCryptographicHash::Sha256)
            .toHex());

    const QString listPath = releaseFolder + QLatin1Char('/') + result.list.path;
    QDir().mkpath(releaseFolder + QLatin1Char('/') + BlockListFormat::folder);
    QSaveFile out(listPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(list) != list.size() || !out.commit())
        result.problem = QStringLiteral("cannot write %1: %2").arg(listPath, out.errorString());
    return result;
}

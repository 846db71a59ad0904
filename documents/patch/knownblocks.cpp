#include "knownblocks.h"

#include "app/updaterfiles.h"
#include "documents/patch/blocklist.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

std::optional<QString> PathOf(const QString &md5)
{
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{32}$"));
    if (!digest.match(md5).hasMatch())
        return std::nullopt;
    return ConfigFiles::knownBlocksFolder + QLatin1Char('/') + md5 + QStringLiteral(".blocks");
}

} // namespace

void KnownBlocks::Remember(const QString &md5, const QByteArray &head)
{
    const std::optional<QString> path = PathOf(md5);
    if (!path)
        return;
    // Written aside and renamed, so that a reader never meets half of it; not synced, since a hint
    // that a crash loses costs only a read of the file.
    QDir().mkpath(ConfigFiles::knownBlocksFolder);
    const QString asidePath = *path + QStringLiteral(".new");
    QFile aside(asidePath);
    if (aside.open(QIODevice::WriteOnly) && aside.write(head) == head.size()) {
        aside.close();
        QFile::remove(*path);
        aside.rename(*path);
    }
    QFile::remove(asidePath);
}

void KnownBlocks::Forget(const QString &md5)
{
    if (const std::optional<QString> path = PathOf(md5))
        QFile::remove(*path);
}

std::optional<std::vector<ContentChunks::Chunk>> KnownBlocks::Recall(const QString &md5, qint64 size)
{
    const std::optional<QString> path = PathOf(md5);
    QFile file(path.value_or(QString()));
    if (!path || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    BlockList list;
    if (BlockListProblem(file.readAll(), &list) || list.fileSize != size)
        return std::nullopt;
    return std::move(list.blocks);
}

#include "filehash.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

constexpr qint64 chunkSize = 1 << 20;

const QString cancelled = QStringLiteral("the check was stopped");

// Adds up to length bytes of the open file (all of it if length is negative) to hash; why it could
// not, if it could not.
std::optional<QString> addToHash(QFile *file, qint64 length, QCryptographicHash *hash,
                                 HashControl *control)
{
    const qint64 wanted = length < 0 ? file->size() : length;
    // A small file needs no buffer of a whole chunk.
    QByteArray chunk(int(qBound<qint64>(1, wanted, chunkSize)), Qt::Uninitialized);
    qint64 read = 0;
    while (length < 0 || read < length) {
        if (control && control->bCancel.load(std::memory_order_relaxed))
            return cancelled;
        const qint64 most = length < 0 ? chunk.size() : qMin<qint64>(chunk.size(), length - read);
        const qint64 got = file->read(chunk.data(), most);
        if (got < 0)
            return QStringLiteral("it cannot be read: ") + file->errorString();
        if (got == 0)
            break;
        hash->addData(chunk.constData(), int(got));
        read += got;
        if (control)
            control->bytesHashed.fetch_add(got, std::memory_order_relaxed);
    }
    if (length >= 0 && read < length)
        return QStringLiteral("it ends after %1 of %2 bytes").arg(read).arg(length);
    return std::nullopt;
}

// Opens the regular file for reading; why it cannot be, if it cannot.
std::optional<QString> openProblem(QFile *file)
{
    // A FIFO or a device would block the open or never end; neither is an installed file.
    if (!QFileInfo(*file).isFile())
        return QStringLiteral("it is not a regular file");
    // Unbuffered: the chunks are large, and a second copy through QFile's buffer only costs time.
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QStringLiteral("it cannot be opened: ") + file->errorString();
    return std::nullopt;
}

struct IndexedDigest
{
    int index;
    FileDigest digest;
};

// FileMd5 of one of paths, by its index, as the thread pool's map takes it.
struct DigestOfPath
{
    using result_type = IndexedDigest;

    IndexedDigest operator()(int index) const
    {
        // A stopped pass opens no more files.
        if (control && control->bCancel.load(std::memory_order_relaxed))
            return {index, {QString(), cancelled}};
        QFile file(paths.at(index));
        return {index, FileMd5(&file, control)};
    }

    QStringList paths;
    HashControl *control;
};

// Gathers the digests in the order of their paths, whichever thread read them first.
void PlaceDigest(QVector<FileDigest> &digests, const IndexedDigest &digest)
{
    if (digests.size() <= digest.index)
        digests.resize(digest.index + 1);
    digests[digest.index] = digest.digest;
}

} // namespace

FileDigest FileMd5(QFile *file, HashControl *control)
{
    if (std::optional<QString> problem = openProblem(file))
        return {QString(), problem};
    QCryptographicHash hash(QCryptographicHash::Md5);
    const std::optional<QString> problem = addToHash(file, -1, &hash, control);
    file->close();
    if (problem)
        return {QString(), problem};
    return {QString::fromLatin1(hash.result().toHex()), std::nullopt};
}

std::optional<QString> AddFileStartProblem(const QString &path, qint64 length,
                                           QCryptographicHash *hash, HashControl *control)
{
    QFile file(path);
    if (std::optional<QString> problem = openProblem(&file))
        return problem;
    return addToHash(&file, length, hash, control);
}

QFuture<QVector<FileDigest>> Md5OfFiles(const QStringList &paths, HashControl *control)
{
    std::vector<qint64> sizes;
    sizes.reserve(size_t(paths.size()));
    for (const QString &path : paths) {
        const QFileInfo info(path);
        sizes.push_back(info.isFile() ? info.size() : 0);
    }
    QVector<int> order(paths.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&sizes](int a, int b) { return sizes[size_t(a)] > sizes[size_t(b)]; });
    if (control)
        control->bytesToHash.fetch_add(std::accumulate(sizes.begin(), sizes.end(), qint64(0)));
    return QtConcurrent::mappedReduced<QVector<FileDigest>>(order, DigestOfPath{paths, control},
                                                             PlaceDigest);
}

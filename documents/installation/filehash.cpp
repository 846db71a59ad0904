#include "filehash.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

constexpr qint64 chunkSize = 1 << 20;

QString digestOf(QFile *file, HashControl *control, QByteArray &chunk)
{
    // A FIFO or a device would block the open or never end; neither is an installed file.
    if (!QFileInfo(*file).isFile())
        return QString();
    // Unbuffered: the chunks are large, and a second copy through QFile's buffer only costs time.
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QString();

    QCryptographicHash hash(QCryptographicHash::Md5);
    if (chunk.size() != chunkSize)
        chunk.resize(chunkSize);
    bool bComplete = false;
    while (!control || !control->bCancel.load(std::memory_order_relaxed)) {
        const qint64 length = file->read(chunk.data(), chunkSize);
        if (length <= 0) {
            bComplete = length == 0;
            break;
        }
        hash.addData(chunk.constData(), int(length));
        if (control)
            control->bytesHashed.fetch_add(length, std::memory_order_relaxed);
    }
    file->close();
    return bComplete ? QString::fromLatin1(hash.result().toHex()) : QString();
}

} // namespace

QString FileMd5(QFile *file, HashControl *control)
{
    QByteArray chunk;
    return digestOf(file, control, chunk);
}

QStringList Md5OfFiles(const QStringList &paths, HashControl *control)
{
    HashControl ownControl;
    if (!control)
        control = &ownControl;

    std::vector<qint64> sizes;
    sizes.reserve(size_t(paths.size()));
    for (const QString &path : paths) {
        const QFileInfo info(path);
        sizes.push_back(info.isFile() ? info.size() : 0);
    }
    std::vector<int> order(size_t(paths.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&sizes](int a, int b) { return sizes[size_t(a)] > sizes[size_t(b)]; });
    control->bytesToHash.fetch_add(std::accumulate(sizes.begin(), sizes.end(), qint64(0)));

    // Every thread draws the next largest file as soon as it is free; each digest has its own slot.
    std::vector<QString> digests(size_t(paths.size()));
    std::atomic<size_t> next{0};
    const auto work = [&] {
        QByteArray chunk;
        for (size_t i = next++; i < order.size() && !control->bCancel; i = next++) {
            const int index = order[i];
            QFile file(paths.at(index));
            digests[size_t(index)] = digestOf(&file, control, chunk);
        }
    };

    const int threads = std::min(QThread::idealThreadCount(), int(paths.size()));
    QThreadPool helpers;
    helpers.setMaxThreadCount(std::max(1, threads - 1));
    for (int thread = 1; thread < threads; ++thread)
        helpers.start(work);
    work();
    helpers.waitForDone();

    QStringList result;
    result.reserve(paths.size());
    for (QString &digest : digests)
        result.append(std::move(digest));
    return result;
}

#include "receivebuffers.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <QFile>

#include <dirent.h>
#include <sys/socket.h>

#include <cstdlib>
#endif

namespace {

// Sizing looks at every descriptor of the process: at most once in this interval, however many
// answers begin, which is well before a new connection's buffer has grown.
constexpr int sizingIntervalMs = 50;
// While transfers read, how often they are measured against the limit, and how short of it they
// may fall before their buffers grow.
constexpr int measureIntervalMs = 1000;
constexpr int shortPercent = 90;
// A pause between reads this long is no round trip: there was nothing to fetch.
constexpr int idleMs = 500;
// Under a limit a buffer begins at this fraction of a second's worth, and doubles up to so often.
constexpr qint64 firstBufferDivisor = 24;
constexpr int mostGrowths = 3;

#ifdef Q_OS_LINUX
constexpr qint64 smallestLimitedBufferBytes = 32 * 1024;

// Read once: sizing comes up to twenty times a second while many small files arrive.
qint64 LargestReceiveBuffer()
{
    static const qint64 largest = [] {
        QFile setting(QStringLiteral("/proc/sys/net/core/rmem_max"));
        bool bNumber = false;
        const int bytes =
            setting.open(QIODevice::ReadOnly) ? setting.readAll().trimmed().toInt(&bNumber) : 0;
        return bNumber && bytes > 0 ? qint64(bytes) : qint64(4 * 1024 * 1024);
    }();
    return largest;
}

// Every TCP connection of the process is the updater's own, to its server or through a proxy.
void SetReceiveBufferOfConnections(int bytes)
{
    DIR *descriptors = opendir("/proc/self/fd");
    if (!descriptors)
        return;
    const int listing = dirfd(descriptors);
    while (const dirent *entry = readdir(descriptors)) {
        char *end = nullptr;
        const long descriptor = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || descriptor == listing)
            continue;
        const int socket = int(descriptor);
        int type = 0;
        socklen_t typeSize = sizeof type;
        sockaddr_storage peer{};
        socklen_t peerSize = sizeof peer;
        if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 || type != SOCK_STREAM
            || getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &peerSize) != 0
            || (peer.ss_family != AF_INET && peer.ss_family != AF_INET6))
            continue;
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    closedir(descriptors);
}
#endif

} // namespace

ReceiveBuffers::ReceiveBuffers(QObject *parent)
    : QObject(parent)
{
    nextSizing.setSingleShot(true);
    connect(&nextSizing, &QTimer::timeout, this, &ReceiveBuffers::SizeConnections);
}

void ReceiveBuffers::SetLimit(qint64 bytesPerSecond)
{
    if (bytesPerSecond == limit)
        return;
    limit = bytesPerSecond;
    growths = 0;
    SizeConnections();
}

void ReceiveBuffers::NoteAnswer()
{
    // Without a limit the system sizes each new connection itself.
    if (limit <= 0 || nextSizing.isActive())
        return;
    const qint64 sinceLast = sinceSized.isValid() ? sinceSized.elapsed() : sizingIntervalMs;
    nextSizing.start(int(qMax<qint64>(0, sizingIntervalMs - sinceLast)));
}

void ReceiveBuffers::NoteGranted(qint64 bytes)
{
    if (limit <= 0)
        return;
    if (!measuring.isValid() || sinceGranted.elapsed() >= idleMs) {
        measuring.start();
        measuredBytes = 0;
    }
    sinceGranted.start();
    measuredBytes += bytes;
    if (!nextSizing.isActive() && measuring.elapsed() >= measureIntervalMs)
        nextSizing.start(0);
}

void ReceiveBuffers::SizeConnections()
{
    nextSizing.stop();
    const qint64 measuredMs = measuring.isValid() ? measuring.elapsed() : 0;
    // Transfers that read all the while yet fall short of the limit wait for data the buffers
    // are too small to let through in one round trip.
    if (limit > 0 && measuredMs >= measureIntervalMs && growths < mostGrowths
        && measuredBytes * 1000 * 100 < limit * measuredMs * shortPercent)
        ++growths;
    measuring.invalidate();
    sinceSized.start();
#ifdef Q_OS_LINUX
    // Once a program has sized a buffer, the system sizes it no more: without a limit it may grow
    // to the largest the system allows.
    const qint64 largest = LargestReceiveBuffer();
    const qint64 limited = (limit << growths) / firstBufferDivisor;
    SetReceiveBufferOfConnections(
        int(limit > 0 ? qBound(smallestLimitedBufferBytes, limited, largest) : largest));
#endif
}

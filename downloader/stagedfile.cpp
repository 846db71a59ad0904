#include "stagedfile.h"

#include "app/updaterfiles.h"
#include "downloader/filereplacement.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtConcurrent>

namespace {

constexpr int minimumHandedOverPart = 64 * 1024;

} // namespace

QString StagedFile::stagingPath(int slot)
{
    return MarkerFiles::configFolder
           + (slot == 0 ? QStringLiteral("/Download.part")
                        : QStringLiteral("/Download-%1.part").arg(slot));
}

QString StagedFile::recordPath(int slot)
{
    return MarkerFiles::configFolder
           + (slot == 0 ? QStringLiteral("/Download.resume")
                        : QStringLiteral("/Download-%1.resume").arg(slot));
}

int StagedFile::slotOf(const QString &fileName)
{
    static const QRegularExpression name(QStringLiteral("^Download(?:-([1-9][0-9]{0,3}))?\\.(?:part|resume)$"));
    const QRegularExpressionMatch match = name.match(fileName);
    if (!match.hasMatch())
        return -1;
    return match.captured(1).isEmpty() ? 0 : match.captured(1).toInt();
}

StagedFile::StagedFile(const QString &target, int slot)
    : target(target)
    , staging(stagingPath(slot))
{
}

StagedFile::~StagedFile()
{
    bStopReread = true;
    digesting.waitForFinished();
    staging.close();
    // After a commit the staging file is gone already; without one, what it holds is worthless
    // unless a transfer may resume it.
    if (!bKept)
        QFile::remove(staging.fileName());
}

bool StagedFile::open()
{
    // The updater makes Config/ as it starts, but the Downloader does not count on that.
    QDir().mkpath(MarkerFiles::configFolder);
    // Unbuffered, so that a full disk fails the write that meets it rather than a later flush.
    if (!staging.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = staging.errorString();
        return false;
    }
    return true;
}

bool StagedFile::reopen()
{
    if (!staging.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        error = staging.errorString();
        return false;
    }
    bytesWritten = staging.size();
    if (!staging.seek(bytesWritten)) {
        restart();
        return false;
    }
    // A digest cannot be stored, so what was staged is read again; on another core, since it may
    // be gigabytes.
    const QString path = staging.fileName();
    const qint64 staged = bytesWritten;
    digesting = QtConcurrent::run([this, path, staged] {
        QFile copy(path);
        QByteArray chunk;
        qint64 read = 0;
        if (copy.open(QIODevice::ReadOnly)) {
            while (read < staged && !bStopReread) {
                chunk = copy.read(qMin<qint64>(staged - read, 1 << 20));
                if (chunk.isEmpty())
                    break;
                hash.addData(chunk);
                read += chunk.size();
            }
        }
        if (read != staged)
            bRereadFailed = true;
    });
    return true;
}

bool StagedFile::rereadFailed() const
{
    return bRereadFailed;
}

qint64 StagedFile::write(const QByteArray &data)
{
    qint64 written = staging.isOpen() ? staging.write(data) : -1;
    // A short write reports no error; the write of what is left then says why (a full disk).
    while (written >= 0 && written < data.size()) {
        const qint64 more = staging.write(data.constData() + written, data.size() - written);
        if (more <= 0)
            break;
        written += more;
    }
    if (written != data.size()) {
        writeFailed = true;
        error = staging.errorString();
    } else {
        bytesWritten += written;
        // A large part is digested on another core while the next one arrives (parts one at a time,
        // in order): inline, the digest would halve the speed of a fast connection. A small part
        // costs less than handing it over.
        digesting.waitForFinished();
        if (data.size() >= minimumHandedOverPart)
            digesting = QtConcurrent::run([this, data] { hash.addData(data); });
        else
            hash.addData(data);
    }
    return written;
}

void StagedFile::restart()
{
    bStopReread = true;
    digesting.waitForFinished();
    bStopReread = false;
    bRereadFailed = false;
    hash.reset();
    bytesWritten = 0;
    writeFailed = false;
    if (!staging.resize(0) || !staging.seek(0)) {
        writeFailed = true;
        error = staging.errorString();
    }
}

bool StagedFile::commit()
{
    if (!staging.isOpen() || writeFailed)
        return false;
    // Windows moves no file that is still open.
    staging.close();
    // The new copy takes over the target's permissions, except that its owner can always read and
    // write it: a read-only copy must not become a file that its owner cannot delete. The User
    // flags stay behind: they say what this process may do (anything, for root), not what the
    // target grants.
    const QFileInfo previous(target);
    const QFileDevice::Permissions userFlags =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    const QFileDevice::Permissions kept = previous.exists()
                                              ? previous.permissions() & ~userFlags
                                              : QFileDevice::ReadGroup | QFileDevice::ReadOther;
    staging.setPermissions(kept | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return MoveIntoPlace(staging.fileName(), target, &error);
}

qint64 StagedFile::size() const
{
    return bytesWritten;
}

QString StagedFile::fileName() const
{
    return target;
}

QString StagedFile::errorString() const
{
    return error;
}

QString StagedFile::md5()
{
    digesting.waitForFinished();
    return QString::fromLatin1(hash.result().toHex());
}

#include "stagedfile.h"

#include "app/updaterfiles.h"
#include "downloader/staging/filereplacement.h"

#include <QDir>
#include <QFileInfo>
#include <QtConcurrent>

namespace {

constexpr qint64 writebackBytes = 8 * 1024 * 1024;

} // namespace

StagedFile::StagedFile(const QString &target, int slot, qint64 handOverBytes)
    : target(target)
    , slot(slot)
    , staging(ConfigFiles::StagingPath(slot))
    , handOverBytes(handOverBytes)
{
}

StagedFile::~StagedFile()
{
    StopDigesting();
    staging.close();
    // After a commit the staging file is gone already; without one, what it holds is worthless
    // unless a transfer may resume it.
    if (!bKept)
        QFile::remove(staging.fileName());
}

std::optional<QString> StagedFile::OpenProblem()
{
    // The updater makes Config/ as it starts, but the Downloader does not count on that.
    QDir().mkpath(MarkerFiles::configFolder);
    // Unbuffered, so that a full disk fails the write that meets it rather than a later flush.
    if (!staging.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return staging.errorString();
    return std::nullopt;
}

std::optional<QString> StagedFile::ReopenProblem()
{
    if (!staging.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return staging.errorString();
    if (!staging.seek(staging.size())) {
        const QString problem = staging.errorString();
        staging.close();
        return problem;
    }
    bytesWritten = writtenBack = staging.size();
    // A digest cannot be stored, so what was staged is read again; on another core, since it may
    // be gigabytes.
    rereading = QtConcurrent::run([this, path = staging.fileName(), staged = bytesWritten] {
        return AddFileStartProblem(path, staged, &hash, &rereadControl);
    });
    return std::nullopt;
}

std::optional<QString> StagedFile::WriteProblem(const QByteArray &data)
{
    if (failure)
        return failure;
    qint64 written = staging.isOpen() ? staging.write(data) : -1;
    // A short write reports no error; the write of what is left then says why (a full disk).
    while (written >= 0 && written < data.size()) {
        const qint64 more = staging.write(data.constData() + written, data.size() - written);
        if (more <= 0)
            break;
        written += more;
    }
    if (written != data.size()) {
        failure = staging.errorString();
        return failure;
    }
    bytesWritten += written;
    // A large file goes to disk as it is written, rather than all at once when it is put in place.
    if (bytesWritten - writtenBack >= writebackBytes) {
        StartWriteback(&staging, writtenBack, bytesWritten - writtenBack);
        writtenBack = bytesWritten;
    }
    // A large part is digested on another core while the next one arrives (parts one at a time, in
    // order): inline, the digest would halve the speed of a fast connection.
    rereading.waitForFinished();
    digesting.waitForFinished();
    if (data.size() >= handOverBytes)
        digesting = QtConcurrent::run([this, data] { hash.addData(data); });
    else
        hash.addData(data);
    return std::nullopt;
}

void StagedFile::Restart()
{
    StopDigesting();
    hash.reset();
    bytesWritten = 0;
    writtenBack = 0;
    failure.reset();
    if (!staging.resize(0) || !staging.seek(0))
        failure = staging.errorString();
}

std::optional<QString> StagedFile::CommitProblem()
{
    if (failure)
        return failure;
    if (!staging.isOpen())
        return QStringLiteral("the staging file is not open");
    // Windows moves no file that is still open.
    staging.close();
    QDir().mkpath(QFileInfo(target).path());
    return MoveIntoPlaceProblem(staging.fileName(), target);
}

QString StagedFile::md5()
{
    rereading.waitForFinished();
    digesting.waitForFinished();
    return QString::fromLatin1(hash.result().toHex());
}

void StagedFile::StopDigesting()
{
    rereadControl.bCancel = true;
    rereading.waitForFinished();
    rereadControl.bCancel = false;
    digesting.waitForFinished();
}

#include "manifestcheck.h"

#include "app/updaterfiles.h"
#include "documents/installation/filehash.h"
#include "documents/installation/filestamp.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <optional>

using ListedFile = ManifestWalk::ListedFile;

namespace {

QString LocalPath(const QString &installationDir, const QString &relativePath)
{
    return installationDir.isEmpty() ? relativePath
                                     : installationDir + QLatin1Char('/') + relativePath;
}

// Notes the copy of the walk's file at index that is staged for the switch, if there is one, and
// how its digest is to be known: from the record, or by reading it.
void FindStagedCopy(ManifestWalk *walk, int index, const QSet<QString> &stagedCopies,
                    const QString &installationDir, DigestRecord *known)
{
    const DownloadItem &item = walk->files.at(index).item;
    ManifestWalk::StagedCopy copy;
    copy.path = ConfigFiles::StagedCopyPath(item.folder + item.fileName, item.size, item.md5);
    if (!stagedCopies.contains(copy.path))
        return;
    copy.stamp = ReadFileStamp(LocalPath(installationDir, copy.path));
    if (!copy.stamp)
        return;
    copy.md5 = known->take(copy.path, *copy.stamp);
    if (copy.md5.isEmpty()) {
        copy.hashed = walk->hashedPaths.size();
        walk->hashedPaths.append(LocalPath(installationDir, copy.path));
    } else {
        walk->check.verified.insert(copy.path, *copy.stamp, copy.md5);
    }
    walk->stagedCopies.insert(index, copy);
}

// Whether the file at index has a staged copy with its digest. One that was read goes into the
// record, whatever its digest.
bool IsStagedCopyVerified(ManifestWalk &walk, int index, const QVector<FileDigest> &digests)
{
    const auto copy = walk.stagedCopies.constFind(index);
    if (copy == walk.stagedCopies.constEnd())
        return false;
    QString md5 = copy->md5;
    if (copy->hashed >= 0) {
        const FileDigest &digest = digests.at(copy->hashed);
        if (digest.problem)
            return false;
        md5 = digest.md5;
        walk.check.verified.insert(copy->path, *copy->stamp, md5);
        walk.check.bVerifiedDiffers = true;
    }
    return md5 == walk.files.at(index).item.md5;
}

} // namespace

ManifestWalk WalkManifest(ManifestListing listing, const QStringList &notUpdatedFiles,
                          const QString &installationDir, DigestRecord known)
{
    ManifestWalk walk;
    ManifestCheck &check = walk.check;
    check.rejectedPaths = std::move(listing.rejectedPaths);
    check.ownPaths = std::move(listing.ownPaths);
    check.unlistedPaths = listing.unlistedPaths;
    walk.files.reserve(listing.files.size());
    // The items share their strings with the listing's, which go with it.
    for (const DownloadItem &item : qAsConst(listing.files)) {
        ListedFile file;
        file.item = item;
        walk.files.append(std::move(file));
    }
    listing.files = {};
    check.listedFiles = walk.files.size();

    const auto localPath = [&installationDir](const QString &relativePath) {
        return LocalPath(installationDir, relativePath);
    };

    // What an earlier pass or start staged is known by its name, and read only if its file differs.
    QSet<QString> stagedCopies;
    const QString stagedFolder = ConfigFiles::stagedFolder + QLatin1Char('/');
    for (const QString &name : QDir(localPath(ConfigFiles::stagedFolder)).entryList(QDir::Files))
        stagedCopies.insert(stagedFolder + name);

    // Missing, exempt and digest-less files cost only an existence test, and a file whose stamp the
    // record holds costs only its stamp. Entries move from the known record to the verified one, so
    // that the two together hold each file once.
    for (int index = 0; index < walk.files.size(); ++index) {
        ListedFile &file = walk.files[index];
        const QString path = localPath(file.relativePath());
        const bool bCompared = !file.item.md5.isEmpty() && !notUpdatedFiles.contains(file.item.fileName);
        // Taken before the file is read: a write that comes while it is changes the stamp.
        if (bCompared)
            file.stamp = ReadFileStamp(path);
        bool bPresent = bool(file.stamp);
        if (!bPresent) {
            const QFileInfo info(path);
            // A folder, a FIFO or a device is no installed file, and no download may replace it.
            if (info.exists() && !info.isFile()) {
                check.notRegularPaths.append(file.relativePath());
                continue;
            }
            bPresent = info.exists();
        }
        file.bQueue = !bPresent;
        if (bCompared && !stagedCopies.isEmpty())
            FindStagedCopy(&walk, index, stagedCopies, installationDir, &known);
        if (!bCompared || !bPresent)
            continue;
        const QString recorded = file.stamp ? known.take(file.relativePath(), *file.stamp) : QString();
        if (recorded.isEmpty()) {
            file.hashed = walk.hashedPaths.size();
            walk.hashedPaths.append(path);
        } else {
            file.bQueue = recorded != file.item.md5;
            file.item.localMd5 = recorded;
            check.verified.insert(file.relativePath(), *file.stamp, recorded);
            ++check.filesFromRecord;
        }
    }
    // Whatever the record held for another stamp or another file is gone from it.
    check.bVerifiedDiffers = known.size() > 0;
    return walk;
}

ManifestCheck FinishCheck(ManifestWalk walk, const QVector<FileDigest> &digests, bool bCancelled)
{
    ManifestCheck &check = walk.check;
    if (bCancelled) {
        check.bCancelled = true;
        return check;
    }
    check.filesHashed = walk.hashedPaths.size();
    for (int index = 0; index < walk.files.size(); ++index) {
        const ListedFile &file = walk.files.at(index);
        bool bQueue = file.bQueue;
        DownloadItem item = file.item;
        if (file.hashed >= 0) {
            const FileDigest &digest = digests.at(file.hashed);
            if (digest.problem) {
                check.unreadablePaths.append(file.relativePath());
                bQueue = true;
            } else {
                bQueue = digest.md5 != file.item.md5;
                item.localMd5 = digest.md5;
                if (file.stamp) {
                    check.verified.insert(file.relativePath(), *file.stamp, digest.md5);
                    check.bVerifiedDiffers = true;
                }
            }
        }
        if (bQueue && IsStagedCopyVerified(walk, index, digests)) {
            check.staged.append(item);
        } else if (bQueue) {
            check.downloads.append(item);
            check.bytesToDownload += file.item.size;
        }
    }
    return check;
}

ManifestCheck CheckManifest(ManifestListing listing, const QStringList &notUpdatedFiles,
                            const QString &installationDir, HashControl *control,
                            DigestRecord known)
{
    ManifestWalk walk =
        WalkManifest(std::move(listing), notUpdatedFiles, installationDir, std::move(known));
    const QVector<FileDigest> digests = Md5OfFiles(walk.hashedPaths, control).result();
    return FinishCheck(std::move(walk), digests, control && control->bCancel);
}

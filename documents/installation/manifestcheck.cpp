#include "manifestcheck.h"

#include "documents/installation/filehash.h"
#include "documents/installation/filestamp.h"
#include "documents/installation/manifestpath.h"

#include <QDomElement>
#include <QFileInfo>

#include <optional>

namespace {

using ListedFile = ManifestWalk::ListedFile;

// Whether the walk may write at path; if not, entry (the path as the manifest composes it) is noted
// in check.
bool isWritable(const QString &path, const QString &entry, ManifestCheck &check)
{
    if (!IsSafeManifestPath(path)) {
        check.rejectedPaths.append(entry);
        return false;
    }
    if (IsUpdaterOwnPath(path)) {
        check.ownPaths.append(entry);
        return false;
    }
    return true;
}

void collectFiles(const QDomNode &node, const QString &folder, QVector<ListedFile> &files,
                  ManifestCheck &check)
{
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (!child.isElement())
            continue;
        const QDomElement element = child.toElement();

        // Any element with content is a folder or a wrapper, even a FileProperties.
        if (element.hasChildNodes()) {
            QString subfolder = folder;
            const QString folderName = element.attribute(QStringLiteral("FolderName"));
            if (element.tagName() == QLatin1String("FolderProperties")
                && folderName != QLatin1String(".")) {
                subfolder += folderName + QLatin1Char('/');
                // The closing "/" would read as an empty last component.
                if (!isWritable(subfolder.chopped(1), subfolder, check))
                    continue;
            }
            collectFiles(element, subfolder, files, check);
        } else if (element.tagName() == QLatin1String("FileProperties")) {
            ListedFile file;
            file.item.folder = folder;
            file.item.fileName = element.attribute(QStringLiteral("FileName"));
            if (!isWritable(file.relativePath(), file.relativePath(), check))
                continue;
            file.item.size = element.attribute(QStringLiteral("Size"))
                                 .toLongLong(&file.item.bSizeListed, 10);
            // Tools differ in the case of their hexadecimal digits; the digest is the same.
            file.item.md5 = element.attribute(QStringLiteral("md5")).toLower();
            file.item.blockList = element.attribute(QStringLiteral("BlockList"));
            file.item.blockListHead =
                element.attribute(QStringLiteral("BlockListHead")).toLongLong();
            file.item.blockListSha256 = element.attribute(QStringLiteral("BlockListSha256")).toLower();
            files.append(file);
        }
    }
}

} // namespace

ManifestWalk WalkManifest(const QDomNode &node, const QString &folder,
                          const QStringList &notUpdatedFiles, const QString &installationDir,
                          DigestRecord known)
{
    ManifestWalk walk;
    ManifestCheck &check = walk.check;
    collectFiles(node, folder, walk.files, check);
    check.listedFiles = walk.files.size();

    const auto localPath = [&installationDir](const QString &relativePath) {
        return installationDir.isEmpty() ? relativePath
                                         : installationDir + QLatin1Char('/') + relativePath;
    };

    // Missing, exempt and digest-less files cost only an existence test, and a file whose stamp the
    // record holds costs only its stamp. Entries move from the known record to the verified one, so
    // that the two together hold each file once.
    for (ListedFile &file : walk.files) {
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
    for (const ListedFile &file : qAsConst(walk.files)) {
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
        if (bQueue) {
            check.downloads.append(item);
            check.bytesToDownload += file.item.size;
        }
    }
    return check;
}

ManifestCheck CheckManifest(const QDomNode &node, const QString &folder,
                            const QStringList &notUpdatedFiles, const QString &installationDir,
                            HashControl *control, DigestRecord known)
{
    ManifestWalk walk = WalkManifest(node, folder, notUpdatedFiles, installationDir, std::move(known));
    const QVector<FileDigest> digests = Md5OfFiles(walk.hashedPaths, control).result();
    return FinishCheck(std::move(walk), digests, control && control->bCancel);
}

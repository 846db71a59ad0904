#include "manifestcheck.h"

#include "documents/filehash.h"
#include "documents/filestamp.h"
#include "documents/manifestpath.h"

#include <QDomElement>
#include <QFileInfo>

#include <optional>

namespace {

struct ListedFile
{
    DownloadItem item;
    QString md5;
    // What the walk finds out about the local file.
    bool bPresent = false;
    bool bCompared = false;          // its digest decides whether it is fetched
    std::optional<FileStamp> stamp;
    QString digest;                  // recorded or read; empty if neither

    QString relativePath() const { return item.folder + item.fileName; }
};

void collectFiles(const QDomNode &node, const QString &folder, QVector<ListedFile> &files,
                  QStringList &rejectedPaths)
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
                if (!IsSafeManifestPath(subfolder.chopped(1))) {
                    rejectedPaths.append(subfolder);
                    continue;
                }
            }
            collectFiles(element, subfolder, files, rejectedPaths);
        } else if (element.tagName() == QLatin1String("FileProperties")) {
            ListedFile file;
            file.item.folder = folder;
            file.item.fileName = element.attribute(QStringLiteral("FileName"));
            if (!IsSafeManifestPath(folder + file.item.fileName)) {
                rejectedPaths.append(folder + file.item.fileName);
                continue;
            }
            file.item.size = element.attribute(QStringLiteral("Size")).toLongLong(nullptr, 10);
            file.md5 = element.attribute(QStringLiteral("md5"));
            files.append(file);
        }
    }
}

} // namespace

ManifestCheck CheckManifest(const QDomNode &node, const QString &folder,
                            const QStringList &notUpdatedFiles, const QString &installationDir,
                            HashControl *control, const DigestRecord &known)
{
    ManifestCheck check;
    QVector<ListedFile> files;
    collectFiles(node, folder, files, check.rejectedPaths);
    check.listedFiles = files.size();

    const auto localPath = [&installationDir](const QString &relativePath) {
        return installationDir.isEmpty() ? relativePath
                                         : installationDir + QLatin1Char('/') + relativePath;
    };

    // Missing, exempt and digest-less files cost only an existence test, and a file whose stamp the
    // record holds costs only its stamp.
    QVector<int> hashedFiles;
    QStringList hashedPaths;
    for (int i = 0; i < files.size(); ++i) {
        ListedFile &file = files[i];
        const QString path = localPath(file.relativePath());
        file.bCompared = !file.md5.isEmpty() && !notUpdatedFiles.contains(file.item.fileName);
        if (file.bCompared) {
            // Taken before the file is read: a write that comes while it is changes the stamp.
            file.stamp = ReadFileStamp(path);
            if (file.stamp)
                file.digest = known.digest(file.relativePath(), *file.stamp);
        }
        file.bPresent = file.stamp || QFileInfo::exists(path);
        if (!file.bCompared || !file.bPresent)
            continue;
        if (file.digest.isEmpty()) {
            hashedFiles.append(i);
            hashedPaths.append(path);
        } else {
            ++check.filesFromRecord;
        }
    }

    const QStringList freshDigests = Md5OfFiles(hashedPaths, control);
    if (control && control->bCancel) {
        check.bCancelled = true;
        return check;
    }
    check.filesHashed = hashedFiles.size();
    for (int hashed = 0; hashed < hashedFiles.size(); ++hashed)
        files[hashedFiles.at(hashed)].digest = freshDigests.at(hashed);

    for (const ListedFile &file : qAsConst(files)) {
        bool bQueue = !file.bPresent;
        if (file.bPresent && file.bCompared) {
            if (file.digest.isEmpty()) {
                check.unreadablePaths.append(file.relativePath());
            } else {
                bQueue = file.digest != file.md5;
                if (file.stamp)
                    check.verified.insert(file.relativePath(), *file.stamp, file.digest);
            }
        }
        if (bQueue) {
            check.downloads.append(file.item);
            check.bytesToDownload += file.item.size;
        }
    }
    return check;
}

#include "manifestcheck.h"

#include "documents/filehash.h"
#include "documents/manifestpath.h"

#include <QDomElement>
#include <QFileInfo>

namespace {

struct ListedFile
{
    DownloadItem item;
    QString md5;
};

void collectFiles(const QDomNode &node, const QString &folder, QList<ListedFile> &files,
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
                            HashControl *control)
{
    ManifestCheck check;
    QList<ListedFile> files;
    collectFiles(node, folder, files, check.rejectedPaths);
    check.listedFiles = files.size();

    const auto localPath = [&installationDir](const DownloadItem &item) {
        const QString path = item.folder + item.fileName;
        return installationDir.isEmpty() ? path : installationDir + QLatin1Char('/') + path;
    };

    // Missing, exempt and digest-less files cost only an existence test.
    QVector<bool> present(files.size());
    QVector<int> digestIndex(files.size(), -1);
    QStringList hashedPaths;
    for (int i = 0; i < files.size(); ++i) {
        const ListedFile &file = files.at(i);
        const QString path = localPath(file.item);
        present[i] = QFileInfo::exists(path);
        if (present[i] && !file.md5.isEmpty() && !notUpdatedFiles.contains(file.item.fileName)) {
            digestIndex[i] = hashedPaths.size();
            hashedPaths.append(path);
        }
    }

    const QStringList digests = Md5OfFiles(hashedPaths, control);
    if (control && control->bCancel) {
        check.bCancelled = true;
        return check;
    }

    for (int i = 0; i < files.size(); ++i) {
        const ListedFile &file = files.at(i);
        bool bQueue = !present.at(i);
        if (digestIndex.at(i) >= 0) {
            const QString &digest = digests.at(digestIndex.at(i));
            if (digest.isEmpty())
                check.unreadablePaths.append(file.item.folder + file.item.fileName);
            else
                bQueue = digest != file.md5;
        }
        if (bQueue) {
            check.downloads.append(file.item);
            check.bytesToDownload += file.item.size;
        }
    }
    return check;
}

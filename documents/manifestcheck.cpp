#include "manifestcheck.h"

#include "documents/filehash.h"
#include "documents/filestamp.h"
#include "documents/manifestpath.h"

#include <QDomElement>
#include <QFileInfo>

#include <optional>
#include <vector>

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
                            HashControl *control, const DigestRecord &known)
{
    ManifestCheck check;
    QList<ListedFile> files;
    collectFiles(node, folder, files, check.rejectedPaths);
    check.listedFiles = files.size();

    const auto localPath = [&installationDir](const QString &relativePath) {
        return installationDir.isEmpty() ? relativePath
                                         : installationDir + QLatin1Char('/') + relativePath;
    };

    // Missing, exempt and digest-less files cost only an existence test, and a file whose stamp the
    // record holds costs only its stamp.
    QVector<bool> present(files.size());
    QVector<bool> compared(files.size());
    QStringList digests;
    digests.reserve(files.size());
    std::vector<std::optional<FileStamp>> stamps(size_t(files.size()));
    QVector<int> hashedFiles;
    QStringList hashedPaths;
    for (int i = 0; i < files.size(); ++i) {
        const ListedFile &file = files.at(i);
        const QString relativePath = file.item.folder + file.item.fileName;
        const QString path = localPath(relativePath);
        digests.append(QString());
        compared[i] = !file.md5.isEmpty() && !notUpdatedFiles.contains(file.item.fileName);
        if (!compared.at(i)) {
            present[i] = QFileInfo::exists(path);
            continue;
        }
        // Taken before the file is read: a write that comes while it is, changes the stamp.
        std::optional<FileStamp> &stamp = stamps[size_t(i)];
        stamp = ReadFileStamp(path);
        present[i] = stamp || QFileInfo::exists(path);
        if (stamp)
            digests[i] = known.digest(relativePath, *stamp);
        if (!digests.at(i).isEmpty()) {
            check.verified.insert(relativePath, *stamp, digests.at(i));
            ++check.filesFromRecord;
        } else if (present.at(i)) {
            hashedFiles.append(i);
            hashedPaths.append(path);
        }
    }

    const QStringList freshDigests = Md5OfFiles(hashedPaths, control);
    if (control && control->bCancel) {
        check.bCancelled = true;
        check.verified = DigestRecord();
        return check;
    }
    check.filesHashed = hashedFiles.size();
    for (int hashed = 0; hashed < hashedFiles.size(); ++hashed) {
        const int i = hashedFiles.at(hashed);
        digests[i] = freshDigests.at(hashed);
        const std::optional<FileStamp> &stamp = stamps[size_t(i)];
        if (stamp && !digests.at(i).isEmpty())
            check.verified.insert(files.at(i).item.folder + files.at(i).item.fileName, *stamp,
                                  digests.at(i));
    }

    for (int i = 0; i < files.size(); ++i) {
        const ListedFile &file = files.at(i);
        bool bQueue = !present.at(i);
        if (present.at(i) && compared.at(i)) {
            if (digests.at(i).isEmpty())
                check.unreadablePaths.append(file.item.folder + file.item.fileName);
            else
                bQueue = digests.at(i) != file.md5;
        }
        if (bQueue) {
            check.downloads.append(file.item);
            check.bytesToDownload += file.item.size;
        }
    }
    return check;
}

#include "commands.h"
#include "progress.h"

#include "documents/installation/filehash.h"
#include "documents/installation/manifestcheck.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

ExitCode CheckInstallation(const QString &manifestPath, const QString &folder)
{
    QFile manifestFile(manifestPath);
    if (!manifestFile.open(QIODevice::ReadOnly)) {
        ReportError(QStringLiteral("cannot open %1: %2").arg(manifestPath, manifestFile.errorString()));
        return BadInput;
    }
    ManifestListing manifest;
    if (const std::optional<QString> problem =
            ManifestListingProblem(manifestFile.readAll(), QString(), &manifest)) {
        ReportError(QStringLiteral("cannot use %1: %2").arg(manifestPath, *problem));
        return BadInput;
    }
    if (!QFileInfo(folder).isDir()) {
        ReportError(folder + QStringLiteral(": no such folder"));
        return BadInput;
    }

    ManifestWalk walk = WalkManifest(std::move(manifest), QStringList(), folder);
    HashControl control;
    const QVector<FileDigest> digests = WaitShowingProgress(Md5OfFiles(walk.hashedPaths, &control), control);
    const ManifestCheck check = FinishCheck(std::move(walk), digests, false);

    for (const DownloadItem &item : check.downloads) {
        const QString path = item.folder + item.fileName;
        const bool bPresent = QFileInfo::exists(folder + QLatin1Char('/') + path);
        std::printf("%s: %s\n", bPresent ? "differs" : "missing", qUtf8Printable(path));
    }
    std::fflush(stdout);
    for (const QString &path : check.rejectedPaths + check.ownPaths)
        ReportError(path + QStringLiteral(": path the updater would refuse in ") + manifestPath);
    for (const QString &path : check.notRegularPaths)
        ReportError(folder + QLatin1Char('/') + path + QStringLiteral(": not a regular file"));
    for (const QString &path : check.unreadablePaths)
        ReportError(folder + QLatin1Char('/') + path + QStringLiteral(": cannot read file"));

    if (!check.rejectedPaths.isEmpty() || !check.ownPaths.isEmpty()
        || !check.notRegularPaths.isEmpty() || !check.unreadablePaths.isEmpty())
        return BadInput;
    return check.downloads.isEmpty() ? Success : FilesDiffer;
}

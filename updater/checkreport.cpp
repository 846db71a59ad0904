#include "checkreport.h"

#include "app/runlog.h"

void LogCheckFindings(const ManifestCheck &check)
{
    for (const QString &path : check.rejectedPaths)
        qCWarning(lcRun).noquote() << "Skipped a manifest entry with an unsafe path:" << path;
    for (const QString &path : check.ownPaths) {
        qCWarning(lcRun).noquote()
            << "Skipped a manifest entry that names one of the updater's own files:" << path;
    }
    if (check.unlistedPaths > 0) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Skipped %1 more manifest entries with unsafe paths or paths of the "
                              "updater's own files").arg(check.unlistedPaths);
    }
    for (const QString &path : check.unreadablePaths)
        qCWarning(lcRun).noquote() << QStringLiteral("Cannot read %1: it is fetched again").arg(path);
    for (const QString &problem : check.recordProblems)
        qCWarning(lcRun).noquote() << problem;
    qCInfo(lcRun).noquote() << QStringLiteral("Checked %1 files: read %2, knew %3 from the record")
                                   .arg(check.listedFiles)
                                   .arg(check.filesHashed)
                                   .arg(check.filesFromRecord);
}

#include "selfupdate.h"

#include "app/runlog.h"
#include "app/updaterfiles.h"
#include "downloader/staging/stagedswitch.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

RoundFiles PutUpdaterFirst(const QList<DownloadItem> &downloads, const QList<DownloadItem> &staged,
                           const QString &program, const QString &rejectedMd5)
{
    RoundFiles round{downloads, staged, false, false};
    const auto isProgram = [&program](const DownloadItem &item) {
        return item.folder + item.fileName == program;
    };
    for (const QList<DownloadItem> *files : {&downloads, &staged}) {
        const auto found = std::find_if(files->cbegin(), files->cend(), isProgram);
        if (program.isEmpty() || found == files->cend())
            continue;
        if (!rejectedMd5.isEmpty() && found->md5 == rejectedMd5) {
            round.bRejected = true;
            for (QList<DownloadItem> *kept : {&round.downloads, &round.staged})
                kept->erase(std::remove_if(kept->begin(), kept->end(), isProgram), kept->end());
            return round;
        }
        const DownloadItem item = *found;
        round.downloads = files == &downloads ? QList<DownloadItem>{item} : QList<DownloadItem>();
        round.staged = files == &staged ? QList<DownloadItem>{item} : QList<DownloadItem>();
        round.bUpdaterOnly = true;
        return round;
    }
    return round;
}

RoundFiles NextRound(const ManifestCheck &check, const QString &program)
{
    RoundFiles round = PutUpdaterFirst(check.downloads, check.staged, program, RejectedUpdaterMd5());
    RemoveStagedCopiesExcept(round.bUpdaterOnly ? check.staged + check.downloads
                                                : round.staged + round.downloads);
    if (round.bRejected) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Keeping the updater program %1: the release's did not start before")
                   .arg(program);
    }
    for (const DownloadItem &item : qAsConst(round.downloads))
        round.bytesToFetch += item.size;
    return round;
}

std::optional<QString> SwapInUpdater(const DownloadItem &item, const QString &program)
{
    const ProgramSwap swap = SwapProgram(StagedCopyOf(item), program);
    if (swap.problem) {
        qCWarning(lcRun).noquote()
            << QStringLiteral("Cannot swap the updater program %1: %2").arg(program, *swap.problem);
        RejectUpdater(item.md5);
        return std::nullopt;
    }
    qCInfo(lcRun).noquote() << QStringLiteral("Swapped the updater program %1: MD5 %2 for %3, "
                                              "kept at %4; starting the new one")
                                   .arg(program,
                                        item.localMd5.isEmpty() ? QStringLiteral("unknown")
                                                                : item.localMd5,
                                        item.md5, swap.aside);
    return swap.aside;
}

QString RejectedUpdaterMd5()
{
    QFile record(ConfigFiles::rejectedUpdater);
    if (!record.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(record.read(64).trimmed());
}

void RejectUpdater(const QString &md5)
{
    QSaveFile record(ConfigFiles::rejectedUpdater);
    if (record.open(QIODevice::WriteOnly)) {
        record.write(md5.toLatin1() + '\n');
        record.commit();
    }
}

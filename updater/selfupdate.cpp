#include "selfupdate.h"

#include "app/updaterfiles.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace {

bool IsProgram(const DownloadItem &item, const QString &program)
{
    return item.folder + item.fileName == program;
}

} // namespace

RoundFiles PutUpdaterFirst(const QList<DownloadItem> &downloads, const QList<DownloadItem> &staged,
                           const QString &program, const QString &rejectedMd5)
{
    RoundFiles round{downloads, staged, false, false};
    if (program.isEmpty())
        return round;
    for (QList<DownloadItem> *files : {&round.downloads, &round.staged}) {
        for (const DownloadItem &item : qAsConst(*files)) {
            if (!IsProgram(item, program))
                continue;
            if (!rejectedMd5.isEmpty() && item.md5 == rejectedMd5) {
                round.bRejected = true;
                break;
            }
            const bool bStaged = files == &round.staged;
            round.downloads = bStaged ? QList<DownloadItem>() : QList<DownloadItem>{item};
            round.staged = bStaged ? QList<DownloadItem>{item} : QList<DownloadItem>();
            round.bUpdaterOnly = true;
            return round;
        }
    }
    if (round.bRejected) {
        for (QList<DownloadItem> *files : {&round.downloads, &round.staged}) {
            files->erase(std::remove_if(files->begin(), files->end(),
                                        [&program](const DownloadItem &item) {
                                            return IsProgram(item, program);
                                        }),
                         files->end());
        }
    }
    return round;
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

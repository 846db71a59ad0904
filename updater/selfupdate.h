#ifndef SELFUPDATE_H
#define SELFUPDATE_H

#include "documents/installation/downloaditem.h"
#include "documents/installation/manifestcheck.h"

#include <QList>
#include <QString>

#include <optional>

// What a round fetches and switches, once the updater's own program has been looked for among its
// files: a new program goes first and alone, since the new one does the rest of the run; one that
// did not start before (rejectedMd5) is left out, and the game's files go on without it.
struct RoundFiles
{
    QList<DownloadItem> downloads;
    QList<DownloadItem> staged;
    bool bUpdaterOnly = false;  // the round is the updater's program alone
    bool bRejected = false;     // the release's program is the one that did not start
    qint64 bytesToFetch = 0;    // the sum of the downloads' sizes
};

[[nodiscard]] RoundFiles PutUpdaterFirst(const QList<DownloadItem> &downloads,
                                         const QList<DownloadItem> &staged,
                                         const QString &program, const QString &rejectedMd5);

// The next round of a run after check, for a run whose own program is program (empty: outside
// the folder). What was staged for another release, for a file in place by now, or for a program
// that did not start, is removed; the log hears of a program that is passed over.
[[nodiscard]] RoundFiles NextRound(const ManifestCheck &check, const QString &program);

// Puts the staged copy of item, the updater's new program, in place of the running one at program:
// where the running one is kept, for the entry that hands the folder over. Where it cannot, item's
// program is not tried again, and the log says why.
[[nodiscard]] std::optional<QString> SwapInUpdater(const DownloadItem &item,
                                                   const QString &program);

// The MD5 digest of the program that did not start (ConfigFiles::rejectedUpdater), or nothing.
[[nodiscard]] QString RejectedUpdaterMd5();
// The program of this digest is not to be tried again.
void RejectUpdater(const QString &md5);

#endif // SELFUPDATE_H

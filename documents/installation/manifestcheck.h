#ifndef MANIFESTCHECK_H
#define MANIFESTCHECK_H

#include "documents/installation/digestrecord.h"
#include "documents/installation/downloaditem.h"
#include "documents/installation/filehash.h"
#include "documents/installation/filestamp.h"
#include "documents/installation/manifestlisting.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// What a walk over the game manifest found.
struct ManifestCheck
{
    QList<DownloadItem> downloads;  // files missing or different, in document order
    qint64 bytesToDownload = 0;     // the sum of their sizes
    // Files missing or different whose verified copy is staged already (ConfigFiles::StagedCopyPath):
    // only their switch is left.
    QList<DownloadItem> staged;
    int listedFiles = 0;            // files listed with a safe path, whatever their state
    QStringList rejectedPaths;      // folder or file paths that are not safe to write
    QStringList ownPaths;           // folder or file paths of the updater's own files
    int unlistedPaths = 0;          // more of either, beyond those named
    QStringList notRegularPaths;    // a folder, FIFO or device stands there: never written into
    QStringList unreadablePaths;    // present but unreadable: queued, since nothing vouches for them
    bool bCancelled = false;        // the walk was stopped and found nothing
    DigestRecord verified;          // the digest and stamp of every file it read or knew from the record
    bool bVerifiedDiffers = false;  // verified is not the known record it started from
    int filesHashed = 0;            // files read to their end or to a failure
    int filesFromRecord = 0;        // files that the record spared reading
    QStringList recordProblems;     // why the record was not used or not written, for the log
};

// A check of the installation between its two halves: the manifest walked and the files looked at,
// and the digests that must be read for it to end.
struct ManifestWalk
{
    struct ListedFile
    {
        DownloadItem item;
        // What the walk found out about the local file.
        bool bQueue = false;             // missing, or different by its recorded digest
        int hashed = -1;                 // its place in hashedPaths, if it is read
        std::optional<FileStamp> stamp;  // as it was before it was read

        QString relativePath() const { return item.folder + item.fileName; }
    };

    // A staged copy of a listed file, for the case that the file is to be fetched.
    struct StagedCopy
    {
        QString path;    // relative to the installation
        int hashed = -1;  // its place in hashedPaths, if it is read
        std::optional<FileStamp> stamp;
        QString md5;     // as the record knew it, if it did
    };

    ManifestCheck check;      // what is known before the files are read
    QVector<ListedFile> files;
    QHash<int, StagedCopy> stagedCopies;  // by the index of their file in files
    QStringList hashedPaths;  // the local paths of the files whose digests must be read
};

// Checks the files of the listing against the local files below installationDir (empty: the current
// directory). A file is to be downloaded when it is missing, or when it has an md5, its bare name is
// not in notUpdatedFiles and its digest is not that md5 (in any case) or it cannot be read; unless
// a copy with that digest is staged for it, which leaves it to be switched. The digest of a file
// whose stamp the known record holds is taken from there; every other file is read. Paths where
// something other than a regular file stands are neither read nor queued.
//
// The check comes in two halves, so that the files can be read on the thread pool in between:
// WalkManifest, then FinishCheck with the digests of the walk's hashedPaths (Md5OfFiles).
[[nodiscard]] ManifestWalk WalkManifest(ManifestListing listing,
                                        const QStringList &notUpdatedFiles,
                                        const QString &installationDir = QString(),
                                        DigestRecord known = DigestRecord());
// bCancelled: the digests were stopped, and the check finds nothing.
[[nodiscard]] ManifestCheck FinishCheck(ManifestWalk walk, const QVector<FileDigest> &digests,
                                        bool bCancelled);

// Both halves, waiting for the digests: for a caller outside the thread pool.
ManifestCheck CheckManifest(ManifestListing listing, const QStringList &notUpdatedFiles,
                            const QString &installationDir = QString(),
                            HashControl *control = nullptr,
                            DigestRecord known = DigestRecord());

#endif // MANIFESTCHECK_H

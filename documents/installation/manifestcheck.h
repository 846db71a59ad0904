#ifndef MANIFESTCHECK_H
#define MANIFESTCHECK_H

#include "documents/installation/digestrecord.h"
#include "documents/installation/downloaditem.h"

#include <QList>
#include <QString>
#include <QStringList>

class QDomNode;
struct HashControl;

// What a walk over the game manifest found.
struct ManifestCheck
{
    QList<DownloadItem> downloads;  // files missing or different, in document order
    qint64 bytesToDownload = 0;     // the sum of their sizes
    int listedFiles = 0;            // files listed with a safe path, whatever their state
    QStringList rejectedPaths;      // folder or file paths that are not safe to write
    QStringList ownPaths;           // folder or file paths of the updater's own files
    QStringList notRegularPaths;    // a folder, FIFO or device stands there: never written into
    QStringList unreadablePaths;    // present but unreadable: queued, since nothing vouches for them
    bool bCancelled = false;        // the walk was stopped and found nothing
    DigestRecord verified;          // the digest and stamp of every file it read or knew from the record
    bool bVerifiedDiffers = false;  // verified is not the known record it started from
    int filesHashed = 0;            // files read to their end or to a failure
    int filesFromRecord = 0;        // files that the record spared reading
    QStringList recordProblems;     // why the record was not used or not written, for the log
};

// Checks the files listed below node, which lie in folder (empty at the top, otherwise ending in
// "/"), against the local files below installationDir (empty: the current directory). A file is to
// be downloaded when it is missing, or when it has an md5, its bare name is not in notUpdatedFiles and
// its digest is not that md5 (in any case) or it cannot be read. The digest of a file whose stamp the
// known record holds is taken from there; every other file is read. Rejected and own paths, and paths
// where something other than a regular file stands, are neither read nor queued. The manifest is
// read on the calling thread only; the files are hashed on every core (see Md5OfFiles).
ManifestCheck CheckManifest(const QDomNode &node, const QString &folder,
                            const QStringList &notUpdatedFiles,
                            const QString &installationDir = QString(),
                            HashControl *control = nullptr,
                            DigestRecord known = DigestRecord());

#endif // MANIFESTCHECK_H

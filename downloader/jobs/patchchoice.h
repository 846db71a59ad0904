#ifndef PATCHCHOICE_H
#define PATCHCHOICE_H

#include "documents/installation/downloaditem.h"
#include "downloader/jobs/expectation.h"

#include <QString>

#include <optional>

// Whether a file that differs is patched from its old copy rather than fetched whole: it has a
// block list that may be asked for, a digest and a size to check the result against, and an old
// copy that is a file with something in it; and it has not fallen back to a whole file in this run
// (bFellBack). Fetched whole, reason says why where a patch was offered, for the log.
struct PatchChoice
{
    bool bPatch = false;
    std::optional<QString> reason;
};
PatchChoice ChoosePatch(const DownloadItem &item, const TransferExpectation &expected,
                        bool bFellBack, qint64 documentBytes);

// Whether the manifest names a block list for item that may be asked for.
bool HasUsableBlockList(const DownloadItem &item, qint64 documentBytes);

#endif // PATCHCHOICE_H

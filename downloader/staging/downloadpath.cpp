#include "downloadpath.h"

#include "documents/installation/manifestpath.h"

bool IsSafeDownloadPath(const QString &dir, const QString &file)
{
    // The folder is also created on its own; with its "/" every component of it stands whole in the
    // joined path, where the rule sees it.
    return (dir.isEmpty() || dir.endsWith(QLatin1Char('/'))) && IsSafeManifestPath(dir + file);
}

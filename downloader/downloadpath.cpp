#include "downloadpath.h"

#include "documents/manifestpath.h"

bool IsSafeDownloadPath(const QString &dir, const QString &file)
{
    // Joined, "." and "./x" would make "../x".
    return IsSafeManifestPath(dir) && IsSafeManifestPath(file) && IsSafeManifestPath(dir + file);
}

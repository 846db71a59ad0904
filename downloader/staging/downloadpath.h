#ifndef DOWNLOADPATH_H
#define DOWNLOADPATH_H

#include <QString>

// Whether the local path dir + file stays below the current directory and names no device. The
// names come from the server's manifest, so the manifest's rule applies to the two joined; dir is
// empty or ends in "/".
bool IsSafeDownloadPath(const QString &dir, const QString &file);

#endif // DOWNLOADPATH_H

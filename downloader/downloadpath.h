#ifndef DOWNLOADPATH_H
#define DOWNLOADPATH_H

#include <QString>

// Whether the local path dir + file stays below the current directory. The names come from the
// server's manifest, so the manifest's rule applies, to dir, to file and to the two joined.
bool IsSafeDownloadPath(const QString &dir, const QString &file);

#endif // DOWNLOADPATH_H

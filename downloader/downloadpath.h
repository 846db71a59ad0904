#ifndef DOWNLOADPATH_H
#define DOWNLOADPATH_H

#include <QString>

// Whether the local path dir + file stays below the current directory. The names come from the
// server's manifest, so a hostile or broken one must not make the updater write elsewhere: refused
// are absolute paths, drive letters, ".." components, backslashes (a separator on Windows) and
// control characters, in dir, in file and in the two joined.
bool IsSafeDownloadPath(const QString &dir, const QString &file);

#endif // DOWNLOADPATH_H

#ifndef MANIFESTPATH_H
#define MANIFESTPATH_H

#include <QString>

// Whether a path composed from a manifest (folder path followed by file name, "/" separators) stays
// below the folder it is taken relative to. The manifest arrives over plain HTTP and the updater runs
// with administrator rights, so a path that is absolute, starts with a drive letter, climbs with "..",
// holds a backslash or a control character must never be read or written.
bool IsSafeManifestPath(const QString &path);

#endif // MANIFESTPATH_H

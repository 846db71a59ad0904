#ifndef MANIFESTPATH_H
#define MANIFESTPATH_H

#include <QString>

// Whether a path composed from a manifest (folder path followed by file name, "/" separators, no
// trailing "/") names a file or folder below the folder it is taken relative to, and no Windows
// device. The manifest arrives over plain HTTP and the updater runs with administrator rights, so a
// path is refused when it is absolute, holds an empty component, a component that ends in a dot or
// a blank (".." among them) or that is a device name with or without an extension ("nul",
// "Aux.txt"), a ":", a backslash or a control character, or more than longestManifestPath
// characters.
constexpr int longestManifestPath = 1024;
bool IsSafeManifestPath(const QString &path);

// Whether a safe path (as above) names one of the updater's own files: anything below Config/ (its
// lock, markers, record of digests, log and staging files), ReleaseNotes.old, or the documents and
// their signatures at the top. No release may write those. Case does not count: on Windows
// "config/x" is the same file.
bool IsUpdaterOwnPath(const QString &path);

#endif // MANIFESTPATH_H

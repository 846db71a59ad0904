#ifndef MARKERFILE_H
#define MARKERFILE_H

#include <QString>

// Creates (or empties) the marker at path (app/updaterfiles.h names them), or removes it. A failure
// is silent: a marker that cannot be written only costs the feature that reads it, never the run.
void SetMarkerFile(const QString &path, bool bPresent);

#endif // MARKERFILE_H

#ifndef MARKERFILE_H
#define MARKERFILE_H

#include <QString>

// Empty files under Config/ whose presence alone carries meaning. They are relative to the current
// directory, not to the executable, so that every installation folder keeps its own.
namespace MarkerFiles {

inline const QString configFolder = QStringLiteral("Config");
inline const QString lock = QStringLiteral("Config/UU_Lock.setting");
inline const QString accepted = QStringLiteral("Config/UU_Accepted.setting");
inline const QString installed = QStringLiteral("Config/UU_Installed.setting");

} // namespace MarkerFiles

// Creates (or empties) the marker at path, or removes it. A failure is silent: a marker that cannot be
// written only costs the feature that reads it, never the run.
void SetMarkerFile(const QString &path, bool bPresent);

#endif // MARKERFILE_H

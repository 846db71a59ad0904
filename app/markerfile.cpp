#include "markerfile.h"

#include <QFile>

void SetMarkerFile(const QString &path, bool bPresent)
{
    QFile marker(path);
    if (bPresent) {
        // Opening write-only truncates, so a marker that somebody filled is empty again.
        marker.open(QIODevice::WriteOnly);
        marker.close();
    } else {
        marker.remove();
    }
}

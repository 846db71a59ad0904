#include "diskspace.h"

#include "app/updaterfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

StagingSpace MeasureStagingSpace(qint64 bytesToStage)
{
    StagingSpace space;
    space.needed = bytesToStage;
    const QStorageInfo storage(QDir::currentPath());
    if (!storage.isValid() || storage.bytesAvailable() < 0) {
        space.available = bytesToStage;
        return space;
    }
    space.disk = storage.rootPath();
    space.available = storage.bytesAvailable();
    const QFileInfoList freed = QDir(MarkerFiles::configFolder)
                                    .entryInfoList({QStringLiteral("Download*.part"),
                                                    ConfigFiles::replacedCopies},
                                                   QDir::Files);
    for (const QFileInfo &file : freed)
        space.available += file.size();
    return space;
}

QString StagingSpace::Shortage() const
{
    return QStringLiteral("Not enough space on the disk %1 for the update: it needs %2 bytes, %3 "
                          "are free for it")
        .arg(disk)
        .arg(needed)
        .arg(available);
}

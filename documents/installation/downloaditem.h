#ifndef DOWNLOADITEM_H
#define DOWNLOADITEM_H

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One file waiting to be fetched. folder is relative to the current directory: empty at the top level,
// otherwise ending in "/"; the local path is folder followed directly by fileName.
struct DownloadItem
{
    QString folder;
    QString fileName;
    qint64 size = 0;           // expected size in bytes, from the manifest (0 if not a number)
    bool bSizeListed = false;  // the manifest gives the size as a number
    QString md5;               // the manifest's digest in lower case, if any
};
Q_DECLARE_METATYPE(DownloadItem)

#endif // DOWNLOADITEM_H

#ifndef MANIFESTWRITER_H
#define MANIFESTWRITER_H

#include <QByteArray>
#include <QList>
#include <QString>

// One file of an installation as the manifest lists it. path is relative to the installation, with
// "/" separators.
struct ManifestFile
{
    QString path;
    qint64 size = 0;
    QString md5;
    // Its block list, for a large file (tools/publishing/blocklistwriter.h): empty for none.
    QString blockList;
    qint64 blockListHead = 0;
    QString blockListSha256;
};

// A GameManifest.xml for the files: a FolderProperties tree whose outer folder is ".", each folder
// holding its files and then its subfolders, both in code-point order of their names, so that the
// same installation always gives the same document. Folders without files do not appear.
QByteArray WriteManifest(QList<ManifestFile> files);

#endif // MANIFESTWRITER_H

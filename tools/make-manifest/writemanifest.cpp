#include "commands.h"
#include "progress.h"

#include "app/updaterfiles.h"
#include "documents/installation/filehash.h"
#include "documents/installation/manifestpath.h"
#include "tools/publishing/manifestwriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

// The updater fetches the documents at the top of the release before it reads the manifest; they
// are not files of the installation. Listed, they could never match: the notes change after the
// manifest, the manifest cannot hold its own digest, and a signature follows its document. Any case
// counts, since on Windows a file of the installation so named would be the document itself.
bool isReleaseDocument(const QString &path)
{
    static const QStringList documents = {DocumentFiles::releaseNotes,
                                          DocumentFiles::releaseNotesSignature,
                                          DocumentFiles::manifest, DocumentFiles::manifestSignature};
    return documents.contains(path, Qt::CaseInsensitive);
}

// Every file below folder, except the manifest being written and the documents at the top; false
// after reporting a folder that cannot be read or a name that the updater would refuse.
bool listFiles(const QString &folder, const QString &outputPath, QList<ManifestFile> &files,
               QStringList &absolutePaths)
{
    const QDir root(QFileInfo(folder).absoluteFilePath());
    const QString output = outputPath.isEmpty() ? QString() : QFileInfo(outputPath).absoluteFilePath();
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    bool bGood = true;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir()) {
            // The iterator passes over a folder that it cannot list without a word.
            if (!info.isReadable() || !info.isExecutable()) {
                ReportError(info.filePath() + QStringLiteral(": cannot read folder"));
                bGood = false;
            }
            continue;
        }
        if (info.absoluteFilePath() == output)
            continue;
        const QString path = root.relativeFilePath(info.absoluteFilePath());
        if (isReleaseDocument(path))
            continue;
        if (!IsSafeManifestPath(path)) {
            ReportError(info.filePath() + QStringLiteral(": name the updater would refuse"));
            bGood = false;
            continue;
        }
        files.append({path, info.size(), QString()});
        absolutePaths.append(info.absoluteFilePath());
    }
    return bGood;
}

bool writeOut(const QString &outputPath, const QByteArray &document)
{
    if (outputPath.isEmpty()) {
        QFile out;
        if (out.open(stdout, QIODevice::WriteOnly) && out.write(document) == document.size()
            && out.flush())
            return true;
        ReportError(QStringLiteral("cannot write to standard output: ") + out.errorString());
        return false;
    }
    QSaveFile out(outputPath);
    if (out.open(QIODevice::WriteOnly) && out.write(document) == document.size() && out.commit())
        return true;
    ReportError(QStringLiteral("cannot write %1: %2").arg(outputPath, out.errorString()));
    return false;
}

} // namespace

ExitCode WriteManifestOf(const QString &folder, const QString &outputPath)
{
    if (!QFileInfo(folder).isDir()) {
        ReportError(folder + QStringLiteral(": no such folder"));
        return BadInput;
    }
    QList<ManifestFile> files;
    QStringList absolutePaths;
    if (!listFiles(folder, outputPath, files, absolutePaths))
        return BadInput;

    HashControl control;
    const QVector<FileDigest> digests = WaitShowingProgress(Md5OfFiles(absolutePaths, &control), control);
    bool bGood = true;
    for (int i = 0; i < files.size(); ++i) {
        if (digests.at(i).problem) {
            ReportError(absolutePaths.at(i) + QStringLiteral(": cannot read file"));
            bGood = false;
        }
        files[i].md5 = digests.at(i).md5;
    }
    if (!bGood)
        return BadInput;
    return writeOut(outputPath, WriteManifest(files)) ? Success : BadInput;
}

void ReportError(const QString &message)
{
    std::fprintf(stderr, "make-manifest: %s\n", qUtf8Printable(message));
}

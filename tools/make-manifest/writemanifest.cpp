#include "commands.h"
#include "progress.h"

#include "app/updaterfiles.h"
#include "documents/installation/filehash.h"
#include "documents/installation/manifestpath.h"
#include "documents/patch/blocklist.h"
#include "tools/publishing/blocklistwriter.h"
#include "tools/publishing/manifestwriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QtConcurrent>

#include <cstdio>
#include <functional>

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

// The block lists that this tool writes beside the installation are served, not installed.
bool isBlockList(const QString &path)
{
    return path.startsWith(BlockListFormat::folder + QLatin1Char('/'), Qt::CaseInsensitive);
}

// Writes the block list of every file of blocksFrom bytes or more, on every core, and names it in
// files; then removes the lists of earlier releases that no file has any more. False after
// reporting a file that could not be read or a list that could not be written.
bool writeBlockLists(const QString &folder, qint64 blocksFrom, QList<ManifestFile> &files,
                     const QStringList &absolutePaths)
{
    QVector<int> large;
    HashControl control;
    for (int i = 0; i < files.size(); ++i) {
        if (blocksFrom >= 0 && files.at(i).size >= blocksFrom && files.at(i).size > 0) {
            large.append(i);
            control.bytesToHash += files.at(i).size;
        }
    }
    QSet<QString> written;
    bool bGood = true;
    if (!large.isEmpty()) {
        // Qt 5's mapped() takes the result's type from a std::function, not from a lambda.
        const std::function<BlockListResult(int)> write = [&](int i) {
            return WriteBlockList(absolutePaths.at(i), files.at(i).md5, folder, &control);
        };
        const QFuture<BlockListResult> lists = QtConcurrent::mapped(large, write);
        WaitShowingProgress(lists, control);
        for (int n = 0; n < large.size(); ++n) {
            const BlockListResult result = lists.resultAt(n);
            if (result.problem) {
                ReportError(*result.problem);
                bGood = false;
                continue;
            }
            ManifestFile &file = files[large.at(n)];
            file.blockList = result.list.path;
            file.blockListHead = result.list.headBytes;
            file.blockListSha256 = result.list.headSha256;
            written.insert(result.list.path);
        }
    }
    const QDir listFolder(folder + QLatin1Char('/') + BlockListFormat::folder);
    const QStringList existing = listFolder.entryList({QStringLiteral("*.blocks")}, QDir::Files);
    for (const QString &name : existing) {
        if (!written.contains(BlockListFormat::folder + QLatin1Char('/') + name))
            QFile::remove(listFolder.filePath(name));
    }
    return bGood;
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
        if (isBlockList(path)) {
            // A file of the game there would never reach the players.
            if (!path.endsWith(QLatin1String(".blocks"))) {
                ReportError(info.filePath() + QStringLiteral(": the folder ") + BlockListFormat::folder
                            + QStringLiteral(" at the top holds block lists only"));
                bGood = false;
            }
            continue;
        }
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

ExitCode WriteManifestOf(const QString &folder, const QString &outputPath, qint64 blocksFrom)
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
    if (!bGood || !writeBlockLists(folder, blocksFrom, files, absolutePaths))
        return BadInput;
    return writeOut(outputPath, WriteManifest(files)) ? Success : BadInput;
}

void ReportError(const QString &message)
{
    std::fprintf(stderr, "make-manifest: %s\n", qUtf8Printable(message));
}

#include "manifestwriter.h"

#include <QStringList>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

// Orders paths as a depth-first walk of their tree meets them: within a folder, files before
// subfolders.
bool walkOrder(const QStringList &a, const QStringList &b)
{
    const int common = std::min(a.size(), b.size());
    for (int i = 0; i < common; ++i) {
        const bool aFile = i == a.size() - 1;
        const bool bFile = i == b.size() - 1;
        if (aFile != bFile)
            return aFile;
        const int order = QString::compare(a.at(i), b.at(i), Qt::CaseSensitive);
        if (order != 0)
            return order < 0;
    }
    return a.size() < b.size();
}

} // namespace

QByteArray WriteManifest(QList<ManifestFile> files)
{
    QList<QPair<QStringList, ManifestFile>> byComponents;
    byComponents.reserve(files.size());
    for (ManifestFile &file : files)
        byComponents.append({file.path.split(QLatin1Char('/')), std::move(file)});
    std::sort(byComponents.begin(), byComponents.end(),
              [](const auto &a, const auto &b) { return walkOrder(a.first, b.first); });

    QByteArray document;
    QXmlStreamWriter writer(&document);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("FolderProperties"));
    writer.writeAttribute(QStringLiteral("FolderName"), QStringLiteral("."));

    QStringList openFolders;
    for (const auto &entry : qAsConst(byComponents)) {
        const QStringList folders = entry.first.mid(0, entry.first.size() - 1);
        int shared = 0;
        while (shared < openFolders.size() && shared < folders.size()
               && openFolders.at(shared) == folders.at(shared))
            ++shared;
        while (openFolders.size() > shared) {
            writer.writeEndElement();
            openFolders.removeLast();
        }
        for (int i = shared; i < folders.size(); ++i) {
            writer.writeStartElement(QStringLiteral("FolderProperties"));
            writer.writeAttribute(QStringLiteral("FolderName"), folders.at(i));
            openFolders.append(folders.at(i));
        }
        writer.writeEmptyElement(QStringLiteral("FileProperties"));
        writer.writeAttribute(QStringLiteral("FileName"), entry.first.last());
        writer.writeAttribute(QStringLiteral("Size"), QString::number(entry.second.size));
        writer.writeAttribute(QStringLiteral("md5"), entry.second.md5);
        // Older updaters read none of these, and fetch the file whole.
        if (!entry.second.blockList.isEmpty()) {
            writer.writeAttribute(QStringLiteral("BlockList"), entry.second.blockList);
            writer.writeAttribute(QStringLiteral("BlockListHead"),
                                  QString::number(entry.second.blockListHead));
            writer.writeAttribute(QStringLiteral("BlockListSha256"), entry.second.blockListSha256);
        }
    }
    writer.writeEndDocument();
    return document;
}

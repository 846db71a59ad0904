// What reading one document costs in memory: builds a document of the shape asked for, reads it as
// the updater does, or as a tree of Qt's DOM (as every document was read before), and prints its size,
// the growth of the peak resident memory while it was read, and the milliseconds it took.
//
//   documents_bench SHAPE READER
//
// SHAPE: manifest (100,000 files in 100 folders, as make-manifest writes them), elements (16 MiB of
// empty elements), attributes (16 MiB of files with 60 attributes each), folders (16 MiB of folders
// 250 deep with names of 1,000 characters), entities (one entity of 4,000 characters used 250,000
// times), notes (1 MiB of notes). READER: updater or dom.

#include "documents/installation/manifestlisting.h"
#include "documents/release/xmldocument.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

QByteArray Document(const QByteArray &shape)
{
    constexpr int sixteenMiB = 16 << 20;
    QByteArray document;
    if (shape == "manifest") {
        document = "<FolderProperties FolderName=\".\">";
        for (int folder = 0; folder < 100; ++folder) {
            document += "<FolderProperties FolderName=\"Folder" + QByteArray::number(folder) + "\">";
            for (int file = 0; file < 1000; ++file) {
                document += "<FileProperties FileName=\"file" + QByteArray::number(file)
                            + ".uasset\" Size=\"" + QByteArray::number(12345 + file)
                            + "\" md5=\"0123456789abcdef0123456789abcdef\"/>\n";
            }
            document += "</FolderProperties>";
        }
        document += "</FolderProperties>";
    } else if (shape == "elements") {
        document = "<M>" + QByteArray("<a/>").repeated(sixteenMiB / 4) + "</M>";
    } else if (shape == "attributes") {
        QByteArray file = "<FileProperties FileName=\"f\"";
        for (int i = 0; i < 60; ++i)
            file += " a" + QByteArray::number(i) + "=\"\"";
        file += "/>";
        document = "<M>" + file.repeated(sixteenMiB / file.size()) + "</M>";
    } else if (shape == "folders") {
        const QByteArray open = "<FolderProperties FolderName=\"" + QByteArray(1000, 'f') + "\">";
        const QByteArray chain = open.repeated(250) + "<FileProperties FileName=\"f\"/>"
                                 + QByteArray("</FolderProperties>").repeated(250);
        document = "<M>" + chain.repeated(sixteenMiB / chain.size()) + "</M>";
    } else if (shape == "entities") {
        document = "<!DOCTYPE R [<!ENTITY e \"" + QByteArray(4000, 'e') + "\">]><R><Notes>"
                   + QByteArray("&e;").repeated(250000) + "</Notes></R>";
    } else if (shape == "notes") {
        document = "<ReleaseNotes><Version>1.0</Version><Notes>"
                   + QByteArray("*New* in this release: _faster_ loading.\n").repeated(25000)
                   + "</Notes></ReleaseNotes>";
    }
    return document;
}

qint64 PeakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void ResetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: documents_bench SHAPE READER\n");
        return 2;
    }
    const QByteArray shape = argv[1];
    const QByteArray reader = argv[2];
    const QByteArray document = Document(shape);
    if (document.isEmpty()) {
        std::fprintf(stderr, "documents_bench: no shape %s\n", argv[1]);
        return 2;
    }
    ResetPeak();
    const qint64 before = PeakKiB();
    QElapsedTimer clock;
    clock.start();
    QString outcome = QStringLiteral("read");
    if (reader == "dom") {
        QDomDocument tree;
        if (!tree.setContent(document))
            outcome = QStringLiteral("not read");
    } else if (shape == "notes" || shape == "entities") {
        QDomDocument tree;
        if (XmlProblem(document, &tree))
            outcome = QStringLiteral("refused");
    } else {
        ManifestListing listing;
        if (ManifestListingProblem(document, QString(), &listing))
            outcome = QStringLiteral("refused");
    }
    std::printf("%d %lld %lld %s\n", document.size(), PeakKiB() - before,
                static_cast<long long>(clock.elapsed()), qPrintable(outcome));
    return 0;
}

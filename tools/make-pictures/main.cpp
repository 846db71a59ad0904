// Draws the embedded pictures and the Windows icon, so that they can be remade from source:
//   make-pictures <pictures folder> <Windows resources folder>

#include "iconfile.h"
#include "pictures.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QImageWriter>
#include <QSaveFile>
#include <QTextStream>

namespace {

// The resource compiler squeezes these with zlib, which only gains when the PNG itself is stored
// without deflate; the others are embedded as they are, so they are deflated here as far as it goes.
enum class Packing { LeaveToResourceCompiler, Deflate };

bool writePicture(const QDir &folder, const QString &name, const QImage &image, Packing packing)
{
    QImageWriter writer(folder.filePath(name), "png");
    writer.setQuality(packing == Packing::LeaveToResourceCompiler ? 100 : 0);
    if (writer.write(image))
        return true;
    QTextStream(stderr) << "make-pictures: cannot write " << writer.fileName() << ": "
                        << writer.errorString() << '\n';
    return false;
}

bool writeIcon(const QDir &folder, const QString &name)
{
    QVector<IconFile::Entry> entries;
    for (int size : {16, 20, 24, 32, 40, 48, 64, 256})
        entries << IconFile::Entry{Pictures::icon(size), 32, size == 256};
    for (int size : {16, 32, 48})
        entries << IconFile::Entry{Pictures::icon(size), 8, false};
    for (int size : {16, 32})
        entries << IconFile::Entry{Pictures::icon(size, Pictures::Shading::Flat), 4, false};

    QSaveFile file(folder.filePath(name));
    if (file.open(QIODevice::WriteOnly) && file.write(IconFile::encode(entries)) >= 0 && file.commit())
        return true;
    QTextStream(stderr) << "make-pictures: cannot write " << file.fileName() << ": "
                        << file.errorString() << '\n';
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Draws the updater's pictures and its Windows icon."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("pictures"),
                                 QStringLiteral("Folder for the embedded PNG pictures (data/Res)."));
    parser.addPositionalArgument(QStringLiteral("windows"),
                                 QStringLiteral("Folder for the Windows icon (app/windows)."));
    parser.process(application);
    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 2)
        parser.showHelp(1);
    const QDir pictures(folders[0]);
    const QDir windows(folders[1]);
    pictures.mkpath(QStringLiteral("."));
    windows.mkpath(QStringLiteral("."));

    const bool written =
        writePicture(pictures, QStringLiteral("Launch.png"), Pictures::launchArrow(),
                     Packing::LeaveToResourceCompiler)
        && writePicture(pictures, QStringLiteral("MainBackground.png"), Pictures::mainBackground(),
                        Packing::LeaveToResourceCompiler)
        && writePicture(pictures, QStringLiteral("3b8c9df840c68c03b2634b8f4827e3b4.png"),
                        Pictures::overlay(), Packing::Deflate)
        && writePicture(pictures, QStringLiteral("Icon.png"), Pictures::icon(256), Packing::Deflate)
        && writePicture(pictures, QStringLiteral("AboutBackground.png"), Pictures::aboutBackground(),
                        Packing::LeaveToResourceCompiler)
        && writeIcon(windows, QStringLiteral("updater.ico"));
    return written ? 0 : 1;
}

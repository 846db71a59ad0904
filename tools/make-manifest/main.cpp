#include "commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("make-manifest"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the GameManifest.xml of a release, or checks an installation against one.\n"
        "\n"
        "make-manifest [-o FILE] FOLDER\n"
        "  Lists every file below FOLDER with its name, size and MD5 digest in a tree of\n"
        "  FolderProperties whose outer folder is \".\", files before subfolders, each in name\n"
        "  order. The manifest goes to standard output, or to FILE (which is then left out).\n"
        "\n"
        "make-manifest --check MANIFEST FOLDER\n"
        "  Checks the files below FOLDER as the updater does and prints one line for each file\n"
        "  of MANIFEST that is missing or differs: \"missing: PATH\" or \"differs: PATH\".\n"
        "\n"
        "Files are hashed on every core, the largest first. While they are, a progress bar is\n"
        "drawn on standard error if it is a terminal.\n"
        "\n"
        "Exit codes:\n"
        "  0  the manifest was written, or every file matches\n"
        "  1  --check found a file that is missing or differs\n"
        "  2  bad input: a missing folder, an unreadable file or folder, a manifest that cannot\n"
        "     be read or does not parse, a name in the folder or a path in the manifest that the\n"
        "     updater would refuse, or wrong arguments; one line on standard error names each."));
    parser.addHelpOption();
    const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                          QStringLiteral("Write the manifest to FILE."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption checkOption(QStringLiteral("check"),
                                         QStringLiteral("Check FOLDER against MANIFEST."),
                                         QStringLiteral("MANIFEST"));
    parser.addOption(outputOption);
    parser.addOption(checkOption);
    parser.addPositionalArgument(QStringLiteral("FOLDER"),
                                 QStringLiteral("The installation: the folder to list or check."));

    if (!parser.parse(QCoreApplication::arguments())) {
        ReportError(parser.errorText());
        return BadInput;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Success);

    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1) {
        ReportError(QStringLiteral("expected one FOLDER; see --help"));
        return BadInput;
    }
    if (parser.isSet(checkOption)) {
        if (parser.isSet(outputOption)) {
            ReportError(QStringLiteral("-o does not go with --check"));
            return BadInput;
        }
        return CheckInstallation(parser.value(checkOption), folders.first());
    }
    return WriteManifestOf(folders.first(), parser.value(outputOption));
}

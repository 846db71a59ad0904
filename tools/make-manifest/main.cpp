#include "commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("make-manifest"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the GameManifest.xml of a release, checks an installation against one, and signs\n"
        "the release's documents.\n"
        "\n"
        "make-manifest [-o FILE] FOLDER\n"
        "  Lists every file below FOLDER with its name, size and MD5 digest in a tree of\n"
        "  FolderProperties whose outer folder is \".\", files before subfolders, each in name\n"
        "  order. The manifest goes to standard output, or to FILE (which is then left out).\n"
        "  ReleaseNotes.xml, GameManifest.xml and their .sig files at the top of FOLDER are left\n"
        "  out too, in any case: the updater fetches them as documents before it reads the\n"
        "  manifest. Files of these names deeper in the tree are listed.\n"
        "\n"
        "make-manifest --check MANIFEST FOLDER\n"
        "  Checks the files below FOLDER as the updater does and prints one line for each file\n"
        "  of MANIFEST that is missing or differs: \"missing: PATH\" or \"differs: PATH\".\n"
        "\n"
        "Files are hashed on every core, the largest first. While they are, a progress bar is\n"
        "drawn on standard error if it is a terminal.\n"
        "\n"
        "make-manifest --keygen SECRET_FILE\n"
        "  Makes a new Ed25519 key pair. The secret key goes to SECRET_FILE, which must not exist\n"
        "  yet: its base64 and a newline, readable and writable by its owner only (on Windows,\n"
        "  as the folder allows). Keep it off the server. The public key's base64 goes to\n"
        "  standard output; an updater built with -DUPDATER_PUBLIC_KEY=<it> checks that the\n"
        "  documents it fetches were signed with SECRET_FILE.\n"
        "\n"
        "make-manifest --sign SECRET_FILE DOCUMENT...\n"
        "  Writes DOCUMENT.sig beside each DOCUMENT: the base64 of its detached Ed25519 signature\n"
        "  and a newline. Sign ReleaseNotes.xml and GameManifest.xml after their last change and\n"
        "  serve the .sig files beside them.\n"
        "\n"
        "make-manifest --verify PUBLIC_KEY DOCUMENT\n"
        "  Checks DOCUMENT.sig against DOCUMENT with the base64 PUBLIC_KEY, as the updater does.\n"
        "\n"
        "Exit codes:\n"
        "  0  done: the manifest, the key pair or the signatures were written, every file\n"
        "     matches, or the signature holds\n"
        "  1  --check found a file that is missing or differs, or --verify found that DOCUMENT.sig\n"
        "     does not hold: it is not the base64 of 64 bytes, or not a signature of DOCUMENT\n"
        "     with the secret key of PUBLIC_KEY\n"
        "  2  bad input: a missing folder, an unreadable file or folder, a manifest that cannot\n"
        "     be read or does not parse, a name in the folder or a path in the manifest that the\n"
        "     updater would refuse, a PUBLIC_KEY or SECRET_FILE that holds no key, a SECRET_FILE\n"
        "     that exists already for --keygen, a missing DOCUMENT or DOCUMENT.sig, a file that\n"
        "     cannot be written, or wrong arguments; one line on standard error names each."));
    parser.addHelpOption();
    const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                          QStringLiteral("Write the manifest to FILE."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption checkOption(QStringLiteral("check"),
                                         QStringLiteral("Check FOLDER against MANIFEST."),
                                         QStringLiteral("MANIFEST"));
    const QCommandLineOption keygenOption(QStringLiteral("keygen"),
                                          QStringLiteral("Write a new key pair to SECRET_FILE."),
                                          QStringLiteral("SECRET_FILE"));
    const QCommandLineOption signOption(QStringLiteral("sign"),
                                        QStringLiteral("Sign each DOCUMENT with SECRET_FILE."),
                                        QStringLiteral("SECRET_FILE"));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
                                          QStringLiteral("Check DOCUMENT.sig with PUBLIC_KEY."),
                                          QStringLiteral("PUBLIC_KEY"));
    const QList<QCommandLineOption> commandOptions = {checkOption, keygenOption, signOption,
                                                      verifyOption};
    parser.addOption(outputOption);
    parser.addOptions(commandOptions);
    parser.addPositionalArgument(QStringLiteral("FOLDER"),
                                 QStringLiteral("The installation: the folder to list or check."));
    parser.addPositionalArgument(QStringLiteral("DOCUMENT"),
                                 QStringLiteral("With --sign or --verify: a release document."),
                                 QStringLiteral("| DOCUMENT..."));

    if (!parser.parse(QCoreApplication::arguments())) {
        ReportError(parser.errorText());
        return BadInput;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(Success);

    QStringList commands;
    for (const QCommandLineOption &option : commandOptions) {
        if (parser.isSet(option))
            commands << QStringLiteral("--") + option.names().first();
    }
    if (commands.size() > 1) {
        ReportError(commands.join(QStringLiteral(" and ")) + QStringLiteral(" do not go together"));
        return BadInput;
    }
    if (!commands.isEmpty() && parser.isSet(outputOption)) {
        ReportError(QStringLiteral("-o does not go with ") + commands.first());
        return BadInput;
    }

    const QStringList arguments = parser.positionalArguments();
    if (parser.isSet(keygenOption)) {
        if (!arguments.isEmpty()) {
            ReportError(QStringLiteral("--keygen takes no FOLDER or DOCUMENT; see --help"));
            return BadInput;
        }
        return GenerateKeys(parser.value(keygenOption));
    }
    if (parser.isSet(signOption)) {
        if (arguments.isEmpty()) {
            ReportError(QStringLiteral("expected a DOCUMENT to sign; see --help"));
            return BadInput;
        }
        return SignDocuments(parser.value(signOption), arguments);
    }
    if (parser.isSet(verifyOption)) {
        if (arguments.size() != 1) {
            ReportError(QStringLiteral("expected one DOCUMENT to verify; see --help"));
            return BadInput;
        }
        return VerifySignature(parser.value(verifyOption), arguments.first());
    }
    if (arguments.size() != 1) {
        ReportError(QStringLiteral("expected one FOLDER; see --help"));
        return BadInput;
    }
    if (parser.isSet(checkOption))
        return CheckInstallation(parser.value(checkOption), arguments.first());
    return WriteManifestOf(arguments.first(), parser.value(outputOption));
}

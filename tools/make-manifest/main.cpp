#include "commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <optional>

namespace {

// A size as --blocks-from takes it: bytes, or K, M or G of them; -1 for "off".
std::optional<qint64> ParseBlocksFrom(const QString &text)
{
    if (text == QLatin1String("off"))
        return -1;
    static const QRegularExpression size(QStringLiteral("^(\\d{1,9})([KMG]?)$"));
    const QRegularExpressionMatch match = size.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int shift = QStringLiteral(" KMG").indexOf(match.captured(2).isEmpty() ? QStringLiteral(" ")
                                                                                   : match.captured(2));
    return match.captured(1).toLongLong() << (10 * shift);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("make-manifest"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the GameManifest.xml of a release, checks an installation against one, and signs\n"
        "the release's documents.\n"
        "\n"
        "make-manifest [-o FILE] [--blocks-from SIZE] FOLDER\n"
        "  Lists every file below FOLDER with its name, size and MD5 digest in a tree of\n"
        "  FolderProperties whose outer folder is \".\", files before subfolders, each in name\n"
        "  order. The manifest goes to standard output, or to FILE (which is then left out).\n"
        "  ReleaseNotes.xml, GameManifest.xml and their .sig files at the top of FOLDER are left\n"
        "  out too, in any case: the updater fetches them as documents before it reads the\n"
        "  manifest. Files of these names deeper in the tree are listed.\n"
        "  Every file of SIZE or more (4M unless given; a number of bytes, with K, M or G for\n"
        "  binary multiples, or \"off\" for none) also gets a block list, which an updater uses\n"
        "  to fetch only what changed in it: FOLDER/BlockLists/<its MD5>.blocks, named in the\n"
        "  manifest with the SHA-256 digest of its head. Serve the folder as it is. Lists that\n"
        "  no file has any more are removed. The folder BlockLists at the top holds block lists\n"
        "  only: it is never listed, and any other file in it is bad input.\n"
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
        "make-manifest --sign SECRET_FILE NOTES MANIFEST [--release N] [--expires DATE]\n"
        "  Signs a release. Writes into NOTES, its ReleaseNotes.xml, as the last child of the\n"
        "  root, <SignedRelease Number=\"N\" Manifest=\"<SHA-256 of MANIFEST>\" Expires=\"...\"/>\n"
        "  in place of any SignedRelease it had, the rest of the file left as it is; then\n"
        "  NOTES.sig and MANIFEST.sig beside them: the base64 of each one's detached Ed25519\n"
        "  signature and a newline. As the notes' signature covers the statement, an updater\n"
        "  built with the public key takes MANIFEST only with these NOTES, no release below the\n"
        "  one it installed, and this one not after DATE. Sign after the last change to either\n"
        "  document and serve all four files. Prints \"signed release N, ...\".\n"
        "  The last number signed with SECRET_FILE is kept in SECRET_FILE.last-release. The\n"
        "  release is the one after it (1 for the first), or N, which must be above it.\n"
        "  DATE is a day, 2026-12-31 (good through its end, UTC), or a UTC time,\n"
        "  2026-12-31T18:00:00Z; without --expires the release does not expire.\n"
        "\n"
        "make-manifest --verify PUBLIC_KEY NOTES [MANIFEST]\n"
        "  Checks NOTES.sig and the statement in NOTES with the base64 PUBLIC_KEY, as the\n"
        "  updater does, and prints \"release N, good through TIME\" or \"release N, no expiry\".\n"
        "  With MANIFEST, also MANIFEST.sig and that MANIFEST is the one NOTES were signed with.\n"
        "\n"
        "Exit codes:\n"
        "  0  done: the manifest, the key pair or the signed release was written, every file\n"
        "     matches, or the release holds as an updater checks it\n"
        "  1  --check found a file that is missing or differs, or --verify found what an updater\n"
        "     refuses: a .sig that is not the base64 of 64 bytes or not a signature of its\n"
        "     document with the secret key of PUBLIC_KEY, NOTES without one good SignedRelease,\n"
        "     a release that expired, or a MANIFEST that NOTES were not signed with\n"
        "  2  bad input: a missing folder, an unreadable file or folder, a manifest that cannot\n"
        "     be read or does not parse, a name in the folder or a path in the manifest that the\n"
        "     updater would refuse, a PUBLIC_KEY or SECRET_FILE that holds no key, a SECRET_FILE\n"
        "     that exists already for --keygen, a missing document or .sig, NOTES that are not\n"
        "     UTF-8 XML, a --release not above the last, a --expires that is past, a file that\n"
        "     cannot be written, or wrong arguments; one line on standard error names each."));
    parser.addHelpOption();
    const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                          QStringLiteral("Write the manifest to FILE."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption blocksFromOption(QStringLiteral("blocks-from"),
                                              QStringLiteral("Block lists for files of SIZE or more."),
                                              QStringLiteral("SIZE"));
    const QCommandLineOption checkOption(QStringLiteral("check"),
                                         QStringLiteral("Check FOLDER against MANIFEST."),
                                         QStringLiteral("MANIFEST"));
    const QCommandLineOption keygenOption(QStringLiteral("keygen"),
                                          QStringLiteral("Write a new key pair to SECRET_FILE."),
                                          QStringLiteral("SECRET_FILE"));
    const QCommandLineOption signOption(QStringLiteral("sign"),
                                        QStringLiteral("Sign NOTES and MANIFEST with SECRET_FILE."),
                                        QStringLiteral("SECRET_FILE"));
    const QCommandLineOption releaseOption(QStringLiteral("release"),
                                           QStringLiteral("With --sign: the release number."),
                                           QStringLiteral("N"));
    const QCommandLineOption expiresOption(QStringLiteral("expires"),
                                           QStringLiteral("With --sign: the last day or time."),
                                           QStringLiteral("DATE"));
    const QCommandLineOption verifyOption(QStringLiteral("verify"),
                                          QStringLiteral("Check NOTES (and MANIFEST) with PUBLIC_KEY."),
                                          QStringLiteral("PUBLIC_KEY"));
    const QList<QCommandLineOption> commandOptions = {checkOption, keygenOption, signOption,
                                                      verifyOption};
    parser.addOption(outputOption);
    parser.addOption(blocksFromOption);
    parser.addOptions(commandOptions);
    parser.addOptions({releaseOption, expiresOption});
    parser.addPositionalArgument(QStringLiteral("FOLDER"),
                                 QStringLiteral("The installation: the folder to list or check."));
    parser.addPositionalArgument(QStringLiteral("NOTES"),
                                 QStringLiteral("With --sign or --verify: the release's notes."),
                                 QStringLiteral("| NOTES"));
    parser.addPositionalArgument(QStringLiteral("MANIFEST"),
                                 QStringLiteral("With --sign, or --verify: the release's manifest."),
                                 QStringLiteral("[MANIFEST]"));

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
    for (const QCommandLineOption &option : {outputOption, blocksFromOption}) {
        if (!commands.isEmpty() && parser.isSet(option)) {
            ReportError(QStringLiteral("%1 does not go with %2")
                            .arg(option.names().size() > 1 ? QStringLiteral("-o")
                                                           : QStringLiteral("--blocks-from"),
                                 commands.first()));
            return BadInput;
        }
    }

    for (const QCommandLineOption &option : {releaseOption, expiresOption}) {
        if (parser.isSet(option) && !parser.isSet(signOption)) {
            ReportError(QStringLiteral("--%1 goes only with --sign").arg(option.names().first()));
            return BadInput;
        }
    }

    const QStringList arguments = parser.positionalArguments();
    if (parser.isSet(keygenOption)) {
        if (!arguments.isEmpty()) {
            ReportError(QStringLiteral("--keygen takes no FOLDER or NOTES; see --help"));
            return BadInput;
        }
        return GenerateKeys(parser.value(keygenOption));
    }
    if (parser.isSet(signOption)) {
        if (arguments.size() != 2) {
            ReportError(QStringLiteral("--sign takes NOTES and MANIFEST; see --help"));
            return BadInput;
        }
        const auto valueOf = [&parser](const QCommandLineOption &option) {
            return parser.isSet(option) ? std::optional<QString>(parser.value(option)) : std::nullopt;
        };
        return SignDocuments(parser.value(signOption), arguments.at(0), arguments.at(1),
                             valueOf(releaseOption), valueOf(expiresOption));
    }
    if (parser.isSet(verifyOption)) {
        if (arguments.isEmpty() || arguments.size() > 2) {
            ReportError(QStringLiteral("--verify takes NOTES, and MANIFEST to check with them; "
                                       "see --help"));
            return BadInput;
        }
        return VerifySignature(parser.value(verifyOption), arguments.at(0), arguments.value(1));
    }
    if (arguments.size() != 1) {
        ReportError(QStringLiteral("expected one FOLDER; see --help"));
        return BadInput;
    }
    if (parser.isSet(checkOption))
        return CheckInstallation(parser.value(checkOption), arguments.first());
    qint64 blocksFrom = defaultBlocksFrom;
    if (parser.isSet(blocksFromOption)) {
        const std::optional<qint64> size = ParseBlocksFrom(parser.value(blocksFromOption));
        if (!size) {
            ReportError(QStringLiteral("--blocks-from takes a size such as 4M, or off: \"%1\"")
                            .arg(parser.value(blocksFromOption)));
            return BadInput;
        }
        blocksFrom = *size;
    }
    return WriteManifestOf(arguments.first(), parser.value(outputOption), blocksFrom);
}

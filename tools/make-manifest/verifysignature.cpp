#include "commands.h"

#include "documents/release/releasesignature.h"

#include <cstdio>

namespace {

enum class Signature { Holds, Fails, Unreadable };

// Whether path.sig proves path's content, after reporting why not.
Signature checkSignature(const QString &path, const QByteArray &publicKey, QByteArray *content)
{
    const FileContent document = ReadWholeFile(path);
    const FileContent signatureFile =
        document.problem ? FileContent() : ReadWholeFile(path + QStringLiteral(".sig"));
    if (const std::optional<QString> problem = document.problem ? document.problem
                                                                : signatureFile.problem) {
        ReportError(*problem);
        return Signature::Unreadable;
    }
    *content = document.bytes;
    if (const std::optional<QString> problem =
            SignatureProblem(*content, signatureFile.bytes, publicKey)) {
        ReportError(path + QStringLiteral(".sig: ") + *problem);
        return Signature::Fails;
    }
    return Signature::Holds;
}

ExitCode exitCodeOf(Signature signature)
{
    return signature == Signature::Unreadable ? BadInput : SignatureFails;
}

} // namespace

ExitCode VerifySignature(const QString &publicKeyText, const QString &notesPath,
                         const QString &manifestPath)
{
    const DecodedKey publicKey = DecodePublicKey(publicKeyText.toUtf8());
    if (publicKey.problem) {
        ReportError(QStringLiteral("PUBLIC_KEY is not the base64 of 32 bytes: ") + publicKeyText);
        return BadInput;
    }
    QByteArray notes;
    const Signature notesSignature = checkSignature(notesPath, publicKey.key, &notes);
    if (notesSignature != Signature::Holds)
        return exitCodeOf(notesSignature);
    const StatementReading reading = ReadReleaseStatement(notes);
    if (!reading.statement) {
        ReportError(notesPath + QStringLiteral(": ") + *reading.problem);
        return SignatureFails;
    }
    const ReleaseStatement &statement = *reading.statement;
    std::printf("%s\n", qPrintable(DescribeRelease(statement)));

    // The check of a player's updater without a record of its installed release.
    if (const auto problem = StaleReleaseProblem(statement, std::nullopt,
                                                 QDateTime::currentDateTimeUtc())) {
        ReportError(notesPath + QStringLiteral(": ") + *problem);
        return SignatureFails;
    }
    if (manifestPath.isEmpty())
        return Success;
    QByteArray manifest;
    const Signature manifestSignature = checkSignature(manifestPath, publicKey.key, &manifest);
    if (manifestSignature != Signature::Holds)
        return exitCodeOf(manifestSignature);
    if (const auto problem = ForeignManifestProblem(statement, manifest)) {
        ReportError(manifestPath + QStringLiteral(": ") + *problem);
        return SignatureFails;
    }
    std::printf("%s: the manifest of release %lld\n", qPrintable(manifestPath),
                static_cast<long long>(statement.number));
    return Success;
}

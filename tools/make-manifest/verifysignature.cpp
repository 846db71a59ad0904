#include "commands.h"

#include "documents/releasesignature.h"

ExitCode VerifySignature(const QString &publicKeyText, const QString &documentPath)
{
    const QByteArray publicKey = DecodePublicKey(publicKeyText.toUtf8());
    if (publicKey.isEmpty()) {
        ReportError(QStringLiteral("PUBLIC_KEY is not the base64 of 32 bytes: ") + publicKeyText);
        return BadInput;
    }
    QByteArray document;
    QByteArray signatureFile;
    if (!ReadWholeFile(documentPath, &document)
        || !ReadWholeFile(documentPath + QStringLiteral(".sig"), &signatureFile))
        return BadInput;
    const QString problem = SignatureProblem(document, signatureFile, publicKey);
    if (!problem.isEmpty()) {
        ReportError(documentPath + QStringLiteral(".sig: ") + problem);
        return SignatureFails;
    }
    return Success;
}

#include "commands.h"

#include "documents/releasesignature.h"

#include <QSaveFile>

ExitCode SignDocuments(const QString &secretPath, const QStringList &documentPaths)
{
    QByteArray secretKeyFile;
    if (!ReadWholeFile(secretPath, &secretKeyFile))
        return BadInput;
    const QByteArray secretKey = DecodeSecretKey(secretKeyFile);
    if (secretKey.isEmpty()) {
        ReportError(secretPath + QStringLiteral(": not a secret key of make-manifest --keygen"));
        return BadInput;
    }

    // Each document is signed on its own: one that cannot be read keeps no other from its signature.
    ExitCode result = Success;
    for (const QString &documentPath : documentPaths) {
        QByteArray document;
        if (!ReadWholeFile(documentPath, &document)) {
            result = BadInput;
            continue;
        }
        const QByteArray signatureFile = SignatureFile(document, secretKey);
        const QString signaturePath = documentPath + QStringLiteral(".sig");
        QSaveFile out(signaturePath);
        if (!out.open(QIODevice::WriteOnly) || out.write(signatureFile) != signatureFile.size()
            || !out.commit()) {
            ReportError(QStringLiteral("cannot write %1: %2").arg(signaturePath, out.errorString()));
            result = BadInput;
        }
    }
    return result;
}

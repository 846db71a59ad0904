#ifndef RELEASESIGNATURE_H
#define RELEASESIGNATURE_H

#include <QByteArray>
#include <QString>

#include <optional>

// Ed25519 signatures of the release documents, which arrive over plain HTTP. The publisher signs
// each document with make-manifest (tools/publishing/signingkeys.h), and the server serves its
// signature file beside it (DocumentFiles::releaseNotesSignature, DocumentFiles::manifestSignature):
// the base64 of the 64-byte detached signature over the document's exact bytes, and a newline. The
// updater checks it with the public key that its build compiles in (UpdaterConfig::publicKey). Safe
// to call from any thread.

// A key read from its base64: the key, or why the text is not one.
struct DecodedKey
{
    QByteArray key;
    std::optional<QString> problem;
};

// The 32-byte public key whose base64 is text, white space around it ignored.
[[nodiscard]] DecodedKey DecodePublicKey(const QByteArray &text);

// Why signatureFile does not prove that document was signed with the secret key of publicKey, for a
// log line such as "Cannot use GameManifest.xml: <reason>", if it does not. White space around the
// base64 in signatureFile is ignored.
[[nodiscard]] std::optional<QString> SignatureProblem(const QByteArray &document,
                                                      const QByteArray &signatureFile,
                                                      const QByteArray &publicKey);

#endif // RELEASESIGNATURE_H

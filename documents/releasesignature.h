#ifndef RELEASESIGNATURE_H
#define RELEASESIGNATURE_H

#include <QByteArray>
#include <QString>

#include <optional>

// Ed25519 signatures of the release documents, which arrive over plain HTTP. The publisher signs
// each document with make-manifest, and the server serves its signature file beside it
// (DocumentFiles::releaseNotesSignature, DocumentFiles::manifestSignature): the base64 of the
// 64-byte detached signature over the document's exact bytes, and a newline. The updater checks it
// with the public key that its build compiles in (UpdaterConfig::publicKey). Safe to call from any
// thread.

// The 32-byte public key whose base64 is text, white space around it ignored; empty if text is not
// that.
QByteArray DecodePublicKey(const QByteArray &text);

// Why signatureFile does not prove that document was signed with the secret key of publicKey, for a
// log line such as "Cannot use GameManifest.xml: <reason>", if it does not. White space around the
// base64 in signatureFile is ignored.
[[nodiscard]] std::optional<QString> SignatureProblem(const QByteArray &document, const QByteArray &signatureFile,
                         const QByteArray &publicKey);

// A key pair as libsodium makes it: the secret key is the 32-byte seed followed by the public key.
struct SigningKeys
{
    QByteArray publicKey;  // 32 bytes
    QByteArray secretKey;  // 64 bytes
};

// A new key pair from the system's random source; both empty if libsodium cannot start.
SigningKeys NewSigningKeys();

// The file in which the publisher keeps a secret key: its base64 and a newline.
QByteArray SecretKeyFile(const QByteArray &secretKey);

// The 64-byte secret key that secretKeyFile holds, white space around it ignored; empty if it holds
// none, or one whose public half does not belong to its seed (a damaged file would otherwise sign
// documents that no updater accepts), or if libsodium cannot start.
QByteArray DecodeSecretKey(const QByteArray &secretKeyFile);

// The signature file of document with secretKey (as DecodeSecretKey gives it); empty if secretKey is
// not 64 bytes or libsodium cannot start.
QByteArray SignatureFile(const QByteArray &document, const QByteArray &secretKey);

#endif // RELEASESIGNATURE_H

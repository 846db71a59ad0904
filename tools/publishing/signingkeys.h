#ifndef SIGNINGKEYS_H
#define SIGNINGKEYS_H

#include "documents/release/releasesignature.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The publisher's keys and signatures (documents/release/releasesignature.h says what an updater
// checks).

// A key pair as libsodium makes it: the secret key is the 32-byte seed followed by the public key.
struct SigningKeys
{
    QByteArray publicKey;  // 32 bytes
    QByteArray secretKey;  // 64 bytes
    std::optional<QString> problem;  // why there are none
};

// A new key pair from the system's random source.
[[nodiscard]] SigningKeys NewSigningKeys();

// The file in which the publisher keeps a secret key: its base64 and a newline.
QByteArray SecretKeyFile(const QByteArray &secretKey);

// The 64-byte secret key that secretKeyFile holds, white space around it ignored. A key whose public
// half does not belong to its seed is refused: a damaged file would sign documents that no updater
// accepts.
[[nodiscard]] DecodedKey DecodeSecretKey(const QByteArray &secretKeyFile);

// The signature file of a document.
struct SignatureFileResult
{
    QByteArray content;
    std::optional<QString> problem;  // why there is none
};

// The signature file of document with secretKey (as DecodeSecretKey gives it).
[[nodiscard]] SignatureFileResult SignatureFile(const QByteArray &document,
                                                const QByteArray &secretKey);

#endif // SIGNINGKEYS_H

#include "releasesignature.h"

#include "documents/release/sodiumbytes.h"

#include <sodium.h>

bool SodiumReady()
{
    static const bool bReady = sodium_init() >= 0;
    return bReady;
}

std::optional<QByteArray> DecodeBase64Of(const QByteArray &text, int size)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return std::nullopt;
    return decoded.decoded;
}

DecodedKey DecodePublicKey(const QByteArray &text)
{
    if (std::optional<QByteArray> key = DecodeBase64Of(text, crypto_sign_PUBLICKEYBYTES))
        return {*key, std::nullopt};
    return {QByteArray(), QStringLiteral("it is not the base64 of %1 bytes").arg(crypto_sign_PUBLICKEYBYTES)};
}

std::optional<QString> SignatureProblem(const QByteArray &document, const QByteArray &signatureFile,
                                        const QByteArray &publicKey)
{
    if (!SodiumReady())
        return QStringLiteral("libsodium cannot start");
    if (publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return QStringLiteral("the public key is not 32 bytes");
    const std::optional<QByteArray> signature = DecodeBase64Of(signatureFile, crypto_sign_BYTES);
    if (!signature)
        return QStringLiteral("the signature is not the base64 of 64 bytes");
    if (crypto_sign_verify_detached(SodiumBytes(*signature), SodiumBytes(document),
                                    size_t(document.size()), SodiumBytes(publicKey))
        != 0)
        return QStringLiteral("the signature does not match the document");
    return std::nullopt;
}

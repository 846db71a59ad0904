#include "signingkeys.h"

#include "documents/release/sodiumbytes.h"

#include <sodium.h>

namespace {

const QString sodiumFailed = QStringLiteral("libsodium cannot start");

} // namespace

SigningKeys NewSigningKeys()
{
    if (!SodiumReady())
        return {QByteArray(), QByteArray(), sodiumFailed};
    SigningKeys keys{QByteArray(crypto_sign_PUBLICKEYBYTES, '\0'),
                     QByteArray(crypto_sign_SECRETKEYBYTES, '\0'), std::nullopt};
    crypto_sign_keypair(SodiumBytes(keys.publicKey), SodiumBytes(keys.secretKey));
    return keys;
}

QByteArray SecretKeyFile(const QByteArray &secretKey)
{
    return secretKey.toBase64() + '\n';
}

DecodedKey DecodeSecretKey(const QByteArray &secretKeyFile)
{
    const std::optional<QByteArray> secretKey =
        DecodeBase64Of(secretKeyFile, crypto_sign_SECRETKEYBYTES);
    if (!secretKey)
        return {QByteArray(), QStringLiteral("it is not the base64 of %1 bytes")
                                  .arg(crypto_sign_SECRETKEYBYTES)};
    if (!SodiumReady())
        return {QByteArray(), sodiumFailed};
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray derived(crypto_sign_SECRETKEYBYTES, '\0');
    crypto_sign_seed_keypair(SodiumBytes(publicKey), SodiumBytes(derived), SodiumBytes(*secretKey));
    if (derived != *secretKey)
        return {QByteArray(), QStringLiteral("its public half does not belong to its seed")};
    return {*secretKey, std::nullopt};
}

SignatureFileResult SignatureFile(const QByteArray &document, const QByteArray &secretKey)
{
    if (!SodiumReady())
        return {QByteArray(), sodiumFailed};
    if (secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return {QByteArray(), QStringLiteral("the secret key is not %1 bytes")
                                  .arg(crypto_sign_SECRETKEYBYTES)};
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(SodiumBytes(signature), nullptr, SodiumBytes(document),
                         size_t(document.size()), SodiumBytes(secretKey));
    return {signature.toBase64() + '\n', std::nullopt};
}

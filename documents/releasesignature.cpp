#include "releasesignature.h"

#include <sodium.h>

namespace {

// The updater checks on its worker thread, so the first call may come from any thread; a
// function-local static runs sodium_init() once whichever it is.
bool sodiumReady()
{
    static const bool bReady = sodium_init() >= 0;
    return bReady;
}

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

unsigned char *bytes(QByteArray &data)
{
    return reinterpret_cast<unsigned char *>(data.data());
}

// The size bytes whose base64 is text, white space around it ignored; empty if text is not that.
QByteArray decodeBase64Of(const QByteArray &text, int size)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == size ? decoded.decoded : QByteArray();
}

} // namespace

QByteArray DecodePublicKey(const QByteArray &text)
{
    return decodeBase64Of(text, crypto_sign_PUBLICKEYBYTES);
}

std::optional<QString> SignatureProblem(const QByteArray &document, const QByteArray &signatureFile,
                         const QByteArray &publicKey)
{
    if (!sodiumReady())
        return QStringLiteral("libsodium cannot start");
    if (publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return QStringLiteral("the public key is not 32 bytes");
    const QByteArray signature = decodeBase64Of(signatureFile, crypto_sign_BYTES);
    if (signature.isEmpty())
        return QStringLiteral("the signature is not the base64 of 64 bytes");
    if (crypto_sign_verify_detached(bytes(signature), bytes(document), size_t(document.size()),
                                    bytes(publicKey))
        != 0)
        return QStringLiteral("the signature does not match the document");
    return std::nullopt;
}

SigningKeys NewSigningKeys()
{
    if (!sodiumReady())
        return {};
    SigningKeys keys{QByteArray(crypto_sign_PUBLICKEYBYTES, '\0'),
                     QByteArray(crypto_sign_SECRETKEYBYTES, '\0')};
    crypto_sign_keypair(bytes(keys.publicKey), bytes(keys.secretKey));
    return keys;
}

QByteArray SecretKeyFile(const QByteArray &secretKey)
{
    return secretKey.toBase64() + '\n';
}

QByteArray DecodeSecretKey(const QByteArray &secretKeyFile)
{
    const QByteArray secretKey = decodeBase64Of(secretKeyFile, crypto_sign_SECRETKEYBYTES);
    if (secretKey.isEmpty() || !sodiumReady())
        return QByteArray();
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
    QByteArray derived(crypto_sign_SECRETKEYBYTES, '\0');
    crypto_sign_seed_keypair(bytes(publicKey), bytes(derived), bytes(secretKey));
    return derived == secretKey ? secretKey : QByteArray();
}

QByteArray SignatureFile(const QByteArray &document, const QByteArray &secretKey)
{
    if (!sodiumReady() || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return QByteArray();
    QByteArray signature(crypto_sign_BYTES, '\0');
    crypto_sign_detached(bytes(signature), nullptr, bytes(document), size_t(document.size()),
                         bytes(secretKey));
    return signature.toBase64() + '\n';
}

#ifndef SODIUMBYTES_H
#define SODIUMBYTES_H

#include <QByteArray>

#include <optional>

// What the signatures' code shares on both sides, the updater's checks and the publisher's signing:
// libsodium started once, and the byte arrays it takes.

// Whether libsodium could start. The first call may come from any thread (the updater checks on its
// worker thread); it runs sodium_init() once whichever it is.
bool SodiumReady();

inline const unsigned char *SodiumBytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

inline unsigned char *SodiumBytes(QByteArray &data)
{
    return reinterpret_cast<unsigned char *>(data.data());
}

// The size bytes whose base64 is text, white space around it ignored; nothing if text is not that.
std::optional<QByteArray> DecodeBase64Of(const QByteArray &text, int size);

#endif // SODIUMBYTES_H

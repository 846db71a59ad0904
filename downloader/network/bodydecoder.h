#ifndef BODYDECODER_H
#define BODYDECODER_H

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct z_stream_s;

// Decodes a body that the server sent gzip- or deflate-encoded (as object stores and CDNs do with
// files that they keep encoded, whatever the request asks for), as it arrives and in pieces of a
// bounded size: what a few bytes inflate to is never held whole, so a bomb stops where its
// reader's bound is.
class BodyDecoder
{
public:
    // What a Content-Encoding header asks for: nothing (none, or identity), a decoder, or an
    // encoding that the updater cannot read.
    struct Choice
    {
        std::unique_ptr<BodyDecoder> decoder;
        std::optional<QString> problem;
    };
    static Choice ForEncoding(const QByteArray &contentEncoding);

    ~BodyDecoder();
    BodyDecoder(const BodyDecoder &) = delete;
    BodyDecoder &operator=(const BodyDecoder &) = delete;

    // Takes the next encoded bytes of the body.
    void Feed(const QByteArray &encoded);
    // Decodes into piece at most maxBytes of what was fed; piece is empty once the decoder needs
    // more. The problem when the bytes are no stream of the encoding.
    [[nodiscard]] std::optional<QString> DecodeProblem(QByteArray *piece, int maxBytes);
    // Whether the stream has come to its end, with nothing after it.
    bool IsComplete() const;

private:
    enum class Format { Gzip, Deflate };
    explicit BodyDecoder(Format format);
    // Deflate is a zlib stream, but some servers send the raw one: its first two bytes tell.
    [[nodiscard]] std::optional<QString> StartProblem();

    const Format format;
    std::unique_ptr<z_stream_s> stream;
    bool bStarted = false;
    bool bEnded = false;
    QByteArray input;      // fed and not yet decoded, from inputStart on
    int inputStart = 0;
};

#endif // BODYDECODER_H

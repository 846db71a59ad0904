#include "bodydecoder.h"

#include <zlib.h>

namespace {

// zlib's window bits: the largest window, read with either header (gzip or zlib), or with none.
constexpr int anyHeaderWindowBits = 15 + 32;
constexpr int rawWindowBits = -15;

bool IsZlibHeader(unsigned char first, unsigned char second)
{
    return (first & 0x0f) == Z_DEFLATED && (first * 256 + second) % 31 == 0;
}

QString StreamProblem(const z_stream &stream, int status)
{
    return stream.msg ? QString::fromLatin1(stream.msg)
                      : QStringLiteral("zlib status %1").arg(status);
}

} // namespace

BodyDecoder::Choice BodyDecoder::ForEncoding(const QByteArray &contentEncoding)
{
    const QByteArray encoding = contentEncoding.trimmed().toLower();
    if (encoding.isEmpty() || encoding == "identity")
        return {};
    if (encoding == "gzip" || encoding == "x-gzip")
        return {std::unique_ptr<BodyDecoder>(new BodyDecoder(Format::Gzip)), std::nullopt};
    if (encoding == "deflate")
        return {std::unique_ptr<BodyDecoder>(new BodyDecoder(Format::Deflate)), std::nullopt};
    return {nullptr, QStringLiteral("it came in an encoding that the updater cannot read: %1")
                         .arg(QString::fromLatin1(contentEncoding.trimmed()))};
}

BodyDecoder::BodyDecoder(Format format)
    : format(format)
    , stream(std::make_unique<z_stream>())
{
}

BodyDecoder::~BodyDecoder()
{
    if (bStarted)
        inflateEnd(stream.get());
}

void BodyDecoder::Feed(const QByteArray &encoded)
{
    if (inputStart == input.size()) {
        input = encoded;
        inputStart = 0;
    } else {
        input.remove(0, inputStart);
        inputStart = 0;
        input += encoded;
    }
}

std::optional<QString> BodyDecoder::StartProblem()
{
    const bool bRaw = format == Format::Deflate
                      && !IsZlibHeader(static_cast<unsigned char>(input.at(inputStart)),
                                       static_cast<unsigned char>(input.at(inputStart + 1)));
    const int status = inflateInit2(stream.get(), bRaw ? rawWindowBits : anyHeaderWindowBits);
    if (status != Z_OK)
        return StreamProblem(*stream, status);
    bStarted = true;
    return std::nullopt;
}

std::optional<QString> BodyDecoder::DecodeProblem(QByteArray *piece, int maxBytes)
{
    piece->clear();
    const int available = input.size() - inputStart;
    // Whether a deflate body has a zlib header is known from two bytes.
    if (!bStarted && available < 2)
        return std::nullopt;
    if (!bStarted) {
        if (const std::optional<QString> problem = StartProblem())
            return problem;
    }
    if (bEnded) {
        // Another member may follow a gzip member; anything else must not.
        if (available == 0)
            return std::nullopt;
        if (format != Format::Gzip)
            return QStringLiteral("data follows the end of its stream");
        inflateReset(stream.get());
        bEnded = false;
    }
    piece->resize(maxBytes);
    stream->next_in = reinterpret_cast<Bytef *>(input.data() + inputStart);
    stream->avail_in = static_cast<uInt>(available);
    stream->next_out = reinterpret_cast<Bytef *>(piece->data());
    stream->avail_out = static_cast<uInt>(maxBytes);
    const int status = inflate(stream.get(), Z_NO_FLUSH);
    inputStart += available - static_cast<int>(stream->avail_in);
    piece->resize(maxBytes - static_cast<int>(stream->avail_out));
    switch (status) {
    case Z_STREAM_END:
        bEnded = true;
        return std::nullopt;
    case Z_OK:
    case Z_BUF_ERROR:  // nothing more can be done with what was fed
        return std::nullopt;
    default:
        piece->clear();
        return StreamProblem(*stream, status);
    }
}

bool BodyDecoder::IsComplete() const
{
    return bEnded && inputStart == input.size();
}

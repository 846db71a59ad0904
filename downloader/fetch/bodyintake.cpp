#include "bodyintake.h"

namespace {

// Bytes decoded before the worker's other events run: a few bytes of an encoded body may inflate to
// gigabytes, which must not keep the window waiting for the worker when it closes.
constexpr qint64 decodedAtOnce = 8 * 1024 * 1024;

// The most bytes that the encoding of a file of limit bytes takes: deflate adds a few bytes per
// block of incompressible data, and the headers a few more.
qint64 EncodedLimit(qint64 limit)
{
    return limit + limit / 64 + 64 * 1024;
}

} // namespace

BodyIntake::BodyIntake(const FetchPolicy &policy, FetchSink *sink, int sliceBytes,
                       std::function<void()> partWritten)
    : policy(policy)
    , sink(sink)
    , sliceBytes(sliceBytes)
    , partWritten(std::move(partWritten))
{
}

void BodyIntake::Begin(bool bIsFile, std::unique_ptr<BodyDecoder> bodyDecoder)
{
    bFile = bIsFile;
    decoder = std::move(bodyDecoder);
    bDecodeQueued = false;
    encodedBytes = 0;
    discardedBytes = 0;
}

std::optional<FetchResult> BodyIntake::Take(const QByteArray &data)
{
    if (bFile)
        return decoder ? Decode(data) : Stage(data);
    // An error page is never kept, and never read without end either.
    discardedBytes += data.size();
    if (discardedBytes <= policy.errorPageBytes)
        return std::nullopt;
    if (policy.IsRange()) {
        return FetchResult::Unusable(QStringLiteral("the server's error page runs past %1 bytes")
                                         .arg(policy.errorPageBytes));
    }
    return FetchResult::Refused(
        QStringLiteral("Refused %1: the server's error page runs past %2 bytes")
            .arg(policy.path)
            .arg(policy.errorPageBytes));
}

std::optional<FetchResult> BodyIntake::DecodeQueued()
{
    bDecodeQueued = false;
    return DecodeSome();
}

std::optional<FetchResult> BodyIntake::Decode(const QByteArray &encoded)
{
    encodedBytes += encoded.size();
    if (policy.limit >= 0 && encodedBytes > EncodedLimit(policy.limit)) {
        return FetchResult::Refused(
            QStringLiteral("Refused %1: the server sent more than %2 encoded bytes for the %3 it "
                           "may bring")
                .arg(policy.path)
                .arg(EncodedLimit(policy.limit))
                .arg(policy.limit));
    }
    decoder->Feed(encoded);
    return DecodeSome();
}

std::optional<FetchResult> BodyIntake::DecodeSome()
{
    for (qint64 decoded = 0; decoded < decodedAtOnce;) {
        QByteArray piece;
        if (const std::optional<QString> problem = decoder->DecodeProblem(&piece, sliceBytes)) {
            return FetchResult::Refused(
                QStringLiteral("Refused %1: its encoded body does not decode: %2")
                    .arg(policy.path, *problem));
        }
        if (piece.isEmpty())
            return std::nullopt;
        decoded += piece.size();
        if (std::optional<FetchResult> end = Stage(piece))
            return end;
    }
    bDecodeQueued = true;
    return std::nullopt;
}

std::optional<FetchResult> BodyIntake::Stage(const QByteArray &data)
{
    if (policy.range && sink->HeldBytes() + data.size() > policy.range->size()) {
        return FetchResult::Unusable(
            QStringLiteral("the server sent more than the %1 bytes of a range")
                .arg(policy.range->size()));
    }
    if (const std::optional<QString> problem = sink->WriteProblem(data))
        return FetchResult::Failed(problem);
    heldAtMost = qMax(heldAtMost, sink->HeldBytes());
    uncountedBytes += data.size();
    takenBytes += data.size();
    partWritten();
    if (policy.limit >= 0 && sink->HeldBytes() > policy.limit) {
        return FetchResult::Refused(QStringLiteral("Refused %1: the server sent more than the %2 "
                                                   "bytes it may bring")
                                        .arg(policy.path)
                                        .arg(policy.limit));
    }
    return std::nullopt;
}

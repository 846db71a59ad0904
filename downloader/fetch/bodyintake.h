#ifndef BODYINTAKE_H
#define BODYINTAKE_H

#include "downloader/fetch/fetchpolicy.h"
#include "downloader/network/bodydecoder.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>

// What arrives of one answer's body on its way to the fetch's sink: a file's body decoded where it
// came encoded, a bounded slice at a time, checked against what it may bring, and counted; an error
// page counted and dropped. Reset for each attempt.
class BodyIntake
{
public:
    // partWritten is called after each write to the sink.
    BodyIntake(const FetchPolicy &policy, FetchSink *sink, int sliceBytes,
               std::function<void()> partWritten);

    // A new answer: a file's body (through decoder, if it came encoded) or an error page.
    void Begin(bool bFile, std::unique_ptr<BodyDecoder> decoder);
    // Takes the next bytes of the reply; the end that they make, if any.
    [[nodiscard]] std::optional<FetchResult> Take(const QByteArray &data);
    // The decoder held more than a few bytes inflate to at once: the rest, after the worker's other
    // events. Take must wait until it is given.
    bool IsDecodeQueued() const { return bDecodeQueued; }
    [[nodiscard]] std::optional<FetchResult> DecodeQueued();
    bool IsDecoding() const { return decoder != nullptr; }
    // The encoded body ended before its stream did.
    bool IsCutShort() const { return decoder && !decoder->IsComplete(); }
    qint64 DiscardedBytes() const { return discardedBytes; }

    // Counts over every answer.
    qint64 TakeUncountedBytes() { return std::exchange(uncountedBytes, 0); }
    qint64 TakenBytes() const { return takenBytes; }
    // The most bytes that the sink has held at once.
    qint64 HeldAtMost() const { return heldAtMost; }

private:
    [[nodiscard]] std::optional<FetchResult> Decode(const QByteArray &encoded);
    [[nodiscard]] std::optional<FetchResult> DecodeSome();
    [[nodiscard]] std::optional<FetchResult> Stage(const QByteArray &data);

    const FetchPolicy &policy;
    FetchSink *const sink;
    const int sliceBytes;
    const std::function<void()> partWritten;
    bool bFile = false;
    std::unique_ptr<BodyDecoder> decoder;
    bool bDecodeQueued = false;
    qint64 encodedBytes = 0;
    qint64 discardedBytes = 0;
    qint64 uncountedBytes = 0;
    qint64 takenBytes = 0;
    qint64 heldAtMost = 0;
};

#endif // BODYINTAKE_H

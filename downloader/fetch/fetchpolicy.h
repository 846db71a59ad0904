#ifndef FETCHPOLICY_H
#define FETCHPOLICY_H

#include "documents/patch/patchplan.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What a Fetch asks for and how it treats the answer. A whole file is asked for from the first byte
// that its sink lacks (with If-Range, so that a file that changed arrives whole), may come encoded,
// and falls back to the first byte when a range is answered wrongly. A range is asked for exactly;
// any answer that is not that range leaves the fetch unusable, and the job that asked for it decides
// what to do instead.
struct FetchPolicy
{
    // The file below the release, as it is asked for and as the log names it.
    QString path;
    // Exactly these bytes; none for the whole file.
    std::optional<ByteRange> range;
    // Whole file: the most bytes that it may bring, or -1 for no bound.
    qint64 limit = -1;
    // Whole file: its digest tells whether bytes held from before belong to it, without a validator.
    bool bDigestVouches = false;
    // Whole file: the server's ETag or Last-Modified of an earlier answer, for If-Range.
    QByteArray validator;
    // The most bytes of an error page that are read before the fetch gives up on it.
    qint64 errorPageBytes = 0;
    // Attempts in a row without new data before the fetch gives up: after stalls, cuts, short
    // answers.
    int attempts = 3;
    // Whether the Downloader's log hears of each of its replies' ends ("Downloader::FileFinished").
    bool bNamedInLog = false;
    // Whether the server itself must answer, not a cache between: for what no digest vouches for,
    // and for a file whose copy from a cache was not the file the manifest lists.
    bool bPastCaches = false;

    bool IsRange() const { return range.has_value(); }
};

// Where a Fetch hands the body's bytes: the staging file of a whole file, or the memory that holds a
// range until the file's writer takes it.
class FetchSink
{
public:
    virtual ~FetchSink() = default;
    // The bytes of the answer held already: the next attempt asks for the rest.
    virtual qint64 HeldBytes() const = 0;
    // The answer brings the file from its first byte: what is held goes.
    virtual void Restart() = 0;
    // The body of a whole file begins at its first byte, with the server's validator for it.
    virtual void Begins(const QByteArray &validator) = 0;
    // Takes the next bytes; why they could not be kept, which ends the fetch.
    [[nodiscard]] virtual std::optional<QString> WriteProblem(const QByteArray &bytes) = 0;
};

// How a Fetch ended: it reports it once, when it has let go of its reply.
struct FetchResult
{
    enum class Kind {
        Complete,          // the body arrived whole, and its sink holds it
        Refused,           // what arrived cannot be what was asked for
        Failed,            // it did not arrive
        PasswordRequired,  // the server wants a password first
        Unusable,          // a range that the server does not answer as asked
    };

    Kind kind = Kind::Failed;
    // Why, for the log; none where the network error that ended it said so. Unusable: the reason
    // alone, which the job words.
    std::optional<QString> problem;
    // The answer came on a connection with requests in a row before their answers, so it may well
    // have been another request's.
    bool bPipelined = false;

    static FetchResult Complete(bool bPipelined = false)
    {
        return {Kind::Complete, std::nullopt, bPipelined};
    }
    static FetchResult Refused(const QString &problem) { return {Kind::Refused, problem, false}; }
    static FetchResult Failed(const std::optional<QString> &problem)
    {
        return {Kind::Failed, problem, false};
    }
    static FetchResult Unusable(const QString &reason) { return {Kind::Unusable, reason, false}; }
};

#endif // FETCHPOLICY_H
